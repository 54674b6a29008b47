#include "windows/version.hpp"
#include "windows/windows.hpp"

#include "support.hpp"

#include <gtest/gtest.h>

#include <optional>

using namespace Windows::Version;

namespace {

const std::string Directory = Test_Support::Program_Directory();

std::string Own_File() {
  char Path[MAX_PATH];
  return std::string(Path, GetModuleFileNameA(nullptr, Path, MAX_PATH));
}

class Version_Test : public ::testing::Test {
protected:
  void SetUp() override { Initialise(); }
  void TearDown() override { Set_Translation(0x040904E4); }
};

} // namespace

TEST_F(Version_Test, ProductNameAndVersionOfTheProgramItself) {
  EXPECT_EQ(Product_Name(), "Tez_Version_Test");
  EXPECT_EQ(Product_Name(), "Tez_Version_Test") << "read afresh, equal";
  EXPECT_EQ(Product_Version(), "9.8.7");
}

TEST_F(Version_Test, TheClientCarriesItsOwnNameAndVersion) {
  const std::string Client = Directory + "Tez_Client.exe";
  EXPECT_EQ(String_Value("ProductName", Client), "Tez_Client");
  EXPECT_FALSE(String_Value("ProductVersion", Client).empty());
}

TEST_F(Version_Test, LengthLimitAndEmptyStrings) {
  EXPECT_EQ(String_Value("Long1000", Own_File()), std::string(1000, 'x'));
  EXPECT_THROW(String_Value("Long1001", Own_File()), Constraint_Error);
  EXPECT_EQ(String_Value("Empty", Own_File()), "");
  EXPECT_THROW(String_Value("Missing", Own_File()), No_Version_Info);
}

TEST_F(Version_Test, OnlyTheSelectedTranslationIsRead) {
  const std::string Probe = Directory + "tez_probe.exe";
  EXPECT_THROW(String_Value("ProductName", Probe), No_Version_Info);
  Set_Translation(0x040704B0);
  EXPECT_EQ(String_Value("ProductName", Probe), "Probe");
  EXPECT_THROW(Product_Name(), No_Version_Info);
}

TEST_F(Version_Test, FilesWithoutAVersionResource) {
  Test_Support::Scratch_Directory Dir;
  Test_Support::Write_File(Dir / "plain.txt", "no resource here");
  EXPECT_THROW(String_Value("ProductName", Dir / "plain.txt"), No_Version_Info);
  EXPECT_THROW(String_Value("ProductName", Dir / "missing.exe"), No_Version_Info);
  EXPECT_THROW(Query_Value("\\", Dir / "plain.txt"), No_Version_Info);
  const Value Root = Query_Value("\\", Own_File());
  EXPECT_EQ(Root.Length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(static_cast<const VS_FIXEDFILEINFO *>(Root.Pointer)->dwSignature, 0xFEEF04BDu);
}

namespace {

// What the system's version calls (VERSION.dll) read: the value's bytes as
// long as they report; none when they fail.
std::optional<std::string> System_Value(const std::string &File, const std::string &Sub_Block) {
  DWORD Ignored = 0;
  const DWORD Size = GetFileVersionInfoSizeA(File.c_str(), &Ignored);
  std::string Data(Size, '\0');
  void *Pointer = nullptr;
  UINT Length = 0;
  if (Size == 0 || !GetFileVersionInfoA(File.c_str(), 0, Size, Data.data()) ||
      !VerQueryValueA(Data.data(), Sub_Block.c_str(), &Pointer, &Length))
    return std::nullopt;
  return std::string(static_cast<const char *>(Pointer), Length);
}

std::optional<std::string> Own_Value(const std::string &File, const std::string &Sub_Block) {
  try {
    const Value Found = Query_Value(Sub_Block, File);
    return std::string(static_cast<const char *>(Found.Pointer), Found.Length);
  } catch (const No_Version_Info &) {
    return std::nullopt;
  }
}

} // namespace

TEST_F(Version_Test, ReadsWhatTheSystemsVersionCallsRead) {
  for (const std::string &File :
       {Own_File(), Directory + "Tez_Client.exe", Directory + "tez_probe.exe"})
    for (const char *const Sub_Block :
         {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo\\040904E4\\ProductName",
          "\\stringfileinfo\\040904e4\\productversion", "\\StringFileInfo\\040704B0\\ProductName",
          "\\StringFileInfo\\040904E4\\Long1000", "\\StringFileInfo\\040904E4\\Empty",
          "\\StringFileInfo\\040904E4\\Missing"})
      EXPECT_EQ(Own_Value(File, Sub_Block), System_Value(File, Sub_Block))
          << File << " " << Sub_Block;
}
