#include "shell_registration.h"

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

const char* const DefaultWavFileType = "WAV.File";
const char* const HandlerSubkey = "\\shellex\\PropertySheetHandlers\\Tolvane";
const char* const ShellExtensionsKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions";
const char* const ApprovedName = "Tolvane";
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

// Windows NT lists the shell extensions the administrator allows.
void WriteApproval(const std::string& classId) {
  TRegKey extensions;
  extensions.Create(HKEY_LOCAL_MACHINE, ShellExtensionsKey, KEY_ALL_ACCESS);
  TRegKey approved;
  if (extensions)
    approved.Create(extensions.get(), "Approved", KEY_ALL_ACCESS);
  // A key that could not be had makes the write fail like a refused one.
  LONG result = ERROR_INVALID_HANDLE;
  if (approved)
    result = approved.SetString(classId, ApprovedName);
  if (result != ERROR_SUCCESS)
    throw Exception("Failed to set data for '" + classId + "'");
}

// The text of .wav's default value as stored; empty when there is none.
std::wstring WavDefaultValue() {
  TRegKey key;
  if (key.Open(HKEY_CLASSES_ROOT, ".wav", KEY_READ) != ERROR_SUCCESS)
    return std::wstring();
  return key.ReadString(std::string());
}

// Surrounding blanks of a real file type are kept: the key is named so.
std::string FileTypeNamedBy(const std::string& wavDefault) {
  return IsBlank(wavDefault) ? std::string(DefaultWavFileType) : wavDefault;
}

} // namespace

void UpdateShellRegistration(REFCLSID classId, bool registering) {
  const std::wstring storedDefault = WavDefaultValue();
  const std::string wavDefault = ToAnsi(storedDefault);
  const std::string fileType = FileTypeNamedBy(wavDefault);
  if (!registering) {
    DeleteClassesKey(fileType + HandlerSubkey);
    return;
  }
  std::string classText;
  try {
    // The keys go through the ANSI calls: a type name the code page cannot
    // hold would become another name, which no shell looks up.
    if (FromAnsi(wavDefault) != storedDefault)
      throw Exception("The file type of '.wav' is not in the ANSI code page");
    classText = ClassIdToText(classId);
    // A value that names the type already stays exactly as it is, its type
    // (REG_EXPAND_SZ, say) included.
    if (wavDefault != fileType)
      CreateClassesKey(".wav", "", fileType);
    CreateClassesKey(fileType + "\\shellex", "", "");
    CreateClassesKey(fileType + "\\shellex\\PropertySheetHandlers", "", "");
    CreateClassesKey(fileType + HandlerSubkey, "", classText);
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
