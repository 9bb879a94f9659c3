#include "runtime/cert/issue.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "qvcert.h"

namespace qv::cert {
namespace {

std::vector<uint8_t> ReqDer(const X509_REQ* req) {
  std::vector<uint8_t> out;
  int n = i2d_X509_REQ(req, nullptr);
  if (n <= 0) return out;
  out.resize(static_cast<size_t>(n));
  unsigned char* p = out.data();
  if (i2d_X509_REQ(req, &p) != n) out.clear();
  return out;
}

bool AddExtension(X509* cert, X509V3_CTX* ctx, int nid, const char* value) {
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, ctx, nid, value);
  bool ok = ext && X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return ok;
}

}  // namespace

EVP_PKEY* GenerateRsaKey(int bits) {
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
  EVP_PKEY* key = nullptr;
  BIGNUM* e = BN_new();
  if (!ctx || !e || BN_set_word(e, RSA_F4) != 1 || EVP_PKEY_keygen_init(ctx) != 1 ||
      EVP_PKEY_CTX_set_rsa_keygen_bits(ctx, bits) != 1 ||
      EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx, e) != 1 || EVP_PKEY_keygen(ctx, &key) != 1) {
    EVP_PKEY_free(key);
    key = nullptr;
  }
  BN_free(e);
  EVP_PKEY_CTX_free(ctx);
  return key;
}

X509_NAME* MakeName(const std::vector<std::pair<std::string, std::string>>& items) {
  X509_NAME* name = X509_NAME_new();
  for (const auto& [field, value] : items) {
    if (!name) break;
    if (OBJ_txt2nid(field.c_str()) == NID_undef ||
        X509_NAME_add_entry_by_txt(name, field.c_str(), MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(value.c_str()),
                                   static_cast<int>(value.size()), -1, 0) != 1) {
      X509_NAME_free(name);
      name = nullptr;
    }
  }
  return name;
}

X509_NAME* ParseNameText(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> items;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(",/", start);
    if (end == std::string::npos) end = text.size();
    std::string item = text.substr(start, end - start);
    start = end + 1;
    if (item.empty()) continue;
    size_t eq = item.find('=');
    if (eq == std::string::npos || eq == 0) return nullptr;
    auto trim = [](std::string s) {
      size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
      return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
    };
    items.emplace_back(trim(item.substr(0, eq)), trim(item.substr(eq + 1)));
  }
  return items.empty() ? nullptr : MakeName(items);
}

bool SetRandomSerial(X509* cert) {
  uint8_t bytes[16];
  if (CMGenRand(bytes, sizeof bytes) != QV_OK) return false;
  bytes[0] = static_cast<uint8_t>((bytes[0] & 0x7F) | 0x40);
  BIGNUM* bn = BN_bin2bn(bytes, sizeof bytes, nullptr);
  bool ok = bn && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert)) != nullptr;
  BN_free(bn);
  return ok;
}

QVSTATUS IssueCert(const X509_NAME* subject, EVP_PKEY* publicKey, const X509* issuer,
                   EVP_PKEY* issuerKey, const IssueOptions& options, std::vector<uint8_t>* der) {
  der->clear();
  X509* cert = X509_new();
  bool ok = cert && subject && publicKey && issuerKey && X509_set_version(cert, 2) == 1 &&
            SetRandomSerial(cert) && X509_set_subject_name(cert, subject) == 1 &&
            X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : subject) == 1 &&
            ASN1_TIME_set(X509_getm_notBefore(cert), static_cast<time_t>(options.notBefore)) &&
            ASN1_TIME_set(X509_getm_notAfter(cert), static_cast<time_t>(options.notAfter)) &&
            X509_set_pubkey(cert, publicKey) == 1;
  if (ok && options.isCa) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer ? const_cast<X509*>(issuer) : cert, cert, nullptr, nullptr, 0);
    ok = AddExtension(cert, &ctx, NID_basic_constraints, "critical,CA:TRUE") &&
         AddExtension(cert, &ctx, NID_key_usage, "critical,keyCertSign,cRLSign,digitalSignature") &&
         AddExtension(cert, &ctx, NID_subject_key_identifier, "hash");
  }
  if (ok) ok = X509_sign(cert, issuerKey, EVP_sha256()) > 0;
  if (ok) *der = CertDer(cert);
  X509_free(cert);
  if (!ok || der->empty()) {
    FacilityError();
    return QVS_CM_BAD_CERT;
  }
  return QV_OK;
}

QVSTATUS MakeRequest(EVP_PKEY* key, const X509_NAME* name, std::vector<uint8_t>* der) {
  der->clear();
  X509_REQ* req = X509_REQ_new();
  bool ok = req && key && name && X509_REQ_set_version(req, 0) == 1 &&
            X509_REQ_set_subject_name(req, name) == 1 && X509_REQ_set_pubkey(req, key) == 1 &&
            X509_REQ_sign(req, key, EVP_sha256()) > 0;
  if (ok) *der = ReqDer(req);
  X509_REQ_free(req);
  return ok && !der->empty() ? QV_OK : QVS_CM_BAD_CERT;
}

QVSTATUS IssueFromRequest(const uint8_t* request, size_t length, const X509* issuer,
                          EVP_PKEY* issuerKey, const IssueOptions& options,
                          std::vector<uint8_t>* der) {
  der->clear();
  const unsigned char* p = request;
  X509_REQ* req = request ? d2i_X509_REQ(nullptr, &p, static_cast<long>(length)) : nullptr;
  EVP_PKEY* pub = req ? X509_REQ_get0_pubkey(req) : nullptr;
  QVSTATUS status = QVS_CM_BAD_CERT;
  if (pub && p == request + length && X509_REQ_verify(req, pub) == 1)
    status = IssueCert(X509_REQ_get_subject_name(req), pub, issuer, issuerKey, options, der);
  if (status != QV_OK) FacilityError();
  X509_REQ_free(req);
  return status;
}

QVSTATUS VerifyWithCaCert(const X509* cert, const X509* caCert) {
  EVP_PKEY* key = caCert ? X509_get0_pubkey(caCert) : nullptr;
  if (!cert || !key || X509_verify(const_cast<X509*>(cert), key) != 1) {
    FacilityError();
    return QVS_CM_ISSUER_MISMATCH;
  }
  return QV_OK;
}

}  // namespace qv::cert
