#pragma once

#include "windows/pipe.hpp"

// Shared by the transport's own sources only.
namespace Windows::Pipe::Internal {

enum class Cancel_Result { Completed, Cancelled, Failed, Kept };

// Cancels an outstanding overlapped operation and waits, a few seconds at
// most, until the system has let go of its block and buffer. Completed (Count
// set) when it finished first; Failed (Code set) when it ended in an error of
// its own; Kept when the system holds on to it still: its memory must then
// never be freed.
Cancel_Result Cancel(Pipe_Record &Pipe, OVERLAPPED &Block, DWORD &Count, DWORD &Code);

} // namespace Windows::Pipe::Internal
