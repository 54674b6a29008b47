#pragma once

// Real answers of the stand-in server about plain C-like or Pascal-like
// source files. Identifiers are letters, digits and underscores, starting
// with a letter; "//" and "--" start line comments, "/*" a block comment,
// strings are in double quotes and character literals in single ones, and a
// line starting with "#" is a preprocessor line: none of these holds an
// identifier of the program. A location reply is the editor's argument text,
// in double quotes when the file name holds a blank.
#include <string>
#include <string_view>
#include <vector>

namespace Server {

// The reply lines to one request, without the end mark; not yet cut to the
// client's message length. Settings and unknown kinds get none.
std::vector<std::string> Answer(std::string_view Request);

// Lines cut into messages of at most Size bytes (an empty line stays one
// empty message). None is "." alone, which would end the replies: with Size 1
// the dots are left out.
std::vector<std::string> Cut(const std::vector<std::string> &Lines, std::size_t Size);

} // namespace Server
