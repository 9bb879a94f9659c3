#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qvnetmsg.h"
#include "runtime/message/message_test_util.h"
#include "runtime/message/socketpair_session.h"

namespace {

using qv::netmsg::SocketSession;
using qv::netmsg::SocketSessionPair;

using qv::netmsg::testing::Msg;
using qv::netmsg::testing::Write;

class NetMsgTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(qv::netmsg::MakeSocketSessionPair(pair_)); }
  void TearDown() override { vQVNetMsgSetMaxFrameSize(0); }

  SocketSession& Sender() { return *pair_.a; }
  SocketSession& Receiver() { return *pair_.b; }
  void Feed(const std::string& bytes) {
    ASSERT_TRUE(qv::netmsg::WriteAll(Sender().Socket(), bytes.data(), bytes.size()));
  }
  QVSTATUS Wait(Msg& m, int limit = 5) {
    return errQVNetMsgSSLWaitReceive(&Receiver(), Receiver().Socket(), &m.h, limit);
  }

  SocketSessionPair pair_;
};

// An object whose frame is exactly `frame` bytes long (for sizes where one
// exists: a string attribute grows the frame one byte at a time).
HQVEXTOBJ ObjectOfFrameSize(size_t frame) {
  HQVEXTOBJ h = nullptr;
  EXPECT_EQ(errQVNetMsgCreate(&h, "Dazar"), QV_OK);
  for (size_t n = 0; n < frame; ++n) {
    EXPECT_EQ(errQVExtObjUpdateString(h, "f", std::string(n, 'x').c_str()), QV_OK);
    size_t size = 0;
    EXPECT_EQ(errQVExtObjExternalSize(h, &size), QV_OK);
    if (size >= frame) {
      EXPECT_EQ(size, frame);
      break;
    }
  }
  return h;
}

TEST_F(NetMsgTest, FramesAroundTheFirstBufferSize) {
  for (size_t frame : {size_t{40}, QV_NETMSG_SEND_BUFFER, QV_NETMSG_SEND_BUFFER + 1,
                       size_t{3 * QV_NETMSG_SEND_BUFFER}}) {
    Msg out;
    out.h = ObjectOfFrameSize(frame);
    ASSERT_EQ(errQVNetMsgSSLSend(&Sender(), Sender().Socket(), out.h), QV_OK) << frame;
    Msg in;
    ASSERT_EQ(Wait(in), QV_OK) << frame;
    ASSERT_NE(in.h, nullptr);
    EXPECT_EQ(Write(in.h), Write(out.h)) << frame;
  }
}

TEST_F(NetMsgTest, BackToBackFramesArriveInOrder) {
  Feed("9(T:(a:1))9(T:(a:2))9(T:(a:3))");
  for (int32_t expected = 1; expected <= 3; ++expected) {
    Msg in;
    ASSERT_EQ(Wait(in), QV_OK);
    int32_t v = 0;
    ASSERT_EQ(errQVNetMsgGetI32(in.h, "a", &v), QV_OK);
    EXPECT_EQ(v, expected);
  }
}

TEST_F(NetMsgTest, SplitFrameIsAssembledBeforeParsing) {
  size_t missing = 0, total = 0;
  char* buffer = nullptr;
  HQVEXTOBJ obj = nullptr;
  const int fd = Receiver().Socket();

  // Nothing readable: no change.
  ASSERT_EQ(errQVNetMsgSSLReceive(&Receiver(), fd, &obj, &missing, &buffer, &total), QV_OK);
  EXPECT_EQ(obj, nullptr);
  EXPECT_EQ(buffer, nullptr);

  Feed("14(T:(s:\"ab");
  ASSERT_EQ(errQVNetMsgSSLReceive(&Receiver(), fd, &obj, &missing, &buffer, &total), QV_OK);
  EXPECT_EQ(obj, nullptr);
  EXPECT_EQ(total, 14u);
  EXPECT_EQ(missing, 5u);
  ASSERT_NE(buffer, nullptr);

  Feed("cd\"))9(T:(a:1))");
  ASSERT_EQ(errQVNetMsgSSLReceive(&Receiver(), fd, &obj, &missing, &buffer, &total), QV_OK);
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(Write(obj), "14(T:(s:\"abcd\"))");
  errQVNetMsgDestroy(obj);

  // The next frame was left on the socket.
  Msg next;
  ASSERT_EQ(Wait(next), QV_OK);
  EXPECT_EQ(Write(next.h), "9(T:(a:1))");
}

TEST_F(NetMsgTest, PollFailureDropsThePartialFrame) {
  Feed("9(T:(a");
  size_t missing = 0, total = 0;
  char* buffer = nullptr;
  HQVEXTOBJ obj = nullptr;
  ASSERT_EQ(
      errQVNetMsgSSLReceive(&Receiver(), Receiver().Socket(), &obj, &missing, &buffer, &total),
      QV_OK);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(errQVNetMsgSSLReceive(&Receiver(), -1, &obj, &missing, &buffer, &total),
            QVS_NETMSG_POLL_FAILED);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(missing, 0u);
}

TEST_F(NetMsgTest, BadLengthPrefixes) {
  struct Case {
    const char* bytes;
    size_t maxFrame;
  } cases[] = {
      {"123456789(T:)", 0},                                  // nine digits
      {"12a", 0},           {"T:)", 0},        {"(T:)", 0},  // no digits
      {"0(T:)", 0},                                          // length 0
      {"99999999(T:)", 0},                                   // above the default bound
      {"65537(T:)", 0},     {"9(T:(a:5))", 8},               // above a configured bound
  };
  for (const Case& c : cases) {
    SocketSessionPair pair;
    ASSERT_TRUE(qv::netmsg::MakeSocketSessionPair(pair));
    vQVNetMsgSetMaxFrameSize(c.maxFrame);
    ASSERT_TRUE(qv::netmsg::WriteAll(pair.a->Socket(), c.bytes, std::strlen(c.bytes)));
    size_t missing = 0, total = 0;
    char* buffer = nullptr;
    HQVEXTOBJ obj = nullptr;
    EXPECT_EQ(
        errQVNetMsgSSLReceive(pair.b.get(), pair.b->Socket(), &obj, &missing, &buffer, &total),
        QVS_NETMSG_BAD_FRAME)
        << c.bytes;
    EXPECT_EQ(obj, nullptr);
    EXPECT_EQ(buffer, nullptr);
  }
  vQVNetMsgSetMaxFrameSize(0);
  EXPECT_EQ(QVNetMsgMaxFrameSize(), QV_NETMSG_DEFAULT_MAX_FRAME);
}

TEST_F(NetMsgTest, UnparsableFrameIsConsumedWhole) {
  Feed("9(T:(a:x))9(T:(a:5))");
  size_t missing = 0, total = 0;
  char* buffer = nullptr;
  HQVEXTOBJ obj = nullptr;
  EXPECT_EQ(
      errQVNetMsgSSLReceive(&Receiver(), Receiver().Socket(), &obj, &missing, &buffer, &total),
      QVS_NETMSG_BAD_OBJECT);
  EXPECT_EQ(buffer, nullptr);
  Msg next;
  ASSERT_EQ(Wait(next), QV_OK);
  EXPECT_EQ(Write(next.h), "9(T:(a:5))");
}

TEST_F(NetMsgTest, PeerCloseEndsTheWait) {
  // Before any byte, inside the prefix, and inside the body.
  for (const char* partial : {"", "1", "15(T:(s:"}) {
    SocketSessionPair pair;
    ASSERT_TRUE(qv::netmsg::MakeSocketSessionPair(pair));
    ASSERT_TRUE(qv::netmsg::WriteAll(pair.a->Socket(), partial, std::strlen(partial)));
    pair.a->Close();
    Msg in;
    for (int limit : {QV_NETMSG_NO_LIMIT, 5}) {
      EXPECT_EQ(errQVNetMsgSSLWaitReceive(pair.b.get(), pair.b->Socket(), &in.h, limit),
                QVS_NETMSG_RECEIVE_FAILED)
          << '"' << partial << '"';
      EXPECT_EQ(in.h, nullptr);
    }
  }
}

TEST_F(NetMsgTest, LimitedWaitTimesOut) {
  Msg in;
  EXPECT_EQ(Wait(in, 0), QVS_NETMSG_TIMEOUT);
  Feed("9(T:(a");  // a partial frame is dropped with the wait
  EXPECT_EQ(Wait(in, 1), QVS_NETMSG_TIMEOUT);
  EXPECT_EQ(in.h, nullptr);
}

TEST_F(NetMsgTest, SendFailures) {
  Msg m;
  ASSERT_EQ(errQVNetMsgCreate(&m.h, "T"), QV_OK);
  EXPECT_EQ(errQVNetMsgSSLSend(&Sender(), Sender().Socket(), nullptr), QVS_EXTOBJ_NULL_HANDLE);
  pair_.b.reset();
  EXPECT_EQ(errQVNetMsgSSLSend(&Sender(), Sender().Socket(), m.h), QVS_NETMSG_WRITE_FAILED);
}

// A session that, like TLS, takes everything the socket holds into its own
// buffer, so the socket may be quiet while whole frames wait inside.
class BufferingSession : public QVNetSession {
 public:
  explicit BufferingSession(SocketSession& inner) : inner_(inner) {}
  long Read(void* buffer, size_t size) override {
    if (held_.empty()) {
      char chunk[4096];
      long n = inner_.Read(chunk, sizeof chunk);
      if (n <= 0) return n;
      held_.assign(chunk, static_cast<size_t>(n));
    }
    size_t n = std::min(size, held_.size());
    std::memcpy(buffer, held_.data(), n);
    held_.erase(0, n);
    return static_cast<long>(n);
  }
  long Write(const void* buffer, size_t size) override { return inner_.Write(buffer, size); }
  size_t Pending() override { return held_.size(); }

 private:
  SocketSession& inner_;
  std::string held_;
};

TEST_F(NetMsgTest, DataHeldInsideTheSessionCountsAsReadable) {
  BufferingSession session(Receiver());
  Feed("9(T:(a:1))9(T:(a:2))");
  for (const char* expected : {"9(T:(a:1))", "9(T:(a:2))"}) {
    Msg in;
    ASSERT_EQ(errQVNetMsgSSLWaitReceive(&session, Receiver().Socket(), &in.h, 2), QV_OK);
    EXPECT_EQ(Write(in.h), expected);
  }
}

TEST(NetMsgFields, ForwardersAndErrorText) {
  EXPECT_EQ(errQVNetMsgDestroy(nullptr), QV_OK);
  Msg m;
  ASSERT_EQ(errQVNetMsgCreate(&m.h, "Desktop"), QV_OK);
  ASSERT_EQ(errQVNetMsgAddI8(m.h, "i8", -5), QV_OK);
  ASSERT_EQ(errQVNetMsgAddU16(m.h, "u16", 65000), QV_OK);
  ASSERT_EQ(errQVNetMsgAddI32(m.h, "i32", 200), QV_OK);
  ASSERT_EQ(errQVNetMsgAddString(m.h, "s", "text"), QV_OK);
  ASSERT_EQ(errQVNetMsgAddBinary(m.h, "b", "\x01\x02", 2), QV_OK);
  const std::string text = Write(m.h);
  Msg back;
  ASSERT_EQ(errQVNetMsgCreateFromBuffer(&back.h, text.data(), text.size()), QV_OK);
  int8_t i8 = 0;
  uint16_t u16 = 0;
  int32_t i32 = 0;
  EXPECT_EQ(errQVNetMsgGetI8(back.h, "i8", &i8), QV_OK);
  EXPECT_EQ(i8, -5);
  EXPECT_EQ(errQVNetMsgGetU16(back.h, "u16", &u16), QV_OK);
  EXPECT_EQ(u16, 65000);
  EXPECT_EQ(errQVNetMsgGetI8(back.h, "i32", &i8), QVS_EXTOBJ_OUT_OF_RANGE);
  EXPECT_EQ(errQVNetMsgGetI32(back.h, "i32", &i32), QV_OK);
  char s[8];
  size_t size = sizeof s;
  EXPECT_EQ(errQVNetMsgGetString(back.h, "s", s, &size), QV_OK);
  EXPECT_STREQ(s, "text");

  Msg outer, sub;
  ASSERT_EQ(errQVNetMsgCreate(&outer.h, "Dazar"), QV_OK);
  ASSERT_EQ(errQVNetMsgAddObjField(outer.h, back.h), QV_OK);
  ASSERT_EQ(errQVNetMsgGetObjField(outer.h, "Desktop", &sub.h), QV_OK);
  EXPECT_EQ(Write(sub.h), text);

  EXPECT_STREQ(pszQVNetMsgErrorText(QVS_NETMSG_BAD_FRAME),
               "Network Message Layer error number -1073724801");
}

}  // namespace
