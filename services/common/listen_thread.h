// The listen thread: reads the role's port and runs SMServerListen until a
// failure or a stop ends it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "services/common/service_runner.h"

namespace qv::services {

class ListenThread {
 public:
  explicit ListenThread(const ServiceConfig& config) : config_(config) {}
  ~ListenThread();
  ListenThread(const ListenThread&) = delete;
  ListenThread& operator=(const ListenThread&) = delete;

  // 0, or the errno of a thread that cannot be created.
  int Start();
  // True once SMServerListen has returned.
  bool Done() const { return done_.load(); }
  // Waits up to timeoutMs (negative: without limit) for the end.
  bool WaitDone(int timeoutMs);
  // Ends the listen loop; the thread's exit code becomes 0.
  void Stop();
  // The status SMServerListen returned (0 after Stop).
  uint32_t ExitCode() const;
  // Joins a finished thread, or lets an unfinished one go with the process.
  void Close();

 private:
  void Run();

  const ServiceConfig& config_;
  std::thread thread_;
  std::atomic<bool> done_{false};
  std::atomic<bool> stopped_{false};
  std::atomic<uint32_t> status_{0};
  mutable std::mutex mutex_;
  std::condition_variable cv_;
};

}  // namespace qv::services
