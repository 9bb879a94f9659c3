// The prompt library bound for one desktop conversation: loaded at the first
// PROMPTUI_Init, unloaded by Close.
#pragma once

#include <cstdint>

#include "promptdata.h"

namespace qv::protocol {

class PromptBinding {
 public:
  PromptBinding() = default;
  ~PromptBinding();
  PromptBinding(const PromptBinding&) = delete;
  PromptBinding& operator=(const PromptBinding&) = delete;

  // Loads the library and calls PROMPTUI_Init: its result, or -1 when the
  // library or one of its five entries is missing.
  int32_t Init(PROMPT_DATA* block);
  // 3 without the library.
  int32_t Check(PROMPT_DATA* block);
  int32_t Pin(PROMPT_DATA* block);
  int32_t Next(PROMPT_DATA* block);
  // PROMPTUI_Close and unload; nothing when not loaded.
  void Close(PROMPT_DATA* block);

 private:
  void Unload();

  void* library_ = nullptr;
  int32_t (*init_)(PROMPT_DATA*) = nullptr;
  int32_t (*check_)(PROMPT_DATA*) = nullptr;
  int32_t (*pin_)(PROMPT_DATA*) = nullptr;
  int32_t (*next_)(PROMPT_DATA*) = nullptr;
  void (*close_)(PROMPT_DATA*) = nullptr;
};

}  // namespace qv::protocol
