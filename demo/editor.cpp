// Stands in for an editor in the demo: appends what it was asked to open to
// editor.log in its working directory, one line a start.
#include <cstdio>
#include <string>

int main(int argc, char **argv) {
  std::string Asked;
  for (int I = 1; I < argc; ++I)
    Asked += (I > 1 ? " " : "") + std::string(argv[I]);
  std::FILE *const Log = std::fopen("editor.log", "ab");
  if (!Log) return 1;
  std::fprintf(Log, "editor: asked to open %s\n", Asked.c_str());
  std::fclose(Log);
  return 0;
}
