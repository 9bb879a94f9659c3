// A short self-check of the platform layers on a private root directory.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/eventtext/eventtext.h"
#include "platform/paths/paths.h"

int main() {
  char tmpl[] = "/tmp/tavrik-selfcheck-XXXXXX";
  const char* root = mkdtemp(tmpl);
  if (!root) {
    std::perror("mkdtemp");
    return 1;
  }
  qv::paths::SetRootForProcess(root);
  int failures = 0;
  auto check = [&](bool ok, const char* what) {
    std::printf("%-40s %s\n", what, ok ? "ok" : "FAILED");
    if (!ok) ++failures;
  };
  check(qv::paths::MakeDirs(qv::paths::EtcDir()), "configuration directory");
  char text[256];
  QVFormatError(text, sizeof text, "status: %s", QVS_NETMSG_BAD_FRAME);
  check(std::string(text) == "status: Not a valid network message", "status texts");
  std::printf("root: %s\n", root);
  std::string cleanup = std::string("rm -rf '") + root + "'";
  if (std::system(cleanup.c_str()) != 0) ++failures;
  return failures == 0 ? 0 : 1;
}
