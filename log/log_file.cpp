#include "log/log_file.hpp"

#include "text/text.hpp"
#include "text/unsigned.hpp"
#include "windows/files.hpp"
#include "windows/registry.hpp"
#include "windows/windows.hpp"

namespace Log {

namespace IO = Windows::Files::IO;
namespace Registry = Windows::Registry;

std::string Second_File_Name(std::string_view Name) {
  const int Dot = Text::Index('.', Name, 0, Text::Direction::Backward);
  const int Separator = std::max(Text::Index('\\', Name, 0, Text::Direction::Backward),
                                 Text::Index('/', Name, 0, Text::Direction::Backward));
  if (Dot == 0 || Dot < Separator) return std::string(Name) + "_2";
  const int Length = static_cast<int>(Name.size());
  return Text::Slice(Name, 1, Dot - 1) + "_2" + Text::Slice(Name, Dot, Length - Dot + 1);
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
  Create_File(*File_Name_);
  Record_Count_ = 0;
  Read_Limit();
  if (Limit_ != 0) {
    Second_Name_ = Second_File_Name(*File_Name_);
    // A roll-over file of an earlier run must not survive; when no log was
    // created, its name may be a stranger's file ("_2" of an empty "Log").
    if (Is_Open_) Windows::Files::Delete(*Second_Name_);
  }
}

void Log_File::Create_File(const std::string &Name) {
  try {
    File_ = IO::Create(Name, false, true);
    Is_Open_ = true;
  } catch (const Failure &) {
    Is_Open_ = false;
  }
}

void Log_File::Read_Limit() {
  Limit_ = Registry::Try_Get_Number("Log Limit").value_or(Default_Limit);
}

void Log_File::Roll_Over() {
  IO::Close(File_);
  Windows::Files::Rename(*File_Name_, *Second_Name_);
  File_ = IO::Create(*File_Name_, false, true);
  IO::Put_Line("The log file reached it's maximum size of " + std::to_string(Limit_) + " records",
               File_);
  IO::Put_Line("These records are now stored in the file " + *Second_Name_, File_);
  Record_Count_ = 2;
}

void Log_File::Write_Record(std::string_view Message) noexcept {
  Write_Record({}, Message);
}

void Log_File::Write_Record(std::string_view Prefix, std::string_view Message) noexcept {
  std::lock_guard Guard(Lock_);
  if (!Is_Open_) return;
  try {
    if (Limit_ != 0 && Record_Count_ >= Limit_) Roll_Over();
    char Stamp[Prefix_Capacity];
    IO::Put(std::string_view(
                Stamp, Format_Prefix(Stamp, Clock_.Milliseconds(), Windows::Current_Thread_Id())),
            File_);
    if (!Prefix.empty()) IO::Put(Prefix, File_);
    IO::Put_Line(Message, File_);
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
