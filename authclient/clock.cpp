#include "authclient/clock.h"

#include <atomic>
#include <cstdlib>
#include <ctime>

namespace kel {
namespace {

std::atomic<int64_t> g_fake{0};

int64_t FromEnvironment() {
  const char* text = secure_getenv("TAVRIK_FAKE_TIME");
  if (!text || !*text) return 0;
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  if (*end != '\0' || v <= 0) return 0;
  return v;
}

}  // namespace

int64_t ServerNow() {
  int64_t fake = g_fake.load(std::memory_order_relaxed);
  if (fake > 0) return fake;
  int64_t env = FromEnvironment();
  if (env > 0) return env;
  return static_cast<int64_t>(std::time(nullptr));
}

void SetFakeTimeForTest(int64_t seconds) { g_fake.store(seconds > 0 ? seconds : 0); }

}  // namespace kel
