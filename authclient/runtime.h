// Handles of the authentication client library and its own thread.
//
// The library thread runs asynchronous requests in order and fires handle
// time-outs. Callbacks are always called without any library lock held.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "authclient/judge.h"
#include "kelclient.h"

namespace kel {

struct Handle {
  std::mutex mutex;
  void* user_data = nullptr;
  int status = ACM_OK;  // last result
  std::string user;     // user of the last check
  Pending pending;
  PinRules rules;
  std::string system_pin;
  std::string shell;
  bool authenticated = false;
  uint32_t client_address = 0;
  // Inputs of asynchronous requests.
  std::string in_user, in_passcode, in_next, in_pin;
  // Time-out (steady clock, milliseconds since an arbitrary epoch; 0 none);
  // read by the library thread without the handle's mutex.
  std::atomic<int64_t> deadline_ms{0};
  std::atomic<KEL_CALLBACK> expire{nullptr};

  ~Handle();
  void ClearPending();  // the exchange in progress and its system PIN
  void ClearSecrets();  // that and the inputs
};

using HandlePtr = std::shared_ptr<Handle>;

enum class Request { kInit, kCheck, kNext, kPin, kCancelPin, kClose };

// 0 when the table is full or the random source fails.
KEL_HANDLE OpenHandle(void* user_data, HandlePtr* out);
HandlePtr FindHandle(KEL_HANDLE id);
// True when the handle was live.
bool CloseHandle(KEL_HANDLE id);
// Sets or (0 seconds) removes a handle's time-out and wakes the library thread.
void SetTimeout(Handle& h, KEL_HANDLE id, uint32_t seconds, KEL_CALLBACK expire);

// Queues a request; ACM_REQUEST_PENDING, or ACM_NO_RESOURCES when the
// library thread cannot be started.
int Submit(KEL_HANDLE id, Request request, KEL_CALLBACK done);

// Stops the thread; then, when `call_expiry`, calls each timed handle's
// expiry routine (`expire` or its own), and closes all handles.
void Shutdown(bool call_expiry, KEL_CALLBACK expire);

// The synchronous operations on one handle.
int DoCheck(Handle& h, const std::string& passcode, const std::string& user);
int DoNext(Handle& h, const std::string& code);
int DoPin(Handle& h, const std::string& pin);

}  // namespace kel
