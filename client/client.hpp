#pragma once

#include "client/command_line.hpp"

// The client's top-level routine and its start-up.
namespace Client {

// The command-line arguments of this run, argument 1 first, as the code page
// holds them (Held_Arguments); set by Work.
extern Argument_List Arguments;

// Package start-up, before Work: the arguments as the system holds them,
// argument 1 first; no editor yet.
void Initialise(std::vector<std::wstring> Command_Line);

// One run: the configuration and connection, one request, its replies, the
// closing request "C", or the usage text. Never fails: a failure that reaches
// it is reported to the log under "Client.Work".
void Work() noexcept;

} // namespace Client
