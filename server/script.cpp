#include "server/script.hpp"

#include <fstream>

namespace Server {

const Rule *Script::Rule_For(std::string_view Request) const {
  for (const Rule &Candidate : Rules)
    if (Request.substr(0, Candidate.Prefix.size()) == Candidate.Prefix) return &Candidate;
  return nullptr;
}

Script Load_Script(const std::string &File_Name) {
  Script Result;
  std::ifstream In(File_Name, std::ios::binary);
  std::string Line;
  while (std::getline(In, Line)) {
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    if (Line.empty() || Line.front() == '#') continue;
    const std::size_t Blank = Line.find(' ');
    const std::string Word = Line.substr(0, Blank);
    const std::string Rest = Blank == std::string::npos ? std::string() : Line.substr(Blank + 1);
    const auto Number = [&] { return Rest.empty() ? 0.0 : std::stod(Rest); };
    const auto Add = [&](Action::Kind Kind, std::string Text = {}, double Value = 0.0) {
      if (Result.Rules.empty()) Result.Rules.push_back({});
      Result.Rules.back().Actions.push_back({Kind, std::move(Text), Value});
    };
    if (Word == "delay_start")
      Result.Delay_Start = Number();
    else if (Word == "never_create")
      Result.Never_Create = Number();
    else if (Word == "start_after")
      Result.Start_After = Rest;
    else if (Word == "idle")
      Result.Idle = Number();
    else if (Word == "serve")
      Result.Conversations = static_cast<int>(Number());
    else if (Word == "on")
      Result.Rules.push_back({Rest, {}});
    else if (Word == "reply")
      Add(Action::Kind::Reply, Rest);
    else if (Word == "empty")
      Add(Action::Kind::Empty);
    else if (Word == "oversize")
      Add(Action::Kind::Oversize, {}, Number());
    else if (Word == "drop")
      Add(Action::Kind::Drop);
    else if (Word == "pause")
      Add(Action::Kind::Pause, {}, Number());
    else if (Word == "await")
      Add(Action::Kind::Await, Rest);
  }
  return Result;
}

} // namespace Server
