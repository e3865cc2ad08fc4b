#include "wavinfo.h"

#include "wavfile.h"

#include <iostream>

#ifdef _WIN32
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#endif

int main(int argc, char** argv) {
  LoadDecimalSeparator();
  std::vector<TPath> arguments;
#ifdef _WIN32
  (void)argc;
  (void)argv;
  // The UTF-16 command line keeps names that the ANSI code page cannot hold.
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide || count < 1) {
    std::cerr << "wavinfo: cannot read the command line\n";
    return ExitUsage;
  }
  arguments.assign(wide + 1, wide + count);
  LocalFree(wide);
  // Same bytes as on other platforms: LF line ends.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#else
  arguments.assign(argv + 1, argv + argc);
#endif
  return RunWavinfo(arguments, std::cout, std::cerr);
}
