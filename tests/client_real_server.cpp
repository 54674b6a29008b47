// The client against the stand-in server's real answers, as the demo runs it.
#include "client_support.hpp"

#include <fstream>
#include <sstream>

using Strings = std::vector<std::string>;

namespace {

class Real_Server_Run : public Test_Support::Client_Run {
protected:
  void SetUp() override {
    Client_Run::SetUp();
    SetEnvironmentVariableA("TEZ_SERVER_SCRIPT", nullptr);
    // The demo's sample, which lies beside the programs.
    std::ifstream In(Bin + "sample.c", std::ios::binary);
    std::ostringstream Text;
    Text << In.rdbuf();
    ASSERT_FALSE(Text.str().empty());
    Test_Support::Write_File(Dir / "sample.c", Text.str());
  }
};

} // namespace

TEST_F(Real_Server_Run, TheDemoQueries) {
  Configure({{"Editor", Editor}});
  EXPECT_EQ(Run_Client({Config, "syntax", "sample.c"}).Output,
            "sample.c:10:23: error: unexpected ')'\r\n");
  EXPECT_EQ(Run_Client({Config, "reference", "sample.c", "9", "3"}).Output,
            "sample.c:3:5: reference to total_count\r\n"
            "sample.c:9:3: reference to total_count\r\n"
            "sample.c:9:17: reference to total_count\r\n"
            "sample.c:10:11: reference to total_count\r\n"
            "sample.c:17:10: reference to total_count\r\n");
  EXPECT_EQ(Run_Client({Config, "location", "sample.c", "15", "3"}).Output, "");
  EXPECT_EQ(Editor_Command_Lines(), Strings{Test_Support::Quoted(Editor) + " sample.c:6:5"});
  EXPECT_EQ(Run_Client({Config, "unused", "sample.c"}).Output,
            "sample.c:4:13: warning: title is never used\r\n"
            "sample.c:8:7: warning: unused_local is never used\r\n");
  EXPECT_EQ(Run_Client({Config, "close"}).Output, "");
  EXPECT_EQ(Server_Command_Lines().size(), 1u) << "one server served them all";
}

TEST_F(Real_Server_Run, ALocationInAFolderWithABlankReachesTheEditorAsOneArgument) {
  ASSERT_TRUE(CreateDirectoryA((Dir / "src dir").c_str(), nullptr));
  const std::string Spaced = Dir / "src dir\\my calc.c";
  Test_Support::Write_File(Spaced, "int total;\nint main(void) { return total; }\n");
  Configure({{"Editor", Editor}});
  EXPECT_EQ(Run_Client({Config, "location", Spaced, "2", "25"}).Output, "");
  ASSERT_EQ(Editor_Command_Lines().size(), 1u);
  EXPECT_EQ(Test_Support::Record_Values(Editor_Record, "argument"), Strings{Spaced + ":1:5"});
}

TEST_F(Real_Server_Run, LongAnswersAreCutToTheMessageLength) {
  Configure({{"Pipelength", "20"}});
  const std::string Output = Run_Client({Config, "r", "sample.c", "3", "5"}).Output;
  EXPECT_EQ(Output.substr(0, 42), "sample.c:3:5: refere\r\nnce to total_count\r\n");
  std::size_t Pieces = 0;
  for (std::size_t At = 0; (At = Output.find("\r\n", At)) != std::string::npos; At += 2)
    ++Pieces;
  EXPECT_EQ(Pieces, 10u) << Output;
}

TEST_F(Real_Server_Run, UnreadableFilesAndUnusablePositionsGetErrorLines) {
  Configure();
  Test_Support::Write_File(Dir / "locked.c", "int x;\n");
  const HANDLE Locked = CreateFileA((Dir / "locked.c").c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const std::string Output = Run_Client({Config, "syntax", "locked.c"}).Output;
  CloseHandle(Locked);
  EXPECT_EQ(Output.rfind("!Cannot read locked.c: ", 0), 0u) << Output;
  EXPECT_EQ(Run_Client({Config, "location", "sample.c", "-3", "1"}).Output,
            "!Cannot use the position -3,1 in sample.c: lines and columns count from 1\r\n");
  // A based literal is a usable line number: 16#9# is line 9.
  EXPECT_EQ(Run_Client({Config, "reference", "sample.c", "16#9#", "3"}).Output,
            "sample.c:3:5: reference to total_count\r\n"
            "sample.c:9:3: reference to total_count\r\n"
            "sample.c:9:17: reference to total_count\r\n"
            "sample.c:10:11: reference to total_count\r\n"
            "sample.c:17:10: reference to total_count\r\n");
}

TEST_F(Real_Server_Run, TheServerEndsAfterItsIdleTimeOrAtClose) {
  Configure({{"Timeout", "1"}});
  Run_Client({Config, "syntax", "sample.c"});
  Await_Server_Gone(Pipe);
  Run_Client({Config, "syntax", "sample.c"});
  EXPECT_EQ(Server_Command_Lines().size(), 2u) << "the first server waited one second";
  Configure();
  Run_Client({Config, "close"});
  Run_Client({Config, "syntax", "sample.c"});
  EXPECT_EQ(Server_Command_Lines().size(), 3u) << "close ended the second";
  EXPECT_EQ(Requests(),
            (Strings{"T1", "Ssample.c", "C", "T1", "Ssample.c", "C", "T0", "C", "Ssample.c", "C"}));
}
