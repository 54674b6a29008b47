#pragma once

#include "core/failure.hpp"
#include "windows/handle.hpp"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

// Buffered reading and writing of files through system handles: one 500-byte
// buffer per open file, for 8-bit text and UTF-16LE text. Lines written end in
// CR LF (8-bit) or U+000A (wide). Lines read end at any of LF, VT, FF or CR,
// with CR LF as one end (8-bit), or at any one of U+000A to U+000D, U+0085,
// U+2028 or U+2029 (wide). A Handle is a shared reference: copies designate
// the same open file, which closes when the last copy goes.
namespace Windows::Files::IO {

using Bad_Handle = Named_Failure<"WINDOWS.FILES.IO.BAD_HANDLE">;
using Bad_Size = Named_Failure<"WINDOWS.FILES.IO.BAD_SIZE">;
using Creation_Failure = Named_Failure<"WINDOWS.FILES.IO.CREATION_FAILURE">;
using End_Error = Named_Failure<"WINDOWS.FILES.IO.END_ERROR">;
using File_Not_Found = Named_Failure<"WINDOWS.FILES.IO.FILE_NOT_FOUND">;
using Unexpected_Error = Named_Failure<"WINDOWS.FILES.IO.UNEXPECTED_ERROR">;
using Wrong_Mode = Named_Failure<"WINDOWS.FILES.IO.WRONG_MODE">;
using In_Use = Named_Failure<"WINDOWS.FILES.IO.IN_USE">;
using Rename_Failure = Named_Failure<"WINDOWS.FILES.IO.RENAME_FAILURE">;

constexpr std::int32_t Buffer_Size = 500;

struct File_Control_Block {
  File_Handle OS_Handle;
  std::int32_t Start = 0;         // file offset of buffer byte 1
  std::int32_t Current = 0;       // buffer bytes already read or filled
  std::int32_t Last = 0;          // valid bytes in the buffer
  std::unique_ptr<char[]> Buffer; // none once the file is closed
  bool Append = false;            // output mode, at the end of the file
  bool Dirty = false;             // bytes put but not yet written

  File_Control_Block() = default;
  File_Control_Block(const File_Control_Block &) = delete;
  File_Control_Block &operator=(const File_Control_Block &) = delete;
  ~File_Control_Block(); // closes a file still open, ignoring a failure
};

class Handle {
public:
  Handle() = default; // never opened
  explicit Handle(std::shared_ptr<File_Control_Block> Block) : Block_(std::move(Block)) {}

  bool Is_Open() const { return Block_ && Block_->Buffer; }
  File_Control_Block *Block() const { return Block_.get(); }
  // The number of handles sharing this one's block (0 when never opened).
  long References() const { return Block_.use_count(); }

  friend bool operator==(const Handle &A, const Handle &B) { return A.Block_ == B.Block_; }

private:
  std::shared_ptr<File_Control_Block> Block_;
};

// A new file for writing (an existing one is replaced unless New_Only).
Handle Create(std::string_view Name, bool New_Only, bool Share_Read);
Handle Create(std::wstring_view Name, bool New_Only, bool Share_Read);

// A file of one's own for writing: Name created, or emptied when it exists,
// never through a link: a symbolic link or junction at its last step, or a
// file with other names, raises CREATION_FAILURE and is left as it was.
// Others may read the file while it is open, not write it: IN_USE when
// another process has it open for writing (or so that this open is refused).
// It can be renamed through the handle.
Handle Create_Own(std::string_view Name);

// Renames the open file to To through its handle, which writes on to it; a
// file To is replaced (a link there: the link, not what it names).
// RENAME_FAILURE when the system refuses, as it does while another process
// has the file open without sharing its deletion, or has To open.
void Rename(const Handle &File, std::string_view To);

// An existing file, for reading or, with Append, for writing at its end.
Handle Open(std::string_view Name, bool Append);
Handle Open(std::wstring_view Name, bool Append);

void Reset(const Handle &File);
bool End_Of_File(const Handle &File);
std::string Get_Line(const Handle &File);
std::wstring Get_Wide_Line(const Handle &File);
void Put(std::string_view Item, const Handle &File);
void Put(std::wstring_view Item, const Handle &File);
void Put_Line(std::string_view Item, const Handle &File);
void Put_Line(std::wstring_view Item, const Handle &File);
// One line, the Parts and CR LF, that reaches the system whole, never part of
// it: a line that does not fit in what is left of the buffer first writes the
// buffer out, and one longer than the buffer is written by one call of its
// own. Output mode only (WRONG_MODE).
void Put_Whole_Line(std::initializer_list<std::string_view> Parts, const Handle &File);
void Set_Position(const Handle &File, std::int32_t Position); // 1 is the first byte
std::int32_t Position(const Handle &File);
void Flush(const Handle &File);
// Hands what is buffered for output to the system (no system call when
// nothing is), without Flush's wait for the device: the bytes outlive the
// process, only not a crash of the machine.
void Write_Out(const Handle &File);
void Close(const Handle &File);

} // namespace Windows::Files::IO
