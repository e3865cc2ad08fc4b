#include "shell_registration.h"

#include <shlobj.h>

#include <cstring>

#include "ansi_text.h"
#include "exceptions.h"
#include "message_box.h"
#include "registration.h"
#include "registry_key.h"

DWORD PlatformId = 0;

void ReadPlatformId() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;
  PlatformId = GetVersionExA(&info) ? info.dwPlatformId : 0;
}

namespace {

const char* const RegistrationFailureText = "Registration of Tolvane shell extension failed.\r\n"
                                            "You may not have administrator privilegies.";
const char* const RegistrationFailureCaption = "Registration Failure";

// Only where a person can see it: elsewhere (a service, a deployment agent)
// the box would wait forever for an answer.
void ShowRegistrationFailure() {
  if (BoxesAreSeen())
    ShowMessageBox(nullptr, RegistrationFailureText, RegistrationFailureCaption, MB_ICONERROR);
}

bool IsBlank(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) > ' ')
      return false;
  return true;
}

// The handler key, then its parents up to the anchor while nothing is left in
// them: registration made them for the handler alone unless another
// program's entries are there.
void RemoveLastingHook(const TLastingHook& hook) {
  std::string key = HandlerKeyOf(hook);
  DeleteClassesKey(key);
  for (size_t cut = key.rfind('\\'); cut > std::strlen(hook.Anchor); cut = key.rfind('\\')) {
    key.resize(cut);
    if (!TRegKey::IsEmpty(HKEY_CLASSES_ROOT, key) ||
        TRegKey::Delete(HKEY_CLASSES_ROOT, key) != ERROR_SUCCESS)
      break;
  }
}

} // namespace

void WriteApproval(const std::string& classId, REGSAM view) {
  TRegKey key;
  for (const char* name : ApprovalKeys) {
    TRegKey below;
    below.Create(key ? key.get() : HKEY_LOCAL_MACHINE, name, ApprovalAccess | view);
    key = std::move(below);
    if (!key)
      break;
  }
  // A key that could not be had makes the write fail like a refused one.
  LONG result = ERROR_INVALID_HANDLE;
  if (key)
    result = key.SetString(classId, ApprovedName);
  if (result != ERROR_SUCCESS)
    throw Exception("Failed to set data for '" + classId + "'");
}

std::wstring WavDefaultValue(HKEY classes) {
  TRegKey key;
  if (key.Open(classes, ".wav", KEY_READ) != ERROR_SUCCESS)
    return std::wstring();
  return key.ReadString(std::string());
}

TFileType FileTypeOf(const std::wstring& wavDefault) {
  const std::string ansi = ToAnsi(wavDefault);
  // Surrounding blanks of a real file type are kept: the key is named so.
  TFileType fileType = {IsBlank(ansi) ? std::string(DefaultWavFileType) : ansi, false, false};
  // The keys go through the ANSI calls: a type name the code page cannot
  // hold would become another name, which no shell looks up.
  fileType.InAnsiCodePage = FromAnsi(ansi) == wavDefault;
  fileType.SetsWavDefault = ansi != fileType.Name;
  return fileType;
}

void UpdateShellRegistration(REFCLSID classId, bool registering) {
  // Explorer keeps the association arrays it has read until told.
  struct TNotifyShell {
    ~TNotifyShell() { SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr); }
  } notify;
  if (!registering) {
    // These first: they do not depend on .wav's value, which may not be read.
    for (const TLastingHook& hook : LastingHooks)
      RemoveLastingHook(hook);
    DeleteClassesKey(HandlerKeyOf(FileTypeOf(WavDefaultValue()).Name));
    return;
  }
  const TFileType fileType = FileTypeOf(WavDefaultValue());
  std::string classText;
  try {
    if (!fileType.InAnsiCodePage)
      throw Exception("The file type of '.wav' is not in the ANSI code page");
    classText = ClassIdToText(classId);
    for (const TClassesEntry& entry : ShellEntries(fileType, classText))
      CreateClassesKey(entry);
  } catch (...) {
    // Without the hook the shell never shows the page: the registration has
    // failed, whatever the class entries say.
    ShowRegistrationFailure();
    throw;
  }
  if (PlatformId != VER_PLATFORM_WIN32_NT)
    return;
  try {
    WriteApproval(classText);
  } catch (...) {
    // The hook works without the approval, which an administrator can add
    // by registering again.
    ShowRegistrationFailure();
  }
}
