// Parses arbitrary key-file text; whatever parses must format and parse back
// to the same sections.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/regfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<qv::reg::RegSection> sections;
  std::string error;
  if (!qv::reg::ParseRegText(text, &sections, &error)) return 0;
  std::string again;
  for (const auto& s : sections) again += qv::reg::FormatSection(s);
  std::vector<qv::reg::RegSection> back;
  if (!qv::reg::ParseRegText(again, &back, &error)) std::abort();
  if (back.size() != sections.size()) std::abort();
  for (size_t i = 0; i < back.size(); ++i) {
    const auto& a = sections[i];
    const auto& b = back[i];
    if (a.remove != b.remove || a.values.size() != b.values.size()) std::abort();
    for (size_t j = 0; j < a.values.size(); ++j) {
      const auto& x = a.values[j];
      const auto& y = b.values[j];
      if (x.name != y.name || x.remove != y.remove) std::abort();
      if (!x.remove && (x.type != y.type || x.data != y.data)) std::abort();
    }
  }
  return 0;
}
