#include "log_support.hpp"

#include <regex>

namespace Test_Support {

Log_Settings::Log_Settings(std::string Name)
    : Product(std::move(Name)), Key("Software\\Orvane\\" + Product) {}

Log_Settings::~Log_Settings() {
  RegDeleteTreeA(HKEY_CURRENT_USER, Key.c_str());
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, Key.c_str());
}

void Log_Settings::Create_Key(HKEY Root) const {
  HKEY Opened;
  if (RegCreateKeyExA(Root, Key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &Opened,
                      nullptr) == ERROR_SUCCESS)
    RegCloseKey(Opened);
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
