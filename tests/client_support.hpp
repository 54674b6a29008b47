#pragma once

// Runs the real client against the real stand-in server under Wine: a
// scratch directory with the configuration, the server's script, and the
// records the server and the editor stand-in write.
#include "pipe_support.hpp"
#include "support.hpp"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace Test_Support {

using Keys = std::vector<std::pair<std::string, std::string>>;

class Client_Run : public ::testing::Test {
protected:
  Scratch_Directory Dir;
  const std::string Bin = Program_Directory();
  const std::string Client = Bin + "Tez_Client.exe";
  const std::string Server = Bin + "tez_server.exe";
  const std::string Editor = Bin + "tez_probe.exe";
  const std::string Pipe = Unique_Pipe_Name();
  const std::string Config = Dir / "tez.ini";
  const std::string Source = Dir / "main.src";
  const std::string Server_Record = Dir / "server.txt";
  const std::string Editor_Record = Dir / "editor.txt";
  const std::string Script = Dir / "script.txt";
  double Seconds = 0; // how long the last client run took

  void SetUp() override;
  void TearDown() override;

  // The configuration: "Pipename" and "Server" unless given, then Extra.
  void Configure(const Keys &Extra = {}, bool Defaults = true);
  void Server_Script(const std::string &Text);

  // Runs the client and returns once everything it set going has settled:
  // the editors it started have ended and the stand-in server has finished
  // the conversation (it listens again, or has gone).
  // Wide_Arguments follow, in the system's own characters.
  Run_Result Run_Client(const std::vector<std::string> &Arguments,
                        const std::wstring &Wide_Arguments = {});

  // Starts Count clients at once and returns what each printed, in the
  // order they were started, once all have settled as for Run_Client.
  std::vector<Run_Result> Run_Clients_At_Once(const std::vector<std::string> &Arguments, int Count);

  // Waits (a generous time at most) until the server has recorded Request.
  void Await_Request(const std::string &Request) const;

  // What the server received, in order, and its own command lines (waiting,
  // a generous time at most, until there are at least Expected of them: a
  // server that was never connected to records on its own schedule).
  std::vector<std::string> Requests() const;
  std::vector<std::string> Server_Command_Lines(std::size_t Expected = 0) const;
  std::vector<std::string> Editor_Command_Lines() const;

  // Waits until the server on Pipe_Name has finished its conversation, or
  // until it has gone as well; a test fails when neither comes.
  void Await_Server_Idle(const std::string &Pipe_Name) const;
  void Await_Server_Gone(const std::string &Pipe_Name) const;
  // Waits until a pipe named Pipe_Name exists; a test fails when none comes.
  void Await_Server_Up(const std::string &Pipe_Name) const;

private:
  void Settle(const Run_Result &Result);

  std::string Configured_Pipe_; // the pipe of the current configuration
  std::vector<Run_Result> Clients_;
};

// The lines of Record that start with Key and "=", without that prefix.
std::vector<std::string> Record_Values(const std::string &Record_File, const std::string &Key);

} // namespace Test_Support
