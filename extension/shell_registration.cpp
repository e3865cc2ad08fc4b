#include "shell_registration.h"

#include <cstring>

#include "exceptions.h"
#include "message_box.h"
#include "registration.h"
#include "registry_key.h"

DWORD PlatformId = 0;

namespace {

const char* const DefaultWavFileType = "WAV.File";
const char* const HandlerSubkey = "\\shellex\\PropertySheetHandlers\\Tolvane";
const char* const ShellExtensionsKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions";
const char* const ApprovedName = "Tolvane";
const char* const RegistrationFailureText = "Registration of Tolvane shell extension failed.\r\n"
                                            "You may not have administrator privilegies.";
const char* const RegistrationFailureCaption = "Registration Failure";

// Only where a person can see it: on a window station no one sees (a service,
// a deployment agent) the box would wait forever for an answer.
void ShowRegistrationFailure() {
  if (WindowStationIsVisible())
    ShowMessageBox(nullptr, RegistrationFailureText, RegistrationFailureCaption, MB_ICONERROR);
}

// The format with its one "%s" replaced by the name.
std::string WithName(const char* format, const std::string& name) {
  std::string text = format;
  text.replace(text.find("%s"), 2, name);
  return text;
}

// The string in a value: empty when it is absent or empty; REG_EXPAND_SZ is
// taken as stored. The text ends at its first NUL.
std::string ReadStringValue(HKEY key, const std::string& name) {
  DWORD size = 0;
  if (RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS ||
      size == 0)
    return std::string();
  std::string data(size, '\0');
  DWORD type = 0;
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data[0]),
                       &size) != ERROR_SUCCESS)
    throw Exception(WithName("Failed to get data for '%s'", name));
  if (type != REG_SZ && type != REG_EXPAND_SZ)
    throw Exception(WithName("Invalid data type for '%s'", name));
  data.resize(size);
  return data.substr(0, data.find('\0'));
}

bool IsBlank(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) > ' ')
      return false;
  return true;
}

// Opens or creates a key below HKEY_LOCAL_MACHINE's tree; empty on failure.
TRegKey CreateMachineKey(HKEY parent, const char* name) {
  TRegKey key;
  if (RegCreateKeyExA(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                      key.put(), nullptr) != ERROR_SUCCESS)
    key.release(); // a failed call opened nothing to close
  return key;
}

// Windows NT lists the shell extensions the administrator allows.
void WriteApproval(const std::string& classId) {
  TRegKey extensions = CreateMachineKey(HKEY_LOCAL_MACHINE, ShellExtensionsKey);
  TRegKey approved;
  if (extensions)
    approved = CreateMachineKey(extensions.get(), "Approved");
  // A key that could not be had makes the write fail like a refused one.
  LONG result = ERROR_INVALID_HANDLE;
  if (approved)
    result = RegSetValueExA(approved.get(), classId.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(ApprovedName),
                            static_cast<DWORD>(std::strlen(ApprovedName) + 1));
  if (result != ERROR_SUCCESS)
    throw Exception(WithName("Failed to set data for '%s'", classId));
}

// The text of .wav's default value; empty when there is none.
std::string WavDefaultValue() {
  TRegKey key;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, ".wav", 0, KEY_READ, key.put()) != ERROR_SUCCESS)
    return std::string();
  return ReadStringValue(key.get(), std::string());
}

// Surrounding blanks of a real file type are kept: the key is named so.
std::string FileTypeNamedBy(const std::string& wavDefault) {
  return IsBlank(wavDefault) ? std::string(DefaultWavFileType) : wavDefault;
}

} // namespace

std::string WavFileType() {
  return FileTypeNamedBy(WavDefaultValue());
}

void UpdateShellRegistration(REFCLSID classId, bool registering) {
  const std::string wavDefault = WavDefaultValue();
  const std::string fileType = FileTypeNamedBy(wavDefault);
  if (!registering) {
    DeleteClassesKey(fileType + HandlerSubkey);
    return;
  }
  std::string classText;
  try {
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
