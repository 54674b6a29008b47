#include "windows/pipe.hpp"
#include "windows/windows.hpp"

#include "client_support.hpp"
#include "support.hpp"

#include <chrono>
#include <cstdio>
#include <thread>

#include <gtest/gtest.h>

using namespace Windows;
using Test_Support::Scratch_Directory;
using Strings = std::vector<std::string>;

namespace {

const std::string Probe = Test_Support::Program_Directory() + "tez_probe.exe";

// The probe's record once it has finished writing it.
std::string Await_Record(const std::string &Name) {
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < Deadline) {
    if (GetFileAttributesA(Name.c_str()) != INVALID_FILE_ATTRIBUTES) {
      std::string Record = Test_Support::Read_File(Name);
      if (Record.find("end\r\n") != std::string::npos) return Record;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return "(no record)";
}

std::string Field(const std::string &Record, const std::string &Key) {
  const std::size_t Start = Record.find(Key + "=");
  if (Start == std::string::npos) return "(missing)";
  const std::size_t Value = Start + Key.size() + 1;
  return Record.substr(Value, Record.find("\r\n", Value) - Value);
}

class Probe_Run : public ::testing::Test {
protected:
  Scratch_Directory Dir;
  std::string Record = Dir / "record.txt";
  int Records = 0;
  // A new record file for the next start: the last probe may hold the old
  // one open still, so that it can be neither deleted nor reused.
  void Next_Record() {
    Record = Dir / ("record" + std::to_string(++Records) + ".txt");
    SetEnvironmentVariableA("TEZ_PROBE_RECORD", Record.c_str());
  }
  void SetUp() override { SetEnvironmentVariableA("TEZ_PROBE_RECORD", Record.c_str()); }
  void TearDown() override {
    SetEnvironmentVariableA("TEZ_PROBE_RECORD", nullptr);
    SetEnvironmentVariableA("TEZ_PROBE_ECHO", nullptr);
    SetEnvironmentVariableA("TEZ_PROBE_VARIABLE", nullptr);
    SetEnvironmentVariableA("TEZ_PROBE_READ_STDIN", nullptr);
  }
};

} // namespace

TEST_F(Probe_Run, ArgumentsFollowTheProgramAfterExactlyOneBlank) {
  Create_Process(Probe, "  two  spaced \"words\"", "", "", nullptr, nullptr, nullptr, false);
  const std::string Got = Await_Record(Record);
  EXPECT_EQ(Test_Support::As_Given(Field(Got, "command_line"), Probe),
            Probe + "   two  spaced \"words\"");
  EXPECT_EQ(Field(Got, "module_directory"), Test_Support::Program_Directory());
}

TEST_F(Probe_Run, WithoutArgumentsTheProgramAloneIsTheApplication) {
  Create_Process(Probe, "", "", "", nullptr, nullptr, nullptr, false);
  // The system makes the command line from the application name, quoted or not.
  std::string Line = Field(Await_Record(Record), "command_line");
  if (Line.size() >= 2 && Line.front() == '"' && Line.back() == '"')
    Line = Line.substr(1, Line.size() - 2);
  EXPECT_EQ(Line, Probe);
  // No search: the application name must be the file itself.
  EXPECT_THROW(Create_Process("tez_probe", "", "", "", nullptr, nullptr, nullptr, false),
               Process_Creation_Failure);
}

TEST_F(Probe_Run, EnvironmentAndDirectoryReplaceTheCallersOnlyWhenGiven) {
  SetEnvironmentVariableA("TEZ_PROBE_VARIABLE", "inherited");
  Create_Process(Probe, "a", "", "", nullptr, nullptr, nullptr, false);
  std::string Got = Await_Record(Record);
  EXPECT_EQ(Field(Got, "variable"), "inherited");
  char Own[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, Own);
  EXPECT_EQ(Field(Got, "directory"), Own);

  Next_Record();
  const std::string Block =
      "TEZ_PROBE_RECORD=" + Record + std::string(1, '\0') + "TEZ_PROBE_VARIABLE=given";
  std::string Directory = Dir.Path();
  Directory.pop_back();
  Create_Process(Probe, "b", Block, Directory, nullptr, nullptr, nullptr, true);
  Got = Await_Record(Record);
  EXPECT_EQ(Field(Got, "variable"), "given");
  EXPECT_EQ(Field(Got, "directory"), Directory);
}

TEST_F(Probe_Run, GivenStandardHandlesAreInheritedAndTheOthersAreTheCallers) {
  const std::string Output = Dir / "out.txt", Error = Dir / "err.txt", Input = Dir / "in.txt";
  Test_Support::Write_File(Input, "typed input");
  SetEnvironmentVariableA("TEZ_PROBE_READ_STDIN", "1");
  SetEnvironmentVariableA("TEZ_PROBE_ECHO", "1");
  const HANDLE Out = Test_Support::Inheritable_File(Output, GENERIC_WRITE, CREATE_ALWAYS);
  const HANDLE Err = Test_Support::Inheritable_File(Error, GENERIC_WRITE, CREATE_ALWAYS);
  const HANDLE In = Test_Support::Inheritable_File(Input, GENERIC_READ, OPEN_EXISTING);
  Create_Process(Probe, "x", "", "", In, Out, Err, false);
  EXPECT_EQ(Field(Await_Record(Record), "stdin"), "typed input");
  CloseHandle(Out);
  CloseHandle(Err);
  CloseHandle(In);
  EXPECT_EQ(Test_Support::Read_File(Output), "probe output");
  EXPECT_EQ(Test_Support::Read_File(Error), "probe error");

  // Only standard output given: the probe's standard error is ours, not the
  // file. Ours is a file meanwhile, which keeps it off the test's output.
  Next_Record();
  SetEnvironmentVariableA("TEZ_PROBE_READ_STDIN", nullptr);
  const HANDLE Only = Test_Support::Inheritable_File(Output, GENERIC_WRITE, CREATE_ALWAYS);
  const HANDLE Own_Error = GetStdHandle(STD_ERROR_HANDLE);
  const HANDLE Ours = Test_Support::Inheritable_File(Error, GENERIC_WRITE, CREATE_ALWAYS);
  SetStdHandle(STD_ERROR_HANDLE, Ours);
  Create_Process(Probe, "y", "", "", nullptr, Only, nullptr, false);
  Await_Record(Record);
  SetStdHandle(STD_ERROR_HANDLE, Own_Error);
  CloseHandle(Ours);
  CloseHandle(Only);
  EXPECT_EQ(Test_Support::Read_File(Output), "probe output");
  EXPECT_EQ(Test_Support::Read_File(Error), "probe error");
}

TEST_F(Probe_Run, ProgramInADriveRootHasTheRootAsItsDirectory) {
  if (!Test_Support::Files_Creatable_In("C:\\"))
    GTEST_SKIP() << Test_Support::Needs_Administrator("puts a program in C:\\");
  const std::string Rooted = "C:\\tez_probe_" + std::to_string(GetCurrentProcessId()) + ".exe";
  ASSERT_TRUE(CopyFileA(Probe.c_str(), Rooted.c_str(), FALSE));
  Create_Process(Rooted, "", "", "", nullptr, nullptr, nullptr, false);
  const std::string Got = Await_Record(Record);
  for (int Attempt = 0; Attempt < 100 && !DeleteFileA(Rooted.c_str()); ++Attempt)
    Sleep(20);
  EXPECT_EQ(Field(Got, "module_directory"), "C:\\");
}

TEST(Create_Process, RefusalsAreProcessCreationFailures) {
  Scratch_Directory Dir;
  EXPECT_THROW(Create_Process(Dir / "missing.exe", "", "", "", nullptr, nullptr, nullptr, false),
               Process_Creation_Failure);
  EXPECT_THROW(Create_Process(Dir / "missing.exe", "arg", "", "", nullptr, nullptr, nullptr, false),
               Process_Creation_Failure);
  Test_Support::Write_File(Dir / "text.exe", "not a program");
  EXPECT_THROW(Create_Process(Dir / "text.exe", "", "", "", nullptr, nullptr, nullptr, false),
               Process_Creation_Failure);
  EXPECT_THROW(Create_Process(Probe, "", "", Dir / "no_such_dir", nullptr, nullptr, nullptr, false),
               Process_Creation_Failure);
}

// A program is started with what the system reads: the batch file behind a
// name with trailing dots or blanks, the caller's environment whatever its
// characters, and nothing that the interpreter would read otherwise.
TEST_F(Probe_Run, ABatchFileRunsByTheNameTheSystemRunsWithExactlyItsArguments) {
  for (const char *Name : {"ed.cmd", "ed.bat"})
    Test_Support::Write_File(Dir / Name, "@" + Test_Support::Quoted(Probe) + " %*\r\n");
  SetEnvironmentVariableW(L"TEZ_PROBE_VARIABLE", L"Ωμέγα-Łódź-日本-é");
  const auto Arguments_Of = [&](const std::string &File, std::string_view Location) {
    Next_Record();
    Start_Program({File, Test_Support::Quoted(File), ""}, Location);
    EXPECT_EQ(Field(Await_Record(Record), "utf8_variable"), "Ωμέγα-Łódź-日本-é") << File;
    return Test_Support::Record_Values(Record, "utf8_argument");
  };
  for (const char *Name : {"ed.cmd.", "ed.bat "})
    EXPECT_EQ(Arguments_Of(Dir / Name, "a&pwn&b \"c d\""), (Strings{"a&pwn&b", "c d"})) << Name;
  const Program Batch{Dir / "ed.cmd", Dir / "ed.cmd", ""};
  EXPECT_THROW(Start_Program(Batch, "a\\\" &pwn& b"), Process_Creation_Failure);
  EXPECT_THROW(Start_Program(Batch, std::string(8200, 'x')), Process_Creation_Failure);
  EXPECT_THROW(Start_Program({Probe, Test_Support::Quoted(Probe), ""},
                             std::string_view("a.src:7:2\0 tail", 15)),
               Process_Creation_Failure);
  // Under a double-byte code page a byte may be half a character.
  if (GetACP() != 932) return;
  EXPECT_THROW(Start_Program(Batch, "a\x81 &pwn&b"), Process_Creation_Failure);
  EXPECT_THROW(Pipe::Check_Name("a\x81"), Pipe::Invalid_Name);
  // A character whose second byte is a backslash's is no backslash.
  EXPECT_EQ(Arguments_Of(Dir / "ed.cmd", "x\x95\x5c"), Strings{"x表"});
  Next_Record();
  Start_Program({Probe, Test_Support::Quoted(Probe), ""},
                std::vector<std::string_view>{"a \x95\x5c"});
  Await_Record(Record);
  EXPECT_EQ(Test_Support::Record_Values(Record, "utf8_argument"), Strings{"a 表"});
  EXPECT_NO_THROW(Pipe::Check_Name("a \x95\x5c"));
}

TEST(Modules, TheExecutableIsTheFirstModuleAndHoldsOurCode) {
  const Module_Entry Main = First_Module(0);
  EXPECT_EQ(Main.hModule, GetModuleHandleA(nullptr));
  char Path[MAX_PATH];
  GetModuleFileNameA(nullptr, Path, MAX_PATH);
  EXPECT_EQ(Module_Path(Main), Path);
  EXPECT_EQ(Module_Base_Name(Main), "platform_tests");

  const Module_Entry Ours = Module_Containing(reinterpret_cast<const void *>(&First_Module));
  EXPECT_EQ(Ours.hModule, Main.hModule);
  // The same description the module snapshot gives.
  EXPECT_EQ(Ours.modBaseAddr, Main.modBaseAddr);
  EXPECT_EQ(Ours.modBaseSize, Main.modBaseSize);
  EXPECT_STREQ(Ours.szModule, Main.szModule);
  EXPECT_STREQ(Ours.szExePath, Main.szExePath);
  EXPECT_EQ(Ours.th32ProcessID, Main.th32ProcessID);
  EXPECT_FALSE(Is_Not_Main_Module(Ours.hModule));
  // The first address past the module still counts as inside it.
  const BYTE *const Past = Main.modBaseAddr + Main.modBaseSize;
  EXPECT_EQ(Module_Containing(Past).hModule, Main.hModule);

  const HMODULE Kernel = GetModuleHandleA("kernel32.dll");
  const Module_Entry Library = Module_Containing(
      reinterpret_cast<const void *>(GetProcAddress(Kernel, "GetCurrentThreadId")));
  EXPECT_EQ(Library.hModule, Kernel);
  EXPECT_TRUE(Is_Not_Main_Module(Kernel));
  EXPECT_THROW(Module_Containing(reinterpret_cast<const void *>(16)), No_Module_Information);
}

TEST(Modules, BaseNameDropsOnlyTheLastExtension) {
  Module_Entry Entry{};
  const auto Named = [&](const char *Name) {
    std::snprintf(Entry.szModule, sizeof Entry.szModule, "%s", Name);
    return Module_Base_Name(Entry);
  };
  EXPECT_EQ(Named("client.tools.exe"), "client.tools");
  EXPECT_EQ(Named("client"), "client");
  EXPECT_EQ(Named(".hidden"), "");
  EXPECT_EQ(Named("a."), "a");
}

TEST(Profile_String, ValuesOfAnyLengthComeBackWhole) {
  Scratch_Directory Dir;
  const std::string File = Dir / "tez.ini";
  const std::string V298(298, 'a'), V299(299, 'b'), V1000(1000, 'c'), V599(599, 'd');
  Test_Support::Write_File(File, "[Tez_Client]\r\nShort=abc\r\nA=" + V298 + "\r\nB=" + V299 +
                                     "\r\nC=" + V1000 + "\r\nD=" + V599 + "\r\n" +
                                     "Quoted=\"a b\"\r\nEmpty=\r\n[Other]\r\nShort=other\r\n");
  EXPECT_EQ(Profile_String("Short", "Tez_Client", File), "abc");
  EXPECT_EQ(Profile_String("A", "Tez_Client", File), V298);
  EXPECT_EQ(Profile_String("B", "Tez_Client", File), V299);
  EXPECT_EQ(Profile_String("C", "Tez_Client", File), V1000);
  EXPECT_EQ(Profile_String("D", "Tez_Client", File), V599);
  EXPECT_EQ(Profile_String("short", "tez_client", File), "abc");
  EXPECT_EQ(Profile_String("Short", "Other", File), "other");
  EXPECT_EQ(Profile_String("Empty", "Tez_Client", File), "");
  EXPECT_EQ(Profile_String("Missing", "Tez_Client", File), "");
  EXPECT_EQ(Profile_String("Short", "Missing", File), "");
  EXPECT_EQ(Profile_String("Short", "Tez_Client", Dir / "missing.ini"), "");
}

TEST(Profile_String, LongerValuesReadAsTheirFirst65534Characters) {
  // Windows would take a larger buffer's size modulo 65,536 and cut sooner.
  Scratch_Directory Dir;
  const std::string File = Dir / "tez.ini";
  Test_Support::Write_File(File, "[Tez_Client]\r\nLong=" + std::string(70000, 'e') + "\r\n");
  EXPECT_EQ(Profile_String("Long", "Tez_Client", File), std::string(65534, 'e'));
  EXPECT_EQ(Profile_Section("Tez_Client", File).Value("Long"), std::string(65534, 'e'));
}

TEST(Profile_Section, AFileMappedToTheRegistryReadsAsTheSystemReadsIt) {
  if (!Test_Support::Machine_Settings_Writable())
    GTEST_SKIP() << Test_Support::Needs_Administrator("maps a file under HKEY_LOCAL_MACHINE");
  Scratch_Directory Dir;
  const std::string Name = "tez_mapped_" + std::to_string(GetCurrentProcessId()) + ".ini";
  const std::string Mapping = "Software\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping\\";
  Test_Support::Write_File(Dir / Name, "[Tez_Client]\r\nPipename=file\r\nServer=\"file\"\r\n");
  const auto Set = [](HKEY Root, const std::string &Key, const char *Value,
                      const std::string &Data) {
    EXPECT_EQ(RegSetKeyValueA(Root, Key.c_str(), Value, REG_SZ, Data.c_str(), Data.size() + 1), 0);
  };
  // [Tez_Client] is the user's key Software\<Name>, where quotes stay on.
  Set(HKEY_LOCAL_MACHINE, Mapping + Name, "Tez_Client", "USR:Software\\" + Name);
  Set(HKEY_CURRENT_USER, "Software\\" + Name, "Pipename", "mapped");
  Set(HKEY_CURRENT_USER, "Software\\" + Name, "Server", "\"mapped\"");
  const Profile_Section Section("Tez_Client", Dir / Name);
  for (const char *Key : {"Pipename", "Server", "Editor"})
    EXPECT_EQ(Section.Value(Key), Profile_String(Key, "Tez_Client", Dir / Name)) << Key;
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, (Mapping + Name).c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, ("Software\\" + Name).c_str());
}

TEST(Local_Time, ImageIsTheDateOneBlankAndTheTime) {
  SYSTEMTIME Time{};
  Time.wYear = 2026;
  Time.wMonth = 12;
  Time.wDay = 8;
  Time.wHour = 14;
  Time.wMinute = 5;
  Time.wSecond = 9;
  // Whatever the user's formats, the year is in the date, the seconds are in
  // the time, and the date comes first.
  const std::string Image = Date_Time_Image(Time);
  const std::size_t Year = Image.find("2026"), Seconds = Image.find("09");
  ASSERT_NE(Year, std::string::npos) << Image;
  ASSERT_NE(Seconds, std::string::npos) << Image;
  EXPECT_LT(Year, Image.find(' ')) << Image;
  EXPECT_GT(Seconds, Image.find(' ')) << Image;
  // A date the system cannot format leaves its part empty; the blank stays.
  SYSTEMTIME Invalid = Time;
  Invalid.wMonth = 13;
  const std::string Timeless = Date_Time_Image(Invalid);
  ASSERT_FALSE(Timeless.empty());
  EXPECT_EQ(Timeless.front(), ' ') << Timeless;
  EXPECT_EQ(Timeless.substr(1), Image.substr(Image.find(' ') + 1));
  EXPECT_GE(Local_Time().wYear, 2024);
}

TEST(Command_Lines, AQuotedArgumentSplitsBackWhole) {
  // Blanks, tabs, quotes and backslashes in every position, in pairs.
  const std::string Alphabet = "a \t\"\\";
  std::vector<std::string> Arguments{""};
  for (const char A : Alphabet)
    for (const char B : Alphabet)
      Arguments.push_back({A, B}), Arguments.push_back({'\\', A, B, '\\'});
  std::string Line;
  for (const std::string &Argument : Arguments)
    (Line += Quote_Argument(Argument)) += ' ';
  EXPECT_EQ(Split_Arguments(Line), Arguments) << Line;
  // Quotes only where needed, backslashes doubled only before a quote.
  EXPECT_EQ(Quote_Argument("a\\b"), "a\\b");
  EXPECT_EQ(Quote_Argument("a b\\"), "\"a b\\\\\"");
  EXPECT_EQ(Quote_Argument(""), "\"\"");
  EXPECT_EQ(Split_Arguments(" a\\\\\\\"b \"c \"\"d\"\\\\\"\" e\t"),
            (std::vector<std::string>{"a\\\"b", "c \"d\\", "e"}));
}

TEST(Standard_Output, OnlyAConsoleIsAConsole) {
  const HANDLE Own = GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE Null = CreateFileA("NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  SetStdHandle(STD_OUTPUT_HANDLE, Null); // a character device, not a console
  EXPECT_FALSE(Standard_Output_Is_Console());
  SetStdHandle(STD_OUTPUT_HANDLE, Own);
  CloseHandle(Null);
}
