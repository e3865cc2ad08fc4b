/* uninstall.exe: what Programs and Features, the QuietUninstallString and a
 * person start to uninstall Tolvane. It returns when the uninstall is done,
 * with the uninstaller's exit code (0, 2, or 3010 when the restart finishes
 * it), and runs nothing from a place a standard user can write or make first.
 *
 * NSIS's uninstaller (uninstall.bin beside this program) started by itself
 * copies itself to a folder of %TEMP% whose access list lets other users
 * replace the copy before it starts; run in place it cannot remove its own
 * folder, since it keeps its file open. So this program makes a new folder
 * (failing if the name exists) whose access list gives SYSTEM and
 * Administrators full control and no one else anything, copies the
 * uninstaller there and runs it with _?= naming the installed folder. The
 * uninstaller moves this program, which keeps no handle on its own file, out
 * of the installed folder into that one; once it has ended, this program
 * deletes the copy and leaves itself and the folder to the next restart. No
 * restart is needed for that. Where no such folder can be made, the
 * uninstaller runs in place and its folder goes at the restart. It runs in
 * the system folder, whichever folder this program was started in.
 */
#include <windows.h>
#include <sddl.h>
#include <wchar.h>

#define UNINSTALLER L"uninstall.bin"
#define FOLDER_NAME L"Tolvane-uninstall"
#define LONGEST 1024

/* dir\name into out; FALSE when it does not fit. */
static BOOL join(wchar_t* out, const wchar_t* dir, const wchar_t* name) {
  size_t length = wcslen(dir);
  const wchar_t* separator = length > 0 && dir[length - 1] == L'\\' ? L"" : L"\\";
  int written = _snwprintf(out, LONGEST, L"%ls%ls%ls", dir, separator, name);
  return written > 0 && written < LONGEST;
}

static BOOL same_volume(const wchar_t* a, const wchar_t* b) {
  wchar_t va[MAX_PATH], vb[MAX_PATH];
  return GetVolumePathNameW(a, va, MAX_PATH) && GetVolumePathNameW(b, vb, MAX_PATH) &&
         _wcsicmp(va, vb) == 0;
}

/* A new protected folder below parent, on the volume of the installed folder
 * (a running program's file moves only within its volume), in which the copy
 * of the uninstaller has a path programs can be started from (below
 * MAX_PATH). */
static BOOL make_folder(const wchar_t* parent, const wchar_t* installed, wchar_t* out) {
  if (!parent[0] || !same_volume(parent, installed))
    return FALSE;
  PSECURITY_DESCRIPTOR descriptor = NULL;
  /* SYSTEM and Administrators, for the folder and all below it; P: nothing
   * inherited. */
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1, &descriptor, NULL))
    return FALSE;
  SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
  BOOL made = FALSE;
  for (int n = 1; n < 100 && !made; ++n) {
    wchar_t name[64];
    _snwprintf(name, 64, L"%ls-%d.tmp", FOLDER_NAME, n);
    if (!join(out, parent, name) || wcslen(out) + 1 + wcslen(UNINSTALLER) >= MAX_PATH)
      break;
    made = CreateDirectoryW(out, &security);
    /* A name someone made first is passed over, never used. */
    if (!made && GetLastError() != ERROR_ALREADY_EXISTS)
      break;
  }
  LocalFree(descriptor);
  return made;
}

/* The arguments after the program's name on the command line. */
static const wchar_t* arguments(void) {
  const wchar_t* line = GetCommandLineW();
  BOOL quoted = FALSE;
  for (; *line && (quoted || (*line != L' ' && *line != L'\t')); ++line)
    if (*line == L'"')
      quoted = !quoted;
  while (*line == L' ' || *line == L'\t')
    ++line;
  return line;
}

/* Runs program with the arguments and _?=installed; its exit code, or 2. */
static DWORD run(const wchar_t* program, const wchar_t* installed) {
  static wchar_t line[32768];
  /* _?= comes last and takes the rest of the line, blanks included. */
  int written = _snwprintf(line, 32768, L"\"%ls\" %ls _?=%ls", program, arguments(), installed);
  if (written <= 0 || written >= 32768)
    return 2;
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessW(program, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
    return 2;
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 2;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  return code;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show) {
  (void)instance, (void)previous, (void)commandLine, (void)show;
  static wchar_t self[LONGEST], installed[LONGEST], source[LONGEST], folder[LONGEST],
      copy[LONGEST], moved[LONGEST], temp[LONGEST], windowsTemp[LONGEST], system[MAX_PATH];
  /* The uninstaller and the programs it starts inherit the current folder,
   * where DLLs are looked for too; the caller's may be one a user writes. */
  UINT systemLength = GetSystemDirectoryW(system, MAX_PATH);
  if (systemLength == 0 || systemLength >= MAX_PATH || !SetCurrentDirectoryW(system))
    return 2;
  DWORD length = GetModuleFileNameW(NULL, self, LONGEST);
  if (length == 0 || length >= LONGEST)
    return 2;
  wcscpy(installed, self);
  wchar_t* slash = wcsrchr(installed, L'\\');
  if (!slash)
    return 2;
  *slash = L'\0';
  if (!join(source, installed, UNINSTALLER))
    return 2;

  DWORD tempLength = GetTempPathW(LONGEST, temp);
  if (tempLength == 0 || tempLength >= LONGEST)
    temp[0] = L'\0';
  UINT windowsLength = GetSystemWindowsDirectoryW(windowsTemp, LONGEST - 6);
  if (windowsLength == 0 || windowsLength >= LONGEST - 6 || !join(windowsTemp, windowsTemp, L"Temp"))
    windowsTemp[0] = L'\0';
  if (!make_folder(temp, installed, folder) && !make_folder(windowsTemp, installed, folder))
    return (int)run(source, installed);

  if (!join(copy, folder, UNINSTALLER) || !join(moved, folder, L"uninstall.exe") ||
      !CopyFileW(source, copy, TRUE)) {
    RemoveDirectoryW(folder);
    return (int)run(source, installed);
  }
  DWORD code = run(copy, installed);
  DeleteFileW(copy);
  if (GetFileAttributesW(moved) != INVALID_FILE_ATTRIBUTES) {
    /* This program, moved here by the uninstaller: it goes at the restart,
     * then its folder. */
    MoveFileExW(moved, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    MoveFileExW(folder, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
  } else {
    /* Nothing was uninstalled (cancelled, or refused): nothing stays here. */
    RemoveDirectoryW(folder);
  }
  return (int)code;
}
