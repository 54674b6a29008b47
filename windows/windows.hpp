#pragma once

#include "core/duration.hpp"
#include "core/failure.hpp"
#include "windows/handle.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>
// windows.h first: these rely on it.
#include <psapi.h>
#include <tlhelp32.h>

// The root of the platform library: local time, threads, modules, profile
// strings, and starting processes.
namespace Windows {

using No_Module_Information = Named_Failure<"WINDOWS.NO_MODULE_INFORMATION">;
using Process_Creation_Failure = Named_Failure<"WINDOWS.PROCESS_CREATION_FAILURE">;

// A failure raised from a system error code carries it for the log: its
// reason is "system error N", its message the system's own text for the code
// on one line (empty when the system has none). Callers act on the name.
std::string Error_Reason(std::uint32_t Code);
std::string Error_Text(std::uint32_t Code);
template <typename Named> Named From_Error(std::uint32_t Code) {
  return Named(Error_Reason(Code), Error_Text(Code));
}

// The system's module description, 8-bit names.
using Module_Entry = MODULEENTRY32;

SYSTEMTIME Local_Time();

// The user's short date format, one blank, the user's time format; a part
// the system cannot format is left empty.
std::string Date_Time_Image(const SYSTEMTIME &Time);

std::uint32_t Current_Thread_Id();

// The first module of a process (0: this one), which is its executable.
Module_Entry First_Module(std::uint32_t Process_Id);

// The module of this process whose address range holds Address; the first
// address past a module still counts as inside it.
Module_Entry Module_Containing(const void *Address);

bool Is_Not_Main_Module(HMODULE Module);

// The module's file name without its last extension.
std::string Module_Base_Name(const Module_Entry &Entry);

std::string Module_Path(const Module_Entry &Entry);

// The value of Key in [Section] of the profile File, as the system returns it;
// empty when the key, section or file is absent. A value of 65,534 characters
// or more reads as its first 65,534.
std::string Profile_String(std::string_view Key, std::string_view Section, std::string_view File);

// [Section] of the profile File, read with one system call: each call opens
// and parses the file anew. Value answers exactly as Profile_String would;
// where the one read cannot tell for certain (a section too large for it, a
// key line without "=", a key name outside ASCII, a quoted value), it asks
// the system for that key.
class Profile_Section {
public:
  Profile_Section(std::string_view Section, std::string_view File);

  std::string Value(std::string_view Key) const;

  // What the one read tells of Key for certain: Value, or none where Value
  // asks the system.
  std::optional<std::string> Known_Value(std::string_view Key) const;

private:
  std::string Section_, File_;
  std::string Entries_; // "name=value" lines, each ended by a NUL
  bool Whole_ = false;  // false: the section did not fit one read
};

// The directory of the file holding this library's code, ending in a
// backslash; empty when the path holds none.
std::string Module_Directory();

// Starts a process and does not wait for it. With Arguments, the command line
// is Program, one blank, Arguments, and the system finds the program from it;
// without, Program is the executable file itself. An empty Environment or
// Directory is the caller's own; a non-empty Environment holds variables
// separated by single NULs. Null standard handles are the caller's own, and
// when all three are null nothing is inherited.
void Create_Process(std::string_view Program, std::string_view Arguments,
                    std::string_view Environment, std::string_view Directory, HANDLE Std_Input,
                    HANDLE Std_Output, HANDLE Std_Error, bool Detached);

// A program that a configured value names, as it is to be started.
struct Program {
  std::string File;         // its full path: the file that is started, and no other
  std::string Command_Part; // how the command line names it: quoted when it holds a blank or a tab
  std::string Options;      // what followed the program in the value, as written
};

// How a configured value names its program.
enum class Program_Value {
  // The whole value is the program file, relative to the working directory;
  // the command line names it as written.
  File,
  // A program, then options. The program is the quoted part of a value that
  // begins with a double quote; otherwise the whole value, or the longest
  // part up to a blank or a tab that names an existing ".exe" or ".com" file,
  // exactly as written (no extension added). A bare name (no "\", "/" or
  // ":") is looked for beside this program, in the system's folders and in
  // PATH's fully qualified folders, with ".exe" added when it has no
  // extension, and never in the working directory. The command line names
  // the full path.
  Command,
};

// Whether File ends in Extension (".exe"), letter case aside.
bool Has_Extension(std::string_view File, std::string_view Extension);
bool Has_Extension(std::wstring_view File, std::wstring_view Extension);

// The program Value names; none when it names no existing file.
std::optional<Program> Find_Program(std::string_view Value, Program_Value Kind);

// Where Find_Program looked for Value's program and what it found there, for
// a log that must say why none was taken.
std::string Program_Search_Account(std::string_view Value, Program_Value Kind);

// The arguments a program receives from Text by the usual split of its
// command line (the C runtime's): at blanks and tabs outside double quotes;
// 2n backslashes before a quote give n and the quote opens or closes, 2n+1
// give n and a literal quote; "" inside quotes is a literal quote.
std::vector<std::string> Split_Arguments(std::string_view Text);
std::vector<std::wstring> Split_Arguments(std::wstring_view Text);

// Argument as the usual split gives it back: bare unless it is empty or holds
// a blank, a tab or a double quote; else in quotes, with a quote escaped and
// backslashes doubled only before a quote.
std::string Quote_Argument(std::string_view Argument);
std::wstring Quote_Argument(std::wstring_view Argument);

// How a started program is set apart from its starter.
struct Start_Options {
  // A console of its own that is never shown, instead of the caller's.
  bool Hidden_Console = false;
  // The NUL device for its standard handles, and no other handle inherited.
  bool Null_Standard_Handles = false;
};

// What the system was asked to run, and the process it made.
struct Started_Program {
  std::string Application;  // the file the system started
  std::string Command_Line; // exactly as handed to it
  std::uint32_t Process_Id = 0;
  Object_Handle Process; // kept so that its end can be told

  // Its exit code once it has ended; none while it runs.
  std::optional<std::uint32_t> Exit_Code() const;
};

// Starts the program's file, never one found elsewhere, with the command
// line: its command part, its options, and, when not empty, a blank and
// Arguments. Does not wait for it. Every piece is converted once to the
// system's characters, and the checks below read that text: a piece that
// holds a NUL or a byte that is no character of the code page is refused. A
// batch file (".cmd", ".bat", its name read as the system runs it, without
// trailing dots and blanks) is run by the system's command interpreter, by
// its full path, with AutoRun and delayed expansion off and its arguments
// (the options and Arguments, split as a program would split them) each
// quoted, so that the batch file gets them whole and unexpanded; an argument
// that no quoting keeps whole there (one holding a "%", a double quote or a
// line break) is refused, as is a batch file whose own path holds a "%", and
// a command line longer than the interpreter reads. The interpreter gets the
// caller's environment and NoDefaultCurrentDirectoryInExePath. The program
// lives a life of its own: in a process group of its own (it does not get
// the caller's Ctrl+C and Ctrl+Break; it shares the caller's console unless
// it gets a hidden one, and ends when that console closes), and outside the
// caller's job unless the job forbids that. PROCESS_CREATION_FAILURE, whose
// reason says why (the system's error number and the command line, or the
// refusal), when it cannot start.
Started_Program Start_Program(const Program &Program, std::string_view Arguments,
                              const Start_Options &Options = {});

// The same with each of Arguments quoted, so that the program gets each one
// whole whatever blanks, quotes or backslashes it holds.
Started_Program Start_Program(const Program &Program, const std::vector<std::string_view> &Each,
                              const Start_Options &Options = {});

// True when standard output is a console, false when it is a pipe, a file
// or another device (NUL), which a reader may be reading to its end.
bool Standard_Output_Is_Console();

// Suspends the calling thread.
void Delay(Duration Span);

} // namespace Windows
