#include "client/client.hpp"
#include "client/console.hpp"
#include "log/log.hpp"
#include "windows/version.hpp"

// Start-up in dependency order, then one run. The exit status is always 0:
// what happened is told by the lines printed.
// The arguments as the system holds them, in its own characters: the 8-bit
// ones would come with look-alikes for what the code page lacks.
int wmain(int argc, wchar_t **argv) {
  try {
    Windows::Version::Initialise();
    Client::Initialise(std::vector<std::wstring>(argv + 1, argv + argc));
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
