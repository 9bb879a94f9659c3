#include "platform/eventtext/log_io.h"

#include <errno.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

#include "platform/paths/paths.h"

namespace qv::eventtext {

std::string IsoTimeNow() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm;
  gmtime_r(&ts.tv_sec, &tm);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                ts.tv_nsec / 1000000);
  return text;
}

const char* ProgramName() {
  const char* name = program_invocation_short_name;
  return name && *name ? name : "unknown";
}

int OpenAppend(const std::string& dir, const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0640);
  if (fd < 0 && errno == ENOENT && qv::paths::MakeDirs(dir, 0750)) {
    fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0640);
  }
  return fd;
}

bool WriteWhole(int fd, std::string_view line) {
  while (!line.empty()) {
    ssize_t n = write(fd, line.data(), line.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    line.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace qv::eventtext
