#pragma once

#include <string>

// What the client does with each reply: print it for the calling editor, or
// start the editor on a location.
namespace Client {

// The program started for location replies; empty: no editor.
extern std::string Editor_Command;

// Reads and handles one reply; false when it was the end mark.
bool Handle_Reply();

} // namespace Client
