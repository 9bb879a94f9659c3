// Feeds the roles' request and reply handling with arbitrary message objects:
// the input's first byte picks the role (even: the desktop answering an
// agent, odd: the agent challenging a desktop) and the server's verdicts;
// the rest, split at line breaks, is sent as one frame per line.
#include <dlfcn.h>
#include <signal.h>
#include <sys/socket.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/paths/paths.h"
#include "qvprotocol.h"
#include "runtime/auth/protocol/roles.h"
#include "runtime/message/socketpair_session.h"

namespace {

int g_verdicts[4];
int g_next = 0;

int FakeInit(KEL_HANDLE* h) {
  *h = 7;
  return ACM_OK;
}
int FakeTime(KEL_HANDLE, uint32_t* t) {
  *t = 1000000;
  return ACM_OK;
}
int FakeCheck(KEL_HANDLE, const char*, const char*) { return g_verdicts[g_next++ & 3]; }
int FakePin(KEL_HANDLE, const char*) { return g_verdicts[g_next++ & 3]; }
int FakeNext(KEL_HANDLE, const char*) { return g_verdicts[g_next++ & 3]; }
int FakeParams(KEL_HANDLE, KEL_PIN_PARAMS* p) {
  p->cMinPinLen = 4;
  p->cMaxPinLen = 8;
  return 1;
}
int FakeClose(KEL_HANDLE) { return ACM_OK; }

kel::ClientApi g_api;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  signal(SIGPIPE, SIG_IGN);
  char dir[] = "/tmp/fuzz-protocol-XXXXXX";
  if (mkdtemp(dir) != nullptr) {
    setenv("TAVRIK_ROOT", dir, 1);
    qv::paths::SetRootForProcess(dir);
  }
  setenv("TAVRIK_UI", "none", 1);
  setenv("TAVRIK_INPUT_DESKTOP", "Default", 1);
  setenv("TAVRIK_EVENT_SYSLOG", "0", 1);
  qv::protocol::SetPromptLibraryForProcess(PROMPTUI_PATH);
  // Held for the whole run: the roles unload the prompt library after each
  // conversation, and the fuzzer's coverage tables of an unloaded library
  // would be left dangling.
  (void)dlopen(PROMPTUI_PATH, RTLD_NOW | RTLD_NODELETE);
  g_api.QV_Init = FakeInit;
  g_api.KelGetTime = FakeTime;
  g_api.QV_Check = FakeCheck;
  g_api.QV_Pin = FakePin;
  g_api.QV_Next = FakeNext;
  g_api.KelGetPinParams = FakeParams;
  g_api.QV_Close = FakeClose;
  qv::protocol::SetAuthClient(&g_api);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 16384) return 0;
  const uint8_t control = data[0];
  static const int kVerdicts[8] = {ACM_OK, ACM_ACCESS_DENIED, ACM_NEXT_CODE_REQUIRED,
                                   ACM_NEW_PIN_REQUIRED, ACM_NEW_PIN_ACCEPTED,
                                   ACM_NEW_PIN_REJECTED, ACM_INVALID_SERVER, 99};
  for (int i = 0; i < 4; ++i) g_verdicts[i] = kVerdicts[(control >> (i + 1)) & 7];
  g_next = 0;

  std::string stream;
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) stream += std::to_string(end - start) + text.substr(start, end - start);
    start = end + 1;
  }

  qv::netmsg::SocketSessionPair pair;
  if (!qv::netmsg::MakeSocketSessionPair(pair)) return 0;
  // The peer's whole side is written up front; the role then reads it and
  // finds the session closed at its end.
  std::thread feeder([&] {
    qv::netmsg::WriteAll(pair.a->Socket(), stream.data(), stream.size());
    ::shutdown(pair.a->Socket(), SHUT_WR);
    char sink[4096];
    while (pair.a->Read(sink, sizeof sink) > 0) {
    }
  });
  if (control & 1) {
    char user[AM_NAME_BUFFER] = "alice";
    char domain[AM_NAME_BUFFER] = "CORP";
    static const uint8_t kCert[] = {0x30, 0x03, 0x02, 0x01, 0x01};
    (void)RunChallenge(pair.b.get(), pair.b->Socket(), kCert, sizeof kCert, user, domain, "WKS7");
  } else {
    ServeAgentSession(pair.b.get(), pair.b->Socket());
  }
  pair.b->Close();
  feeder.join();
  return 0;
}
