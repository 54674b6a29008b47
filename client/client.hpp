#pragma once

#include "client/command_line.hpp"

// The client's top-level routine and its start-up.
namespace Client {

// The command-line arguments of this run, argument 1 first.
extern Argument_List Arguments;

// Package start-up, before Work: no editor yet.
void Initialise(Argument_List Command_Line);

// One run: the configuration and connection, one request, its replies, the
// closing request "C", or the usage text. Never fails: a failure that reaches
// it is reported to the log under "Client.Work".
void Work() noexcept;

} // namespace Client
