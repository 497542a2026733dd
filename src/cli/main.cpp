// qxmodel: the model setting utility's exchanges from a command line.

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "cli/qxmodel.h"
#include "cli/platform_bindings.h"
#include "qx_version.h"
#include "port/port_table.h"

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

// Caught, so that the stack unwinds: a run that stopped services starts them again as
// it goes (an exception leaving main may end the process without unwinding).
int main(int argc, char** argv) try {
#ifdef _WIN32
  qx::KeepCurrentFolderOutOfLibrarySearch();
#endif
  std::vector<std::string> args(argv + 1, argv + argc);
  // Set's restart wait takes 40 or 60 s; the program's own tests run it against a
  // simulated printer that restarts at once.
  const char* fast = std::getenv("QXMODEL_FAST_WAITS");

  qx::cli::Environment env(qx::ProcessPortTable(), std::cout, std::cerr);
  env.ErrIsTerminal = QX_ISATTY(QX_FILENO(stderr)) != 0;
  env.FastWaits = fast != nullptr && std::string(fast) == "1";
  env.Version = QX_VERSION_TEXT;
  qx::cli::BindPlatform(env);
  return qx::cli::RunQxModel(args, env);
} catch (const std::exception& e) {
  std::cerr << "qxmodel: internal error: " << e.what() << '\n';
  return qx::cli::ExitFailed;
} catch (...) {
  std::cerr << "qxmodel: internal error\n";
  return qx::cli::ExitFailed;
}
