// Software-token file text: parsing never fails unsafely, round trips, and a
// sealed seed that parses is opened (and refused) without harm.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tokenpad/tokenfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  tokenpad::TokenFile file;
  if (!tokenpad::ParseTokenFile(text, &file, nullptr)) return 0;
  std::string again = tokenpad::SerializeTokenFile(file);
  tokenpad::TokenFile back;
  if (!tokenpad::ParseTokenFile(again, &back, nullptr) || tokenpad::SerializeTokenFile(back) != again) std::abort();
  return 0;
}
