// Starts the log as the client does, without a version resource, puts its
// argument as one record and ends.
#include "log/log.hpp"
#include "windows/version.hpp"

int main(int argc, char **argv) {
  Windows::Version::Initialise();
  Log::Start_Log(false);
  if (argc > 1) Log::Put(argv[1]);
  Log::Finalise();
  return 0;
}
