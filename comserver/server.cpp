#include "server.h"

#include "ansi_text.h"
#include "class_factory.h"
#include "class_manager.h"
#include "exceptions.h"
#include "module.h"

#include <cstring>

namespace {

// The short form of a path, when there is one of at most `longest`
// characters; else nothing.
template <class Char, class ShortPath>
std::basic_string<Char> ShortForm(const std::basic_string<Char>& path, ShortPath shortPathOf,
                                  DWORD longest) {
  Char shortPath[MAX_PATH + 1];
  DWORD length = shortPathOf(path.c_str(), shortPath, longest + 1);
  if (length == 0 || length > longest)
    return {};
  return std::basic_string<Char>(shortPath, length);
}

// The short form of a path that holds a blank, when there is one within the
// classic path length; else the path itself.
template <class Char, class ShortPath>
std::basic_string<Char> WithoutBlanks(const std::basic_string<Char>& path, ShortPath shortPathOf) {
  if (path.find(Char(' ')) == std::basic_string<Char>::npos)
    return path;
  std::basic_string<Char> shortPath = ShortForm(path, shortPathOf, MAX_PATH);
  return shortPath.empty() ? path : shortPath;
}

} // namespace

TComServer* ServerInstance = nullptr;

TComServer::~TComServer() {
  try {
    // Each factory's destructor unlinks it while the walk holds the write lock.
    ClassManager().VisitFactories(this, [](TComObjectFactory& factory) { delete &factory; });
  } catch (...) {
    // Factory destructors do not raise; the lock itself could, and teardown
    // must go on.
  }
}

LONG TComServer::TrackObject(bool created) {
  return created ? InterlockedIncrement(&LiveObjects) : InterlockedDecrement(&LiveObjects);
}

LONG TComServer::TrackFactory(bool created) {
  return created ? InterlockedIncrement(&FactoryRefs) : InterlockedDecrement(&FactoryRefs);
}

std::string TComServer::ServerFilePath() {
  char path[AnsiPathRoom];
  DWORD length = GetModuleFileNameA(ModuleInstance(), path, sizeof path);
  if (length > sizeof path)
    length = sizeof path;
  // A path cut short may end in a terminating zero within the count.
  return std::string(path, strnlen(path, length));
}

std::wstring TComServer::ServerFileWidePath() {
  // The longest path Windows knows, and its terminating zero.
  std::wstring path(32768, L'\0');
  DWORD length = GetModuleFileNameW(ModuleInstance(), path.data(), DWORD(path.size()));
  if (length == 0 || length >= path.size())
    return std::wstring();
  path.resize(length);
  return path;
}

std::string TComServer::ServerBaseName() {
  return BaseNameOfPath(ServerFilePath());
}

void TComServer::UpdateServerRegistration(bool registering) {
  Registering = registering;
  // The walk keeps its own direction: a registration on another thread may
  // change the field while this one waits for the list.
  ClassManager().VisitFactories(ServerInstance, [registering](TComObjectFactory& factory) {
    if (factory.InstancingMode != ciInternal)
      factory.UpdateRegistration(registering);
  });
}

std::string BaseNameOfPath(const std::string& path) {
  // Walk by characters: in a double-byte code page a trail byte may equal '\'.
  std::size_t nameStart = 0;
  std::size_t extensionStart = std::string::npos;
  for (std::size_t i = 0; i < path.size();) {
    char c = path[i];
    if (c == '\\' || c == ':') {
      nameStart = i + 1;
      extensionStart = std::string::npos;
    } else if (c == '.') {
      extensionStart = i;
    }
    i += IsDBCSLeadByte(static_cast<BYTE>(c)) && i + 1 < path.size() ? 2 : 1;
  }
  std::size_t end = extensionStart == std::string::npos ? path.size() : extensionStart;
  return path.substr(nameStart, end - nameStart);
}

TModulePath RegisteredModulePath(const std::string& ansiPath, const std::wstring& widePath) {
  if (widePath.empty())
    throw EOleError(LoadModuleString(SCreateRegKeyError));
  if (widePath.size() >= MAX_PATH) {
    // COM reads a server path into MAX_PATH characters: only a short form that
    // fits can be loaded, whether or not the ANSI path names the module. The
    // UTF-16 call: the ANSI one may refuse a path that long.
    std::wstring shortPath = ShortForm(widePath, GetShortPathNameW, MAX_PATH - 1);
    if (shortPath.empty())
      throw EOleError(LoadModuleString(SCreateRegKeyError));
    return {std::string(), shortPath};
  }
  if (FromAnsi(ansiPath) == widePath)
    return {WithoutBlanks(ansiPath, GetShortPathNameA), std::wstring()};
  return {std::string(), WithoutBlanks(widePath, GetShortPathNameW)};
}
