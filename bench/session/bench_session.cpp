// Secure sessions per second between an agent and a workstation on loopback:
// open (connect, handshake with both certificates), one request, one answer,
// close.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "platform/paths/paths.h"
#include "qvnetmsg.h"
#include "runtime/session/session_fixture.h"
#include "runtime/session/session_manager.h"

namespace {

namespace fx = qv::session::fixture;

void Answer(SMSessionInfo* info) {
  HQVEXTOBJ req = nullptr;
  if (errQVNetMsgSSLWaitReceive(info->pSession, info->iSocket, &req, 10) == QV_OK) {
    errQVNetMsgDestroy(req);
    HQVEXTOBJ answer = nullptr;
    errQVNetMsgCreate(&answer, "Desktop");
    errQVNetMsgAddI32(answer, "Protocol", 1);
    errQVNetMsgAddI32(answer, "Type", 2);
    errQVNetMsgSSLSend(info->pSession, info->iSocket, answer);
    errQVNetMsgDestroy(answer);
  }
  SMDeleteContext(info->iSocket, info->pSession);
  SMFreeSessionInfo(info);
}

// A workstation listening in this process, and an agent's client context.
class Setup {
 public:
  Setup() {
    char tmpl[] = "/tmp/qvbench.XXXXXX";
    root_ = mkdtemp(tmpl) ? tmpl : "/tmp";
    qv::paths::SetRootForProcess(root_);
    const fx::Credentials& c = fx::Get();
    fx::Install(c.root.cert, c.dc, c.desktop);
    qv::session::SetCredentialSource(&fx::Source());
    SMStartup(1, 0);
    SMSetupSSLCTX(0, 1);
    auto bound = std::make_shared<std::promise<uint16_t>>();
    auto fut = bound->get_future();
    listener_ = std::thread([bound] {
      qv::session::ServerListen(
          Answer, 0, 2,
          [](uint16_t p, void* arg) { static_cast<std::promise<uint16_t>*>(arg)->set_value(p); },
          bound.get());
    });
    port_ = fut.get();
  }
  ~Setup() {
    SMStopListening();
    listener_.join();
    SMRundown();
    std::filesystem::remove_all(root_);
  }
  uint16_t port() const { return port_; }

 private:
  std::string root_;
  std::thread listener_;
  uint16_t port_ = 0;
};

// Destroyed at exit: stops the listener and removes the private root.
Setup& Shared() {
  static Setup s;
  return s;
}

void BM_SessionRoundTrip(benchmark::State& state) {
  const uint16_t port = Shared().port();
  HQVEXTOBJ req = nullptr;
  errQVNetMsgCreate(&req, "Dazar");
  errQVNetMsgAddI32(req, "Protocol", 1);
  errQVNetMsgAddI32(req, "Type", 1);
  int64_t failures = 0;
  for (auto _ : state) {
    SMPeerCert cert{};
    int fd = -1;
    SMSession* s = nullptr;
    if (SMClientOpenSession("127.0.0.1", port, 1, 2, &cert, &fd, &s) != QV_OK) {
      ++failures;
      continue;
    }
    HQVEXTOBJ answer = nullptr;
    if (errQVNetMsgSSLSend(s, fd, req) != QV_OK ||
        errQVNetMsgSSLWaitReceive(s, fd, &answer, 10) != QV_OK) {
      ++failures;
    }
    errQVNetMsgDestroy(answer);
    SMFreePeerCert(&cert);
    SMDeleteContext(fd, s);
  }
  errQVNetMsgDestroy(req);
  state.SetItemsProcessed(state.iterations());
  state.counters["failures"] = static_cast<double>(failures);
}
BENCHMARK(BM_SessionRoundTrip)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
