// Readable texts of certificates: subject names and the information record.
#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "qvcert.h"
#include "runtime/cert/certtext.h"
#include "runtime/cert/cm_internal.h"

namespace qv::cert {
namespace {

constexpr char kModule[] = "CMutils";

const char* Label(int nid) {
  switch (nid) {
    case NID_serialNumber: return "Serial Number";
    case NID_countryName: return "Country";
    case NID_stateOrProvinceName: return "State";
    case NID_localityName: return "Locality";
    case NID_organizationName: return "Organization";
    case NID_organizationalUnitName: return "Unit";
    case NID_commonName: return "Common Name";
    case NID_title: return "Title";
    case NID_streetAddress: return "Street Address";
    case NID_postalCode: return "Zip Code";
    case NID_pkcs9_emailAddress: return "Email Address";
    default: return "Unknown Field";
  }
}

char* Dup(const std::string& s) {
  auto* p = static_cast<char*>(std::malloc(s.size() + 1));
  if (p) std::memcpy(p, s.c_str(), s.size() + 1);
  return p;
}

std::string TimeText(const ASN1_TIME* t) {
  struct tm tm {};
  if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return std::string();
  time_t secs = timegm(&tm);
  char buf[64] = {};
  if (!ctime_r(&secs, buf)) return std::string();
  std::string s(buf);
  s = s.substr(0, s.find('\n'));
  if (s.size() > 24) s.resize(24);
  return s;
}

}  // namespace

std::string NameText(const X509_NAME* name, const char* separator) {
  std::string out;
  const int count = name ? X509_NAME_entry_count(name) : 0;
  for (int i = 0; i < count; ++i) {
    const X509_NAME_ENTRY* e = X509_NAME_get_entry(name, i);
    const int nid = OBJ_obj2nid(X509_NAME_ENTRY_get_object(e));
    unsigned char* utf8 = nullptr;
    int n = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(e));
    std::string value = n > 0 ? std::string(reinterpret_cast<char*>(utf8), static_cast<size_t>(n)) : std::string();
    OPENSSL_free(utf8);
    value = value.substr(0, value.find('\0'));
    if (i) out += separator;
    out += Label(nid);
    out += '=';
    out += value;
  }
  return out;
}

}  // namespace qv::cert

using namespace qv::cert;

extern "C" {

QVSTATUS CMGetCertSubjectName(const uint8_t* cert, uint32_t length, char** subject) {
  CM_ENTER(kModule, "CMGetCertSubjectName");
  QVSTATUS status = QV_OK;
  if (subject) *subject = nullptr;
  X509* x = subject ? ParseCert(cert, length) : nullptr;
  if (!x) {
    status = QVS_CM_BAD_CERT;
  } else if (!(*subject = Dup(NameText(X509_get_subject_name(x), ";")))) {
    status = QVS_CM_BAD_CERT;
  }
  X509_free(x);
  CM_LEAVE(kModule, "CMGetCertSubjectName", status);
  return status;
}

QVSTATUS CMDestroySubjectName(char* subject) {
  std::free(subject);
  return QV_OK;
}

QVSTATUS CMGetCertInfo(const uint8_t* cert, uint32_t length, CMCertInfo** info) {
  CM_ENTER(kModule, "CMGetCertInfo");
  QVSTATUS status = QV_OK;
  if (info) *info = nullptr;
  X509* x = info ? ParseCert(cert, length) : nullptr;
  CMCertInfo* rec = nullptr;
  if (!x || !(rec = static_cast<CMCertInfo*>(std::calloc(1, sizeof(CMCertInfo))))) {
    status = QVS_CM_BAD_CERT;
  } else {
    const ASN1_INTEGER* serial = X509_get0_serialNumber(x);
    const int serialLength = serial ? ASN1_STRING_length(serial) : 0;
    const long version = X509_get_version(x);
    rec->subject = Dup(NameText(X509_get_subject_name(x), ", "));
    rec->issuer = Dup(NameText(X509_get_issuer_name(x), ", "));
    rec->notBefore = Dup(TimeText(X509_get0_notBefore(x)));
    rec->notAfter = Dup(TimeText(X509_get0_notAfter(x)));
    rec->serial = static_cast<char*>(std::malloc(static_cast<size_t>(serialLength) + 1));
    if (rec->serial) {
      if (serialLength) std::memcpy(rec->serial, ASN1_STRING_get0_data(serial), static_cast<size_t>(serialLength));
      rec->serial[serialLength] = '\0';
      rec->serialLength = static_cast<uint32_t>(serialLength);
    }
    rec->version = Dup(version == 0 ? "X.509 v1" : version == 1 ? "X.509 v2" : version == 2 ? "X.509 v3" : "unknown");
    if (!rec->subject || !rec->issuer || !rec->notBefore || !rec->notAfter || !rec->serial || !rec->version) {
      CMDestroyCertInfo(rec);
      rec = nullptr;
      status = QVS_CM_BAD_CERT;
    }
  }
  X509_free(x);
  if (info) *info = rec;
  CM_LEAVE(kModule, "CMGetCertInfo", status);
  return status;
}

QVSTATUS CMDestroyCertInfo(CMCertInfo* info) {
  if (!info) return QVS_CM_NULL_POINTER;
  std::free(info->subject);
  std::free(info->issuer);
  std::free(info->notBefore);
  std::free(info->notAfter);
  std::free(info->serial);
  std::free(info->version);
  std::free(info);
  return QV_OK;
}

}  // extern "C"
