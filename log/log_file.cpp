#include "log/log_file.hpp"

#include "text/text.hpp"
#include "text/unsigned.hpp"
#include "windows/files.hpp"
#include "windows/registry.hpp"
#include "windows/windows.hpp"

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

namespace Log {

namespace IO = Windows::Files::IO;
namespace Registry = Windows::Registry;

namespace {

// Name before, and from, the last "." of its last step: "C:\Logs\client" and
// ".log"; without one, Name and nothing.
std::pair<std::string_view, std::string_view> Split_Extension(std::string_view Name) {
  const int Dot = Text::Index('.', Name, 0, Text::Direction::Backward);
  const int Separator = std::max(Text::Index('\\', Name, 0, Text::Direction::Backward),
                                 Text::Index('/', Name, 0, Text::Direction::Backward));
  if (Dot == 0 || Dot < Separator) return {Name, {}};
  const auto Stem_Length = static_cast<std::size_t>(Dot - 1);
  return {Name.substr(0, Stem_Length), Name.substr(Stem_Length)};
}

bool Same_Letters(std::string_view A, std::string_view B) {
  return A.size() == B.size() && _strnicmp(A.data(), B.data(), A.size()) == 0;
}

} // namespace

std::string Second_File_Name(std::string_view Name) {
  const auto [Stem, Extension] = Split_Extension(Name);
  return std::string(Stem) + "_2" + std::string(Extension);
}

std::string Own_File_Name(std::string_view Name, std::uint32_t Process_Id) {
  const auto [Stem, Extension] = Split_Extension(Name);
  return std::string(Stem) + "_pid" + std::to_string(Process_Id) + std::string(Extension);
}

void Remove_Old_Own_Files(std::string_view Name) {
  const auto [Stem, Extension] = Split_Extension(Name);
  const std::size_t Folder_Length = Stem.find_last_of("\\/:") + 1; // 0 without a folder
  const std::string Own_Stem = std::string(Stem) + "_pid";
  const std::string_view Marker = std::string_view(Own_Stem).substr(Folder_Length);
  struct Run {
    std::string Id;
    std::uint64_t Newest;
  };
  std::vector<Run> Runs;
  for (const Windows::Files::Found_File &Found :
       Windows::Files::Find_Files(Own_Stem + "*" + std::string(Extension))) {
    // "<stem>_pid<digits>" and the extension, "_2" between for a roll-over
    // file; the system's match may have let others through.
    std::string_view Rest = Found.Name;
    if (!Same_Letters(Rest.substr(0, Marker.size()), Marker)) continue;
    Rest.remove_prefix(Marker.size());
    const std::string_view Id = Rest.substr(0, Rest.find_first_not_of("0123456789"));
    Rest.remove_prefix(Id.size());
    if (Rest.starts_with("_2")) Rest.remove_prefix(2);
    if (Id.empty() || !Same_Letters(Rest, Extension)) continue;
    const auto Known = std::ranges::find(Runs, Id, &Run::Id);
    if (Known == Runs.end())
      Runs.push_back({std::string(Id), Found.Last_Write_Time});
    else
      Known->Newest = std::max(Known->Newest, Found.Last_Write_Time);
  }
  if (Runs.size() < Own_Files_Kept) return;
  std::ranges::sort(Runs, std::ranges::greater(), &Run::Newest);
  for (auto Old = Runs.begin() + Own_Files_Kept - 1; Old != Runs.end(); ++Old) {
    const std::string Own = Own_Stem + Old->Id + std::string(Extension);
    try {
      // While its run writes the file (or the roll-over file, as it rolls
      // over), the file cannot be deleted: both stay.
      Windows::Files::Delete_Unused(Own);
      Windows::Files::Delete_Unused(Second_File_Name(Own));
    } catch (const Failure &) { // NOLINT(bugprone-empty-catch): kept
    }
  }
}

namespace {

constexpr std::size_t Prefix_Capacity = 40;

// " <seconds>.<four decimals> (<thread>) => " into Out; its length.
std::size_t Format_Prefix(char *Out, unsigned long Milliseconds, std::uint32_t Thread) {
  char *Next = Out;
  *Next++ = ' ';
  char Digits[12];
  int Count = 0;
  unsigned long Seconds = Milliseconds / 1000;
  do {
    Digits[Count++] = static_cast<char>('0' + Seconds % 10);
    Seconds /= 10;
  } while (Seconds != 0);
  while (Count > 0)
    *Next++ = Digits[--Count];
  // Whole milliseconds: the fourth decimal is always 0.
  const unsigned long Fraction = Milliseconds % 1000;
  *Next++ = '.';
  *Next++ = static_cast<char>('0' + Fraction / 100);
  *Next++ = static_cast<char>('0' + Fraction / 10 % 10);
  *Next++ = static_cast<char>('0' + Fraction % 10);
  *Next++ = '0';
  *Next++ = ' ';
  *Next++ = '(';
  for (int Shift = Thread <= 0xFFFF ? 12 : 28; Shift >= 0; Shift -= 4)
    *Next++ = Unsigned::Digit((Thread >> Shift) & 0xF);
  for (const char C : {')', ' ', '=', '>', ' '})
    *Next++ = C;
  return static_cast<std::size_t>(Next - Out);
}

unsigned long Milliseconds_Of_Day(const SYSTEMTIME &Time) {
  return ((Time.wHour * 60ul + Time.wMinute) * 60ul + Time.wSecond) * 1000ul + Time.wMilliseconds;
}

constexpr unsigned long Day = 86'400'000;

std::uint64_t Utc_Milliseconds() {
  FILETIME Now;
  GetSystemTimePreciseAsFileTime(&Now);
  return Unsigned::To_Unsigned_64(Now.dwHighDateTime, Now.dwLowDateTime) / 10'000;
}

} // namespace

std::string Record_Line(const SYSTEMTIME &Time, std::uint32_t Thread, std::string_view Message) {
  char Prefix[Prefix_Capacity];
  std::string Line(Prefix, Format_Prefix(Prefix, Milliseconds_Of_Day(Time), Thread));
  Line += Message;
  return Line;
}

unsigned long Local_Clock::Milliseconds() {
  const std::uint64_t Utc = Utc_Milliseconds();
  if (!Valid_ || Utc < Checked_ || Utc - Checked_ >= 1000) {
    // The local time is the system time plus the zone's bias, a whole number
    // of minutes: read it from the pair of clocks, rounded, and again each
    // second so that a change of daylight saving time shows at once.
    const unsigned long Local = Milliseconds_Of_Day(Windows::Local_Time());
    const long long Raw_Bias = static_cast<long long>(Local) - static_cast<long long>(Utc % Day);
    const long long Minute = 60'000;
    const long long Bias =
        (Raw_Bias + (Raw_Bias >= 0 ? Minute / 2 : -Minute / 2)) / Minute * Minute;
    Bias_ = ((Bias % Day) + Day) % Day;
    Checked_ = Utc;
    Valid_ = true;
  }
  return static_cast<unsigned long>((Utc + static_cast<std::uint64_t>(Bias_)) % Day);
}

void Log_File::Open_Log(std::string_view Product, bool Flush_Each, bool &Was_Closed) noexcept {
  std::lock_guard Guard(Lock_);
  if (Flush_Each) Flush_Each_ = true;
  Was_Closed = !Is_Open_;
  if (Is_Open_) {
    if (Flush_Each) {
      try {
        IO::Flush(File_);
      } catch (...) {}
    }
    return;
  }
  try {
    const Registry::Root_Key Saved_Root = Registry::Current_Root();
    const std::wstring Saved_Key = Registry::Current_Key_Name();
    try {
      Read_Settings("Software\\Orvane\\" + std::string(Product));
    } catch (...) {}
    Registry::Select_Root(Saved_Root);
    Registry::Open_Key(Saved_Key);
  } catch (...) {}
}

namespace {

// The "Log" value of the key under Root; nothing when the key or the value is
// missing or unreadable, which with the log off is every run's case.
std::optional<std::string> Log_Setting(Registry::Root_Key Root, const std::string &Key_Path) {
  Registry::Select_Root(Root);
  if (!Registry::Try_Open_Key(Key_Path)) return std::nullopt;
  return Registry::Try_Get_String("Log");
}

} // namespace

void Log_File::Read_Settings(const std::string &Key_Path) {
  std::optional<std::string> Name = Log_Setting(Registry::Root_Key::Current_User, Key_Path);
  if (!Name) Name = Log_Setting(Registry::Root_Key::Local_Machine, Key_Path);
  if (!Name) return;
  File_Name_ = std::move(Name);
  Record_Count_ = 0;
  Read_Limit();
  try {
    Create_File(*File_Name_);
  } catch (const IO::In_Use &) {
    Create_Own_File(); // another run holds the log
  }
}

void Log_File::Create_File(const std::string &Name) {
  File_ = IO::Create_Own(Name);
  Current_Name_ = Name;
  Is_Open_ = true;
  Second_Name_.reset();
  if (Limit_ == 0) return;
  Second_Name_ = Second_File_Name(Name);
  // A roll-over file of an earlier run must not survive; one in use is
  // another run's, and a link is left alone.
  try {
    Windows::Files::Delete_Unused(*Second_Name_);
  } catch (const Failure &) { // NOLINT(bugprone-empty-catch): kept
  }
}

void Log_File::Create_Own_File() {
  Remove_Old_Own_Files(*File_Name_);
  Create_File(Own_File_Name(*File_Name_, GetCurrentProcessId()));
}

void Log_File::Read_Limit() {
  Limit_ = Registry::Try_Get_Number("Log Limit").value_or(Default_Limit);
}

void Log_File::Roll_Over() {
  IO::Write_Out(File_);
  // Renamed while this run holds it, the file cannot change hands. When the
  // system refuses (to a reader that does not share deletion, say), the
  // records go on in it and the next record tries again.
  try {
    IO::Rename(File_, *Second_Name_);
  } catch (const IO::Rename_Failure &) {
    return;
  }
  const IO::Handle Rolled = File_;
  const std::string Rolled_Name = *Second_Name_;
  bool Created = true;
  try {
    File_ = IO::Create_Own(Current_Name_);
  } catch (const Failure &) {
    Created = false;
  }
  if (Created) {
    IO::Close(Rolled);
  } else {
    // Another run took the name while it was free: this one goes on in a file
    // of its own and holds the rolled-over file, which the other would delete.
    try {
      Create_Own_File();
      Kept_ = Rolled;
    } catch (const Failure &) {
      // Nowhere to go on but the rolled-over file, which rolls over no more.
      Current_Name_ = Rolled_Name;
      Second_Name_.reset();
      return;
    }
  }
  IO::Put_Whole_Line(
      {"The log file reached it's maximum size of ", std::to_string(Limit_), " records"}, File_);
  IO::Put_Whole_Line({"These records are now stored in the file ", Rolled_Name}, File_);
  Record_Count_ = 2;
}

void Log_File::Write_Record(std::string_view Message) noexcept {
  Write_Record({}, Message);
}

void Log_File::Write_Record(std::string_view Prefix, std::string_view Message) noexcept {
  std::lock_guard Guard(Lock_);
  if (!Is_Open_) return;
  try {
    if (Second_Name_ && Record_Count_ >= Limit_) Roll_Over();
    char Stamp[Prefix_Capacity];
    IO::Put_Whole_Line({std::string_view(Stamp, Format_Prefix(Stamp, Clock_.Milliseconds(),
                                                              Windows::Current_Thread_Id())),
                        Prefix, Message},
                       File_);
    if (Flush_Each_) IO::Flush(File_);
    ++Record_Count_;
  } catch (...) {
    Is_Open_ = false;
  }
}

void Log_File::Write_Out() noexcept {
  std::lock_guard Guard(Lock_);
  if (!Is_Open_) return;
  try {
    IO::Write_Out(File_);
  } catch (...) {
    Is_Open_ = false;
  }
}

void Log_File::Close() noexcept {
  std::lock_guard Guard(Lock_);
  Is_Open_ = false;
  try {
    if (File_.Is_Open()) IO::Close(File_);
  } catch (...) {}
  Kept_ = IO::Handle();
}

bool Log_File::Is_Open() {
  std::lock_guard Guard(Lock_);
  return Is_Open_;
}

std::uint32_t Log_File::Limit() {
  std::lock_guard Guard(Lock_);
  return Limit_;
}

std::uint32_t Log_File::Record_Count() {
  std::lock_guard Guard(Lock_);
  return Record_Count_;
}

} // namespace Log
