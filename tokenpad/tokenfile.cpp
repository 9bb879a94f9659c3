#include "tokenpad/tokenfile.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <pwd.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <memory>

#include "authclient/pinhash.h"
#include "authclient/textcodec.h"

namespace tokenpad {
namespace {

constexpr std::string_view kMagic = "tavrik-tokens 1";
constexpr std::string_view kSealPrefix = "aes256gcm-pbkdf2$";

bool ValidText(std::string_view s) {
  if (s.empty() || s.size() > kMaxText) return false;
  for (unsigned char c : s)
    if (c < 0x20 || c == 0x7f) return false;
  return true;
}

std::vector<std::string_view> Split(std::string_view s, char sep) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    size_t pos = s.find(sep, start);
    parts.push_back(s.substr(start, pos == std::string_view::npos ? std::string_view::npos : pos - start));
    if (pos == std::string_view::npos) break;
    start = pos + 1;
  }
  return parts;
}

bool ToUnsigned(std::string_view v, unsigned lo, unsigned hi, unsigned* out) {
  unsigned x = 0;
  auto r = std::from_chars(v.data(), v.data() + v.size(), x);
  if (v.empty() || r.ec != std::errc() || r.ptr != v.data() + v.size() || x < lo || x > hi) return false;
  *out = x;
  return true;
}

struct SealParts {
  unsigned iterations = 0;
  std::string salt, iv, ct, tag;
};

bool ParseSeal(std::string_view sealed, SealParts* p) {
  if (sealed.substr(0, kSealPrefix.size()) != kSealPrefix) return false;
  auto parts = Split(sealed.substr(kSealPrefix.size()), '$');
  if (parts.size() != 5) return false;
  return ToUnsigned(parts[0], 1, 10000000, &p->iterations) && kel::HexDecode(parts[1], &p->salt) &&
         p->salt.size() >= 8 && kel::HexDecode(parts[2], &p->iv) && p->iv.size() == 12 &&
         kel::HexDecode(parts[3], &p->ct) && !p->ct.empty() && p->ct.size() <= 64 &&
         kel::HexDecode(parts[4], &p->tag) && p->tag.size() == 16;
}

bool DeriveKey(std::string_view password, const std::string& salt, unsigned iterations, unsigned char key[32]) {
  return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                           reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()),
                           static_cast<int>(iterations), EVP_sha256(), 32, key) == 1;
}

using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

const unsigned char* U(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }
const unsigned char* U(std::string_view s) { return reinterpret_cast<const unsigned char*>(s.data()); }

}  // namespace

bool ParseTokenFile(std::string_view text, TokenFile* out, std::string* error) {
  TokenFile file;
  bool magic = false;
  size_t line_no = 0;
  auto fail = [&](const std::string& why) {
    if (error) *error = "line " + std::to_string(line_no) + ": " + why;
    return false;
  };
  for (std::string_view line : Split(text, '\n')) {
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') continue;
    if (!magic) {
      if (line != kMagic) return fail("not a token file");
      magic = true;
      continue;
    }
    auto fields = Split(line, ' ');
    if (fields[0] == "default") {
      if (fields.size() != 2 || !kel::PercentDecode(fields[1], &file.default_serial) ||
          !ValidText(file.default_serial))
        return fail("bad default");
      continue;
    }
    if (fields[0] != "token") return fail("unknown record");
    SoftToken t;
    bool has_seed = false;
    for (size_t i = 1; i < fields.size(); ++i) {
      std::string_view f = fields[i];
      if (f.empty()) continue;
      size_t eq = f.find('=');
      if (eq == std::string_view::npos) return fail("field without value");
      std::string_view k = f.substr(0, eq), v = f.substr(eq + 1);
      bool ok;
      if (k == "serial") ok = kel::PercentDecode(v, &t.serial) && ValidText(t.serial);
      else if (k == "name") ok = kel::PercentDecode(v, &t.name) && ValidText(t.name);
      else if (k == "kind") ok = (v == "pinpad" || v == "standard") && ((t.pinpad = v == "pinpad"), true);
      else if (k == "digits") ok = ToUnsigned(v, 6, 8, &t.digits) && t.digits != 7;
      else if (k == "step") ok = ToUnsigned(v, 30, 60, &t.step) && (t.step == 30 || t.step == 60);
      else if (k == "password") {
        ok = true;
        if (v == "none") t.password = PasswordMode::kNone;
        else if (v == "any") t.password = PasswordMode::kAny;
        else if (v == "numeric") t.password = PasswordMode::kNumeric;
        else ok = false;
      } else if (k == "seed") ok = kel::HexDecode(v, &t.seed) && !t.seed.empty() && t.seed.size() <= 64 && (has_seed = true);
      else if (k == "sealed") {
        SealParts p;
        ok = ParseSeal(v, &p) && ((t.sealed = std::string(v)), (has_seed = true));
      } else ok = false;
      if (!ok) return fail("bad field " + std::string(k));
    }
    if (t.serial.empty() || t.name.empty() || !has_seed) return fail("incomplete token");
    if ((t.password == PasswordMode::kNone) != t.sealed.empty() || (!t.sealed.empty() && !t.seed.empty()))
      return fail("password mode and seed disagree");
    for (const auto& o : file.tokens)
      if (o.serial == t.serial) return fail("duplicate serial");
    if (file.tokens.size() >= kMaxTokens) return fail("too many tokens");
    file.tokens.push_back(std::move(t));
  }
  if (!magic) return fail("not a token file");
  *out = std::move(file);
  return true;
}

std::string SerializeTokenFile(const TokenFile& file) {
  std::string out = std::string(kMagic) + "\n";
  if (!file.default_serial.empty()) out += "default " + kel::PercentEncode(file.default_serial) + "\n";
  for (const auto& t : file.tokens) {
    out += "token serial=" + kel::PercentEncode(t.serial) + " name=" + kel::PercentEncode(t.name);
    out += std::string(" kind=") + (t.pinpad ? "pinpad" : "standard");
    out += " digits=" + std::to_string(t.digits) + " step=" + std::to_string(t.step);
    const char* mode = t.password == PasswordMode::kAny ? "any" : t.password == PasswordMode::kNumeric ? "numeric" : "none";
    out += std::string(" password=") + mode;
    out += t.sealed.empty() ? " seed=" + kel::HexEncode(t.seed) : " sealed=" + t.sealed;
    out += "\n";
  }
  return out;
}

std::string SealSeed(std::string_view seed, std::string_view password, std::string_view serial, int iterations) {
  std::string salt(16, '\0'), iv(12, '\0');
  if (seed.empty() || seed.size() > 64 || !kel::RandomBytes(salt.data(), salt.size()) ||
      !kel::RandomBytes(iv.data(), iv.size()))
    return "";
  unsigned char key[32];
  if (!DeriveKey(password, salt, static_cast<unsigned>(iterations), key)) return "";
  CipherCtx ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  std::string ct(seed.size(), '\0'), tag(16, '\0');
  int len = 0, fin = 0;
  bool ok = ctx && EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key, U(iv)) == 1 &&
            EVP_EncryptUpdate(ctx.get(), nullptr, &len, U(serial), static_cast<int>(serial.size())) == 1 &&
            EVP_EncryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(ct.data()), &len, U(seed),
                              static_cast<int>(seed.size())) == 1 &&
            EVP_EncryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(ct.data()) + len, &fin) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, 16, tag.data()) == 1;
  OPENSSL_cleanse(key, sizeof key);
  if (!ok) return "";
  return std::string(kSealPrefix) + std::to_string(iterations) + "$" + kel::HexEncode(salt) + "$" +
         kel::HexEncode(iv) + "$" + kel::HexEncode(ct) + "$" + kel::HexEncode(tag);
}

bool UnsealSeed(std::string_view sealed, std::string_view password, std::string_view serial, std::string* seed) {
  SealParts p;
  if (!ParseSeal(sealed, &p)) return false;
  unsigned char key[32];
  if (!DeriveKey(password, p.salt, p.iterations, key)) return false;
  CipherCtx ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  std::string plain(p.ct.size(), '\0');
  int len = 0, fin = 0;
  bool ok = ctx && EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key, U(p.iv)) == 1 &&
            EVP_DecryptUpdate(ctx.get(), nullptr, &len, U(serial), static_cast<int>(serial.size())) == 1 &&
            EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(plain.data()), &len, U(p.ct),
                              static_cast<int>(p.ct.size())) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, 16, p.tag.data()) == 1 &&
            EVP_DecryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(plain.data()) + len, &fin) == 1;
  OPENSSL_cleanse(key, sizeof key);
  if (!ok) {
    kel::Wipe(plain);
    return false;
  }
  *seed = std::move(plain);
  return true;
}

std::string DefaultTokenFilePath() {
  if (const char* f = secure_getenv("TAVRIK_TOKENPAD_FILE"); f && *f) return f;
  if (const char* x = secure_getenv("XDG_CONFIG_HOME"); x && *x) return std::string(x) + "/tavrik/tokens";
  const char* home = secure_getenv("HOME");
  std::string h = home && *home ? home : "";
  if (h.empty()) {
    struct passwd pw, *res = nullptr;
    char buf[4096];
    if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &res) == 0 && res) h = res->pw_dir;
  }
  return h + "/.config/tavrik/tokens";
}

}  // namespace tokenpad
