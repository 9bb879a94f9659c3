// The scripted back end's answer script.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/ui/script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  int errors = 0;
  auto answers = qv::ui::internal::ParseScript(text, &errors);
  for (const auto& a : answers) {
    (void)qv::ui::internal::AnswerName(a.answer);
  }
  return 0;
}
