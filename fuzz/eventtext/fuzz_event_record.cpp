// Event records from arbitrary inserts, user names and codes must stay one
// valid JSON line; the formatter must stay within its buffer.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/eventtext/event_record.h"
#include "platform/eventtext/eventtext.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  QVSTATUS code;
  std::memcpy(&code, data, 4);
  std::string rest(reinterpret_cast<const char*>(data + 4), size - 4);

  // Fields are separated by '|': the user first, then the inserts.
  qv::eventtext::EventInput event;
  event.code = code;
  event.number = code ^ 0x5A5A5A5A;
  event.number_insert = (code & 1) != 0;
  std::string user;
  size_t start = 0, field = 0;
  while (start <= rest.size() && event.inserts.size() < qv::eventtext::kMaxInserts) {
    size_t end = rest.find('|', start);
    if (end == std::string::npos) end = rest.size();
    std::string part = rest.substr(start, end - start);
    if (field++ == 0) {
      user = part;
    } else {
      event.inserts.push_back(qv::eventtext::BoundedInsert(part.c_str()));
    }
    start = end + 1;
  }
  if (code & 2) event.user = user.c_str();

  std::string record = qv::eventtext::BuildEventRecord(event, "2026-01-01T00:00:00.000Z", "fuzz", 1);
  if (record.empty() || record.back() != '\n' || record.find('\n') != record.size() - 1) abort();
  if (!nlohmann::json::accept(record)) abort();

  char buffer[64];
  std::memset(buffer, 'Z', sizeof buffer);
  QVFormatError(buffer, 32, rest.c_str(), code);
  if (std::memchr(buffer, '\0', 32) == nullptr) abort();
  for (size_t i = 32; i < sizeof buffer; ++i) {
    if (buffer[i] != 'Z') abort();
  }
  return 0;
}
