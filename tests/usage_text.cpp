#include "support.hpp"

#include <gtest/gtest.h>

TEST(Client_Program, FewerThanTwoArgumentsPrintOnlyTheUsageText) {
  const std::string Client = Test_Support::Program_Directory() + "Tez_Client.exe";
  for (const auto &Arguments : {std::vector<std::string>{}, std::vector<std::string>{"tez.ini"}}) {
    const Test_Support::Run_Result Result = Test_Support::Run(Client, Arguments);
    EXPECT_EQ(Result.Exit_Code, 0u);
    EXPECT_EQ(Result.Output, Test_Support::Usage_Text);
    EXPECT_EQ(Result.Errors, "");
  }
}
