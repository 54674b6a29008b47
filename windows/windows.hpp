#pragma once

#include "core/duration.hpp"
#include "core/failure.hpp"

#include <cstdint>
#include <string>
#include <string_view>

#include <windows.h>
// windows.h first: these rely on it.
#include <psapi.h>
#include <tlhelp32.h>

// The root of the platform library: local time, threads, modules, profile
// strings, and starting processes.
namespace Windows {

using No_Module_Information = Named_Failure<"WINDOWS.NO_MODULE_INFORMATION">;
using Process_Creation_Failure = Named_Failure<"WINDOWS.PROCESS_CREATION_FAILURE">;

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
// empty when the key, section or file is absent.
std::string Profile_String(std::string_view Key, std::string_view Section, std::string_view File);

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

// Suspends the calling thread.
void Delay(Duration Span);

} // namespace Windows
