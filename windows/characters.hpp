#pragma once

#include "core/failure.hpp"

#include <optional>
#include <string>
#include <string_view>

// Text between the system's ANSI code page and UTF-16, the system's own
// characters. What the system is handed is checked in the form it reads, so
// the text crosses once and exactly, or not at all: never with a NUL that
// ends it early, a byte the system would join with the next, or a look-alike
// put in for a character the code page lacks.
namespace Windows::Characters {

// Text that is no text of the code page; the reason names the byte and where.
using Invalid = Named_Failure<"WINDOWS.CHARACTERS.INVALID">;

// Text as UTF-16. INVALID for a NUL byte and for a byte that is no character
// of the code page (a lead byte without its trail byte among them).
std::wstring Wide(std::string_view Text);

// Text as the system's 8-bit calls read it, never refused: for a name the
// system has handed over in the code page already (a registry value).
std::wstring Widened(std::string_view Text);

// Text in the code page when every character has a form of its own there;
// none when one would become a look-alike or the default character.
std::optional<std::string> Narrow(std::wstring_view Text);

// Text in the code page for a log record: characters the code page lacks as
// "<U+XXXX>", so that nothing reads as another character.
std::string Image(std::wstring_view Text);

} // namespace Windows::Characters
