// The extension's class factory: the generic COM entries of TTolvane plus the
// shell entries that hook it under the file type of ".wav".
#pragma once

#include <windows.h>

#include <string>

#include "class_factory.h"

class TComServerObject;

// dwPlatformId of GetVersionExA, read once at start-up; 0 when the call
// fails. The approval entry is written only on the NT platform (2). Tests set
// it to play other platforms.
extern DWORD PlatformId;

// GetVersionExA's platform identifier, or 0 when it cannot be had.
DWORD ReadPlatformId();

// The file type that ".wav" names below HKEY_CLASSES_ROOT, "WAV.File" when it
// names none. Raises when the default value of ".wav" cannot be read or is not
// a string.
std::string WavFileType();

class TTolvaneFactory : public TComObjectFactory {
public:
  explicit TTolvaneFactory(TComServerObject* serverObject);

  // The generic entries first (their failures pass on), then the shell
  // entries. A failure there is reported in a message box; it passes on when
  // the hook itself could not be written, not when only the approval failed.
  // Unregistering removes only the handler key of the file type.
  void UpdateRegistration(bool registering) override;
};

// The extension's share of the module's start-up: no thread notifications, the
// platform identifier, and the factory (owned by the server from then on).
void StartTolvane(HINSTANCE instance);
