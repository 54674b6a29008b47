#pragma once

// The stand-in server's script: fixed replies per request, and ways to
// misbehave on purpose. One directive a line:
//   delay_start S   wait S seconds before creating the pipe
//   never_create S  never create the pipe; exit after S seconds
//   start_after PATH  create the pipe once the file PATH exists (two minutes
//                   at most)
//   idle S          wait at most S seconds for the next client (default 300)
//   serve N         end after N conversations, with clients still waiting
//   on PREFIX       the actions below answer requests beginning with PREFIX
//                   ("on" alone: any request); the first matching rule wins
//   reply TEXT      one reply message: the rest of the line, as it stands
//   empty           a zero-length message
//   oversize N      a reply of N bytes
//   drop            close the pipe here: no end mark, the client is dropped
//   pause S         wait S seconds before the next action
//   await PATH      wait until the file PATH exists (two minutes at most)
// Lines starting with "#" and blank lines are ignored.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Server {

struct Action {
  enum class Kind { Reply, Empty, Oversize, Drop, Pause, Await };
  Kind What;
  std::string Text;    // Reply: the message; Await: the file
  double Number = 0.0; // Oversize: bytes; Pause: seconds
};

struct Rule {
  std::string Prefix;
  std::vector<Action> Actions;
};

struct Script {
  double Delay_Start = 0.0;
  std::optional<double> Never_Create;
  std::string Start_After;
  std::optional<double> Idle;
  std::optional<int> Conversations;
  std::vector<Rule> Rules;

  // The actions for Request, or none when no rule matches.
  const Rule *Rule_For(std::string_view Request) const;
};

// An unreadable file is an empty script. Unknown directives are ignored.
Script Load_Script(const std::string &File_Name);

} // namespace Server
