// The floor of the query benchmark: the client's query made with the system
// calls alone. Arguments: the pipe name and the request. Opens the pipe,
// writes the request, prints each reply up to the end mark ".", writes "C".
#include <cstring>

#include <windows.h>

int main(int Count, char **Arguments) {
  if (Count != 3) return 2;
  char Name[MAX_PATH] = "\\\\.\\pipe\\";
  strncat(Name, Arguments[1], MAX_PATH - std::strlen(Name) - 1);
  const HANDLE Pipe = CreateFileA(Name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
  if (Pipe == INVALID_HANDLE_VALUE) return 1;
  DWORD Mode = PIPE_READMODE_MESSAGE, Done = 0;
  if (!SetNamedPipeHandleState(Pipe, &Mode, nullptr, nullptr) ||
      !WriteFile(Pipe, Arguments[2], static_cast<DWORD>(std::strlen(Arguments[2])), &Done, nullptr))
    return 1;
  const HANDLE Output = GetStdHandle(STD_OUTPUT_HANDLE);
  char Reply[1002];
  for (;;) {
    DWORD Length = 0;
    if (!ReadFile(Pipe, Reply, 1000, &Length, nullptr)) return 1;
    if (Length == 1 && Reply[0] == '.') break;
    Reply[Length] = '\r';
    Reply[Length + 1] = '\n';
    WriteFile(Output, Reply, Length + 2, &Done, nullptr);
  }
  return WriteFile(Pipe, "C", 1, &Done, nullptr) ? 0 : 1;
}
