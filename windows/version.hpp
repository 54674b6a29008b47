#pragma once

#include "core/failure.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// Strings of the version resource of the module that holds this code (the
// client executable), read through one translation, 040904E4 unless set.
namespace Windows::Version {

using No_Version_Info = Named_Failure<"WINDOWS.VERSION.NO_VERSION_INFO">;

// Finds the module holding this code; WINDOWS.NO_MODULE_INFORMATION when it
// cannot. Called once at start-up, before the log starts.
void Initialise();

// A value inside a file's version data; Data owns the data it points into.
struct Value {
  std::unique_ptr<char[]> Data;
  const void *Pointer = nullptr;
  unsigned Length = 0; // as the system reports it
};

Value Query_Value(std::string_view Sub_Block, std::string_view File_Name);

// \StringFileInfo\<translation>\Name; CONSTRAINT_ERROR above 1000 characters.
std::string String_Value(std::string_view Name, std::string_view File_Name);

std::string Product_Name();
std::string Product_Version();

// Language in the high 16 bits, code page in the low 16 bits.
void Set_Translation(std::uint32_t Value);

} // namespace Windows::Version
