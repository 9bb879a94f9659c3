#include "platform/paths/paths.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace qv::paths {
namespace {

std::mutex g_mutex;
std::string g_override;

std::string Trimmed(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  if (s == "/") s.clear();
  return s;
}

}  // namespace

std::string Root() {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_override.empty()) return g_override;
  }
  const char* env = std::getenv("TAVRIK_ROOT");
  return Trimmed(env ? env : "");
}

void SetRootForProcess(const std::string& root) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_override = Trimmed(root);
}

std::string EtcDir() { return Root() + "/etc/tavrik"; }
std::string StateDir() { return Root() + "/var/lib/tavrik"; }
std::string RunDir() { return Root() + "/run/tavrik"; }
std::string LogDir() { return Root() + "/var/log/tavrik"; }

std::string NamePrefix() {
  // FNV-1a of the root: stable across processes, distinct between roots.
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : Root()) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "/tvk%012llx_", static_cast<unsigned long long>(h & 0xffffffffffffull));
  return buf;
}

bool MakeDirs(const std::string& path, unsigned mode) {
  if (path.empty()) return false;
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty()) continue;
    if (::mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace qv::paths
