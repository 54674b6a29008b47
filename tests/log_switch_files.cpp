// The files of dist/ that turn the client's log on and off (they lie beside
// the programs), imported with the system's own importer as a user would.
#include "log_support.hpp"

#include <gtest/gtest.h>

namespace {

const char *const Key = "Software\\Orvane\\Tez_Client";
const std::string Log_Name = "C:\\Users\\Public\\tez_client.log";

class Log_Switch_Files : public ::testing::Test {
protected:
  const std::string Bin = Test_Support::Program_Directory();
  // Removes the client's settings afterwards, whatever the files did.
  const Test_Support::Log_Settings Settings{"Tez_Client"};

  void SetUp() override {
    ASSERT_NE(GetFileAttributesA("C:\\Users\\Public"), INVALID_FILE_ATTRIBUTES);
    DeleteFileA(Log_Name.c_str());
  }
  void TearDown() override { DeleteFileA(Log_Name.c_str()); }

  void Import(const std::string &File) {
    const Test_Support::Run_Result Result =
        Test_Support::Run("C:\\windows\\system32\\reg.exe", {"import", Bin + File});
    EXPECT_EQ(Result.Exit_Code, 0u) << File << ": " << Result.Output << Result.Errors;
  }
  // A run that needs no server: the usage text, and the log's header.
  void Run_Client() { Test_Support::Run(Bin + "Tez_Client.exe", {}); }
};

} // namespace

TEST_F(Log_Switch_Files, EnableLogsToThePublicFolderAndDisableStopsIt) {
  Import("enable-log.reg");
  DWORD Limit = 0, Size = sizeof Limit;
  EXPECT_EQ(
      RegGetValueA(HKEY_CURRENT_USER, Key, "Log Limit", RRF_RT_REG_DWORD, nullptr, &Limit, &Size),
      ERROR_SUCCESS);
  EXPECT_EQ(Limit, 100000u);
  Run_Client();
  const std::vector<std::string> Lines = Test_Support::Lines_Of(Log_Name);
  ASSERT_FALSE(Lines.empty()) << "no log in " << Log_Name;
  EXPECT_NE(Lines[0].find(") => Tez_Client version "), std::string::npos) << Lines[0];

  DeleteFileA(Log_Name.c_str());
  Import("disable-log.reg");
  HKEY Opened;
  const LSTATUS Status = RegOpenKeyExA(HKEY_CURRENT_USER, Key, 0, KEY_READ, &Opened);
  if (Status == ERROR_SUCCESS) RegCloseKey(Opened);
  EXPECT_EQ(Status, ERROR_FILE_NOT_FOUND) << "the key itself is gone";
  Run_Client();
  EXPECT_EQ(GetFileAttributesA(Log_Name.c_str()), INVALID_FILE_ATTRIBUTES);
}
