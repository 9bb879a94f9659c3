// Cost of a trace call with tracing off and on, and of one event record.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/eventtext/eventtext.h"
#include "platform/paths/paths.h"

namespace {

struct Root {
  Root() {
    char tmpl[] = "/tmp/eventtext-bench-XXXXXX";
    dir = mkdtemp(tmpl);
    qv::paths::SetRootForProcess(dir);
    setenv("TAVRIK_EVENT_SYSLOG", "0", 1);
  }
  ~Root() { std::filesystem::remove_all(dir); }
  std::string dir;
};

Root& TheRoot() {
  static Root root;
  return root;
}

void Configure(const char* level, const char* dest) {
  TheRoot();
  setenv("TAVRIK_TRACE_LEVEL", level, 1);
  setenv("TAVRIK_TRACE_DEST", dest, 1);
  QVEventTextReload();
}

void BM_TraceOff(benchmark::State& state) {
  Configure("0", "4");
  for (auto _ : state) QVTraceMessage(2, 6, "AMmain", __LINE__, "Entering %s", "Routine");
}
BENCHMARK(BM_TraceOff)->ThreadRange(1, 2);

void BM_TraceOtherLevel(benchmark::State& state) {
  Configure("8", "4");
  for (auto _ : state) QVTraceMessage(2, 6, "AMmain", __LINE__, "Entering %s", "Routine");
}
BENCHMARK(BM_TraceOtherLevel);

void BM_TraceToFile(benchmark::State& state) {
  Configure("2", "4");
  for (auto _ : state) QVTraceMessage(2, 6, "AMmain", __LINE__, "Entering %s", "Routine");
}
BENCHMARK(BM_TraceToFile);

void BM_EventRecord(benchmark::State& state) {
  Configure("0", "4");
  const char* names[] = {"alice", "CORP", "ws1", "10.0.0.1", "x"};
  for (auto _ : state) QVILogEventEx(1, 9, QVS_AM_AUTH_FAILED, QV_SID_NONE, 5, names);
}
BENCHMARK(BM_EventRecord);

}  // namespace

BENCHMARK_MAIN();
