#include "windows/files.hpp"

#include "text/unsigned.hpp"

#include <cstring>
#include <string>

namespace Windows::Files {

namespace {

bool File_Exists_Exact(const std::string &Name) {
  WIN32_FIND_DATAA Found;
  const HANDLE Search = FindFirstFileA(Name.c_str(), &Found);
  if (Search == INVALID_HANDLE_VALUE) return false;
  FindClose(Search);
  if (Is_Directory(static_cast<std::uint32_t>(Found.dwFileAttributes))) return false;
  const std::size_t Length = strnlen(Found.cFileName, sizeof Found.cFileName);
  // Only the tail is compared: the stored name carries the letter case the
  // caller must have used.
  return Name.size() >= Length &&
         Name.compare(Name.size() - Length, Length, Found.cFileName, Length) == 0;
}

} // namespace

bool File_Exists(std::string_view Name, bool Exact_Case) {
  if (Exact_Case) return File_Exists_Exact(std::string(Name));
  try {
    return !Is_Directory(Name);
  } catch (const File_Not_Found &) {
    return false;
  }
}

bool Is_Directory(std::string_view Name) {
  return Is_Directory(Get_Information(Name).Attributes);
}

File_Information Get_Information(std::string_view Name) {
  WIN32_FILE_ATTRIBUTE_DATA Data;
  if (!GetFileAttributesExA(std::string(Name).c_str(), GetFileExInfoStandard, &Data))
    throw File_Not_Found();
  return {Data.dwFileAttributes, Data.ftCreationTime, Data.ftLastAccessTime, Data.ftLastWriteTime,
          Unsigned::To_Unsigned_64(Data.nFileSizeHigh, Data.nFileSizeLow)};
}

void Rename(std::string_view From, std::string_view To) {
  if (!MoveFileExA(std::string(From).c_str(), std::string(To).c_str(), MOVEFILE_REPLACE_EXISTING))
    throw File_Not_Found();
}

void Delete(std::string_view Name) {
  if (DeleteFileA(std::string(Name).c_str()) == TRUE) return;
  if (GetLastError() == ERROR_FILE_NOT_FOUND) return;
  throw Access_Denied();
}

std::optional<std::wstring> Short_Path(std::wstring_view Name) {
  const std::wstring Long(Name);
  std::wstring Short(MAX_PATH, L'\0');
  for (;;) {
    const DWORD Length =
        GetShortPathNameW(Long.c_str(), Short.data(), static_cast<DWORD>(Short.size()));
    if (Length == 0) return std::nullopt;
    if (Length < Short.size()) return Short.substr(0, Length);
    Short.resize(Length);
  }
}

} // namespace Windows::Files
