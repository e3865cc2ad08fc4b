#include "class_entries.h"

#include <algorithm>

namespace {

const char* ThreadingModelName(TThreadingModel model) {
  switch (model) {
  case tmApartment:
    return "Apartment";
  case tmFree:
    return "Free";
  case tmBoth:
    return "Both";
  default:
    return "";
  }
}

const char ClassesKeyPrefix[] = "CLSID\\";

} // namespace

std::vector<TClassesEntry> ClassRegistrationEntries(const TClassNames& names,
                                                    const TModulePath& module) {
  const std::string classKey = ClassesKeyPrefix + names.ClassId;
  const std::string serverKey = classKey + "\\" + names.ServerKeyName;
  std::vector<TClassesEntry> entries;
  entries.push_back({classKey, "", names.Description});
  entries.push_back({serverKey, "", module.Ansi, module.Wide});
  if (names.ThreadingModel != tmSingle)
    entries.push_back({serverKey, "ThreadingModel", ThreadingModelName(names.ThreadingModel)});
  if (!names.ProgId.empty()) {
    entries.push_back({names.ProgId, "", names.Description});
    entries.push_back({names.ProgId + "\\Clsid", "", names.ClassId});
    entries.push_back({classKey + "\\ProgID", "", names.ProgId});
  }
  return entries;
}

std::vector<std::string> DeletionOrder(const std::vector<TClassesEntry>& entries) {
  const auto depth = [](const std::string& key) {
    return static_cast<size_t>(std::count(key.begin(), key.end(), '\\'));
  };
  std::vector<std::string> keys;
  size_t deepest = 0;
  for (const TClassesEntry& entry : entries)
    if (std::find(keys.begin(), keys.end(), entry.Key) == keys.end()) {
      keys.push_back(entry.Key);
      deepest = std::max(deepest, depth(entry.Key));
    }
  // Keys of one depth keep the order in which they were written.
  std::vector<std::string> ordered;
  for (size_t level = deepest + 1; level-- > 0;)
    for (const std::string& key : keys)
      if (depth(key) == level)
        ordered.push_back(key);
  return ordered;
}

bool IsClassKey(const std::string& key) {
  return key.compare(0, sizeof ClassesKeyPrefix - 1, ClassesKeyPrefix) == 0;
}
