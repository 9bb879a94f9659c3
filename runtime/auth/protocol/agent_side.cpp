// The agent's half of the challenge: ask the workstation for a session
// certificate, otherwise run the passcode loop against the authentication
// server, then issue a session certificate or deny access.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "authcore.h"
#include "platform/eventtext/eventtext.h"
#include "qvcert.h"
#include "qvprotocol.h"
#include "runtime/auth/protocol/roles.h"
#include "runtime/auth/settings.h"
#include "runtime/session/session_manager.h"

namespace qv::protocol {
void SetServerTimeOffset(int32_t offset);
}

namespace {

using qv::protocol::CopyText;

constexpr char kModule[] = "AMagent";
constexpr int kMaxFailedAttempts = 3;

void Wipe(void* p, size_t n) {
  volatile unsigned char* b = static_cast<volatile unsigned char*>(p);
  while (n--) *b++ = 0;
}

void Plain(QVSTATUS code, const char* text, uint32_t number) {
  QVLogEvent(9, code, QV_SID_NONE, text, number);
}

void Controlled(QVSTATUS code, const char* user) {
  QVLogEventControl(2, 9, code, QV_SID_NONE, user, 0);
}

void FailedAttempt(const char* user, int count) {
  Plain(QVE_AM_FAILED_ATTEMPT, user, static_cast<uint32_t>(count));
}

// Reads the reply's type and checks it is `expected`; a cancel gives
// QVS_AM_USER_CANCELLED.
QVSTATUS ReplyType(HQVEXTOBJ msg, uint16_t expected) {
  uint16_t type = 0;
  if (errQVNetMsgGetU16(msg, "Type", &type) != QV_OK) return QVS_AM_PROTOCOL_ERROR;
  if (type == expected) return QV_OK;
  return type == AM_CANCEL ? QVS_AM_USER_CANCELLED : QVS_AM_PROTOCOL_ERROR;
}

QVSTATUS ProcessPasscodeResponse(HQVEXTOBJ msg, char* user, char* domain, KEL_HANDLE handle,
                                 int32_t* status) {
  QVSTATUS result = ReplyType(msg, AM_PASSCODE);
  if (result != QV_OK) return result;
  AMPasscode reply{};
  result = errAMReadPasscode(msg, &reply);
  if (result != QV_OK) {
    Wipe(&reply, sizeof reply);
    return result;
  }
  CopyText(user, AM_NAME_BUFFER, reply.Username);
  CopyText(domain, AM_NAME_BUFFER, reply.Domain);

  uint32_t sendDomain = 0;
  if (!QVAgentGetSetting("SendDomainName", &sendDomain, sizeof sendDomain)) sendDomain = 0;
  char name[33];
  if (sendDomain != 0) {
    char joined[AM_NAME_BUFFER * 2 + 2];
    std::snprintf(joined, sizeof joined, "%s\\%s", domain, user);
    CopyText(name, sizeof name, joined);
  } else {
    CopyText(name, sizeof name, user);
  }
  const kel::ClientApi* api = qv::protocol::AuthClient();
  *status = api != nullptr ? api->QV_Check(handle, reply.Passcode, name) : ACM_INVALID_HANDLE;
  Wipe(&reply, sizeof reply);
  return QV_OK;
}

QVSTATUS ProcessNewPinResponse(HQVEXTOBJ msg, KEL_HANDLE handle, int32_t* status) {
  const kel::ClientApi* api = qv::protocol::AuthClient();
  auto pin = [&](const char* text) {
    *status = api != nullptr ? api->QV_Pin(handle, text) : ACM_INVALID_HANDLE;
  };
  QVSTATUS result = ReplyType(msg, AM_NEWPIN);
  if (result != QV_OK) {
    pin("");  // ends the server's new-PIN mode
    return result;
  }
  char newPin[AM_ANSWER_BUFFER] = {};
  result = errAMReadNewPin(msg, newPin);
  if (result != QV_OK) {
    pin("");
    return result;
  }
  pin(newPin);
  Wipe(newPin, sizeof newPin);
  return QV_OK;
}

QVSTATUS ProcessNextTokenCodeResponse(HQVEXTOBJ msg, KEL_HANDLE handle, int32_t* status) {
  QVSTATUS result = ReplyType(msg, AM_NEXTCODE);
  if (result != QV_OK) return result;
  char code[AM_ANSWER_BUFFER] = {};
  result = errAMReadNextCode(msg, code);
  if (result != QV_OK) return result;
  const kel::ClientApi* api = qv::protocol::AuthClient();
  *status = api != nullptr ? api->QV_Next(handle, code) : ACM_INVALID_HANDLE;
  Wipe(code, sizeof code);
  return QV_OK;
}

}  // namespace

QVSTATUS PerformPasscodeTransaction(QVNetSession* session, int socket, char* user, char* domain,
                                    KEL_HANDLE handle, int32_t* status) {
  QVSTATUS result = SendPasscodeRequest(session, socket, user, domain, *status);
  if (result != QV_OK) return result;
  HQVEXTOBJ reply = nullptr;
  result = WaitForDesktopResponse(session, socket, &reply);
  if (result != QV_OK) return result;
  result = ProcessPasscodeResponse(reply, user, domain, handle, status);
  errQVNetMsgDestroy(reply);
  return result;
}

QVSTATUS PerformNewPinTransaction(QVNetSession* session, int socket, KEL_HANDLE handle,
                                  int32_t* status) {
  const kel::ClientApi* api = qv::protocol::AuthClient();
  KEL_PIN_PARAMS rules{};
  if (api != nullptr) (void)api->KelGetPinParams(handle, &rules);
  QVSTATUS result = SendNewPinRequest(session, socket, &rules);
  Wipe(&rules, sizeof rules);
  if (result != QV_OK) return result;
  HQVEXTOBJ reply = nullptr;
  result = WaitForDesktopResponse(session, socket, &reply);
  if (result != QV_OK) return result;
  result = ProcessNewPinResponse(reply, handle, status);
  errQVNetMsgDestroy(reply);
  return result;
}

QVSTATUS PerformNextTokenCodeTransaction(QVNetSession* session, int socket, KEL_HANDLE handle,
                                         int32_t* status) {
  QVSTATUS result = SendNextTokenCodeRequest(session, socket);
  if (result != QV_OK) return result;
  HQVEXTOBJ reply = nullptr;
  result = WaitForDesktopResponse(session, socket, &reply);
  if (result != QV_OK) return result;
  result = ProcessNextTokenCodeResponse(reply, handle, status);
  errQVNetMsgDestroy(reply);
  return result;
}

QVSTATUS PerformCertificateTransaction(QVNetSession* session, int socket, const char* user,
                                       const char* domain, const char* workstation, bool* valid) {
  QV_TRACE(2, 6, kModule, "Entering PerformCertificateTransaction");
  *valid = false;
  QVSTATUS status = SendSessionCertificateRequest(session, socket, user, domain);
  if (status != QV_OK) {
    QV_TRACE(8, 6, kModule, "SendSessionCertificateRequest failed, err=%d", static_cast<int>(status));
    return status;
  }
  HQVEXTOBJ reply = nullptr;
  status = WaitForDesktopResponse(session, socket, &reply);
  if (status != QV_OK) {
    QV_TRACE(8, 6, kModule, "WaitForDesktopResponse failed, err=%d", static_cast<int>(status));
    return status;
  }
  uint16_t type = 0;
  if (errQVNetMsgGetU16(reply, "Type", &type) != QV_OK || type != AM_SESSIONCERT) {
    QV_TRACE(8, 6, kModule, "Protocol error, AM_SESSIONCERT expected");
    errQVNetMsgDestroy(reply);
    return QVS_AM_PROTOCOL_ERROR;
  }
  const char* names[3] = {user, domain, workstation};
  HQVEXTOBJ cert = nullptr;
  status = errQVNetMsgGetObjField(reply, AM_SESSION_CERT_TYPE, &cert);
  errQVNetMsgDestroy(reply);
  if (status == QVS_EXTOBJ_NO_ATTRIBUTE) {
    QVLogEventControlEx(1, 9, QVE_AM_NO_SESSION_CERT, QV_SID_NONE, 3, names);
    return QV_OK;
  }
  if (status != QV_OK) {
    QV_TRACE(8, 6, kModule, "errQVNetMsgGetObjField failed, err=%d", static_cast<int>(status));
    return status;
  }
  QVSTATUS verified = CMVerifySessionCert(user, domain, workstation, cert);
  errQVNetMsgDestroy(cert);
  if (verified == QV_OK) {
    *valid = true;
  } else {
    Plain(verified, nullptr, 0);
    QVILogEventEx(4, 9, QVS_AM_SESSION_CERT_REJECTED, QV_SID_NONE, 3, names);
  }
  QV_TRACE(4, 6, kModule, "Leaving PerformCertificateTransaction, ret=0");
  return QV_OK;
}

QVSTATUS PerformAuthentication(QVNetSession* session, int socket, char* user, char* domain,
                               bool* authenticated) {
  QV_TRACE(2, 6, kModule, "Entering PerformAuthentication");
  *authenticated = false;
  const kel::ClientApi* api = qv::protocol::AuthClient();
  KEL_HANDLE handle = 0;
  int acm = api != nullptr ? api->QV_Init(&handle) : ACM_NO_RESOURCES;
  if (acm != ACM_OK) {
    QV_TRACE(8, 6, kModule, "QV_Init failed, acmRet=%d", acm);
    return QVS_AM_AUTHCLIENT_FAILED;
  }
  if (qv::protocol::ServerTimeOffset() == 0) {
    uint32_t serverTime = 0;
    if (api->KelGetTime(handle, &serverTime) == ACM_OK) {
      int64_t offset = int64_t{serverTime} - static_cast<int64_t>(time(nullptr)) - AM_KELTIME_OFFSET;
      qv::protocol::SetServerTimeOffset(static_cast<int32_t>(offset));
    }
  }

  int32_t status = ACM_OK;
  int failed = 0;
  while (failed < kMaxFailedAttempts && !*authenticated) {
    QVSTATUS result = PerformPasscodeTransaction(session, socket, user, domain, handle, &status);
    if (result != QV_OK) {
      QV_TRACE(8, 6, kModule, "PerformPasscodeTransaction failed, err=%d", static_cast<int>(result));
      break;
    }
    bool leave = false;
    switch (status) {
      case ACM_OK:
        *authenticated = true;
        break;
      case ACM_ACCESS_DENIED:
      case ACM_SYNTAX_ERR_3:
        FailedAttempt(user, ++failed);
        break;
      case ACM_NEXT_CODE_REQUIRED:
        result = PerformNextTokenCodeTransaction(session, socket, handle, &status);
        if (result != QV_OK) {
          leave = true;
        } else if (status == ACM_OK) {
          Controlled(QVE_AM_NEXT_CODE_ACCEPTED, user);
          *authenticated = true;
        } else {
          Plain(QVS_AM_NEXT_CODE_REJECTED, user, 0);
          FailedAttempt(user, ++failed);
        }
        break;
      case ACM_NEW_PIN_REQUIRED:
        result = PerformNewPinTransaction(session, socket, handle, &status);
        if (result != QV_OK) {
          leave = true;
        } else if (status == ACM_NEW_PIN_ACCEPTED) {
          Controlled(QVE_AM_NEW_PIN_ACCEPTED, user);
        } else if (status == ACM_NEW_PIN_REJECTED) {
          Plain(QVS_AM_NEW_PIN_REJECTED, user, 0);
        } else {
          Controlled(QVE_AM_NEW_PIN_OTHER, user);
          status = ACM_NEW_PIN_REJECTED;
        }
        break;
      case ACM_INVALID_SERVER:
        Plain(QVS_AM_INVALID_SERVER, user, 0);
        FailedAttempt(user, ++failed);
        break;
      default:
        Plain(QVE_AM_UNEXPECTED_CHECK, user, static_cast<uint32_t>(status));
        FailedAttempt(user, failed);
        break;
    }
    if (leave) {
      if (result == QVS_AM_USER_CANCELLED) {
        Controlled(QVE_AM_PROMPT_CANCELLED, user);
      } else {
        Plain(QVE_AM_TRANSACTION_FAILED, user, result);
      }
      break;
    }
  }

  int closed = api->QV_Close(handle);
  if (closed != ACM_OK) QV_TRACE(8, 6, kModule, "QV_Close failed, acmRet=%d", closed);
  QV_TRACE(4, 6, kModule, "Leaving PerformAuthentication, ret=0");
  return QV_OK;
}

QVSTATUS RunChallenge(QVNetSession* session, int socket, const uint8_t* peerCert,
                      uint32_t peerCertLength, char* user, char* domain, const char* workstation) {
  bool valid = false;
  QVSTATUS status = PerformCertificateTransaction(session, socket, user, domain, workstation, &valid);
  if (status != QV_OK) {
    Plain(status, nullptr, 0);
    return status;
  }
  if (valid) {
    QVSTATUS sent = SendAuthenticationSuccessful(session, socket);
    if (sent != QV_OK) QV_TRACE(8, 6, kModule, "SendAuthenticationSuccessful failed, err=%d", static_cast<int>(sent));
    return QV_OK;
  }
  bool authenticated = false;
  status = PerformAuthentication(session, socket, user, domain, &authenticated);
  QVSTATUS result = QV_OK;
  QVSTATUS sent = QV_OK;
  if (status != QV_OK) {
    Plain(status, nullptr, 0);
    sent = SendAccessDenied(session, socket, static_cast<int32_t>(status));
    result = QVS_AM_ACCESS_DENIED;
  } else if (authenticated) {
    sent = SendSessionCertificate(session, socket, peerCert, peerCertLength, user, domain,
                                  workstation);
  } else {
    sent = SendAccessDenied(session, socket, 0);
    result = QVS_AM_ACCESS_DENIED;
  }
  if (sent != QV_OK) QV_TRACE(8, 6, kModule, "Final message failed, err=%d", static_cast<int>(sent));
  return result;
}

namespace {

// Opens a session to the workstation's client port, runs `conversation` on it
// and closes it; a session that cannot be opened is logged and its status
// returned.
template <typename Conversation>
QVSTATUS OnWorkstationSession(const char* workstation, Conversation conversation) {
  SMPeerCert peer{};
  int socket = -1;
  SMSession* session = nullptr;
  QVSTATUS status = SMClientOpenSession(workstation, KelClientPort, 0, 0, &peer, &socket, &session);
  if (status != QV_OK) {
    Plain(status, nullptr, 0);
  } else {
    status = conversation(session, socket, peer);
    SMDeleteContext(socket, session);
  }
  SMFreePeerCert(&peer);
  return status;
}

}  // namespace

extern "C" QVSTATUS AMSubauthAuthenticateUser(char* user, char* domain, const char* workstation) {
  QV_TRACE(2, 6, kModule, "Entering AMSubauthAuthenticateUser");
  QVSTATUS status = OnWorkstationSession(workstation, [&](SMSession* session, int socket,
                                                          const SMPeerCert& peer) {
    return RunChallenge(session, socket, peer.pbCert, peer.dwCertLen, user, domain, workstation);
  });
  QV_TRACE(4, 6, kModule, "Leaving AMSubauthAuthenticateUser, ret=0x%08X", status);
  return status;
}

extern "C" QVSTATUS AMSubauthTest(const char* workstation) {
  QV_TRACE(2, 6, kModule, "Entering AMSubauthTest");
  QVSTATUS status =
      OnWorkstationSession(workstation, [](SMSession* session, int socket, const SMPeerCert&) {
        return SendAuthenticationSuccessful(session, socket);
      });
  QV_TRACE(4, 6, kModule, "Leaving AMSubauthTest, ret=0x%08X", status);
  return status;
}
