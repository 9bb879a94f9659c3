// The exported entries of libauthclient.so.
#include <cstring>
#include <string>

#include "authclient/clock.h"
#include "authclient/runtime.h"
#include "authclient/storefile.h"
#include "authclient/textcodec.h"
#include "kelclient.h"

#define KEL_EXPORT extern "C" __attribute__((visibility("default")))

using kel::FindHandle;
using kel::HandlePtr;
using kel::Request;

namespace {

// A text from the caller: false for NULL or longer than `max`.
bool Text(const char* p, size_t max, std::string* out) {
  if (!p) return false;
  size_t n = strnlen(p, max + 1);
  if (n > max) return false;
  out->assign(p, n);
  return true;
}

void CopyOut(const std::string& s, char* out, size_t size) {
  size_t n = s.size() < size - 1 ? s.size() : size - 1;
  std::memcpy(out, s.data(), n);
  std::memset(out + n, 0, size - n);
}

// Reads a rule of a handle in new-PIN mode; -1 otherwise.
template <typename F>
int Rule(KEL_HANDLE handle, F get) {
  HandlePtr h = FindHandle(handle);
  if (!h) return -1;
  std::lock_guard<std::mutex> lock(h->mutex);
  if (h->pending.kind != kel::Pending::kNewPin) return -1;
  return get(h->rules);
}

int SetInput(KEL_HANDLE handle, const char* text, size_t max, std::string kel::Handle::*field) {
  std::string value;
  if (!Text(text, max, &value)) return ACM_SYNTAX_ERR_3;
  HandlePtr h = FindHandle(handle);
  if (!h) return ACM_INVALID_HANDLE;
  std::lock_guard<std::mutex> lock(h->mutex);
  kel::Wipe((*h).*field);
  (*h).*field = std::move(value);
  return ACM_OK;
}

}  // namespace

KEL_EXPORT int KelInitialize(void) { return 1; }

KEL_EXPORT int KelInitializeEx(const char* store_dir) {
  kel::SetStoreDirForProcess(store_dir ? store_dir : "");
  return 1;
}

KEL_EXPORT int KelShutdown(KEL_CALLBACK expire) {
  kel::Shutdown(true, expire);
  return ACM_OK;
}

KEL_EXPORT int KelCleanup(void) {
  kel::Shutdown(false, nullptr);
  return ACM_OK;
}

KEL_EXPORT int QV_Init(KEL_HANDLE* handle) {
  if (!handle) return ACM_SYNTAX_ERR_3;
  *handle = kel::OpenHandle(nullptr, nullptr);
  return *handle ? ACM_OK : ACM_NO_RESOURCES;
}

KEL_EXPORT int QV_Check(KEL_HANDLE handle, const char* passcode, const char* username) {
  HandlePtr h = FindHandle(handle);
  if (!h) return ACM_INVALID_HANDLE;
  std::string pass, user;
  if (!Text(passcode, KEL_MAX_CODE_LEN, &pass) || !Text(username, KEL_MAX_USER_LEN, &user)) {
    std::lock_guard<std::mutex> lock(h->mutex);
    h->ClearPending();
    h->authenticated = false;
    return h->status = ACM_SYNTAX_ERR_3;
  }
  int status = kel::DoCheck(*h, pass, user);
  kel::Wipe(pass);
  return status;
}

KEL_EXPORT int QV_Pin(KEL_HANDLE handle, const char* pin) {
  HandlePtr h = FindHandle(handle);
  if (!h) return ACM_INVALID_HANDLE;
  std::string value;
  if (!Text(pin, KEL_MAX_CODE_LEN, &value)) value.clear();  // unreadable: ends the mode without a change
  int status = kel::DoPin(*h, value);
  kel::Wipe(value);
  return status;
}

KEL_EXPORT int QV_Next(KEL_HANDLE handle, const char* next_code) {
  HandlePtr h = FindHandle(handle);
  if (!h) return ACM_INVALID_HANDLE;
  std::string value;
  if (!Text(next_code, KEL_MAX_CODE_LEN, &value)) value.clear();
  int status = kel::DoNext(*h, value);
  kel::Wipe(value);
  return status;
}

KEL_EXPORT int QV_Close(KEL_HANDLE handle) { return kel::CloseHandle(handle) ? ACM_OK : ACM_INVALID_HANDLE; }

KEL_EXPORT int qv_init(KEL_HANDLE* handle) { return QV_Init(handle); }
KEL_EXPORT int qv_check(KEL_HANDLE handle, const char* passcode, const char* username) {
  return QV_Check(handle, passcode, username);
}
KEL_EXPORT int qv_pin(KEL_HANDLE handle, const char* pin) { return QV_Pin(handle, pin); }
KEL_EXPORT int qv_next(KEL_HANDLE handle, const char* next_code) { return QV_Next(handle, next_code); }
KEL_EXPORT int qv_close(KEL_HANDLE handle) { return QV_Close(handle); }

KEL_EXPORT int KelGetTime(KEL_HANDLE, uint32_t* seconds) {
  if (!seconds) return ACM_SYNTAX_ERR_3;
  *seconds = static_cast<uint32_t>(kel::ServerNow());
  return ACM_OK;
}

KEL_EXPORT int KelGetPinParams(KEL_HANDLE handle, KEL_PIN_PARAMS* params) {
  if (!params) return 0;
  HandlePtr h = FindHandle(handle);
  if (!h) return 0;
  std::lock_guard<std::mutex> lock(h->mutex);
  if (h->pending.kind != kel::Pending::kNewPin) return 0;
  std::memset(params, 0, sizeof *params);
  params->cMinPinLen = static_cast<signed char>(h->rules.min_len);
  params->cMaxPinLen = static_cast<signed char>(h->rules.max_len);
  params->bSelectable = static_cast<unsigned char>(h->rules.mode);
  params->bAlphanumeric = h->rules.alphanumeric ? 1 : 0;
  CopyOut(h->system_pin, params->szSystemPin, sizeof params->szSystemPin);
  return 1;
}

KEL_EXPORT int KelGetMinPinLen(KEL_HANDLE handle) {
  return Rule(handle, [](const kel::PinRules& r) { return r.min_len; });
}
KEL_EXPORT int KelGetMaxPinLen(KEL_HANDLE handle) {
  return Rule(handle, [](const kel::PinRules& r) { return r.max_len; });
}
KEL_EXPORT int KelGetUserSelectable(KEL_HANDLE handle) {
  return Rule(handle, [](const kel::PinRules& r) { return r.mode; });
}
KEL_EXPORT int KelGetAlphanumeric(KEL_HANDLE handle) {
  return Rule(handle, [](const kel::PinRules& r) { return r.alphanumeric ? 1 : 0; });
}

KEL_EXPORT int KelGetSystemPin(KEL_HANDLE handle, char* pin) {
  if (!pin) return 0;
  HandlePtr h = FindHandle(handle);
  if (!h) return 0;
  std::lock_guard<std::mutex> lock(h->mutex);
  if (h->pending.kind != kel::Pending::kNewPin) return 0;
  CopyOut(h->system_pin, pin, KEL_SYSTEM_PIN_SIZE);
  return 1;
}

KEL_EXPORT int KelSetUserData(KEL_HANDLE handle, void* data) {
  HandlePtr h = FindHandle(handle);
  if (!h) return ACM_INVALID_HANDLE;
  std::lock_guard<std::mutex> lock(h->mutex);
  h->user_data = data;
  return ACM_OK;
}

KEL_EXPORT int KelGetUserData(KEL_HANDLE handle, void** data) {
  HandlePtr h = FindHandle(handle);
  if (!h) return 0;
  std::lock_guard<std::mutex> lock(h->mutex);
  if (data) *data = h->user_data;
  return 1;
}

KEL_EXPORT int KelSetTimeout(KEL_HANDLE handle, uint32_t seconds, KEL_CALLBACK expire) {
  HandlePtr h = FindHandle(handle);
  if (!h) return ACM_INVALID_HANDLE;
  kel::SetTimeout(*h, handle, seconds, expire);
  return ACM_OK;
}

KEL_EXPORT int KelGetShell(KEL_HANDLE handle, char* shell) {
  if (!shell) return 0;
  HandlePtr h = FindHandle(handle);
  if (!h) return 0;
  std::lock_guard<std::mutex> lock(h->mutex);
  if (!h->authenticated) return 0;
  CopyOut(h->shell, shell, KEL_SHELL_SIZE);
  return 1;
}

KEL_EXPORT int KelSetUserClientAddress(KEL_HANDLE handle, uint32_t address) {
  HandlePtr h = FindHandle(handle);
  if (!h) return ACM_INVALID_HANDLE;
  std::lock_guard<std::mutex> lock(h->mutex);
  h->client_address = address;
  return ACM_OK;
}

KEL_EXPORT int KelInit(KEL_HANDLE* handle, void* data, KEL_CALLBACK done) {
  if (!handle) return ACM_SYNTAX_ERR_3;
  KEL_HANDLE id = kel::OpenHandle(data, nullptr);
  *handle = id;
  if (!id) return ACM_NO_RESOURCES;
  int rc = kel::Submit(id, Request::kInit, done);
  if (rc != ACM_REQUEST_PENDING) {
    kel::CloseHandle(id);
    *handle = 0;
  }
  return rc;
}

KEL_EXPORT int KelSetUsername(KEL_HANDLE handle, const char* username) {
  return SetInput(handle, username, KEL_MAX_USER_LEN, &kel::Handle::in_user);
}
KEL_EXPORT int KelSetPasscode(KEL_HANDLE handle, const char* passcode) {
  return SetInput(handle, passcode, KEL_MAX_CODE_LEN, &kel::Handle::in_passcode);
}
KEL_EXPORT int KelSetNextPasscode(KEL_HANDLE handle, const char* next_code) {
  return SetInput(handle, next_code, KEL_MAX_CODE_LEN, &kel::Handle::in_next);
}
KEL_EXPORT int KelSetPin(KEL_HANDLE handle, const char* pin) {
  return SetInput(handle, pin, KEL_MAX_CODE_LEN, &kel::Handle::in_pin);
}

KEL_EXPORT int KelCheck(KEL_HANDLE handle, KEL_CALLBACK done) { return kel::Submit(handle, Request::kCheck, done); }
KEL_EXPORT int KelSendNextPasscode(KEL_HANDLE handle, KEL_CALLBACK done) {
  return kel::Submit(handle, Request::kNext, done);
}
KEL_EXPORT int KelSendPin(KEL_HANDLE handle, KEL_CALLBACK done) { return kel::Submit(handle, Request::kPin, done); }
KEL_EXPORT int KelCancelPin(KEL_HANDLE handle, KEL_CALLBACK done) {
  return kel::Submit(handle, Request::kCancelPin, done);
}
KEL_EXPORT int KelClose(KEL_HANDLE handle, KEL_CALLBACK done) { return kel::Submit(handle, Request::kClose, done); }

KEL_EXPORT int KelGetAuthenticationStatus(KEL_HANDLE handle, int* status) {
  HandlePtr h = FindHandle(handle);
  if (!h) return 0;
  std::lock_guard<std::mutex> lock(h->mutex);
  if (status) *status = h->status;
  return 1;
}

KEL_EXPORT int KelClientCheck(const char* username, const char* passcode, char* shell) {
  KEL_HANDLE h = 0;
  int rc = QV_Init(&h);
  if (rc != ACM_OK) return rc;
  rc = QV_Check(h, passcode, username);
  if (shell && (rc != ACM_OK || !KelGetShell(h, shell))) shell[0] = '\0';
  QV_Close(h);
  return rc;
}

KEL_EXPORT int KelStartAuth(KEL_HANDLE* handle, const char* username) {
  int rc = QV_Init(handle);
  if (rc != ACM_OK) return rc;
  rc = KelSetUsername(*handle, username);
  if (rc != ACM_OK) {
    QV_Close(*handle);
    *handle = 0;
  }
  return rc;
}

KEL_EXPORT int KelContinueAuth(KEL_HANDLE handle, const char* text) {
  HandlePtr h = FindHandle(handle);
  if (!h) return ACM_INVALID_HANDLE;
  kel::Pending::Kind kind;
  std::string user;
  {
    std::lock_guard<std::mutex> lock(h->mutex);
    kind = h->pending.kind;
    user = h->in_user;
  }
  if (kind == kel::Pending::kNextCode) return QV_Next(handle, text);
  if (kind == kel::Pending::kNewPin) return QV_Pin(handle, text);
  return QV_Check(handle, text, user.c_str());
}

KEL_EXPORT int KelCloseAuth(KEL_HANDLE handle) { return QV_Close(handle); }
