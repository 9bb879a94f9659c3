#include "tools/qvcert/commands.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>

#include "platform/registry/registry.h"
#include "qvcert.h"
#include "runtime/cert/cm_internal.h"
#include "runtime/cert/issue.h"

namespace qv::qvcert {

const char kHelp[] = R"(NAME
    qvcert - certificates and keys of a token-passcode domain

SYNOPSIS
    qvcert root-create --key FILE --cert FILE --subject DN [--days N] [--pass-file FILE]
    qvcert dc-request  --key FILE --request FILE --subject DN [--pass-file FILE]
    qvcert issue       --request FILE --ca-cert FILE --ca-key FILE --out FILE [--days N] [--pass-file FILE]
    qvcert key-write   --in PKCS8.der --key FILE [--pass-file FILE]
    qvcert key-read    --key FILE --out PKCS8.der [--pass-file FILE]
    qvcert show        --cert FILE
    qvcert verify      --cert FILE --ca-cert FILE
    qvcert install     --cert FILE --key FILE [--pass-file FILE]
    qvcert delete
    qvcert --help

DESCRIPTION
    Sets up the certificates of a domain from nothing: a root certificate
    authority, a key and certificate request for each domain controller, the
    certificates issued from those requests, and the installation of a domain
    controller's certificate and key into the registry, where the key is kept
    encrypted for this machine only.

    Keys are RSA 2048-bit; certificates are X.509 v3 signed with SHA-256 and
    carry a random serial number. Certificates and requests are written in
    DER. Key files hold records of a marker byte 0x01, a tag (1 public key,
    2 private key), a two-byte length (most significant byte first) and the
    data; the private key is PKCS #8 encrypted with pbeWithSHA1AndDES-CBC
    under the pass phrase.

COMMANDS
    root-create   Creates a root key (key file) and its self-signed
                  certificate (basicConstraints CA:TRUE).
    dc-request    Creates a domain controller key (key file) and a PKCS #10
                  request for DN. The common name must begin with the
                  domain controller's computer name.
    issue         Issues a certificate from a request, signed by the root.
    key-write     Writes a PKCS #8 private key (DER) to a new key file under
                  a pass phrase, preceded by its public-key record.
    key-read      Decrypts the private key of a key file into a PKCS #8 file.
    show          Prints the subject name and the information texts of a
                  certificate.
    verify        Checks that a certificate is signed by the CA certificate.
    install       Installs a domain controller certificate and the private
                  key of a key file into the registry value DCCert and DCKey.
    delete        Removes DCCert and DCKey from the registry.

OPTIONS
    --subject DN     Distinguished name as short names and values, for
                     example "CN=dc1.example.com,O=Example,C=US".
    --days N         Validity in days from now (default 3650 for a root,
                     365 for an issued certificate).
    --pass-file FILE Reads the pass phrase from the first line of FILE.
                     Without it the pass phrase is asked for on the
                     terminal. Pass phrases are never taken from the
                     command line.

ENVIRONMENT
    TAVRIK_ROOT   Root of the system's files (registry, state); empty for
                  the production layout.

EXIT STATUS
    0 success, 1 failure, 2 wrong usage.
)";

namespace {

using qv::cert::SecureBytes;
using Bytes = std::vector<uint8_t>;
using Options = std::map<std::string, std::string>;

bool ReadFile(const std::string& path, Bytes* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool WriteFile(const std::string& path, const uint8_t* data, size_t n) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(n));
  f.close();
  return static_cast<bool>(f);
}

struct Context {
  Options opt;
  std::ostream& out;
  std::ostream& err;
  PassPrompt prompt;

  bool Has(const char* name) const { return opt.count(name) != 0; }
  const std::string& Get(const char* name) const { return opt.at(name); }

  int Fail(const std::string& what) {
    err << "qvcert: " << what << "\n";
    return kExitFailed;
  }
  int FailStatus(const std::string& what, uint32_t status) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%#x", status);
    const char* text = status >= 0x80000000u ? QVStatusText(status) : pszQVCryptoMsgToString(status);
    err << "qvcert: " << what << ": " << (text ? text : "error") << " (" << buf << ")\n";
    return kExitFailed;
  }

  bool PassPhrase(bool confirm, std::string* phrase) {
    if (Has("pass-file")) {
      std::ifstream in(Get("pass-file"));
      if (!in || !std::getline(in, *phrase)) return false;
      if (!phrase->empty() && phrase->back() == '\r') phrase->pop_back();
      return true;
    }
    return prompt && prompt("Pass phrase: ", confirm, phrase);
  }
};

// Wipes a std::string's characters.
void Wipe(std::string* s) {
  qv::cert::WipeStars(s->data(), s->size());
  s->clear();
}

int64_t Days(const Context& c, int64_t fallback) {
  if (!c.Has("days")) return fallback;
  try {
    long long d = std::stoll(c.Get("days"));
    return d > 0 && d < 100000 ? d : -1;
  } catch (...) {
    return -1;
  }
}

Bytes PublicKeyDer(EVP_PKEY* key) {
  Bytes out;
  unsigned char* p = nullptr;
  int n = i2d_PUBKEY(key, &p);
  if (n > 0) out.assign(p, p + n);
  OPENSSL_free(p);
  return out;
}

// A new key file holding the public-key record and the encrypted private key.
int WriteKeyFile(Context& c, const std::string& path, EVP_PKEY* key) {
  SecureBytes der = qv::cert::PrivateKeyToPkcs8(key);
  Bytes pub = PublicKeyDer(key);
  if (der.empty() || pub.empty()) return c.Fail("cannot encode the key");
  std::string phrase;
  if (!c.PassPhrase(true, &phrase)) return c.Fail("no pass phrase");
  std::remove(path.c_str());
  uint32_t s = errQVKeyFileAddPublicKeyToEnd(path.c_str(), pub.data(), static_cast<uint32_t>(pub.size()));
  if (s == 0)
    s = errQVKeyFileAddPrivateKeyToEndEx(path.c_str(), der.data(), static_cast<uint32_t>(der.size()), phrase.c_str());
  Wipe(&phrase);
  return s ? c.FailStatus("cannot write key file " + path, s) : kExitOk;
}

// The private key of a key file, decrypted.
bool ReadKeyFile(Context& c, const std::string& path, SecureBytes* der, int* rc) {
  std::string phrase;
  if (!c.PassPhrase(false, &phrase)) {
    *rc = c.Fail("no pass phrase");
    return false;
  }
  SecureBytes buf(QV_KEYFILE_MAX_DATA);
  uint32_t n = 0;
  uint32_t s = errQVKeyFileGetPrivateKeyEx(path.c_str(), buf.data(), &n, phrase.c_str());
  Wipe(&phrase);
  if (s != 0) {
    *rc = c.FailStatus("cannot read the private key of " + path, s);
    return false;
  }
  buf.resize(n);
  *der = std::move(buf);
  return true;
}

EVP_PKEY* KeyFromFile(Context& c, const std::string& path, int* rc) {
  SecureBytes der;
  if (!ReadKeyFile(c, path, &der, rc)) return nullptr;
  EVP_PKEY* key = qv::cert::PrivateKeyFromPkcs8(der.data(), der.size());
  if (!key) *rc = c.Fail("the key file does not hold an RSA private key");
  return key;
}

X509* CertFromFile(Context& c, const std::string& path, int* rc) {
  Bytes der;
  X509* x = ReadFile(path, &der) ? qv::cert::ParseCert(der.data(), der.size()) : nullptr;
  if (!x) *rc = c.Fail("cannot read a DER certificate from " + path);
  return x;
}

// Writes the file named by `option`.
int WriteOutput(Context& c, const char* option, const uint8_t* data, size_t n) {
  if (WriteFile(c.Get(option), data, n)) return kExitOk;
  return c.Fail("cannot write " + c.Get(option));
}

// The --subject name and a new key, written to --key; then `make` turns them
// into the DER written to the file named by `output` (`failure` when it
// cannot).
template <typename Make>
int CreateWithNewKey(Context& c, const char* output, const char* failure, Make make) {
  X509_NAME* name = qv::cert::ParseNameText(c.Get("subject"));
  if (!name) return c.Fail("bad --subject");
  EVP_PKEY* key = qv::cert::GenerateRsaKey();
  int rc = key ? WriteKeyFile(c, c.Get("key"), key) : c.Fail("cannot generate a key");
  Bytes der;
  if (rc == kExitOk) {
    if (!make(name, key, &der))
      rc = c.Fail(failure);
    else
      rc = WriteOutput(c, output, der.data(), der.size());
  }
  EVP_PKEY_free(key);
  X509_NAME_free(name);
  return rc;
}

int RootCreate(Context& c) {
  const int64_t days = Days(c, 3650);
  if (days < 0) return c.Fail("bad --days");
  return CreateWithNewKey(
      c, "cert", "cannot create the certificate",
      [days](X509_NAME* name, EVP_PKEY* key, Bytes* der) {
        qv::cert::IssueOptions o{qv::cert::Now() - 300, qv::cert::Now() + days * 86400, true};
        return qv::cert::IssueCert(name, key, nullptr, key, o, der) == QV_OK;
      });
}

int DcRequest(Context& c) {
  return CreateWithNewKey(c, "request", "cannot create the request",
                          [](X509_NAME* name, EVP_PKEY* key, Bytes* der) {
                            return qv::cert::MakeRequest(key, name, der) == QV_OK;
                          });
}

int Issue(Context& c) {
  const int64_t days = Days(c, 365);
  if (days < 0) return c.Fail("bad --days");
  Bytes req;
  if (!ReadFile(c.Get("request"), &req)) return c.Fail("cannot read " + c.Get("request"));
  int rc = kExitOk;
  X509* ca = CertFromFile(c, c.Get("ca-cert"), &rc);
  EVP_PKEY* caKey = ca ? KeyFromFile(c, c.Get("ca-key"), &rc) : nullptr;
  if (caKey && X509_check_private_key(ca, caKey) != 1) {
    rc = c.Fail("the CA key does not belong to the CA certificate");
    EVP_PKEY_free(caKey);
    caKey = nullptr;
  }
  if (caKey) {
    Bytes der;
    qv::cert::IssueOptions o{qv::cert::Now() - 300, qv::cert::Now() + days * 86400, false};
    if (qv::cert::IssueFromRequest(req.data(), req.size(), ca, caKey, o, &der) != QV_OK)
      rc = c.Fail("the request is malformed or its signature does not verify");
    else
      rc = WriteOutput(c, "out", der.data(), der.size());
  }
  EVP_PKEY_free(caKey);
  X509_free(ca);
  return rc;
}

int KeyWrite(Context& c) {
  Bytes in;
  if (!ReadFile(c.Get("in"), &in)) return c.Fail("cannot read " + c.Get("in"));
  EVP_PKEY* key = qv::cert::PrivateKeyFromPkcs8(in.data(), in.size());
  qv::cert::WipeStars(in.data(), in.size());
  if (!key) return c.Fail("the input is no PKCS #8 RSA private key");
  int rc = WriteKeyFile(c, c.Get("key"), key);
  EVP_PKEY_free(key);
  return rc;
}

int KeyRead(Context& c) {
  SecureBytes der;
  int rc = kExitOk;
  if (!ReadKeyFile(c, c.Get("key"), &der, &rc)) return rc;
  return WriteOutput(c, "out", der.data(), der.size());
}

int Show(Context& c) {
  Bytes der;
  if (!ReadFile(c.Get("cert"), &der)) return c.Fail("cannot read " + c.Get("cert"));
  char* subject = nullptr;
  CMCertInfo* info = nullptr;
  QVSTATUS s = CMGetCertSubjectName(der.data(), static_cast<uint32_t>(der.size()), &subject);
  if (s == QV_OK) s = CMGetCertInfo(der.data(), static_cast<uint32_t>(der.size()), &info);
  if (s != QV_OK) {
    CMDestroySubjectName(subject);
    return c.FailStatus("not a certificate", s);
  }
  std::string serial;
  char hex[3];
  for (uint32_t i = 0; i < info->serialLength; ++i) {
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(info->serial[i]));
    serial += hex;
  }
  c.out << "Subject name: " << subject << "\n"
        << "Subject:      " << info->subject << "\n"
        << "Issuer:       " << info->issuer << "\n"
        << "Not before:   " << info->notBefore << "\n"
        << "Not after:    " << info->notAfter << "\n"
        << "Serial:       " << serial << "\n"
        << "Version:      " << info->version << "\n";
  CMDestroyCertInfo(info);
  CMDestroySubjectName(subject);
  return kExitOk;
}

int Verify(Context& c) {
  int rc = kExitOk;
  X509* cert = CertFromFile(c, c.Get("cert"), &rc);
  X509* ca = cert ? CertFromFile(c, c.Get("ca-cert"), &rc) : nullptr;
  if (ca) {
    if (qv::cert::VerifyWithCaCert(cert, ca) == QV_OK)
      c.out << "verified\n";
    else
      rc = c.Fail("the certificate is not signed by the CA certificate");
  }
  X509_free(ca);
  X509_free(cert);
  return rc;
}

int Install(Context& c) {
  Bytes cert;
  if (!ReadFile(c.Get("cert"), &cert)) return c.Fail("cannot read " + c.Get("cert"));
  SecureBytes key;
  int rc = kExitOk;
  if (!ReadKeyFile(c, c.Get("key"), &key, &rc)) return rc;
  QVSTATUS s = CMCheckPrivateKey(key.data(), static_cast<uint32_t>(key.size()));
  if (s != QV_OK) return c.FailStatus("the key file does not hold an RSA private key", s);
  qv::reg::Key product;
  if (product.Create(qv::reg::HKEY_LOCAL_MACHINE, qv::cert::kProductKey, qv::reg::KEY_ALL_ACCESS) !=
      qv::reg::ERROR_SUCCESS)
    return c.Fail("cannot open the product key");
  s = CMAgentStoreDCCert(cert.data(), static_cast<uint32_t>(cert.size()), key.data(),
                         static_cast<uint32_t>(key.size()));
  CMShutdownDCSide();
  if (s != QV_OK) return c.FailStatus("cannot install the certificate", s);
  c.out << "installed\n";
  return kExitOk;
}

int Delete(Context& c) {
  QVSTATUS s = CMAgentDeleteDCCert();
  CMShutdownDCSide();
  if (s != QV_OK) return c.FailStatus("cannot delete the certificate", s);
  c.out << "deleted\n";
  return kExitOk;
}

struct Command {
  const char* name;
  std::vector<const char*> required;
  int (*run)(Context&);
};

const Command kCommands[] = {
    {"root-create", {"key", "cert", "subject"}, RootCreate},
    {"dc-request", {"key", "request", "subject"}, DcRequest},
    {"issue", {"request", "ca-cert", "ca-key", "out"}, Issue},
    {"key-write", {"in", "key"}, KeyWrite},
    {"key-read", {"key", "out"}, KeyRead},
    {"show", {"cert"}, Show},
    {"verify", {"cert", "ca-cert"}, Verify},
    {"install", {"cert", "key"}, Install},
    {"delete", {}, Delete},
};

const char* const kKnownOptions[] = {"key", "cert", "subject", "days", "pass-file", "request",
                                     "ca-cert", "ca-key", "out", "in"};

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, PassPrompt prompt) {
  if (args.empty()) {
    err << "qvcert: no command (see qvcert --help)\n";
    return kExitUsage;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    out << kHelp;
    return kExitOk;
  }
  const Command* cmd = nullptr;
  for (const auto& c : kCommands)
    if (args[0] == c.name) cmd = &c;
  if (!cmd) {
    err << "qvcert: unknown command " << args[0] << " (see qvcert --help)\n";
    return kExitUsage;
  }
  Context c{{}, out, err, prompt};
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool known = false;
    for (const char* o : kKnownOptions) known = known || a == std::string("--") + o;
    if (!known || i + 1 >= args.size()) {
      err << "qvcert: " << (known ? "missing value for " : "unknown option ") << a << "\n";
      return kExitUsage;
    }
    c.opt[a.substr(2)] = args[++i];
  }
  for (const char* r : cmd->required) {
    if (!c.Has(r)) {
      err << "qvcert: " << cmd->name << " needs --" << r << "\n";
      return kExitUsage;
    }
  }
  return cmd->run(c);
}

}  // namespace qv::qvcert
