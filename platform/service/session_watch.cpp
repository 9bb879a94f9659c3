// Session end through logind: the watch keeps the set of sessions it has
// seen (on a seat, or the process's own) and counts those that closed
// (state "closing") or vanished.
#include <systemd/sd-daemon.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <set>
#include <string>

#include "platform/service/service.h"

namespace qv::service {

struct SessionWatch::Impl {
  sd_login_monitor* monitor = nullptr;
  bool ownOnly = false;
  std::string own;
  std::set<std::string> live;
};

namespace {

bool Closing(const std::string& session) {
  char* state = nullptr;
  if (sd_session_get_state(session.c_str(), &state) < 0) return true;  // gone
  bool closing = std::string(state) == "closing";
  std::free(state);
  return closing;
}

std::set<std::string> LiveSessions(const SessionWatch::Impl& impl) {
  std::set<std::string> out;
  if (impl.ownOnly) {
    if (!Closing(impl.own)) out.insert(impl.own);
    return out;
  }
  char** list = nullptr;
  int n = sd_get_sessions(&list);
  for (int i = 0; i < n; ++i) {
    // Only sessions on a seat are a workstation's logged-on users; remote
    // shells coming and going do not end them.
    char* seat = nullptr;
    if (sd_session_get_seat(list[i], &seat) >= 0) {
      std::free(seat);
      if (!Closing(list[i])) out.insert(list[i]);
    }
    std::free(list[i]);
  }
  std::free(list);
  return out;
}

}  // namespace

SessionWatch::~SessionWatch() {
  if (impl_ != nullptr) {
    if (impl_->monitor != nullptr) sd_login_monitor_unref(impl_->monitor);
    delete impl_;
  }
}

int SessionWatch::Open(bool ownSessionOnly) {
  if (impl_ != nullptr) return EALREADY;
  if (sd_booted() <= 0) return ENOTSUP;
  auto* impl = new Impl;
  impl->ownOnly = ownSessionOnly;
  if (ownSessionOnly) {
    char* session = nullptr;
    if (sd_pid_get_session(0, &session) < 0) {
      delete impl;
      return ENOTSUP;
    }
    impl->own = session;
    std::free(session);
  }
  if (sd_login_monitor_new("session", &impl->monitor) < 0) {
    delete impl;
    return ENOTSUP;
  }
  impl->live = LiveSessions(*impl);
  impl_ = impl;
  return 0;
}

int SessionWatch::fd() const {
  return impl_ != nullptr && impl_->monitor != nullptr ? sd_login_monitor_get_fd(impl_->monitor)
                                                       : -1;
}

int SessionWatch::TakeEnded() {
  if (impl_ == nullptr) return 0;
  (void)sd_login_monitor_flush(impl_->monitor);
  std::set<std::string> now = LiveSessions(*impl_);
  int ended = 0;
  for (const auto& s : impl_->live)
    if (now.count(s) == 0) ++ended;
  impl_->live = std::move(now);
  return ended;
}

}  // namespace qv::service
