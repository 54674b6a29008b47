// Random profile files, each key read both ways: from one read of the section
// and with one system call per key. Quotes of both kinds, matched or not,
// blanks and tabs, letter case, duplicate keys and sections, comment lines,
// lines without "=", empty values and values about the lengths where the
// per-key read grows its buffer, sections too large for one read. Whatever
// the one read answers by itself is what the per-key read gives.
#include "fuzz_support.hpp"
#include "windows/windows.hpp"

#include <algorithm>
#include <cctype>
#include <optional>

namespace {

using Strings = std::vector<std::string>;

const Strings Keys{"Pipename", "Pipelength", "Server", "Editor", "Path", "Units"};

std::string Some_Case(Fuzz::Random &R, std::string Text) {
  if (R.Percent(30))
    for (char &C : Text)
      if (R.Percent(50) && std::isalpha(static_cast<unsigned char>(C))) C ^= 0x20;
  return Text;
}

std::string Blanks(Fuzz::Random &R) {
  if (R.Percent(60)) return "";
  // Not a blank to every system: rare, as it makes the one read unsure.
  if (R.Percent(2)) return "\xA0";
  return R.Pick(Strings{" ", "\t", " \t ", "  ", "\v", "\x1a"});
}

std::string Key_Name(Fuzz::Random &R) {
  if (R.Percent(85)) return Some_Case(R, R.Pick(Keys));
  if (R.Percent(80))
    return R.Pick(Strings{"Pipe name", "Other", "Pipename2", "=", "[Tez_Client", "Pipename\x1a"});
  return R.Pick(Strings{"Pip\xE9name", "P\xE9", "Path\xA0"});
}

// Lengths around where the per-key read's buffer is full (300, 600, 1200 ...).
std::size_t Value_Length(Fuzz::Random &R) {
  if (R.Percent(70)) return R.Below(12);
  if (R.Percent(1)) return 32760 + R.Below(10);
  return R.Pick(std::vector<std::size_t>{297, 600, 1200, 2400}) + R.Below(6);
}

std::string Value_Text(Fuzz::Random &R) {
  static const Strings Pieces{"a", "b", " ", "\t", "=", ";", "\"", "'", "[", "]", "\xE9", "x y"};
  std::string Text;
  for (std::size_t Length = Value_Length(R); Text.size() < Length;)
    Text += R.Percent(95) ? R.Pick(Pieces) : std::string(1, R.Byte());
  std::replace_if(
      Text.begin(), Text.end(), [](char C) { return C == '\r' || C == '\n'; }, ' ');
  switch (R.Below(8)) {
  case 0:
    return "\"" + Text + "\"";
  case 1:
    return "'" + Text + "'";
  case 2:
    return R.Pick(Strings{"\"", "'", "\"'"}) + Text;
  case 3:
    return Text + R.Pick(Strings{"\"", "'"});
  case 4:
    return R.Pick(Strings{"\"", "'", "\"\"", "''", "\"x'", " \" ", ""});
  default:
    return Text;
  }
}

std::string Line(Fuzz::Random &R) {
  switch (R.Below(20)) {
  case 0:
    return Blanks(R) + ";" + Key_Name(R) + "=" + Value_Text(R);
  case 1:
    return Blanks(R) + Key_Name(R) + Blanks(R);
  case 2:
    return Blanks(R);
  case 3:
    return R.Pick(Strings{"[Other]", "[Tez_Client]", "[tez_client]", " [Tez_Client] "});
  default:
    return Blanks(R) + Key_Name(R) + Blanks(R) + "=" + Blanks(R) + Value_Text(R) + Blanks(R);
  }
}

std::string Profile_Text(Fuzz::Random &R) {
  std::string Text;
  if (R.Percent(20)) Text += "[Other]\r\nPipename=other\r\n";
  Text += R.Percent(90) ? "[Tez_Client]" : R.Pick(Strings{"[TEZ_CLIENT]", " [Tez_Client]\t"});
  for (std::size_t Count = R.Below(R.Percent(90) ? 16 : 60); Count > 0; --Count)
    Text += R.Pick(Strings{"\r\n", "\r\n", "\r\n", "\n", "\r"}) + Line(R);
  return Text + (R.Percent(80) ? "\r\n" : "");
}

class Profile_Fuzz : public ::testing::Test {
protected:
  Test_Support::Scratch_Directory Dir;
  std::uint64_t Answered = 0, Asked = 0;

  void Check(Fuzz::Random &R) {
    // A new file each time: the system may keep a parsed file whose time
    // stamp has not moved.
    const std::string File = Dir / ("profile" + std::to_string(Answered + Asked) + ".ini");
    Test_Support::Write_File(File, Profile_Text(R));
    const Windows::Profile_Section Section("Tez_Client", File);
    Strings Asked_For = Keys;
    Asked_For.push_back("Other");
    for (std::string &Key : Asked_For) {
      Key = Some_Case(R, Key);
      const std::optional<std::string> Known = Section.Known_Value(Key);
      const std::string Per_Key = Windows::Profile_String(Key, "Tez_Client", File);
      if (Known) {
        EXPECT_EQ(*Known, Per_Key) << "key " << Key;
        Fuzz::Tally(Per_Key.empty() ? "answered by the one read: empty"
                                    : "answered by the one read");
      } else {
        Fuzz::Tally("asked per key");
      }
      ++(Known ? Answered : Asked);
    }
    DeleteFileA(File.c_str());
  }
};

} // namespace

TEST_F(Profile_Fuzz, OneReadAnswersAsEachKeysOwnRead) {
  Fuzz::Run("profile", 400, [&](Fuzz::Random &R) { Check(R); });
  // Over many inputs the one read answers most keys (quoted values go per key).
  if (Answered + Asked >= 700) {
    EXPECT_GT(Answered, 2 * Asked);
  }
}
