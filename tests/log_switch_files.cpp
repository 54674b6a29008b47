// The files of dist/ that turn the client's log on and off, run with the
// system's command interpreter as a user would (they lie beside the
// programs).
#include "log_support.hpp"
#include "windows/handle.hpp"

#include <gtest/gtest.h>

namespace {

const char *const Key = "Software\\Orvane\\Tez_Client";

std::string Local_App_Data() {
  char Folder[MAX_PATH];
  const DWORD Length = GetEnvironmentVariableA("LOCALAPPDATA", Folder, MAX_PATH);
  return Length == 0 || Length >= MAX_PATH ? std::string() : std::string(Folder, Length);
}

class Log_Switch_Files : public ::testing::Test {
protected:
  const std::string Bin = Test_Support::Program_Directory();
  const std::string Folder = Local_App_Data() + "\\Tez_Client";
  const std::string Log_Name = Folder + "\\tez_client.log";
  // Removes the client's settings afterwards, whatever the files did.
  const Test_Support::Log_Settings Settings{"Tez_Client"};

  void SetUp() override {
    ASSERT_NE(Local_App_Data(), "");
    Clear();
  }
  void TearDown() override { Clear(); }
  void Clear() {
    DeleteFileA(Log_Name.c_str());
    RemoveDirectoryA(Folder.c_str());
  }

  void Run_File(const std::string &File) {
    const Test_Support::Run_Result Result =
        Test_Support::Run("C:\\windows\\system32\\cmd.exe", {"/d", "/c", "call", Bin + File});
    EXPECT_EQ(Result.Exit_Code, 0u) << File << ": " << Result.Output << Result.Errors;
  }
  // A run that needs no server: the usage text, and the log's header.
  void Run_Client() { Test_Support::Run(Bin + "Tez_Client.exe", {}); }
};

} // namespace

TEST_F(Log_Switch_Files, EnableLogsToTheUsersOwnFolderAndDisableStopsIt) {
  Run_File("enable-log.cmd");
  char Value[MAX_PATH];
  DWORD Limit = 0, Size = sizeof Limit, Value_Size = sizeof Value;
  EXPECT_EQ(
      RegGetValueA(HKEY_CURRENT_USER, Key, "Log Limit", RRF_RT_REG_DWORD, nullptr, &Limit, &Size),
      ERROR_SUCCESS);
  EXPECT_EQ(Limit, 100000u);
  ASSERT_EQ(RegGetValueA(HKEY_CURRENT_USER, Key, "Log", RRF_RT_REG_SZ, nullptr, Value, &Value_Size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(Value), Log_Name) << "stored expanded: the client reads it as stored";
  Run_Client();
  const std::vector<std::string> Lines = Test_Support::Lines_Of(Log_Name);
  ASSERT_FALSE(Lines.empty()) << "no log in " << Log_Name;
  EXPECT_NE(Lines[0].find(") => Tez_Client version "), std::string::npos) << Lines[0];
  Run_File("enable-log.cmd"); // again, with the folder there

  DeleteFileA(Log_Name.c_str());
  Run_File("disable-log.cmd");
  HKEY Opened;
  const LSTATUS Status = RegOpenKeyExA(HKEY_CURRENT_USER, Key, 0, KEY_READ, &Opened);
  if (Status == ERROR_SUCCESS) RegCloseKey(Opened);
  EXPECT_EQ(Status, ERROR_FILE_NOT_FOUND) << "the key itself is gone";
  Run_Client();
  EXPECT_EQ(GetFileAttributesA(Log_Name.c_str()), INVALID_FILE_ATTRIBUTES);
  Run_File("disable-log.cmd"); // again, with nothing to remove
}

TEST_F(Log_Switch_Files, EnableTakesTheFolderOnlyAsAFullPathAndNeverAsCommands) {
  const Test_Support::Scratch_Directory Dir;
  const std::string Odd = Dir / "x&mkdir INJECTED&";
  ASSERT_TRUE(CreateDirectoryA(Odd.c_str(), nullptr));
  const std::vector<std::string> Enable = {"/d", "/c", "call", Bin + "enable-log.cmd"};
  const auto Enable_With = [&](const std::string &Folder) {
    return Test_Support::Run("C:\\windows\\system32\\cmd.exe", Enable, Dir.Path(),
                             {{"LOCALAPPDATA", Folder}});
  };
  EXPECT_EQ(Enable_With(Odd).Exit_Code, 0u);
  char Value[MAX_PATH];
  DWORD Size = sizeof Value;
  ASSERT_EQ(RegGetValueA(HKEY_CURRENT_USER, Key, "Log", RRF_RT_REG_SZ, nullptr, Value, &Size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(Value), Odd + "\\Tez_Client\\tez_client.log");
  Run_File("disable-log.cmd");

  for (const std::string &Refused :
       std::vector<std::string>{"lad", "\\lad", "C:lad", Dir / "q\"&mkdir INJECTED&\""}) {
    const Test_Support::Run_Result Result = Enable_With(Refused);
    EXPECT_EQ(Result.Exit_Code, 1u) << Refused;
    EXPECT_NE(Result.Errors.find("LOCALAPPDATA is not a full path"), std::string::npos) << Refused;
  }
  EXPECT_EQ(RegGetValueA(HKEY_CURRENT_USER, Key, "Log", RRF_RT_REG_SZ, nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);
  for (const char *Made : {"INJECTED", "lad", "q"})
    EXPECT_EQ(GetFileAttributesA((Dir / Made).c_str()), INVALID_FILE_ATTRIBUTES) << Made;
}

TEST_F(Log_Switch_Files, DisableRemovesTheOrvaneKeyOnlyWhenItLeftItEmpty) {
  HKEY Opened;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Orvane", 0, KEY_READ, &Opened) == ERROR_SUCCESS) {
    RegCloseKey(Opened);
    GTEST_SKIP() << "the user has other keys under Software\\Orvane";
  }
  const std::string Sibling = "Software\\Orvane\\Tez_Switch_Test";
  Settings.Set_String(HKEY_CURRENT_USER, "Log", "C:\\x.log");
  Test_Support::Log_Settings Other("Tez_Switch_Test");
  Other.Create_Key(HKEY_CURRENT_USER);
  Run_File("disable-log.cmd");
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Sibling.c_str(), 0, KEY_READ, &Opened), ERROR_SUCCESS);
  RegCloseKey(Opened);
  RegDeleteKeyA(HKEY_CURRENT_USER, Sibling.c_str());
  Settings.Set_String(HKEY_CURRENT_USER, "Log", "C:\\x.log");
  Run_File("disable-log.cmd");
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Orvane", 0, KEY_READ, &Opened),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(Log_Switch_Files, ADoubleClickedFileWaitsForAKeyBeforeItsWindowCloses) {
  // The system runs a double-clicked file as below; a variable of that name
  // stands in for the interpreter's own.
  const auto Output_When = [&](const std::string &Command_Line) {
    return Test_Support::Run("C:\\windows\\system32\\cmd.exe",
                             {"/d", "/c", "call", Bin + "disable-log.cmd"}, {},
                             {{"cmdcmdline", Command_Line}})
        .Output;
  };
  // The key comes at once: standard input is empty.
  SECURITY_ATTRIBUTES Inherited{sizeof Inherited, nullptr, TRUE};
  const Windows::File_Handle Empty(
      CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ, &Inherited, OPEN_EXISTING, 0, nullptr));
  const HANDLE Own = GetStdHandle(STD_INPUT_HANDLE);
  SetStdHandle(STD_INPUT_HANDLE, Empty.Get());
  const std::string Clicked =
      Output_When("C:\\Windows\\system32\\cmd.exe /c \"\"" + Bin + "disable-log.cmd\" \"");
  const std::string Called = Output_When("cmd.exe /d /c call " + Bin + "disable-log.cmd");
  SetStdHandle(STD_INPUT_HANDLE, Own);
  // The prompt is in the system's language: only the clicked run has one.
  EXPECT_TRUE(Called.ends_with("off.\r\n")) << Called;
  EXPECT_TRUE(Clicked.starts_with(Called) && Clicked.size() > Called.size()) << Clicked;
}
