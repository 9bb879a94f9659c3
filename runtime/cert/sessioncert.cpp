// Session certificates: issue by the domain controller, verification of the
// chain up to the trusted root.
#include "runtime/cert/sessioncert.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "qvcert.h"
#include "runtime/cert/cm_internal.h"
#include "runtime/cert/dcstore.h"

namespace qv::cert {
namespace {

constexpr char kModule[] = "CMsess";
constexpr char kObjectType[] = "SessionCertificate";
constexpr int64_t kNotBeforeTolerance = 300;
constexpr uint32_t kMaxIndex = 1000;
// AlgorithmIdentifier sha256WithRSAEncryption with NULL parameters.
constexpr uint8_t kSha256WithRsa[] = {0x30, 0x0d, 0x06, 0x09, 0x2a, 0x86, 0x48, 0x86,
                                      0xf7, 0x0d, 0x01, 0x01, 0x0b, 0x05, 0x00};

using Bytes = std::vector<uint8_t>;

void Append(Bytes* out, const uint8_t* p, size_t n) { out->insert(out->end(), p, p + n); }
void Append(Bytes* out, const Bytes& b) { Append(out, b.data(), b.size()); }

// One DER element: tag, definite length, content.
Bytes Tlv(uint8_t tag, const Bytes& content) {
  Bytes out{tag};
  const size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<uint8_t>(n));
  } else {
    uint8_t len[8];
    int k = 0;
    for (size_t v = n; v; v >>= 8) len[k++] = static_cast<uint8_t>(v);
    out.push_back(static_cast<uint8_t>(0x80 | k));
    while (k) out.push_back(len[--k]);
  }
  Append(&out, content);
  return out;
}

template <typename T, typename F>
Bytes Encode(const T* obj, F i2d) {
  Bytes out;
  unsigned char* p = nullptr;
  int n = obj ? i2d(const_cast<T*>(obj), &p) : -1;
  if (n > 0) out.assign(p, p + n);
  OPENSSL_free(p);
  return out;
}

Bytes TimeDer(int64_t t) {
  ASN1_TIME* at = ASN1_TIME_set(nullptr, static_cast<time_t>(t));
  Bytes out = Encode(at, i2d_ASN1_TIME);
  ASN1_TIME_free(at);
  return out;
}

bool ToSeconds(const ASN1_TIME* t, int64_t* out) {
  struct tm tm {};
  if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return false;
  *out = static_cast<int64_t>(timegm(&tm));
  return true;
}

std::string CTimeText(int64_t t) {
  time_t secs = static_cast<time_t>(t);
  char buf[64] = {};
  if (!ctime_r(&secs, buf)) return "?";
  std::string s(buf);
  return s.substr(0, s.find('\n'));
}

// Within validity at `now`, with the not-before tolerance.
bool InValidity(const X509* cert, int64_t now, std::string* from, std::string* to) {
  int64_t nb = 0, na = 0;
  bool parsed = ToSeconds(X509_get0_notBefore(cert), &nb) && ToSeconds(X509_get0_notAfter(cert), &na);
  *from = parsed ? CTimeText(nb) : "?";
  *to = parsed ? CTimeText(na) : "?";
  return parsed && nb <= now + kNotBeforeTolerance && now <= na;
}

bool EqualNoCase(const std::string& a, const char* b) {
  return a.find('\0') == std::string::npos && qv::cert::EqualNoCase(a.c_str(), b);
}

// Signs `tbs` and wraps it into a certificate.
bool SignCertificate(const Bytes& tbs, EVP_PKEY* key, Bytes* der) {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  size_t sigLength = 0;
  Bytes sig;
  bool ok = ctx && EVP_DigestSignInit(ctx, nullptr, EVP_sha256(), nullptr, key) == 1 &&
            EVP_DigestSign(ctx, nullptr, &sigLength, tbs.data(), tbs.size()) == 1;
  if (ok) {
    sig.assign(sigLength + 1, 0);  // leading zero: no unused bits
    ok = EVP_DigestSign(ctx, sig.data() + 1, &sigLength, tbs.data(), tbs.size()) == 1;
    sig.resize(sigLength + 1);
  }
  EVP_MD_CTX_free(ctx);
  if (!ok) return false;
  Bytes body = tbs;
  Append(&body, kSha256WithRsa, sizeof kSha256WithRsa);
  Append(&body, Tlv(0x03, sig));
  *der = Tlv(0x30, body);
  return true;
}

// Random positive 16-byte serial as a DER INTEGER.
bool SerialDer(Bytes* out) {
  uint8_t bytes[16];
  if (CMGenRand(bytes, sizeof bytes) != QV_OK) return false;
  bytes[0] = static_cast<uint8_t>((bytes[0] & 0x7F) | 0x40);
  *out = Tlv(0x02, Bytes(bytes, bytes + sizeof bytes));
  return true;
}

// The to-be-signed part of a session certificate.
bool BuildTbs(const X509* desktop, const X509* dc, const std::string& uid, int64_t now, uint32_t lifetime,
              Bytes* tbs) {
  Bytes serial;
  Bytes issuer = Encode(X509_get_subject_name(dc), i2d_X509_NAME);
  Bytes subject = Encode(X509_get_subject_name(desktop), i2d_X509_NAME);
  Bytes spki = Encode(X509_get_X509_PUBKEY(desktop), i2d_X509_PUBKEY);
  Bytes from = TimeDer(now), to = TimeDer(now + lifetime);
  if (!SerialDer(&serial) || issuer.empty() || subject.empty() || spki.empty() || from.empty() || to.empty())
    return false;
  Bytes validity = from;
  Append(&validity, to);
  Bytes uidBits{0x00};  // no unused bits
  Append(&uidBits, reinterpret_cast<const uint8_t*>(uid.c_str()), uid.size() + 1);
  Bytes body = {0xa0, 0x03, 0x02, 0x01, 0x02};  // [0] version 2 (v3)
  Append(&body, serial);
  Append(&body, kSha256WithRsa, sizeof kSha256WithRsa);
  Append(&body, issuer);
  Append(&body, Tlv(0x30, validity));
  Append(&body, subject);
  Append(&body, spki);
  Append(&body, Tlv(0x82, uidBits));  // [2] IMPLICIT subjectUniqueID
  *tbs = Tlv(0x30, body);
  return true;
}

}  // namespace
}  // namespace qv::cert

using namespace qv::cert;

extern "C" {

QVSTATUS GetCredsfromExtObj(HQVEXTOBJ obj, uint32_t n, X509** cert, EVP_PKEY** key) {
  CM_ENTER(kModule, "GetCredsfromExtObj");
  if (cert) *cert = nullptr;
  if (key) *key = nullptr;
  if (n >= kMaxIndex) {
    CM_LEAVE(kModule, "GetCredsfromExtObj", QVS_CM_BAD_INDEX);
    return QVS_CM_BAD_INDEX;
  }
  char name[16];
  std::snprintf(name, sizeof name, "cert%u", n);
  size_t size = 0;
  QVSTATUS status = errGetAttr(obj, name, QV_ATTR_BASE64, &size, nullptr);
  Bytes der;
  X509* x = nullptr;
  if (status == QV_OK) {
    der.assign(size, 0);
    status = errGetAttr(obj, name, QV_ATTR_BASE64, &size, der.data());
  }
  if (status == QV_OK && !(x = ParseCert(der.data(), der.size()))) {
    QVLogEvent(kEventCategory, QVS_CM_CERT_PARSE, QV_SID_NONE, nullptr, FacilityError());
    status = QVS_CM_BAD_CERT;
  }
  if (status == QV_OK && key && !(*key = X509_get_pubkey(x))) {
    QVLogEvent(kEventCategory, QVS_CM_PUBLIC_KEY_SET, QV_SID_NONE, nullptr, FacilityError());
    status = QVS_CM_CRYPTO;
  }
  if (status == QV_OK && cert) {
    *cert = x;
    x = nullptr;
  }
  X509_free(x);
  CM_LEAVE(kModule, "GetCredsfromExtObj", status);
  return status;
}

QVSTATUS CMCreateSessionCert(const char* user, const char* domain, const char* workstation,
                             const uint8_t* desktopCert, uint32_t desktopCertLength, HQVEXTOBJ* obj) {
  CM_ENTER(kModule, "CMCreateSessionCert");
  if (obj) *obj = nullptr;
  const uint32_t lifetime = CMGetSessionCertLifetime();
  if (lifetime == 0) {
    CM_LEAVE(kModule, "CMCreateSessionCert", QVS_CM_SESSION_CERTS_OFF);
    return QVS_CM_SESSION_CERTS_OFF;
  }
  if (!user || !domain || !workstation || !obj) {
    CM_LEAVE(kModule, "CMCreateSessionCert", QVS_CM_NULL_POINTER);
    return QVS_CM_NULL_POINTER;
  }
  QVSTATUS status = QV_OK;
  EVP_PKEY* dcKey = nullptr;
  X509* dc = nullptr;
  std::shared_ptr<const DcRecord> record;
  Bytes tbs, der;
  X509* desktop = ParseCert(desktopCert, desktopCertLength);
  if (!desktop || !X509_get_X509_PUBKEY(desktop)) {
    QVLogEvent(kEventCategory, QVS_CM_DESKTOP_CERT_PARSE, QV_SID_NONE, nullptr, FacilityError());
    status = QVS_CM_BAD_CERT;
  } else if ((status = CMGetDCPrivateKey(&dcKey)) != QV_OK) {
    // returned as it is
  } else {
    record = CurrentDcRecord();
    dc = record ? ParseCert(record->cert.data(), record->cert.size()) : nullptr;
    const std::string uid = std::string(user) + "\\" + workstation + "\\" + domain;
    if (!dc || !BuildTbs(desktop, dc, uid, Now(), lifetime, &tbs) || !SignCertificate(tbs, dcKey, &der)) {
      QVLogEvent(kEventCategory, QVS_CM_SESSION_CERT_BUILD, QV_SID_NONE, nullptr, FacilityError());
      status = QVS_CM_BAD_CERT;
    }
  }
  HQVEXTOBJ out = nullptr;
  if (status == QV_OK && (status = errQVExtObjCreateObj(&out, kObjectType)) == QV_OK &&
      ((status = errQVExtObjAddBinary(out, "cert1", der.data(), der.size())) != QV_OK ||
       (status = errQVExtObjAddBinary(out, "cert2", record->cert.data(), record->cert.size())) != QV_OK)) {
    errQVExtObjDestroyObj(out);
    out = nullptr;
  }
  if (status == QV_OK) *obj = out;
  X509_free(dc);
  X509_free(desktop);
  EVP_PKEY_free(dcKey);
  CM_LEAVE(kModule, "CMCreateSessionCert", status);
  return status;
}

QVSTATUS CMVerifySessionCert(const char* user, const char* domain, const char* workstation, HQVEXTOBJ obj) {
  CM_ENTER(kModule, "CMVerifySessionCert");
  X509* current = nullptr;
  QVSTATUS status = GetCredsfromExtObj(obj, 1, &current, nullptr);
  if (status == QV_OK) {
    // "user\workstation\domain" and its zero; the domain is all after the second backslash.
    const ASN1_BIT_STRING* suid = nullptr;
    X509_get0_uids(current, nullptr, &suid);
    std::string text;
    if (suid) text.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(suid)),
                          static_cast<size_t>(ASN1_STRING_length(suid)));
    text = text.substr(0, text.find('\0'));
    std::string tokens[3];
    bool present[3] = {true, false, false};
    const size_t first = text.find('\\');
    tokens[0] = text.substr(0, first);
    if (first != std::string::npos) {
      const size_t second = text.find('\\', first + 1);
      present[1] = true;
      tokens[1] = text.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
      if (second != std::string::npos) {
        present[2] = true;
        tokens[2] = text.substr(second + 1);
      }
    }
    const bool userOk = present[0] && EqualNoCase(tokens[0], user);
    const bool wsOk = present[1] && EqualNoCase(tokens[1], workstation);
    const bool domainOk = present[2] && EqualNoCase(tokens[2], domain);
    if (!userOk || !wsOk || !domainOk) CM_TRACE(kTraceFlow, kModule, "SessionCert validation failed");
    if (!userOk) CM_TRACE(kTraceFlow, kModule, "User mismatch: Cert[%s] vs. [%s]", tokens[0].c_str(), user ? user : "");
    if (!wsOk)
      CM_TRACE(kTraceFlow, kModule, "Workstation mismatch: Cert[%s] vs. [%s]", tokens[1].c_str(),
               workstation ? workstation : "");
    if (!domainOk)
      CM_TRACE(kTraceFlow, kModule, "Domain mismatch: Cert[%s] vs. [%s]", tokens[2].c_str(), domain ? domain : "");
    status = !domainOk ? QVS_CM_DOMAIN_MISMATCH
             : !wsOk   ? QVS_CM_WORKSTATION_MISMATCH
             : !userOk ? QVS_CM_USER_MISMATCH
                       : QV_OK;
  }
  const int64_t now = Now();
  for (uint32_t n = 2; status == QV_OK; ++n) {
    X509* next = nullptr;
    EVP_PKEY* nextKey = nullptr;
    QVSTATUS s = GetCredsfromExtObj(obj, n, n > 2 ? nullptr : &next, n > 2 ? nullptr : &nextKey);
    if (s == QVS_EXTOBJ_NO_ATTRIBUTE) break;
    if (n > 2) {
      status = QVS_CM_TOO_MANY_CERTS;
      break;
    }
    if (s != QV_OK) {
      status = s;
      break;
    }
    std::string from, to;
    if (!NamesAreEqual(X509_get_issuer_name(current), X509_get_subject_name(next)) ||
        X509_verify(current, nextKey) != 1) {
      FacilityError();
      status = QVS_CM_ISSUER_MISMATCH;
    } else if (!InValidity(current, now, &from, &to)) {
      CM_TRACE(kTraceFlow, kModule, "Invalid Subject Cert validity time: Cert: %s to %s, now: %s", from.c_str(),
               to.c_str(), CTimeText(now).c_str());
      status = QVS_CM_CERT_EXPIRED;
    } else if (!InValidity(next, now, &from, &to)) {
      CM_TRACE(kTraceFlow, kModule, "Invalid Issuer Cert validity time: Cert: %s to %s, now: %s", from.c_str(),
               to.c_str(), CTimeText(now).c_str());
      status = QVS_CM_ISSUER_EXPIRED;
    }
    EVP_PKEY_free(nextKey);
    X509_free(current);
    current = next;
  }
  if (status == QV_OK && !CertisTrusted(current)) status = QVS_CM_NOT_TRUSTED;
  X509_free(current);
  CM_LEAVE(kModule, "CMVerifySessionCert", status);
  return status;
}

}  // extern "C"
