#include "windows/registry.hpp"

#include <algorithm>
#include <vector>

#include <windows.h>
#include <winternl.h>

extern "C" NTSTATUS NTAPI NtQueryKey(HANDLE Key, int Information_Class, PVOID Information,
                                     ULONG Length, PULONG Result_Length);

namespace Windows::Registry {

namespace {

constexpr REGSAM Full_Access = KEY_READ | KEY_WRITE | DELETE;
constexpr int Key_Name_Information = 3;
constexpr NTSTATUS Status_Success = 0;
constexpr NTSTATUS Status_Buffer_Too_Small = static_cast<NTSTATUS>(0xC0000023);
constexpr DWORD String_Buffer_Size = 250;

HKEY Root = HKEY_CURRENT_USER;
HKEY Current_Key = HKEY_CURRENT_USER;

void Close_Key() {
  if (Current_Key != HKEY_CURRENT_USER && Current_Key != HKEY_LOCAL_MACHINE)
    RegCloseKey(Current_Key);
}

template <typename Open_Function, typename Text>
bool Open_With(Open_Function Open, const Text &Path) {
  if (Path.empty()) {
    Close_Key();
    Current_Key = Root;
    return true;
  }
  HKEY Opened = nullptr;
  LSTATUS Result = Open(Root, Path.c_str(), 0, Full_Access, &Opened);
  if (Result == ERROR_ACCESS_DENIED) Result = Open(Root, Path.c_str(), 0, KEY_READ, &Opened);
  if (Result != ERROR_SUCCESS) return false;
  Close_Key();
  Current_Key = Opened;
  return true;
}

enum class Query_Result { Found, Not_Found, Wrong_Type, Overflow };

Query_Result Query_Number(std::string_view Name, std::uint32_t &Value) {
  DWORD Type = 0, Data = 0, Size = sizeof Data;
  if (RegQueryValueExA(Current_Key, std::string(Name).c_str(), nullptr, &Type,
                       reinterpret_cast<BYTE *>(&Data), &Size) != ERROR_SUCCESS)
    return Query_Result::Not_Found;
  if (Type != REG_DWORD) return Query_Result::Wrong_Type;
  Value = Data;
  return Query_Result::Found;
}

Query_Result Query_String(std::string_view Name, std::string &Value) {
  char Buffer[String_Buffer_Size];
  DWORD Type = 0, Size = String_Buffer_Size;
  const LSTATUS Result = RegQueryValueExA(Current_Key, std::string(Name).c_str(), nullptr, &Type,
                                          reinterpret_cast<BYTE *>(Buffer), &Size);
  if (Result == ERROR_MORE_DATA) return Query_Result::Overflow;
  if (Result != ERROR_SUCCESS) return Query_Result::Not_Found;
  if (Type != REG_SZ) return Query_Result::Wrong_Type;
  // The stored terminating zero is not part of the text; a value stored
  // without one keeps its last character.
  if (Size > 0 && Buffer[Size - 1] == '\0') --Size;
  Value.assign(Buffer, Size);
  return Query_Result::Found;
}

void Raise(Query_Result Result) {
  switch (Result) {
  case Query_Result::Found:
    return;
  case Query_Result::Not_Found:
    throw Entry_Not_Found();
  case Query_Result::Wrong_Type:
    throw Wrong_Type();
  case Query_Result::Overflow:
    throw Overflow();
  }
}

} // namespace

void Select_Root(Root_Key Which) {
  Root = Which == Root_Key::Local_Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  Close_Key();
  Current_Key = Root;
}

Root_Key Current_Root() {
  return Root == HKEY_LOCAL_MACHINE ? Root_Key::Local_Machine : Root_Key::Current_User;
}

void Open_Key(std::string_view Path) {
  if (!Try_Open_Key(Path)) throw Key_Not_Found();
}

void Open_Key(std::wstring_view Path) {
  if (!Open_With(RegOpenKeyExW, std::wstring(Path))) throw Key_Not_Found();
}

bool Try_Open_Key(std::string_view Path) {
  return Open_With(RegOpenKeyExA, std::string(Path));
}

std::wstring Current_Key_Name() {
  if (Current_Key == Root) return {};
  ULONG Length = 0;
  if (NtQueryKey(Current_Key, Key_Name_Information, nullptr, 0, &Length) != Status_Buffer_Too_Small)
    throw Key_Not_Found();
  const long Units = (static_cast<long>(Length) - 4) / 2;
  if (Units <= 0) throw Key_Not_Found();
  // A 32-bit byte length, then the native name in UTF-16.
  std::vector<ULONG> Record((4 + 2 * static_cast<std::size_t>(Units) + 3) / 4);
  if (NtQueryKey(Current_Key, Key_Name_Information, Record.data(),
                 static_cast<ULONG>(Record.size() * 4), &Length) != Status_Success)
    throw Key_Not_Found();
  const std::wstring_view Name(
      reinterpret_cast<const wchar_t *>(Record.data() + 1),
      std::min<std::size_t>(Record[0] / 2, static_cast<std::size_t>(Units)));
  // \REGISTRY\USER\<user>\<path> or \REGISTRY\MACHINE\<path>
  int Separators = Root == HKEY_CURRENT_USER ? 4 : 3;
  for (std::size_t I = 0; I < Name.size(); ++I)
    if (Name[I] == L'\\' && --Separators == 0) return std::wstring(Name.substr(I + 1));
  throw Key_Not_Found();
}

std::uint32_t Get_Number(std::string_view Name) {
  std::uint32_t Value = 0;
  Raise(Query_Number(Name, Value));
  return Value;
}

std::string Get_String(std::string_view Name) {
  std::string Value;
  Raise(Query_String(Name, Value));
  return Value;
}

std::optional<std::uint32_t> Try_Get_Number(std::string_view Name) {
  std::uint32_t Value = 0;
  if (Query_Number(Name, Value) != Query_Result::Found) return std::nullopt;
  return Value;
}

std::optional<std::string> Try_Get_String(std::string_view Name) {
  std::string Value;
  if (Query_String(Name, Value) != Query_Result::Found) return std::nullopt;
  return Value;
}

} // namespace Windows::Registry
