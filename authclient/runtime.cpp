#include "authclient/runtime.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <thread>
#include <unordered_map>
#include <vector>

#include "authclient/pinhash.h"
#include "authclient/textcodec.h"

namespace kel {
namespace {

constexpr size_t kMaxHandles = 100000;

struct Task {
  KEL_HANDLE id;
  Request request;
  KEL_CALLBACK done;
};

struct Runtime {
  std::mutex mutex;
  std::condition_variable wake;
  std::unordered_map<KEL_HANDLE, HandlePtr> handles;
  std::deque<Task> tasks;
  std::multimap<int64_t, KEL_HANDLE> timers;  // deadline -> handle; stale entries skipped
  std::thread thread;
  uint64_t generation = 0;  // bumped to stop the current thread
};

// Made on first use and released only when the library is unloaded, after
// its thread has stopped.
std::atomic<Runtime*> g_runtime{nullptr};
std::mutex g_runtime_mutex;

Runtime& R() {
  Runtime* r = g_runtime.load(std::memory_order_acquire);
  if (r) return *r;
  std::lock_guard<std::mutex> lock(g_runtime_mutex);
  r = g_runtime.load(std::memory_order_relaxed);
  if (!r) {
    r = new Runtime;
    g_runtime.store(r, std::memory_order_release);
  }
  return *r;
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void Run(Task& t) {
  HandlePtr h = FindHandle(t.id);
  if (!h) return;  // closed meanwhile: nobody to tell
  switch (t.request) {
    case Request::kInit: {
      std::lock_guard<std::mutex> lock(h->mutex);
      h->status = ACM_OK;
      break;
    }
    case Request::kCheck: {
      std::string pass, user;
      {
        std::lock_guard<std::mutex> lock(h->mutex);
        pass = h->in_passcode;
        user = h->in_user;
      }
      DoCheck(*h, pass, user);
      Wipe(pass);
      break;
    }
    case Request::kNext: {
      std::string code;
      {
        std::lock_guard<std::mutex> lock(h->mutex);
        code = h->in_next;
      }
      DoNext(*h, code);
      Wipe(code);
      break;
    }
    case Request::kPin: {
      std::string pin;
      {
        std::lock_guard<std::mutex> lock(h->mutex);
        pin = h->in_pin;
      }
      DoPin(*h, pin);
      Wipe(pin);
      break;
    }
    case Request::kCancelPin: {
      DoPin(*h, "");
      std::lock_guard<std::mutex> lock(h->mutex);
      h->status = ACM_ACCESS_DENIED;
      break;
    }
    case Request::kClose: {
      std::lock_guard<std::mutex> lock(h->mutex);
      h->status = ACM_OK;
      break;
    }
  }
  if (t.done) t.done(t.id);
  if (t.request == Request::kClose) CloseHandle(t.id);
}

void Fire(KEL_HANDLE id, KEL_CALLBACK cb) {
  if (cb) cb(id);  // the handle stays live during the call
  CloseHandle(id);
}

void ThreadMain(Runtime* rp, uint64_t generation) {
  Runtime& r = *rp;
  std::unique_lock<std::mutex> lock(r.mutex);
  while (r.generation == generation) {
    int64_t now = NowMs();
    int64_t next = 0;
    KEL_HANDLE due = 0;
    KEL_CALLBACK due_cb = nullptr;
    while (!r.timers.empty()) {
      auto first = r.timers.begin();
      if (first->first > now) {
        next = first->first;
        break;
      }
      int64_t d = first->first;
      KEL_HANDLE id = first->second;
      r.timers.erase(first);
      auto it = r.handles.find(id);
      if (it == r.handles.end() || !it->second->deadline_ms.compare_exchange_strong(d, 0)) continue;
      due = id;
      due_cb = it->second->expire.load();
      break;
    }
    if (due) {
      lock.unlock();
      Fire(due, due_cb);
      lock.lock();
      continue;
    }
    if (!r.tasks.empty()) {
      Task t = r.tasks.front();
      r.tasks.pop_front();
      lock.unlock();
      Run(t);
      lock.lock();
      continue;
    }
    if (next) r.wake.wait_for(lock, std::chrono::milliseconds(next - now));
    else r.wake.wait(lock);
  }
}

// Called with the runtime mutex held.
void DropTimer(Runtime& r, int64_t deadline, KEL_HANDLE id) {
  if (!deadline) return;
  auto [from, to] = r.timers.equal_range(deadline);
  for (auto it = from; it != to; ++it)
    if (it->second == id) {
      r.timers.erase(it);
      return;
    }
}

// Called with the runtime mutex held.
bool EnsureThread(Runtime& r) {
  if (r.thread.joinable()) return true;
  try {
    r.thread = std::thread(ThreadMain, &r, r.generation);
  } catch (...) {
    return false;
  }
  return true;
}

__attribute__((destructor)) void StopOnUnload() {
  Runtime* rp = g_runtime.load(std::memory_order_acquire);
  if (!rp) return;
  Runtime& r = *rp;
  std::thread t;
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    ++r.generation;
    t = std::move(r.thread);
  }
  r.wake.notify_all();
  if (t.joinable()) {
    if (t.get_id() == std::this_thread::get_id()) {
      t.detach();
      return;  // unloaded from a callback: the thread still runs on the runtime
    }
    t.join();
  }
  g_runtime.store(nullptr);
  delete rp;
}

}  // namespace

KEL_HANDLE OpenHandle(void* user_data, HandlePtr* out) {
  Runtime& r = R();
  HandlePtr h;
  try {
    h = std::make_shared<Handle>();
  } catch (...) {
    return 0;
  }
  h->user_data = user_data;
  std::lock_guard<std::mutex> lock(r.mutex);
  if (r.handles.size() >= kMaxHandles) return 0;
  for (int attempt = 0; attempt < 16; ++attempt) {
    KEL_HANDLE id = 0;
    if (!RandomBytes(&id, sizeof id)) return 0;
    id &= 0x7fffffffu;  // stays positive where callers keep it in a signed long
    if (id == 0 || r.handles.count(id)) continue;
    try {
      r.handles.emplace(id, h);
    } catch (...) {
      return 0;
    }
    if (out) *out = h;
    return id;
  }
  return 0;
}

HandlePtr FindHandle(KEL_HANDLE id) {
  if (id == 0) return nullptr;
  Runtime& r = R();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.handles.find(id);
  return it == r.handles.end() ? nullptr : it->second;
}

bool CloseHandle(KEL_HANDLE id) {
  HandlePtr h;
  {
    Runtime& r = R();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.handles.find(id);
    if (it == r.handles.end()) return false;
    h = std::move(it->second);
    r.handles.erase(it);
    DropTimer(r, h->deadline_ms.exchange(0), id);
  }
  std::lock_guard<std::mutex> lock(h->mutex);
  h->ClearSecrets();
  return true;
}

void SetTimeout(Handle& h, KEL_HANDLE id, uint32_t seconds, KEL_CALLBACK expire) {
  Runtime& r = R();
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    DropTimer(r, h.deadline_ms.exchange(0), id);
    if (seconds == 0 || !expire) {
      h.expire = nullptr;
      return;
    }
    int64_t deadline = NowMs() + static_cast<int64_t>(seconds) * 1000;
    h.expire = expire;
    h.deadline_ms = deadline;
    try {
      r.timers.emplace(deadline, id);
    } catch (...) {
      h.deadline_ms = 0;
      return;
    }
    EnsureThread(r);
  }
  r.wake.notify_all();
}

int Submit(KEL_HANDLE id, Request request, KEL_CALLBACK done) {
  Runtime& r = R();
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    if (!r.handles.count(id)) return ACM_INVALID_HANDLE;
    if (!EnsureThread(r)) return ACM_NO_RESOURCES;
    try {
      r.tasks.push_back({id, request, done});
    } catch (...) {
      return ACM_NO_RESOURCES;
    }
  }
  r.wake.notify_all();
  return ACM_REQUEST_PENDING;
}

void Shutdown(bool call_expiry, KEL_CALLBACK expire) {
  Runtime& r = R();
  std::thread t;
  std::vector<std::pair<KEL_HANDLE, KEL_CALLBACK>> timed;
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    ++r.generation;
    t = std::move(r.thread);
    r.tasks.clear();
  }
  r.wake.notify_all();
  if (t.joinable()) {
    if (t.get_id() == std::this_thread::get_id()) t.detach();
    else t.join();
  }
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    for (auto& [id, h] : r.handles)
      if (h->deadline_ms.load() || h->expire.load()) timed.push_back({id, expire ? expire : h->expire.load()});
  }
  if (call_expiry)
    for (auto& [id, cb] : timed)
      if (cb) cb(id);
  std::unordered_map<KEL_HANDLE, HandlePtr> all;
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    all.swap(r.handles);
    r.timers.clear();
  }
  for (auto& [id, h] : all) {
    std::lock_guard<std::mutex> hl(h->mutex);
    h->ClearSecrets();
  }
}

}  // namespace kel
