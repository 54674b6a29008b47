#include "windows/pipe.hpp"
#include "windows/pipe_internal.hpp"

#include <cstring>
#include <vector>

namespace Windows::Pipe {

namespace {

using Sid_Bytes = std::vector<BYTE>;

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
Sid_Bytes Token_Sid(HANDLE Token, TOKEN_INFORMATION_CLASS Class) {
  alignas(TOKEN_USER) BYTE Data[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD Size = 0;
  if (!GetTokenInformation(Token, Class, Data, sizeof Data, &Size)) return {};
  // TOKEN_USER and TOKEN_OWNER both begin with the SID's address.
  return Class == TokenUser ? Copy_Of(reinterpret_cast<const TOKEN_USER *>(Data)->User.Sid)
                            : Copy_Of(reinterpret_cast<const TOKEN_OWNER *>(Data)->Owner);
}

Sid_Bytes Token_Sid_Of(HANDLE Process, TOKEN_INFORMATION_CLASS Class) {
  HANDLE Token = nullptr;
  if (!OpenProcessToken(Process, TOKEN_QUERY, &Token)) return {};
  const Object_Handle Owned(Token);
  return Token_Sid(Token, Class);
}

const Sid_Bytes &Own_User() {
  static const Sid_Bytes User = Token_Sid_Of(GetCurrentProcess(), TokenUser);
  return User;
}

// The user's default owner for new objects: for an elevated user, the
// Administrators group.
const Sid_Bytes &Own_Default_Owner() {
  static const Sid_Bytes Owner = Token_Sid_Of(GetCurrentProcess(), TokenOwner);
  return Owner;
}

// The owner of a kernel object. False when it cannot be read; true with an
// empty Owner when the object has none.
bool Owner_Of(HANDLE Object, Sid_Bytes &Owner) {
  std::vector<BYTE> Descriptor(SECURITY_DESCRIPTOR_MIN_LENGTH + SECURITY_MAX_SID_SIZE);
  DWORD Size = 0;
  while (!GetKernelObjectSecurity(Object, OWNER_SECURITY_INFORMATION, Descriptor.data(),
                                  static_cast<DWORD>(Descriptor.size()), &Size)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || Size <= Descriptor.size()) return false;
    Descriptor.resize(Size);
  }
  PSID Sid = nullptr;
  BOOL Defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(Descriptor.data(), &Sid, &Defaulted)) return false;
  Owner = Copy_Of(Sid);
  return !Sid || !Owner.empty();
}

} // namespace

namespace Internal {

void Verify_Server(const Pipe_Record &Pipe) {
  const Sid_Bytes &Own = Own_User();
  ULONG Process_Id = 0, Session = 0;
  DWORD Own_Session = 0;
  Sid_Bytes Server_User;
  if (GetNamedPipeServerProcessId(Pipe.Handle.Get(), &Process_Id)) {
    const Object_Handle Process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, Process_Id));
    if (Process) Server_User = Token_Sid_Of(Process.Get(), TokenUser);
  }
  const bool Sessions_Known = GetNamedPipeServerSessionId(Pipe.Handle.Get(), &Session) &&
                              ProcessIdToSessionId(GetCurrentProcessId(), &Own_Session);
  // Windows always names an owner; a pipe made without security attributes
  // under some other systems has none, and the other two checks decide.
  Sid_Bytes Owner;
  const bool Owner_Known = Owner_Of(Pipe.Handle.Get(), Owner);

  const char *Refusal = nullptr;
  if (Own.empty() || Server_User.empty())
    Refusal = "the server's user cannot be verified";
  else if (Server_User != Own)
    Refusal = "the server runs as another user";
  else if (!Sessions_Known || Session != Own_Session)
    Refusal = "the server runs in another session";
  else if (!Owner_Known)
    Refusal = "the pipe's owner cannot be verified";
  else if (!Owner.empty() && Owner != Own && Owner != Own_Default_Owner())
    Refusal = "the pipe belongs to another user";
  if (!Refusal) return;
  throw Foreign_Server(std::string(Refusal) + ": server process " + std::to_string(Process_Id) +
                       " of user " + Image(Server_User) + ", pipe owner " +
                       (Owner.empty() ? std::string("none") : Image(Owner)));
}

Server_Security::Server_Security() {
  const Sid_Bytes &User = Own_User();
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
