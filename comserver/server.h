// The one server object of the module: what is alive, and what the module is.
#pragma once

#include <windows.h>

#include <string>

#include "class_entries.h"

class TComServerObject {
public:
  virtual ~TComServerObject() = default;
  virtual LONG TrackObject(bool created) = 0;
  virtual LONG TrackFactory(bool created) = 0;
  // The help file that error information of the server's objects would
  // name; empty for this module, whose errors name none.
  virtual std::string HelpFile() = 0;
  virtual std::string ServerFilePath() = 0;
  virtual std::string ServerKeyName() = 0;
  virtual std::string ServerBaseName() = 0;
  // The module's full path in UTF-16, which names it also where the ANSI
  // code page lacks a character or the ANSI path is cut; empty when it cannot
  // be had.
  virtual std::wstring ServerFileWidePath() = 0;
};

class TComServer : public TComServerObject {
public:
  TComServer() = default;
  // Destroys every factory of this server, newest first.
  ~TComServer() override;

  LONG TrackObject(bool created) override;
  LONG TrackFactory(bool created) override;
  std::string HelpFile() override { return FHelpFile; }
  std::string ServerFilePath() override;
  std::string ServerKeyName() override { return InprocServerKeyName; }
  std::string ServerBaseName() override;
  std::wstring ServerFileWidePath() override;

  // Calls UpdateRegistration(registering) on every registrable factory of
  // this server, under the factory list's write lock. Exceptions pass on.
  void UpdateServerRegistration(bool registering);

  // Changed only by InterlockedIncrement/InterlockedDecrement; the property
  // sheet changes LiveObjects too, through a page's pcRefParent.
  alignas(4) volatile LONG LiveObjects = 0;
  alignas(4) volatile LONG FactoryRefs = 0;
  // The direction of the latest registration walk (true: registering), for
  // a factory that needs to know it outside its UpdateRegistration call;
  // this module's factory is told by its argument.
  bool Registering = false;

private:
  std::string FHelpFile;
};

// Created at start-up, destroyed at teardown; null outside.
extern TComServer* ServerInstance;

// The file name without directory and extension: C:\Program Files\Sample.Ext.dll
// gives Sample.Ext.
std::string BaseNameOfPath(const std::string& path);

// The ANSI path when it names the module exactly, else the UTF-16 one (a
// character outside the ANSI code page, or an ANSI path cut short); in either
// form the short form when the path holds a blank and a short form can be
// had. A path too long for COM to load (MAX_PATH characters or more) becomes
// its UTF-16 short form, whether or not the ANSI path names the module. Raises
// EOleError when no form names the module: no UTF-16 path, or one too long
// without a short form that fits.
TModulePath RegisteredModulePath(const std::string& ansiPath, const std::wstring& widePath);
