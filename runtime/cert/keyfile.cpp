// Key files: tagged records, and private keys under a pass phrase
// (pbeWithSHA1AndDES-CBC, iteration count 5, fixed salt).
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>

#include "qvcert.h"
#include "runtime/cert/cm_internal.h"

namespace qv::cert {
namespace {

constexpr char kModule[] = "CMkeyfile";
constexpr int kIterations = 5;
// Shared with every writer of key files (the qvcert tool links this unit).
constexpr uint8_t kSalt[8] = {0x7d, 0x2a, 0xc4, 0x19, 0x5e, 0xb0, 0x63, 0x8f};
constexpr int kEncrypt = 1;
constexpr int kDecrypt = 2;

// Key and IV of DES-CBC from the password: SHA-1 applied kIterations times
// over password || salt; first 8 bytes key, next 8 IV.
bool DeriveKeyIv(const uint8_t* password, uint32_t passwordLength, uint8_t keyIv[16]) {
  uint8_t digest[SHA_DIGEST_LENGTH];
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  bool ok = ctx && EVP_DigestInit_ex(ctx, EVP_sha1(), nullptr) == 1 &&
            EVP_DigestUpdate(ctx, password, passwordLength) == 1 &&
            EVP_DigestUpdate(ctx, kSalt, sizeof kSalt) == 1 &&
            EVP_DigestFinal_ex(ctx, digest, nullptr) == 1;
  for (int i = 1; ok && i < kIterations; ++i)
    ok = EVP_Digest(digest, sizeof digest, digest, nullptr, EVP_sha1(), nullptr) == 1;
  if (ok) std::memcpy(keyIv, digest, 16);
  WipeStars(digest, sizeof digest);
  EVP_MD_CTX_free(ctx);
  return ok;
}

}  // namespace
}  // namespace qv::cert

using namespace qv::cert;

extern "C" {

int iGetKeyFromKeyFile(const char* path, int tag, uint8_t* data, uint32_t* length) {
  CM_ENTER(kModule, "iGetKeyFromKeyFile");
  if (length) *length = 0;
  std::FILE* f = (path && data && length) ? std::fopen(path, "rb") : nullptr;
  if (!f) {
    CM_LEAVE(kModule, "iGetKeyFromKeyFile", QVKEYFILE_CANNOT_OPEN);
    return QVKEYFILE_CANNOT_OPEN;
  }
  int status = QVKEYFILE_NO_SUCH_TAG;
  uint8_t header[4];
  for (;;) {
    size_t got = std::fread(header, 1, sizeof header, f);
    if (got == 0 && std::feof(f)) break;  // clean end after whole records
    if (got != sizeof header || header[0] != 0x01) {
      status = QVKEYFILE_BAD_RECORD;
      break;
    }
    const uint32_t n = uint32_t(header[2]) << 8 | header[3];
    if (n > QV_KEYFILE_MAX_DATA) {
      status = QVKEYFILE_BAD_RECORD;
      break;
    }
    if (header[1] == tag) {
      if (std::fread(data, 1, n, f) != n) {
        WipeStars(data, n);
        status = QVKEYFILE_BAD_RECORD;
      } else {
        *length = n;
        status = 0;
      }
      break;
    }
    uint8_t skip[QV_KEYFILE_MAX_DATA];
    size_t skipped = std::fread(skip, 1, n, f);
    WipeStars(skip, skipped);
    if (skipped != n) {
      status = QVKEYFILE_BAD_RECORD;
      break;
    }
  }
  std::fclose(f);
  CM_LEAVE(kModule, "iGetKeyFromKeyFile", status);
  return status;
}

int iAddKeyToEndOfKeyFile(const char* path, int tag, const uint8_t* data, uint32_t length) {
  CM_ENTER(kModule, "iAddKeyToEndOfKeyFile");
  int status = 0;
  std::FILE* f = nullptr;
  if (length > QV_KEYFILE_MAX_DATA) {
    status = QVKEYFILE_RECORD_TOO_LONG;
  } else if (!path || (length && !data) || !(f = std::fopen(path, "ab"))) {
    status = QVKEYFILE_CANNOT_APPEND;
  } else {
    const uint8_t header[4] = {0x01, static_cast<uint8_t>(tag), static_cast<uint8_t>(length >> 8),
                               static_cast<uint8_t>(length & 0xFF)};
    bool ok = std::fwrite(header, 1, 4, f) == 4 && std::fwrite(data, 1, length, f) == length;
    // A record that did not reach the disk is a failure, not a success.
    if (std::fclose(f) != 0 || !ok) status = QVKEYFILE_CANNOT_APPEND;
  }
  CM_LEAVE(kModule, "iAddKeyToEndOfKeyFile", status);
  return status;
}

uint32_t errQVPKCS5PBEncDnc(const uint8_t* in, uint32_t inLength, uint8_t* out, uint32_t outMax,
                            uint32_t* outLength, const uint8_t* password, uint32_t passwordLength,
                            int direction) {
  CM_ENTER(kModule, "errQVPKCS5PBEncDnc");
  const bool enc = direction == kEncrypt;
  const uint32_t failure = enc ? QVCRYPTO_ENCRYPT_INTERNAL : QVCRYPTO_DECRYPT_INTERNAL;
  if (outLength) *outLength = 0;
  if ((direction != kEncrypt && direction != kDecrypt) || !outLength || !out ||
      (inLength && !in) || (passwordLength && !password) || inLength > (1u << 24)) {
    CM_LEAVE(kModule, "errQVPKCS5PBEncDnc", QVCRYPTO_BAD_INPUT_LENGTH);
    return QVCRYPTO_BAD_INPUT_LENGTH;
  }
  const uint64_t need = enc ? uint64_t(inLength) + 8 : inLength;
  if (outMax < need) {
    CM_LEAVE(kModule, "errQVPKCS5PBEncDnc", QVCRYPTO_BAD_MAX_OUTPUT);
    return QVCRYPTO_BAD_MAX_OUTPUT;
  }
  uint32_t status = 0;
  uint8_t keyIv[16];
  SecureBytes work(static_cast<size_t>(need) + 8);
  EVP_CIPHER* cipher = nullptr;
  EVP_CIPHER_CTX* ctx = nullptr;
  int n1 = 0, n2 = 0;
  if (!EnsureProviders() || !(cipher = EVP_CIPHER_fetch(nullptr, "DES-CBC", nullptr))) {
    CM_TRACE(kTraceFlow, kModule, "errQVPKCS5PBEncDnc(): Error in B_CreateAlgorithmObject <%d>",
             static_cast<int>(FacilityError()));
    status = failure;
  } else if (!DeriveKeyIv(password, passwordLength, keyIv)) {
    CM_TRACE(kTraceFlow, kModule, "errQVPKCS5PBEncDnc(): Error in B_SetKeyInfo <%d>",
             static_cast<int>(FacilityError()));
    status = failure;
  } else if (!(ctx = EVP_CIPHER_CTX_new()) ||
             EVP_CipherInit_ex2(ctx, cipher, keyIv, keyIv + 8, enc ? 1 : 0, nullptr) != 1) {
    CM_TRACE(kTraceFlow, kModule, "errQVPKCS5PBEncDnc(): Error in %s <%d>",
             enc ? "B_EncryptInit" : "B_DecryptInit", static_cast<int>(FacilityError()));
    status = failure;
  } else if (EVP_CipherUpdate(ctx, work.data(), &n1, in, static_cast<int>(inLength)) != 1) {
    CM_TRACE(kTraceFlow, kModule, "errQVPKCS5PBEncDnc(): Error in %s <%d>",
             enc ? "B_EncryptUpdate" : "B_DecryptUpdate", static_cast<int>(FacilityError()));
    status = failure;
  } else if (EVP_CipherFinal_ex(ctx, work.data() + n1, &n2) != 1) {
    CM_TRACE(kTraceFlow, kModule, "errQVPKCS5PBEncDnc(): Error in %s <%d>",
             enc ? "B_EncryptFinal" : "B_DecryptFinal", static_cast<int>(FacilityError()));
    status = failure;
  } else {
    std::memcpy(out, work.data(), static_cast<size_t>(n1 + n2));
    *outLength = static_cast<uint32_t>(n1 + n2);
  }
  WipeStars(keyIv, sizeof keyIv);
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(cipher);
  CM_LEAVE(kModule, "errQVPKCS5PBEncDnc", status);
  return status;
}

uint32_t errQVKeyFileGetPrivateKeyEx(const char* path, uint8_t* key, uint32_t* keyLength,
                                     const char* passPhrase) {
  CM_ENTER(kModule, "errQVKeyFileGetPrivateKeyEx");
  if (keyLength) *keyLength = 0;
  if (!key || !keyLength || !passPhrase) {
    CM_LEAVE(kModule, "errQVKeyFileGetPrivateKeyEx", QVCRYPTO_BAD_INPUT_LENGTH);
    return QVCRYPTO_BAD_INPUT_LENGTH;
  }
  SecureBytes record(QV_KEYFILE_MAX_DATA);
  uint32_t recordLength = 0;
  uint32_t status =
      static_cast<uint32_t>(iGetKeyFromKeyFile(path, QVKEY_TAG_PRIVATE, record.data(), &recordLength));
  if (status != 0) {
    CM_TRACE(kTraceFlow, kModule, "Failed to Retrieve Encrypted Private Key");
  } else {
    SecureBytes plain(QV_KEYFILE_MAX_DATA);
    uint32_t plainLength = 0;
    status = errQVPKCS5PBEncDnc(record.data(), recordLength, plain.data(),
                                static_cast<uint32_t>(plain.size()), &plainLength,
                                reinterpret_cast<const uint8_t*>(passPhrase),
                                static_cast<uint32_t>(std::strlen(passPhrase)), kDecrypt);
    if (status == 0) {
      // A wrong pass phrase passes the padding check now and then; what it
      // yields is no private-key structure.
      const unsigned char* p = plain.data();
      PKCS8_PRIV_KEY_INFO* info = d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, plainLength);
      if (!info || p != plain.data() + plainLength) {
        status = QVCRYPTO_INTEGRITY;
      } else {
        std::memcpy(key, plain.data(), plainLength);
        *keyLength = plainLength;
      }
      PKCS8_PRIV_KEY_INFO_free(info);
    }
  }
  CM_LEAVE(kModule, "errQVKeyFileGetPrivateKeyEx", status);
  return status;
}

uint32_t errQVKeyFileAddPrivateKeyToEndEx(const char* path, const uint8_t* key, uint32_t keyLength,
                                          const char* passPhrase) {
  CM_ENTER(kModule, "errQVKeyFileAddPrivateKeyToEndEx");
  uint32_t status = 0;
  if (!passPhrase || keyLength + 8 > QV_KEYFILE_MAX_DATA) {
    status = passPhrase ? QVKEYFILE_RECORD_TOO_LONG : QVCRYPTO_BAD_INPUT_LENGTH;
  } else {
    SecureBytes enc(keyLength + 8);
    uint32_t encLength = 0;
    status = errQVPKCS5PBEncDnc(key, keyLength, enc.data(), static_cast<uint32_t>(enc.size()),
                                &encLength, reinterpret_cast<const uint8_t*>(passPhrase),
                                static_cast<uint32_t>(std::strlen(passPhrase)), kEncrypt);
    if (status == 0)
      status = static_cast<uint32_t>(iAddKeyToEndOfKeyFile(path, QVKEY_TAG_PRIVATE, enc.data(), encLength));
  }
  CM_LEAVE(kModule, "errQVKeyFileAddPrivateKeyToEndEx", status);
  return status;
}

uint32_t errQVKeyFileAddPrivateKeyToEnd(const char* path, const uint8_t* key, uint32_t length) {
  return static_cast<uint32_t>(iAddKeyToEndOfKeyFile(path, QVKEY_TAG_PRIVATE, key, length));
}
uint32_t errQVKeyFileAddPublicKeyToEnd(const char* path, const uint8_t* key, uint32_t length) {
  return static_cast<uint32_t>(iAddKeyToEndOfKeyFile(path, QVKEY_TAG_PUBLIC, key, length));
}
uint32_t errQVKeyFileGetPrivateKey(const char* path, uint8_t* key, uint32_t* length) {
  return static_cast<uint32_t>(iGetKeyFromKeyFile(path, QVKEY_TAG_PRIVATE, key, length));
}
uint32_t errQVKeyFileGetPublicKey(const char* path, uint8_t* key, uint32_t* length) {
  return static_cast<uint32_t>(iGetKeyFromKeyFile(path, QVKEY_TAG_PUBLIC, key, length));
}

}  // extern "C"
