#include "support.hpp"

#include <gtest/gtest.h>

namespace {

const char *const Usage = "Tez_Client\r\n"
                          "-- Program to communicate with the Tez Server\r\n"
                          "-- Parameters:\r\n"
                          "-- 1: Name of configuration file. Section=[Tez_Client]\r\n"
                          "-- 2: Command = [Close | Reference | Syntax | Location | Unused]\r\n"
                          "-- Syntax and Unused require an additional parameter:\r\n"
                          "-- 3: Name of file to check\r\n"
                          "-- Reference and Location require three further parameters:\r\n"
                          "-- 3: Name of file being queried\r\n"
                          "-- 4: Line number of query = 1..1'048'575\r\n"
                          "-- 5: Column number of query = 1..4095\r\n";

} // namespace

TEST(Client_Program, FewerThanTwoArgumentsPrintOnlyTheUsageText) {
  const std::string Client = Test_Support::Program_Directory() + "Tez_Client.exe";
  for (const auto &Arguments : {std::vector<std::string>{}, std::vector<std::string>{"tez.ini"}}) {
    const Test_Support::Run_Result Result = Test_Support::Run(Client, Arguments);
    EXPECT_EQ(Result.Exit_Code, 0u);
    EXPECT_EQ(Result.Output, Usage);
    EXPECT_EQ(Result.Errors, "");
  }
}
