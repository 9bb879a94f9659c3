// Token store text: parsing never fails unsafely, and what parses
// serialises to text that parses to the same store.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "authclient/record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  kel::Store store;
  if (!kel::ParseStore(text, &store, nullptr)) return 0;
  std::string again = kel::SerializeStore(store);
  kel::Store back;
  if (!kel::ParseStore(again, &back, nullptr) || kel::SerializeStore(back) != again) std::abort();
  for (auto& u : store.users) (void)kel::FindUser(back, u.name);
  return 0;
}
