#include "fuzz_support.hpp"

#include "support.hpp"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <regex>
#include <stdexcept>

#include <gtest/gtest.h>
#include <windows.h>

namespace Fuzz {

namespace {

std::uint64_t Number_Variable(const char *Name, std::uint64_t Default) {
  const char *const Text = std::getenv(Name);
  return Text && *Text ? std::strtoull(Text, nullptr, 10) : Default;
}

std::map<std::string, std::uint64_t> &Tallies() {
  static std::map<std::string, std::uint64_t> All;
  return All;
}

} // namespace

void Tally(const std::string &What, std::uint64_t Count) {
  Tallies()[What] += Count;
}

std::uint64_t Random::Next() {
  // splitmix64: every seed, 0 included, gives a full-period stream.
  std::uint64_t Z = (State_ += 0x9E3779B97F4A7C15ull);
  Z = (Z ^ (Z >> 30)) * 0xBF58476D1CE4E5B9ull;
  Z = (Z ^ (Z >> 27)) * 0x94D049BB133111EBull;
  return Z ^ (Z >> 31);
}

std::string Random::Bytes(std::size_t Count) {
  std::string Text(Count, '\0');
  for (char &C : Text)
    C = Byte();
  return Text;
}

void Run(std::string_view Name, std::uint64_t Default_Count,
         const std::function<void(Random &)> &One) {
  const std::uint64_t Count = Number_Variable("TEZ_FUZZ_COUNT", Default_Count);
  const std::uint64_t First = Number_Variable("TEZ_FUZZ_SEED", 1);
  const std::uint64_t Report_Every = Number_Variable("TEZ_FUZZ_PROGRESS", 0);
  for (std::uint64_t Seed = First; Seed < First + Count; ++Seed) {
    {
      SCOPED_TRACE("repeat with: scripts/fuzz " + std::string(Name) + " 1 " + std::to_string(Seed));
      Random R(Seed);
      try {
        One(R);
      } catch (const std::exception &Failure) {
        ADD_FAILURE() << "the input raised: " << Failure.what();
      }
    }
    if (::testing::Test::HasFailure()) {
      std::printf("%.*s: seed %llu fails (after %llu inputs)\n", static_cast<int>(Name.size()),
                  Name.data(), static_cast<unsigned long long>(Seed),
                  static_cast<unsigned long long>(Seed - First));
      return;
    }
    if (Report_Every && (Seed - First + 1) % Report_Every == 0) {
      std::printf("%.*s: %llu inputs passed\n", static_cast<int>(Name.size()), Name.data(),
                  static_cast<unsigned long long>(Seed - First + 1));
      std::fflush(stdout);
    }
  }
  std::printf("%.*s: %llu inputs, seeds %llu to %llu, every property held\n",
              static_cast<int>(Name.size()), Name.data(), static_cast<unsigned long long>(Count),
              static_cast<unsigned long long>(First),
              static_cast<unsigned long long>(First + Count - 1));
  for (const auto &[What, Number] : Tallies())
    std::printf("  %s: %llu\n", What.c_str(), static_cast<unsigned long long>(Number));
  Tallies().clear();
}

std::optional<std::int32_t> Literal_Value(std::string_view Text) {
  // Outside this alphabet nothing can match; inside it the expression below
  // meets only plain ASCII.
  if (Text.find_first_not_of(" \t+-0123456789_#:ABCDEFabcdef") != std::string_view::npos)
    return std::nullopt;
  static const std::regex Grammar(R"([ \t]*([+-]?)([0-9]+(?:_[0-9]+)*))"
                                  R"((?:([#:])([0-9A-Fa-f]+(?:_[0-9A-Fa-f]+)*)\3)?)"
                                  R"((?:[Ee]\+?([0-9]+(?:_[0-9]+)*))? *)");
  std::match_results<std::string_view::const_iterator> Parts;
  if (!std::regex_match(Text.begin(), Text.end(), Parts, Grammar)) return std::nullopt;
  constexpr std::uint64_t Cap = std::uint64_t{1} << 40;
  const auto Number = [&](const std::string &Digits, std::uint64_t Base) -> std::uint64_t {
    std::uint64_t Value = 0;
    for (const char C : Digits) {
      if (C == '_') continue;
      const std::uint64_t Digit = std::isdigit(static_cast<unsigned char>(C))
                                      ? static_cast<std::uint64_t>(C - '0')
                                      : static_cast<std::uint64_t>(std::toupper(C) - 'A' + 10);
      if (Digit >= Base) return Cap + 1; // marks a digit outside the base
      Value = std::min(Value * Base + Digit, Cap);
    }
    return Value;
  };
  std::uint64_t Base = 10, Value = Number(Parts[2].str(), 10);
  if (Parts[3].matched) {
    if (Value < 2 || Value > 16) return std::nullopt;
    Base = Value;
    Value = Number(Parts[4].str(), Base);
    if (Value > Cap) return std::nullopt;
  }
  if (Parts[5].matched)
    for (std::uint64_t Power = Number(Parts[5].str(), 10); Power > 0 && Value != 0 && Value < Cap;
         --Power)
      Value = std::min(Value * Base, Cap);
  const bool Negative = Parts[1].str() == "-";
  if (Value > (Negative ? 2147483648ull : 2147483647ull)) return std::nullopt;
  return static_cast<std::int32_t>(Negative ? -static_cast<std::int64_t>(Value)
                                            : static_cast<std::int64_t>(Value));
}

std::string Literal_For(Random &R, std::int64_t Value) {
  const bool Negative = Value < 0;
  std::uint64_t Magnitude =
      Negative ? static_cast<std::uint64_t>(-Value) : static_cast<std::uint64_t>(Value);
  const unsigned Base = R.Percent(60) ? 10 : 2 + static_cast<unsigned>(R.Below(15));
  std::string Digits;
  do {
    const unsigned Digit = static_cast<unsigned>(Magnitude % Base);
    Digits.insert(
        Digits.begin(),
        static_cast<char>(Digit < 10 ? '0' + Digit : (R.Percent(50) ? 'A' : 'a') + Digit - 10));
    Magnitude /= Base;
  } while (Magnitude > 0);
  if (R.Percent(20)) Digits.insert(0, R.Below(3), '0');
  if (R.Percent(20) && Digits.size() > 1) Digits.insert(1 + R.Below(Digits.size() - 1), "_");
  std::string Text = Negative ? "-" : (R.Percent(10) ? "+" : "");
  if (Base == 10) {
    Text += Digits;
  } else {
    const char Delimiter = R.Percent(70) ? '#' : ':';
    Text += std::to_string(Base) + Delimiter + Digits + Delimiter;
  }
  if (R.Percent(10)) Text += R.Percent(50) ? "E0" : "e+0";
  if (R.Percent(15)) Text.insert(0, R.Percent(50) ? " " : "\t ");
  if (R.Percent(15)) Text += "  ";
  return Text;
}

std::string Literal_Text(Random &R) {
  static const std::vector<std::int64_t> Edges{
      0,          1,           -1,          4095, 4096, 1048575, 1048576, 2147483647,
      2147483648, -2147483648, -2147483649, 999,  1000, 1001,    65536};
  switch (R.Below(6)) {
  case 0:
    return Literal_For(R, R.Pick(Edges));
  case 1:
    return Literal_For(R, static_cast<std::int64_t>(R.Below(5000)) - 100);
  case 2: {
    // One byte changed, added or taken away.
    std::string Text = Literal_For(R, static_cast<std::int64_t>(R.Below(2000000)));
    const std::size_t At = R.Below(Text.size() + 1);
    static const std::string Near = " \t+-_#:eE0189aAfFgG.,x";
    switch (R.Below(3)) {
    case 0:
      Text.insert(At, 1, Near[R.Below(Near.size())]);
      break;
    case 1:
      if (At < Text.size()) Text.erase(At, 1);
      break;
    default:
      if (At < Text.size()) Text[At] = Near[R.Below(Near.size())];
    }
    return Text;
  }
  case 3: {
    // A literal with an exponent, in range or not.
    const unsigned Base = R.Percent(50) ? 10 : 2 + static_cast<unsigned>(R.Below(15));
    std::string Text = Base == 10 ? std::to_string(R.Below(100))
                                  : std::to_string(Base) + "#" + std::to_string(R.Below(2)) + "#";
    return Text + (R.Percent(50) ? "E" : "e") + (R.Percent(30) ? "+" : "") +
           std::to_string(R.Below(40));
  }
  case 4: {
    static const std::string Alphabet = " \t+-0123456789_#:ABCDEFabcdefE";
    std::string Text;
    for (std::size_t I = R.Length(30); I > 0; --I)
      Text += Alphabet[R.Below(Alphabet.size())];
    return Text;
  }
  default:
    return R.Bytes(R.Length(20));
  }
}

Test_Support::Run_Result Run_Program(const std::string &Program,
                                     const std::vector<std::string> &Arguments,
                                     const std::string &Directory, const Environment &Extra) {
  Test_Support::Run_Result Result = Test_Support::Run(Program, Arguments, Directory, Extra);
  for (const auto &[Name, Code] : Test_Support::Await_Children({Result}))
    if (Code != 0) Tally(Name + " ended with " + std::to_string(Code));
  return Result;
}

Helper_Process::Helper_Process(const std::string &Program,
                               const std::vector<std::string> &Arguments, const Environment &Extra)
    : Process_(
          Test_Support::Start_Process(Program, Arguments, {}, Extra, nullptr, nullptr, nullptr)) {}

Helper_Process::~Helper_Process() {
  if (WaitForSingleObject(Process_, 0) == WAIT_TIMEOUT) TerminateProcess(Process_, 99);
  CloseHandle(Process_);
}

bool Helper_Process::Wait_For_End() {
  return WaitForSingleObject(Process_, Test_Support::Hang_Limit_Ms) == WAIT_OBJECT_0;
}

unsigned long Helper_Process::Exit_Code() const {
  DWORD Code = 0;
  GetExitCodeProcess(Process_, &Code);
  return Code;
}

Named_Event::Named_Event() {
  static std::atomic<unsigned> Counter{0};
  Name_ = "tez_fuzz_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(Counter++);
  Event_ = CreateEventA(nullptr, TRUE, FALSE, Name_.c_str());
}

Named_Event::~Named_Event() {
  CloseHandle(Event_);
}

void Named_Event::Set() {
  SetEvent(Event_);
}

bool Named_Event::Wait_Or_End_Of(const Helper_Process &Process) {
  const HANDLE Handles[2] = {Event_, Process.Handle()};
  return WaitForMultipleObjects(2, Handles, FALSE, Test_Support::Hang_Limit_Ms) == WAIT_OBJECT_0;
}

Stand_In_Server::Stand_In_Server(const std::string &Program, const std::string &Pipe,
                                 const Environment &Extra)
    : Process_(Program, {Pipe},
               [&] {
                 Environment All = Extra;
                 All.emplace_back("TEZ_FUZZ_READY", Ready_.Name());
                 All.emplace_back("TEZ_FUZZ_QUIT", Quit_.Name());
                 return All;
               }()),
      Listening_(Ready_.Wait_Or_End_Of(Process_)) {}

bool Stand_In_Server::Finish() {
  Quit_.Set();
  return Process_.Wait_For_End();
}

const std::vector<Setting> Settings{{'E', "Errors"},   {'F', "Format"}, {'I', "Editor"},
                                    {'X', "Compiler"}, {'P', "Path"},   {'T', "Timeout"},
                                    {'U', "Units"}};

void Client_Fuzz::SetUp() {
  Test_Support::Write_File(Source, "procedure Main is begin null; end Main;\r\n");
  CreateDirectoryA((Dir / "fuzz server").c_str(), nullptr);
  CreateDirectoryA((Dir / "fuzz editor").c_str(), nullptr);
  ASSERT_TRUE(CopyFileA(Server.c_str(), Spaced_Server.c_str(), FALSE));
  ASSERT_TRUE(CopyFileA(Editor.c_str(), Spaced_Editor.c_str(), FALSE));
  ASSERT_TRUE(CopyFileA(Editor.c_str(), (Dir / "fuzz.exe").c_str(), FALSE));
}

std::pair<std::vector<std::string>, std::string> Client_Fuzz::Query(Random &R) const {
  switch (R.Below(4)) {
  case 0:
    return {{"syntax", Source}, "S" + Source};
  case 1:
    return {{"Unused", Source}, "A" + Source};
  case 2:
    return {{"ref", Source, "3", "7"}, "R" + Source + "<3,7>"};
  default:
    return {{"L", Source, "16#FF#", "-3"}, "L" + Source + "<16#FF#,-3>"};
  }
}

std::vector<std::string> Record_Values(const std::string &Record_File, std::string_view Key) {
  std::vector<std::string> Values;
  if (GetFileAttributesA(Record_File.c_str()) == INVALID_FILE_ATTRIBUTES) return Values;
  const std::string Record = Test_Support::Read_File(Record_File);
  const std::string Prefix = std::string(Key) + "=";
  for (std::size_t Start = 0; Start < Record.size();) {
    std::size_t End = Record.find("\r\n", Start);
    if (End == std::string::npos) End = Record.size();
    const std::string_view Line(Record.data() + Start, End - Start);
    if (Line.starts_with(Prefix)) Values.push_back(Fuzz_Wire::Unhex(Line.substr(Prefix.size())));
    Start = End + 2;
  }
  return Values;
}

} // namespace Fuzz
