// Frames over a session: send, receive in steps, wait for a whole message.
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/eventtext/eventtext.h"
#include "qvnetmsg.h"
#include "runtime/message/socket_wait.h"

namespace {

constexpr char kModule[] = "QVNETMSG";
constexpr uint32_t kLevel = 16;
constexpr uint32_t kCategory = 9;

std::atomic<size_t> gMaxFrame{QV_NETMSG_DEFAULT_MAX_FRAME};

#define NM_TRACE(...) QV_TRACE(kLevel, kCategory, kModule, __VA_ARGS__)

QVSTATUS Leave(int line, const char* routine, QVSTATUS status) {
  QVTraceMessage(kLevel, kCategory, kModule, line, "Leaving %s, return code 0x%08X", routine,
                 status);
  return status;
}
#define NM_ENTER() NM_TRACE("Entering %s", __func__)
#define NM_LEAVE(status) Leave(__LINE__, __func__, (status))

// Data held inside the session counts as readable.
qv::netmsg::WaitResult Readable(QVNetSession* session, int socket, int timeoutMs) {
  if (session->Pending() > 0) return qv::netmsg::WaitResult::kReadable;
  return qv::netmsg::WaitReadable(socket, timeoutMs);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the length prefix and the "(" that ends it, and sets up the frame
// buffer.
QVSTATUS StartFrame(QVNetSession* session, size_t* missing, char** buffer, size_t* total) {
  size_t length = 0;
  int digits = 0;
  for (;;) {
    char c = 0;
    long n = session->Read(&c, 1);
    if (n != 1) {
      NM_TRACE("SSLRead failed with code <%ld>", n);
      return QVS_NETMSG_READ_FAILED;
    }
    if (c == '(') break;
    if (!IsDigit(c) || ++digits > QV_NETMSG_MAX_PREFIX_DIGITS) {
      NM_TRACE("Not a valid network message, Last char read = <%c>",
               (c >= 0x20 && c < 0x7F) ? c : '?');
      return QVS_NETMSG_BAD_FRAME;
    }
    length = length * 10 + static_cast<size_t>(c - '0');
  }
  if (length == 0 || length > QVNetMsgMaxFrameSize()) {
    NM_TRACE("Not a valid network message, frame size <%zu>", length);
    return QVS_NETMSG_BAD_FRAME;
  }
  char* frame = static_cast<char*>(std::calloc(length + 1, 1));
  if (!frame) {
    NM_TRACE("Not a valid network message, cannot hold <%zu> bytes", length);
    return QVS_NETMSG_BAD_FRAME;
  }
  frame[0] = '(';
  *buffer = frame;
  *total = length;
  *missing = length - 1;
  NM_TRACE("Data size is <%zu>", length);
  return QV_OK;
}

}  // namespace

void vQVNetMsgSetMaxFrameSize(size_t bytes) {
  gMaxFrame.store(bytes ? bytes : QV_NETMSG_DEFAULT_MAX_FRAME, std::memory_order_relaxed);
}

size_t QVNetMsgMaxFrameSize() { return gMaxFrame.load(std::memory_order_relaxed); }

extern "C" {

QVSTATUS errQVNetMsgSSLSend(QVNetSession* session, int socket, HQVEXTOBJ obj) {
  NM_ENTER();
  char* buffer = static_cast<char*>(std::calloc(QV_NETMSG_SEND_BUFFER, 1));
  if (!buffer) {
    NM_TRACE("The Malloc for the pchNetMsgBuffer failed");
    return NM_LEAVE(QVS_NETMSG_NO_MEMORY);
  }
  size_t length = QV_NETMSG_SEND_BUFFER;
  QVSTATUS status = errQVExtObjWriteToBuffer(obj, buffer, &length);
  if (status == QVS_EXTOBJ_BUFFER_TOO_SMALL) {
    NM_TRACE("Try again with a bigger buffer");
    std::free(buffer);
    buffer = static_cast<char*>(std::calloc(length, 1));
    if (!buffer) {
      NM_TRACE("The Malloc for the pchNetMsgBuffer failed");
      return NM_LEAVE(QVS_NETMSG_NO_MEMORY);
    }
    status = errQVExtObjWriteToBuffer(obj, buffer, &length);
  }
  if (status == QV_OK) {
    long written = session ? session->Write(buffer, length) : -1;
    if (written < 0 || static_cast<size_t>(written) != length) {
      NM_TRACE("SSLWrite failed with code <%ld>", written);
      status = QVS_NETMSG_WRITE_FAILED;
    }
  }
  std::free(buffer);
  return NM_LEAVE(status);
}

void vQVNetMsgFreeReceiveState(size_t* missing, char** buffer, size_t* total) {
  if (buffer) {
    std::free(*buffer);
    *buffer = nullptr;
  }
  if (missing) *missing = 0;
  if (total) *total = 0;
}

QVSTATUS errQVNetMsgSSLReceive(QVNetSession* session, int socket, HQVEXTOBJ* out, size_t* missing,
                               char** buffer, size_t* total) {
  NM_ENTER();
  if (!session || !out || !missing || !buffer || !total) {
    vQVNetMsgFreeReceiveState(missing, buffer, total);
    return NM_LEAVE(QVS_NETMSG_READ_FAILED);
  }
  *out = nullptr;
  switch (Readable(session, socket, 0)) {
    case qv::netmsg::WaitResult::kError:
      vQVNetMsgFreeReceiveState(missing, buffer, total);
      return NM_LEAVE(QVS_NETMSG_POLL_FAILED);
    case qv::netmsg::WaitResult::kTimeout:
      return NM_LEAVE(QV_OK);
    case qv::netmsg::WaitResult::kReadable:
      break;
  }

  if (*missing == 0 || !*buffer) {
    vQVNetMsgFreeReceiveState(missing, buffer, total);
    QVSTATUS status = StartFrame(session, missing, buffer, total);
    if (status != QV_OK) return NM_LEAVE(status);
  }

  while (*missing > 0) {
    // Take only what has arrived; the caller comes back for the rest.
    qv::netmsg::WaitResult ready = Readable(session, socket, 0);
    if (ready == qv::netmsg::WaitResult::kError) {
      vQVNetMsgFreeReceiveState(missing, buffer, total);
      return NM_LEAVE(QVS_NETMSG_POLL_FAILED);
    }
    if (ready == qv::netmsg::WaitResult::kTimeout) return NM_LEAVE(QV_OK);
    long n = session->Read(*buffer + (*total - *missing), *missing);
    if (n <= 0) {
      NM_TRACE("SSLRead failed with error Code <%ld>", n);
      vQVNetMsgFreeReceiveState(missing, buffer, total);
      return NM_LEAVE(QVS_NETMSG_READ_FAILED);
    }
    *missing -= static_cast<size_t>(n) < *missing ? static_cast<size_t>(n) : *missing;
  }

  HQVEXTOBJ obj = nullptr;
  QVSTATUS status = errQVExtObjCreateObjFromBuffer(&obj, *buffer, *total);
  vQVNetMsgFreeReceiveState(missing, buffer, total);
  if (status != QV_OK) {
    NM_TRACE("Failed to create Network Msg from Buffer <%u>", status);
    return NM_LEAVE(QVS_NETMSG_BAD_OBJECT);
  }
  *out = obj;
  return NM_LEAVE(QV_OK);
}

QVSTATUS errQVNetMsgSSLWaitReceive(QVNetSession* session, int socket, HQVEXTOBJ* out, int limit) {
  NM_ENTER();
  if (!out) return NM_LEAVE(QVS_NETMSG_RECEIVE_FAILED);
  *out = nullptr;
  size_t missing = 0;
  char* buffer = nullptr;
  size_t total = 0;
  const long long start = qv::netmsg::MonotonicSeconds();
  QVSTATUS result = QV_OK;
  for (;;) {
    int timeoutMs = -1;
    if (limit >= 0) {
      if (qv::netmsg::MonotonicSeconds() - start >= limit) {
        NM_TRACE("timeout");
        result = QVS_NETMSG_TIMEOUT;
        break;
      }
      NM_TRACE("select for a second");
      timeoutMs = 1000;
    }
    if (!session) {
      result = QVS_NETMSG_RECEIVE_FAILED;
      break;
    }
    if (Readable(session, socket, timeoutMs) == qv::netmsg::WaitResult::kTimeout) continue;
    // A poll error is reported by the receive step.
    HQVEXTOBJ obj = nullptr;
    QVSTATUS status = errQVNetMsgSSLReceive(session, socket, &obj, &missing, &buffer, &total);
    if (status != QV_OK) {
      NM_TRACE("Net Message receive failed with Return Value <%u>", status);
      result = QVS_NETMSG_RECEIVE_FAILED;
      break;
    }
    if (obj) {
      *out = obj;
      break;
    }
  }
  vQVNetMsgFreeReceiveState(&missing, &buffer, &total);
  return NM_LEAVE(result);
}

QVSTATUS NetMsgWriteToBuffer(HQVEXTOBJ obj, char* buffer, size_t* length) {
  return errQVExtObjWriteToBuffer(obj, buffer, length);
}

const char* pszQVNetMsgErrorText(QVSTATUS status) {
  static thread_local char text[64];
  std::snprintf(text, sizeof text, "Network Message Layer error number %ld",
                static_cast<long>(static_cast<int32_t>(status)));
  return text;
}

}  // extern "C"
