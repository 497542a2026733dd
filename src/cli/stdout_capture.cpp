#include "cli/stdout_capture.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define QX_DUP _dup
#define QX_DUP2 _dup2
#define QX_CLOSE _close
#define QX_FILENO _fileno
#else
#include <unistd.h>
#define QX_DUP dup
#define QX_DUP2 dup2
#define QX_CLOSE close
#define QX_FILENO fileno
#endif

namespace qx::cli {

std::string CaptureStandardOutput(const std::function<void()>& body) {
  std::fflush(stdout);
  std::FILE* file = std::tmpfile();
  const int saved = file ? QX_DUP(QX_FILENO(stdout)) : -1;
  if (saved < 0 || QX_DUP2(QX_FILENO(file), QX_FILENO(stdout)) < 0) {
    // No capture possible: let the listing go to standard output as it is.
    if (saved >= 0) QX_CLOSE(saved);
    if (file) std::fclose(file);
    body();
    return {};
  }
  body();
  std::fflush(stdout);
  QX_DUP2(saved, QX_FILENO(stdout));
  QX_CLOSE(saved);

  std::string text;
  std::rewind(file);
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  std::fclose(file);
  return text;
}

}  // namespace qx::cli
