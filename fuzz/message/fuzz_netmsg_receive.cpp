// Frame receiver on an arbitrary byte stream delivered in arbitrary pieces.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "qvnetmsg.h"

namespace {

// Serves the input as the session's content, in pieces whose sizes come from
// the input's first bytes.
class MemorySession : public QVNetSession {
 public:
  MemorySession(const uint8_t* data, size_t size, uint8_t piece)
      : data_(data), size_(size), piece_(piece ? piece : 1) {}
  long Read(void* buffer, size_t size) override {
    if (at_ >= size_) return 0;
    size_t n = std::min({size, size_ - at_, static_cast<size_t>(piece_)});
    std::memcpy(buffer, data_ + at_, n);
    at_ += n;
    return static_cast<long>(n);
  }
  long Write(const void*, size_t size) override { return static_cast<long>(size); }
  size_t Pending() override { return size_ - at_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  uint8_t piece_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  vQVNetMsgSetMaxFrameSize(data[0] & 1 ? 4096 : 0);
  MemorySession session(data + 2, size - 2, data[1]);
  size_t missing = 0, total = 0;
  char* buffer = nullptr;
  // Each call takes at least one byte while any is pending; bound the loop anyway.
  for (size_t calls = 0; session.Pending() > 0 && calls <= size; ++calls) {
    HQVEXTOBJ obj = nullptr;
    QVSTATUS status = errQVNetMsgSSLReceive(&session, -1, &obj, &missing, &buffer, &total);
    if (status != QV_OK) {
      if (buffer) std::abort();
      continue;
    }
    if (obj) {
      size_t length = 0;
      if (errQVExtObjExternalSize(obj, &length) != QV_OK) std::abort();
      errQVNetMsgDestroy(obj);
    }
  }
  vQVNetMsgFreeReceiveState(&missing, &buffer, &total);
  return 0;
}
