// Stands in for an editor in the demo: appends to editor.log in its working
// directory what it was asked to open, each argument on a line of its own
// and in brackets, so that a location split at a blank shows.
#include <cstdio>

int main(int argc, char **argv) {
  std::FILE *const Log = std::fopen("editor.log", "ab");
  if (!Log) return 1;
  std::fprintf(Log, "editor: asked to open %d argument%s:\n", argc - 1, argc == 2 ? "" : "s");
  for (int I = 1; I < argc; ++I)
    std::fprintf(Log, "editor:   [%s]\n", argv[I]);
  std::fclose(Log);
  return 0;
}
