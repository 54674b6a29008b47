#pragma once

// Helpers shared by the tests: scratch directories on the real file system,
// whole-file reads and writes, and running the project's own programs.
#include <exception>
#include <string>
#include <string_view>
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
};

// Argument as the C runtime reads it back from a command line: in quotes
// when it needs them, backslashes doubled only before a quote.
std::string Quoted(const std::string &Argument);

// Runs Program (a path) with the command line Program, then each argument
// quoted as the C runtime reads it back; standard output and error go to
// files (a pipe would stay open as long as any grandchild lives).
Run_Result Run(const std::string &Program, const std::vector<std::string> &Arguments,
               const std::string &Directory = {});

} // namespace Test_Support
