#include "windows/files.hpp"

#include "text/unsigned.hpp"
#include "windows/characters.hpp"
#include "windows/handle.hpp"

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

// The last step of a path, as the system takes it.
std::wstring_view Last_Step(std::wstring_view Path) {
  const std::size_t Separator = Path.find_last_of(L"\\/:");
  if (Separator != std::wstring_view::npos) Path.remove_prefix(Separator + 1);
  return Without_Trailing_Dots_And_Blanks(Path);
}

bool Is_Named(HANDLE File, std::wstring_view Name) {
  // Room for the longest path the system knows, 32,767 units.
  std::vector<DWORD> Buffer((sizeof(FILE_NAME_INFO) + 65'536) / sizeof(DWORD));
  auto *const Info = reinterpret_cast<FILE_NAME_INFO *>(Buffer.data());
  // A file system that keeps the name to itself shows its links by their
  // reparse points.
  if (GetFileInformationByHandleEx(File, FileNameInfo, Info,
                                   static_cast<DWORD>(Buffer.size() * sizeof(DWORD))) != TRUE)
    return true;
  const std::wstring_view Own = Last_Step({Info->FileName, Info->FileNameLength / sizeof(wchar_t)});
  const std::wstring_view Given = Last_Step(Name);
  return CompareStringOrdinal(Own.data(), static_cast<int>(Own.size()), Given.data(),
                              static_cast<int>(Given.size()), TRUE) == CSTR_EQUAL;
}

} // namespace

std::wstring_view Without_Trailing_Dots_And_Blanks(std::wstring_view Name) {
  return Name.substr(0, Name.find_last_not_of(L". ") + 1);
}

bool Is_Link(HANDLE File, std::wstring_view Name) {
  BY_HANDLE_FILE_INFORMATION Information;
  if (GetFileInformationByHandle(File, &Information) != TRUE || Information.nNumberOfLinks > 1)
    return true;
  // Other reparse points (a file kept in the cloud, say) hold the file's own
  // data: only those that stand for another name are links.
  if (Has_Attributes(Information.dwFileAttributes, FILE_ATTRIBUTE_REPARSE_POINT)) {
    FILE_ATTRIBUTE_TAG_INFO Tag;
    if (GetFileInformationByHandleEx(File, FileAttributeTagInfo, &Tag, sizeof Tag) != TRUE ||
        IsReparseTagNameSurrogate(Tag.ReparseTag))
      return true;
  }
  return !Is_Named(File, Name);
}

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

void Delete_Unused(std::string_view Name) {
  const std::wstring Wide = Characters::Widened(Name);
  // Without write sharing the open fails while anyone has the file open for
  // writing; the link itself is opened, never the file it names.
  const File_Handle File(CreateFileW(Wide.c_str(), DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!File) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return;
    throw Access_Denied();
  }
  if (Is_Link(File.Get(), Wide)) throw Access_Denied("a link");
  FILE_DISPOSITION_INFO Disposition{TRUE};
  if (SetFileInformationByHandle(File.Get(), FileDispositionInfo, &Disposition,
                                 sizeof Disposition) != TRUE)
    throw Access_Denied();
}

std::vector<Found_File> Find_Files(std::string_view Pattern) {
  std::vector<Found_File> Found;
  WIN32_FIND_DATAA Data;
  const Find_Handle Search(FindFirstFileExA(std::string(Pattern).c_str(), FindExInfoBasic, &Data,
                                            FindExSearchNameMatch, nullptr, 0));
  if (!Search) return Found;
  do {
    if (!Is_Directory(static_cast<std::uint32_t>(Data.dwFileAttributes)))
      Found.push_back(
          {Data.cFileName, Unsigned::To_Unsigned_64(Data.ftLastWriteTime.dwHighDateTime,
                                                    Data.ftLastWriteTime.dwLowDateTime)});
  } while (FindNextFileA(Search.Get(), &Data) == TRUE);
  return Found;
}

} // namespace Windows::Files
