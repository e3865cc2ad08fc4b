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

const std::array<const char*, 2> ApprovalKeys = {
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions", "Approved"};

namespace {

const char* const DefaultWavFileType = "WAV.File";
const char* const HandlerPath[] = {"\\shellex", "\\PropertySheetHandlers", "\\Tolvane"};
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
  TRegKey key;
  for (const char* name : ApprovalKeys) {
    TRegKey below;
    below.Create(key ? key.get() : HKEY_LOCAL_MACHINE, name, ApprovalAccess);
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

} // namespace

std::wstring WavDefaultValue() {
  TRegKey key;
  if (key.Open(HKEY_CLASSES_ROOT, ".wav", KEY_READ) != ERROR_SUCCESS)
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

std::vector<TClassesEntry> ShellEntries(const TFileType& fileType, const std::string& classId) {
  std::vector<TClassesEntry> entries;
  // A value that names the type already stays exactly as it is, its type
  // (REG_EXPAND_SZ, say) included.
  if (fileType.SetsWavDefault)
    entries.push_back({".wav", "", fileType.Name});
  // The handler key and the keys above it, which get empty default values.
  std::string key = fileType.Name;
  for (const char* name : HandlerPath) {
    key += name;
    entries.push_back({key, "", std::string()});
  }
  entries.back().Data = classId;
  return entries;
}

void UpdateShellRegistration(REFCLSID classId, bool registering) {
  const TFileType fileType = FileTypeOf(WavDefaultValue());
  if (!registering) {
    DeleteClassesKey(ShellEntries(fileType, std::string()).back().Key);
    return;
  }
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
