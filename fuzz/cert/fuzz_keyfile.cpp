// Key-file records and the pass-phrase decryption on arbitrary file contents.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>

#include "qvcert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/fuzz_keyfile." + std::to_string(getpid());
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  uint8_t buf[QV_KEYFILE_MAX_DATA];
  uint32_t length = 0;
  for (int tag : {int(QVKEY_TAG_PUBLIC), int(QVKEY_TAG_PRIVATE), 7})
    if (iGetKeyFromKeyFile(path.c_str(), tag, buf, &length) == 0 && length > QV_KEYFILE_MAX_DATA) __builtin_trap();
  if (errQVKeyFileGetPrivateKeyEx(path.c_str(), buf, &length, "fuzz") == 0 && length > QV_KEYFILE_MAX_DATA)
    __builtin_trap();
  return 0;
}
