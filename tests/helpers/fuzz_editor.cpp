// The editor stand-in of the fuzz tests: records its program file and the
// command line it was started with to TEZ_FUZZ_EDITOR_RECORD, any bytes kept.
#include "fuzz_wire.hpp"

#include <cstdlib>

int main() {
  char Program[MAX_PATH];
  const DWORD Length = GetModuleFileNameA(nullptr, Program, MAX_PATH);
  // One line: editors started side by side never mix their records.
  Fuzz_Wire::Append_Record(std::getenv("TEZ_FUZZ_EDITOR_RECORD"), "started",
                           std::string(Program, Length) + '\n' + GetCommandLineA());
  return 0;
}
