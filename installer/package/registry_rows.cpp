// registry_rows OUT_DIR
//
// Writes the Registry rows of the Windows Installer packages as WiX include
// files, one per component that holds them, from the very tables the
// module's registration walks (comserver/class_entries.h,
// extension/shell_entries.h): installer/package/build.sh builds and runs it
// on the build machine, and tolvane.wxs includes what it writes.
//
//   class-Module.wxi, class-Module32.wxi  the class keys of one registry
//        view, the server key naming the module file of that component
//   shared.wxi    what both views share: the ProgID, the handler keys below
//        the file type PlanPackage decides ([TolvaneFileType]) and below
//        the lasting hooks
//   wav.wxi       .wav's default value, where the package writes it
//
// Where the package differs from the module, on purpose:
// - the empty default values the module gives the type's shellex keys are
//   not written: nothing reads them, and a package that owned them would
//   remove pre-existing ones at its uninstall;
// - the server key names the module by its long path ([#Module]), where the
//   module writes the short form of a path that holds a blank: Windows
//   Installer knows no short form, and COM loads both;
// - the approval is no row: the module writes it where its keys let it and
//   goes on without it elsewhere, which the package's WriteApprovals does
//   with the module's own code, as the installer service.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "class_entries.h"
#include "identity.h"
#include "shell_entries.h"
#include "tolvane_class.h"

namespace {

std::string Escaped(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
    case '&':
      escaped += "&amp;";
      break;
    case '<':
      escaped += "&lt;";
      break;
    case '>':
      escaped += "&gt;";
      break;
    case '"':
      escaped += "&quot;";
      break;
    default:
      escaped += c;
    }
  }
  return escaped;
}

struct TRow {
  const char* Root;
  TClassesEntry Entry;
};

// keyPath: the first row is the component's key path.
bool Write(const std::string& path, const std::vector<TRow>& rows, bool keyPath = false) {
  std::ofstream out(path);
  out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
         "<!-- Made by installer/package/registry_rows.cpp: do not edit. -->\n<Include>\n";
  for (const TRow& row : rows) {
    out << "  <RegistryValue Root=\"" << row.Root << "\" Key=\"" << Escaped(row.Entry.Key) << "\"";
    if (!row.Entry.ValueName.empty())
      out << " Name=\"" << Escaped(row.Entry.ValueName) << "\"";
    out << " Type=\"string\" Value=\"" << Escaped(row.Entry.Data) << "\"";
    out << (keyPath && &row == &rows.front() ? " KeyPath=\"yes\"/>\n" : "/>\n");
  }
  out << "</Include>\n";
  return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: registry_rows OUT_DIR\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  const TClassNames names = InstalledClassNames();
  std::vector<TRow> shared;
  bool written = true;
  for (const char* module : {"Module", "Module32"}) {
    std::vector<TRow> rows;
    const TModulePath path = {std::string("[#") + module + "]", std::wstring()};
    for (const TClassesEntry& entry : ClassRegistrationEntries(names, path)) {
      if (IsClassKey(entry.Key))
        rows.push_back({"HKCR", entry});
      else if (std::string(module) == "Module")
        shared.push_back({"HKCR", entry});
    }
    written &= Write(dir + "class-" + module + ".wxi", rows);
  }
  std::vector<TRow> wav;
  const TFileType fileType = {"[TolvaneFileType]", true, true};
  for (const TClassesEntry& entry : ShellEntries(fileType, names.ClassId)) {
    if (entry.Key == ".wav")
      wav.push_back({"HKCR", entry});
    else if (!entry.Data.empty())
      shared.push_back({"HKCR", entry});
  }
  written &= Write(dir + "shared.wxi", shared) && Write(dir + "wav.wxi", wav, true);
  if (!written) {
    std::fprintf(stderr, "registry_rows: cannot write into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
