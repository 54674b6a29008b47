// The stand-in server's own answers, asked directly.
#include "server/answers.hpp"

#include "support.hpp"

#include <gtest/gtest.h>
#include <windows.h>

using Server::Answer;
using Server::Cut;
using Strings = std::vector<std::string>;

namespace {

class Answers : public ::testing::Test {
protected:
  Test_Support::Scratch_Directory Dir;
  std::string File(const std::string &Name, const std::string &Text) {
    Test_Support::Write_File(Dir / Name, Text);
    return Dir / Name;
  }
};

} // namespace

TEST_F(Answers, SyntaxFindsBracketsStringsAndComments) {
  const std::string Clean = File("clean.c", "int f(int a[2]) { return a[0]; } // ( [ {\r\n"
                                            "/* ) ] } */ char *s = \"(]\";\r\n");
  EXPECT_EQ(Answer("S" + Clean), Strings{Clean + ": no syntax errors found"});
  const std::string Bad = File("bad.c", "f(a[1);\n}\ns = \"open\n/* never ends");
  EXPECT_EQ(Answer("S" + Bad),
            (Strings{Bad + ":1:4: error: '[' is never closed", Bad + ":2:1: error: unexpected '}'",
                     Bad + ":3:5: error: unterminated string",
                     Bad + ":4:1: error: unterminated comment"}));
  const std::string Open = File("open.pas", "begin\n  Put (X;\nend;\n{");
  EXPECT_EQ(Answer("S" + Open), (Strings{Open + ":2:7: error: '(' is never closed",
                                         Open + ":4:1: error: '{' is never closed"}));
}

TEST_F(Answers, ReferencesLocationAndUnused) {
  // An attribute tick opens no character literal.
  const std::string Source =
      File("s.adb", "Count : Integer := 0;\n"
                    "-- Count in a comment\n"
                    "Count := Count + Count'Size; Put (\"Count\"); Put (Count'Size);\n");
  const std::string Reference = ": reference to Count";
  EXPECT_EQ(Answer("R" + Source + "<3,10>"),
            (Strings{Source + ":1:1" + Reference, Source + ":3:1" + Reference,
                     Source + ":3:10" + Reference, Source + ":3:18" + Reference,
                     Source + ":3:50" + Reference}));
  EXPECT_EQ(Answer("L" + Source + "<3,14>"), Strings{">" + Source + ":1:1"});
  EXPECT_EQ(Answer("R" + Source + "<1,6>"), Strings{"No identifier at " + Source + ":1:6"});
  EXPECT_EQ(Answer("R" + Source + "<99,1>"), Strings{"No identifier at " + Source + ":99:1"});
  EXPECT_EQ(Answer("A" + Source), Strings{Source + ":1:9: warning: Integer is never used"})
      << "Put is only called: declared elsewhere";
}

// One example of each text that holds no identifier of the program (the
// preprocessor line carried on by a backslash), in a folder whose name holds
// a blank.
TEST_F(Answers, PreprocessorLinesLiteralsAndCallsMisleadNoQuery) {
  ASSERT_TRUE(CreateDirectoryA((Dir / "src dir").c_str(), nullptr));
  const std::string Source =
      File("src dir\\my calc.c", "#include <stdio.h>\n"
                                 "#define FIRST \\\r\n  table[0]\n"
                                 "int table[4], spare;\n"
                                 "char open = '(', quote = '\"';\n"
                                 "void show(void) { table[1] = open + quote + 'x'; "
                                 "printf(\"table\"); } /* table */\n"
                                 "int main(void) { return FIRST; }\n");
  EXPECT_EQ(Answer("S" + Source), Strings{Source + ": no syntax errors found"});
  EXPECT_EQ(Answer("A" + Source), Strings{Source + ":4:15: warning: spare is never used"});
  EXPECT_EQ(Answer("R" + Source + "<6,19>"),
            (Strings{Source + ":4:5: reference to table", Source + ":6:19: reference to table"}));
  EXPECT_EQ(Answer("L" + Source + "<6,19>"), Strings{">\"" + Source + ":4:5\""})
      << "one argument of the editor's command line";
}

TEST_F(Answers, PositionsAreReadAsTheClientSendsThem) {
  const std::string Source = File("p.c", "int x;\n");
  EXPECT_EQ(Answer("R" + Source + "< 1,2_1>"), Strings{"No identifier at " + Source + ":1:21"});
  EXPECT_EQ(Answer("L" + Source + "<16#1#,5>"), Strings{">" + Source + ":1:5"});
  EXPECT_EQ(Answer("R" + Source + "<-3,1>"), Strings{"!Cannot use the position -3,1 in " + Source +
                                                     ": lines and columns count from 1"});
  EXPECT_EQ(Answer("R" + Source + "<1,abc>"),
            Strings{"!Cannot use the position 1,abc in " + Source});
  EXPECT_EQ(Answer("R" + Source + "<1,2"), Strings{"!Malformed request: R" + Source + "<1,2"});
}

TEST_F(Answers, UnreadableFilesAndUnknownRequests) {
  const Strings Missing = Answer("S" + Dir / "missing.c");
  ASSERT_EQ(Missing.size(), 1u);
  EXPECT_EQ(Missing[0].rfind("!Cannot read " + Dir / "missing.c" + ": ", 0), 0u) << Missing[0];
  EXPECT_EQ(Answer("Q"), Strings{"!Unknown request kind Q"});
  for (const char *Setting : {"Eon", "F1", "Ied", "Xcc", "Pdir", "T60", "Uu", "C"})
    EXPECT_TRUE(Answer(Setting).empty()) << Setting;
}

TEST(Cut, LongLinesBecomeSeveralMessagesNeverALoneDot) {
  EXPECT_EQ(Cut({"abcdefgh", "", "xy"}, 3), (Strings{"abc", "def", "gh", "", "xy"}));
  EXPECT_EQ(Cut({"abcd."}, 4), (Strings{"abc", "d."}));
  EXPECT_EQ(Cut({"ab.", "."}, 2), (Strings{"a", "b.", "."}))
      << "a reply that is \".\" itself is the caller's to avoid";
  EXPECT_EQ(Cut({"a.b."}, 1), (Strings{"a", "b"})) << "one byte cannot carry a dot";
  EXPECT_EQ(Cut({std::string(1000, 'x')}, 1000), Strings{std::string(1000, 'x')});
}
