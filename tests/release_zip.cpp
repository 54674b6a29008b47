// The program as a user gets it: from the release zip, unpacked by the
// Release_Zip.Unpack fixture (which also checks the zip's files and the
// program's SHA-256).
#include "support.hpp"

#include <gtest/gtest.h>

TEST(Release_Zip, TheUnpackedProgramPrintsTheUsageText) {
  const std::string Client =
      Test_Support::Program_Directory() + "..\\release_zip\\" TEZ_PACKAGE "\\Tez_Client.exe";
  const Test_Support::Run_Result Result = Test_Support::Run(Client, {});
  EXPECT_EQ(Result.Exit_Code, 0u);
  EXPECT_EQ(Result.Output, Test_Support::Usage_Text);
  EXPECT_EQ(Result.Errors, "");
}
