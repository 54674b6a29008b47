#include "server/answers.hpp"

#include "text/integer_literal.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>

namespace Server {

namespace {

struct Token {
  std::string Name;
  int Line;
  int Column;
  bool Called; // an opening parenthesis follows it
};

struct Finding {
  int Line;
  int Column;
  std::string Message;
};

struct Scan {
  std::vector<Token> Identifiers; // of the program: none from preprocessor lines
  std::vector<std::string> Directive_Names;
  std::vector<Finding> Errors;
};

// Words of the languages themselves, and the entry point: never reported as
// unused.
bool Is_Reserved(const std::string &Word) {
  static const std::array<std::string_view, 52> Words{
      "and",     "begin",     "body",     "break",  "case",   "char",  "const",   "continue",
      "do",      "double",    "else",     "elsif",  "end",    "enum",  "exit",    "false",
      "float",   "for",       "function", "if",     "in",     "int",   "is",      "long",
      "loop",    "main",      "new",      "not",    "null",   "of",    "or",      "out",
      "package", "procedure", "program",  "record", "return", "short", "signed",  "sizeof",
      "static",  "struct",    "switch",   "then",   "true",   "type",  "typedef", "unsigned",
      "use",     "var",       "void",     "while"};
  return std::find(Words.begin(), Words.end(), Word) != Words.end();
}

bool Is_Letter(char C) {
  return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z');
}
bool Is_Digit(char C) {
  return C >= '0' && C <= '9';
}
bool Is_Word_Character(char C) {
  return Is_Letter(C) || Is_Digit(C) || C == '_';
}

// Where the character literal opening at Start ends (just past its closing
// quote), or Start when the quote opens none: a quote after a name or a
// closing parenthesis is an attribute tick (X'Length), and one without a
// partner on its line is taken for a lone tick too.
std::size_t Character_Literal_End(const std::string &Text, std::size_t Start) {
  if (Start > 0 && (Is_Word_Character(Text[Start - 1]) || Text[Start - 1] == ')')) return Start;
  for (std::size_t I = Start + 1; I < Text.size() && Text[I] != '\n' && Text[I] != '\r'; ++I) {
    if (Text[I] == '\'') return I + 1;
    if (Text[I] == '\\' && I + 1 < Text.size() && Text[I + 1] != '\n') ++I;
  }
  return Start;
}

// A name followed, across blanks, by an opening parenthesis.
bool Is_Called(const std::string &Text, std::size_t After) {
  while (After < Text.size() && (Text[After] == ' ' || Text[After] == '\t'))
    ++After;
  return After < Text.size() && Text[After] == '(';
}

// A backslash just before the line end at At carries a preprocessor line on.
bool Is_Continued(const std::string &Text, std::size_t At) {
  if (At > 0 && Text[At - 1] == '\r') --At;
  return At > 0 && Text[At - 1] == '\\';
}

Scan Scan_Text(const std::string &Text) {
  Scan Result;
  struct Open_Bracket {
    char Symbol;
    int Line, Column;
  };
  std::vector<Open_Bracket> Open;
  int Line = 1, Column = 1;
  bool In_Block_Comment = false;
  int Block_Line = 0, Block_Column = 0;
  // A "#" first on a line starts a preprocessor line; it ends with a line
  // not continued by a backslash (a block comment inside it carries it on).
  bool At_Line_Start = true, In_Directive = false;
  for (std::size_t I = 0; I < Text.size();) {
    const char C = Text[I];
    const char Next = I + 1 < Text.size() ? Text[I + 1] : '\0';
    const auto Advance = [&](std::size_t Count) {
      for (std::size_t K = 0; K < Count && I < Text.size(); ++K, ++I) {
        if (Text[I] == '\n') {
          ++Line;
          Column = 1;
        } else {
          ++Column;
        }
      }
    };
    if (!In_Block_Comment && C != ' ' && C != '\t' && C != '\r' && C != '\n') {
      if (At_Line_Start && C == '#') In_Directive = true;
      At_Line_Start = false;
    }
    if (In_Block_Comment) {
      if (C == '*' && Next == '/') {
        In_Block_Comment = false;
        Advance(2);
      } else {
        Advance(1);
      }
    } else if (C == '/' && Next == '*') {
      In_Block_Comment = true;
      Block_Line = Line;
      Block_Column = Column;
      Advance(2);
    } else if ((C == '/' && Next == '/') || (C == '-' && Next == '-')) {
      while (I < Text.size() && Text[I] != '\n')
        Advance(1);
    } else if (C == '"') {
      const int Start_Line = Line, Start_Column = Column;
      Advance(1);
      bool Closed = false;
      while (I < Text.size() && Text[I] != '\n' && Text[I] != '\r') {
        if (Text[I] == '\\' && I + 1 < Text.size() && Text[I + 1] != '\n') {
          Advance(2);
        } else if (Text[I] == '"') {
          Advance(1);
          Closed = true;
          break;
        } else {
          Advance(1);
        }
      }
      if (!Closed) Result.Errors.push_back({Start_Line, Start_Column, "unterminated string"});
    } else if (C == '\'' && Character_Literal_End(Text, I) > I) {
      Advance(Character_Literal_End(Text, I) - I);
    } else if (C == '\n') {
      if (!Is_Continued(Text, I)) In_Directive = false;
      At_Line_Start = true;
      Advance(1);
    } else if (Is_Letter(C)) {
      Token Word{{}, Line, Column, false};
      while (I < Text.size() && Is_Word_Character(Text[I])) {
        Word.Name += Text[I];
        Advance(1);
      }
      Word.Called = Is_Called(Text, I);
      if (In_Directive)
        Result.Directive_Names.push_back(std::move(Word.Name));
      else
        Result.Identifiers.push_back(std::move(Word));
    } else if (Is_Digit(C) || C == '_') {
      while (I < Text.size() && Is_Word_Character(Text[I]))
        Advance(1);
    } else if (C == '(' || C == '[' || C == '{') {
      Open.push_back({C, Line, Column});
      Advance(1);
    } else if (C == ')' || C == ']' || C == '}') {
      const char Opening = C == ')' ? '(' : C == ']' ? '[' : '{';
      const auto Match = std::find_if(Open.rbegin(), Open.rend(), [&](const Open_Bracket &Bracket) {
        return Bracket.Symbol == Opening;
      });
      if (Match == Open.rend()) {
        // A stray closer: nothing it could close is open.
        Result.Errors.push_back({Line, Column, std::string("unexpected '") + C + "'"});
      } else {
        // Whatever was opened after its partner was never closed.
        for (auto Inner = Open.rbegin(); Inner != Match; ++Inner)
          Result.Errors.push_back(
              {Inner->Line, Inner->Column, std::string("'") + Inner->Symbol + "' is never closed"});
        Open.erase(std::prev(Match.base()), Open.end());
      }
      Advance(1);
    } else {
      Advance(1);
    }
  }
  if (In_Block_Comment) Result.Errors.push_back({Block_Line, Block_Column, "unterminated comment"});
  for (const Open_Bracket &Bracket : Open)
    Result.Errors.push_back(
        {Bracket.Line, Bracket.Column, std::string("'") + Bracket.Symbol + "' is never closed"});
  std::stable_sort(Result.Errors.begin(), Result.Errors.end(),
                   [](const Finding &A, const Finding &B) {
                     return A.Line != B.Line ? A.Line < B.Line : A.Column < B.Column;
                   });
  return Result;
}

// The file's text, or the reason it cannot be read.
std::optional<std::string> Read_Source(const std::string &File, std::string &Reason) {
  std::ifstream In(File, std::ios::binary);
  if (!In) {
    Reason = std::strerror(errno);
    return std::nullopt;
  }
  std::ostringstream Text;
  Text << In.rdbuf();
  return Text.str();
}

std::string Where(const std::string &File, int Line, int Column) {
  return File + ":" + std::to_string(Line) + ":" + std::to_string(Column);
}

std::vector<std::string> Syntax(const std::string &File, const std::string &Text) {
  std::vector<std::string> Lines;
  for (const Finding &Error : Scan_Text(Text).Errors)
    Lines.push_back(Where(File, Error.Line, Error.Column) + ": error: " + Error.Message);
  if (Lines.empty()) Lines.push_back(File + ": no syntax errors found");
  return Lines;
}

// A name used once is reported unless that once is a call, or a
// preprocessor line names it: then it is declared elsewhere (a library
// function, a macro).
std::vector<std::string> Unused(const std::string &File, const std::string &Text) {
  const Scan Found = Scan_Text(Text);
  std::map<std::string, int> Uses;
  for (const Token &Word : Found.Identifiers)
    ++Uses[Word.Name];
  const auto Named_By_Directive = [&](const std::string &Name) {
    return std::find(Found.Directive_Names.begin(), Found.Directive_Names.end(), Name) !=
           Found.Directive_Names.end();
  };
  std::vector<std::string> Lines;
  for (const Token &Word : Found.Identifiers)
    if (Uses[Word.Name] == 1 && !Word.Called && !Is_Reserved(Word.Name) &&
        !Named_By_Directive(Word.Name))
      Lines.push_back(Where(File, Word.Line, Word.Column) + ": warning: " + Word.Name +
                      " is never used");
  if (Lines.empty()) Lines.push_back(File + ": every identifier is used");
  return Lines;
}

// The identifier at Line and Column, if any.
const Token *Identifier_At(const Scan &Found, int Line, int Column) {
  for (const Token &Word : Found.Identifiers)
    if (Word.Line == Line && Word.Column <= Column &&
        Column < Word.Column + static_cast<int>(Word.Name.size()))
      return &Word;
  return nullptr;
}

// The location as one argument of the editor's command line: the C runtime
// splits it at blanks and tabs outside double quotes. Inside them it reads
// backslashes literally unless a quote follows, and none does here: a file
// name holds no quote, and the location ends in the column.
std::string Editor_Argument(const std::string &File, const std::string &Location) {
  if (File.find_first_of(" \t") == std::string::npos) return Location;
  return '"' + Location + '"';
}

std::vector<std::string> Position_Query(char Kind, const std::string &File, const std::string &Text,
                                        int Line, int Column) {
  const Scan Found = Scan_Text(Text);
  const Token *const Target = Identifier_At(Found, Line, Column);
  if (!Target) return {"No identifier at " + Where(File, Line, Column)};
  std::vector<std::string> Lines;
  for (const Token &Word : Found.Identifiers) {
    if (Word.Name != Target->Name) continue;
    if (Kind == 'L') return {">" + Editor_Argument(File, Where(File, Word.Line, Word.Column))};
    Lines.push_back(Where(File, Word.Line, Word.Column) + ": reference to " + Word.Name);
  }
  return Lines;
}

// "file<line,column>" as the client sends it.
bool Split_Position(std::string_view Payload, std::string &File, std::string &Line_Text,
                    std::string &Column_Text) {
  if (Payload.empty() || Payload.back() != '>') return false;
  const std::size_t Open = Payload.rfind('<');
  if (Open == std::string_view::npos) return false;
  const std::string_view Inside = Payload.substr(Open + 1, Payload.size() - Open - 2);
  const std::size_t Comma = Inside.find(',');
  if (Comma == std::string_view::npos) return false;
  File = Payload.substr(0, Open);
  Line_Text = Inside.substr(0, Comma);
  Column_Text = Inside.substr(Comma + 1);
  return true;
}

} // namespace

std::vector<std::string> Answer(std::string_view Request) {
  if (Request.empty()) return {};
  const char Kind = Request.front();
  const std::string_view Payload = Request.substr(1);
  switch (Kind) {
  case 'E':
  case 'F':
  case 'I':
  case 'X':
  case 'P':
  case 'T':
  case 'U':
  case 'C':
    return {};
  case 'S':
  case 'A': {
    const std::string File(Payload);
    std::string Reason;
    const std::optional<std::string> Text = Read_Source(File, Reason);
    if (!Text) return {"!Cannot read " + File + ": " + Reason};
    return Kind == 'S' ? Syntax(File, *Text) : Unused(File, *Text);
  }
  case 'R':
  case 'L': {
    std::string File, Line_Text, Column_Text;
    if (!Split_Position(Payload, File, Line_Text, Column_Text))
      return {"!Malformed request: " + std::string(Request)};
    std::int32_t Line = 0, Column = 0;
    try {
      Line = Text::Integer_Value(Line_Text);
      Column = Text::Integer_Value(Column_Text);
    } catch (const Failure &) {
      return {"!Cannot use the position " + Line_Text + "," + Column_Text + " in " + File};
    }
    if (Line < 1 || Column < 1)
      return {"!Cannot use the position " + Line_Text + "," + Column_Text + " in " + File +
              ": lines and columns count from 1"};
    std::string Reason;
    const std::optional<std::string> Text = Read_Source(File, Reason);
    if (!Text) return {"!Cannot read " + File + ": " + Reason};
    return Position_Query(Kind, File, *Text, Line, Column);
  }
  default:
    return {"!Unknown request kind " + std::string(1, Kind)};
  }
}

std::vector<std::string> Cut(const std::vector<std::string> &Lines, std::size_t Size) {
  std::vector<std::string> Messages;
  for (const std::string &Line : Lines) {
    if (Line.empty()) Messages.emplace_back();
    for (std::size_t Start = 0; Start < Line.size();) {
      std::size_t Length = std::min(Size, Line.size() - Start);
      // A piece that is "." alone would end the replies: leave the dot with
      // a byte before it. Messages of one byte cannot carry a dot at all.
      if (Size > 1 && Line.size() - Start - Length == 1 && Line.back() == '.') --Length;
      if (Size > 1 || Line[Start] != '.') Messages.push_back(Line.substr(Start, Length));
      Start += Length;
    }
  }
  return Messages;
}

} // namespace Server
