/* unseen COMMAND_LINE
 *
 * Runs COMMAND_LINE (the rest of this program's command line, as it is) on a
 * window station of its own, which no person sees, as a service or a
 * deployment agent in session 0 runs: a message box there is never answered.
 * Prints "exit N" with the program's exit code and exits with it; prints
 * "timeout" and exits 1 when the program has not ended within a minute (it
 * is ended then), so a box shown there cannot hold a test.
 */
#include <windows.h>
#include <stdio.h>

int main(void) {
  /* After this program's name, quoted or not. */
  const wchar_t* line = GetCommandLineW();
  int quoted = 0;
  for (; *line && (quoted || (*line != L' ' && *line != L'\t')); ++line)
    if (*line == L'"')
      quoted = !quoted;
  while (*line == L' ' || *line == L'\t')
    ++line;
  if (!*line) {
    fprintf(stderr, "usage: unseen COMMAND_LINE\n");
    return 2;
  }

  wchar_t name[64];
  swprintf(name, 64, L"unseen-%lu", GetCurrentProcessId());
  HWINSTA own = GetProcessWindowStation();
  HWINSTA station = CreateWindowStationW(name, 0, WINSTA_ALL_ACCESS, NULL);
  if (!station || !SetProcessWindowStation(station)) {
    fprintf(stderr, "unseen: no window station (%lu)\n", GetLastError());
    return 2;
  }
  HDESK desktop = CreateDesktopW(L"Default", NULL, NULL, 0, GENERIC_ALL, NULL);
  SetProcessWindowStation(own);
  if (!desktop) {
    fprintf(stderr, "unseen: no desktop (%lu)\n", GetLastError());
    return 2;
  }

  wchar_t where[80];
  swprintf(where, 80, L"%ls\\Default", name);
  static wchar_t command[32768];
  wcsncpy(command, line, 32767);
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.lpDesktop = where;
  PROCESS_INFORMATION process;
  if (!CreateProcessW(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
    fprintf(stderr, "unseen: could not start %ls (%lu)\n", line, GetLastError());
    return 2;
  }
  CloseHandle(process.hThread);
  DWORD code = 1;
  if (WaitForSingleObject(process.hProcess, 60000) == WAIT_TIMEOUT) {
    TerminateProcess(process.hProcess, 1);
    printf("timeout\n");
  } else {
    GetExitCodeProcess(process.hProcess, &code);
    printf("exit %lu\n", code);
  }
  CloseHandle(process.hProcess);
  return (int)code;
}
