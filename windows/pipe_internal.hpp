#pragma once

#include "windows/pipe.hpp"

#include <optional>
#include <string>
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
// a pipe that user owns and that is labelled no lower than the client, at its
// own integrity level or above, neither in an AppContainer nor restricted:
// whoever creates the name first gets every client of the machine, and a
// sandboxed process of the same user must not choose what a client of a
// higher level starts. FOREIGN_SERVER, naming what was found, for anything
// else, also for what cannot be verified.
void Verify_Server(const Pipe_Record &Pipe);

using Sid_Bytes = std::vector<BYTE>;

// A yes-or-no property of a token, as the system answered when asked.
enum class Token_Answer {
  No,
  Yes,
  Unknown,       // the question failed
  Unimplemented, // the system does not know the question
};

struct Token_Facts {
  Sid_Bytes User;                       // empty: unknown
  std::optional<DWORD> Integrity_Level; // the mandatory label's RID (0x2000: medium)
  Token_Answer App_Container = Token_Answer::Unknown;
  Token_Answer Restricted = Token_Answer::Unknown;
};

// Everything the check decides on: the client's own token and the server's,
// the two sessions, and the pipe's owner and mandatory label.
struct Server_Facts {
  Token_Facts Own, Server;
  Sid_Bytes Own_Default_Owner; // the owner of what the user creates
  std::uint32_t Server_Process_Id = 0;
  std::optional<DWORD> Own_Session, Server_Session;
  bool Security_Known = false; // owner and label could be read (either may be none)
  Sid_Bytes Owner;             // empty: the pipe has none
  // The label's level, as Integrity_Level. None: the pipe has none, which
  // Windows takes as medium and other systems (Wine) set on nothing; the
  // token checks decide then.
  std::optional<DWORD> Label;
};

// Why a server with these facts is refused, or empty when it is the user's
// own. A question the system does not know for the client's own token
// either cannot tell this system's tokens apart, and refuses nobody.
std::string Refusal(const Server_Facts &Facts);

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
