// QV_Check throughput: a correct and a wrong passcode, from 1 and 2 threads.
// Each thread checks its own users, in a private root with a pinned clock.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "authclient/otp.h"
#include "authclient/pinhash.h"
#include "authclient/storefile.h"
#include "kelclient.h"
#include "platform/paths/paths.h"

namespace {

constexpr int64_t kTime = 1700000000;
const std::string kSeed = "12345678901234567890";
constexpr int kThreads = 2;
constexpr int kWrongUsers = 8;  // failures spread over several users stay below the lock-out

std::string Name(const char* kind, int thread, int n = 0) {
  return std::string(kind) + std::to_string(thread) + "_" + std::to_string(n);
}

void Setup() {
  kel::UpdateStore(
      kel::StoreDir(),
      [](kel::Store& s) {
        s.settings.next_after = 1000;
        s.settings.disable_after = 1000;
        std::string hash = kel::HashPin("1234");
        for (int t = 0; t < kThreads; ++t)
          for (int n = 0; n < kWrongUsers; ++n)
            for (const char* kind : {"good", "bad"}) {
              kel::UserRecord u;
              u.name = Name(kind, t, n);
              u.seed = kSeed;
              u.pin_hash = hash;
              s.users.push_back(u);
            }
        return true;
      },
      true, nullptr);
}

void BM_CheckCorrect(benchmark::State& state) {
  KEL_HANDLE h = 0;
  QV_Init(&h);
  const std::string user = Name("good", state.thread_index());
  // Kept across runs: a tokencode accepted once is never accepted again.
  static int64_t counters[kThreads] = {kTime / 30, kTime / 30};
  int64_t& counter = counters[state.thread_index()];
  int denied = 0;
  for (auto _ : state) {
    // Each success moves the tracked drift on by one step, so the next
    // tokencode is always within the window.
    std::string passcode = "1234" + kel::TokenCode(kSeed, static_cast<uint64_t>(++counter), 6);
    if (QV_Check(h, passcode.c_str(), user.c_str()) != ACM_OK) ++denied;
  }
  if (denied) state.SkipWithError("a correct passcode was denied");
  state.SetItemsProcessed(state.iterations());
  QV_Close(h);
}

void BM_CheckWrong(benchmark::State& state) {
  KEL_HANDLE h = 0;
  QV_Init(&h);
  const std::string code = kel::TokenCode(kSeed, static_cast<uint64_t>(kTime / 30), 6);
  const std::string passcode = "9999" + code;  // right tokencode, wrong PIN: the costly refusal
  int n = 0, accepted = 0;
  for (auto _ : state) {
    std::string user = Name("bad", state.thread_index(), n++ % kWrongUsers);
    if (QV_Check(h, passcode.c_str(), user.c_str()) != ACM_ACCESS_DENIED) ++accepted;
  }
  if (accepted) state.SkipWithError("a wrong passcode was not denied");
  state.SetItemsProcessed(state.iterations());
  QV_Close(h);
}

BENCHMARK(BM_CheckCorrect)->Threads(1)->Threads(2)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_CheckWrong)->Threads(1)->Threads(2)->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  std::string root = (std::filesystem::temp_directory_path() / "kelbenchXXXXXX").string();
  if (!mkdtemp(root.data())) return 1;
  setenv("TAVRIK_ROOT", root.c_str(), 1);
  setenv("TAVRIK_FAKE_TIME", std::to_string(kTime).c_str(), 1);
  qv::paths::SetRootForProcess(root);
  Setup();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
  return 0;
}
