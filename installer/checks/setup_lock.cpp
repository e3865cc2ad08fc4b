#include "setup_lock.h"

#include <aclapi.h>
#include <sddl.h>

#include "identity.h"
#include "unique_handle.h"

namespace {

const wchar_t* const SetupLockName = L"Global\\" TOLVANE_HANDLER_NAME L".Setup";
const wchar_t* const PackageMarkName = L"Global\\" TOLVANE_HANDLER_NAME L".Package";
const wchar_t* const Access = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
  BYTE buffer[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof buffer;
  return CreateWellKnownSid(type, nullptr, buffer, &size) && EqualSid(sid, buffer);
}

// The process's user, or the owner its token gives what it makes (the
// user, Administrators where elevated; a group under Wine).
bool IsOwnTokens(PSID sid) {
  HANDLE rawToken = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken))
    return false;
  const TKernelHandle token(rawToken);
  BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof buffer;
  if (GetTokenInformation(token.get(), TokenUser, buffer, size, &size) &&
      EqualSid(sid, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid))
    return true;
  size = sizeof buffer;
  return GetTokenInformation(token.get(), TokenOwner, buffer, size, &size) &&
         EqualSid(sid, reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner);
}

bool IsTrusted(PSID sid) {
  return IsWellKnown(sid, WinLocalSystemSid) || IsWellKnown(sid, WinBuiltinAdministratorsSid);
}

// Made as an installation makes it: owned by SYSTEM, Administrators or this
// process's user (an installation of the same user that is not elevated, as
// a package's custom actions are), allowing nothing to anyone but SYSTEM and
// Administrators.
bool IsOurs(HANDLE object) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR rawDescriptor = nullptr;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                      &dacl, nullptr, &rawDescriptor) != ERROR_SUCCESS)
    return false;
  const TLocalMemory descriptor(rawDescriptor);
  if (!owner || !dacl || !(IsTrusted(owner) || IsOwnTokens(owner)))
    return false;
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* ace = nullptr;
    if (!GetAce(dacl, index, &ace) ||
        static_cast<ACE_HEADER*>(ace)->AceType != ACCESS_ALLOWED_ACE_TYPE ||
        !IsTrusted(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart))
      return false;
  }
  return true;
}

// Makes or opens the named object with the installations' access list; an
// empty handle where someone else made it.
template <class Make> TKernelHandle MakeOurs(Make make, bool& existed) {
  PSECURITY_DESCRIPTOR rawDescriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(Access, SDDL_REVISION_1, &rawDescriptor,
                                                            nullptr))
    return TKernelHandle();
  const TLocalMemory descriptor(rawDescriptor);
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
  // One whose access list keeps Administrators out is not an installation's.
  TKernelHandle object(make(&attributes));
  existed = GetLastError() == ERROR_ALREADY_EXISTS;
  if (object && existed && !IsOurs(object.get()))
    object.reset();
  return object;
}

TKernelHandle SetupLock(bool& existed) {
  return MakeOurs(
      [](SECURITY_ATTRIBUTES* attributes) {
        return CreateMutexW(attributes, FALSE, SetupLockName);
      },
      existed);
}

} // namespace

TLockResult TakeSetupLock(DWORD waitMs) {
  bool existed = false;
  TKernelHandle lock = SetupLock(existed);
  if (!lock)
    return TLockResult::Foreign;
  // WAIT_ABANDONED: the holder ended without letting go.
  const DWORD wait = WaitForSingleObject(lock.get(), waitMs);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED)
    return TLockResult::Busy;
  lock.release(); // held until the process ends
  const TKernelHandle mark(OpenEventW(SYNCHRONIZE | READ_CONTROL, FALSE, PackageMarkName));
  if (mark)
    return IsOurs(mark.get()) ? TLockResult::Package : TLockResult::Foreign;
  return GetLastError() == ERROR_ACCESS_DENIED ? TLockResult::Foreign : TLockResult::Held;
}

TLockResult MarkPackageInstallation() {
  bool existed = false;
  TKernelHandle mark = MakeOurs(
      [](SECURITY_ATTRIBUTES* attributes) {
        return CreateEventW(attributes, TRUE, FALSE, PackageMarkName);
      },
      existed);
  if (!mark)
    return TLockResult::Foreign;
  if (existed)
    return TLockResult::Busy;
  // A setup program or uninstaller holds its lock, or waits for it.
  TKernelHandle lock = SetupLock(existed);
  if (!lock)
    return TLockResult::Foreign;
  if (existed)
    return TLockResult::Busy;
  mark.release(); // the mark lives until the process ends
  return TLockResult::Held;
}
