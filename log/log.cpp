#include "log/log.hpp"

#include "core/failure.hpp"
#include "log/log_file.hpp"
#include "text/unsigned.hpp"
#include "windows/pipe.hpp"
#include "windows/version.hpp"
#include "windows/windows.hpp"

namespace Log {

std::string Report_Message(std::string_view Where, const std::exception_ptr &Caught) noexcept {
  try {
    try {
      return std::string(Where) + ": Exception = " + Information_Of(Caught);
    } catch (...) {}
    try {
      return std::string(Where) + ": Exception = " + Name_Of(Caught);
    } catch (...) {}
    return std::string(Where) + ": Unknown Exception";
  } catch (...) {
    return {};
  }
}

void Report(std::string_view Where, const std::exception_ptr &Caught) noexcept {
  Put(Report_Message(Where, Caught));
}

namespace {

// The process's one log; off until Start_Log opens it.
Log_File The_Log;

std::string Load_Address_Image(const void *Address) {
  const auto Value = reinterpret_cast<std::uintptr_t>(Address);
  if (Value <= 0xFFFFFFFFu) return Unsigned::Image(static_cast<Unsigned::Unsigned_32>(Value));
  return Unsigned::Image(static_cast<Unsigned::Unsigned_32>(Value >> 32)) +
         Unsigned::Image(static_cast<Unsigned::Unsigned_32>(Value));
}

} // namespace

void Put(std::string_view Message) noexcept {
  The_Log.Write_Record(Message);
}

void Put(std::string_view Prefix, std::string_view Message) noexcept {
  The_Log.Write_Record(Prefix, Message);
}

void Flush() noexcept {
  The_Log.Write_Out();
}

void Start_Log(bool Flush_Each) {
  Windows::Pipe::Set_Diagnostic_Sink(&Put);
  const Windows::Module_Entry Module =
      Windows::Module_Containing(reinterpret_cast<const void *>(&Start_Log));
  std::string Product;
  try {
    Product = Windows::Version::Product_Name();
  } catch (const Windows::Version::No_Version_Info &) {
    Product = Windows::Module_Base_Name(Module);
  } catch (...) {
    return;
  }
  bool Was_Closed = false;
  The_Log.Open_Log(Product, Flush_Each, Was_Closed);
  // With the log off the header would be written nowhere.
  if (!Was_Closed || !The_Log.Is_Open()) return;
  try {
    The_Log.Write_Record(Product + " version " + Windows::Version::Product_Version());
  } catch (...) {}
  try {
    The_Log.Write_Record("Log created " + Windows::Date_Time_Image(Windows::Local_Time()));
    if (Windows::Is_Not_Main_Module(Module.hModule))
      The_Log.Write_Record("DLL Loaded at 0x" + Load_Address_Image(Module.modBaseAddr));
  } catch (...) {}
}

void Finalise() noexcept {
  The_Log.Close();
}

} // namespace Log
