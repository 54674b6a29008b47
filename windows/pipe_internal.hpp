#pragma once

#include "windows/pipe.hpp"

// Shared by the transport's own sources only.
namespace Windows::Pipe::Internal {

enum class Cancel_Result { Completed, Cancelled, Failed, Kept };

// Ends an outstanding overlapped operation and waits, a few seconds at most,
// until the system has let go of its block and buffer. An operation that
// finished on its own, even just before the cancel, gives its own result:
// Completed (Count set) or Failed (Code set). Cancelled when the cancel ended
// it; Kept when the system holds on to it still: its memory must then never
// be freed.
Cancel_Result Cancel(Pipe_Record &Pipe, Overlapped_Operation &Operation, DWORD &Count, DWORD &Code);

} // namespace Windows::Pipe::Internal
