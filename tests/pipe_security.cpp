// A server end's pipe belongs to its user and is open to nobody else.
#include "windows/pipe.hpp"
#include "windows/pipe_internal.hpp"

#include "pipe_support.hpp"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

namespace {

std::string Text_Of(PSID Sid) {
  char *Text = nullptr;
  if (!Sid || !ConvertSidToStringSidA(Sid, &Text)) return "(none)";
  std::string Result(Text);
  LocalFree(Text);
  return Result;
}

std::string Own_User() {
  HANDLE Token = nullptr;
  EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &Token));
  alignas(TOKEN_USER) BYTE Data[256];
  DWORD Size = 0;
  EXPECT_TRUE(GetTokenInformation(Token, TokenUser, Data, sizeof Data, &Size));
  CloseHandle(Token);
  return Text_Of(reinterpret_cast<TOKEN_USER *>(Data)->User.Sid);
}

} // namespace

TEST(Pipe_Security, AServerEndIsOwnedByItsUserAndOpenToItAndTheSystemOnly) {
  using namespace Windows::Pipe;
  Pipe_Handle Pipe = New_Server_Record(Test_Support::Unique_Pipe_Name(), Pipe_Mode::Duplex, 100,
                                       Duration::From_Seconds(1), nullptr);
  Create_Server(*Pipe);
  PSID Owner = nullptr;
  PACL Dacl = nullptr;
  PSECURITY_DESCRIPTOR Descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(Pipe->Handle.Get(), SE_KERNEL_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &Owner, nullptr,
                            &Dacl, nullptr, &Descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  const std::string User = Own_User();
  EXPECT_EQ(Text_Of(Owner), User);
  ASSERT_NE(Dacl, nullptr);
  std::vector<std::string> Granted;
  for (DWORD I = 0; I < Dacl->AceCount; ++I) {
    void *Ace = nullptr;
    ASSERT_TRUE(GetAce(Dacl, I, &Ace));
    const auto *const Allowed = static_cast<ACCESS_ALLOWED_ACE *>(Ace);
    ASSERT_EQ(Allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(Allowed->Mask & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS));
    Granted.push_back(Text_Of(const_cast<DWORD *>(&Allowed->SidStart)));
  }
  EXPECT_EQ(Granted, (std::vector<std::string>{User, "S-1-5-18"}));
  LocalFree(Descriptor);
}

TEST(Pipe_Security, AClientEndRefusesAPipeLabelledBelowItsLevel) {
  // The user's pipe, labelled low as a low-integrity process's pipe is.
  using namespace Windows::Pipe;
  PSECURITY_DESCRIPTOR Descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
      ("O:" + Own_User() + "D:(A;;GA;;;WD)S:(ML;;NW;;;LW)").c_str(), SDDL_REVISION_1, &Descriptor,
      nullptr));
  SECURITY_ATTRIBUTES Attributes{sizeof Attributes, Descriptor, FALSE};
  const std::string Name = Test_Support::Unique_Pipe_Name();
  const Windows::File_Handle Server(CreateNamedPipeA(
      Full_Name(Name).c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, 1, 100, 100, 0, &Attributes));
  LocalFree(Descriptor);
  ASSERT_TRUE(Server.Valid());
  Pipe_Handle Pipe;
  try {
    Open(Pipe, Name, Pipe_Kind::Client_End, Pipe_Mode::Duplex, 100);
    ADD_FAILURE() << "opened";
  } catch (const Foreign_Server &Refused) {
    EXPECT_NE(Refused.reason().find("label 0x1000"), std::string::npos) << Refused.reason();
  }
}

TEST(Pipe_Security, AServerBelowTheClientsLevelOrBoxedInIsRefused) {
  using namespace Windows::Pipe::Internal;
  const Sid_Bytes User{1, 1, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0};
  Server_Facts Facts;
  Facts.Own = {User, 0x2000, Token_Answer::No, Token_Answer::No};
  Facts.Server = Facts.Own;
  Facts.Own_Session = Facts.Server_Session = 1;
  Facts.Security_Known = true;
  Facts.Owner = User;
  const auto Refused = [&](auto Change) {
    Server_Facts Changed = Facts;
    Change(Changed);
    return Refusal(Changed);
  };
  EXPECT_EQ(Refusal(Facts), "") << "equal level";
  EXPECT_EQ(Refused([](Server_Facts &F) { F.Server.Integrity_Level = 0x3000; }), "");
  EXPECT_NE(Refused([](Server_Facts &F) {
              F.Server.Integrity_Level = 0x1000;
            }).find("lower integrity level"),
            std::string::npos);
  EXPECT_NE(Refused([](Server_Facts &F) { F.Server.Integrity_Level.reset(); }), "");
  EXPECT_NE(Refused([](Server_Facts &F) { F.Label = 0x1000; }).find("label"), std::string::npos);
  EXPECT_EQ(Refused([](Server_Facts &F) { F.Label = 0x2000; }), "");
  EXPECT_NE(Refused([](Server_Facts &F) {
              F.Server.App_Container = Token_Answer::Yes;
            }).find("AppContainer"),
            std::string::npos);
  EXPECT_NE(
      Refused([](Server_Facts &F) { F.Server.Restricted = Token_Answer::Yes; }).find("restricted"),
      std::string::npos);
  EXPECT_NE(Refused([](Server_Facts &F) { F.Server.Restricted = Token_Answer::Unknown; }), "");
  // A question the system does not know refuses only when it knows it of us.
  EXPECT_NE(Refused([](Server_Facts &F) { F.Server.Restricted = Token_Answer::Unimplemented; }),
            "");
  EXPECT_EQ(Refused([](Server_Facts &F) {
              F.Own.Restricted = F.Server.Restricted = Token_Answer::Unimplemented;
            }),
            "");
}
