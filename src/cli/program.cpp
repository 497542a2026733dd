#include "cli/program.h"

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "cli/platform_bindings.h"
#include "cli/qxmodel.h"
#include "qx_version.h"

#ifdef _WIN32
#include <io.h>

#include "port/service/service_library_win32.h"
#define QX_ISATTY _isatty
#define QX_FILENO _fileno
#else
#include <unistd.h>
#define QX_ISATTY isatty
#define QX_FILENO fileno
#endif

namespace qx::cli {

// Caught, so that the stack unwinds: a run that stopped services starts them again as
// it goes (an exception leaving main may end the process without unwinding).
int QxModelMain(int argc, char** argv, bool fastWaits) try {
#ifdef _WIN32
  KeepCurrentFolderOutOfLibrarySearch();
#endif
  std::vector<std::string> args(argv + 1, argv + argc);
  Environment env(nullptr, std::cout, std::cerr);
  env.In = &std::cin;
  env.ErrIsTerminal = QX_ISATTY(QX_FILENO(stderr)) != 0;
  env.FastWaits = fastWaits;
  env.Version = QX_VERSION_TEXT;
  BindPlatform(env);
  return RunQxModel(args, env);
} catch (const std::exception& e) {
  std::cerr << "qxmodel: internal error: " << e.what() << '\n';
  return ExitFailed;
} catch (...) {
  std::cerr << "qxmodel: internal error\n";
  return ExitFailed;
}

}  // namespace qx::cli
