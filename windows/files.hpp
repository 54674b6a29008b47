#pragma once

#include "core/failure.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

// Operations on files named by path (8-bit names, the system's "A" calls,
// or their UTF-16 form where only a wide call can do the work). No state of
// its own.
namespace Windows::Files {

using File_Not_Found = Named_Failure<"WINDOWS.FILES.FILE_NOT_FOUND">;
using Access_Denied = Named_Failure<"WINDOWS.FILES.ACCESS_DENIED">;
using Creation_Failure = Named_Failure<"WINDOWS.FILES.CREATION_FAILURE">;

constexpr std::uint32_t Directory_Attribute = FILE_ATTRIBUTE_DIRECTORY;

struct File_Information {
  std::uint32_t Attributes;
  FILETIME Creation_Time;
  FILETIME Last_Access_Time;
  FILETIME Last_Write_Time;
  std::uint64_t Size;
};

// True for an existing file that is not a directory; never raises. With
// Exact_Case the stored name of the file must end Name letter for letter.
bool File_Exists(std::string_view Name, bool Exact_Case);

inline bool Has_Attributes(std::uint32_t Attributes, std::uint32_t Mask) {
  return (Attributes & Mask) == Mask;
}
inline bool Is_Directory(std::uint32_t Attributes) {
  return Has_Attributes(Attributes, Directory_Attribute);
}
// FILE_NOT_FOUND when Name cannot be queried.
bool Is_Directory(std::string_view Name);

// FILE_NOT_FOUND when the system cannot query Name, whatever the reason.
File_Information Get_Information(std::string_view Name);

// Replaces an existing To. FILE_NOT_FOUND on any refusal.
void Rename(std::string_view From, std::string_view To);

// A missing file is no error; any other refusal raises ACCESS_DENIED.
void Delete(std::string_view Name);

// The name of an existing file or folder in its short form, each part by its
// 8.3 name where it has one; none when the system gives none.
std::optional<std::wstring> Short_Path(std::wstring_view Name);

// Deletes Name unless a process has it open for writing, and never through a
// link: a link, or a file with other names, is left alone (Is_Link). A
// missing file is no error; every refusal raises ACCESS_DENIED.
void Delete_Unused(std::string_view Name);

struct Found_File {
  std::string Name;              // the file's own name, without its folder
  std::uint64_t Last_Write_Time; // FILETIME units
};

// The files (not folders) that Pattern matches, wildcards in its last step;
// none when the folder cannot be read.
std::vector<Found_File> Find_Files(std::string_view Pattern);

// Name as the system takes a file name: without the dots and blanks that
// end it, which the system drops ("ed.cmd." is "ed.cmd").
std::wstring_view Without_Trailing_Dots_And_Blanks(std::wstring_view Name);

// True when File, opened without following a link at the last step of Name,
// is a link: a symbolic link or junction, a file with other names (hard
// links), or a file whose own name is not that last step (a system that
// follows links whatever it is asked, as Wine does, shows a link so). True
// also when the system cannot tell the file's attributes.
bool Is_Link(HANDLE File, std::wstring_view Name);

} // namespace Windows::Files
