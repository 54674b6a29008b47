#include "windows/version.hpp"

#include "text/unsigned.hpp"
#include "windows/windows.hpp"

namespace Windows::Version {

namespace {

constexpr std::size_t Longest_String = 1000;

std::string Own_File_Name;
std::uint32_t Translation = 0x040904E4;

} // namespace

void Initialise() {
  Own_File_Name = Module_Path(Module_Containing(reinterpret_cast<const void *>(&Initialise)));
}

// Version API set, not VERSION.dll: timed as fast as walking RT_VERSION ourselves, and no parser.
Value Query_Value(std::string_view Sub_Block, std::string_view File_Name) {
  const std::string File(File_Name), Block(Sub_Block);
  DWORD Ignored = 0;
  const DWORD Size = GetFileVersionInfoSizeA(File.c_str(), &Ignored);
  if (Size == 0) throw No_Version_Info();
  Value Result;
  Result.Data = std::make_unique<char[]>(Size);
  if (!GetFileVersionInfoA(File.c_str(), 0, Size, Result.Data.get())) throw No_Version_Info();
  void *Pointer = nullptr;
  UINT Length = 0;
  if (!VerQueryValueA(Result.Data.get(), Block.c_str(), &Pointer, &Length)) throw No_Version_Info();
  Result.Pointer = Pointer;
  Result.Length = Length;
  return Result;
}

std::string String_Value(std::string_view Name, std::string_view File_Name) {
  const std::string Sub_Block = "\\StringFileInfo\\" +
                                Unsigned::Image(Unsigned::Unsigned_32{Translation}) + "\\" +
                                std::string(Name);
  const Value Found = Query_Value(Sub_Block, File_Name);
  // The reported length counts the terminating zero.
  const std::size_t Length = Found.Length == 0 ? 0 : Found.Length - 1;
  if (Length > Longest_String) throw Constraint_Error("version string above 1000 characters");
  return std::string(static_cast<const char *>(Found.Pointer), Length);
}

std::string Product_Name() {
  return String_Value("ProductName", Own_File_Name);
}

std::string Product_Version() {
  return String_Value("ProductVersion", Own_File_Name);
}

void Set_Translation(std::uint32_t Value) {
  Translation = Value;
}

} // namespace Windows::Version
