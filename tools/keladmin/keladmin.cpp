#include "tools/keladmin/keladmin.h"

#include <fcntl.h>
#include <grp.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <fstream>
#include <istream>
#include <map>
#include <ostream>
#include <sstream>

#include "authclient/clock.h"
#include "authclient/otp.h"
#include "authclient/pinhash.h"
#include "authclient/record.h"
#include "authclient/storefile.h"
#include "authclient/textcodec.h"
#include "platform/paths/paths.h"
#include "tokenpad/tokenfile.h"

extern char** environ;

namespace keladmin {

const char kHelp[] = R"(NAME
    keladmin - administer the token store of the authentication client library

SYNOPSIS
    keladmin COMMAND [ARGUMENTS] [OPTIONS]
    keladmin --help

DESCRIPTION
    Users, their tokens, PINs and PIN rules live in the token store
    <state dir>/tokens/store (by default /var/lib/tavrik/tokens/store; the
    root moves with TAVRIK_ROOT). The store directory has mode 2770 and the
    store mode 0660: root and the service group "tavrik" read and write it.
    Run as root, keladmin creates that group when it is absent (groupadd
    --system; not when TAVRIK_ROOT names a private root) and falls back to
    root's group when there is none; run as another user, the store gets
    that user's group.

    Every command checks all of its input before it changes anything; a
    rejected command leaves the store as it was.

COMMANDS
    init
        Create an empty store.
    add USER [--shell TEXT] [RULES]
        Add a user without a token.
    delete USER
        Remove a user.
    assign USER [--kind standard|pinpad] [--digits 6|8] [--step 30|60] [--seed HEX]
        Give the user a token (a new random 160-bit seed unless --seed) and
        put it in new-PIN mode; prints the seed in base32 and as an otpauth
        URI for an authenticator application. A standard token's passcode is
        the PIN followed by the tokencode; a pinpad token's passcode is the
        tokencode with the PIN added digit by digit (a new pinpad token
        without a PIN takes zeros as its PIN).
    rules USER [RULES]
        Change the PIN rules.
    shell USER TEXT
        Set the shell text (at most 64 characters).
    new-pin USER
        Require a new PIN at the next log-in.
    reset USER
        Enable a disabled token and clear its failure count and the
        next-tokencode requirement.
    list
        List the users and the state of their tokens.
    code USER [--time SECONDS]
        Print the current tokencode of the user's token (for tests and demos).
    export USER [--file PATH] [--serial TEXT] [--name TEXT] [--password-stdin] [--numeric]
        Add the user's token to a software-token file (default: the file the
        software-token library reads for the calling user). With
        --password-stdin the first line of standard input is the token
        password and the seed is stored encrypted under it; --numeric asks
        for a password of digits.
    settings [--next-after N] [--disable-after N] [--window N] [--far-window N]
        Show or change the store settings: consecutive failures before the
        next tokencode is required (default 3) and before the token is
        disabled (default 10); the time steps accepted either side (default
        1) and the steps either side accepted with a next tokencode (default 10).

RULES
    --min N --max N      PIN length, 1 to 15 (pinpad: at most the digits)
    --mode 0|1|2         0 server-generated PIN, 1 either, 2 user-chosen
    --alnum 0|1          letters allowed

ENVIRONMENT
    TAVRIK_ROOT           root of every path of the system
    TAVRIK_FAKE_TIME      clock for tests (seconds since 1970)
    TAVRIK_TOKENPAD_FILE  software-token file used by export

EXIT STATUS
    0 success, 1 rejected input or failure, 2 usage error.
)";

namespace {

struct Args {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;
};

const std::map<std::string, bool> kOptions = {
    {"--shell", true},  {"--min", true},     {"--max", true},   {"--mode", true},          {"--alnum", true},
    {"--kind", true},   {"--digits", true},  {"--step", true},  {"--seed", true},          {"--time", true},
    {"--file", true},   {"--serial", true},  {"--name", true},  {"--password-stdin", false}, {"--numeric", false},
    {"--next-after", true}, {"--disable-after", true}, {"--window", true}, {"--far-window", true},
};

class Command {
 public:
  Command(std::istream& in, std::ostream& out, std::ostream& err) : in_(in), out_(out), err_(err) {}
  int Run(const std::vector<std::string>& argv);

 private:
  bool Parse(const std::vector<std::string>& argv, size_t from);
  bool Int(const std::string& opt, int lo, int hi, int* out);
  bool Rules(kel::PinRules* r);
  bool Fail(const std::string& message) {
    err_ << "keladmin: " << message << "\n";
    return false;
  }
  bool NeedUser(size_t extra = 0);
  bool Update(const std::function<bool(kel::Store&)>& change, bool create = false);
  bool PrepareDir();

  bool Init();
  bool Add();
  bool Delete();
  bool Assign();
  bool SetRules();
  bool Shell();
  bool NewPin();
  bool Reset();
  bool List();
  bool Code();
  bool Export();
  bool Settings();

  std::istream& in_;
  std::ostream& out_;
  std::ostream& err_;
  Args a_;
  std::string user_;
};

bool Command::Parse(const std::vector<std::string>& argv, size_t from) {
  for (size_t i = from; i < argv.size(); ++i) {
    const std::string& s = argv[i];
    if (s.rfind("--", 0) == 0) {
      auto it = kOptions.find(s);
      if (it == kOptions.end()) return Fail("unknown option " + s);
      if (a_.options.count(s)) return Fail("option " + s + " given twice");
      if (it->second) {
        if (i + 1 >= argv.size()) return Fail("option " + s + " needs a value");
        a_.options[s] = argv[++i];
      } else {
        a_.options[s] = "1";
      }
    } else {
      a_.positional.push_back(s);
    }
  }
  return true;
}

bool Command::Int(const std::string& opt, int lo, int hi, int* out) {
  auto it = a_.options.find(opt);
  if (it == a_.options.end()) return true;
  const std::string& v = it->second;
  int x = 0;
  auto r = std::from_chars(v.data(), v.data() + v.size(), x);
  if (v.empty() || r.ec != std::errc() || r.ptr != v.data() + v.size() || x < lo || x > hi)
    return Fail(opt + " must be a number from " + std::to_string(lo) + " to " + std::to_string(hi) + ": \"" + v +
                "\"");
  *out = x;
  return true;
}

bool Command::Rules(kel::PinRules* r) {
  int alnum = r->alphanumeric ? 1 : 0;
  if (!Int("--min", 1, kel::kMaxPinLen, &r->min_len) || !Int("--max", 1, kel::kMaxPinLen, &r->max_len) ||
      !Int("--mode", 0, 2, &r->mode) || !Int("--alnum", 0, 1, &alnum))
    return false;
  r->alphanumeric = alnum == 1;
  if (r->min_len > r->max_len) return Fail("the minimum PIN length is above the maximum");
  return true;
}

bool Command::NeedUser(size_t extra) {
  if (a_.positional.size() != 1 + extra) return Fail("expected a user name" + std::string(extra ? " and a value" : ""));
  user_ = a_.positional[0];
  if (!kel::ValidUserName(user_)) return Fail("invalid user name \"" + user_ + "\"");
  return true;
}

bool Command::PrepareDir() {
  std::string dir = kel::StoreDir();
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) return true;
  if (!qv::paths::MakeDirs(dir, 0770) || ::chmod(dir.c_str(), 02770) != 0)
    return Fail("cannot create " + dir);
  if (::geteuid() == 0) {
    struct group* g = ::getgrnam("tavrik");
    // Only the production layout creates the group: a private root (tests,
    // demos) never changes the system's group database.
    if (!g && qv::paths::Root().empty()) {
      pid_t pid;
      char* argv[] = {const_cast<char*>("groupadd"), const_cast<char*>("--system"), const_cast<char*>("tavrik"),
                      nullptr};
      int status = 0;
      if (posix_spawnp(&pid, "groupadd", nullptr, nullptr, argv, environ) == 0) waitpid(pid, &status, 0);
      g = ::getgrnam("tavrik");
    }
    gid_t gid = g ? g->gr_gid : 0;
    if (::chown(dir.c_str(), 0, gid) != 0) return Fail("cannot set the group of " + dir);
    ::chmod(dir.c_str(), 02770);
  }
  return true;
}

bool Command::Update(const std::function<bool(kel::Store&)>& change, bool create) {
  if (create && !PrepareDir()) return false;
  bool ok = true;
  std::string error;
  auto r = kel::UpdateStore(
      kel::StoreDir(),
      [&](kel::Store& s) {
        ok = change(s);
        return ok;
      },
      create, &error);
  if (r == kel::StoreResult::kMissing) return Fail("no token store in " + kel::StoreDir() + " (run keladmin init)");
  if (r == kel::StoreResult::kCorrupt) return Fail("the token store is damaged: " + error);
  if (r != kel::StoreResult::kOk) return Fail("cannot update the token store: " + error);
  return ok;
}

bool Command::Init() {
  if (!a_.positional.empty()) return Fail("init takes no arguments");
  return Update([](kel::Store&) { return true; }, true);
}

bool Command::Add() {
  if (!NeedUser()) return false;
  kel::UserRecord u;
  u.name = user_;
  if (!Rules(&u.rules)) return false;
  if (a_.options.count("--shell")) {
    u.shell = a_.options["--shell"];
    if (u.shell.size() > kel::kMaxShellLen) return Fail("the shell text is longer than 64 characters");
  }
  return Update(
      [&](kel::Store& s) {
        for (const auto& o : s.users)
          if (o.name == u.name) return Fail("user \"" + user_ + "\" exists");
        s.users.push_back(u);
        return true;
      },
      true);
}

// Runs `change` on the named user.
#define WITH_USER(body)                                                    \
  Update([&](kel::Store& s) {                                              \
    kel::UserRecord* u = nullptr;                                          \
    for (auto& x : s.users)                                                \
      if (x.name == user_) u = &x;                                         \
    if (!u) return Fail("no user \"" + user_ + "\"");                      \
    body                                                                   \
  })

bool Command::Delete() {
  if (!NeedUser()) return false;
  return Update([&](kel::Store& s) {
    auto n = std::erase_if(s.users, [&](const kel::UserRecord& x) { return x.name == user_; });
    return n ? true : Fail("no user \"" + user_ + "\"");
  });
}

bool Command::Assign() {
  if (!NeedUser()) return false;
  std::string kind = a_.options.count("--kind") ? a_.options["--kind"] : "standard";
  if (kind != "standard" && kind != "pinpad") return Fail("--kind must be standard or pinpad");
  int digits = 6, step = 30;
  if (!Int("--digits", 6, 8, &digits) || !Int("--step", 30, 60, &step)) return false;
  if (digits == 7) return Fail("--digits must be 6 or 8");
  if (step != 30 && step != 60) return Fail("--step must be 30 or 60");
  std::string seed;
  if (a_.options.count("--seed")) {
    if (!kel::HexDecode(a_.options["--seed"], &seed) || seed.size() < 10 || seed.size() > kel::kMaxSeedBytes)
      return Fail("--seed must be 10 to 64 bytes in hex");
  } else {
    seed.resize(20);
    if (!kel::RandomBytes(seed.data(), seed.size())) return Fail("no random bytes");
  }
  kel::TokenKind k = kind == "pinpad" ? kel::TokenKind::kPinPad : kel::TokenKind::kStandard;
  bool ok = WITH_USER({
    kel::PinRules rules = u->rules;
    if (k == kel::TokenKind::kPinPad) {
      rules.alphanumeric = false;
      if (rules.max_len > digits) rules.max_len = digits;
      if (rules.min_len > rules.max_len) rules.min_len = rules.max_len;
    }
    u->kind = k;
    u->seed = seed;
    u->digits = static_cast<unsigned>(digits);
    u->step = static_cast<unsigned>(step);
    u->rules = rules;
    u->pin_hash.clear();
    u->new_pin = true;
    u->next_code = u->disabled = false;
    u->fails = 0;
    u->last = u->grace = -1;
    u->drift = 0;
    return true;
  });
  if (!ok) return false;
  std::string b32 = kel::Base32(seed);
  out_ << "seed (base32): " << b32 << "\n";
  out_ << "otpauth://totp/Tavrik:" << kel::PercentEncode(user_) << "?secret=" << b32
       << "&issuer=Tavrik&algorithm=SHA1&digits=" << digits << "&period=" << step << "\n";
  kel::Wipe(seed);
  kel::Wipe(b32);
  return true;
}

bool Command::SetRules() {
  if (!NeedUser()) return false;
  return WITH_USER({
    kel::PinRules r = u->rules;
    if (!Rules(&r)) return false;
    if (!kel::ValidRules(r, u->kind, u->digits))
      return Fail("a pinpad token's PIN is digits only and at most " + std::to_string(u->digits) + " long");
    u->rules = r;
    return true;
  });
}

bool Command::Shell() {
  if (!NeedUser(1)) return false;
  std::string shell = a_.positional[1];
  if (shell.size() > kel::kMaxShellLen) return Fail("the shell text is longer than 64 characters");
  return WITH_USER({
    u->shell = shell;
    return true;
  });
}

bool Command::NewPin() {
  if (!NeedUser()) return false;
  return WITH_USER({
    if (u->seed.empty()) return Fail("user \"" + user_ + "\" has no token");
    u->new_pin = true;
    return true;
  });
}

bool Command::Reset() {
  if (!NeedUser()) return false;
  return WITH_USER({
    u->disabled = u->next_code = false;
    u->fails = 0;
    return true;
  });
}

bool Command::List() {
  if (!a_.positional.empty()) return Fail("list takes no arguments");
  kel::Store s;
  std::string error;
  auto r = kel::ReadStore(kel::StoreDir(), &s, &error);
  if (r == kel::StoreResult::kMissing) return Fail("no token store in " + kel::StoreDir());
  if (r != kel::StoreResult::kOk) return Fail("cannot read the token store: " + error);
  for (const auto& u : s.users) {
    out_ << u.name << "\t";
    if (u.seed.empty()) out_ << "no-token";
    else out_ << (u.kind == kel::TokenKind::kPinPad ? "pinpad" : "standard") << "/" << u.digits << "/" << u.step << "s";
    out_ << "\tpin " << u.rules.min_len << "-" << u.rules.max_len << " mode " << u.rules.mode
         << (u.rules.alphanumeric ? " alnum" : "") << "\t";
    std::string state;
    if (u.disabled) state += " disabled";
    if (u.new_pin) state += " new-pin";
    if (u.next_code) state += " next-code";
    if (u.pin_hash.empty()) state += " no-pin";
    out_ << (state.empty() ? "ok" : state.substr(1)) << "\tfails " << u.fails << "\n";
  }
  return true;
}

bool Command::Code() {
  if (!NeedUser()) return false;
  int64_t now = kel::ServerNow();
  if (a_.options.count("--time")) {
    const std::string& v = a_.options["--time"];
    auto r = std::from_chars(v.data(), v.data() + v.size(), now);
    if (v.empty() || r.ec != std::errc() || r.ptr != v.data() + v.size() || now < 0)
      return Fail("--time must be seconds since 1970");
  }
  kel::Store s;
  std::string error;
  if (kel::ReadStore(kel::StoreDir(), &s, &error) != kel::StoreResult::kOk)
    return Fail("cannot read the token store " + error);
  const kel::UserRecord* u = kel::FindUser(s, user_);
  if (!u || u->name != user_) return Fail("no user \"" + user_ + "\"");
  if (u->seed.empty()) return Fail("user \"" + user_ + "\" has no token");
  out_ << kel::TokenCode(u->seed, static_cast<uint64_t>(kel::CounterAt(now, u->step) + u->drift), u->digits) << "\n";
  return true;
}

bool Command::Export() {
  if (!NeedUser()) return false;
  std::string path = a_.options.count("--file") ? a_.options["--file"] : tokenpad::DefaultTokenFilePath();
  bool protect = a_.options.count("--password-stdin") > 0;
  bool numeric = a_.options.count("--numeric") > 0;
  if (numeric && !protect) return Fail("--numeric needs --password-stdin");
  std::string name = a_.options.count("--name") ? a_.options["--name"] : user_.substr(0, tokenpad::kMaxText);
  std::string serial;
  if (a_.options.count("--serial")) {
    serial = a_.options["--serial"];
  } else {
    uint32_t r = 0;
    if (!kel::RandomBytes(&r, sizeof r)) return Fail("no random bytes");
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08u", r % 100000000u);
    serial = buf;
  }
  if (name.empty() || name.size() > tokenpad::kMaxText || name.find_first_of("\r\n") != std::string::npos)
    return Fail("--name must be 1 to 23 characters");
  if (serial.empty() || serial.size() > tokenpad::kMaxText || serial.find_first_of("\r\n") != std::string::npos)
    return Fail("--serial must be 1 to 23 characters");
  std::string password;
  if (protect) {
    std::getline(in_, password);
    if (!password.empty() && password.back() == '\r') password.pop_back();
    if (password.empty()) return Fail("empty token password");
    if (numeric && !kel::AllDigits(password)) return Fail("the token password must be digits (--numeric)");
  }

  kel::Store s;
  std::string error;
  if (kel::ReadStore(kel::StoreDir(), &s, &error) != kel::StoreResult::kOk)
    return Fail("cannot read the token store " + error);
  const kel::UserRecord* u = kel::FindUser(s, user_);
  if (!u || u->name != user_) return Fail("no user \"" + user_ + "\"");
  if (u->seed.empty()) return Fail("user \"" + user_ + "\" has no token");

  tokenpad::TokenFile file;
  std::ifstream existing(path, std::ios::binary);
  if (existing) {
    std::ostringstream text;
    text << existing.rdbuf();
    if (!tokenpad::ParseTokenFile(text.str(), &file, &error)) return Fail(path + " is not a token file: " + error);
  }
  std::erase_if(file.tokens, [&](const tokenpad::SoftToken& t) { return t.serial == serial; });
  if (file.tokens.size() >= tokenpad::kMaxTokens) return Fail(path + " is full");
  tokenpad::SoftToken t;
  t.serial = serial;
  t.name = name;
  t.pinpad = u->kind == kel::TokenKind::kPinPad;
  t.digits = u->digits;
  t.step = u->step;
  if (protect) {
    t.password = numeric ? tokenpad::PasswordMode::kNumeric : tokenpad::PasswordMode::kAny;
    t.sealed = tokenpad::SealSeed(u->seed, password, serial);
    kel::Wipe(password);
    if (t.sealed.empty()) return Fail("cannot encrypt the seed");
  } else {
    t.seed = u->seed;
  }
  file.tokens.push_back(std::move(t));
  if (file.default_serial.empty()) file.default_serial = serial;
  std::string text = tokenpad::SerializeTokenFile(file);

  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) qv::paths::MakeDirs(path.substr(0, slash), 0700);
  std::string tmp = path + ".XXXXXX";
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) return Fail("cannot write " + path);
  bool ok = ::fchmod(fd, 0600) == 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
            ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  kel::Wipe(text);
  if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return Fail("cannot write " + path);
  }
  out_ << "exported token " << serial << " (" << name << ") to " << path << "\n";
  return true;
}

bool Command::Settings() {
  if (!a_.positional.empty()) return Fail("settings takes no arguments");
  if (a_.options.empty()) {
    kel::Store s;
    std::string error;
    if (kel::ReadStore(kel::StoreDir(), &s, &error) != kel::StoreResult::kOk)
      return Fail("cannot read the token store " + error);
    out_ << "next-after " << s.settings.next_after << "\ndisable-after " << s.settings.disable_after << "\nwindow "
         << s.settings.window << "\nfar-window " << s.settings.far_window << "\n";
    return true;
  }
  kel::StoreSettings want;
  bool have = false;
  return Update([&](kel::Store& s) {
    want = s.settings;
    if (!Int("--next-after", 1, 1000, &want.next_after) || !Int("--disable-after", 1, 1000, &want.disable_after) ||
        !Int("--window", 0, 10, &want.window) || !Int("--far-window", 0, 100, &want.far_window))
      return false;
    have = true;
    s.settings = want;
    return true;
  }) && have;
}

int Command::Run(const std::vector<std::string>& argv) {
  if (argv.empty()) {
    err_ << "keladmin: no command (see keladmin --help)\n";
    return 2;
  }
  const std::string& cmd = argv[0];
  if (cmd == "--help" || cmd == "-h" || cmd == "help") {
    out_ << kHelp;
    return 0;
  }
  static const std::map<std::string, bool (Command::*)()> kCommands = {
      {"init", &Command::Init},       {"add", &Command::Add},         {"delete", &Command::Delete},
      {"assign", &Command::Assign},   {"rules", &Command::SetRules},  {"shell", &Command::Shell},
      {"new-pin", &Command::NewPin},  {"reset", &Command::Reset},     {"list", &Command::List},
      {"code", &Command::Code},       {"export", &Command::Export},   {"settings", &Command::Settings},
  };
  auto it = kCommands.find(cmd);
  if (it == kCommands.end()) {
    err_ << "keladmin: unknown command \"" << cmd << "\" (see keladmin --help)\n";
    return 2;
  }
  if (!Parse(argv, 1)) return 2;
  return (this->*(it->second))() ? 0 : 1;
}

}  // namespace

int Run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
  Command c(in, out, err);
  return c.Run(args);
}

}  // namespace keladmin
