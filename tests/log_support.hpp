#pragma once

// Registry settings of the log for a product of the test's own, under both
// roots, removed afterwards.
#include "support.hpp"

#include <string>
#include <vector>

#include <windows.h>

namespace Test_Support {

class Log_Settings {
public:
  explicit Log_Settings(std::string Product);
  ~Log_Settings();
  Log_Settings(const Log_Settings &) = delete;
  Log_Settings &operator=(const Log_Settings &) = delete;

  const std::string Product;
  const std::string Key; // Software\Orvane\<Product>

  void Set_String(HKEY Root, const char *Name, const std::string &Value, DWORD Type = REG_SZ) const;
  void Set_Number(HKEY Root, const char *Name, DWORD Value) const;
  void Create_Key(HKEY Root) const;
};

// The lines of a file, without their CR LF ends.
std::vector<std::string> Lines_Of(const std::string &File_Name);

// True for " <seconds>.<4 digits> (<4 or 8 hex digits>) => " followed by Message.
bool Is_Record(const std::string &Line, const std::string &Message);

} // namespace Test_Support
