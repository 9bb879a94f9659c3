#include "platform/eventtext/settings.h"

#include <time.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "platform/paths/paths.h"
#include "platform/registry/registry.h"

namespace qv::eventtext {
namespace {

constexpr int64_t kRefreshMs = 2000;
constexpr uint32_t kDefaultTraceDest = 4;  // log file
const char kKey[] = "SOFTWARE\\Tavrik\\KELCLIENT";

std::atomic<uint32_t> g_active_levels{0};
std::atomic<int64_t> g_next_refresh_ms{0};
std::mutex g_mutex;  // guards g_settings and the refresh itself
Settings g_settings;

int64_t NowMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool EnvNumber(const char* name, uint32_t* value) {
  const char* text = std::getenv(name);
  if (!text || !*text) return false;
  char* end = nullptr;
  unsigned long v = std::strtoul(text, &end, 0);
  if (*end != '\0') return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

// Reads a 4-byte value without testing its type; false when absent.
bool RegistryDword(qv::reg::HKEY key, const char* name, uint32_t* value) {
  if (!key) return false;
  uint32_t data = 0;
  uint32_t size = sizeof data;
  if (qv::reg::QueryValue(key, name, nullptr, &data, &size) != qv::reg::ERROR_SUCCESS) return false;
  if (size != sizeof data) return false;
  *value = data;
  return true;
}

void ReadSettings(Settings* s) {
  qv::reg::Key key;
  // A missing key leaves `key` empty: every value takes its default.
  key.Open(qv::reg::HKEY_LOCAL_MACHINE, kKey, qv::reg::KEY_QUERY_VALUE);
  auto read = [&](const char* env, const char* value, uint32_t fallback) {
    uint32_t v = fallback;
    if (!EnvNumber(env, &v)) RegistryDword(key.get(), value, &v);
    return v;
  };
  s->trace_level = read("TAVRIK_TRACE_LEVEL", "TraceLevel", 0);
  s->trace_dest = read("TAVRIK_TRACE_DEST", "TraceDest", kDefaultTraceDest);
  s->event_log_control = read("TAVRIK_EVENT_LOG_CONTROL", "EventLogControl", 0);
  const char* sys = std::getenv("TAVRIK_EVENT_SYSLOG");
  if (sys && *sys) {
    s->syslog_events = sys[0] != '0';
  } else {
    s->syslog_events = qv::paths::Root().empty();
  }
  s->log_dir = qv::paths::LogDir();
}

void RefreshLocked() {
  Settings fresh;
  ReadSettings(&fresh);
  fresh.generation = g_settings.generation + 1;
  g_settings = fresh;
  g_active_levels.store(fresh.trace_dest ? fresh.trace_level : 0, std::memory_order_relaxed);
  g_next_refresh_ms.store(NowMs() + kRefreshMs, std::memory_order_relaxed);
}

void RefreshIfStale() {
  if (NowMs() < g_next_refresh_ms.load(std::memory_order_relaxed)) return;
  std::unique_lock<std::mutex> lock(g_mutex, std::try_to_lock);
  // Another thread is refreshing: the old values serve meanwhile.
  if (!lock.owns_lock()) return;
  if (NowMs() < g_next_refresh_ms.load(std::memory_order_relaxed)) return;
  try {
    RefreshLocked();
  } catch (...) {
    // Out of memory: keep the old values and try again later.
    g_next_refresh_ms.store(NowMs() + kRefreshMs, std::memory_order_relaxed);
  }
}

}  // namespace

uint32_t ActiveTraceLevels() {
  RefreshIfStale();
  return g_active_levels.load(std::memory_order_relaxed);
}

Settings CurrentSettings() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_settings.generation == 0 || NowMs() >= g_next_refresh_ms.load(std::memory_order_relaxed)) {
    RefreshLocked();
  }
  return g_settings;
}

void ReloadSettings() {
  std::lock_guard<std::mutex> lock(g_mutex);
  RefreshLocked();
}

}  // namespace qv::eventtext
