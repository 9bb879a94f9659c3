#include "authclient/record.h"

#include <charconv>
#include <strings.h>

#include "authclient/pinhash.h"
#include "authclient/textcodec.h"

namespace kel {
namespace {

constexpr std::string_view kMagic = "tavrik-token-store 1";

bool ToInt(std::string_view v, int64_t lo, int64_t hi, int64_t* out) {
  if (v.empty() || v.size() > 20) return false;
  int64_t x = 0;
  auto r = std::from_chars(v.data(), v.data() + v.size(), x);
  if (r.ec != std::errc() || r.ptr != v.data() + v.size() || x < lo || x > hi) return false;
  *out = x;
  return true;
}

template <typename T>
bool SetInt(std::string_view v, int64_t lo, int64_t hi, T* field) {
  int64_t x;
  if (!ToInt(v, lo, hi, &x)) return false;
  *field = static_cast<T>(x);
  return true;
}

bool SetBool(std::string_view v, bool* field) {
  if (v == "0") *field = false;
  else if (v == "1") *field = true;
  else return false;
  return true;
}

std::vector<std::string_view> Split(std::string_view line) {
  std::vector<std::string_view> parts;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    size_t j = i;
    while (j < line.size() && line[j] != ' ') ++j;
    if (j > i) parts.push_back(line.substr(i, j - i));
    i = j;
  }
  return parts;
}

constexpr int64_t kCounterMax = int64_t(1) << 40;

bool ParseUserField(std::string_view key, std::string_view v, UserRecord& u) {
  if (key == "name") return PercentDecode(v, &u.name) && ValidUserName(u.name);
  if (key == "kind") {
    if (v == "standard") u.kind = TokenKind::kStandard;
    else if (v == "pinpad") u.kind = TokenKind::kPinPad;
    else return false;
    return true;
  }
  if (key == "seed") return (v == "-" ? (u.seed.clear(), true) : HexDecode(v, &u.seed)) && u.seed.size() <= kMaxSeedBytes;
  if (key == "step") return SetInt(v, 30, 60, &u.step) && (u.step == 30 || u.step == 60);
  if (key == "digits") return SetInt(v, 6, 8, &u.digits) && (u.digits == 6 || u.digits == 8);
  if (key == "pin") {
    if (v == "-") {
      u.pin_hash.clear();
      return true;
    }
    u.pin_hash = std::string(v);
    return IsPinHash(v);
  }
  if (key == "minpin") return SetInt(v, 1, kMaxPinLen, &u.rules.min_len);
  if (key == "maxpin") return SetInt(v, 1, kMaxPinLen, &u.rules.max_len);
  if (key == "mode") return SetInt(v, 0, 2, &u.rules.mode);
  if (key == "alnum") return SetBool(v, &u.rules.alphanumeric);
  if (key == "shell") return PercentDecode(v, &u.shell) && u.shell.size() <= kMaxShellLen;
  if (key == "newpin") return SetBool(v, &u.new_pin);
  if (key == "nextcode") return SetBool(v, &u.next_code);
  if (key == "disabled") return SetBool(v, &u.disabled);
  if (key == "fails") return SetInt(v, 0, 1000000, &u.fails);
  if (key == "last") return SetInt(v, -1, kCounterMax, &u.last);
  if (key == "drift") return SetInt(v, -kCounterMax, kCounterMax, &u.drift);
  if (key == "grace") return SetInt(v, -1, kCounterMax, &u.grace);
  return false;
}

bool ParseSettingsField(std::string_view key, std::string_view v, StoreSettings& s) {
  if (key == "nextafter") return SetInt(v, 1, 1000, &s.next_after);
  if (key == "disableafter") return SetInt(v, 1, 1000, &s.disable_after);
  if (key == "window") return SetInt(v, 0, 10, &s.window);
  if (key == "farwindow") return SetInt(v, 0, 100, &s.far_window);
  return false;
}

}  // namespace

bool ValidUserName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameLen) return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7f) return false;
  return true;
}

bool ValidRules(const PinRules& r, TokenKind kind, unsigned digits) {
  if (r.min_len < 1 || r.max_len > kMaxPinLen || r.min_len > r.max_len) return false;
  if (r.mode < 0 || r.mode > 2) return false;
  if (kind == TokenKind::kPinPad && (r.alphanumeric || r.max_len > static_cast<int>(digits))) return false;
  return true;
}

bool ParseStore(std::string_view text, Store* out, std::string* error) {
  Store store;
  bool magic = false, settings = false;
  size_t line_no = 0;
  auto fail = [&](const std::string& why) {
    if (error) *error = "line " + std::to_string(line_no) + ": " + why;
    return false;
  };
  while (!text.empty()) {
    size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') continue;
    if (!magic) {
      if (line != kMagic) return fail("not a token store");
      magic = true;
      continue;
    }
    auto parts = Split(line);
    if (parts.empty()) continue;
    bool is_user = parts[0] == "user";
    if (!is_user && parts[0] != "settings") return fail("unknown record");
    if (!is_user && settings) return fail("second settings record");
    UserRecord u;
    bool have_name = false;
    for (size_t i = 1; i < parts.size(); ++i) {
      size_t eq = parts[i].find('=');
      if (eq == std::string_view::npos) return fail("field without value");
      std::string_view key = parts[i].substr(0, eq), value = parts[i].substr(eq + 1);
      bool ok = is_user ? ParseUserField(key, value, u) : ParseSettingsField(key, value, store.settings);
      if (!ok) return fail("bad field " + std::string(key));
      if (key == "name") have_name = true;
    }
    if (is_user) {
      if (!have_name) return fail("user without name");
      if (!ValidRules(u.rules, u.kind, u.digits)) return fail("bad PIN rules");
      for (const auto& other : store.users)
        if (other.name == u.name) return fail("duplicate user");
      store.users.push_back(std::move(u));
    } else {
      settings = true;
    }
  }
  if (!magic) return fail("not a token store");
  *out = std::move(store);
  return true;
}

std::string SerializeStore(const Store& store) {
  const StoreSettings& s = store.settings;
  std::string out = std::string(kMagic) + "\n";
  out += "settings nextafter=" + std::to_string(s.next_after) + " disableafter=" + std::to_string(s.disable_after) +
         " window=" + std::to_string(s.window) + " farwindow=" + std::to_string(s.far_window) + "\n";
  for (const auto& u : store.users) {
    out += "user name=" + PercentEncode(u.name);
    out += std::string(" kind=") + (u.kind == TokenKind::kPinPad ? "pinpad" : "standard");
    out += " seed=" + (u.seed.empty() ? std::string("-") : HexEncode(u.seed));
    out += " step=" + std::to_string(u.step) + " digits=" + std::to_string(u.digits);
    out += " pin=" + (u.pin_hash.empty() ? std::string("-") : u.pin_hash);
    out += " minpin=" + std::to_string(u.rules.min_len) + " maxpin=" + std::to_string(u.rules.max_len);
    out += " mode=" + std::to_string(u.rules.mode) + " alnum=" + (u.rules.alphanumeric ? "1" : "0");
    out += " shell=" + PercentEncode(u.shell);
    out += std::string(" newpin=") + (u.new_pin ? "1" : "0") + " nextcode=" + (u.next_code ? "1" : "0") +
           " disabled=" + (u.disabled ? "1" : "0");
    out += " fails=" + std::to_string(u.fails) + " last=" + std::to_string(u.last) +
           " drift=" + std::to_string(u.drift) + " grace=" + std::to_string(u.grace) + "\n";
  }
  return out;
}

UserRecord* FindUser(Store& store, std::string_view name) {
  for (auto& u : store.users)
    if (u.name == name) return &u;
  for (auto& u : store.users)
    if (u.name.size() == name.size() && strncasecmp(u.name.data(), name.data(), name.size()) == 0) return &u;
  size_t bs = name.rfind('\\');
  if (bs != std::string_view::npos && bs + 1 < name.size()) return FindUser(store, name.substr(bs + 1));
  return nullptr;
}

}  // namespace kel
