#include "platform/resolver/resolver.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/resolver/netsock.h"

namespace qv::resolver {
namespace {

constexpr uint32_t kLoopback = 0x0100007Fu;  // 127.0.0.1 in network order

TEST(ResolverTest, DottedAddressesParseAndFormat) {
  struct Case {
    const char* text;
    bool ok;
  } cases[] = {
      {"127.0.0.1", true}, {"10.1.2.3", true},   {"256.1.1.1", false},
      {"1.2.3", false},    {"host.lan", false},  {"", false},
      {"1.2.3.4 ", false}, {"1.2.3.4.5", false},
  };
  for (const Case& c : cases) {
    uint32_t a = 0;
    EXPECT_EQ(ParseDottedIPv4(c.text, &a), c.ok) << c.text;
  }
  uint32_t a = 0;
  ASSERT_TRUE(ParseDottedIPv4("127.0.0.1", &a));
  EXPECT_EQ(a, kLoopback);
  char text[16];
  FormatIPv4(a, text, sizeof text);
  EXPECT_STREQ(text, "127.0.0.1");
}

TEST(ResolverTest, SystemResolverForwardAndReverseOnLoopback) {
  int err = 0;
  uint32_t a = 0;
  ASSERT_EQ(Current().Forward("localhost", &a, &err), Result::kOk);
  EXPECT_EQ(a, kLoopback);

  char name[256];
  ASSERT_EQ(Current().Reverse(kLoopback, name, sizeof name, &err), Result::kOk);
  EXPECT_GT(strlen(name), 0u);

  // A name in the reserved .invalid domain never resolves.
  EXPECT_NE(Current().Forward("no-such-host.invalid", &a, &err), Result::kOk);

  // A host name that does not fit the caller's buffer is not cut.
  char tiny[2];
  EXPECT_EQ(Current().Reverse(kLoopback, tiny, sizeof tiny, &err), Result::kNotFound);
}

class FixedResolver : public Resolver {
 public:
  Result Forward(const char*, uint32_t* address, int*) override {
    *address = 0x04030201u;
    return Result::kOk;
  }
  Result Reverse(uint32_t, char*, size_t, int* error) override {
    *error = 1;
    return Result::kNotFound;
  }
};

TEST(ResolverTest, InstalledResolverReplacesTheSystemOne) {
  FixedResolver fixed;
  SetForProcess(&fixed);
  int err = 0;
  uint32_t a = 0;
  EXPECT_EQ(Current().Forward("localhost", &a, &err), Result::kOk);
  EXPECT_EQ(a, 0x04030201u);
  SetForProcess(nullptr);
  EXPECT_EQ(Current().Forward("localhost", &a, &err), Result::kOk);
  EXPECT_EQ(a, kLoopback);
}

TEST(NetSockTest, BindingAPortInUseFailsAndConnectReachesTheListener) {
  ASSERT_EQ(qv::net::Startup(), 0);
  int l = -1;
  ASSERT_EQ(qv::net::TcpSocket(&l), 0);
  ASSERT_EQ(qv::net::Bind(l, kLoopback, 0), 0);
  ASSERT_EQ(qv::net::Listen(l, 5), 0);
  uint16_t port = 0;
  ASSERT_EQ(qv::net::LocalPort(l, &port), 0);

  int second = -1;
  ASSERT_EQ(qv::net::TcpSocket(&second), 0);
  EXPECT_TRUE(qv::net::IsAddressInUse(qv::net::Bind(second, kLoopback, port)));
  qv::net::Close(second);

  int c = -1;
  ASSERT_EQ(qv::net::TcpSocket(&c), 0);
  EXPECT_EQ(qv::net::Connect(c, kLoopback, port, 2000), 0);
  int conn = -1;
  uint32_t peer = 0;
  ASSERT_EQ(qv::net::Accept(l, &conn, &peer), 0);
  EXPECT_EQ(peer, kLoopback);
  qv::net::Close(conn);
  qv::net::Close(c);
  qv::net::Close(l);
}

}  // namespace
}  // namespace qv::resolver
