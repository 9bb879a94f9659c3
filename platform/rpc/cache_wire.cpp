#include "platform/rpc/cache_wire.h"

#include <cstring>

namespace qv::rpc::cache {
namespace {

void PutU32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

bool PutString(std::vector<uint8_t>* out, const OptString& s) {
  if (!s.present) {
    PutU32(out, kNullLength);
    return true;
  }
  if (s.text.size() + 1 > kMaxStringBytes || s.text.find('\0') != std::string::npos) return false;
  PutU32(out, static_cast<uint32_t>(s.text.size() + 1));
  out->insert(out->end(), s.text.begin(), s.text.end());
  out->push_back(0);
  return true;
}

bool PutBuffer(std::vector<uint8_t>* out, const OptBuffer& b) {
  if (!b.present) {
    PutU32(out, 0);
    PutU32(out, 0);
    return true;
  }
  if (b.bytes.size() > kMaxBufferBytes) return false;
  PutU32(out, 1);
  PutU32(out, static_cast<uint32_t>(b.bytes.size()));
  out->insert(out->end(), b.bytes.begin(), b.bytes.end());
  return true;
}

class Reader {
 public:
  Reader(const uint8_t* data, size_t length) : p_(data), left_(data ? length : 0) {}

  bool U32(uint32_t* v) {
    if (left_ < 4) return false;
    *v = static_cast<uint32_t>(p_[0]) | static_cast<uint32_t>(p_[1]) << 8 |
         static_cast<uint32_t>(p_[2]) << 16 | static_cast<uint32_t>(p_[3]) << 24;
    Skip(4);
    return true;
  }

  bool String(OptString* s) {
    uint32_t n = 0;
    if (!U32(&n)) return false;
    if (n == kNullLength) {
      *s = OptString{};
      return true;
    }
    if (n == 0 || n > kMaxStringBytes || n > left_) return false;
    const char* text = reinterpret_cast<const char*>(p_);
    if (text[n - 1] != '\0' || std::memchr(text, '\0', n - 1) != nullptr) return false;
    s->present = true;
    s->text.assign(text, n - 1);
    Skip(n);
    return true;
  }

  bool Buffer(OptBuffer* b) {
    uint32_t flag = 0, n = 0;
    if (!U32(&flag) || !U32(&n)) return false;
    if (flag == 0) {
      if (n != 0) return false;
      b->present = false;
      b->bytes.clear();
      return true;
    }
    if (flag != 1 || n > kMaxBufferBytes || n > left_) return false;
    b->present = true;
    b->bytes.assign(p_, p_ + n);
    Skip(n);
    return true;
  }

  bool AtEnd() const { return left_ == 0; }

 private:
  void Skip(size_t n) {
    p_ += n;
    left_ -= n;
  }
  const uint8_t* p_;
  size_t left_;
};

bool HasCredReply(uint32_t procedure) {
  return procedure == kGetDesktopCred || procedure == kGetSessionCert;
}

}  // namespace

bool EncodeRequest(const Request& request, std::vector<uint8_t>* out) {
  out->clear();
  PutU32(out, request.procedure);
  switch (request.procedure) {
    case kGetDesktopCred:
      PutU32(out, request.item);
      return true;
    case kStoreSessionCert:
      return PutString(out, request.user) && PutString(out, request.domain) &&
             PutBuffer(out, request.text);
    case kGetSessionCert:
      return PutString(out, request.user) && PutString(out, request.domain);
    case kClearSessionCerts:
      return true;
    default:
      return false;
  }
}

bool DecodeRequest(const uint8_t* data, size_t length, Request* out) {
  *out = Request{};
  Reader r(data, length);
  if (!r.U32(&out->procedure)) return false;
  bool ok = false;
  switch (out->procedure) {
    case kGetDesktopCred:
      ok = r.U32(&out->item);
      break;
    case kStoreSessionCert:
      ok = r.String(&out->user) && r.String(&out->domain) && r.Buffer(&out->text);
      break;
    case kGetSessionCert:
      ok = r.String(&out->user) && r.String(&out->domain);
      break;
    case kClearSessionCerts:
      ok = true;
      break;
    default:
      ok = false;
  }
  if (ok && r.AtEnd()) return true;
  Wipe(&out->text.bytes);
  *out = Request{};
  return false;
}

bool EncodeReply(uint32_t procedure, const Reply& reply, std::vector<uint8_t>* out) {
  out->clear();
  PutU32(out, reply.status);
  return HasCredReply(procedure) ? PutBuffer(out, reply.cred) : true;
}

bool DecodeReply(uint32_t procedure, const uint8_t* data, size_t length, Reply* out) {
  *out = Reply{};
  Reader r(data, length);
  bool ok = r.U32(&out->status) && (!HasCredReply(procedure) || r.Buffer(&out->cred)) && r.AtEnd();
  if (!ok) {
    Wipe(&out->cred.bytes);
    *out = Reply{};
  }
  return ok;
}

void Wipe(std::vector<uint8_t>* bytes) {
  volatile uint8_t* p = bytes->data();
  for (size_t i = 0; i < bytes->size(); ++i) p[i] = '*';
  bytes->clear();
}

}  // namespace qv::rpc::cache
