#pragma once

// Registry settings of the log for a product, under both roots, and files a
// test may change: each put back as it was found, so that a run of the tests
// leaves a user's own log settings and files alone.
#include "support.hpp"

#include <optional>
#include <string>
#include <vector>

#include <windows.h>

namespace Test_Support {

// The values of Software\Orvane\<Product> under one root, as found.
class Saved_Key {
public:
  Saved_Key(HKEY Root, const std::string &Key);
  ~Saved_Key(); // the values as found; no key, and no Orvane key, that was not there
  Saved_Key(const Saved_Key &) = delete;
  Saved_Key &operator=(const Saved_Key &) = delete;

  // The string value Name as found, if any.
  std::optional<std::string> Found_String(const std::string &Name) const;

private:
  struct Value {
    std::string Name;
    DWORD Type;
    std::string Data;
  };
  HKEY Root_;
  std::string Key_;
  bool Key_Existed_, Parent_Existed_;
  std::vector<Value> Values_;
};

// The settings of a product (the test's own, or the client's), emptied for
// the test under both roots and put back afterwards.
class Log_Settings {
public:
  explicit Log_Settings(std::string Product);
  Log_Settings(const Log_Settings &) = delete;
  Log_Settings &operator=(const Log_Settings &) = delete;

  const std::string Product;
  const std::string Key; // Software\Orvane\<Product>

  void Set_String(HKEY Root, const char *Name, const std::string &Value, DWORD Type = REG_SZ) const;
  void Set_Number(HKEY Root, const char *Name, DWORD Value) const;
  void Create_Key(HKEY Root) const;

  // The Log values found before the test, the user's first.
  std::vector<std::string> Found_Logs() const;

private:
  Saved_Key User_, Machine_;
};

// Files as found, written back (or removed, with the folders made for them)
// afterwards.
class Saved_Files {
public:
  explicit Saved_Files(const std::vector<std::string> &Names);
  ~Saved_Files();
  Saved_Files(const Saved_Files &) = delete;
  Saved_Files &operator=(const Saved_Files &) = delete;

private:
  struct File {
    std::string Name;
    std::optional<std::string> Content;
    bool Folder_Existed;
  };
  std::vector<File> Files_;
};

// A log file and its second file (name_2.ext).
std::vector<std::string> Log_And_Second(const std::string &Log_Name);

// The lines of a file, without their CR LF ends.
std::vector<std::string> Lines_Of(const std::string &File_Name);

// True for " <seconds>.<4 digits> (<4 or 8 hex digits>) => " followed by Message.
bool Is_Record(const std::string &Line, const std::string &Message);

} // namespace Test_Support
