// Listening loop and connection threads.
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <list>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "platform/eventtext/eventtext.h"
#include "platform/resolver/netsock.h"
#include "platform/resolver/resolver.h"
#include "runtime/auth/settings.h"
#include "runtime/auth/timed_message_box.h"
#include "runtime/session/session_internal.h"

using namespace qv::session::internal;

namespace {

constexpr int kSocketAttempts = 60;
constexpr auto kSocketRetryDelay = std::chrono::milliseconds(500);
constexpr int kBacklog = 5;
constexpr const char* kNotifyCaption = "Quillon Authentication";
constexpr uint32_t kNotifyStyle = 0x240010;
constexpr uint32_t kEventCategory = 9;

// How long a stopping listener waits for its connection threads to end.
constexpr auto kConnectionDrain = std::chrono::seconds(10);

// Connection threads of one listener; outlives the listener while any runs.
struct ListenerState {
  std::atomic<uint32_t> active{0};
  std::mutex mutex;
  std::condition_variable ended;

  void Leave() {
    std::lock_guard<std::mutex> lock(mutex);
    active.fetch_sub(1);
    ended.notify_all();
  }
  // False when threads still run after `bound`.
  bool Drain(std::chrono::seconds bound) {
    std::unique_lock<std::mutex> lock(mutex);
    return ended.wait_for(lock, bound, [this] { return active.load() == 0; });
  }
};

struct ConnectionRecord {
  SSL_CTX* ctx;  // a reference of its own
  int fd;
  uint32_t peer;
  SMHandler handler;
  int bNotifyUser;
  std::shared_ptr<ListenerState> state;
};

// Listening sockets of the process, so that SMStopListening can end them.
struct ActiveListener {
  int fd;
  bool stopped;
};
std::mutex g_listenersMutex;
std::list<ActiveListener> g_listeners;

void LogConnectionFailure(QVSTATUS status, uint32_t peer) {
  char text[16];
  qv::resolver::FormatIPv4(peer, text, sizeof text);
  QVLogEvent(kEventCategory, status, QV_SID_NONE, text, 0);
}

void RunConnection(ConnectionRecord* rec) {
  QVTraceMessage(2, kCategory, kModule, __LINE__, "Entering SMConnectionThread");
  QVSTATUS status = QV_OK;
  SMSession* s = nullptr;
  SMSessionInfo* info = nullptr;
  SSL* ssl = SSL_new(rec->ctx);
  if (ssl) {
    s = new (std::nothrow) SMSession(ssl);
    if (!s) SSL_free(ssl);
  }
  if (!s) status = QVS_SM_SESSION_FAILED;
  if (status == QV_OK) {
    SSL_set_accept_state(s->ssl);
    if (SSL_set_fd(s->ssl, rec->fd) != 1) status = QVS_SM_SESSION_FAILED;
  }
  if (status == QV_OK) status = Handshake(s, rec->fd, false);
  if (status == QV_OK) {
    info = static_cast<SMSessionInfo*>(calloc(1, sizeof(SMSessionInfo)));
    if (!info) status = QVS_SM_NO_MEMORY;
  }
  if (status == QV_OK) status = PeerCertificate(s, &info->pbPeerCert, &info->dwPeerCertLen);
  ERR_clear_error();

  if (status == QV_OK) {
    info->pSession = s;
    info->iSocket = rec->fd;
    info->dwPeerAddr = rec->peer;
    rec->handler(info);  // owns the session and the record from here
  } else {
    QVTraceMessage(8, kCategory, kModule, __LINE__,
                   "Incoming session failed, status 0x%08X", status);
    SMFreeSessionInfo(info);
    // Release the peer before the user is told, so it is not held for the
    // time the message stays up.
    SMDeleteContext(rec->fd, s);
    if (rec->bNotifyUser == 1) {
      const char* text = QVStatusText(QVS_SM_INCOMING_SESSION_FAILED);
      AMTimedMessageBox(nullptr, text ? text : "", kNotifyCaption, kNotifyStyle);
    }
    LogConnectionFailure(status, rec->peer);
  }
  SSL_CTX_free(rec->ctx);
  std::shared_ptr<ListenerState> state = std::move(rec->state);
  delete rec;
  QVTraceMessage(4, kCategory, kModule, __LINE__,
                 "Leaving SMConnectionThread, return code 0x%08X", status);
  // The thread's own TLS state goes now, not in a thread-exit destructor that
  // could run while the process is already cleaning up after its listener.
  OPENSSL_thread_stop();
  state->Leave();
}

// Entered before the socket exists, so a stop that comes while the listener
// is still starting is not missed.
std::list<ActiveListener>::iterator Register() {
  std::lock_guard<std::mutex> lock(g_listenersMutex);
  return g_listeners.insert(g_listeners.end(), ActiveListener{-1, false});
}

// Publishes the listening socket; false when a stop came first.
bool Publish(std::list<ActiveListener>::iterator it, int fd) {
  std::lock_guard<std::mutex> lock(g_listenersMutex);
  it->fd = fd;
  return !it->stopped;
}

bool Unregister(std::list<ActiveListener>::iterator it) {
  std::lock_guard<std::mutex> lock(g_listenersMutex);
  bool stopped = it->stopped;
  g_listeners.erase(it);
  return stopped;
}

}  // namespace

void SMStopListening(void) {
  std::lock_guard<std::mutex> lock(g_listenersMutex);
  for (ActiveListener& l : g_listeners) {
    l.stopped = true;
    if (l.fd >= 0) qv::net::Shutdown(l.fd);
  }
}

namespace qv::session {

QVSTATUS ServerListen(SMHandler handler, uint32_t port, int bNotifyUser,
                      void (*onListening)(uint16_t port, void* arg), void* arg) {
  QVTraceMessage(2, kCategory, kModule, __LINE__, "Entering SMServerListen");
  if (!handler || port > 0xFFFF) {
    QVTraceMessage(4, kCategory, kModule, __LINE__, "Leaving SMServerListen, return code 0x%08X",
                   QVS_SM_FAILED);
    return QVS_SM_FAILED;
  }
  auto self = Register();
  SSL_CTX* ctx = AcquireContext(false);
  if (!ctx) {
    Unregister(self);
    QVTraceMessage(8, kCategory, kModule, __LINE__, "SMServerListen: no server context");
    QVTraceMessage(4, kCategory, kModule, __LINE__, "Leaving SMServerListen, return code 0x%08X",
                   QVS_SM_NO_CONTEXT);
    return QVS_SM_NO_CONTEXT;
  }
  QVSTATUS status = QV_OK;
  int fd = -1;
  // Every connection gets a session of its own from this context; building
  // one here proves the context can make them.
  SSL* probe = SSL_new(ctx);
  if (!probe) status = QVS_SM_SESSION_FAILED;
  SSL_free(probe);

  for (int attempt = 1; status == QV_OK; ++attempt) {
    if (qv::net::TcpSocket(&fd) == 0) break;
    if (attempt == kSocketAttempts) {
      status = QVS_SM_SOCKET_FAILED;
      break;
    }
    std::this_thread::sleep_for(kSocketRetryDelay);
  }
  if (status == QV_OK) {
    const std::string where = qv::auth::ListenAddress();
    uint32_t address = 0;
    int rc = 0;
    if (!where.empty() && !qv::resolver::ParseDottedIPv4(where.c_str(), &address)) {
      QVTraceMessage(8, kCategory, kModule, __LINE__, "ListenAddress %s is not an IPv4 address",
                     where.c_str());
      rc = EINVAL;
    }
    if (rc == 0) rc = qv::net::Bind(fd, address, static_cast<uint16_t>(port));
    if (rc != 0) {
      QVTraceMessage(8, kCategory, kModule, __LINE__, "bind() to port %u failed, error %d",
                     port, rc);
      status = QVS_SM_BIND_FAILED;
    }
  }
  if (status == QV_OK && qv::net::Listen(fd, kBacklog) != 0) status = QVS_SM_LISTEN_FAILED;
  const bool stoppedWhileStarting = status == QV_OK && !Publish(self, fd);
  if (status != QV_OK || stoppedWhileStarting) {
    Unregister(self);
    if (stoppedWhileStarting) status = QV_OK;
    qv::net::Close(fd);
    SSL_CTX_free(ctx);
    QVTraceMessage(4, kCategory, kModule, __LINE__, "Leaving SMServerListen, return code 0x%08X",
                   status);
    return status;
  }

  uint16_t bound = 0;
  qv::net::LocalPort(fd, &bound);
  QVTraceMessage(8, kCategory, kModule, __LINE__, "Listening on port %u", bound);
  if (onListening) onListening(bound, arg);

  const uint32_t maxThreads = qv::auth::MaxSessionThreads();
  auto state = std::make_shared<ListenerState>();
  for (;;) {
    int conn = -1;
    uint32_t peer = 0;
    int rc = qv::net::Accept(fd, &conn, &peer);
    if (rc != 0) {
      QVTraceMessage(8, kCategory, kModule, __LINE__, "accept() failed, error %d", rc);
      status = QVS_SM_ACCEPT_FAILED;
      break;
    }
    if (state->active.load() >= maxThreads) {
      QVTraceMessage(8, kCategory, kModule, __LINE__,
                     "%u sessions running: connection closed", maxThreads);
      LogConnectionFailure(QVS_SM_TOO_MANY_SESSIONS, peer);
      qv::net::Close(conn);
      continue;
    }
    auto* rec = new (std::nothrow) ConnectionRecord{ctx, conn, peer, handler, bNotifyUser, state};
    if (!rec) {
      qv::net::Close(conn);
      status = QVS_SM_NO_MEMORY;
      break;
    }
    SSL_CTX_up_ref(ctx);
    state->active.fetch_add(1);
    try {
      std::thread(RunConnection, rec).detach();
    } catch (...) {
      state->Leave();
      qv::net::Close(conn);
      SSL_CTX_free(ctx);
      delete rec;
      status = QVS_SM_THREAD_FAILED;
      break;
    }
  }

  if (Unregister(self)) status = QV_OK;  // ended by SMStopListening
  qv::net::Close(fd);
  if (!state->Drain(kConnectionDrain))
    QVTraceMessage(8, kCategory, kModule, __LINE__, "%u sessions still running at the end",
                   state->active.load());
  SSL_CTX_free(ctx);
  QVTraceMessage(4, kCategory, kModule, __LINE__, "Leaving SMServerListen, return code 0x%08X",
                 status);
  return status;
}

}  // namespace qv::session

QVSTATUS SMServerListen(SMHandler handler, uint32_t port, int reserved, int bNotifyUser) {
  return qv::session::ServerListen(handler, port, bNotifyUser, nullptr, nullptr);
}
