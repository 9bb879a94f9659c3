// The service programs as real processes on loopback, in a private root.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "qvstatus.h"

extern char** environ;

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string SourceDir() {
  std::string dir = Env("QV_SOURCE_DIR");
  return dir.empty() ? QV_SOURCE_DIR_DEFAULT : dir;
}

std::string BuildDir() {
  std::string dir = Env("QV_BUILD_DIR");
  return dir.empty() ? QV_BUILD_DIR_DEFAULT : dir;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

size_t CountLines(const std::string& path) {
  std::string text = ReadFile(path);
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

// A child process with its output in files.
struct Proc {
  pid_t pid = -1;
  std::string out;
  int status = -1;

  bool Running() {
    if (pid <= 0) return false;
    int st;
    pid_t r = waitpid(pid, &st, WNOHANG);
    if (r == pid) {
      status = st;
      pid = -1;
      return false;
    }
    return true;
  }
  // Exit code, or -1 when it did not end within timeoutMs.
  int Wait(int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Running()) {
      if (std::chrono::steady_clock::now() > end) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  void Signal(int sig) {
    if (pid > 0) kill(pid, sig);
  }
  ~Proc() {
    if (Running()) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
};

class ServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bin_ = BuildDir() + "/bin";
    ASSERT_TRUE(std::filesystem::exists(bin_ + "/promptsvc")) << bin_;
    char dir[] = "/tmp/services_test.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  // Root CA, DC certificate, demo user and free ports.
  void SetupRoot(const std::string& extra = "") {
    std::string cmd = SourceDir() + "/tools/demo/setup-root " + root_ + " " + bin_ + " " + extra +
                      " > " + root_ + "/setup.out 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << ReadFile(root_ + "/setup.out");
    ASSERT_EQ(Tool("keladmin settings --window 8"), 0);
  }
  int Tool(const std::string& args, std::string* output = nullptr, const std::string& env = "") {
    std::string out = root_ + "/tool.out";
    std::string cmd = "TAVRIK_ROOT=" + root_ + " LD_LIBRARY_PATH=" + LibDir() + " " + env + " " +
                      bin_ + "/" + args + " > " + out + " 2>&1";
    int rc = std::system(cmd.c_str());
    if (output) *output = ReadFile(out);
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }
  // The demo user's tokencode `steps` time steps from now.
  std::string Code(int steps) {
    std::string out;
    long t = static_cast<long>(time(nullptr)) + 30L * steps;
    EXPECT_EQ(Tool("keladmin code demo --time " + std::to_string(t), &out), 0);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }

  void Start(Proc& p, const std::string& program, std::vector<std::string> args,
             std::map<std::string, std::string> env = {}) {
    p.out = root_ + "/" + program + "." + std::to_string(++spawned_) + ".out";
    env["TAVRIK_ROOT"] = root_;
    env["LD_LIBRARY_PATH"] = LibDir();
    env["TAVRIK_TRACE_LEVEL"] = "9";
    env["TAVRIK_TRACE_DEST"] = "2";
    env["TAVRIK_INPUT_DESKTOP"] = "Default";
    if (!env.count("TAVRIK_UI")) env["TAVRIK_UI"] = "none";
    std::vector<std::string> envs;
    for (char** e = environ; *e; ++e) {
      std::string s = *e;
      std::string name = s.substr(0, s.find('='));
      if (!env.count(name) && name != "NOTIFY_SOCKET") envs.push_back(s);
    }
    for (auto& [k, v] : env) envs.push_back(k + "=" + v);
    std::vector<char*> ev, av;
    for (auto& s : envs) ev.push_back(s.data());
    ev.push_back(nullptr);
    std::string path = bin_ + "/" + program;
    av.push_back(path.data());
    for (auto& a : args) av.push_back(a.data());
    av.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, p.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    ASSERT_EQ(posix_spawn(&p.pid, path.c_str(), &fa, nullptr, av.data(), ev.data()), 0);
    posix_spawn_file_actions_destroy(&fa);
  }
  // Waits until `text` appears in the process's output.
  bool WaitFor(Proc& p, const std::string& text, int timeoutMs = 15000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      if (ReadFile(p.out).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  // Libraries bound by name are found through the programs' run path; a
  // sanitizer's dlopen wrapper hides that, so the path is given as well.
  std::string LibDir() { return bin_ + "/../lib"; }
  std::string Events() { return ReadFile(root_ + "/var/log/tavrik/events.jsonl"); }
  // The last event line of `program` with `code`, or "".
  std::string EventLine(const char* program, QVSTATUS code, int* count = nullptr) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", code);
    std::istringstream in(Events());
    std::string line, found;
    while (std::getline(in, line))
      if (line.find(std::string("\"program\":\"") + program + "\"") != std::string::npos &&
          line.find(std::string("\"code\":\"") + hex + "\"") != std::string::npos) {
        found = line;
        if (count) ++*count;
      }
    return found;
  }

  std::string bin_, root_;
  int spawned_ = 0;
};

// One service with its port setting removed listens on the default port.
TEST_F(ServicesTest, MissingPortSettingTracesTheDefault) {
  SetupRoot();
  const struct {
    const char* program;
    const char* setting;
  } cases[] = {{"promptsvc", "KelClientPort"}, {"relaysvc", "KelProxyPort"}};
  for (const auto& c : cases) {
    ASSERT_EQ(Tool(std::string("regtool delete 'SOFTWARE\\Tavrik\\QVNetwork' ") + c.setting), 0);
    Proc p;
    Start(p, c.program, {});
    EXPECT_TRUE(WaitFor(p, std::string("Assuming default ") + c.setting + " setting"))
        << c.program << ReadFile(p.out);
    // The default port may be taken on a shared machine; then the service
    // ends by itself with the listen status.
    p.Signal(SIGTERM);
    EXPECT_NE(p.Wait(10000), -1) << c.program;
  }
}

TEST_F(ServicesTest, StopWhileStartingIsIgnoredAndAStopWhenRunningEndsWithZero) {
  SetupRoot();
  Proc p;
  Start(p, "promptsvc", {"--start-delay", "1500"});
  ASSERT_TRUE(WaitFor(p, "ServiceMain entered"));
  p.Signal(SIGTERM);
  ASSERT_TRUE(WaitFor(p, "Listening on port")) << ReadFile(p.out);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(p.Running()) << ReadFile(p.out);

  // Its pid file names it; a second copy on the same root does not start.
  EXPECT_EQ(ReadFile(root_ + "/run/tavrik/promptsvc.pid"), std::to_string(p.pid) + "\n");
  Proc second;
  Start(second, "promptsvc", {});
  EXPECT_EQ(second.Wait(5000), 1);
  EXPECT_NE(ReadFile(second.out).find("already running"), std::string::npos);

  p.Signal(SIGTERM);
  EXPECT_EQ(p.Wait(10000), 0) << ReadFile(p.out);
  std::string out = ReadFile(p.out);
  EXPECT_NE(out.find("Stopping Network Authentication Service"), std::string::npos);
  EXPECT_NE(out.find("ServiceMain exits, dwStatus=0"), std::string::npos);
  std::string end = EventLine("promptsvc", QVE_SVC_ENDED);
  EXPECT_NE(end.find("\"class\":1"), std::string::npos) << Events();
  EXPECT_NE(end.find("\"number\":0,"), std::string::npos) << end;
}

TEST_F(ServicesTest, RelayWithoutDomainControllerCertificateStopsAtOnce) {
  SetupRoot("--no-dc-cert");
  Proc p;
  Start(p, "relaysvc", {});
  EXPECT_EQ(p.Wait(15000), 1) << ReadFile(p.out);
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", QVS_SM_NO_CONTEXT);
  EXPECT_NE(ReadFile(p.out).find(hex), std::string::npos) << ReadFile(p.out);
  std::string end = EventLine("relaysvc", QVE_SVC_ENDED);
  EXPECT_NE(end.find("\"class\":3"), std::string::npos) << Events();
  EXPECT_NE(end.find("\"number\":" + std::to_string(QVS_SM_NO_CONTEXT)), std::string::npos) << end;
}

TEST_F(ServicesTest, OneInstanceOfTheSessionVariantAndShutdownStopsIt) {
  SetupRoot();
  Proc none;
  Start(none, "promptsvc95", {"/shutdown"});
  EXPECT_EQ(none.Wait(5000), 0);  // nothing runs: nothing to do

  Proc first;
  Start(first, "promptsvc95", {});
  ASSERT_TRUE(WaitFor(first, "Listening on port")) << ReadFile(first.out);
  Proc second;
  Start(second, "promptsvc95", {});
  EXPECT_EQ(second.Wait(5000), 0);
  EXPECT_EQ(ReadFile(second.out).find("Listening"), std::string::npos);
  EXPECT_TRUE(first.Running());

  // The logout hook's call: the running one flushes its cache 2.5 s later.
  Proc hook;
  Start(hook, "promptsvc95", {"--session-end"});
  EXPECT_EQ(hook.Wait(5000), 0);
  EXPECT_TRUE(WaitFor(first, "Flushing cached session certs.", 10000)) << ReadFile(first.out);

  Proc stop;
  Start(stop, "promptsvc95", {"--shutdown"});
  EXPECT_EQ(stop.Wait(15000), 0) << ReadFile(stop.out);
  EXPECT_EQ(first.Wait(5000), 0) << ReadFile(first.out);
  EXPECT_NE(EventLine("promptsvc95", QVE_SVC_ENDED), "");

  // Free again: a new start runs, and "/shutdown" stops it too.
  Proc again;
  Start(again, "promptsvc95", {});
  ASSERT_TRUE(WaitFor(again, "Listening on port"));
  Proc slash;
  Start(slash, "promptsvc95", {"/shutdown"});
  EXPECT_EQ(slash.Wait(15000), 0);
  EXPECT_EQ(again.Wait(5000), 0);
}

// Conversation A against promptsvc: a cached certificate lets the second
// challenge in without a prompt; after a session end the next one prompts.
TEST_F(ServicesTest, SessionEndFlushMakesTheNextChallengePrompt) {
  SetupRoot();
  // The token starts in new-PIN mode: the first prompt takes the tokencode
  // alone, then a PIN, then PIN and a later tokencode.
  std::string script = root_ + "/script";
  std::ofstream(script) << "dialog 101 ok 1003=" << Code(0) << "\n"
                        << "dialog 102 ok 1009=1010 1011=1234 1012=1234\n"
                        << "dialog 101 ok 1003=1234" << Code(1) << "\n"
                        << "dialog 101 ok 1003=1234" << Code(2) << "\n";
  std::string record = root_ + "/record";
  Proc svc;
  Start(svc, "promptsvc", {},
        {{"TAVRIK_UI", "scripted"}, {"TAVRIK_UI_SCRIPT", script}, {"TAVRIK_UI_RECORD", record}});
  ASSERT_TRUE(WaitFor(svc, "Listening on port")) << ReadFile(svc.out);

  std::string out;
  const std::string challenge = "qvsubauth 127.0.0.1 demo DEMO";
  const std::string granted = "result: 0x00000000";
  ASSERT_EQ(Tool(challenge, &out), 0) << out;
  EXPECT_NE(out.find(granted), std::string::npos) << out;
  size_t prompts = CountLines(record);
  EXPECT_GE(prompts, 3u);  // passcode, new PIN, passcode (and PIN boxes)
  ASSERT_EQ(Tool(challenge, &out), 0) << out;
  EXPECT_NE(out.find(granted), std::string::npos) << out;
  EXPECT_EQ(CountLines(record), prompts);  // cached: no prompt

  svc.Signal(SIGUSR1);
  ASSERT_TRUE(WaitFor(svc, "Flushing certs"));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_EQ(Tool(challenge, &out), 0) << out;
  EXPECT_NE(out.find(granted), std::string::npos) << out;
  EXPECT_GT(CountLines(record), prompts) << ReadFile(record);
  EXPECT_NE(ReadFile(record).rfind("\"template\":101"), std::string::npos);

  svc.Signal(SIGTERM);
  EXPECT_EQ(svc.Wait(10000), 0);
}

// Conversation B through relaysvc, with the prompts answered at the
// workstation, in each TestMode.
TEST_F(ServicesTest, ProxyConversationThroughRelayByTestMode) {
  SetupRoot();
  Proc relay, svc;
  Start(relay, "relaysvc", {});
  Start(svc, "promptsvc", {});
  ASSERT_TRUE(WaitFor(relay, "Listening on port")) << ReadFile(relay.out);
  ASSERT_TRUE(WaitFor(svc, "Listening on port")) << ReadFile(svc.out);

  std::string script = root_ + "/script";
  std::string record = root_ + "/record";
  std::ofstream(script) << "dialog 101 ok 1002=demo 1003=" << Code(0) << "\n"
                        << "dialog 102 ok 1009=1010 1011=1234 1012=1234\n"
                        << "dialog 101 ok 1002=demo 1003=1234" << Code(1) << "\n"
                        << "dialog 101 ok 1002=demo 1003=0000000000\n"
                        << "dialog 101 ok 1002=demo 1003=0000000000\n"
                        << "dialog 101 ok 1002=demo 1003=0000000000\n"
                        << "dialog 101 ok 1002=demo 1003=0000000000\n"
                        << "dialog 101 ok 1002=demo 1003=0000000000\n"
                        << "dialog 101 ok 1002=demo 1003=0000000000\n";
  const std::string probe = "passprobe95 --user demo --domain DEMO --controller 127.0.0.1";
  const std::string ui =
      "TAVRIK_INPUT_DESKTOP=Default TAVRIK_UI=scripted TAVRIK_UI_SCRIPT=" + script +
      " TAVRIK_UI_RECORD=" + record;
  const struct {
    int testMode;
    int exitCode;  // passprobe95: 0 granted, 1 denied
    QVSTATUS event;
    const char* insert;
  } cases[] = {
      {0, 0, QVE_AM_AUTH_SUCCEEDED, "\"demo\""},  // new PIN, then the right passcode
      {1, 0, QVE_AM_AUTH_SUCCEEDED, "N/A (Silent Test)"},
      {0, 1, QVS_AM_AUTH_FAILED, "\"demo\""},  // three wrong passcodes
      {2, 0, QVS_AM_AUTH_FAILED, "\"demo\""},  // interactive test: let in all the same
  };
  size_t wrongLines = 0;
  for (const auto& c : cases) {
    ASSERT_EQ(Tool("regtool set 'SOFTWARE\\Tavrik\\QVNetwork' TestMode dword " +
                   std::to_string(c.testMode)),
              0);
    int before = 0;
    (void)EventLine("relaysvc", c.event, &before);
    std::string out;
    EXPECT_EQ(Tool(probe, &out, ui), c.exitCode) << c.testMode << out << ReadFile(relay.out);
    // The proxy records the outcome after it has answered the desktop.
    std::string line;
    for (int i = 0, after = 0; i < 250 && after <= before; ++i) {
      after = 0;
      line = EventLine("relaysvc", c.event, &after);
      if (after <= before) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_NE(line.find(c.insert), std::string::npos) << c.testMode << Events();
    EXPECT_NE(line.find("\"localhost\""), std::string::npos) << line;
    wrongLines = CountLines(record);
  }
  EXPECT_NE(ReadFile(record).find("Authentication successful."), std::string::npos);
  EXPECT_GT(wrongLines, 0u);
  relay.Signal(SIGTERM);
  svc.Signal(SIGTERM);
  EXPECT_EQ(relay.Wait(10000), 0) << ReadFile(relay.out);
  EXPECT_EQ(svc.Wait(10000), 0);
  EXPECT_NE(ReadFile(relay.out).find("Stopping KEL/Dazar Proxy Service"), std::string::npos);
}

// The direct test of passprobe: prompt library and client library only.
TEST_F(ServicesTest, DirectTestByAnswer) {
  SetupRoot();
  const std::string wrong = "dialog 101 ok 1003=00000000\n";
  const struct {
    std::string name;
    std::string script;
    int exitCode;
    std::vector<std::string> boxes;
  } cases[] = {
      {"new PIN then passcode",
       "dialog 101 ok 1003=" + Code(0) + "\ndialog 102 ok 1009=1010 1011=1234 1012=1234\n" +
           "dialog 101 ok 1003=1234" + Code(1) + "\n",
       0,
       {"New PIN accepted.", "Authentication successful."}},
      {"cancel", "dialog 101 cancel\n", 1, {"Access denied."}},
      {"three wrong passcodes",
       wrong + wrong + wrong,
       1,
       {"Access denied.", "Access denied.", "Access denied."}},
      {"time-out", "dialog 101 timeout\n", 3, {"User interface dialog failed."}},
  };
  for (const auto& c : cases) {
    std::string script = root_ + "/direct.script", record = root_ + "/direct.record";
    std::ofstream(script) << c.script;
    std::filesystem::remove(record);
    std::string out;
    EXPECT_EQ(Tool("passprobe direct --user demo", &out,
                   "TAVRIK_UI=scripted TAVRIK_UI_SCRIPT=" + script + " TAVRIK_UI_RECORD=" + record),
              c.exitCode)
        << c.name << out;
    std::vector<std::string> boxes;
    std::istringstream in(ReadFile(record));
    for (std::string line; std::getline(in, line);) {
      auto at = line.find("\"text\":\"");
      if (line.find("\"kind\":\"box\"") == std::string::npos || at == std::string::npos) continue;
      at += 8;
      boxes.push_back(line.substr(at, line.find('"', at) - at));
    }
    EXPECT_EQ(boxes, c.boxes) << c.name;
  }
}

// The proxy test's own checks, before and at the runtime's start.
TEST_F(ServicesTest, ProxyTestRefusesMissingFieldsAndReportsAFailedStart) {
  const struct {
    std::string args;
    std::string setup;  // "" no root at all
    int exitCode;
    std::string box;
  } cases[] = {
      {"--domain D --controller h", "", 2, "Enter a username."},
      {"--user u --controller h", "", 2, "Enter a domain."},
      {"--user u --domain D", "", 2, "Enter a valid hostname for the\\nDomain Controller"},
      // No trusted root configured: the runtime cannot start.
      {"--user u --domain D --controller 127.0.0.1", "", 3,
       "Initialization of AUTHCORE.DLL library failed.\\n"},
  };
  for (const auto& c : cases) {
    std::string record = root_ + "/probe.record";
    std::filesystem::remove(record);
    std::string out;
    EXPECT_EQ(Tool("passprobe95 " + c.args, &out, "TAVRIK_UI=scripted TAVRIK_UI_RECORD=" + record),
              c.exitCode)
        << c.args << out;
    std::string rec = ReadFile(record);
    EXPECT_NE(rec.find("\"text\":\"" + c.box), std::string::npos) << c.args << rec;
    EXPECT_NE(rec.find("Vexa KEL/Dazar Authentication Test"), std::string::npos) << rec;
  }
}

TEST_F(ServicesTest, EveryProgramHasAManualPage) {
  for (const char* program :
       {"promptsvc", "promptsvc95", "relaysvc", "passprobe", "passprobe95", "qvsubauth"}) {
    std::string out;
    EXPECT_EQ(Tool(std::string(program) + " --help", &out), 0) << program;
    EXPECT_NE(out.find("NAME"), std::string::npos) << program;
    EXPECT_NE(out.find("SYNOPSIS"), std::string::npos) << program;
  }
}

}  // namespace
