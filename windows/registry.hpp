#pragma once

#include "core/failure.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Read access to values under HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE. The
// selected root and the current key are process-wide and unguarded: callers
// serialise their use.
namespace Windows::Registry {

using Key_Not_Found = Named_Failure<"WINDOWS.REGISTRY.KEY_NOT_FOUND">;
using Entry_Not_Found = Named_Failure<"WINDOWS.REGISTRY.ENTRY_NOT_FOUND">;
using Wrong_Type = Named_Failure<"WINDOWS.REGISTRY.WRONG_TYPE">;
using Overflow = Named_Failure<"WINDOWS.REGISTRY.OVERFLOW">;
using Key_Creation_Failure = Named_Failure<"WINDOWS.REGISTRY.KEY_CREATION_FAILURE">;
using Entry_Creation_Failure = Named_Failure<"WINDOWS.REGISTRY.ENTRY_CREATION_FAILURE">;

enum class Root_Key { Current_User, Local_Machine };

// Makes the root current, closing an opened key.
void Select_Root(Root_Key Which);
Root_Key Current_Root();

// Opens Path below the root (never below the current key) and makes it
// current; an empty Path is the root itself. A key the user may only read
// still opens. KEY_NOT_FOUND leaves the previous key current.
void Open_Key(std::string_view Path);
void Open_Key(std::wstring_view Path);

// Open_Key, Get_Number and Get_String for a caller to whom any failure means
// "not set": false or nothing instead of a failure. A program's first raised
// failure costs more than the rest of its start-up, and an absent setting is
// the usual case.
bool Try_Open_Key(std::string_view Path);
std::optional<std::uint32_t> Try_Get_Number(std::string_view Name);
std::optional<std::string> Try_Get_String(std::string_view Name);

// The current key's path below the root, in the letter case the registry
// stores; empty for the root itself.
std::wstring Current_Key_Name();

// A REG_DWORD value of the current key.
std::uint32_t Get_Number(std::string_view Name);

// A REG_SZ value of the current key, at most 249 characters.
std::string Get_String(std::string_view Name);

} // namespace Windows::Registry
