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
void Open_With(Open_Function Open, const Text &Path) {
  if (Path.empty()) {
    Close_Key();
    Current_Key = Root;
    return;
  }
  HKEY Opened = nullptr;
  LSTATUS Result = Open(Root, Path.c_str(), 0, Full_Access, &Opened);
  if (Result == ERROR_ACCESS_DENIED) Result = Open(Root, Path.c_str(), 0, KEY_READ, &Opened);
  if (Result != ERROR_SUCCESS) throw Key_Not_Found();
  Close_Key();
  Current_Key = Opened;
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
  Open_With(RegOpenKeyExA, std::string(Path));
}

void Open_Key(std::wstring_view Path) {
  Open_With(RegOpenKeyExW, std::wstring(Path));
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
  DWORD Type = 0, Value = 0, Size = sizeof Value;
  if (RegQueryValueExA(Current_Key, std::string(Name).c_str(), nullptr, &Type,
                       reinterpret_cast<BYTE *>(&Value), &Size) != ERROR_SUCCESS)
    throw Entry_Not_Found();
  if (Type != REG_DWORD) throw Wrong_Type();
  return Value;
}

std::string Get_String(std::string_view Name) {
  char Buffer[String_Buffer_Size];
  DWORD Type = 0, Size = String_Buffer_Size;
  const LSTATUS Result = RegQueryValueExA(Current_Key, std::string(Name).c_str(), nullptr, &Type,
                                          reinterpret_cast<BYTE *>(Buffer), &Size);
  if (Result == ERROR_MORE_DATA) throw Overflow();
  if (Result != ERROR_SUCCESS) throw Entry_Not_Found();
  if (Type != REG_SZ) throw Wrong_Type();
  // The stored terminating zero is not part of the text; a value stored
  // without one keeps its last character.
  if (Size > 0 && Buffer[Size - 1] == '\0') --Size;
  return std::string(Buffer, Size);
}

} // namespace Windows::Registry
