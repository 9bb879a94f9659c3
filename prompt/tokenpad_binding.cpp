#include "prompt/tokenpad_binding.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>

#include "platform/dynlib/dynlib.h"

namespace qv::prompt {
namespace {

std::mutex g_lock;
bool g_tried = false;
TokenpadBinding g_binding;

template <typename Fn>
bool Find(void* library, const char* name, Fn& entry) {
  entry = qv::dynlib::EntryAs<Fn>(library, name);
  return entry != nullptr;
}

TokenpadBinding Load() {
  TokenpadBinding b;
  const char* override = std::getenv("TAVRIK_TOKENPAD_LIBRARY");
  b.library = qv::dynlib::Open(override != nullptr && *override != '\0' ? override : "libtokenpad32.so");
  if (b.library == nullptr) return TokenpadBinding();
  bool complete = Find(b.library, "OpenTokenService", b.openTokenService) &&
                  Find(b.library, "CloseTokenService", b.closeTokenService) &&
                  Find(b.library, "EnumToken", b.enumToken) &&
                  Find(b.library, "GetPasscode", b.getPasscode) &&
                  Find(b.library, "NewPinMode", b.newPinMode) &&
                  Find(b.library, "SelectToken", b.selectToken) &&
                  Find(b.library, "SetTokenTime", b.setTokenTime) &&
                  Find(b.library, "GetTokenError", b.getTokenError);
  if (!complete) {
    qv::dynlib::Close(b.library);
    return TokenpadBinding();
  }
  decltype(&::GetDLLInfo) getDllInfo = nullptr;
  if (Find(b.library, "GetDLLInfo", getDllInfo)) {
    uint32_t info[2] = {0, 0};
    (void)getDllInfo(info);
    b.version4 = info[0] >= 4;
  }
  return b;
}

// Releases the library when the prompt library is unloaded.
struct Unloader {
  ~Unloader() { UnbindTokenpad(); }
} g_unloader;

}  // namespace

const TokenpadBinding& BindTokenpad() {
  std::lock_guard<std::mutex> guard(g_lock);
  if (!g_tried) {
    g_binding = Load();
    g_tried = true;
  }
  return g_binding;
}

const TokenpadBinding& CurrentTokenpad() { return g_binding; }

void UnbindTokenpad() {
  std::lock_guard<std::mutex> guard(g_lock);
  qv::dynlib::Close(g_binding.library);
  g_binding = TokenpadBinding();
  g_tried = false;
}

unsigned TokenError(unsigned service) {
  const TokenpadBinding& b = CurrentTokenpad();
  if (!b.Bound()) return 0;
  uint32_t error = 0;
  uint32_t answer = b.getTokenError(service, &error);
  return answer != 0 ? answer : error;
}

}  // namespace qv::prompt
