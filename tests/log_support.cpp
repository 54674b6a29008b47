#include "log_support.hpp"

#include <regex>

namespace Test_Support {

namespace {

const char *const Orvane = "Software\\Orvane";

bool Key_Exists(HKEY Root, const std::string &Key) {
  HKEY Opened;
  if (RegOpenKeyExA(Root, Key.c_str(), 0, KEY_READ, &Opened) != ERROR_SUCCESS) return false;
  RegCloseKey(Opened);
  return true;
}

void Create_Key(HKEY Root, const std::string &Key) {
  HKEY Created;
  if (RegCreateKeyExA(Root, Key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &Created,
                      nullptr) == ERROR_SUCCESS)
    RegCloseKey(Created);
}

// Removes every value of the key (not its subkeys); false when it cannot.
bool Clear_Values(HKEY Root, const std::string &Key) {
  HKEY Opened;
  if (RegOpenKeyExA(Root, Key.c_str(), 0, KEY_READ | KEY_SET_VALUE, &Opened) != ERROR_SUCCESS)
    return false;
  char Name[16384];
  DWORD Length = sizeof Name;
  while (RegEnumValueA(Opened, 0, Name, &Length, nullptr, nullptr, nullptr, nullptr) ==
             ERROR_SUCCESS &&
         RegDeleteValueA(Opened, Name) == ERROR_SUCCESS)
    Length = sizeof Name;
  RegCloseKey(Opened);
  return true;
}

// Removes the key when it holds nothing: no subkey and no value.
void Remove_If_Empty(HKEY Root, const std::string &Key) {
  HKEY Opened;
  if (RegOpenKeyExA(Root, Key.c_str(), 0, KEY_READ, &Opened) != ERROR_SUCCESS) return;
  DWORD Subkeys = 1, Values = 1;
  RegQueryInfoKeyA(Opened, nullptr, nullptr, nullptr, &Subkeys, nullptr, nullptr, &Values, nullptr,
                   nullptr, nullptr, nullptr);
  RegCloseKey(Opened);
  if (Subkeys == 0 && Values == 0) RegDeleteKeyA(Root, Key.c_str());
}

std::string Folder_Of(const std::string &File_Name) {
  const std::size_t Slash = File_Name.find_last_of('\\');
  return Slash == std::string::npos ? std::string() : File_Name.substr(0, Slash);
}

bool Exists(const std::string &Name) {
  return GetFileAttributesA(Name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

Saved_Key::Saved_Key(HKEY Root, const std::string &Key)
    : Root_(Root), Key_(Key), Key_Existed_(Key_Exists(Root, Key)),
      Parent_Existed_(Key_Exists(Root, Orvane)) {
  HKEY Opened;
  if (!Key_Existed_ ||
      RegOpenKeyExA(Root, Key.c_str(), 0, KEY_QUERY_VALUE, &Opened) != ERROR_SUCCESS)
    return;
  std::vector<char> Name(16384);
  std::vector<BYTE> Data(1 << 20);
  for (DWORD Index = 0;; ++Index) {
    DWORD Name_Length = static_cast<DWORD>(Name.size()),
          Data_Size = static_cast<DWORD>(Data.size());
    DWORD Type = 0;
    if (RegEnumValueA(Opened, Index, Name.data(), &Name_Length, nullptr, &Type, Data.data(),
                      &Data_Size) != ERROR_SUCCESS)
      break;
    Values_.push_back({std::string(Name.data(), Name_Length), Type,
                       std::string(reinterpret_cast<const char *>(Data.data()), Data_Size)});
  }
  RegCloseKey(Opened);
}

Saved_Key::~Saved_Key() {
  if (!Key_Existed_) {
    RegDeleteTreeA(Root_, Key_.c_str());
  } else {
    Create_Key(Root_, Key_); // a test may have removed it (disable-log.cmd)
    Clear_Values(Root_, Key_);
    for (const Value &Saved : Values_)
      RegSetKeyValueA(Root_, Key_.c_str(), Saved.Name.c_str(), Saved.Type, Saved.Data.data(),
                      static_cast<DWORD>(Saved.Data.size()));
  }
  if (!Parent_Existed_) Remove_If_Empty(Root_, Orvane);
}

std::optional<std::string> Saved_Key::Found_String(const std::string &Name) const {
  for (const Value &Saved : Values_)
    if (Saved.Type == REG_SZ && _stricmp(Saved.Name.c_str(), Name.c_str()) == 0)
      return std::string(Saved.Data.c_str()); // up to its NUL
  return std::nullopt;
}

Log_Settings::Log_Settings(std::string Name)
    : Product(std::move(Name)), Key(std::string(Orvane) + "\\" + Product),
      User_(HKEY_CURRENT_USER, Key), Machine_(HKEY_LOCAL_MACHINE, Key) {
  Clear_Values(HKEY_CURRENT_USER, Key);
  Clear_Values(HKEY_LOCAL_MACHINE, Key); // refused to a user's console: the machine's stay
}

std::vector<std::string> Log_Settings::Found_Logs() const {
  std::vector<std::string> Logs;
  for (const Saved_Key *Saved : {&User_, &Machine_})
    if (const std::optional<std::string> Log = Saved->Found_String("Log")) Logs.push_back(*Log);
  return Logs;
}

Saved_Files::Saved_Files(const std::vector<std::string> &Names) {
  for (const std::string &Name : Names) {
    File Saved{Name, std::nullopt, Exists(Folder_Of(Name))};
    if (Exists(Name)) {
      try {
        Saved.Content = Read_File(Name);
      } catch (const std::exception &) {
        continue; // unreadable to us: the client cannot have written it either
      }
    }
    Files_.push_back(std::move(Saved));
  }
}

Saved_Files::~Saved_Files() {
  for (auto File = Files_.rbegin(); File != Files_.rend(); ++File) {
    if (File->Content) {
      CreateDirectoryA(Folder_Of(File->Name).c_str(), nullptr);
      try {
        Write_File(File->Name, *File->Content);
      } catch (const std::exception &) { // NOLINT(bugprone-empty-catch): nothing more to do
      }
    } else {
      DeleteFileA(File->Name.c_str());
      if (!File->Folder_Existed) RemoveDirectoryA(Folder_Of(File->Name).c_str());
    }
  }
}

std::vector<std::string> Log_And_Second(const std::string &Log_Name) {
  const std::size_t Dot = Log_Name.find_last_of('.');
  const std::size_t Slash = Log_Name.find_last_of('\\');
  const bool Has_Extension =
      Dot != std::string::npos && (Slash == std::string::npos || Dot > Slash);
  const std::size_t End = Has_Extension ? Dot : Log_Name.size();
  return {Log_Name, Log_Name.substr(0, End) + "_2" + Log_Name.substr(End)};
}

void Log_Settings::Create_Key(HKEY Root) const {
  Test_Support::Create_Key(Root, Key);
}

void Log_Settings::Set_String(HKEY Root, const char *Name, const std::string &Value,
                              DWORD Type) const {
  Create_Key(Root);
  RegSetKeyValueA(Root, Key.c_str(), Name, Type, Value.c_str(),
                  static_cast<DWORD>(Value.size() + 1));
}

void Log_Settings::Set_Number(HKEY Root, const char *Name, DWORD Value) const {
  Create_Key(Root);
  RegSetKeyValueA(Root, Key.c_str(), Name, REG_DWORD, &Value, sizeof Value);
}

std::vector<std::string> Lines_Of(const std::string &File_Name) {
  std::vector<std::string> Lines;
  if (GetFileAttributesA(File_Name.c_str()) == INVALID_FILE_ATTRIBUTES) return Lines;
  const std::string Text = Read_File(File_Name);
  std::size_t Start = 0;
  while (Start < Text.size()) {
    const std::size_t End = Text.find("\r\n", Start);
    if (End == std::string::npos) {
      Lines.push_back(Text.substr(Start) + "<no line end>");
      break;
    }
    Lines.push_back(Text.substr(Start, End - Start));
    Start = End + 2;
  }
  return Lines;
}

bool Is_Record(const std::string &Line, const std::string &Message) {
  static const std::regex Prefix(R"( (0|[1-9][0-9]*)\.[0-9]{4} \(([0-9A-F]{4}|[0-9A-F]{8})\) => )");
  std::smatch Match;
  return std::regex_search(Line, Match, Prefix, std::regex_constants::match_continuous) &&
         Line.substr(static_cast<std::size_t>(Match.length(0))) == Message;
}

} // namespace Test_Support
