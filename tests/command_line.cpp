#include "client/command_line.hpp"

#include "support.hpp"

#include <gtest/gtest.h>

using namespace Client;
using Kind = Request_Outcome::Kind;

TEST(Lookup_Command, AnyCaseInsensitivePrefixInOrder) {
  EXPECT_EQ(Lookup_Command("R"), Command_Kind::Reference);
  EXPECT_EQ(Lookup_Command("ref"), Command_Kind::Reference);
  EXPECT_EQ(Lookup_Command("REFERENCE"), Command_Kind::Reference);
  EXPECT_EQ(Lookup_Command("Syn"), Command_Kind::Syntax);
  EXPECT_EQ(Lookup_Command("SYNTAX"), Command_Kind::Syntax);
  EXPECT_EQ(Lookup_Command("c"), Command_Kind::Close);
  EXPECT_EQ(Lookup_Command("LoCaTiOn"), Command_Kind::Location);
  EXPECT_EQ(Lookup_Command("u"), Command_Kind::Unused);
}

TEST(Lookup_Command, OtherWordsAreNone) {
  for (const char *Word : {"", "references", "eference", "x", " r", "r ", "closer", "\xC5"}) {
    SCOPED_TRACE(Word);
    EXPECT_EQ(Lookup_Command(Word), Command_Kind::None);
  }
  // Latin-1 capitals fold to Latin-1 small letters, never into ASCII.
  EXPECT_EQ(Lookup_Command("R\xC9"), Command_Kind::None);
}

class Build_Request_Test : public ::testing::Test {
protected:
  Test_Support::Scratch_Directory Dir;
  std::string Source = Dir / "main.src";
  void SetUp() override { Test_Support::Write_File(Source, "program\r\n"); }

  Request_Outcome Build(Command_Kind Command, const Argument_List &Arguments,
                        bool Shutdown = false) {
    return Build_Request(Command, Arguments, Shutdown);
  }
};

TEST_F(Build_Request_Test, WholeFileCommandsNeedExactlyThreeArguments) {
  Request_Outcome R = Build(Lookup_Command("SYNTAX"), {"tez.ini", "SYNTAX", Source});
  EXPECT_EQ(R.Outcome, Kind::Send);
  EXPECT_EQ(R.Request, "S" + Source);
  R = Build(Lookup_Command("u"), {"tez.ini", "u", Source});
  EXPECT_EQ(R.Outcome, Kind::Send);
  EXPECT_EQ(R.Request, "A" + Source);
  EXPECT_EQ(Build(Command_Kind::Syntax, {"c", "s", Source, "1", "1"}).Outcome, Kind::No_Request);
  EXPECT_EQ(Build(Command_Kind::Unused, {"c", "u"}).Outcome, Kind::No_Request);
  EXPECT_EQ(Build(Command_Kind::Syntax, {"c", "s", Dir / "none.src"}).Outcome,
            Kind::Missing_Source);
  EXPECT_EQ(Build(Command_Kind::Syntax, {"c", "s", Dir.Path()}).Outcome, Kind::Missing_Source);
}

TEST_F(Build_Request_Test, PositionCommandsCarryLineAndColumnAsTyped) {
  Request_Outcome R = Build(Command_Kind::Reference, {"c", "r", Source, "120", "7"});
  EXPECT_EQ(R.Outcome, Kind::Send);
  EXPECT_EQ(R.Request, "R" + Source + "<120,7>");
  R = Build(Command_Kind::Location, {"c", "l", Source, " 16#FF#", "-3"});
  EXPECT_EQ(R.Outcome, Kind::Send);
  EXPECT_EQ(R.Request, "L" + Source + "< 16#FF#,-3>");
  R = Build(Command_Kind::Reference, {"c", "r", Source, "0", "1_0"});
  EXPECT_EQ(R.Request, "R" + Source + "<0,1_0>");
  EXPECT_EQ(Build(Command_Kind::Reference, {"c", "r", Source}).Outcome, Kind::No_Request);
  EXPECT_EQ(Build(Command_Kind::Location, {"c", "l", Source, "1"}).Outcome, Kind::No_Request);
}

TEST_F(Build_Request_Test, LineAndColumnBounds) {
  EXPECT_EQ(Build(Command_Kind::Reference, {"c", "r", Source, "1048575", "4095"}).Outcome,
            Kind::Send);
  EXPECT_EQ(Build(Command_Kind::Reference, {"c", "r", Source, "1048576", "1"}).Outcome,
            Kind::No_Request);
  EXPECT_EQ(Build(Command_Kind::Reference, {"c", "r", Source, "1", "4096"}).Outcome,
            Kind::No_Request);
  // A rejected line leaves the column unread, so a bad column is harmless.
  EXPECT_EQ(Build(Command_Kind::Reference, {"c", "r", Source, "16#100000#", "x"}).Outcome,
            Kind::No_Request);
  // Numbers that do not read as integers are malformed queries too.
  EXPECT_EQ(Build(Command_Kind::Reference, {"c", "r", Source, "1", "x"}).Outcome, Kind::No_Request);
  EXPECT_EQ(Build(Command_Kind::Reference, {"c", "r", Source, "12a", "1"}).Outcome,
            Kind::No_Request);
}

TEST_F(Build_Request_Test, MissingSourceIsDecidedBeforeTheNumbersAreRead) {
  EXPECT_EQ(Build(Command_Kind::Location, {"c", "l", Dir / "none", "x", "y"}).Outcome,
            Kind::Missing_Source);
}

TEST_F(Build_Request_Test, CloseAndShutdownSendTheCloseRequest) {
  Request_Outcome R = Build(Command_Kind::Close, {"c", "close", "extra", "more"});
  EXPECT_EQ(R.Outcome, Kind::Send);
  EXPECT_EQ(R.Request, "T0");
  R = Build(Command_Kind::Syntax, {"c", "s", Dir / "none"}, true);
  EXPECT_EQ(R.Request, "T0");
  EXPECT_EQ(Build(Command_Kind::None, {"c", "x"}, true).Request, "T0");
  EXPECT_EQ(Build(Command_Kind::None, {"c", "x", Source}).Outcome, Kind::No_Request);
}
