#pragma once

// The frame of the fuzz tests: a seeded generator, the loop that feeds one
// input per seed and names the seed of the first input that fails, a model of
// the integer literals written in the test, and real runs of the programs
// that wait for every process the program started.
#include "helpers/fuzz_wire.hpp"
#include "support.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace Fuzz {

class Random {
public:
  explicit Random(std::uint64_t Seed) : State_(Seed) {}

  std::uint64_t Next();
  // 0 .. Bound - 1.
  std::size_t Below(std::size_t Bound) { return static_cast<std::size_t>(Next() % Bound); }
  bool Percent(unsigned Chance) { return Below(100) < Chance; }
  char Byte() { return static_cast<char>(Next()); }
  std::string Bytes(std::size_t Count);
  template <typename T> const T &Pick(const std::vector<T> &Choices) {
    return Choices[Below(Choices.size())];
  }
  // Mostly short, now and then up to Longest.
  std::size_t Length(std::size_t Longest) { return Below(Percent(80) ? 9 : Longest + 1); }

private:
  std::uint64_t State_;
};

// Feeds Default_Count inputs, seeds 1 up, to One; scripts/fuzz sets the count
// and the first seed through TEZ_FUZZ_COUNT and TEZ_FUZZ_SEED. Stops at the
// first input that fails and names the command that repeats it.
void Run(std::string_view Name, std::uint64_t Default_Count,
         const std::function<void(Random &)> &One);

// Adds to a tally of what the inputs reached, printed after the run: a
// generator that stops reaching a case shows there.
void Tally(const std::string &What, std::uint64_t Count = 1);

// The integer literals of the command line and the configuration, as a model
// of the test's own: the value, or nothing for a text that is no literal or
// does not fit 32 bits.
std::optional<std::int32_t> Literal_Value(std::string_view Text);

// Value written as some literal of the grammar.
std::string Literal_For(Random &R, std::int64_t Value);
// A literal, a near miss or noise.
std::string Literal_Text(Random &R);

using Environment = Test_Support::Environment;

// Runs Program as Test_Support::Run does, then waits until every process it
// started has ended too; those that failed are tallied.
Test_Support::Run_Result Run_Program(const std::string &Program,
                                     const std::vector<std::string> &Arguments,
                                     const std::string &Directory, const Environment &Extra);

// A process a test starts and ends itself, with no standard handles of ours.
class Helper_Process {
public:
  Helper_Process(const std::string &Program, const std::vector<std::string> &Arguments,
                 const Environment &Extra);
  ~Helper_Process();
  Helper_Process(const Helper_Process &) = delete;
  Helper_Process &operator=(const Helper_Process &) = delete;

  // Until it ended; false if it was still running at the guard.
  bool Wait_For_End();
  unsigned long Exit_Code() const;
  void *Handle() const { return Process_; }

private:
  void *Process_ = nullptr;
};

// A manual-reset event with a name of its own, for a helper to open.
class Named_Event {
public:
  Named_Event();
  ~Named_Event();
  Named_Event(const Named_Event &) = delete;
  Named_Event &operator=(const Named_Event &) = delete;

  const std::string &Name() const { return Name_; }
  void Set();
  // Until set or until Process ended; true when set.
  bool Wait_Or_End_Of(const Helper_Process &Process);

private:
  std::string Name_;
  void *Event_;
};

// The stand-in server of the fuzz tests started by the test itself on Pipe.
class Stand_In_Server {
public:
  Stand_In_Server(const std::string &Program, const std::string &Pipe, const Environment &Extra);

  // False when it could not create the pipe.
  bool Listening() const { return Listening_; }
  // Ends it if no client came; otherwise waits for the end of the
  // conversation. False when it hangs.
  bool Finish();

private:
  Named_Event Ready_, Quit_;
  Helper_Process Process_;
  bool Listening_;
};

// The settings of the configuration file in the order they are sent.
struct Setting {
  char Code;
  std::string Key;
};
extern const std::vector<Setting> Settings;

// For the fuzz tests that run the real client: the programs, and a scratch
// directory holding a source file, copies of the stand-in server and editor
// in a folder whose name holds a blank, and beside that folder a decoy
// "fuzz.exe" that an unquoted command line would start; it records as an
// editor does.
class Client_Fuzz : public ::testing::Test {
protected:
  void SetUp() override;

  Test_Support::Scratch_Directory Dir;
  const std::string Bin = Test_Support::Program_Directory();
  const std::string Client = Bin + "Tez_Client.exe";
  const std::string Server = Bin + "tez_fuzz_server.exe";
  const std::string Editor = Bin + "tez_fuzz_editor.exe";
  const std::string Spaced_Server = Dir / "fuzz server\\tez_fuzz_server.exe";
  const std::string Spaced_Editor = Dir / "fuzz editor\\tez_fuzz_editor.exe";
  const std::string Source = Dir / "main.src";
  const std::string Config = Dir / "tez.ini";
  const std::string Editor_Record = Dir / "editor.txt";

  // Arguments after the configuration file for a random query, and the
  // request it makes.
  std::pair<std::vector<std::string>, std::string> Query(Random &R) const;
};

// The values of the Key lines of a record, decoded; none for a missing file.
std::vector<std::string> Record_Values(const std::string &Record_File, std::string_view Key);

} // namespace Fuzz
