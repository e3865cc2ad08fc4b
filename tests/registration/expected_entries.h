// The registry entries a registration is expected to leave, in the form
// ReadTree gives them.
#pragma once

#include <string>

#include "registry_sandbox.h"

inline const std::string ClassIdText = "{241173B6-ABDF-4D59-8A15-476F7A327675}";
inline const std::string ApprovedKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

// The class key with its server key and ProgID, and the program identifier
// key with its Clsid.
inline TRegistryTree GenericEntries(const std::string& modulePath, const std::string& progId) {
  const std::string classKey = "CLSID\\" + ClassIdText;
  return {
      "CLSID|",
      classKey + "||1|Fennrick",
      classKey + "\\InprocServer32||1|" + modulePath,
      classKey + "\\InprocServer32|ThreadingModel|1|Apartment",
      classKey + "\\ProgID||1|" + progId,
      progId + "||1|Fennrick",
      progId + "\\Clsid||1|" + ClassIdText,
  };
}

// ".wav" naming the file type and the file type's handler hook.
inline TRegistryTree TypeEntries(const std::string& fileType) {
  return {
      ".wav||1|" + fileType,
      fileType + "|",
      fileType + "\\shellex||1|",
      fileType + "\\shellex\\PropertySheetHandlers||1|",
      fileType + "\\shellex\\PropertySheetHandlers\\Tolvane||1|" + ClassIdText,
  };
}

// The system's keys of every .wav file's association array that the hooks
// go below, and the hooks with the keys made for them.
inline TRegistryTree Anchors() {
  return {"*|", "SystemFileAssociations|"};
}
inline TRegistryTree LastingHookEntries() {
  return Sorted(Anchors(), TRegistryTree{
                               "*\\shellex|",
                               "*\\shellex\\PropertySheetHandlers|",
                               "*\\shellex\\PropertySheetHandlers\\Tolvane||1|" + ClassIdText,
                               "SystemFileAssociations\\.wav|",
                               "SystemFileAssociations\\.wav\\shellex|",
                               "SystemFileAssociations\\.wav\\shellex\\PropertySheetHandlers|",
                               "SystemFileAssociations\\.wav\\shellex\\PropertySheetHandlers\\"
                               "Tolvane||1|" +
                                   ClassIdText,
                           });
}

inline TRegistryTree ShellEntries(const std::string& fileType) {
  return Sorted(TypeEntries(fileType), LastingHookEntries());
}

// What unregistration keeps of the shell entries: the type's but its
// handler key, and the system's keys the hooks went below.
inline TRegistryTree KeptShellEntries(const std::string& fileType) {
  TRegistryTree kept = TypeEntries(fileType);
  kept.pop_back();
  return Sorted(kept, Anchors());
}

inline TRegistryTree ApprovalEntries() {
  return Sorted({
      "SOFTWARE|",
      "SOFTWARE\\Microsoft|",
      "SOFTWARE\\Microsoft\\Windows|",
      "SOFTWARE\\Microsoft\\Windows\\CurrentVersion|",
      "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions|",
      ApprovedKey + "|" + ClassIdText + "|1|Tolvane",
  });
}
