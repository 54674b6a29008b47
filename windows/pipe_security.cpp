#include "windows/pipe.hpp"
#include "windows/pipe_internal.hpp"

#include <memory>
#include <optional>
#include <vector>

// windows.h first: these rely on it.
#include <aclapi.h>
#include <sddl.h>

namespace Windows::Pipe {

namespace {

// Memory the security calls allocate for their caller.
struct Local_Free {
  void operator()(void *Memory) const noexcept { LocalFree(Memory); }
};
template <typename T> using Local_Memory = std::unique_ptr<T, Local_Free>;

using Sid_Bytes = std::vector<BYTE>;

Sid_Bytes Copy_Of(PSID Sid) {
  if (!Sid || !IsValidSid(Sid)) return {};
  const auto *const Bytes = static_cast<const BYTE *>(Sid);
  return Sid_Bytes(Bytes, Bytes + GetLengthSid(Sid));
}

std::string Image(const Sid_Bytes &Sid) {
  if (Sid.empty()) return "unknown";
  char *Text = nullptr;
  if (!ConvertSidToStringSidA(const_cast<BYTE *>(Sid.data()), &Text)) return "unreadable";
  const Local_Memory<char> Owned(Text);
  return Text;
}

std::vector<BYTE> Token_Information(HANDLE Token, TOKEN_INFORMATION_CLASS Class) {
  DWORD Size = 0;
  GetTokenInformation(Token, Class, nullptr, 0, &Size);
  std::vector<BYTE> Data(Size);
  if (Size == 0 || !GetTokenInformation(Token, Class, Data.data(), Size, &Size)) return {};
  return Data;
}

// The user of a process's token, and its default owner for new objects;
// empty where the system does not tell.
struct Token_Identity {
  Sid_Bytes User;
  Sid_Bytes Owner;
};

Token_Identity Identity_Of(HANDLE Process) {
  HANDLE Token = nullptr;
  if (!OpenProcessToken(Process, TOKEN_QUERY, &Token)) return {};
  const Object_Handle Owned(Token);
  Token_Identity Identity;
  const std::vector<BYTE> User = Token_Information(Token, TokenUser);
  if (!User.empty())
    Identity.User = Copy_Of(reinterpret_cast<const TOKEN_USER *>(User.data())->User.Sid);
  const std::vector<BYTE> Owner = Token_Information(Token, TokenOwner);
  if (!Owner.empty())
    Identity.Owner = Copy_Of(reinterpret_cast<const TOKEN_OWNER *>(Owner.data())->Owner);
  return Identity;
}

const Token_Identity &Own_Identity() {
  static const Token_Identity Identity = Identity_Of(GetCurrentProcess());
  return Identity;
}

} // namespace

namespace Internal {

void Verify_Server(const Pipe_Record &Pipe) {
  const Token_Identity &Own = Own_Identity();
  ULONG Process_Id = 0, Session = 0;
  DWORD Own_Session = 0;
  Token_Identity Server;
  if (GetNamedPipeServerProcessId(Pipe.Handle.Get(), &Process_Id)) {
    const Object_Handle Process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, Process_Id));
    if (Process) Server = Identity_Of(Process.Get());
  }
  const bool Sessions_Known = GetNamedPipeServerSessionId(Pipe.Handle.Get(), &Session) &&
                              ProcessIdToSessionId(GetCurrentProcessId(), &Own_Session);
  // Windows always names an owner; a pipe made without security attributes
  // under some other systems has none, and the other two checks decide.
  PSID Owner_Sid = nullptr;
  PSECURITY_DESCRIPTOR Descriptor = nullptr;
  const bool Owner_Known =
      GetSecurityInfo(Pipe.Handle.Get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &Owner_Sid,
                      nullptr, nullptr, nullptr, &Descriptor) == ERROR_SUCCESS;
  const Local_Memory<void> Owned_Descriptor(Descriptor);
  const Sid_Bytes Owner = Copy_Of(Owner_Sid);

  const char *Refusal = nullptr;
  if (Own.User.empty() || Server.User.empty())
    Refusal = "the server's user cannot be verified";
  else if (Server.User != Own.User)
    Refusal = "the server runs as another user";
  else if (!Sessions_Known || Session != Own_Session)
    Refusal = "the server runs in another session";
  else if (!Owner_Known || (Owner_Sid && Owner.empty()))
    Refusal = "the pipe's owner cannot be verified";
  else if (!Owner.empty() && Owner != Own.User && Owner != Own.Owner)
    Refusal = "the pipe belongs to another user";
  if (!Refusal) return;
  throw Foreign_Server(std::string(Refusal) + ": server process " + std::to_string(Process_Id) +
                       " of user " + Image(Server.User) + ", pipe owner " +
                       (Owner_Sid ? Image(Owner) : std::string("none")));
}

Server_Security::Server_Security() {
  const Sid_Bytes &User = Own_Identity().User;
  if (User.empty()) throw Unknown_Error("the user's identity cannot be read");
  const std::string Sid = Image(User);
  // Owned by the user; only the user and the system may open it.
  const std::string Text = "O:" + Sid + "D:P(A;;FA;;;" + Sid + ")(A;;FA;;;SY)";
  PSECURITY_DESCRIPTOR Made = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(Text.c_str(), SDDL_REVISION_1, &Made,
                                                            nullptr))
    Raise_Error(GetLastError());
  Descriptor_ = Made;
  Attributes_.nLength = sizeof Attributes_;
  Attributes_.lpSecurityDescriptor = Descriptor_;
  Attributes_.bInheritHandle = FALSE;
}

Server_Security::~Server_Security() {
  LocalFree(Descriptor_);
}

} // namespace Internal

} // namespace Windows::Pipe
