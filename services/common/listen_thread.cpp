#include "services/common/listen_thread.h"

#include <cerrno>
#include <chrono>
#include <system_error>

#include "platform/eventtext/eventtext.h"
#include "services/common/runtime_hooks.h"

namespace qv::services {

ListenThread::~ListenThread() { Close(); }

int ListenThread::Start() {
  try {
    thread_ = std::thread(&ListenThread::Run, this);
  } catch (const std::system_error& e) {
    return e.code().value() ? e.code().value() : EAGAIN;
  }
  return 0;
}

void ListenThread::Run() {
  uint32_t port = 0;
  if (!QVAgentGetSetting(config_.portSetting, &port, sizeof port)) {
    port = config_.defaultPort;
    QV_TRACE(8, 6, config_.name, "Assuming default %s setting", config_.portSetting);
  }
  QV_TRACE(1, 6, config_.name, "Listening on port %u", port);
  QVSTATUS status = SMServerListen(config_.handler, port, 1, config_.notifyUser);
  QV_TRACE(8, 6, config_.name, "SMServerListen returned 0x%08X", status);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    status_ = stopped_.load() ? 0u : status;
    done_ = true;
  }
  cv_.notify_all();
}

bool ListenThread::WaitDone(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (timeoutMs < 0) {
    cv_.wait(lock, [&] { return done_.load(); });
    return true;
  }
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return done_.load(); });
}

void ListenThread::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    status_ = 0;
  }
  (void)StopListening();
}

uint32_t ListenThread::ExitCode() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopped_.load() ? 0u : status_.load();
}

void ListenThread::Close() {
  if (!thread_.joinable()) return;
  if (done_.load())
    thread_.join();
  else
    thread_.detach();  // conversations still in progress end with the process
}

}  // namespace qv::services
