#include "shell_entries.h"

#include "identity.h"

namespace {

const char* const HandlerPath[] = {"\\shellex", "\\PropertySheetHandlers",
                                   ("\\" TOLVANE_HANDLER_NAME)};

} // namespace

// The documented elements of a file's association array that its user's
// choice of program leaves in place: the extension's own key below
// SystemFileAssociations, and "*", which every file's array ends with and
// which every shell reads (Wine's among them).
const std::array<TLastingHook, 2> LastingHooks = {{
    {"SystemFileAssociations", "\\.wav"},
    {"*", ""},
}};

const std::array<const char*, 2> ApprovalKeys = {
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions", "Approved"};
const char* const ApprovedName = TOLVANE_HANDLER_NAME;

std::string HandlerKeyOf(const std::string& element) {
  std::string key = element;
  for (const char* name : HandlerPath)
    key += name;
  return key;
}

std::string HandlerKeyOf(const TLastingHook& hook) {
  return HandlerKeyOf(std::string(hook.Anchor) + hook.Below);
}

std::string ApprovedKeyPath() {
  std::string key;
  for (const char* name : ApprovalKeys)
    key += (key.empty() ? "" : "\\") + std::string(name);
  return key;
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
  // The keys above these are made without values: they are the system's.
  for (const TLastingHook& hook : LastingHooks)
    entries.push_back({HandlerKeyOf(hook), "", classId});
  return entries;
}
