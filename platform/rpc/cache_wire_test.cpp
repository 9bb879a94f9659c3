#include "platform/rpc/cache_wire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qv::rpc::cache {
namespace {

std::vector<uint8_t> U32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<uint8_t> Str(const std::string& s) {
  std::vector<uint8_t> out = U32(static_cast<uint32_t>(s.size() + 1));
  out.insert(out.end(), s.begin(), s.end());
  out.push_back(0);
  return out;
}

TEST(CacheWire, RequestsRoundTrip) {
  Request store;
  store.procedure = kStoreSessionCert;
  store.user = {true, "alice"};
  store.domain = {false, ""};  // a null unique pointer survives as null
  store.text = {true, {'(', 'x', ')', 0, 0xff}};
  Request fetch;
  fetch.procedure = kGetSessionCert;
  fetch.user = {true, ""};
  fetch.domain = {true, "EXAMPLE"};
  Request cred;
  cred.procedure = kGetDesktopCred;
  cred.item = 7;  // the item is judged by the server, not the codec
  Request clear;
  clear.procedure = kClearSessionCerts;

  for (const Request& in : {store, fetch, cred, clear}) {
    std::vector<uint8_t> wire;
    ASSERT_TRUE(EncodeRequest(in, &wire));
    Request out;
    ASSERT_TRUE(DecodeRequest(wire.data(), wire.size(), &out)) << in.procedure;
    EXPECT_EQ(out.procedure, in.procedure);
    EXPECT_EQ(out.item, in.item);
    EXPECT_EQ(out.user.present, in.user.present);
    EXPECT_EQ(out.user.text, in.user.text);
    EXPECT_EQ(out.domain.present, in.domain.present);
    EXPECT_EQ(out.domain.text, in.domain.text);
    EXPECT_EQ(out.text.present, in.text.present);
    EXPECT_EQ(out.text.bytes, in.text.bytes);
  }
}

TEST(CacheWire, RepliesRoundTripPerProcedure) {
  Reply in;
  in.status = 0x800027E1;
  in.cred = {true, {1, 2, 3}};
  std::vector<uint8_t> wire;
  ASSERT_TRUE(EncodeReply(kGetSessionCert, in, &wire));
  Reply out;
  ASSERT_TRUE(DecodeReply(kGetSessionCert, wire.data(), wire.size(), &out));
  EXPECT_EQ(out.status, in.status);
  EXPECT_EQ(out.cred.bytes, in.cred.bytes);
  // The same bytes are not a clear's reply: it carries the status alone.
  EXPECT_FALSE(DecodeReply(kClearSessionCerts, wire.data(), wire.size(), &out));
  ASSERT_TRUE(EncodeReply(kClearSessionCerts, in, &wire));
  EXPECT_EQ(wire.size(), 4u);
}

TEST(CacheWire, MalformedRequestsAreRefused) {
  const std::vector<uint8_t> big(kMaxBufferBytes + 1, 'a');
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"empty", {}},
      {"short procedure", {0, 0}},
      {"unknown procedure", U32(4)},
      {"item missing", U32(kGetDesktopCred)},
      {"trailing byte", Cat({U32(kClearSessionCerts), {0}})},
      {"string past end", Cat({U32(kGetSessionCert), U32(100), {'a', 0}})},
      {"string without zero", Cat({U32(kGetSessionCert), U32(2), {'a', 'b'}, Str("d")})},
      {"zero inside string", Cat({U32(kGetSessionCert), U32(3), {'a', 0, 0}, Str("d")})},
      {"string of length 0", Cat({U32(kGetSessionCert), U32(0), Str("d")})},
      {"string over bound", Cat({U32(kGetSessionCert), U32(kMaxStringBytes + 1)})},
      {"buffer flag 2", Cat({U32(kStoreSessionCert), Str("u"), Str("d"), U32(2), U32(0)})},
      {"null buffer with length", Cat({U32(kStoreSessionCert), Str("u"), Str("d"), U32(0), U32(3)})},
      {"buffer past end", Cat({U32(kStoreSessionCert), Str("u"), Str("d"), U32(1), U32(9), {1}})},
      {"buffer over bound",
       Cat({U32(kStoreSessionCert), Str("u"), Str("d"), U32(1), U32(kMaxBufferBytes + 1), big})},
      {"buffer length wraps", Cat({U32(kStoreSessionCert), Str("u"), Str("d"), U32(1), U32(0xFFFFFFFF)})},
  };
  for (const Case& c : cases) {
    Request out;
    out.user = {true, "stale"};
    EXPECT_FALSE(DecodeRequest(c.bytes.data(), c.bytes.size(), &out)) << c.what;
    EXPECT_FALSE(out.user.present) << c.what;
  }
}

TEST(CacheWire, EncoderRefusesWhatTheDecoderWould) {
  Request r;
  r.procedure = kGetSessionCert;
  r.user = {true, std::string(kMaxStringBytes, 'u')};
  r.domain = {true, "d"};
  std::vector<uint8_t> wire;
  EXPECT_FALSE(EncodeRequest(r, &wire));
  r.user = {true, std::string("a\0b", 3)};
  EXPECT_FALSE(EncodeRequest(r, &wire));
  r.procedure = 9;
  EXPECT_FALSE(EncodeRequest(r, &wire));
}

}  // namespace
}  // namespace qv::rpc::cache
