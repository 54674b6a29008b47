#include "windows/version.hpp"

#include "text/unsigned.hpp"
#include "windows/handle.hpp"
#include "windows/windows.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace Windows::Version {

namespace {

constexpr std::size_t Longest_String = 1000;

std::string Own_File_Name;
HMODULE Own_Module = nullptr;
std::uint32_t Translation = 0x040904E4;

// One block of the version resource: 16-bit lengths of the whole block and of
// its value (bytes; characters for text), its type (1: text), then its key,
// value and child blocks; the value and each child start on a 4-byte boundary.
struct Block {
  std::wstring_view Key;
  std::size_t Value = 0, Value_Bytes = 0, Children = 0, End = 0;
  bool Text = false;
};

std::size_t Aligned(std::size_t Offset) {
  return (Offset + 3) & ~std::size_t{3};
}

WORD Word_At(std::string_view Resource, std::size_t Offset) {
  WORD Word = 0;
  std::memcpy(&Word, Resource.data() + Offset, sizeof Word);
  return Word;
}

// The block at Offset, which must end by Limit; a damaged resource fails.
Block Block_At(std::string_view Resource, std::size_t Offset, std::size_t Limit) {
  constexpr std::size_t Header = 3 * sizeof(WORD);
  if (Limit > Resource.size() || Offset + Header > Limit) throw No_Version_Info();
  const std::size_t Length = Word_At(Resource, Offset);
  if (Length < Header || Offset + Length > Limit) throw No_Version_Info();
  Block Result;
  Result.End = Offset + Length;
  Result.Text = Word_At(Resource, Offset + 4) == 1;
  std::size_t Key_End = Offset + Header;
  while (Key_End + sizeof(WCHAR) <= Result.End && Word_At(Resource, Key_End) != 0)
    Key_End += sizeof(WCHAR);
  Result.Key = {reinterpret_cast<const wchar_t *>(Resource.data() + Offset + Header),
                (Key_End - Offset - Header) / sizeof(WCHAR)};
  Result.Value = Aligned(Key_End + sizeof(WCHAR));
  if (Result.Value > Result.End) throw No_Version_Info();
  // Some resource compilers count a text's bytes, not its characters: the
  // block's end bounds the value either way.
  Result.Value_Bytes = std::min<std::size_t>(
      Word_At(Resource, Offset + 2) * (Result.Text ? sizeof(WCHAR) : 1), Result.End - Result.Value);
  Result.Children = Aligned(Result.Value + Result.Value_Bytes);
  return Result;
}

// The child of Parent whose key is Name, letter case aside.
Block Child_Named(std::string_view Resource, const Block &Parent, std::string_view Name) {
  std::wstring Wide(Name.size(), L'\0');
  Wide.resize(MultiByteToWideChar(CP_ACP, 0, Name.data(), static_cast<int>(Name.size()),
                                  Wide.data(), static_cast<int>(Wide.size())));
  for (std::size_t At = Parent.Children; At < Parent.End;) {
    const Block Child = Block_At(Resource, At, Parent.End);
    if (CompareStringOrdinal(Child.Key.data(), static_cast<int>(Child.Key.size()), Wide.data(),
                             static_cast<int>(Wide.size()), TRUE) == CSTR_EQUAL)
      return Child;
    At = Aligned(Child.End);
  }
  throw No_Version_Info();
}

// A text value as the system's 8-bit reading reports it: in the process's
// code page, the length counting a terminating zero.
Value Text_Value(std::string_view Resource, const Block &Found) {
  std::wstring_view Wide(reinterpret_cast<const wchar_t *>(Resource.data() + Found.Value),
                         Found.Value_Bytes / sizeof(WCHAR));
  Wide = Wide.substr(0, Wide.find(L'\0'));
  const int Size = WideCharToMultiByte(CP_ACP, 0, Wide.data(), static_cast<int>(Wide.size()),
                                       nullptr, 0, nullptr, nullptr);
  Value Result;
  Result.Data = std::make_unique<char[]>(static_cast<std::size_t>(Size) + 1);
  WideCharToMultiByte(CP_ACP, 0, Wide.data(), static_cast<int>(Wide.size()), Result.Data.get(),
                      Size, nullptr, nullptr);
  Result.Pointer = Result.Data.get();
  Result.Length = Found.Value_Bytes == 0 ? 0 : static_cast<unsigned>(Size) + 1;
  return Result;
}

} // namespace

void Initialise() {
  const Module_Entry Own = Module_Containing(reinterpret_cast<const void *>(&Initialise));
  Own_File_Name = Module_Path(Own);
  Own_Module = Own.hModule;
}

// Walks the resource itself, from KERNEL32's resource calls: the version
// calls would load a DLL at every start, and their 8-bit names are outside
// the documented contract of the API set that also exports them. The own
// file's resource is read where the loader mapped it.
Value Query_Value(std::string_view Sub_Block, std::string_view File_Name) {
  Library_Handle Loaded;
  HMODULE Module = Own_Module;
  if (File_Name != Own_File_Name || !Module) {
    const std::string File(File_Name);
    Loaded.Reset(LoadLibraryExA(File.c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!Loaded) throw No_Version_Info();
    Module = Loaded.Get();
  }
  const HRSRC Found = FindResourceA(Module, MAKEINTRESOURCEA(VS_VERSION_INFO), RT_VERSION);
  const HGLOBAL Loaded_Resource = Found ? LoadResource(Module, Found) : nullptr;
  const void *const Data = Loaded_Resource ? LockResource(Loaded_Resource) : nullptr;
  if (!Data) throw No_Version_Info();
  const std::string_view Resource(static_cast<const char *>(Data), SizeofResource(Module, Found));
  Block Current = Block_At(Resource, 0, Resource.size());
  for (std::size_t Start = 0; Start < Sub_Block.size();) {
    const std::size_t End = std::min(Sub_Block.find('\\', Start), Sub_Block.size());
    if (End > Start) Current = Child_Named(Resource, Current, Sub_Block.substr(Start, End - Start));
    Start = End + 1;
  }
  if (Current.Text) return Text_Value(Resource, Current);
  Value Result;
  Result.Data = std::make_unique<char[]>(Current.Value_Bytes + 1);
  std::memcpy(Result.Data.get(), Resource.data() + Current.Value, Current.Value_Bytes);
  Result.Pointer = Result.Data.get();
  Result.Length = static_cast<unsigned>(Current.Value_Bytes);
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
