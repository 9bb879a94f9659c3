#include "authclient/judge.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <vector>

#include "authclient/otp.h"
#include "authclient/pinhash.h"
#include "authclient/textcodec.h"
#include "kelclient.h"

namespace kel {
namespace {

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

bool WellFormed(std::string_view passcode) {
  if (passcode.empty() || passcode.size() > KEL_MAX_CODE_LEN) return false;
  for (char c : passcode)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
  return true;
}

// Counters to try: the direct window around the tracked drift first, then the
// far window around the uncorrected clock.
std::vector<std::pair<int64_t, bool>> Candidates(const UserRecord& u, const StoreSettings& s, int64_t now) {
  std::vector<std::pair<int64_t, bool>> out;
  int64_t cur = CounterAt(now, u.step);
  int64_t centre = cur + u.drift;
  for (int64_t d = 0; d <= s.window; ++d) {
    out.push_back({centre + d, true});
    if (d) out.push_back({centre - d, true});
  }
  for (int64_t d = 0; d <= s.far_window; ++d) {
    for (int64_t c : {cur + d, cur - d}) {
      if (c < 0 || std::any_of(out.begin(), out.end(), [&](auto& p) { return p.first == c; })) continue;
      out.push_back({c, false});
    }
  }
  std::erase_if(out, [](auto& p) { return p.first < 0; });
  return out;
}

// Verifies a PIN against the record; an unset PIN matches only "".
class PinChecker {
 public:
  explicit PinChecker(const UserRecord& u) : u_(u) {}
  ~PinChecker() {
    for (auto& p : tried_) Wipe(p.first);
  }
  bool Matches(const std::string& pin) {
    if (u_.pin_hash.empty()) return pin.empty();
    for (auto& p : tried_)
      if (p.first == pin) return p.second;
    bool ok = VerifyPin(u_.pin_hash, pin);
    tried_.push_back({pin, ok});
    return ok;
  }

 private:
  const UserRecord& u_;
  std::vector<std::pair<std::string, bool>> tried_;
};

// PIN-pad: the PIN candidates that a difference string allows (leading zeros
// stand for the tokencode digits left of a shorter PIN).
bool PinPadMatch(const UserRecord& u, PinChecker& checker, const std::string& diff, std::string* pin) {
  if (u.pin_hash.empty()) {
    if (diff.find_first_not_of('0') != std::string::npos) return false;
    pin->clear();
    return true;
  }
  PinRules r = EffectiveRules(u);
  for (int len = std::min<int>(r.max_len, static_cast<int>(diff.size())); len >= r.min_len; --len) {
    size_t lead = diff.size() - static_cast<size_t>(len);
    if (diff.find_first_not_of('0') < lead) break;  // a non-zero digit left of the PIN
    std::string candidate = diff.substr(lead);
    if (checker.Matches(candidate)) {
      *pin = candidate;
      return true;
    }
    Wipe(candidate);
  }
  return false;
}

int Failure(UserRecord& u, const StoreSettings& s) {
  ++u.fails;
  if (u.fails >= s.next_after) u.next_code = true;
  if (u.fails >= s.disable_after) u.disabled = true;
  return ACM_ACCESS_DENIED;
}

}  // namespace

PinRules EffectiveRules(const UserRecord& u) {
  PinRules r = u.rules;
  if (u.kind == TokenKind::kPinPad) {
    r.alphanumeric = false;
    r.max_len = std::min<int>(r.max_len, static_cast<int>(u.digits));
    r.min_len = std::min(r.min_len, r.max_len);
  }
  return r;
}

bool PinFitsRules(const PinRules& r, std::string_view pin) {
  if (static_cast<int>(pin.size()) < r.min_len || static_cast<int>(pin.size()) > r.max_len) return false;
  for (char c : pin) {
    bool digit = c >= '0' && c <= '9';
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!digit && !(r.alphanumeric && letter)) return false;
  }
  return true;
}

std::string GenerateSystemPin(const PinRules& r) {
  if (r.mode == 2) return "";
  static const char kChars[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  const unsigned alphabet = r.alphanumeric ? 36 : 10;
  int len = std::clamp(8, r.min_len, r.max_len);
  std::string pin;
  while (static_cast<int>(pin.size()) < len) {
    unsigned char b;
    if (!RandomBytes(&b, 1)) {
      Wipe(pin);
      return "";
    }
    unsigned limit = 256 - 256 % alphabet;  // no modulo bias
    if (b < limit) pin.push_back(kChars[b % alphabet]);
  }
  return pin;
}

int JudgePasscode(UserRecord& u, const StoreSettings& s, std::string_view passcode, int64_t now, Pending* pending) {
  pending->kind = Pending::kNone;
  pending->counter = -1;
  Wipe(pending->pin);
  if (!WellFormed(passcode)) return ACM_SYNTAX_ERR_3;
  if (u.disabled || u.seed.empty()) return ACM_ACCESS_DENIED;

  const int64_t cur = CounterAt(now, u.step);
  std::string_view code = passcode;
  std::string pin_part;
  if (u.kind == TokenKind::kStandard) {
    if (passcode.size() < u.digits) return Failure(u, s);
    code = passcode.substr(passcode.size() - u.digits);
    pin_part = std::string(passcode.substr(0, passcode.size() - u.digits));
  } else if (passcode.size() != u.digits || !AllDigits(passcode)) {
    return Failure(u, s);
  }

  PinChecker checker(u);
  int64_t matched = -1;
  bool near = false;
  std::string proven_pin;
  for (const auto& [counter, direct] : Candidates(u, s, now)) {
    std::string expected = TokenCode(u.seed, static_cast<uint64_t>(counter), u.digits);
    if (expected.empty()) return ACM_INVALID_SERVER;
    bool ok;
    if (u.kind == TokenKind::kStandard) {
      ok = SameText(expected, code);
    } else {
      std::string diff = SubtractPinPad(passcode, expected);
      ok = PinPadMatch(u, checker, diff, &proven_pin);
      Wipe(diff);
    }
    Wipe(expected);
    if (!ok) continue;
    bool replay = counter <= u.last;
    bool grace = replay && counter == u.grace && cur - counter <= s.far_window + s.window;
    if (replay && !grace) continue;  // a used tokencode; a later one may still match
    matched = counter;
    near = direct;
    if (grace) u.grace = -1;
    break;
  }
  if (matched < 0) {
    Wipe(pin_part);
    return Failure(u, s);
  }
  if (u.kind == TokenKind::kStandard) {
    bool pin_ok = checker.Matches(pin_part);
    Wipe(pin_part);
    if (!pin_ok) return Failure(u, s);
  }

  u.last = std::max(u.last, matched);
  if (matched != u.grace) u.grace = -1;
  pending->counter = matched;
  if (u.new_pin && near) {
    pending->kind = Pending::kNewPin;
    u.fails = 0;
    u.drift = matched - cur;
    Wipe(proven_pin);
    return ACM_NEW_PIN_REQUIRED;
  }
  if (!near || u.next_code) {
    pending->kind = Pending::kNextCode;
    pending->pin = std::move(proven_pin);
    return ACM_NEXT_CODE_REQUIRED;
  }
  u.fails = 0;
  u.drift = matched - cur;
  Wipe(proven_pin);
  return ACM_OK;
}

int JudgeNext(UserRecord& u, const StoreSettings& s, Pending* pending, std::string_view code, int64_t now) {
  if (u.disabled) return ACM_ACCESS_DENIED;
  const int64_t want = pending->counter + 1;
  bool ok = false;
  if (want > u.last && WellFormed(code)) {
    std::string expected = TokenCode(u.seed, static_cast<uint64_t>(want), u.digits);
    if (expected.empty()) return ACM_INVALID_SERVER;
    ok = SameText(expected, code);
    if (!ok && u.kind == TokenKind::kPinPad) {
      std::string combined = CombinePinPad(expected, pending->pin);
      ok = SameText(combined, code);
      Wipe(combined);
    }
    Wipe(expected);
  }
  if (!ok) {
    Failure(u, s);
    pending->kind = Pending::kNone;
    Wipe(pending->pin);
    return ACM_NEXT_CODE_REJECTED;
  }
  u.last = want;
  u.fails = 0;
  u.next_code = false;
  u.drift = want - CounterAt(now, u.step);
  Wipe(pending->pin);
  if (u.new_pin) {
    pending->kind = Pending::kNewPin;
    pending->counter = want;
    return ACM_NEW_PIN_REQUIRED;
  }
  pending->kind = Pending::kNone;
  return ACM_OK;
}

int JudgeNewPin(UserRecord& u, const Pending& pending, std::string_view pin, std::string_view system_pin) {
  if (pin.empty()) return ACM_NEW_PIN_REJECTED;
  if (u.disabled) return ACM_NEW_PIN_REJECTED;
  PinRules r = EffectiveRules(u);
  if (!PinFitsRules(r, pin)) return ACM_NEW_PIN_REJECTED;
  if (r.mode == 0 && !SameText(pin, system_pin)) return ACM_NEW_PIN_REJECTED;
  std::string hash = HashPin(pin);
  if (hash.empty()) return ACM_NEW_PIN_REJECTED;
  u.pin_hash = std::move(hash);
  u.new_pin = false;
  u.grace = pending.counter;
  return ACM_NEW_PIN_ACCEPTED;
}

}  // namespace kel
