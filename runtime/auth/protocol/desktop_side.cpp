// The desktop's half of the challenge: wait for the agent's request, prompt
// the user through the prompt library, answer, and at the end keep the
// session certificate or tell the user that access was denied.
#include <cctype>
#include <cstring>
#include <string>

#include "platform/desktop/desktop.h"
#include "platform/eventtext/eventtext.h"
#include "qvcert.h"
#include "qvprotocol.h"
#include "runtime/auth/protocol/prompt_binding.h"
#include "runtime/auth/protocol/roles.h"
#include "runtime/auth/timed_message_box.h"

namespace {

using qv::protocol::CopyText;

constexpr char kModule[] = "AMdesktop";

struct Conversation {
  Conversation(QVNetSession* s, int fd, char* d, int32_t* o)
      : session(s), socket(fd), domain(d), outcome(o), block() {}
  QVNetSession* session;
  int socket;
  char* domain;
  int32_t* outcome;
  PROMPT_DATA block;
  bool uiStarted = false;
  qv::protocol::PromptBinding prompts;
};

// What a request's action asks of the loop.
enum class Next { kContinue, kEnd };

void Tell(const char* text) {
  AMTimedMessageBox(nullptr, text, qv::protocol::kMessageCaption, qv::protocol::kMessageStyle);
}

void Wipe(void* p, size_t n) {
  volatile unsigned char* b = static_cast<volatile unsigned char*>(p);
  while (n--) *b++ = 0;
}

// The desktop refuses to prompt: type 12, event, end without a failure.
Next Refuse(Conversation& c, const char* user, QVSTATUS* status) {
  QVSTATUS sent = SendCancel(c.session, c.socket);
  if (sent != QV_OK) QV_TRACE(8, 6, kModule, "SendCancel failed, err=0x%08X", sent);
  QVLogEvent(9, QVS_AM_ACCESS_DENIED, QV_SID_NONE, user, 0);
  *status = QV_OK;
  return Next::kEnd;
}

bool SameWithoutCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return i == a.size() && b[i] == '\0';
}

bool InputIsScreenSaver() {
  std::string name;
  if (qv::desktop::InputDesktopName(name) != QV_OK) return false;
  return SameWithoutCase(name, qv::desktop::kScreenSaverDesktop);
}

Next ProcessGetSessionCertificate(Conversation& c, HQVEXTOBJ msg, QVSTATUS* status) {
  AMSessionCertReq req{};
  *status = errAMReadSessionCertReq(msg, &req);
  if (*status != QV_OK) return Next::kEnd;
  *status = SendSessionCertificateReply(c.session, c.socket, req.Username, req.Domain);
  return *status == QV_OK ? Next::kContinue : Next::kEnd;
}

Next ProcessPasscodeRequest(Conversation& c, HQVEXTOBJ msg, QVSTATUS* status) {
  AMPasscodeReq req{};
  QVSTATUS read = errAMReadPasscodeReq(msg, &req);
  const char* eventUser = c.block.szUsername[0] != '\0' ? c.block.szUsername : req.Username;

  if (*c.outcome == PROMPT_RESULT_CANCEL || *c.outcome == PROMPT_RESULT_TIMEOUT) {
    return Refuse(c, eventUser, status);
  }
  if (!c.uiStarted) {
    if (InputIsScreenSaver()) {
      QV_TRACE(8, 6, kModule, "The screen saver holds the input desktop: not prompting");
      return Refuse(c, eventUser, status);
    }
    if (c.prompts.Init(&c.block) == -1) {
      QVSTATUS sent = SendCancel(c.session, c.socket);
      if (sent != QV_OK) QV_TRACE(8, 6, kModule, "SendCancel failed, err=0x%08X", sent);
      *status = QVS_AM_PROMPT_UNAVAILABLE;
      return Next::kEnd;
    }
    c.uiStarted = true;
  }
  if (read != QV_OK) {
    *status = read;
    return Next::kEnd;
  }
  if (c.block.szUsername[0] == '\0') CopyText(c.block.szUsername, AM_NAME_BUFFER, req.Username);
  if (c.domain[0] == '\0') CopyText(c.domain, AM_NAME_BUFFER, req.Domain);
  c.block.dwServerTime = static_cast<uint32_t>(req.ServerTime);

  switch (req.KELReturn) {
    case ACM_ACCESS_DENIED:
    case ACM_NEXT_CODE_REJECTED:
    case ACM_SYNTAX_ERR_3:
    case ACM_INVALID_SERVER:
      c.block.dwNewPinStatus = PROMPT_NEWPIN_NONE;
      Tell("Access Denied.");
      break;
    case ACM_NEW_PIN_ACCEPTED:
      c.block.dwNewPinStatus = PROMPT_NEWPIN_ACCEPTED;
      Tell("New PIN Accepted.");
      break;
    case ACM_NEW_PIN_REJECTED:
      c.block.dwNewPinStatus = PROMPT_NEWPIN_REJECTED;
      Tell("New PIN Rejected.");
      break;
    default:
      c.block.dwNewPinStatus = PROMPT_NEWPIN_NONE;
      break;
  }

  int32_t result = c.prompts.Check(&c.block);
  if (result == PROMPT_RESULT_OK) {
    *status = SendPasscodeReply(c.session, c.socket, &c.block, c.domain);
  } else {
    *c.outcome = result;
    *status = SendCancel(c.session, c.socket);
  }
  Wipe(c.block.szPasscode, sizeof c.block.szPasscode);
  return *status == QV_OK ? Next::kContinue : Next::kEnd;
}

Next ProcessNewPinRequest(Conversation& c, HQVEXTOBJ msg, QVSTATUS* status) {
  AMNewPinReq req{};
  *status = errAMReadNewPinReq(msg, &req);
  if (*status != QV_OK) return Next::kEnd;
  CopyText(c.block.szSystemPin, sizeof c.block.szSystemPin, req.SystemPIN);
  c.block.bAlphanumeric = static_cast<uint8_t>(req.Alphanumeric);
  c.block.bPinSelectable = static_cast<uint8_t>(req.Selectable);
  c.block.bMinPinLen = req.MinLength;
  c.block.bMaxPinLen = req.MaxLength;
  Wipe(req.SystemPIN, sizeof req.SystemPIN);

  int32_t result = c.prompts.Pin(&c.block);
  if (result == PROMPT_RESULT_OK) {
    *status = SendNewPinReply(c.session, c.socket, &c.block);
  } else {
    *c.outcome = result;
    *status = SendCancel(c.session, c.socket);
  }
  Wipe(c.block.szNewPin, sizeof c.block.szNewPin);
  Wipe(c.block.szSystemPin, sizeof c.block.szSystemPin);
  return *status == QV_OK ? Next::kContinue : Next::kEnd;
}

Next ProcessNextTokenCodeRequest(Conversation& c, HQVEXTOBJ msg, QVSTATUS* status) {
  *status = errAMReadEmpty(msg, AM_NEXTCODEREQ);
  if (*status != QV_OK) return Next::kEnd;
  int32_t result = c.prompts.Next(&c.block);
  if (result == PROMPT_RESULT_OK) {
    *status = SendNextTokenCodeReply(c.session, c.socket, &c.block);
  } else {
    *c.outcome = result;
    *status = SendCancel(c.session, c.socket);
  }
  Wipe(c.block.szNextCode, sizeof c.block.szNextCode);
  Wipe(c.block.szPasscode, sizeof c.block.szPasscode);
  return *status == QV_OK ? Next::kContinue : Next::kEnd;
}

Next ProcessStoreSessionCertificate(HQVEXTOBJ msg, QVSTATUS* status) {
  AMStoreSessionCert store{};
  *status = errAMReadStoreSessionCert(msg, &store);
  if (*status != QV_OK) return Next::kEnd;
  if (store.Dummy) {
    QV_TRACE(8, 6, kModule, "Placeholder session certificate: nothing stored");
    return Next::kEnd;
  }
  QVSTATUS stored = CMStoreSessionCert(store.Username, store.Domain, store.Certificate);
  errQVNetMsgDestroy(store.Certificate);
  if (stored == QVE_CM_CERT_REPLACED) {
    QVLogEvent(9, stored, QV_SID_NONE, store.Username, 0);
    stored = QV_OK;
  }
  *status = stored;
  return Next::kEnd;
}

}  // namespace

QVSTATUS ProcessUITransactions(QVNetSession* session, int socket, const char* user, char* domain,
                               uint32_t useSoftTokens, int32_t* outcome, bool* granted) {
  QV_TRACE(2, 6, kModule, "Entering ProcessUITransactions");
  if (granted != nullptr) *granted = false;
  char ownDomain[AM_NAME_BUFFER] = {};
  Conversation c(session, socket, domain != nullptr ? domain : ownDomain, outcome);
  c.block.wVersion = 1;
  c.block.bFlags = useSoftTokens ? (PROMPT_FLAG_TOPMOST | PROMPT_FLAG_TIMEOUTS)
                                 : (PROMPT_FLAG_TOPMOST | PROMPT_FLAG_TIMEOUTS |
                                    PROMPT_FLAG_NO_SOFTTOKEN);
  // At most 33 characters, so the block's name always keeps its terminating zero.
  CopyText(c.block.szUsername, sizeof c.block.szUsername, user);

  QVSTATUS status = QV_OK;
  for (;;) {
    HQVEXTOBJ msg = nullptr;
    uint16_t type = 0;
    status = WaitForServerRequest(session, socket, &msg, &type);
    if (status != QV_OK) {
      QV_TRACE(8, 6, kModule, "WaitForServerRequest failed, err=0x%08X", status);
      break;
    }
    Next next = Next::kEnd;
    switch (type) {
      case AM_SESSIONCERTREQ: next = ProcessGetSessionCertificate(c, msg, &status); break;
      case AM_PASSCODEREQ: next = ProcessPasscodeRequest(c, msg, &status); break;
      case AM_NEWPINREQ: next = ProcessNewPinRequest(c, msg, &status); break;
      case AM_NEXTCODEREQ: next = ProcessNextTokenCodeRequest(c, msg, &status); break;
      case AM_STORESESSIONCERT:
        next = ProcessStoreSessionCertificate(msg, &status);
        if (granted != nullptr) *granted = true;
        break;
      case AM_ACCESSDENIED: status = QVS_AM_ACCESS_DENIED; break;
      case AM_AUTHSUCCESS:
        status = QV_OK;
        if (granted != nullptr) *granted = true;
        break;
      default:
        QV_TRACE(8, 6, kModule, "Unexpected request type %u", type);
        status = QVS_AM_PROTOCOL_ERROR;
        break;
    }
    errQVNetMsgDestroy(msg);
    if (next == Next::kEnd) break;
  }

  if (c.uiStarted) c.prompts.Close(&c.block);
  Wipe(&c.block, sizeof c.block);

  if (status != QV_OK && *outcome != PROMPT_RESULT_TIMEOUT) {
    if (status == QVS_AM_ACCESS_DENIED) {
      Tell("Access Denied.");
    } else {
      char text[512];
      QVFormatError(text, sizeof text, "Authentication Failed.\n%s", status);
      Tell(text);
    }
  }
  QV_TRACE(4, 6, kModule, "Leaving ProcessUITransactions, ret=0x%08X", status);
  return status;
}
