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
  if (user.empty() || user.size() > KEL_MAX_USER_LEN || passcode.empty() || passcode.size() > KEL_MAX_CODE_LEN)
    return h.status = ACM_SYNTAX_ERR_3;

  const int64_t now = ServerNow();
  const std::string dir = StoreDir();
  // Judge a copy under the shared lock first, so that the PIN hash of one
  // check does not hold up the others; the result is applied under the
  // exclusive lock only when the record is unchanged meanwhile, else the
  // check is judged again there.
  Store snapshot;
  StoreResult r = ReadStore(dir, &snapshot, nullptr);
  if (r != StoreResult::kOk) return h.status = FromStore(r);
  UserRecord* found = FindUser(snapshot, user);
  if (!found) return h.status = ACM_ACCESS_DENIED;
  const UserRecord before = *found;
  UserRecord after = before;
  Pending pending;
  int status = JudgePasscode(after, snapshot.settings, passcode, now, &pending);

  r = UpdateStore(
      dir,
      [&](Store& store) {
        UserRecord* u = FindUser(store, user);
        if (!u) {
          status = ACM_ACCESS_DENIED;
          return false;
        }
        if (!(*u == before) || !(store.settings == snapshot.settings)) {
          after = *u;
          status = JudgePasscode(after, store.settings, passcode, now, &pending);
        }
        bool changed = !(after == *u);
        *u = after;
        return changed;
      },
      false, nullptr);
  if (r != StoreResult::kOk) {
    Wipe(pending.pin);
    return h.status = FromStore(r);
  }
  h.pending = std::move(pending);
  h.user = after.name;
  if (status == ACM_OK) h.shell = after.shell;
  if (status == ACM_NEW_PIN_REQUIRED) {
    h.rules = EffectiveRules(after);
    h.system_pin = GenerateSystemPin(h.rules);
  }
  h.authenticated = status == ACM_OK;
  return h.status = status;
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
