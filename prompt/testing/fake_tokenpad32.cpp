#include "prompt/testing/fake_tokenpad32.h"

#include <cstring>
#include <string>

#include "tokenpad32.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

FakeTokenpadState g_state;
constexpr uint32_t kHandle = 77;

void Copy(char* to, size_t size, const char* from) {
  if (from == nullptr) {
    to[0] = '\0';
    return;
  }
  std::strncpy(to, from, size - 1);
  to[size - 1] = '\0';
}

std::string WithPin(const char* code, const char* pin) {
  std::string out(code);
  size_t t = out.size(), p = std::strlen(pin);
  while (t > 0 && p > 0) {
    --t;
    --p;
    out[t] = static_cast<char>('0' + ((out[t] - '0') + (pin[p] - '0')) % 10);
  }
  return out;
}

}  // namespace

FAKE_EXPORT FakeTokenpadState* FakeTokenpad_State() { return &g_state; }

FAKE_EXPORT int OpenTokenService(uint32_t* handle) {
  ++g_state.openCalls;
  if (g_state.openFails) return 0;
  *handle = kHandle;
  return 1;
}

FAKE_EXPORT void CloseTokenService(uint32_t) { ++g_state.closeCalls; }

FAKE_EXPORT int EnumToken(uint32_t, uint32_t* count, uint32_t* defaultToken, void* list,
                          uint32_t* size) {
  ++g_state.enumCalls;
  uint32_t needed = g_state.tokenCount * 124;
  *count = g_state.tokenCount;
  *defaultToken = g_state.defaultToken;
  if (list == nullptr || *size < needed) {
    *size = needed;
    return 0;
  }
  auto* bytes = static_cast<unsigned char*>(list);
  std::memset(bytes, 0, needed);
  for (uint32_t i = 0; i < g_state.tokenCount && i < 4; ++i) {
    unsigned char* e = bytes + i * 124;
    std::memcpy(e, &i, 4);
    std::memcpy(e + 4, g_state.names[i], 24);
    std::memcpy(e + 28, g_state.serials[i], 24);
    std::memcpy(e + 52, g_state.selectors[i], 24);
    std::memcpy(e + 76, g_state.modes[i], 24);
  }
  *size = needed;
  return 1;
}

#ifndef FAKE_TOKENPAD_INCOMPLETE
FAKE_EXPORT int SelectToken(uint32_t, const char* name, const char* selector,
                            const char* password) {
  ++g_state.selectCalls;
  Copy(g_state.lastName, sizeof g_state.lastName, name);
  Copy(g_state.lastSelector, sizeof g_state.lastSelector, selector);
  g_state.lastPasswordNull = password == nullptr;
  Copy(g_state.lastPassword, sizeof g_state.lastPassword, password);
  if (g_state.selectError != 0) {
    g_state.lastError = g_state.selectError;
    return 0;
  }
  if (g_state.password[0] != '\0' &&
      (password == nullptr || std::strcmp(password, g_state.password) != 0)) {
    g_state.lastError = TOKENPAD_ERR_BAD_PASSWORD;
    return 0;
  }
  return 1;
}
#endif

FAKE_EXPORT void SetTokenTime(uint32_t, uint32_t seconds) {
  ++g_state.setTimeCalls;
  g_state.lastTime = seconds;
}

FAKE_EXPORT int GetPasscode(uint32_t, const char* pin, char* passcode, char* next, char* spare,
                            char* tokencode) {
  ++g_state.passcodeCalls;
  Copy(g_state.lastPin, sizeof g_state.lastPin, pin);
  if (g_state.passcodeFails) {
    g_state.lastError = TOKENPAD_ERR_NOT_SELECTED;
    return 0;
  }
  Copy(passcode, 18, WithPin(g_state.tokencode, pin).c_str());
  Copy(next, 18, WithPin(g_state.nextTokencode, pin).c_str());
  Copy(spare, 18, "999999");
  Copy(tokencode, 18, g_state.tokencode);
  return 1;
}

FAKE_EXPORT int NewPinMode(uint32_t, const char* currentPin, const char* newPin) {
  ++g_state.newPinCalls;
  Copy(g_state.newPinFrom, sizeof g_state.newPinFrom, currentPin);
  Copy(g_state.newPinTo, sizeof g_state.newPinTo, newPin);
  if (g_state.newPinFails) {
    g_state.lastError = TOKENPAD_ERR_BAD_PIN;
    return 0;
  }
  return 1;
}

FAKE_EXPORT uint32_t GetTokenError(uint32_t, uint32_t* error) {
  if (error != nullptr) *error = g_state.lastError;
  return g_state.lastError;
}

FAKE_EXPORT int GetDLLInfo(void* info) {
  uint32_t words[2] = {g_state.majorVersion, 0};
  std::memcpy(info, words, sizeof words);
  return 1;
}
