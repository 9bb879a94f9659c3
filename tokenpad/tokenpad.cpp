// The exported entries of libtokenpad32.so.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "authclient/clock.h"
#include "authclient/otp.h"
#include "authclient/pinhash.h"
#include "authclient/textcodec.h"
#include "tokenpad/tokenfile.h"
#include "tokenpad32.h"

#define TP_EXPORT extern "C" __attribute__((visibility("default")))

namespace tokenpad {
namespace {

constexpr size_t kCodeBuffer = 18;  // the callers' code fields

struct Service {
  TokenFile file;
  int selected = -1;
  std::string seed;  // of the selected token
  bool clock_set = false;
  int64_t clock_offset = 0;  // token time minus local time
  uint32_t error = TOKENPAD_ERR_NONE;
  ~Service() { kel::Wipe(seed); }
};

std::mutex g_mutex;
// Destroyed when the library is unloaded: callers load it per conversation.
std::map<uint32_t, Service> g_services;
uint32_t g_last_error = TOKENPAD_ERR_NONE;  // for calls without a valid handle

Service* Find(uint32_t handle) {
  auto it = g_services.find(handle);
  if (it == g_services.end()) {
    g_last_error = TOKENPAD_ERR_BAD_HANDLE;
    return nullptr;
  }
  return &it->second;
}

int Fail(Service* s, uint32_t error) {
  if (s) s->error = error;
  else g_last_error = error;
  return 0;
}

void CopyText(char* field, const std::string& text) {
  std::memset(field, 0, 24);
  std::memcpy(field, text.data(), std::min<size_t>(text.size(), 23));
}

void WriteCode(char* out, const std::string& code) {
  if (!out) return;
  size_t n = std::min(code.size(), kCodeBuffer - 1);
  std::memcpy(out, code.data(), n);
  out[n] = '\0';
}

bool PinFits(const SoftToken& t, const char* pin) {
  size_t n = strnlen(pin, 17);
  if (t.pinpad) return n <= t.digits && (n == 0 || kel::AllDigits(std::string_view(pin, n)));
  if (n > 8) return false;
  for (size_t i = 0; i < n; ++i)
    if (!std::isalnum(static_cast<unsigned char>(pin[i]))) return false;
  return true;
}

}  // namespace
}  // namespace tokenpad

using namespace tokenpad;

TP_EXPORT int OpenTokenService(uint32_t* handle) {
  if (!handle) return Fail(nullptr, TOKENPAD_ERR_BAD_ARGUMENT);
  *handle = 0;
  std::ifstream in(DefaultTokenFilePath(), std::ios::binary);
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!in) return Fail(nullptr, TOKENPAD_ERR_NO_FILE);
  std::ostringstream text;
  text << in.rdbuf();
  TokenFile file;
  if (text.str().size() > (1u << 20) || !ParseTokenFile(text.str(), &file, nullptr))
    return Fail(nullptr, TOKENPAD_ERR_BAD_FILE);
  for (int attempt = 0; attempt < 16; ++attempt) {
    uint32_t id = 0;
    if (!kel::RandomBytes(&id, sizeof id)) break;
    id &= 0x7fffffffu;
    if (id == 0 || g_services.count(id)) continue;
    g_services[id].file = std::move(file);
    *handle = id;
    return 1;
  }
  return Fail(nullptr, TOKENPAD_ERR_NO_RESOURCES);
}

TP_EXPORT void CloseTokenService(uint32_t handle) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_services.erase(handle);
}

TP_EXPORT int EnumToken(uint32_t handle, uint32_t* count, uint32_t* defaultToken, void* list, uint32_t* size) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Service* s = Find(handle);
  if (!s) return 0;
  if (!count || !defaultToken || !size) return Fail(s, TOKENPAD_ERR_BAD_ARGUMENT);
  const auto& tokens = s->file.tokens;
  *count = static_cast<uint32_t>(tokens.size());
  *defaultToken = 0;
  for (size_t i = 0; i < tokens.size(); ++i)
    if (tokens[i].serial == s->file.default_serial) *defaultToken = static_cast<uint32_t>(i);
  uint32_t needed = static_cast<uint32_t>(tokens.size() * sizeof(TOKENPAD_ENTRY));
  if (!list || *size < needed) {
    *size = needed;
    return Fail(s, TOKENPAD_ERR_BAD_ARGUMENT);
  }
  auto* entries = static_cast<TOKENPAD_ENTRY*>(list);
  for (size_t i = 0; i < tokens.size(); ++i) {
    TOKENPAD_ENTRY e;
    std::memset(&e, 0, sizeof e);
    e.dwIndex = static_cast<uint32_t>(i);
    CopyText(e.szName, tokens[i].name);
    CopyText(e.szSerial, tokens[i].serial);
    CopyText(e.szSelector, tokens[i].serial);
    CopyText(e.szPasswordMode, tokens[i].password == PasswordMode::kAny       ? "PASSWORD"
                               : tokens[i].password == PasswordMode::kNumeric ? "NPASSWORD"
                                                                              : "");
    e.dwDigits = tokens[i].digits;
    e.dwInterval = tokens[i].step;
    e.dwKind = tokens[i].pinpad ? 1 : 0;
    std::memcpy(&entries[i], &e, sizeof e);
  }
  *size = needed;
  s->error = TOKENPAD_ERR_NONE;
  return 1;
}

TP_EXPORT int SelectToken(uint32_t handle, const char* name, const char* selector, const char* password) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Service* s = Find(handle);
  if (!s) return 0;
  if (!name || !selector) return Fail(s, TOKENPAD_ERR_BAD_ARGUMENT);
  const auto& tokens = s->file.tokens;
  int index = -1;
  for (size_t i = 0; i < tokens.size(); ++i)
    if (tokens[i].serial == std::string_view(selector, strnlen(selector, 24)) &&
        tokens[i].name == std::string_view(name, strnlen(name, 24)))
      index = static_cast<int>(i);
  if (index < 0) return Fail(s, TOKENPAD_ERR_NO_TOKEN);
  const SoftToken& t = tokens[static_cast<size_t>(index)];
  std::string seed;
  if (t.password == PasswordMode::kNone) {
    seed = t.seed;
  } else {
    std::string pw = password ? std::string(password, strnlen(password, 256)) : "";
    bool form_ok = !pw.empty() && (t.password != PasswordMode::kNumeric || kel::AllDigits(pw));
    bool ok = form_ok && UnsealSeed(t.sealed, pw, t.serial, &seed);
    kel::Wipe(pw);
    if (!ok) return Fail(s, TOKENPAD_ERR_BAD_PASSWORD);
  }
  kel::Wipe(s->seed);
  s->seed = std::move(seed);
  s->selected = index;
  s->error = TOKENPAD_ERR_NONE;
  return 1;
}

TP_EXPORT void SetTokenTime(uint32_t handle, uint32_t seconds) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Service* s = Find(handle);
  if (!s) return;
  s->clock_set = true;
  s->clock_offset = static_cast<int64_t>(seconds) - kel::ServerNow();
}

TP_EXPORT int GetPasscode(uint32_t handle, const char* pin, char* passcode, char* nextPasscode, char* spareCode,
                          char* tokencode) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Service* s = Find(handle);
  if (!s) return 0;
  if (s->selected < 0) return Fail(s, TOKENPAD_ERR_NOT_SELECTED);
  const SoftToken& t = s->file.tokens[static_cast<size_t>(s->selected)];
  if (!pin || !PinFits(t, pin)) return Fail(s, TOKENPAD_ERR_BAD_PIN);
  int64_t now = kel::ServerNow() + (s->clock_set ? s->clock_offset : 0);
  int64_t counter = kel::CounterAt(now, t.step);
  std::string codes[3];
  for (int i = 0; i < 3; ++i) {
    codes[i] = kel::TokenCode(s->seed, static_cast<uint64_t>(counter + i), t.digits);
    if (codes[i].empty()) return Fail(s, TOKENPAD_ERR_BAD_FILE);
  }
  std::string p(pin);
  if (t.pinpad) {
    WriteCode(passcode, kel::CombinePinPad(codes[0], p));
    WriteCode(nextPasscode, kel::CombinePinPad(codes[1], p));
    WriteCode(spareCode, kel::CombinePinPad(codes[2], p));
  } else {
    WriteCode(passcode, p + codes[0]);
    WriteCode(nextPasscode, codes[1]);
    WriteCode(spareCode, codes[2]);
  }
  WriteCode(tokencode, codes[0]);
  kel::Wipe(p);
  for (auto& c : codes) kel::Wipe(c);
  s->error = TOKENPAD_ERR_NONE;
  return 1;
}

TP_EXPORT int NewPinMode(uint32_t handle, const char* currentPin, const char* newPin) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Service* s = Find(handle);
  if (!s) return 0;
  if (s->selected < 0) return Fail(s, TOKENPAD_ERR_NOT_SELECTED);
  const SoftToken& t = s->file.tokens[static_cast<size_t>(s->selected)];
  if (!newPin || !*newPin || !PinFits(t, newPin)) return Fail(s, TOKENPAD_ERR_BAD_PIN);
  s->error = TOKENPAD_ERR_NONE;
  return 1;
}

TP_EXPORT uint32_t GetTokenError(uint32_t handle, uint32_t* error) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_services.find(handle);
  uint32_t e = it == g_services.end() ? g_last_error : it->second.error;
  if (error) *error = e;
  return e;
}

TP_EXPORT int GetDLLInfo(void* info) {
  if (!info) return 0;
  uint32_t words[2] = {TOKENPAD_MAJOR_VERSION, TOKENPAD_MINOR_VERSION};
  std::memcpy(info, words, sizeof words);
  return 1;
}
