#include "client/command_line.hpp"
#include "client/console.hpp"

int main(int argc, char **argv) {
  const Client::Argument_List Arguments(argv + 1, argv + argc);
  if (Arguments.size() < 2) Client::Print_Usage();
  Client::Console::Flush();
  return 0;
}
