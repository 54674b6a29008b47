#pragma once

#include "windows/pipe.hpp"

#include <vector>

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

// A client end talks only to a server of its own user in its own session, on
// a pipe that user owns: whoever creates the name first gets every client
// of the machine. FOREIGN_SERVER, naming what was found, for anything else,
// also for what cannot be verified.
void Verify_Server(const Pipe_Record &Pipe);

// The security of a server end: owned by the user, open to the user and the
// system alone.
class Server_Security {
public:
  Server_Security();
  Server_Security(const Server_Security &) = delete;
  Server_Security &operator=(const Server_Security &) = delete;
  SECURITY_ATTRIBUTES *Attributes() { return &Attributes_; }

private:
  std::vector<BYTE> User_, Acl_;
  SECURITY_DESCRIPTOR Descriptor_{};
  SECURITY_ATTRIBUTES Attributes_{};
};

} // namespace Windows::Pipe::Internal
