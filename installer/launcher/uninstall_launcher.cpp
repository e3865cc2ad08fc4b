// uninstall.exe: what Programs and Features, the QuietUninstallString and a
// person start to uninstall Tolvane. It returns when the uninstall is done,
// with the uninstaller's exit code (0, 2, or 3010 when the restart finishes
// it), and runs nothing from a place a standard user can write, make first or
// rename.
//
// It runs only as the uninstall.exe of the installed folder, which it finds
// in the Programs and Features entry (HKLM, which only administrators write),
// and only with no argument or /S: anything else ends it with exit code 2
// before anything is made or run. A copy of it elsewhere, next to a program
// someone put there under the uninstaller's name, runs nothing.
//
// The uninstaller (uninstall.bin of the installed folder, an NSIS program
// that makes no copy of itself) runs from a new folder beside the installed
// one, in Program Files, whose access list gives SYSTEM and Administrators
// full control and no one else anything; an administrator can always make
// one there (never in a temporary folder: a user may make its names first,
// and in a user's %TEMP% rename its children). The folder is held open without sharing deletion for
// the whole run, so it cannot be renamed, and the copy is held without
// sharing writing or deletion from the moment it is checked until the
// uninstaller has ended. The uninstaller moves this program, which keeps no
// handle on its own file, out of the installed folder into that folder and
// leaves both to the next restart; no restart is needed for that. The
// uninstaller and what it starts run in the system folder, whichever folder
// this program was started in.
#include <windows.h>
#include <sddl.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "message_box.h"
#include "unique_handle.h"

namespace {

using TKey = TUniqueHandle<HKEY, nullptr, TRegCloseKey>;

constexpr DWORD Refused = 2;
constexpr wchar_t Caption[] = L"Tolvane Uninstall";
constexpr wchar_t EntryKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tolvane";
constexpr wchar_t Uninstaller[] = L"uninstall.bin";
constexpr wchar_t Launcher[] = L"uninstall.exe";
// The folders this program makes: NAME-N.tmp, N from 1 to 99.
constexpr wchar_t FolderName[] = L"Tolvane-uninstall-";
// SYSTEM and Administrators, for the folder and all below it; P: nothing
// inherited.
constexpr wchar_t FolderAccess[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// No uninstaller comes near this; a bound for reading it into memory.
constexpr DWORD LargestUninstaller = 64 << 20;

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
  if (!folder.empty() && folder.back() == L'\\')
    return folder + name;
  return folder + L'\\' + name;
}

// The folder that holds path ("C:\" for "C:\x"); "" when there is none.
std::wstring Parent(std::wstring path) {
  while (path.size() > 3 && path.back() == L'\\')
    path.pop_back();
  size_t slash = path.find_last_of(L'\\');
  if (slash == std::wstring::npos || slash + 1 == path.size())
    return {};
  return path.substr(0, slash == 2 ? 3 : slash);
}

// The handle CreateFileW gives, or an empty one.
TKernelHandle OpenFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                 DWORD flags = FILE_ATTRIBUTE_NORMAL) {
  HANDLE handle = CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
  return TKernelHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

TKernelHandle OpenFolder(const std::wstring& path, DWORD access, DWORD share) {
  return OpenFile(path, access, share, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
}

bool Identity(HANDLE handle, BY_HANDLE_FILE_INFORMATION& information) {
  return handle && GetFileInformationByHandle(handle, &information);
}

bool SameIdentity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

// Whether the two paths name the same folder, by the file system's identity
// of what they open: case, 8.3 names, a trailing backslash or a link do not
// tell two paths of one folder apart.
bool SameFolder(const std::wstring& a, const std::wstring& b) {
  constexpr DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  BY_HANDLE_FILE_INFORMATION first, second;
  TKernelHandle one = OpenFolder(a, FILE_READ_ATTRIBUTES, share);
  TKernelHandle other = OpenFolder(b, FILE_READ_ATTRIBUTES, share);
  return Identity(one.get(), first) && Identity(other.get(), second) &&
         (first.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && SameIdentity(first, second);
}

// The arguments: Supported when there is none or /S alone; Silent when /S
// is among them.
struct TArguments {
  bool Supported = false;
  bool Silent = false;
};

TArguments ReadArguments() {
  TArguments arguments;
  int count = 0;
  TLocalMemory list(CommandLineToArgvW(GetCommandLineW(), &count));
  auto* values = static_cast<LPWSTR*>(list.get());
  if (!values)
    return arguments;
  for (int i = 1; i < count; ++i)
    if (std::wstring(values[i]) == L"/S")
      arguments.Silent = true;
  arguments.Supported = count == 1 || (count == 2 && arguments.Silent);
  return arguments;
}

// The installed folder, as setup wrote it into the entry, in the 64-bit
// registry view wherever there is one (this program is 32-bit, and may not
// ask for the 64-bit Program Files; the environment, which names it too,
// is the user's to change); "" when there is no entry.
std::wstring InstalledFolder() {
  TKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, EntryKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) !=
      ERROR_SUCCESS)
    return {};
  wchar_t value[MAX_PATH];
  DWORD type = 0, size = sizeof value - sizeof value[0];
  if (RegQueryValueExW(key.get(), L"InstallLocation", nullptr, &type, reinterpret_cast<BYTE*>(value),
                       &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return {};
  value[size / sizeof value[0]] = L'\0';
  std::wstring folder(value);
  // A full path with a drive.
  if (folder.size() < 4 || folder[1] != L':' || folder[2] != L'\\')
    return {};
  return folder;
}

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return {};
  return Parent(path);
}

// A new folder NAME-N.tmp below parent with the protected access list (a
// name that exists is passed over, never used), held open so that no one can
// rename or delete it while this program runs; the copy of the uninstaller in
// it must have a path programs can be started from (below MAX_PATH).
bool MakeFolder(const std::wstring& parent, std::wstring& folder, TKernelHandle& held) {
  if (parent.empty())
    return false;
  TLocalMemory descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          FolderAccess, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr))
    return false;
  SECURITY_ATTRIBUTES security{sizeof security, descriptor.get(), FALSE};
  for (int n = 1; n < 100; ++n) {
    std::wstring path = Join(parent, FolderName + std::to_wstring(n) + L".tmp");
    if (Join(path, Uninstaller).size() >= MAX_PATH)
      return false;
    if (CreateDirectoryW(path.c_str(), &security)) {
      // A handle that reads (and so takes part in sharing) and shares no
      // deletion: renaming or deleting the folder needs it.
      held = OpenFolder(path, FILE_LIST_DIRECTORY | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE);
      if (!held) {
        RemoveDirectoryW(path.c_str());
        return false;
      }
      folder = path;
      return true;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS)
      return false;
  }
  return false;
}

bool ReadAll(HANDLE file, std::vector<char>& bytes) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0 || size.QuadPart > LargestUninstaller)
    return false;
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  return ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
         read == bytes.size();
}

// Copies source to copy, a new file, and returns a handle that reads it and
// shares neither writing nor deletion: while it is held, what the copy holds
// is what it was checked to hold. A program cannot start while a handle may
// write its file, so the file is written, closed, opened again and checked:
// the same file, the same bytes.
TKernelHandle WriteCopy(const std::wstring& source, const std::wstring& copy) {
  std::vector<char> bytes, written;
  {
    TKernelHandle from = OpenFile(source, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (!from || !ReadAll(from.get(), bytes))
      return {};
  }
  BY_HANDLE_FILE_INFORMATION made, opened;
  {
    TKernelHandle to = OpenFile(copy, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW);
    DWORD count = 0;
    if (!to || !WriteFile(to.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &count, nullptr) ||
        count != bytes.size() || !Identity(to.get(), made))
      return {};
  }
  TKernelHandle held = OpenFile(copy, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  if (!Identity(held.get(), opened) || !SameIdentity(made, opened) || !ReadAll(held.get(), written) ||
      written != bytes)
    return {};
  return held;
}

// Runs program (/S when silent) in the current folder until it ends: false
// when it did not start; code = its exit code.
bool Run(const std::wstring& program, bool silent, DWORD& code) {
  std::wstring line = L"\"" + program + L"\"" + (silent ? L" /S" : L"");
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &started))
    return false;
  TKernelHandle process(started.hProcess), thread(started.hThread);
  WaitForSingleObject(process.get(), INFINITE);
  if (!GetExitCodeProcess(process.get(), &code))
    code = Refused;
  return true;
}

// Ends with Refused; the message shows only where a person sees it and the
// caller did not ask for silence.
DWORD Refuse(bool silent, const std::wstring& message) {
  if (!silent && BoxesAreSeen())
    MessageBoxW(nullptr, message.c_str(), Caption, MB_ICONSTOP);
  return Refused;
}

DWORD Uninstall() {
  // The uninstaller and the programs it starts inherit the current folder,
  // where DLLs are looked for too; the caller's may be one a user writes.
  wchar_t system[MAX_PATH];
  UINT length = GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || !SetCurrentDirectoryW(system))
    return Refused;

  // Other arguments would reach no one: the uninstaller gets /S or nothing.
  TArguments arguments = ReadArguments();
  if (!arguments.Supported)
    return Refuse(arguments.Silent, L"uninstall.exe takes no argument but /S, for a silent uninstall.");
  std::wstring installed = InstalledFolder();
  if (installed.empty())
    return Refuse(arguments.Silent, L"Tolvane is not installed.");
  if (!SameFolder(OwnFolder(), installed))
    return Refuse(arguments.Silent, L"Start " + Join(installed, Launcher) + L" to uninstall Tolvane.");

  // Program Files, where only administrators write and no user may rename a
  // child, on the volume of the installed folder (the uninstaller moves this
  // program, which is running, into the new folder).
  std::wstring folder;
  TKernelHandle heldFolder;
  if (!MakeFolder(Parent(installed), folder, heldFolder))
    return Refuse(arguments.Silent, L"No folder for the uninstaller could be made beside " + installed + L".");

  std::wstring source = Join(installed, Uninstaller), copy = Join(folder, Uninstaller);
  DWORD code = Refused;
  bool copied = false, ran = false;
  {
    TKernelHandle heldCopy = WriteCopy(source, copy);
    copied = static_cast<bool>(heldCopy);
    // Where no person sees its pages, no one could answer them.
    ran = copied && Run(copy, arguments.Silent || !BoxesAreSeen(), code);
  }
  DeleteFileW(copy.c_str());
  // Once the uninstaller has moved this program there, it has left both to
  // the restart; otherwise nothing was uninstalled (cancelled, or refused)
  // and the folder goes now.
  if (GetFileAttributesW(Join(folder, Launcher).c_str()) == INVALID_FILE_ATTRIBUTES) {
    heldFolder.reset();
    RemoveDirectoryW(folder.c_str());
  }
  if (!copied)
    return Refuse(arguments.Silent, L"The uninstaller " + source + L" could not be copied to " + folder + L".");
  if (!ran)
    return Refuse(arguments.Silent, L"The uninstaller could not be started from " + folder + L".");
  return code;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return static_cast<int>(Uninstall()); }
