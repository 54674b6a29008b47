#pragma once

#include "windows/files_io.hpp"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include <windows.h>

// The diagnostic log's file: settings from the registry, one record line per
// message, a roll-over to a second file at the size limit. Its operations run
// one at a time under its lock, so Put may be called from any thread.
//
// Runs overlap, and each keeps its records: the run that finds the log free
// holds it to its end, and one that finds it held logs to a file of its own
// beside it (Own_File_Name), of which the few newest are kept. A roll-over
// renames the file while the run holds it, so no other run takes it between.
// No file is written, renamed onto or deleted through a link.
namespace Log {

constexpr std::uint32_t Default_Limit = 100000;

// The local time of day in milliseconds. Asking the system for the local
// time costs more than writing a record; the system time is cheap, and the
// zone's bias changes rarely.
class Local_Clock {
public:
  unsigned long Milliseconds();

private:
  bool Valid_ = false;
  std::uint64_t Checked_ = 0; // system time of the last look at the bias, ms
  long long Bias_ = 0;        // local minus system time, ms, within one day
};

class Log_File {
public:
  // Reads the settings under "Software\Orvane\<Product>" (the current user's,
  // then the machine's) and creates the file, once: while the log is open a
  // further call only flushes when asked to. Was_Closed tells whether the log
  // was closed when the call began. Never fails; the registry's selected root
  // and key are the same afterwards.
  void Open_Log(std::string_view Product, bool Flush_Each, bool &Was_Closed) noexcept;

  // One record line; rolls the file over first when it holds Limit lines.
  // Any failure closes the log for good. Never fails.
  void Write_Record(std::string_view Message) noexcept;
  // The same for the message Prefix followed by Message, written as two parts:
  // a long message is not copied to be joined.
  void Write_Record(std::string_view Prefix, std::string_view Message) noexcept;

  // Hands the buffered records to the system; nothing when none are. Any
  // failure closes the log for good. Never fails.
  void Write_Out() noexcept;

  // Writes out what is buffered and closes the files.
  void Close() noexcept;

  bool Is_Open();
  std::uint32_t Limit();
  std::uint32_t Record_Count();

private:
  void Read_Settings(const std::string &Key_Path);
  void Create_File(const std::string &Name);
  void Create_Own_File();
  void Read_Limit();
  void Roll_Over();

  std::mutex Lock_;
  bool Flush_Each_ = false;
  bool Is_Open_ = false;
  std::optional<std::string> Second_Name_;
  std::optional<std::string> File_Name_;
  std::string Current_Name_; // the file written: File_Name_, or the run's own
  std::uint32_t Record_Count_ = 0;
  std::uint32_t Limit_ = 0; // 0: no limit
  Windows::Files::IO::Handle File_;
  // A rolled-over file whose name another run took meanwhile: held to the
  // end, so that the other run cannot delete it.
  Windows::Files::IO::Handle Kept_;
  Local_Clock Clock_;
};

// The roll-over file's name: "_2" before the last "." of the file's own name
// (never of a directory's), or at the end without one.
std::string Second_File_Name(std::string_view Name);

// The file of a run that finds the log held: "_pid" and the process id
// where the roll-over file's name has "_2".
std::string Own_File_Name(std::string_view Name, std::uint32_t Process_Id);

// Files of the log's earlier runs beyond the newest Own_Files_Kept - 1 go,
// each with its roll-over file, unless their run still writes them.
constexpr std::size_t Own_Files_Kept = 8;
void Remove_Old_Own_Files(std::string_view Name);

// A blank, the seconds since local midnight with four decimals, " (", the
// thread as four upper-case hexadecimal digits (eight above 0xFFFF), ") => ",
// the message.
std::string Record_Line(const SYSTEMTIME &Time, std::uint32_t Thread, std::string_view Message);

} // namespace Log
