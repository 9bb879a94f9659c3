// Write + read round trips of protocol messages, and a frame over a socket pair.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "qvextobj.h"
#include "qvnetmsg.h"
#include "qvprotocol.h"
#include "runtime/message/socketpair_session.h"

namespace {

HQVEXTOBJ PasscodeRequest() {
  HQVEXTOBJ msg = nullptr;
  errAMBuildPasscodeReq(&msg, "jsmith", "ENGINEERING", 900000000, 0);
  return msg;
}

// A store-certificate message whose certificate object writes to about 2 KB.
HQVEXTOBJ StoreCertificateMessage() {
  HQVEXTOBJ cert = nullptr;
  errQVExtObjCreateObj(&cert, AM_SESSION_CERT_TYPE);
  std::vector<unsigned char> der(1480);
  for (size_t i = 0; i < der.size(); ++i) der[i] = static_cast<unsigned char>(i * 131 + 7);
  errQVExtObjCreateString(cert, "Username", "jsmith");
  errQVExtObjCreateString(cert, "Domain", "ENGINEERING");
  errQVExtObjCreateString(cert, "Workstation", "WS-0042");
  errQVExtObjAddI32(cert, "Expires", 900003600);
  errQVExtObjAddBinary(cert, "Certificate", der.data(), der.size());
  HQVEXTOBJ msg = nullptr;
  errAMBuildStoreSessionCert(&msg, "jsmith", "ENGINEERING", cert);
  errQVExtObjDestroyObj(cert);
  return msg;
}

void RoundTrip(benchmark::State& state, HQVEXTOBJ msg) {
  size_t length = 0;
  errQVExtObjExternalSize(msg, &length);
  std::string buffer(length, '\0');
  for (auto _ : state) {
    size_t n = buffer.size();
    if (errQVExtObjWriteToBuffer(msg, buffer.data(), &n) != QV_OK) state.SkipWithError("write");
    HQVEXTOBJ back = nullptr;
    if (errQVExtObjCreateObjFromBuffer(&back, buffer.data(), n) != QV_OK) {
      state.SkipWithError("read");
    }
    benchmark::DoNotOptimize(back);
    errQVExtObjDestroyObj(back);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * length));
  state.counters["frame_bytes"] = static_cast<double>(length);
  errQVExtObjDestroyObj(msg);
}

void BM_PasscodeRequestRoundTrip(benchmark::State& state) { RoundTrip(state, PasscodeRequest()); }
BENCHMARK(BM_PasscodeRequestRoundTrip);

void BM_StoreSessionCertRoundTrip(benchmark::State& state) {
  RoundTrip(state, StoreCertificateMessage());
}
BENCHMARK(BM_StoreSessionCertRoundTrip);

void BM_FrameOverSocketPair(benchmark::State& state) {
  qv::netmsg::SocketSessionPair pair;
  if (!qv::netmsg::MakeSocketSessionPair(pair)) {
    state.SkipWithError("socketpair");
    return;
  }
  HQVEXTOBJ msg = state.range(0) ? StoreCertificateMessage() : PasscodeRequest();
  size_t length = 0;
  errQVExtObjExternalSize(msg, &length);
  for (auto _ : state) {
    if (errQVNetMsgSSLSend(pair.a.get(), pair.a->Socket(), msg) != QV_OK)
      state.SkipWithError("send");
    HQVEXTOBJ in = nullptr;
    if (errQVNetMsgSSLWaitReceive(pair.b.get(), pair.b->Socket(), &in, QV_NETMSG_NO_LIMIT) !=
        QV_OK) {
      state.SkipWithError("receive");
    }
    errQVNetMsgDestroy(in);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * length));
  state.counters["frame_bytes"] = static_cast<double>(length);
  errQVExtObjDestroyObj(msg);
}
BENCHMARK(BM_FrameOverSocketPair)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
