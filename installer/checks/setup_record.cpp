#include "setup_record.h"

#include <shlobj.h>

#include <algorithm>

#include "ansi_text.h"
#include "identity.h"
#include "registry_access.h"
#include "shell_entries.h"

const wchar_t* const SetupEntryKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" TOLVANE_HANDLER_NAME;

namespace {

// The record: one "KIND|VIEW|ROOT|VALUE NAME|PATH" line per item (the path
// last: a type's name may hold "|"; the value names are the tables', which
// do not), and the copy of the .wav default value that registration
// replaced.
const wchar_t* const RecordValue = L"TolvaneRecord";
const wchar_t* const WavBeforeValue = L"TolvaneWavDefaultBefore";
const wchar_t* const ClassesRoot = L"HKCR";
const wchar_t* const MachineRoot = L"HKLM";
const wchar_t* const ClassId = L"" TOLVANE_CLASS_ID;

HKEY RootOf(const std::wstring& name) {
  return name == MachineRoot ? HKEY_LOCAL_MACHINE : HKEY_CLASSES_ROOT;
}

REGSAM ViewOf(const std::wstring& name) {
  return name == L"64" ? KEY_WOW64_64KEY : name == L"32" ? KEY_WOW64_32KEY : 0;
}

// The view of the entry's key.
const TRegistryView& FirstView() {
  static const TRegistryView view = RegistryViews().front();
  return view;
}

// The keys of HKEY_CLASSES_ROOT that the record names (.wav, file types, the
// lasting hooks) are the same in both views.
const TRegistryView SharedView = {0, L""};

TRecordItem KeyItem(const wchar_t* view, const wchar_t* root, const std::wstring& path) {
  return {L"key", view, root, std::wstring(), path};
}
TRecordItem ValueItem(const wchar_t* view, const wchar_t* root, const std::wstring& path,
                      const std::wstring& name) {
  return {L"value", view, root, name, path};
}
TRecordItem TypeItem(const std::wstring& type) {
  return {L"type", std::wstring(), std::wstring(), std::wstring(), type};
}

std::wstring LineOf(const TRecordItem& item) {
  return item.Kind + L"|" + item.View + L"|" + item.Root + L"|" + item.ValueName + L"|" + item.Path;
}

TRecordItem ItemOf(const std::wstring& line) {
  TRecordItem item;
  std::wstring* fields[] = {&item.Kind, &item.View, &item.Root, &item.ValueName};
  size_t start = 0;
  for (std::wstring* field : fields) {
    const size_t bar = line.find(L'|', start);
    if (bar == std::wstring::npos)
      return TRecordItem();
    *field = line.substr(start, bar - start);
    start = bar + 1;
  }
  item.Path = line.substr(start);
  return item;
}

void AddOnce(std::vector<TRecordItem>& items, const TRecordItem& item) {
  if (std::find(items.begin(), items.end(), item) == items.end())
    items.push_back(item);
}

// Every key of the path that is missing, from the top, and the value where
// its key is there but the value is not.
void AddMissing(std::vector<TRecordItem>& items, const TRegistryView& view, const wchar_t* root,
                const std::wstring& path, const std::wstring& valueName) {
  const HKEY rootKey = RootOf(root);
  for (size_t end = path.find(L'\\');; end = path.find(L'\\', end + 1)) {
    const std::wstring key = path.substr(0, end);
    if (!KeyExists(rootKey, key, view.Flag))
      AddOnce(items, KeyItem(view.Name, root, key));
    if (end == std::wstring::npos)
      break;
  }
  const TKey key = OpenKey(rootKey, path, KEY_READ | view.Flag);
  if (key && !ValueExists(key.get(), valueName))
    AddOnce(items, ValueItem(view.Name, root, path, valueName));
}

TKey OpenEntry(REGSAM access) {
  return OpenKey(HKEY_LOCAL_MACHINE, SetupEntryKey, access | FirstView().Flag);
}

// The text of a multi-string value, a line per string.
std::vector<std::wstring> ReadLines(HKEY key, const wchar_t* name) {
  DWORD type = 0;
  DWORD size = 0;
  if (!key || RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ)
    return {};
  std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, L'\0');
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
      ERROR_SUCCESS)
    return {};
  std::vector<std::wstring> lines;
  for (const wchar_t* line = data.data(); *line; line += wcslen(line) + 1)
    lines.push_back(line);
  return lines;
}

// What setup programs before the line record wrote: bits of what they
// created in "TolvaneCreated" (.wav, the first file type TolvaneFileType,
// the approval) and in "TolvaneCreated TYPE" (each type hooked later).
enum TLegacyBits : DWORD {
  WavKeyBit = 1,
  WavDefaultBit = 2,
  TypeKeyBit = 4,
  ShellexKeyBit = 8,
  HandlersKeyBit = 16,
  ShellexDefaultBit = 2048,
  HandlersDefaultBit = 4096,
};
const wchar_t* const LegacyCreated = L"TolvaneCreated";
const wchar_t* const LegacyFileType = L"TolvaneFileType";
const wchar_t* const LegacyTypePrefix = L"TolvaneCreated ";

void AddLegacyType(std::vector<TRecordItem>& items, const std::wstring& type, DWORD bits) {
  const wchar_t* view = SharedView.Name;
  AddOnce(items, TypeItem(type));
  const std::wstring shellex = type + L"\\shellex";
  const std::wstring handlers = shellex + L"\\PropertySheetHandlers";
  // The parents of a name with backslashes that were missing, nearest first.
  std::wstring parent = type;
  for (DWORD count = (bits >> 16) & 0xFF; count > 0; --count) {
    const size_t cut = parent.rfind(L'\\');
    if (cut == std::wstring::npos)
      break;
    parent.resize(cut);
    AddOnce(items, KeyItem(view, ClassesRoot, parent));
  }
  if (bits & TypeKeyBit)
    AddOnce(items, KeyItem(view, ClassesRoot, type));
  if (bits & ShellexKeyBit)
    AddOnce(items, KeyItem(view, ClassesRoot, shellex));
  if (bits & HandlersKeyBit)
    AddOnce(items, KeyItem(view, ClassesRoot, handlers));
  if (bits & ShellexDefaultBit)
    AddOnce(items, ValueItem(view, ClassesRoot, shellex, std::wstring()));
  if (bits & HandlersDefaultBit)
    AddOnce(items, ValueItem(view, ClassesRoot, handlers, std::wstring()));
}

std::vector<TRecordItem> LegacyItems(HKEY entry) {
  std::vector<TRecordItem> items;
  DWORD bits = 0;
  DWORD size = sizeof bits;
  DWORD type = 0;
  if (RegQueryValueExW(entry, LegacyCreated, nullptr, &type, reinterpret_cast<BYTE*>(&bits),
                       &size) != ERROR_SUCCESS ||
      type != REG_DWORD)
    return items;
  const wchar_t* view = SharedView.Name;
  if (bits & WavKeyBit)
    AddOnce(items, KeyItem(view, ClassesRoot, L".wav"));
  if (bits & WavDefaultBit)
    AddOnce(items, ValueItem(view, ClassesRoot, L".wav", std::wstring()));
  // The approval's bits of the 64-bit view, then of the 32-bit one.
  const std::wstring approved = FromAnsi(ApprovedKeyPath());
  const std::wstring extensions = approved.substr(0, approved.rfind(L'\\'));
  const struct {
    const wchar_t* View;
    DWORD Approval, ApprovedKey, ExtensionsKey;
  } approvals[] = {{L"64", 32, 128, 512}, {L"32", 64, 256, 1024}};
  for (const auto& approval : approvals) {
    if (bits & approval.ExtensionsKey)
      AddOnce(items, KeyItem(approval.View, MachineRoot, extensions));
    if (bits & approval.ApprovedKey)
      AddOnce(items, KeyItem(approval.View, MachineRoot, approved));
    if (bits & approval.Approval)
      AddOnce(items, ValueItem(approval.View, MachineRoot, approved, ClassId));
  }
  if (const std::optional<std::wstring> first = ReadText(entry, LegacyFileType);
      first && !first->empty())
    AddLegacyType(items, *first, bits);
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];
    DWORD length = 16384;
    DWORD typeBits = 0;
    DWORD dataSize = sizeof typeBits;
    const LONG result = RegEnumValueW(entry, index, name, &length, nullptr, &type,
                                      reinterpret_cast<BYTE*>(&typeBits), &dataSize);
    if (result == ERROR_NO_MORE_ITEMS)
      break;
    const std::wstring valueName(name, length);
    if (result == ERROR_SUCCESS && type == REG_DWORD &&
        valueName.compare(0, wcslen(LegacyTypePrefix), LegacyTypePrefix) == 0)
      AddLegacyType(items, valueName.substr(wcslen(LegacyTypePrefix)), typeBits);
  }
  return items;
}

void DeleteLegacy(HKEY entry) {
  std::vector<std::wstring> names = {LegacyCreated, LegacyFileType};
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];
    DWORD length = 16384;
    const LONG result =
        RegEnumValueW(entry, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS)
      break;
    const std::wstring valueName(name, length);
    if (result == ERROR_SUCCESS &&
        valueName.compare(0, wcslen(LegacyTypePrefix), LegacyTypePrefix) == 0)
      names.push_back(valueName);
  }
  for (const std::wstring& name : names)
    RegDeleteValueW(entry, name.c_str());
}

std::vector<TRecordItem> RecordedItems(HKEY entry) {
  std::vector<TRecordItem> items = LegacyItems(entry);
  for (const std::wstring& line : ReadLines(entry, RecordValue)) {
    const TRecordItem item = ItemOf(line);
    if (!item.Kind.empty())
      AddOnce(items, item);
  }
  return items;
}

LONG WriteItems(HKEY entry, const std::vector<TRecordItem>& items) {
  std::wstring data;
  for (const TRecordItem& item : items)
    data += LineOf(item) + L'\0';
  data += L'\0';
  return RegSetValueExW(entry, RecordValue, 0, REG_MULTI_SZ,
                        reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}

// A value registration writes, where it writes it.
struct TOurValue {
  HKEY Root;
  std::wstring Path;
  std::wstring Name;
  std::wstring Data;
};

// What registration writes into the keys the record can name: the shell
// entries of every file type it hooked (.wav's value aside) and the
// approval.
std::vector<TOurValue> OurValues(const std::vector<TRecordItem>& items) {
  std::vector<TOurValue> ours = {
      {HKEY_LOCAL_MACHINE, FromAnsi(ApprovedKeyPath()), ClassId, FromAnsi(ApprovedName)}};
  for (const TRecordItem& item : items) {
    if (item.Kind != L"type")
      continue;
    const TFileType type = {ToAnsi(item.Path), true, false};
    for (const TClassesEntry& entry : ShellEntries(type, TOLVANE_CLASS_ID))
      ours.push_back({HKEY_CLASSES_ROOT, FromAnsi(entry.Key), FromAnsi(entry.ValueName),
                      FromAnsi(entry.Data)});
  }
  return ours;
}

bool IsOurs(const std::vector<TOurValue>& ours, HKEY root, const std::wstring& path,
            const std::wstring& name, HKEY key) {
  const std::optional<std::wstring> data = ReadText(key, name);
  if (!data)
    return false;
  for (const TOurValue& value : ours)
    if (value.Root == root && value.Name == name && value.Data == *data &&
        CompareStringOrdinal(value.Path.c_str(), -1, path.c_str(), -1, TRUE) == CSTR_EQUAL)
      return true;
  return false;
}

// Our values in a key, then the key itself where nothing is left in it.
void RemoveKey(const std::vector<TOurValue>& ours, HKEY root, const std::wstring& path,
               REGSAM view) {
  if (const TKey key = OpenKey(root, path, KEY_READ | KEY_SET_VALUE | view)) {
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
      wchar_t name[16384];
      DWORD length = 16384;
      if (RegEnumValueW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      names.emplace_back(name, length);
    }
    for (const std::wstring& name : names)
      if (IsOurs(ours, root, path, name, key.get()))
        RegDeleteValueW(key.get(), name.c_str());
  }
  if (IsEmptyKey(root, path, view))
    RegDeleteKeyExW(root, path.c_str(), view, 0);
}

size_t Depth(const std::wstring& path) {
  return std::count(path.begin(), path.end(), L'\\');
}

// .wav's default value as it was, only while it still names the type set
// here and that type holds nothing of another program: their entries there
// (a verb, a handler) stay, and so does the value that leads to them.
void PutBackWavDefault(HKEY entry, REGSAM view) {
  const TKey wav = OpenKey(HKEY_CLASSES_ROOT, L".wav", KEY_READ | KEY_SET_VALUE | view);
  const std::wstring type = FromAnsi(DefaultWavFileType);
  if (!wav || ReadText(wav.get(), std::wstring()) != type ||
      HoldsValues(HKEY_CLASSES_ROOT, type, view))
    return;
  CopyValue(entry, WavBeforeValue, wav.get(), std::wstring());
}

} // namespace

bool TRecordItem::operator==(const TRecordItem& other) const {
  return Kind == other.Kind && View == other.View && Root == other.Root &&
         ValueName == other.ValueName &&
         CompareStringOrdinal(Path.c_str(), -1, other.Path.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::vector<TRecordItem> PlannedCreations(const TRegistrationPlan& plan) {
  std::vector<TRecordItem> items;
  if (!plan.Refusal.empty() || plan.FileType.empty())
    return items;
  const TFileType type = {ToAnsi(plan.FileType), true, plan.SetsWavDefault};
  for (const TClassesEntry& entry : ShellEntries(type, TOLVANE_CLASS_ID))
    AddMissing(items, SharedView, ClassesRoot, FromAnsi(entry.Key), FromAnsi(entry.ValueName));
  // A blank value that registration replaces is there, but not ours.
  if (plan.SetsWavDefault)
    AddOnce(items, ValueItem(SharedView.Name, ClassesRoot, L".wav", std::wstring()));
  AddOnce(items, TypeItem(plan.FileType));
  for (const TRegistryView& view : RegistryViews())
    if (std::find(plan.ApprovalViews.begin(), plan.ApprovalViews.end(), view.Name) !=
        plan.ApprovalViews.end())
      AddMissing(items, view, MachineRoot, FromAnsi(ApprovedKeyPath()), ClassId);
  return items;
}

LONG RecordRegistration(const TRegistrationPlan& plan) {
  TKey entry;
  LONG result =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, SetupEntryKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_READ | KEY_WRITE | FirstView().Flag, nullptr, entry.put(), nullptr);
  if (result != ERROR_SUCCESS) {
    entry.release();
    return result;
  }
  std::vector<TRecordItem> items = RecordedItems(entry.get());
  const TRecordItem wavDefault = ValueItem(SharedView.Name, ClassesRoot, L".wav", std::wstring());
  const bool wavRecorded = std::find(items.begin(), items.end(), wavDefault) != items.end();
  for (const TRecordItem& item : PlannedCreations(plan))
    AddOnce(items, item);
  // The value as it is, before the line that says it is to be put back.
  if (plan.SetsWavDefault && !wavRecorded)
    CopyValue(OpenKey(HKEY_CLASSES_ROOT, L".wav", KEY_READ).get(), std::wstring(), entry.get(),
              WavBeforeValue);
  result = WriteItems(entry.get(), items);
  if (result == ERROR_SUCCESS)
    DeleteLegacy(entry.get());
  return result;
}

void RemoveRecorded() {
  const TKey entry = OpenEntry(KEY_READ);
  if (!entry)
    return;
  const std::vector<TRecordItem> items = RecordedItems(entry.get());
  const std::vector<TOurValue> ours = OurValues(items);
  const REGSAM shared = SharedView.Flag;

  struct TCandidate {
    HKEY Root;
    std::wstring Path;
    REGSAM View;
  };
  std::vector<TCandidate> keys;
  // Our handler keys, created or not: unregistration takes only the one of
  // the type .wav names then, and none where it failed.
  for (const TOurValue& value : ours)
    if (value.Data == ClassId && value.Root == HKEY_CLASSES_ROOT)
      keys.push_back({HKEY_CLASSES_ROOT, value.Path, shared});
  bool wavKeyCreated = false;
  bool wavDefaultSet = false;
  for (const TRecordItem& item : items) {
    const HKEY root = RootOf(item.Root);
    if (item.Path == L".wav" && root == HKEY_CLASSES_ROOT) {
      wavKeyCreated |= item.Kind == L"key";
      wavDefaultSet |= item.Kind == L"value";
    } else if (item.Kind == L"key") {
      keys.push_back({root, item.Path, ViewOf(item.View)});
    } else if (item.Kind == L"value") {
      const TKey key = OpenKey(root, item.Path, KEY_READ | KEY_SET_VALUE | ViewOf(item.View));
      if (key && IsOurs(ours, root, item.Path, item.ValueName, key.get()))
        RegDeleteValueW(key.get(), item.ValueName.c_str());
    }
  }
  // Deepest first: a key with subkeys cannot go.
  std::stable_sort(keys.begin(), keys.end(), [](const TCandidate& a, const TCandidate& b) {
    return Depth(a.Path) > Depth(b.Path);
  });
  for (const TCandidate& key : keys)
    RemoveKey(ours, key.Root, key.Path, key.View);
  if (wavDefaultSet)
    PutBackWavDefault(entry.get(), shared);
  if (wavKeyCreated && IsEmptyKey(HKEY_CLASSES_ROOT, L".wav", shared))
    RegDeleteKeyExW(HKEY_CLASSES_ROOT, L".wav", shared, 0);
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}
