#include "windows/pipe.hpp"
#include "windows/pipe_internal.hpp"

#include "text/unsigned.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace Windows::Pipe {

namespace {

using Internal::Sid_Bytes;
using Internal::Token_Answer;
using Internal::Token_Facts;

Sid_Bytes Copy_Of(PSID Sid) {
  if (!Sid || !IsValidSid(Sid)) return {};
  const auto *const Bytes = static_cast<const BYTE *>(Sid);
  return Sid_Bytes(Bytes, Bytes + GetLengthSid(Sid));
}

// The usual text of a SID, "S-1-5-21-...", for the log.
std::string Image(const Sid_Bytes &Sid) {
  if (Sid.size() < 8) return "unknown";
  std::uint64_t Authority = 0;
  for (int I = 2; I < 8; ++I)
    Authority = Authority << 8 | Sid[static_cast<std::size_t>(I)];
  std::string Text = "S-" + std::to_string(Sid[0]) + "-" + std::to_string(Authority);
  for (std::size_t At = 8; At + 4 <= Sid.size(); At += 4) {
    std::uint32_t Part = 0;
    std::memcpy(&Part, Sid.data() + At, sizeof Part);
    Text += "-" + std::to_string(Part);
  }
  return Text;
}

// What a token tells of Class, read in one call for the SID-sized answers
// asked for here: the check runs at every query.
bool Token_Data(HANDLE Token, TOKEN_INFORMATION_CLASS Class, void *Data, DWORD Size) {
  DWORD Used = 0;
  return GetTokenInformation(Token, Class, Data, Size, &Used) == TRUE;
}

Sid_Bytes Token_Sid(HANDLE Token, TOKEN_INFORMATION_CLASS Class) {
  alignas(TOKEN_USER) BYTE Data[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  if (!Token_Data(Token, Class, Data, sizeof Data)) return {};
  // TOKEN_USER, TOKEN_OWNER and TOKEN_MANDATORY_LABEL all begin with the
  // SID's address.
  return Copy_Of(*reinterpret_cast<PSID *>(Data));
}

// What a failed question tells, by its error code.
Token_Answer Failed_Answer(DWORD Error) {
  switch (Error) {
  case ERROR_INVALID_FUNCTION: // some systems (Wine) for a class they lack
  case ERROR_INVALID_PARAMETER:
  case ERROR_NOT_SUPPORTED:
    return Token_Answer::Unimplemented;
  default:
    return Token_Answer::Unknown;
  }
}

Token_Answer Token_Flag(HANDLE Token, TOKEN_INFORMATION_CLASS Class) {
  DWORD Flag = 0;
  if (Token_Data(Token, Class, &Flag, sizeof Flag))
    return Flag ? Token_Answer::Yes : Token_Answer::No;
  return Failed_Answer(GetLastError());
}

// IsTokenRestricted answers false both for "no" and for a failure, which
// only the thread's error code tells apart.
Token_Answer Restricted(HANDLE Token) {
  SetLastError(ERROR_SUCCESS);
  if (IsTokenRestricted(Token)) return Token_Answer::Yes;
  const DWORD Error = GetLastError();
  return Error == ERROR_SUCCESS ? Token_Answer::No : Failed_Answer(Error);
}

// The last sub-authority of a mandatory label's SID, S-1-16-<level>.
std::optional<DWORD> Level_Of(const Sid_Bytes &Label) {
  if (Label.size() < 12 || Label[1] == 0 || Label.size() != 8 + 4u * Label[1]) return std::nullopt;
  DWORD Level = 0;
  std::memcpy(&Level, Label.data() + Label.size() - 4, sizeof Level);
  return Level;
}

std::optional<DWORD> Integrity_Level(HANDLE Token) {
  return Level_Of(Token_Sid(Token, TokenIntegrityLevel));
}

Token_Facts Facts_Of_Token(HANDLE Token) {
  Token_Facts Facts;
  Facts.User = Token_Sid(Token, TokenUser);
  Facts.Integrity_Level = Integrity_Level(Token);
  Facts.App_Container = Token_Flag(Token, TokenIsAppContainer);
  Facts.Restricted = Restricted(Token);
  return Facts;
}

Token_Facts Facts_Of(HANDLE Process) {
  HANDLE Token = nullptr;
  if (!OpenProcessToken(Process, TOKEN_QUERY, &Token)) return {};
  const Object_Handle Owned(Token);
  return Facts_Of_Token(Token);
}

// Our own token, read through its pseudo handle: no handle to open and close.
// Read anew at each use: a client uses it once, and a cached copy would need
// a guard whose first use costs more than the reading.
Token_Facts Own_Facts() {
  return Facts_Of_Token(GetCurrentProcessToken());
}

Sid_Bytes Own_User() {
  return Token_Sid(GetCurrentProcessToken(), TokenUser);
}

// The user's default owner for new objects: for an elevated user, the
// Administrators group.
Sid_Bytes Own_Default_Owner() {
  return Token_Sid(GetCurrentProcessToken(), TokenOwner);
}

// Label := the level of the mandatory label in Acl, a label ACL; none when it
// holds none. It holds one at most; should it hold more, the lowest counts.
// False when a label cannot be read.
bool Label_In(const ACL *Acl, std::optional<DWORD> &Label) {
  constexpr std::size_t Sid_Offset = offsetof(SYSTEM_MANDATORY_LABEL_ACE, SidStart);
  for (DWORD Index = 0; Acl && Index < Acl->AceCount; ++Index) {
    void *Entry = nullptr;
    if (!GetAce(const_cast<ACL *>(Acl), Index, &Entry)) return false;
    const auto *const Ace = static_cast<const SYSTEM_MANDATORY_LABEL_ACE *>(Entry);
    if (Ace->Header.AceType != SYSTEM_MANDATORY_LABEL_ACE_TYPE) continue;
    // S-1-16-<level>: 12 bytes.
    if (Ace->Header.AceSize < Sid_Offset + 12) return false;
    const Sid_Bytes Sid = Copy_Of(const_cast<DWORD *>(&Ace->SidStart));
    const std::optional<DWORD> Level = Level_Of(Sid);
    if (!Level || Sid.size() > Ace->Header.AceSize - Sid_Offset) return false;
    Label = std::min(*Level, Label.value_or(*Level));
  }
  return true;
}

// The owner and the mandatory label of a kernel object, in one call. False
// when they cannot be read; true with an empty Owner, or no Label, when the
// object has none.
bool Security_Of(HANDLE Object, Sid_Bytes &Owner, std::optional<DWORD> &Label) {
  std::vector<BYTE> Descriptor(SECURITY_DESCRIPTOR_MIN_LENGTH + 2 * SECURITY_MAX_SID_SIZE +
                               sizeof(ACL) + sizeof(SYSTEM_MANDATORY_LABEL_ACE));
  DWORD Size = 0;
  while (!GetKernelObjectSecurity(Object, OWNER_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION,
                                  Descriptor.data(), static_cast<DWORD>(Descriptor.size()),
                                  &Size)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || Size <= Descriptor.size()) return false;
    Descriptor.resize(Size);
  }
  PSID Sid = nullptr;
  PACL Acl = nullptr;
  BOOL Defaulted = FALSE, Present = FALSE;
  if (!GetSecurityDescriptorOwner(Descriptor.data(), &Sid, &Defaulted) ||
      !GetSecurityDescriptorSacl(Descriptor.data(), &Present, &Acl, &Defaulted) ||
      !Label_In(Present ? Acl : nullptr, Label))
    return false;
  Owner = Copy_Of(Sid);
  return !Sid || !Owner.empty();
}

// A yes-or-no property that refuses the server: it holds, it cannot be
// read, or the system does not know it although it knows it of our own token.
bool Refuses(Token_Answer Server, Token_Answer Own) {
  return Server == Token_Answer::Yes || Server == Token_Answer::Unknown ||
         (Server == Token_Answer::Unimplemented && Own != Token_Answer::Unimplemented);
}

std::string Level_Image(const std::optional<DWORD> &Level) {
  if (!Level) return "unknown";
  std::string Text = "0x";
  Text += *Level <= 0xFFFF ? Unsigned::Image(static_cast<Unsigned::Unsigned_16>(*Level))
                           : Unsigned::Image(static_cast<Unsigned::Unsigned_32>(*Level));
  return Text;
}

} // namespace

namespace Internal {

std::string Refusal(const Server_Facts &Facts) {
  const Token_Facts &Own = Facts.Own, &Server = Facts.Server;
  const char *Why = nullptr;
  if (Own.User.empty() || Server.User.empty())
    Why = "the server's user cannot be verified";
  else if (Server.User != Own.User)
    Why = "the server runs as another user";
  else if (!Facts.Own_Session || !Facts.Server_Session ||
           *Facts.Own_Session != *Facts.Server_Session)
    Why = "the server runs in another session";
  else if (!Facts.Security_Known)
    Why = "the pipe's owner and label cannot be verified";
  else if (!Facts.Owner.empty() && Facts.Owner != Own.User &&
           Facts.Owner != Facts.Own_Default_Owner)
    Why = "the pipe belongs to another user";
  else if (Facts.Label && (!Own.Integrity_Level || *Facts.Label < *Own.Integrity_Level))
    Why = "the pipe's mandatory label is below our integrity level, or cannot be shown not to be";
  else if (Refuses(Server.App_Container, Own.App_Container))
    Why = "the server runs in an AppContainer, or cannot be shown not to";
  else if (Refuses(Server.Restricted, Own.Restricted))
    Why = "the server runs with a restricted token, or cannot be shown not to";
  else if (!Own.Integrity_Level || !Server.Integrity_Level ||
           *Server.Integrity_Level < *Own.Integrity_Level)
    Why = "the server runs at a lower integrity level, or cannot be shown not to";
  if (!Why) return {};
  return std::string(Why) + ": server process " + std::to_string(Facts.Server_Process_Id) +
         " of user " + Image(Server.User) + " at integrity " + Level_Image(Server.Integrity_Level) +
         " (ours " + Level_Image(Own.Integrity_Level) + "), pipe owner " +
         (Facts.Owner.empty() ? std::string("none") : Image(Facts.Owner)) + ", label " +
         (Facts.Label ? Level_Image(Facts.Label) : std::string("none"));
}

void Verify_Server(const Pipe_Record &Pipe) {
  Server_Facts Facts;
  Facts.Own = Own_Facts();
  ULONG Process_Id = 0, Session = 0;
  if (GetNamedPipeServerProcessId(Pipe.Handle.Get(), &Process_Id)) {
    Facts.Server_Process_Id = Process_Id;
    const Object_Handle Process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, Process_Id));
    if (Process) Facts.Server = Facts_Of(Process.Get());
  }
  DWORD Own_Session = 0;
  if (GetNamedPipeServerSessionId(Pipe.Handle.Get(), &Session)) Facts.Server_Session = Session;
  if (ProcessIdToSessionId(GetCurrentProcessId(), &Own_Session)) Facts.Own_Session = Own_Session;
  // Windows always names an owner; a pipe made without security attributes
  // under some other systems has none, and the other checks decide. The
  // label is what a process id that another process took over cannot
  // change: the mark of a creator below medium integrity.
  Facts.Security_Known = Security_Of(Pipe.Handle.Get(), Facts.Owner, Facts.Label);
  // Read only when the owner is not the user: it costs a call.
  if (Facts.Security_Known && !Facts.Owner.empty() && Facts.Owner != Facts.Own.User)
    Facts.Own_Default_Owner = Own_Default_Owner();
  if (std::string Why = Refusal(Facts); !Why.empty()) throw Foreign_Server(std::move(Why));
}

Server_Security::Server_Security() {
  const Sid_Bytes User = Own_User();
  if (User.empty()) throw Unknown_Error("the user's identity cannot be read");
  // S-1-5-18, the system.
  static const SID System{SID_REVISION, 1, SECURITY_NT_AUTHORITY, {SECURITY_LOCAL_SYSTEM_RID}};
  User_ = User;
  Acl_.resize(sizeof(ACL) + 2 * sizeof(ACCESS_ALLOWED_ACE) + User_.size() + sizeof System);
  auto *const Acl = reinterpret_cast<ACL *>(Acl_.data());
  // Owned by the user; only the user and the system may open it.
  if (!InitializeSecurityDescriptor(&Descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
      !InitializeAcl(Acl, static_cast<DWORD>(Acl_.size()), ACL_REVISION) ||
      !AddAccessAllowedAce(Acl, ACL_REVISION, FILE_ALL_ACCESS, User_.data()) ||
      !AddAccessAllowedAce(Acl, ACL_REVISION, FILE_ALL_ACCESS, const_cast<SID *>(&System)) ||
      !SetSecurityDescriptorOwner(&Descriptor_, User_.data(), FALSE) ||
      !SetSecurityDescriptorDacl(&Descriptor_, TRUE, Acl, FALSE))
    Raise_Error(GetLastError());
  Attributes_.nLength = sizeof Attributes_;
  Attributes_.lpSecurityDescriptor = &Descriptor_;
  Attributes_.bInheritHandle = FALSE;
}

} // namespace Internal

} // namespace Windows::Pipe
