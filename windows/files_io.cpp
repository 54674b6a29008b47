#include "windows/files_io.hpp"

#include "windows/characters.hpp"
#include "windows/files.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace Windows::Files::IO {

namespace {

using Block = File_Control_Block;

void Seek(Block &File, std::int32_t Offset) {
  if (SetFilePointer(File.OS_Handle.Get(), Offset, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
    throw Unexpected_Error();
}

// Offsets are 32-bit signed: a file of 2 GiB or more cannot be appended to.
std::int32_t Seek_To_End(Block &File) {
  LONG High = 0;
  const DWORD Low = SetFilePointer(File.OS_Handle.Get(), 0, &High, FILE_END);
  if (Low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) throw Unexpected_Error();
  if (High != 0 || Low > static_cast<DWORD>(std::numeric_limits<std::int32_t>::max()))
    throw Unexpected_Error("file too large");
  return static_cast<std::int32_t>(Low);
}

// Offsets and positions are 32-bit signed: a sum past that is refused, never
// wrapped.
std::int32_t Offset_Sum(std::int64_t A, std::int64_t B) {
  if (A + B > std::numeric_limits<std::int32_t>::max())
    throw Constraint_Error("file offset past 2 GiB");
  return static_cast<std::int32_t>(A + B);
}

void Flush_Buffer(Block &File);

void Fill_Buffer(Block &File) {
  if (File.Dirty) Flush_Buffer(File);
  const std::int32_t Next_Start = Offset_Sum(File.Start, File.Last);
  DWORD Read = 0;
  if (ReadFile(File.OS_Handle.Get(), File.Buffer.get(), Buffer_Size, &Read, nullptr) != TRUE)
    throw End_Error();
  File.Start = Next_Start;
  File.Last = static_cast<std::int32_t>(Read);
  File.Current = 0;
}

void Flush_Buffer(Block &File) {
  if (!File.Append) Seek(File, File.Start);
  if (File.Last == 0) return;
  DWORD Written = 0;
  if (WriteFile(File.OS_Handle.Get(), File.Buffer.get(), static_cast<DWORD>(File.Last), &Written,
                nullptr) != TRUE ||
      Written != static_cast<DWORD>(File.Last)) {
    // A later Flush or Close writes the same bytes again: put the file
    // position back so that a partial write is overwritten, not repeated.
    SetFilePointer(File.OS_Handle.Get(), File.Start, nullptr, FILE_BEGIN);
    throw End_Error();
  }
  File.Dirty = false;
  if (File.Append) {
    File.Start = Offset_Sum(File.Start, File.Last);
    File.Current = 0;
    File.Last = 0;
  } else {
    Fill_Buffer(File);
  }
}

// Buffer bytes are numbered from 1.
char &Byte(Block &File, std::int32_t Number) {
  return File.Buffer[Number - 1];
}

char Get_Byte(Block &File) {
  const std::int32_t Next = File.Current + 1;
  const char Result = Byte(File, Next);
  if (Next == File.Last)
    Fill_Buffer(File);
  else
    File.Current = Next;
  return Result;
}

Block &Open_Block(const Handle &File) {
  if (!File.Is_Open()) throw Bad_Handle();
  return *File.Block();
}

Handle New_Control_Block(HANDLE OS_Handle, bool Append) {
  auto File = std::make_shared<Block>();
  File->OS_Handle.Reset(OS_Handle);
  File->Buffer = std::make_unique<char[]>(Buffer_Size);
  if (Append) {
    File->Start = Seek_To_End(*File);
  } else {
    Fill_Buffer(*File);
    File->Start = 0;
  }
  File->Append = Append;
  return Handle(std::move(File));
}

DWORD Create_Access() {
  return GENERIC_WRITE;
}
DWORD Create_Share(bool Share_Read) {
  return Share_Read ? FILE_SHARE_READ : 0;
}
DWORD Create_Disposition(bool New_Only) {
  return New_Only ? CREATE_NEW : CREATE_ALWAYS;
}
DWORD Open_Access(bool Append) {
  return Append ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
}
DWORD Open_Share(bool Append) {
  return Append ? 0 : FILE_SHARE_READ;
}

Handle Created(HANDLE OS_Handle) {
  if (OS_Handle == INVALID_HANDLE_VALUE) throw Creation_Failure();
  return New_Control_Block(OS_Handle, true);
}

Handle Opened(HANDLE OS_Handle, bool Append) {
  if (OS_Handle == INVALID_HANDLE_VALUE) throw File_Not_Found();
  return New_Control_Block(OS_Handle, Append);
}

bool Ends_Wide_Line(unsigned char Low, unsigned char High) {
  return (High == 0 && ((Low >= 10 && Low <= 13) || Low == 0x85)) ||
         (High == 0x20 && (Low == 0x28 || Low == 0x29));
}

void Close_Block(Block &File) {
  if (File.Append) Flush_Buffer(File);
  File.Buffer.reset();
  File.OS_Handle.Reset();
}

} // namespace

File_Control_Block::~File_Control_Block() {
  if (!Buffer) return;
  try {
    Close_Block(*this);
  } catch (...) {}
}

Handle Create(std::string_view Name, bool New_Only, bool Share_Read) {
  return Created(CreateFileA(std::string(Name).c_str(), Create_Access(), Create_Share(Share_Read),
                             nullptr, Create_Disposition(New_Only), FILE_ATTRIBUTE_NORMAL,
                             nullptr));
}

Handle Create(std::wstring_view Name, bool New_Only, bool Share_Read) {
  return Created(CreateFileW(std::wstring(Name).c_str(), Create_Access(), Create_Share(Share_Read),
                             nullptr, Create_Disposition(New_Only), FILE_ATTRIBUTE_NORMAL,
                             nullptr));
}

namespace {

// Others may read and delete, not write: deletion must be shared for the
// rename through our own handle.
HANDLE Own_File(const std::wstring &Name, DWORD Disposition) {
  return CreateFileW(Name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                     Disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

} // namespace

Handle Create_Own(std::string_view Name) {
  const std::wstring Wide = Characters::Widened(Name);
  // An existing name is opened as it is, never followed; a missing one is
  // made new, which no existing name can be, a link to nowhere included.
  for (int Attempt = 0; Attempt < 2; ++Attempt) {
    File_Handle Existing(Own_File(Wide, OPEN_EXISTING));
    if (Existing) {
      if (Files::Is_Link(Existing.Get(), Wide)) throw Creation_Failure("a link");
      if (SetEndOfFile(Existing.Get()) != TRUE) throw Creation_Failure();
      return New_Control_Block(Existing.Release(), true);
    }
    const DWORD Error = GetLastError();
    if (Error == ERROR_SHARING_VIOLATION) throw In_Use();
    if (Error != ERROR_FILE_NOT_FOUND) throw Creation_Failure();
    File_Handle Created(Own_File(Wide, CREATE_NEW));
    if (Created) return New_Control_Block(Created.Release(), true);
    if (GetLastError() != ERROR_FILE_EXISTS) throw Creation_Failure();
  }
  // Neither there to open nor free to make: a link whose target is missing,
  // as Wine shows one.
  throw Creation_Failure("a link");
}

void Rename(const Handle &File, std::string_view To) {
  const Block &B = Open_Block(File);
  // Renaming takes delete access, which the handle kept for writing lacks, so
  // that readers need not share deletion but at this moment.
  const File_Handle Deleter(
      ReOpenFile(B.OS_Handle.Get(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, 0));
  if (!Deleter) throw Rename_Failure();
  const std::wstring Target = Characters::Widened(To);
  const std::size_t Size = sizeof(FILE_RENAME_INFO) + Target.size() * sizeof(wchar_t);
  std::vector<DWORD_PTR> Buffer(Size / sizeof(DWORD_PTR) + 1);
  auto *const Info = reinterpret_cast<FILE_RENAME_INFO *>(Buffer.data());
  Info->ReplaceIfExists = TRUE;
  Info->RootDirectory = nullptr;
  Info->FileNameLength = static_cast<DWORD>(Target.size() * sizeof(wchar_t));
  std::memcpy(Info->FileName, Target.c_str(), (Target.size() + 1) * sizeof(wchar_t));
  if (SetFileInformationByHandle(Deleter.Get(), FileRenameInfo, Info, static_cast<DWORD>(Size)) !=
      TRUE)
    throw Rename_Failure();
}

Handle Open(std::string_view Name, bool Append) {
  return Opened(CreateFileA(std::string(Name).c_str(), Open_Access(Append), Open_Share(Append),
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
                Append);
}

Handle Open(std::wstring_view Name, bool Append) {
  return Opened(CreateFileW(std::wstring(Name).c_str(), Open_Access(Append), Open_Share(Append),
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
                Append);
}

void Reset(const Handle &File) {
  Set_Position(File, 1);
}

bool End_Of_File(const Handle &File) {
  const Block *const File_Block = File.Block();
  return !File_Block || File_Block->Current == File_Block->Last;
}

std::string Get_Line(const Handle &File) {
  Block &B = Open_Block(File);
  std::string Line;
  for (;;) {
    const std::int32_t First = B.Current + 1;
    const char *const Begin = &Byte(B, First);
    const char *const End = B.Buffer.get() + B.Last;
    const char *const Found = std::find_if(Begin, End, [](char C) { return C >= 10 && C <= 13; });
    if (Found != End) {
      Line.append(Begin, Found);
      B.Current = static_cast<std::int32_t>(Found - B.Buffer.get());
      // A CR at the end of one load and an LF at the start of the next are
      // still one line end: Get_Byte loads the next part as it takes the CR.
      if (Get_Byte(B) == '\r' && B.Current < B.Last && Byte(B, B.Current + 1) == '\n') Get_Byte(B);
      return Line;
    }
    Line.append(Begin, End);
    if (B.Last < Buffer_Size) {
      B.Current = B.Last;
      return Line;
    }
    Fill_Buffer(B);
  }
}

std::wstring Get_Wide_Line(const Handle &File) {
  Block &B = Open_Block(File);
  std::string Bytes;
  for (;;) {
    const std::int32_t First = B.Current + 1;
    std::int32_t I = First;
    while (I < B.Last && !Ends_Wide_Line(static_cast<unsigned char>(Byte(B, I)),
                                         static_cast<unsigned char>(Byte(B, I + 1))))
      I += 2;
    if (I < B.Last) {
      Bytes.append(&Byte(B, First), static_cast<std::size_t>(I - First));
      B.Current = I;
      Get_Byte(B);
      break;
    }
    if (B.Last < Buffer_Size) {
      Bytes.append(&Byte(B, First),
                   static_cast<std::size_t>(B.Last) - static_cast<std::size_t>(First) + 1);
      B.Current = B.Last;
      break;
    }
    if ((Buffer_Size - First + 1) % 2 == 0) {
      Bytes.append(&Byte(B, First),
                   static_cast<std::size_t>(Buffer_Size) - static_cast<std::size_t>(First) + 1);
      Fill_Buffer(B);
      continue;
    }
    // Byte 500 is the low byte of a unit that continues in the next load.
    Bytes.append(&Byte(B, First), static_cast<std::size_t>(Buffer_Size - First));
    const char Low = Byte(B, Buffer_Size);
    Fill_Buffer(B);
    if (B.Last == 0) { // the file ends inside the unit
      Bytes += Low;
      break;
    }
    const char High = Get_Byte(B);
    if (Ends_Wide_Line(static_cast<unsigned char>(Low), static_cast<unsigned char>(High))) break;
    Bytes += Low;
    Bytes += High;
  }
  if (Bytes.size() % 2 != 0) throw End_Error();
  std::wstring Line(Bytes.size() / 2, L'\0');
  std::memcpy(Line.data(), Bytes.data(), Bytes.size());
  return Line;
}

void Put(std::string_view Item, const Handle &File) {
  Block &B = Open_Block(File);
  if (Item.empty()) return;
  // The whole item must fit below the offset limit: refused before any byte
  // of it is copied.
  if (Item.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
    throw Constraint_Error("item of 2 GiB or more");
  Offset_Sum(std::int64_t{B.Start} + B.Current, static_cast<std::int64_t>(Item.size()));
  B.Dirty = true;
  for (;;) {
    // The buffer is written as soon as it is exactly full.
    if (Item.size() < static_cast<std::size_t>(Buffer_Size - B.Current)) {
      std::memcpy(&Byte(B, B.Current + 1), Item.data(), Item.size());
      B.Current += static_cast<std::int32_t>(Item.size());
      B.Last = std::max(B.Last, B.Current);
      return;
    }
    const std::int32_t Room = Buffer_Size - B.Current;
    std::memcpy(&Byte(B, B.Current + 1), Item.data(), static_cast<std::size_t>(Room));
    B.Current = Buffer_Size;
    B.Last = Buffer_Size;
    Flush_Buffer(B);
    Item.remove_prefix(static_cast<std::size_t>(Room));
    if (Item.empty()) return;
    B.Dirty = true;
  }
}

void Put(std::wstring_view Item, const Handle &File) {
  if (Item.empty()) return;
  // UTF-16LE: wchar_t is little-endian on every Windows target.
  Put(std::string_view(reinterpret_cast<const char *>(Item.data()), Item.size() * 2), File);
}

void Put_Line(std::string_view Item, const Handle &File) {
  Put(Item, File);
  Put(std::string_view("\r\n", 2), File);
}

void Put_Line(std::wstring_view Item, const Handle &File) {
  Put(Item, File);
  Put(std::wstring_view(L"\n", 1), File);
}

void Put_Whole_Line(std::initializer_list<std::string_view> Parts, const Handle &File) {
  Block &B = Open_Block(File);
  if (!B.Append) throw Wrong_Mode();
  std::size_t Length = 2;
  for (const std::string_view Part : Parts)
    Length += Part.size();
  Offset_Sum(std::int64_t{B.Start} + B.Current, static_cast<std::int64_t>(Length));
  if (Length > static_cast<std::size_t>(Buffer_Size - B.Current)) {
    Flush_Buffer(B);
    if (Length > static_cast<std::size_t>(Buffer_Size)) {
      std::string Line;
      Line.reserve(Length);
      for (const std::string_view Part : Parts)
        Line += Part;
      Line += "\r\n";
      DWORD Written = 0;
      if (WriteFile(B.OS_Handle.Get(), Line.data(), static_cast<DWORD>(Length), &Written,
                    nullptr) != TRUE ||
          Written != Length) {
        SetFilePointer(B.OS_Handle.Get(), B.Start, nullptr, FILE_BEGIN);
        throw End_Error();
      }
      B.Start += static_cast<std::int32_t>(Length);
      return;
    }
  }
  char *Next = &Byte(B, B.Current + 1);
  for (const std::string_view Part : Parts)
    Next = std::copy(Part.begin(), Part.end(), Next);
  *Next++ = '\r';
  *Next = '\n';
  B.Current += static_cast<std::int32_t>(Length);
  B.Last = std::max(B.Last, B.Current);
  B.Dirty = true;
  // As Put: a buffer that is exactly full is written at once.
  if (B.Current == Buffer_Size) Flush_Buffer(B);
}

void Set_Position(const Handle &File, std::int32_t Position) {
  if (Position < 1) throw Constraint_Error("file position below 1");
  Block &B = Open_Block(File);
  if (B.Append) throw Wrong_Mode();
  const std::int32_t Offset = Position - 1;
  const auto In_Buffer = [&] { return B.Start <= Offset && Offset - B.Start < B.Last; };
  if (In_Buffer()) {
    B.Current = Offset - B.Start;
    return;
  }
  if (B.Dirty) {
    Flush_Buffer(B);
    if (In_Buffer()) {
      B.Current = Offset - B.Start;
      return;
    }
  }
  // The load that is left behind counts no more: it may end past the limit.
  Seek(B, Offset);
  B.Start = Offset;
  B.Current = 0;
  B.Last = 0;
  Fill_Buffer(B);
}

std::int32_t Position(const Handle &File) {
  const Block &B = Open_Block(File);
  return Offset_Sum(std::int64_t{B.Start} + B.Current, 1);
}

void Flush(const Handle &File) {
  Block &B = Open_Block(File);
  if (B.Append) Flush_Buffer(B);
  FlushFileBuffers(B.OS_Handle.Get());
}

void Write_Out(const Handle &File) {
  Block &B = Open_Block(File);
  if (B.Append) Flush_Buffer(B);
}

void Close(const Handle &File) {
  Close_Block(Open_Block(File));
}

} // namespace Windows::Files::IO
