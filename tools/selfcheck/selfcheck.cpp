// A short self-check of the platform layers on a private root directory:
// settings store and its change watch, named kernel objects, events and
// status texts.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "platform/eventtext/eventtext.h"
#include "platform/kobj/kobj.h"
#include "platform/paths/paths.h"
#include "platform/registry/registry.h"

namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
  std::printf("  %-52s %s\n", what, ok ? "ok" : "FAILED");
  if (!ok) ++g_failures;
}

void CheckSettings() {
  using namespace qv::reg;
  std::printf("settings store\n");
  const char* kKey = "SOFTWARE\\Tavrik\\QVNetwork";
  Key key;
  Check(key.Create(HKEY_LOCAL_MACHINE, kKey, KEY_ALL_ACCESS) == ERROR_SUCCESS, "create key");
  uint32_t port = 2334;
  Check(SetValue(key.get(), "KelClientPort", REG_DWORD, &port, sizeof port) == ERROR_SUCCESS,
        "write a DWORD value");
  uint32_t read = 0, type = 0, size = sizeof read;
  Check(QueryValue(key.get(), "kelclientport", &type, &read, &size) == ERROR_SUCCESS &&
            read == 2334 && type == REG_DWORD,
        "read it back, name compared without case");
  char small[2];
  const char* path = "/etc/tavrik/root.pem";
  SetValue(key.get(), "CACertPath", REG_SZ, path, static_cast<uint32_t>(std::strlen(path) + 1));
  size = sizeof small;
  Check(QueryValue(key.get(), "CACertPath", nullptr, small, &size) == ERROR_MORE_DATA &&
            size == std::strlen(path) + 1,
        "oversized value is not read, size reported");

  Key watched;
  watched.Open(HKEY_LOCAL_MACHINE, kKey, KEY_NOTIFY | KEY_QUERY_VALUE);
  KeyWatch watch;
  Check(watch.Open(watched.get()) == ERROR_SUCCESS, "watch the key");
  std::thread writer([] {
    Key k;
    k.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrik\\QVNetwork", KEY_SET_VALUE);
    uint32_t mode = 1;
    SetValue(k.get(), "TestMode", REG_DWORD, &mode, sizeof mode);
  });
  Check(watch.Wait(5000) == KeyWatch::Result::kChanged, "change notification on a value");
  writer.join();
}

void CheckKernelObjects() {
  using namespace qv::kobj;
  std::printf("named kernel objects\n");
  // The other process is forked before the mutex is taken: a process must
  // not fork while one of its threads owns a mutex.
  int go[2];
  if (pipe(go) != 0) {
    Check(false, "pipes");
    return;
  }
  pid_t child = fork();
  if (child == 0) {
    char c;
    if (read(go[0], &c, 1) != 1) _exit(2);
    Mutex other;
    other.Open("selfcheck");
    int rc = other.Wait(0) == WaitResult::Timeout ? 0 : 1;
    _exit(rc);
  }
  Mutex m;
  Check(m.Create("selfcheck", true) == OpenStatus::Created, "create a named mutex, owned");
  Mutex again;
  Check(again.Create("selfcheck", false) == OpenStatus::AlreadyExists, "second create: already exists");
  if (write(go[1], "x", 1) != 1) Check(false, "pipe write");
  int status = 0;
  waitpid(child, &status, 0);
  Check(WIFEXITED(status) && WEXITSTATUS(status) == 0, "another process is excluded");
  m.Release();
  close(go[0]);
  close(go[1]);

  child = fork();
  if (child == 0) {
    Mutex c;
    c.Open("selfcheck");
    c.Wait(kInfinite);
    _exit(0);  // dies holding it
  }
  waitpid(child, &status, 0);
  Check(again.Wait(5000) == WaitResult::Abandoned, "abandoned when the owner dies");
  again.Release();
}

void CheckEvents() {
  std::printf("events and status texts\n");
  char text[256];
  QVFormatError(text, sizeof text, "status: %s", QVS_NETMSG_BAD_FRAME);
  Check(std::string(text) == "status: Not a valid network message", "status text in place of %s");
  QVILogEvent(1, 9, QVE_SVC_ENDED, QV_SID_NONE, "selfcheck", 0);
  std::ifstream events(qv::paths::LogDir() + "/events.jsonl");
  std::string line, all;
  while (std::getline(events, line)) all += line;
  Check(all.find("\"selfcheck\"") != std::string::npos, "event recorded in the event file");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::printf(
        "NAME\n  qvselfcheck - check the platform layers on a private root\n\n"
        "SYNOPSIS\n  qvselfcheck\n\n"
        "DESCRIPTION\n  Creates a temporary root directory, exercises the settings store, its\n"
        "  change watch, named kernel objects, the event file and the status texts,\n"
        "  prints one line per check and removes the directory again.\n\n"
        "EXIT STATUS\n  0 when every check passed, 1 otherwise.\n");
    return 0;
  }
  char tmpl[] = "/tmp/tavrik-selfcheck-XXXXXX";
  const char* root = mkdtemp(tmpl);
  if (!root) {
    std::perror("mkdtemp");
    return 1;
  }
  setenv("TAVRIK_ROOT", root, 1);
  qv::paths::SetRootForProcess(root);
  qv::paths::MakeDirs(qv::paths::LogDir());
  qv::paths::MakeDirs(qv::paths::RunDir());
  std::printf("root: %s\n", root);
  CheckSettings();
  CheckKernelObjects();
  CheckEvents();
  std::string cleanup = std::string("rm -rf '") + root + "'";
  if (std::system(cleanup.c_str()) != 0) ++g_failures;
  std::printf("%s\n", g_failures == 0 ? "all checks passed" : "some checks FAILED");
  return g_failures == 0 ? 0 : 1;
}
