#include "client/client.hpp"
#include "client/console.hpp"
#include "log/log.hpp"
#include "windows/version.hpp"

#include <cstdlib>

// Start-up in dependency order, then one run. The exit status is always 0:
// what happened is told by the lines printed.
int main(int argc, char **argv) {
  try {
    Windows::Version::Initialise();
    Client::Initialise(Client::Argument_List(argv + 1, argv + argc));
    Log::Start_Log(false);
  } catch (...) {
    return 0;
  }
  Client::Work();
  try {
    Client::Console::Flush();
  } catch (...) {}
  // Writes out the records still buffered.
  Log::Finalise();
  return 0;
}

// The C++ library's default answer to an exception that nothing catches names
// its type, demangled: that brings a demangler and a formatting printer into
// the program, a sixth of its size, which every start reads from disk. Nothing
// escapes main here; whatever still reaches the handler ends the run.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
  std::abort();
}
} // namespace __gnu_cxx
