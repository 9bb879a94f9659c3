// Checks, next tokencodes and PIN changes of one handle against the store.
#include <cstring>

#include "authclient/clock.h"
#include "authclient/runtime.h"
#include "authclient/storefile.h"
#include "authclient/textcodec.h"

namespace kel {

Handle::~Handle() { ClearSecrets(); }

void Handle::ClearPending() {
  Wipe(pending.pin);
  Wipe(system_pin);
  pending.kind = Pending::kNone;
}

void Handle::ClearSecrets() {
  ClearPending();
  Wipe(in_passcode);
  Wipe(in_next);
  Wipe(in_pin);
}

namespace {

int FromStore(StoreResult r) { return r == StoreResult::kOk ? ACM_OK : ACM_INVALID_SERVER; }

}  // namespace

int DoCheck(Handle& h, const std::string& passcode, const std::string& user) {
  std::lock_guard<std::mutex> lock(h.mutex);
  h.ClearPending();
  h.authenticated = false;
  h.shell.clear();
  h.user = user;
  int status = ACM_ACCESS_DENIED;
  if (user.empty() || user.size() > KEL_MAX_USER_LEN || passcode.empty() || passcode.size() > KEL_MAX_CODE_LEN) {
    status = ACM_SYNTAX_ERR_3;
  } else {
    int64_t now = ServerNow();
    StoreResult r = UpdateStore(
        StoreDir(),
        [&](Store& store) {
          UserRecord* u = FindUser(store, user);
          if (!u) return false;
          UserRecord before = *u;
          status = JudgePasscode(*u, store.settings, passcode, now, &h.pending);
          if (status == ACM_OK) h.shell = u->shell;
          if (status == ACM_NEW_PIN_REQUIRED) {
            h.rules = EffectiveRules(*u);
            h.system_pin = GenerateSystemPin(h.rules);
          }
          h.user = u->name;
          return !(before == *u);
        },
        false, nullptr);
    if (r != StoreResult::kOk) {
      status = FromStore(r);
      h.ClearPending();
    }
  }
  h.authenticated = status == ACM_OK;
  h.status = status;
  return status;
}

int DoNext(Handle& h, const std::string& code) {
  std::lock_guard<std::mutex> lock(h.mutex);
  if (h.pending.kind != Pending::kNextCode) return h.status = ACM_WRONG_STATE;
  int status = ACM_NEXT_CODE_REJECTED;
  int64_t now = ServerNow();
  StoreResult r = UpdateStore(
      StoreDir(),
      [&](Store& store) {
        UserRecord* u = FindUser(store, h.user);
        if (!u) return false;
        status = JudgeNext(*u, store.settings, &h.pending, code, now);
        if (status == ACM_OK) h.shell = u->shell;
        if (status == ACM_NEW_PIN_REQUIRED) {
          h.rules = EffectiveRules(*u);
          h.system_pin = GenerateSystemPin(h.rules);
        }
        return true;
      },
      false, nullptr);
  if (r != StoreResult::kOk) {
    status = FromStore(r);
    h.ClearPending();
  }
  if (status != ACM_NEW_PIN_REQUIRED && status != ACM_OK) h.ClearPending();
  h.authenticated = status == ACM_OK;
  return h.status = status;
}

int DoPin(Handle& h, const std::string& pin) {
  std::lock_guard<std::mutex> lock(h.mutex);
  if (h.pending.kind != Pending::kNewPin) return h.status = ACM_WRONG_STATE;
  int status = ACM_NEW_PIN_REJECTED;
  if (!pin.empty()) {
    StoreResult r = UpdateStore(
        StoreDir(),
        [&](Store& store) {
          UserRecord* u = FindUser(store, h.user);
          if (!u) return false;
          status = JudgeNewPin(*u, h.pending, pin, h.system_pin);
          return status == ACM_NEW_PIN_ACCEPTED;
        },
        false, nullptr);
    if (r != StoreResult::kOk) status = FromStore(r);
  }
  h.ClearPending();  // either way the new-PIN exchange is over
  h.authenticated = false;
  return h.status = status;
}

}  // namespace kel
