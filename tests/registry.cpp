#include "windows/registry.hpp"

#include "support.hpp"

#include <string>

#include <gtest/gtest.h>
#include <windows.h>

using namespace Windows::Registry;

namespace {

// A key of the test's own under both roots, removed afterwards.
class Registry_Test : public ::testing::Test {
protected:
  const std::string Path = "Software\\TezTest_" + std::to_string(GetCurrentProcessId());

  void SetUp() override { Select_Root(Root_Key::Current_User); }
  void TearDown() override {
    Select_Root(Root_Key::Current_User);
    RegDeleteTreeA(HKEY_CURRENT_USER, Path.c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, Path.c_str());
  }

  static void Set(HKEY Root, const std::string &Key, const char *Name, DWORD Type, const void *Data,
                  DWORD Size) {
    HKEY Opened;
    ASSERT_EQ(RegCreateKeyExA(Root, Key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &Opened,
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(Opened, Name, 0, Type, static_cast<const BYTE *>(Data), Size),
              ERROR_SUCCESS);
    RegCloseKey(Opened);
  }
  static void Set_String(HKEY Root, const std::string &Key, const char *Name,
                         const std::string &Value, DWORD Type = REG_SZ) {
    Set(Root, Key, Name, Type, Value.c_str(), static_cast<DWORD>(Value.size() + 1));
  }
  static void Set_Number(HKEY Root, const std::string &Key, const char *Name, DWORD Value) {
    Set(Root, Key, Name, REG_DWORD, &Value, sizeof Value);
  }
};

} // namespace

TEST_F(Registry_Test, ReadsStringsAndNumbersUnderEitherRoot) {
  if (!Test_Support::Machine_Settings_Writable())
    GTEST_SKIP() << Test_Support::Needs_Administrator("writes settings under HKEY_LOCAL_MACHINE");
  Set_String(HKEY_CURRENT_USER, Path, "Log", "C:\\user.log");
  Set_Number(HKEY_CURRENT_USER, Path, "Log Limit", 5);
  Set_String(HKEY_LOCAL_MACHINE, Path, "Log", "C:\\machine.log");
  Set_Number(HKEY_LOCAL_MACHINE, Path, "Log Limit", 0xFFFFFFFF);

  Open_Key(Path);
  EXPECT_EQ(Current_Root(), Root_Key::Current_User);
  EXPECT_EQ(Get_String("Log"), "C:\\user.log");
  EXPECT_EQ(Get_Number("Log Limit"), 5u);
  Select_Root(Root_Key::Local_Machine);
  EXPECT_EQ(Current_Root(), Root_Key::Local_Machine);
  EXPECT_THROW(Get_String("Log"), Entry_Not_Found) << "the root itself is current again";
  Open_Key(Path);
  EXPECT_EQ(Get_String("Log"), "C:\\machine.log");
  EXPECT_EQ(Get_Number("Log Limit"), 0xFFFFFFFFu);
}

TEST_F(Registry_Test, WrongTypesMissingValuesAndTheStringLimit) {
  Set_String(HKEY_CURRENT_USER, Path, "Expand", "%TEMP%", REG_EXPAND_SZ);
  Set_String(HKEY_CURRENT_USER, Path, "Text", "12");
  Set_Number(HKEY_CURRENT_USER, Path, "Number", 12);
  const unsigned long long Wide_Value = 1;
  Set(HKEY_CURRENT_USER, Path, "Qword", REG_QWORD, &Wide_Value, sizeof Wide_Value);
  Set_String(HKEY_CURRENT_USER, Path, "S249", std::string(249, 'a'));
  Set_String(HKEY_CURRENT_USER, Path, "S250", std::string(250, 'b'));
  Set(HKEY_CURRENT_USER, Path, "Empty", REG_SZ, "", 0);
  Set(HKEY_CURRENT_USER, Path, "Unterminated", REG_SZ, "abc", 3);
  Open_Key(Path);
  EXPECT_THROW(Get_String("Expand"), Wrong_Type);
  EXPECT_THROW(Get_String("Number"), Wrong_Type);
  EXPECT_THROW(Get_Number("Text"), Wrong_Type);
  EXPECT_THROW(Get_Number("Qword"), Entry_Not_Found);
  EXPECT_THROW(Get_Number("Missing"), Entry_Not_Found);
  EXPECT_THROW(Get_String("Missing"), Entry_Not_Found);
  EXPECT_EQ(Get_String("S249"), std::string(249, 'a'));
  EXPECT_THROW(Get_String("S250"), Overflow);
  EXPECT_EQ(Get_String("Empty"), "");
  EXPECT_EQ(Get_String("Unterminated"), "abc");
  // The forms that answer nothing instead of failing.
  for (const char *Failing : {"Expand", "Number", "Missing", "S250"})
    EXPECT_FALSE(Try_Get_String(Failing)) << Failing;
  EXPECT_FALSE(Try_Get_Number("Text"));
  EXPECT_FALSE(Try_Get_Number("Qword"));
  EXPECT_EQ(Try_Get_String("S249"), std::string(249, 'a'));
  EXPECT_EQ(Try_Get_Number("Number"), 12u);
}

TEST_F(Registry_Test, AFailedOpenLeavesThePreviousKeyCurrent) {
  Set_String(HKEY_CURRENT_USER, Path, "Log", "kept");
  Open_Key(Path);
  EXPECT_THROW(Open_Key(Path + "\\Missing"), Key_Not_Found);
  EXPECT_THROW(Open_Key(std::wstring(L"Software\\No\\Such\\Key")), Key_Not_Found);
  EXPECT_FALSE(Try_Open_Key(Path + "\\Missing"));
  EXPECT_EQ(Get_String("Log"), "kept");
  Open_Key("");
  EXPECT_EQ(Current_Key_Name(), L"");
  EXPECT_THROW(Get_String("Log"), Entry_Not_Found);
}

TEST_F(Registry_Test, KeyNameReopensTheSameKeyUnderEitherRoot) {
  if (!Test_Support::Machine_Settings_Writable())
    GTEST_SKIP() << Test_Support::Needs_Administrator("writes settings under HKEY_LOCAL_MACHINE");
  const std::string Nested = Path + "\\Inner\\Deeper";
  for (const HKEY Root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    SCOPED_TRACE(Root == HKEY_CURRENT_USER ? "user" : "machine");
    Select_Root(Root == HKEY_CURRENT_USER ? Root_Key::Current_User : Root_Key::Local_Machine);
    Set_String(Root, Nested, "Where", Root == HKEY_CURRENT_USER ? "user" : "machine");
    std::string Other_Case = Nested;
    for (char &C : Other_Case)
      C = static_cast<char>(tolower(static_cast<unsigned char>(C)));
    Open_Key(Other_Case);
    const std::wstring Name = Current_Key_Name();
    // The stored letter case, not the one used to open it.
    EXPECT_EQ(Name, std::wstring(Nested.begin(), Nested.end()));
    Open_Key("");
    Open_Key(Name);
    EXPECT_EQ(Get_String("Where"), Root == HKEY_CURRENT_USER ? "user" : "machine");
  }
}

TEST_F(Registry_Test, AKeyGrantingOnlyReadAccessStillOpens) {
  Set_String(HKEY_CURRENT_USER, Path, "Log", "read only");
  HKEY Key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Path.c_str(), 0, WRITE_DAC, &Key), ERROR_SUCCESS);
  SECURITY_DESCRIPTOR Descriptor;
  InitializeSecurityDescriptor(&Descriptor, SECURITY_DESCRIPTOR_REVISION);
  alignas(8) BYTE Acl_Storage[256];
  PACL Acl = reinterpret_cast<PACL>(Acl_Storage);
  InitializeAcl(Acl, sizeof Acl_Storage, ACL_REVISION);
  SID_IDENTIFIER_AUTHORITY World = SECURITY_WORLD_SID_AUTHORITY;
  PSID Everyone;
  AllocateAndInitializeSid(&World, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &Everyone);
  AddAccessAllowedAce(Acl, ACL_REVISION, KEY_READ, Everyone);
  SetSecurityDescriptorDacl(&Descriptor, TRUE, Acl, FALSE);
  ASSERT_EQ(RegSetKeySecurity(Key, DACL_SECURITY_INFORMATION, &Descriptor), ERROR_SUCCESS);
  RegCloseKey(Key);
  FreeSid(Everyone);

  HKEY Probe;
  const LSTATUS Full =
      RegOpenKeyExA(HKEY_CURRENT_USER, Path.c_str(), 0, KEY_READ | KEY_WRITE | DELETE, &Probe);
  if (Full == ERROR_SUCCESS) {
    RegCloseKey(Probe);
    GTEST_SKIP() << "this system does not enforce the key's access list";
  }
  ASSERT_EQ(Full, ERROR_ACCESS_DENIED);
  Open_Key(Path);
  EXPECT_EQ(Get_String("Log"), "read only");
}
