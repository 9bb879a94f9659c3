// Load against the real services on loopback, in a private root:
//  A: agents challenging one promptsvc with a cached session certificate
//     (no prompt): conversations per second, p50/p99, at 1, 10, 50 agents;
//  B: 100 desktops (passprobe95 processes with scripted answers) at once
//     against one relaysvc: every one must end authenticated, as itself.
// Bounded in count and time. Usage: bench_services_load [BUILD_DIR]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "authcore.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string g_bin, g_src, g_root;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int Shell(const std::string& cmd, std::string* out = nullptr) {
  std::string file = g_root + "/shell.out";
  int rc = std::system(("TAVRIK_ROOT=" + g_root + " " + cmd + " > " + file + " 2>&1").c_str());
  if (out) {
    *out = ReadFile(file);
    while (!out->empty() && out->back() == '\n') out->pop_back();
  }
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
            const std::map<std::string, std::string>& env, const std::string& out) {
  std::vector<std::string> envs;
  for (char** e = environ; *e; ++e) {
    std::string s = *e, name = s.substr(0, s.find('='));
    if (!env.count(name) && name != "NOTIFY_SOCKET") envs.push_back(s);
  }
  for (auto& [k, v] : env) envs.push_back(k + "=" + v);
  std::vector<char*> ev, av;
  for (auto& s : envs) ev.push_back(s.data());
  ev.push_back(nullptr);
  std::string path = g_bin + "/" + program;
  av.push_back(path.data());
  std::vector<std::string> copy = args;
  for (auto& a : copy) av.push_back(a.data());
  av.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, path.c_str(), &fa, nullptr, av.data(), ev.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

bool WaitFor(const std::string& file, const std::string& text, int timeoutMs) {
  auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < end) {
    if (ReadFile(file).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 250; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

std::string Code(const std::string& user, int steps) {
  std::string out;
  long t = static_cast<long>(time(nullptr)) + 30L * steps;
  Shell(g_bin + "/keladmin code " + user + " --time " + std::to_string(t), &out);
  return out;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

// Conversation A: `agents` threads, `perAgent` challenges each, bounded by
// `budget`. Returns false when a challenge was not granted.
bool LoadA(int agents, int perAgent, std::chrono::seconds budget) {
  std::vector<double> latencies;
  std::mutex m;
  std::atomic<int> failures{0};
  auto deadline = Clock::now() + budget;
  auto start = Clock::now();
  std::vector<std::thread> threads;
  for (int a = 0; a < agents; ++a) {
    threads.emplace_back([&] {
      for (int i = 0; i < perAgent && Clock::now() < deadline; ++i) {
        char user[32] = "demo", domain[32] = "DEMO";
        auto t0 = Clock::now();
        QVSTATUS s = AMSubauthAuthenticateUser(user, domain, "127.0.0.1");
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        if (s != QV_OK) ++failures;
        std::lock_guard<std::mutex> lock(m);
        latencies.push_back(ms);
      }
    });
  }
  for (auto& t : threads) t.join();
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf(
      "A  agents %3d  conversations %5zu  %8.1f /s  p50 %7.2f ms  p99 %7.2f ms  failed %d\n",
      agents, latencies.size(), static_cast<double>(latencies.size()) / seconds,
      Percentile(latencies, 0.50), Percentile(latencies, 0.99), failures.load());
  return failures.load() == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::printf(
        "NAME\n    bench_services_load - load on promptsvc and relaysvc over loopback\n\n"
        "SYNOPSIS\n    bench_services_load [BUILD_DIR]\n\n"
        "DESCRIPTION\n    In a private root, runs conversation A (agents against one promptsvc,\n"
        "    with a cached session certificate) with 1, 10 and 50 concurrent agents and\n"
        "    reports conversations per second with p50 and p99 latency; then conversation\n"
        "    B: 100 concurrent desktops against one relaysvc with scripted answers,\n"
        "    checking that every one ends with the right result. BUILD_DIR defaults to\n"
        "    $QV_BUILD_DIR or the current directory.\n\n"
        "EXIT STATUS\n    0 when every conversation ended as expected, 1 otherwise.\n");
    return 0;
  }
  std::string build =
      argc > 1 ? argv[1] : (std::getenv("QV_BUILD_DIR") ? std::getenv("QV_BUILD_DIR") : ".");
  g_bin = std::filesystem::absolute(build + "/bin").string();
  g_src = QV_SOURCE_DIR_DEFAULT;
  char dir[] = "/tmp/bench_services.XXXXXX";
  if (!mkdtemp(dir)) return 1;
  g_root = dir;
  setenv("TAVRIK_ROOT", g_root.c_str(), 1);
  setenv("TAVRIK_INPUT_DESKTOP", "Default", 1);
  unsetenv("NOTIFY_SOCKET");
  bool ok = true;
  const std::string key = "'SOFTWARE\\Tavrik\\QVNetwork'";

  if (Shell(g_src + "/tools/demo/setup-root " + g_root + " " + g_bin) != 0 ||
      Shell(g_bin + "/keladmin settings --window 10") != 0 ||
      Shell(g_bin + "/regtool set " + key + " MaxSessionThreads dword 256") != 0) {
    std::fprintf(stderr, "setup failed: %s\n", ReadFile(g_root + "/shell.out").c_str());
    return 1;
  }

  // --- A: one promptsvc; the first challenge prompts and caches a certificate.
  std::string script = g_root + "/prompt.script";
  std::ofstream(script) << "dialog 101 ok 1003=" << Code("demo", 0) << "\n"
                        << "dialog 102 ok 1009=1010 1011=1234 1012=1234\n"
                        << "dialog 101 ok 1003=1234" << Code("demo", 1) << "\n";
  std::string promptLog = g_root + "/promptsvc.log";
  pid_t promptsvc = Spawn("promptsvc", {},
                          {{"TAVRIK_UI", "scripted"},
                           {"TAVRIK_UI_SCRIPT", script},
                           {"TAVRIK_UI_RECORD", g_root + "/prompt.record"},
                           {"TAVRIK_TRACE_LEVEL", "1"},
                           {"TAVRIK_TRACE_DEST", "2"}},
                          promptLog);
  if (!WaitFor(promptLog, "Listening on port", 15000)) {
    std::fprintf(stderr, "promptsvc did not start\n%s", ReadFile(promptLog).c_str());
    Stop(promptsvc);
    return 1;
  }
  QVSTATUS s = QVAgentStartup(0, 0, 1);
  char user[32] = "demo", domain[32] = "DEMO";
  if (s != QV_OK || AMSubauthAuthenticateUser(user, domain, "127.0.0.1") != QV_OK) {
    std::fprintf(stderr, "priming the cache failed (startup 0x%08X)\n", s);
    ok = false;
  } else {
    for (int agents : {1, 10, 50})
      ok = LoadA(agents, agents == 1 ? 300 : 2000 / agents, std::chrono::seconds(60)) && ok;
  }
  QVAgentRundown();

  // --- B: one relaysvc, 100 desktops at once, each its own user.
  const int kDesktops = 100;
  std::string relayLog = g_root + "/relaysvc.log";
  pid_t relaysvc = Spawn(
      "relaysvc", {},
      {{"TAVRIK_UI", "none"}, {"TAVRIK_TRACE_LEVEL", "1"}, {"TAVRIK_TRACE_DEST", "2"}}, relayLog);
  if (!WaitFor(relayLog, "Listening on port", 15000)) {
    std::fprintf(stderr, "relaysvc did not start\n");
    ok = false;
  }
  std::vector<std::string> users;
  for (int i = 0; i < kDesktops && ok; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "u%03d", i);
    users.push_back(name);
    if (Shell(g_bin + "/keladmin add " + name + " --min 4 --max 8 --mode 2") != 0 ||
        Shell(g_bin + "/keladmin assign " + name) != 0) {
      std::fprintf(stderr, "adding %s failed\n", name);
      ok = false;
    }
  }
  std::vector<pid_t> desktops;
  for (size_t i = 0; i < users.size() && ok; ++i) {
    std::string f = g_root + "/" + users[i];
    std::ofstream(f + ".script") << "dialog 101 ok 1002=" << users[i]
                                 << " 1003=" << Code(users[i], 0) << "\n"
                                 << "dialog 102 ok 1011=5678 1012=5678\n"
                                 << "dialog 101 ok 1002=" << users[i] << " 1003=5678"
                                 << Code(users[i], 1) << "\n";
  }
  auto startB = Clock::now();
  for (size_t i = 0; i < users.size() && ok; ++i) {
    std::string f = g_root + "/" + users[i];
    desktops.push_back(Spawn("passprobe95",
                             {"--user", users[i], "--domain", "DEMO", "--controller", "127.0.0.1"},
                             {{"TAVRIK_UI", "scripted"},
                              {"TAVRIK_UI_SCRIPT", f + ".script"},
                              {"TAVRIK_UI_RECORD", f + ".record"}},
                             f + ".out"));
  }
  int granted = 0, other = 0;
  auto deadline = Clock::now() + std::chrono::seconds(120);
  for (pid_t pid : desktops) {
    int st = 0;
    while (waitpid(pid, &st, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &st, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (WIFEXITED(st) && WEXITSTATUS(st) == 0)
      ++granted;
    else
      ++other;
  }
  double secondsB = std::chrono::duration<double>(Clock::now() - startB).count();
  // Each desktop authenticated as itself: its own record says so, and the
  // proxy's success events name every user exactly once.
  int right = 0;
  for (auto& u : users)
    if (ReadFile(g_root + "/" + u + ".record").find("Authentication successful.") !=
        std::string::npos)
      ++right;
  std::map<std::string, int> seen;
  std::istringstream events(ReadFile(g_root + "/var/log/tavrik/events.jsonl"));
  for (std::string line; std::getline(events, line);) {
    if (line.find("\"code\":\"0x40002725\"") == std::string::npos) continue;
    auto at = line.find("\"inserts\":[\"");
    if (at == std::string::npos) continue;
    at += 12;
    seen[line.substr(at, line.find('"', at) - at)]++;
  }
  int once = 0;
  for (auto& u : users) once += seen[u] == 1;
  std::printf(
      "B  desktops %3zu  granted %3d  others %d  right records %d  users seen once %d  in %.1f s\n",
      users.size(), granted, other, right, once, secondsB);
  ok = ok && granted == kDesktops && right == kDesktops && once == kDesktops;

  Stop(relaysvc);
  Stop(promptsvc);
  if (ok)
    std::filesystem::remove_all(g_root);
  else
    std::fprintf(stderr, "kept %s for inspection\n", g_root.c_str());
  return ok ? 0 : 1;
}
