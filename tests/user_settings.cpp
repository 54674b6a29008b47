// Linked into every test program that runs the client: the user's own log
// settings are set aside while the program runs, so the client logs nowhere
// the test did not ask for, and are put back at its end with the log files
// they name, whatever the tests did.
#include "log_support.hpp"

#include <memory>

#include <gtest/gtest.h>

namespace {

std::string Local_App_Data_Logs() {
  char Folder[MAX_PATH];
  const DWORD Length = GetEnvironmentVariableA("LOCALAPPDATA", Folder, MAX_PATH);
  if (Length == 0 || Length >= MAX_PATH) return {};
  return std::string(Folder, Length) + "\\Tez_Client\\tez_client.log";
}

class User_Settings : public ::testing::Environment {
public:
  void SetUp() override {
    Settings_ = std::make_unique<Test_Support::Log_Settings>("Tez_Client");
    std::vector<std::string> Files;
    std::vector<std::string> Logs = Settings_->Found_Logs();
    if (const std::string Default = Local_App_Data_Logs(); !Default.empty())
      Logs.push_back(Default);
    for (const std::string &Log : Logs)
      for (const std::string &File : Test_Support::Log_And_Second(Log))
        Files.push_back(File);
    Files_ = std::make_unique<Test_Support::Saved_Files>(Files);
  }
  void TearDown() override {
    Files_.reset();
    Settings_.reset();
  }

private:
  std::unique_ptr<Test_Support::Log_Settings> Settings_;
  std::unique_ptr<Test_Support::Saved_Files> Files_;
};

// NOLINTNEXTLINE(cert-err58-cpp): registered before main, as GoogleTest allows
[[maybe_unused]] ::testing::Environment *const Registered =
    ::testing::AddGlobalTestEnvironment(new User_Settings);

} // namespace
