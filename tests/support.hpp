#pragma once

// Helpers shared by the tests: scratch directories on the real file system,
// whole-file reads and writes, and running the project's own programs.
#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Test_Support {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class Scratch_Directory {
public:
  Scratch_Directory();
  ~Scratch_Directory();
  Scratch_Directory(const Scratch_Directory &) = delete;
  Scratch_Directory &operator=(const Scratch_Directory &) = delete;

  // The directory, ending in a backslash.
  const std::string &Path() const { return Path_; }
  std::string operator/(std::string_view Name) const { return Path_ + std::string(Name); }

private:
  std::string Path_;
};

void Write_File(const std::string &Name, std::string_view Content);
std::string Read_File(const std::string &Name);

// Whether this console may write under HKEY_LOCAL_MACHINE, and create files
// in Folder (ending in a backslash): an administrator's may, a user's not.
bool Machine_Settings_Writable();
bool Files_Creatable_In(const std::string &Folder);
// The skip message of a test that needs an administrator for What.
std::string Needs_Administrator(const std::string &What);

// The client's usage text exactly as printed.
extern const char *const Usage_Text;

// Thrown as a failure in flight, for code that describes caught failures.
template <typename Exception> std::exception_ptr Caught(Exception Thrown) {
  try {
    throw Thrown;
  } catch (...) {
    return std::current_exception();
  }
}

// A file handle that a started process may inherit.
void *Inheritable_File(const std::string &Name, unsigned long Access, unsigned long Disposition);

// The directory of the running test program (build/bin), ending in a backslash.
std::string Program_Directory();

struct Run_Result {
  unsigned long Exit_Code;
  std::string Output; // standard output, bytes unchanged
  std::string Errors; // standard error
  unsigned long Process_Id;
  unsigned long long Started, Ended; // the process's times, as FILETIMEs
  bool Hung = false;                 // stopped at the guard
};

// Variables set over the caller's environment for a started process.
using Environment = std::vector<std::pair<std::string, std::string>>;

// Far beyond any wait of a healthy run: only a hang reaches it.
constexpr unsigned long Hang_Limit_Ms = 120'000;

// Argument as the C runtime reads it back from a command line: in quotes
// when it needs them, backslashes doubled only before a quote. For a program
// path, also how the client names it on a command line.
std::string Quoted(const std::string &Argument);

// A started program's command line as given, when it began with Program
// left bare although its path holds a blank: Wine puts such a program in
// quotes, Windows passes the command line on unchanged.
std::string As_Given(const std::string &Command_Line, const std::string &Program);

// Starts Program (a path) with the command line Program, then each argument
// quoted, then Wide_Arguments (in the system's own characters, for what the
// code page cannot hold), and Extra in its environment; Output and Error
// become its standard handles (none of ours when null). Returns the process;
// throws when it cannot start.
void *Start_Process(const std::string &Program, const std::vector<std::string> &Arguments,
                    const std::string &Directory, const Environment &Extra, void *Output,
                    void *Errors, unsigned long *Process_Id,
                    const std::wstring &Wide_Arguments = {});

// Starts Program as Start_Process does; standard output and error go to
// files (a pipe would stay open as long as any grandchild lives).
class Started_Run {
public:
  Started_Run(const std::string &Program, const std::vector<std::string> &Arguments,
              const std::string &Directory = {}, const Environment &Extra = {},
              const std::wstring &Wide_Arguments = {});
  ~Started_Run(); // waits for the program's end
  Started_Run(const Started_Run &) = delete;
  Started_Run &operator=(const Started_Run &) = delete;

  // Waits for the program's end (stopping it at the hang limit) and reads
  // what it printed.
  Run_Result Finish();

private:
  Scratch_Directory Capture_;
  std::string Out_Name_, Err_Name_;
  void *Process_ = nullptr;
  unsigned long Process_Id_ = 0;
};

// What an ended process left: its exit code and times, with what it printed.
Run_Result Result_Of(void *Process, unsigned long Process_Id, std::string Output,
                     std::string Errors = {});

Run_Result Run(const std::string &Program, const std::vector<std::string> &Arguments,
               const std::string &Directory = {}, const Environment &Extra = {});

// Waits until no process started by one of the given runs is running, but
// for those named Except, which stay. Returns each waited-for process's
// program name and exit code; a test fails when one hangs.
std::vector<std::pair<std::string, unsigned long>>
Await_Children(const std::vector<Run_Result> &Parents, std::string_view Except = {});

} // namespace Test_Support
