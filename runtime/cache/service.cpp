// Cache service state, start-up and rundown, handles, and the dispatch of
// the desktop calls to the local cache or to the host.
#include <atomic>
#include <chrono>
#include <mutex>
#include <new>
#include <thread>

#include "platform/rpc/rpc.h"
#include "runtime/cache/cache_internal.h"

using namespace qv::cache::internal;
namespace wire = qv::rpc::cache;

namespace {

constexpr uint32_t kModeServer = 1;
constexpr uint32_t kModeClient = 2;
constexpr uint32_t kSwitchedOff = 2;

std::atomic<uint32_t> g_startArgument{0};
std::atomic<uint32_t> g_mode{0};
std::mutex g_serverMutex;
qv::rpc::Server* g_server = nullptr;

std::atomic<unsigned> g_registerAttempts{29};
std::atomic<unsigned> g_registerIntervalMs{2000};
std::atomic<int> g_callTimeoutMs{30000};

// 0 when calls may go ahead in the current mode.
QVSTATUS CallState() {
  if (g_startArgument.load() == kSwitchedOff) return QVS_DM_SWITCHED_OFF;
  const uint32_t mode = g_mode.load();
  return (mode == kModeServer || mode == kModeClient) ? QV_OK : QVS_DM_NOT_STARTED;
}

bool Local() { return g_mode.load() == kModeServer; }

// A call whose reply carries a buffer. out is emptied first and receives the
// reply's buffer whenever a reply arrived; failing to take it counts only when
// the call itself succeeded.
QVSTATUS CallForBuffer(DMHANDLE handle, const wire::Request& req, CM_CRED_BUFFER* out) {
  *out = CM_CRED_BUFFER{0, nullptr};
  wire::Reply reply;
  QVSTATUS status = RemoteCall(handle, req, &reply);
  if (status != QVS_DM_RPC_FAILED) {
    QVSTATUS taken = TakeReplyBuffer(&reply, out);
    if (status == QV_OK) status = taken;
  }
  return status;
}

// The certificate store's desktop calls: open, one call, close.
template <typename Call>
QVSTATUS ViaCache(const Call& call) {
  DMHANDLE h = nullptr;
  QVSTATUS status = DMOpenCache(&h);
  if (status == QV_OK) {
    status = call(h);
    DMCloseCache(&h);
  }
  return status;
}

QVSTATUS ViaGetDesktopCred(uint32_t item, CM_CRED_BUFFER* out) {
  return ViaCache([&](DMHANDLE h) { return DMDesktopGetDesktopCreds(h, item, out); });
}

QVSTATUS ViaStoreSessionCert(const char* user, const char* domain, const CM_CRED_BUFFER* text) {
  return ViaCache([&](DMHANDLE h) { return DMDesktopStoreSessionCert(h, user, domain, text); });
}

QVSTATUS ViaGetSessionCert(const char* user, const char* domain, CM_CRED_BUFFER* out) {
  return ViaCache([&](DMHANDLE h) { return DMDesktopGetSessionCert(h, user, domain, out); });
}

QVSTATUS ViaClearSessionCerts() {
  return ViaCache([](DMHANDLE h) { return DMClearSessionCerts(h); });
}

const CMCacheDispatch kServiceDispatch = {ViaGetDesktopCred, ViaStoreSessionCert, ViaGetSessionCert,
                                          ViaClearSessionCerts};

// Steps 3 to 6 of the host's set-up; undoes its own steps on failure.
QVSTATUS StartServer() {
  std::lock_guard<std::mutex> lock(g_serverMutex);
  if (g_server) return qv::rpc::kRpcAlreadyListening;
  qv::rpc::Server* server = nullptr;
  uint32_t rpc = qv::rpc::CreateServer(DM_ENDPOINT, kMaxCalls, &server);
  if (rpc != qv::rpc::kRpcOk) {
    DM_TRACE(8, "RpcServerUseProtseqEp() failed. Error code = %d", static_cast<int>(rpc));
    return rpc;
  }
  const unsigned attempts = g_registerAttempts.load() ? g_registerAttempts.load() : 1;
  for (unsigned attempt = 1;; ++attempt) {
    rpc = qv::rpc::RegisterEndpoint(server);
    if (rpc == qv::rpc::kRpcOk || attempt >= attempts) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(g_registerIntervalMs.load()));
  }
  if (rpc == qv::rpc::kRpcSecurityFailed) {
    DM_TRACE(8, "SetSecurityDescriptorDacl() failed. Error code = %d", static_cast<int>(rpc));
    qv::rpc::DestroyServer(server);
    return QVS_DM_SECURITY_FAILED;
  }
  if (rpc != qv::rpc::kRpcOk) {
    DM_TRACE(8, "RpcEpRegister() failed. Error code = %d", static_cast<int>(rpc));
    qv::rpc::DestroyServer(server);
    return rpc;
  }
  rpc = qv::rpc::StartListening(server, ServeRequest, nullptr);
  if (rpc != qv::rpc::kRpcOk) {
    DM_TRACE(8, "RpcServerLlisten() failed. Error code = %d", static_cast<int>(rpc));
    qv::rpc::DestroyServer(server);
    return rpc;
  }
  g_server = server;
  return QV_OK;
}

}  // namespace

namespace qv::cache {

void SetRegistrationRetryForTest(unsigned attempts, unsigned intervalMs) {
  g_registerAttempts = attempts;
  g_registerIntervalMs = intervalMs;
}

void SetCallTimeoutForTest(int milliseconds) { g_callTimeoutMs = milliseconds; }

namespace internal {
int CallTimeoutMs() { return g_callTimeoutMs.load(); }
}  // namespace internal

}  // namespace qv::cache

extern "C" {

QVSTATUS DMStartup(uint32_t startArgument, uint32_t mode) {
  DM_ENTER("DMStartup");
  g_startArgument = startArgument;
  g_mode = mode;
  QVSTATUS status = QV_OK;
  if (startArgument == kSwitchedOff) {
    status = QVS_DM_SWITCHED_OFF;
  } else {
    // From now on the desktop calls of this process reach the cache here.
    CMSetCacheDispatch(&kServiceDispatch);
    if (mode == kModeServer) status = StartServer();
  }
  DM_LEAVE("DMStartup", status);
  return status;
}

QVSTATUS DMRundown(void) {
  DM_ENTER("DMRundown");
  QVSTATUS status = CallState();
  if (status == QV_OK) {
    qv::rpc::Server* server = nullptr;
    {
      std::lock_guard<std::mutex> lock(g_serverMutex);
      server = g_server;
      g_server = nullptr;
    }
    if (server) {
      qv::rpc::StopListening(server);
      qv::rpc::DestroyServer(server);
    }
    g_mode = 0;
  }
  DM_LEAVE("DMRundown", status);
  return status;
}

QVSTATUS DMOpenCache(DMHANDLE* handle) {
  DM_ENTER("DMOpenCache");
  QVSTATUS status = CallState();
  if (handle) *handle = nullptr;
  if (status == QV_OK && !handle) status = qv::rpc::kRpcNullReference;
  if (status == QV_OK) {
    if (Local()) {
      *handle = reinterpret_cast<DMHANDLE>(DM_LOCAL_HANDLE);
    } else {
      const std::string path = qv::rpc::EndpointPath(DM_ENDPOINT);
      auto* b = path.empty() ? nullptr : new (std::nothrow) Binding{kBindingMagic, DM_ENDPOINT};
      if (path.empty()) {
        DM_TRACE(8, "RpcStringBindingCompose() failed. Error code = %d",
                 static_cast<int>(qv::rpc::kRpcInvalidEndpoint));
        status = qv::rpc::kRpcInvalidEndpoint;
      } else if (!b) {
        DM_TRACE(8, "RpcBindingFromStringBinding() failed. Error code = %d",
                 static_cast<int>(qv::rpc::kRpcOutOfResources));
        status = qv::rpc::kRpcOutOfResources;
      } else {
        *handle = b;
      }
    }
  }
  DM_LEAVE("DMOpenCache", status);
  return status;
}

QVSTATUS DMCloseCache(DMHANDLE* handle) {
  DM_ENTER("DMCloseCache");
  QVSTATUS status = CallState();
  if (status == QV_OK && handle && *handle) {
    if (*handle != reinterpret_cast<DMHANDLE>(DM_LOCAL_HANDLE)) {
      auto* b = static_cast<Binding*>(*handle);
      if (b->magic == kBindingMagic) {
        b->magic = 0;
        delete b;
      }
    }
    *handle = nullptr;
  }
  DM_LEAVE("DMCloseCache", status);
  return status;
}

QVSTATUS DMDesktopGetDesktopCreds(DMHANDLE handle, uint32_t item, CM_CRED_BUFFER* out) {
  DM_ENTER("DMDesktopGetDesktopCreds");
  QVSTATUS status = QV_OK;
  if (item != CM_ITEM_PRIVATE_KEY && item != CM_ITEM_CERTIFICATE) {
    status = QVS_DM_BAD_CRED_ITEM;
  } else if ((status = CallState()) != QV_OK) {
  } else if (Local()) {
    status = LDMDesktopGetDesktopCred(item, out);
  } else if (!out) {
    status = CallException(wire::kGetDesktopCred, qv::rpc::kRpcNullReference);
  } else {
    wire::Request req;
    req.procedure = wire::kGetDesktopCred;
    req.item = item;
    status = CallForBuffer(handle, req, out);
  }
  DM_LEAVE("DMDesktopGetDesktopCreds", status);
  return status;
}

QVSTATUS DMDesktopStoreSessionCert(DMHANDLE handle, const char* user, const char* domain,
                                   const CM_CRED_BUFFER* text) {
  DM_ENTER("DMDesktopStoreSessionCert");
  QVSTATUS status = CallState();
  if (status != QV_OK) {
  } else if (Local()) {
    status = LDMDesktopStoreSessionCert(user, domain, text);
  } else if (!text || (text->length && !text->bytes)) {
    status = CallException(wire::kStoreSessionCert, qv::rpc::kRpcNullReference);
  } else {
    wire::Request req;
    req.procedure = wire::kStoreSessionCert;
    req.user = {user != nullptr, user ? user : ""};
    req.domain = {domain != nullptr, domain ? domain : ""};
    req.text.present = true;
    req.text.bytes.assign(text->bytes, text->bytes + text->length);
    wire::Reply reply;
    status = RemoteCall(handle, req, &reply);
    wire::Wipe(&req.text.bytes);
  }
  DM_LEAVE("DMDesktopStoreSessionCert", status);
  return status;
}

QVSTATUS DMDesktopGetSessionCert(DMHANDLE handle, const char* user, const char* domain,
                                 CM_CRED_BUFFER* out) {
  DM_ENTER("DMDesktopGetSessionCert");
  QVSTATUS status = CallState();
  if (status != QV_OK) {
  } else if (Local()) {
    status = LDMDesktopGetSessionCert(user, domain, out);
  } else if (!out) {
    status = CallException(wire::kGetSessionCert, qv::rpc::kRpcNullReference);
  } else {
    wire::Request req;
    req.procedure = wire::kGetSessionCert;
    req.user = {user != nullptr, user ? user : ""};
    req.domain = {domain != nullptr, domain ? domain : ""};
    status = CallForBuffer(handle, req, out);
  }
  DM_LEAVE("DMDesktopGetSessionCert", status);
  return status;
}

QVSTATUS DMClearSessionCerts(DMHANDLE handle) {
  DM_ENTER("DMClearSessionCerts");
  QVSTATUS status = CallState();
  if (status != QV_OK) {
  } else if (Local()) {
    status = LDMDesktopClearSessionCerts();
  } else {
    wire::Request req;
    req.procedure = wire::kClearSessionCerts;
    wire::Reply reply;
    status = RemoteCall(handle, req, &reply);
  }
  DM_LEAVE("DMClearSessionCerts", status);
  return status;
}

}  // extern "C"
