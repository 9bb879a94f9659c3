#include "runtime/auth/protocol/prompt_binding.h"


#include <mutex>
#include <string>

#include "platform/dynlib/dynlib.h"
#include "platform/eventtext/eventtext.h"
#include "runtime/auth/protocol/roles.h"

namespace qv::protocol {
namespace {

constexpr char kModule[] = "AMuibind";

std::mutex g_nameLock;
std::string g_name = "libpromptui.so";

}  // namespace

void SetPromptLibraryForProcess(const char* nameOrPath) {
  std::lock_guard<std::mutex> guard(g_nameLock);
  g_name = (nameOrPath != nullptr && *nameOrPath != '\0') ? nameOrPath : "libpromptui.so";
}

const char* PromptLibrary() {
  std::lock_guard<std::mutex> guard(g_nameLock);
  thread_local std::string copy;
  copy = g_name;
  return copy.c_str();
}

PromptBinding::~PromptBinding() { Unload(); }

void PromptBinding::Unload() {
  qv::dynlib::Close(library_);
  library_ = nullptr;
  init_ = check_ = pin_ = next_ = nullptr;
  close_ = nullptr;
}

int32_t PromptBinding::Init(PROMPT_DATA* block) {
  if (library_ == nullptr) {
    std::string name = PromptLibrary();
    library_ = qv::dynlib::Open(name);
    if (library_ == nullptr) {
      QV_TRACE(8, 6, kModule, "Cannot load the prompt library %s", name.c_str());
      return -1;
    }
    init_ = qv::dynlib::EntryAs<int32_t (*)(PROMPT_DATA*)>(library_, "PROMPTUI_Init");
    check_ = qv::dynlib::EntryAs<int32_t (*)(PROMPT_DATA*)>(library_, "PROMPTUI_Check");
    pin_ = qv::dynlib::EntryAs<int32_t (*)(PROMPT_DATA*)>(library_, "PROMPTUI_Pin");
    next_ = qv::dynlib::EntryAs<int32_t (*)(PROMPT_DATA*)>(library_, "PROMPTUI_Next");
    close_ = qv::dynlib::EntryAs<void (*)(PROMPT_DATA*)>(library_, "PROMPTUI_Close");
    if (!init_ || !check_ || !pin_ || !next_ || !close_) {
      QV_TRACE(8, 6, kModule, "The prompt library %s lacks an entry", name.c_str());
      Unload();
      return -1;
    }
  }
  return init_(block);
}

int32_t PromptBinding::Check(PROMPT_DATA* block) {
  return check_ != nullptr ? check_(block) : PROMPT_RESULT_TIMEOUT;
}

int32_t PromptBinding::Pin(PROMPT_DATA* block) {
  return pin_ != nullptr ? pin_(block) : PROMPT_RESULT_TIMEOUT;
}

int32_t PromptBinding::Next(PROMPT_DATA* block) {
  return next_ != nullptr ? next_(block) : PROMPT_RESULT_TIMEOUT;
}

void PromptBinding::Close(PROMPT_DATA* block) {
  if (library_ == nullptr) return;
  void (*close)(PROMPT_DATA*) = close_;
  close(block);
  Unload();
}

}  // namespace qv::protocol
