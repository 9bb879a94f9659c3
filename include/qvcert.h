// Certificates, keys, random bytes and the credential stores.
//
// Ownership:
// - Byte buffers handed out (certificates, key bytes, the root copy) are new
//   heap buffers owned by the caller; release them with CMDestroyCert(bytes,
//   length), which overwrites them with '*' before freeing.
// - Key objects (EVP_PKEY*) handed out are owned by the caller; release them
//   with CMDestroyKey(&key) (or EVP_PKEY_free).
// - Texts from CMGetCertSubjectName are released with CMDestroySubjectName,
//   records from CMGetCertInfo with CMDestroyCertInfo, buffers from
//   errQVCertReadFromFile with vQVCertFreeCert.
// - The LDM* operations hand out CM_CRED_BUFFER bytes allocated with malloc;
//   the caller wipes and frees them (CMDestroyCert).
//
// All functions are thread-safe. Results are statuses (0 on success) unless
// stated otherwise; the key-file functions answer the utility codes 19xxx.
#pragma once

#include <openssl/types.h>

#include <cstddef>
#include <cstdint>

#include "qvextobj.h"
#include "qvstatus.h"

extern "C" {

// ---- Certificate, key and random utilities ----

// Utility-library codes (numbers without text in the status table).
enum : uint32_t {
  QVCRYPTO_CERT_NO_MEMORY = 19001,
  QVCRYPTO_FILE_NOT_FOUND = 19004,
  QVCRYPTO_BAD_INPUT_LENGTH = 19005,
  QVCRYPTO_CERT_FIELDS = 19011,
  QVCRYPTO_ENCRYPT_INTERNAL = 19203,
  QVCRYPTO_DECRYPT_INTERNAL = 19204,
  QVCRYPTO_INTEGRITY = 19207,
  QVCRYPTO_BAD_MAX_OUTPUT = 19210,
  QVKEYFILE_RECORD_TOO_LONG = 19301,
  QVKEYFILE_CANNOT_APPEND = 19302,
  QVKEYFILE_CANNOT_OPEN = 19303,
  QVKEYFILE_BAD_RECORD = 19304,
  QVKEYFILE_NO_SUCH_TAG = 19305,
};

// Key-file record tags and the largest record data.
enum : int { QVKEY_TAG_PUBLIC = 1, QVKEY_TAG_PRIVATE = 2 };
inline constexpr uint32_t QV_KEYFILE_MAX_DATA = 4096;

// Reads a whole certificate file. 0; 19004 cannot open; 19011 empty or short
// read; 19001 no memory. *bytes is freed with vQVCertFreeCert.
uint32_t errQVCertReadFromFile(const char* path, uint32_t* length, uint8_t** bytes);
void vQVCertFreeCert(uint8_t* bytes);

// Reads the private-key record (tag 2) and decrypts it with the pass phrase.
// `key` must hold QV_KEYFILE_MAX_DATA bytes. On failure nothing is written to
// `key` and *keyLength is 0; 19207 when the decrypted bytes are no PKCS #8
// structure (a wrong pass phrase that passed the padding check).
uint32_t errQVKeyFileGetPrivateKeyEx(const char* path, uint8_t* key, uint32_t* keyLength,
                                     const char* passPhrase);

// Encrypts (direction 1) or decrypts (direction 2) with pbeWithSHA1AndDES-CBC,
// iteration count 5 and the fixed salt. `out` holds `outMax` bytes (input
// length + 8 is always enough). 19203/19204 on a facility failure, 19210 when
// `out` is too small.
uint32_t errQVPKCS5PBEncDnc(const uint8_t* in, uint32_t inLength, uint8_t* out, uint32_t outMax,
                            uint32_t* outLength, const uint8_t* password, uint32_t passwordLength,
                            int direction);

// Key-file records: `data` of iGetKeyFromKeyFile holds QV_KEYFILE_MAX_DATA bytes.
// 19305 when the file ends after whole records without the tag; 19304 for a
// bad marker, an overlong or a truncated record.
int iGetKeyFromKeyFile(const char* path, int tag, uint8_t* data, uint32_t* length);
int iAddKeyToEndOfKeyFile(const char* path, int tag, const uint8_t* data, uint32_t length);

// Encrypts a PKCS #8 key under the pass phrase and appends it (tag 2).
uint32_t errQVKeyFileAddPrivateKeyToEndEx(const char* path, const uint8_t* key, uint32_t keyLength,
                                          const char* passPhrase);
// Records without encryption; `key` of the readers holds QV_KEYFILE_MAX_DATA bytes.
uint32_t errQVKeyFileAddPrivateKeyToEnd(const char* path, const uint8_t* key, uint32_t length);
uint32_t errQVKeyFileAddPublicKeyToEnd(const char* path, const uint8_t* key, uint32_t length);
uint32_t errQVKeyFileGetPrivateKey(const char* path, uint8_t* key, uint32_t* length);
uint32_t errQVKeyFileGetPublicKey(const char* path, uint8_t* key, uint32_t* length);

// Text of a utility-library code; "Unknown error" for any other.
const char* pszQVCryptoMsgToString(uint32_t code);

// Subject as "Label=value;Label=value". Freed with CMDestroySubjectName.
QVSTATUS CMGetCertSubjectName(const uint8_t* cert, uint32_t length, char** subject);
QVSTATUS CMDestroySubjectName(char* subject);

// Six texts of a certificate; the serial's bytes are followed by a zero byte
// and `serialLength` tells how many bytes they are.
struct CMCertInfo {
  char* subject;
  char* issuer;
  char* notBefore;  // 24 characters of ctime
  char* notAfter;
  char* serial;
  char* version;  // "X.509 v1".."X.509 v3" or "unknown"
  uint32_t serialLength;
};
QVSTATUS CMGetCertInfo(const uint8_t* cert, uint32_t length, CMCertInfo** info);
QVSTATUS CMDestroyCertInfo(CMCertInfo* info);

// 0 when issued by the trusted root; QVS_CM_... not trusted / not a certificate.
QVSTATUS CMCheckCertWithRoot(const uint8_t* cert, uint32_t length);
// 0 when the bytes are a PKCS #8 rsaEncryption private key.
QVSTATUS CMCheckPrivateKey(const uint8_t* key, uint32_t length);

// Overwrites `length` bytes with '*' and frees them.
QVSTATUS CMDestroyCert(uint8_t* bytes, uint32_t length);
// Frees *key and sets it to null.
QVSTATUS CMDestroyKey(EVP_PKEY** key);

// A copy of the trusted root certificate (DER); caller frees with CMDestroyCert.
QVSTATUS CMGetRootCert(uint8_t** cert, uint32_t* length);

// ---- Random generator (OpenSSL DRBG, kernel-seeded) ----

QVSTATUS CMInitRand(void);
QVSTATUS CMGenRand(uint8_t* buffer, uint32_t length);
QVSTATUS CMDestroyRand(void);

// Loads the trusted root named by CACertPath (once per process).
QVSTATUS InitializeUtils(void);

// ---- Desktop credentials and session-certificate cache ----

// Credentials buffer: a length and that many bytes.
struct CM_CRED_BUFFER {
  uint32_t length;
  uint8_t* bytes;
};

// Desktop items of LDMDesktopGetDesktopCred.
enum : uint32_t { CM_ITEM_PRIVATE_KEY = 1, CM_ITEM_CERTIFICATE = 2 };

QVSTATUS CMInitDesktopSide(int bHostCache);

// The desktop certificate (DER, caller frees with CMDestroyCert).
QVSTATUS CMGetSSDesktopCert(uint8_t** cert, uint32_t* length);
// The desktop private key as a new key object (caller frees with CMDestroyKey).
QVSTATUS CMGetDesktopPrivateKey(EVP_PKEY** key);
QVSTATUS CMClearSessionCerts(void);

// Keeps the session-certificate object's text form for user and domain.
// 0, QVE_CM_CERT_REPLACED when an older one was replaced (a warning).
QVSTATUS CMStoreSessionCert(const char* user, const char* domain, HQVEXTOBJ obj);
// A new object parsed from the stored text (caller destroys it);
// QVE_CM_NO_SESSION_CERT when there is none.
QVSTATUS CMGetSessionCert(const char* user, const char* domain, HQVEXTOBJ* obj);

// How the desktop calls above reach the cache. The table starts out bound to
// the local operations (LDM*); the cache service installs its own.
struct CMCacheDispatch {
  QVSTATUS (*getDesktopCred)(uint32_t item, CM_CRED_BUFFER* out);
  QVSTATUS (*storeSessionCert)(const char* user, const char* domain, const CM_CRED_BUFFER* text);
  QVSTATUS (*getSessionCert)(const char* user, const char* domain, CM_CRED_BUFFER* out);
  QVSTATUS (*clearSessionCerts)(void);
};
const CMCacheDispatch* CMGetCacheDispatch(void);
// Null restores the local operations. The table must outlive its use.
void CMSetCacheDispatch(const CMCacheDispatch* dispatch);

// Local cache operations run in the cache host.
QVSTATUS LDMDesktopGetDesktopCred(uint32_t item, CM_CRED_BUFFER* out);
QVSTATUS LDMDesktopStoreSessionCert(const char* user, const char* domain,
                                    const CM_CRED_BUFFER* text);
QVSTATUS LDMDesktopGetSessionCert(const char* user, const char* domain, CM_CRED_BUFFER* out);
QVSTATUS LDMDesktopClearSessionCerts(void);

// ---- Domain-controller certificate and key store ----

QVSTATUS CMInitDCSide(void);
QVSTATUS CMShutdownDCSide(void);
QVSTATUS CMAgentStoreDCCert(const uint8_t* cert, uint32_t certLength, const uint8_t* key,
                            uint32_t keyLength);
// A copy of the loaded DC certificate (DER, caller frees with CMDestroyCert).
QVSTATUS CMAgentGetDCCert(uint8_t** cert, uint32_t* length);
QVSTATUS CMAgentDeleteDCCert(void);
// A new key object from the loaded DC private key (caller frees with CMDestroyKey).
QVSTATUS CMGetDCPrivateKey(EVP_PKEY** key);

// Lifetime of issued session certificates in seconds (0: switched off).
uint32_t CMGetSessionCertLifetime(void);

// ---- Session certificates ----

// Issues a session certificate for user, domain and workstation to the
// holder of the desktop certificate, signed with the DC key. The new object
// ("SessionCertificate" with cert1, cert2) belongs to the caller.
QVSTATUS CMCreateSessionCert(const char* user, const char* domain, const char* workstation,
                             const uint8_t* desktopCert, uint32_t desktopCertLength,
                             HQVEXTOBJ* obj);
// 0 when the object holds a valid session certificate for the three names
// that chains to the trusted root.
QVSTATUS CMVerifySessionCert(const char* user, const char* domain, const char* workstation,
                             HQVEXTOBJ obj);

}  // extern "C"
