#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "qvprotocol.h"
#include "runtime/message/message_test_util.h"
#include "runtime/message/socketpair_session.h"

namespace {

using qv::netmsg::testing::Msg;
using qv::netmsg::testing::Write;

void Parse(const std::string& text, Msg& m) {
  ASSERT_EQ(errQVNetMsgCreateFromBuffer(&m.h, text.data(), text.size()), QV_OK) << text;
}

// A text with its length prefix.
std::string Framed(const std::string& text) { return std::to_string(text.size()) + text; }

HQVEXTOBJ Certificate() {
  HQVEXTOBJ cert = nullptr;
  EXPECT_EQ(errQVNetMsgCreate(&cert, AM_SESSION_CERT_TYPE), QV_OK);
  EXPECT_EQ(errQVNetMsgAddBinary(cert, "Cert", "\x30\x82", 2), QV_OK);
  return cert;
}

TEST(ProtocolBuild, TextFormsInFieldOrder) {
  Msg cert, dummy;
  cert.h = Certificate();
  ASSERT_EQ(errAMCreateDummySessionCert(&dummy.h), QV_OK);
  struct Case {
    std::function<QVSTATUS(HQVEXTOBJ*)> build;
    std::string text;
  } cases[] = {
      {[](HQVEXTOBJ* o) { return errAMBuildSessionCertReq(o, "bob", "CORP"); },
       Framed("(Dazar:(Protocol:1)(Type:1)(Username:\"bob\")(Domain:\"CORP\"))")},
      {[](HQVEXTOBJ* o) { return errAMBuildPasscodeReq(o, "", "", 900000000, 0); },
       Framed("(Dazar:(Protocol:1)(Type:2)(Username:\"\")(Domain:\"\")(KELTime:900000000)"
              "(KELReturn:0))")},
      {[](HQVEXTOBJ* o) { return errAMBuildNewPinReq(o, "1234", 0, 1, 4, 8); },
       Framed("(Dazar:(Protocol:1)(Type:3)(SystemPIN:\"1234\")(Alphanumeric:0)(Selectable:1)"
              "(MinLength:4)(MaxLength:8))")},
      {[](HQVEXTOBJ* o) { return errAMBuildNextCodeReq(o); },
       Framed("(Dazar:(Protocol:1)(Type:4))")},
      {[&](HQVEXTOBJ* o) { return errAMBuildStoreSessionCert(o, "bob", "CORP", dummy.h); },
       Framed("(Dazar:(Protocol:1)(Type:5)(Username:\"bob\")(Domain:\"CORP\")"
              "(DummySessionCertificate:(dummy1:|ZHVtbXkgZGF0YQ==)))")},
      {[](HQVEXTOBJ* o) { return errAMBuildAccessDenied(o, -5); },
       Framed("(Dazar:(Protocol:1)(Type:6)(Reason:-5))")},
      {[](HQVEXTOBJ* o) { return errAMBuildAuthSuccess(o); },
       Framed("(Dazar:(Protocol:1)(Type:7))")},
      {[](HQVEXTOBJ* o) { return errAMBuildSessionCert(o, nullptr); },
       Framed("(Desktop:(Protocol:1)(Type:8))")},
      {[&](HQVEXTOBJ* o) { return errAMBuildSessionCert(o, cert.h); },
       Framed("(Desktop:(Protocol:1)(Type:8)(SessionCertificate:(Cert:|MII=)))")},
      {[](HQVEXTOBJ* o) { return errAMBuildPasscode(o, "bob", "CORP", "1234567890"); },
       Framed("(Desktop:(Protocol:1)(Type:9)(Username:\"bob\")(Domain:\"CORP\")"
              "(Passcode:\"1234567890\"))")},
      {[](HQVEXTOBJ* o) { return errAMBuildNewPin(o, "4321"); },
       Framed("(Desktop:(Protocol:1)(Type:10)(Pin:\"4321\"))")},
      {[](HQVEXTOBJ* o) { return errAMBuildNextCode(o, "654321"); },
       Framed("(Desktop:(Protocol:1)(Type:11)(NextCode:\"654321\"))")},
      {[](HQVEXTOBJ* o) { return errAMBuildCancel(o); },
       Framed("(Desktop:(Protocol:1)(Type:12)(Reason:0))")},
  };
  for (const Case& c : cases) {
    Msg m;
    ASSERT_EQ(c.build(&m.h), QV_OK) << c.text;
    EXPECT_EQ(Write(m.h), c.text);
    uint16_t type = 0;
    EXPECT_EQ(errAMCheckProtocolMessage(m.h, &type), QV_OK) << c.text;
  }
}

TEST(ProtocolRead, RequestFieldsAndLimits) {
  const std::string user40(40, 'u');
  Msg req;
  ASSERT_EQ(errAMBuildPasscodeReq(&req.h, user40.c_str(), "CORP", 900000000, 5), QV_OK);
  Msg wire;
  Parse(Write(req.h), wire);
  AMPasscodeReq pr{};
  ASSERT_EQ(errAMReadPasscodeReq(wire.h, &pr), QV_OK);
  EXPECT_EQ(std::string(pr.Username), user40.substr(0, 31));
  EXPECT_STREQ(pr.Domain, "CORP");
  EXPECT_EQ(pr.KELTime, 900000000);
  EXPECT_EQ(pr.ServerTime, 900100000);
  EXPECT_EQ(pr.KELReturn, 5);

  Msg cr;
  ASSERT_EQ(errAMBuildSessionCertReq(&cr.h, "bob", user40.c_str()), QV_OK);
  AMSessionCertReq scr{};
  ASSERT_EQ(errAMReadSessionCertReq(cr.h, &scr), QV_OK);
  EXPECT_STREQ(scr.Username, "bob");
  EXPECT_EQ(std::strlen(scr.Domain), 31u);

  Msg pin;
  ASSERT_EQ(errAMBuildNewPinReq(&pin.h, "123456789012345678901", -127, 2, 127, 8), QV_OK);
  AMNewPinReq np{};
  ASSERT_EQ(errAMReadNewPinReq(pin.h, &np), QV_OK);
  EXPECT_STREQ(np.SystemPIN, "12345678901234567");
  EXPECT_EQ(np.Alphanumeric, -127);
  EXPECT_EQ(np.Selectable, 2);
  EXPECT_EQ(np.MinLength, 127);
  EXPECT_EQ(np.MaxLength, 8);
}

TEST(ProtocolRead, AnswerFieldsAndLimits) {
  Msg pc;
  ASSERT_EQ(errAMBuildPasscode(&pc.h, "J\xC3\xBCrgen", "CORP", "12345678901234567890"), QV_OK);
  Msg wire;
  Parse(Write(pc.h), wire);
  AMPasscode p{};
  ASSERT_EQ(errAMReadPasscode(wire.h, &p), QV_OK);
  EXPECT_STREQ(p.Username, "J\xC3\xBCrgen");
  EXPECT_STREQ(p.Passcode, "1234567890123456");

  char answer[AM_ANSWER_BUFFER];
  Msg np, nc, cancel, denied;
  ASSERT_EQ(errAMBuildNewPin(&np.h, "4321"), QV_OK);
  ASSERT_EQ(errAMReadNewPin(np.h, answer), QV_OK);
  EXPECT_STREQ(answer, "4321");
  ASSERT_EQ(errAMBuildNextCode(&nc.h, "654321"), QV_OK);
  ASSERT_EQ(errAMReadNextCode(nc.h, answer), QV_OK);
  EXPECT_STREQ(answer, "654321");
  int32_t reason = -1;
  ASSERT_EQ(errAMBuildCancel(&cancel.h), QV_OK);
  ASSERT_EQ(errAMReadCancel(cancel.h, &reason), QV_OK);
  EXPECT_EQ(reason, 0);
  ASSERT_EQ(errAMBuildAccessDenied(&denied.h, static_cast<int32_t>(QVS_AM_ACCESS_DENIED)), QV_OK);
  ASSERT_EQ(errAMReadAccessDenied(denied.h, &reason), QV_OK);
  EXPECT_EQ(static_cast<QVSTATUS>(reason), QVS_AM_ACCESS_DENIED);
}

TEST(ProtocolRead, SessionCertificateSubObjects) {
  Msg cert, dummy;
  cert.h = Certificate();
  ASSERT_EQ(errAMCreateDummySessionCert(&dummy.h), QV_OK);
  uint8_t data[16];
  size_t size = sizeof data;
  ASSERT_EQ(errQVExtObjGetBinary(dummy.h, "dummy1", data, &size), QV_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), "dummy data");

  {  // type 8 without a certificate is a normal answer
    Msg m, got;
    ASSERT_EQ(errAMBuildSessionCert(&m.h, nullptr), QV_OK);
    got.h = cert.h;  // must be overwritten
    ASSERT_EQ(errAMReadSessionCert(m.h, &got.h), QV_OK);
    EXPECT_EQ(got.h, nullptr);
  }
  {
    Msg m, got;
    ASSERT_EQ(errAMBuildSessionCert(&m.h, cert.h), QV_OK);
    ASSERT_EQ(errAMReadSessionCert(m.h, &got.h), QV_OK);
    ASSERT_NE(got.h, nullptr);
    EXPECT_EQ(Write(got.h), Write(cert.h));
  }
  {
    Msg m;
    ASSERT_EQ(errAMBuildStoreSessionCert(&m.h, "bob", "CORP", dummy.h), QV_OK);
    AMStoreSessionCert s{};
    ASSERT_EQ(errAMReadStoreSessionCert(m.h, &s), QV_OK);
    EXPECT_TRUE(s.Dummy);
    EXPECT_EQ(s.Certificate, nullptr);
    EXPECT_STREQ(s.Username, "bob");
  }
  {
    Msg m, owned;
    ASSERT_EQ(errAMBuildStoreSessionCert(&m.h, "bob", "CORP", cert.h), QV_OK);
    AMStoreSessionCert s{};
    ASSERT_EQ(errAMReadStoreSessionCert(m.h, &s), QV_OK);
    owned.h = s.Certificate;
    EXPECT_FALSE(s.Dummy);
    ASSERT_NE(owned.h, nullptr);
    EXPECT_EQ(Write(owned.h), Write(cert.h));
  }
  {  // type 5 without a certificate of either kind
    Msg m;
    Parse("(Dazar:(Protocol:1)(Type:5)(Username:\"bob\")(Domain:\"CORP\"))", m);
    AMStoreSessionCert s{};
    EXPECT_EQ(errAMReadStoreSessionCert(m.h, &s), QVS_AM_PROTOCOL_ERROR);
    EXPECT_EQ(s.Certificate, nullptr);
  }
  Msg none;
  EXPECT_EQ(errAMBuildStoreSessionCert(&none.h, "bob", "CORP", nullptr), QVS_EXTOBJ_NULL_HANDLE);
}

TEST(ProtocolRead, MalformedMessagesAreProtocolErrors) {
  AMNewPinReq np{};
  AMPasscodeReq pr{};
  AMPasscode pc{};
  int32_t reason = 0;
  struct Case {
    const char* text;
    std::function<QVSTATUS(HQVEXTOBJ)> read;
  } cases[] = {
      {"(Dazar:(Protocol:1)(Type:3)(SystemPIN:\"\")(Alphanumeric:200)(Selectable:1)"
       "(MinLength:4)(MaxLength:8))",
       [&](HQVEXTOBJ m) { return errAMReadNewPinReq(m, &np); }},
      {"(Dazar:(Protocol:1)(Type:3)(SystemPIN:\"\")(Alphanumeric:0)(Selectable:1)"
       "(MinLength:-128)(MaxLength:8))",
       [&](HQVEXTOBJ m) { return errAMReadNewPinReq(m, &np); }},
      {"(Dazar:(Protocol:1)(Type:2)(Username:\"a\")(Domain:\"b\")(KELTime:1))",  // no KELReturn
       [&](HQVEXTOBJ m) { return errAMReadPasscodeReq(m, &pr); }},
      {"(Dazar:(Protocol:1)(Type:2)(Username:5)(Domain:\"b\")(KELTime:1)(KELReturn:0))",
       [&](HQVEXTOBJ m) { return errAMReadPasscodeReq(m, &pr); }},
      {"(Desktop:(Protocol:1)(Type:12)(Reason:0))",  // wrong type for the reader
       [&](HQVEXTOBJ m) { return errAMReadPasscode(m, &pc); }},
      {"(Desktop:(Protocol:1)(Reason:0))",
       [&](HQVEXTOBJ m) { return errAMReadCancel(m, &reason); }},
      {"(Dazar:(Protocol:1)(Type:6)(Reason:\"x\"))",
       [&](HQVEXTOBJ m) { return errAMReadAccessDenied(m, &reason); }},
      {"(Desktop:(Protocol:1)(Type:8)(SessionCertificate:\"x\"))",
       [&](HQVEXTOBJ m) {
         HQVEXTOBJ cert = nullptr;
         return errAMReadSessionCert(m, &cert);
       }},
      {"(Dazar:(Protocol:1)(Type:4))",
       [](HQVEXTOBJ m) { return errAMReadEmpty(m, AM_AUTHSUCCESS); }},
  };
  for (const Case& c : cases) {
    Msg m;
    Parse(c.text, m);
    EXPECT_EQ(c.read(m.h), QVS_AM_PROTOCOL_ERROR) << c.text;
  }
}

TEST(ProtocolCheck, ProtocolAndType) {
  struct Case {
    const char* text;
    QVSTATUS status;
    uint16_t type;
  } cases[] = {
      {"(Dazar:(Protocol:1)(Type:7))", QV_OK, 7},
      {"(Dazar:(Protocol:257)(Type:2))", QV_OK, 2},  // only the low 8 bits count
      {"(Desktop:(Protocol:2)(Type:9))", QVS_AM_BAD_PROTOCOL, 0},
      {"(Desktop:(Protocol:0)(Type:9))", QVS_AM_BAD_PROTOCOL, 0},
      {"(Desktop:(Type:9))", QVS_AM_BAD_PROTOCOL, 0},
      {"(Desktop:(Protocol:\"1\")(Type:9))", QVS_AM_BAD_PROTOCOL, 0},
      {"(Desktop:(Protocol:1))", QVS_AM_PROTOCOL_ERROR, 0},
      {"(Desktop:(Protocol:1)(Type:65535))", QVS_AM_PROTOCOL_ERROR, 0},
      {"(Desktop:(Protocol:1)(Type:-1))", QVS_AM_PROTOCOL_ERROR, 0},
  };
  for (const Case& c : cases) {
    Msg m;
    Parse(c.text, m);
    uint16_t type = 0;
    EXPECT_EQ(errAMCheckProtocolMessage(m.h, &type), c.status) << c.text;
    EXPECT_EQ(type, c.type) << c.text;
  }
}

TEST(ProtocolTransfer, SendAndReceiveOverASession) {
  qv::netmsg::SocketSessionPair pair;
  ASSERT_TRUE(qv::netmsg::MakeSocketSessionPair(pair));
  HQVEXTOBJ out = nullptr;
  ASSERT_EQ(errAMBuildPasscodeReq(&out, "bob", "CORP", 1, 0), QV_OK);
  ASSERT_EQ(errAMSendProtocolMessage(pair.a.get(), pair.a->Socket(), out), QV_OK);
  const char bad[] = "28(Dazar:(Protocol:2)(Type:7))";
  ASSERT_TRUE(qv::netmsg::WriteAll(pair.a->Socket(), bad, sizeof bad - 1));

  Msg in;
  uint16_t type = 0;
  ASSERT_EQ(
      errAMReceiveProtocolMessage(pair.b.get(), pair.b->Socket(), &in.h, &type, QV_NETMSG_NO_LIMIT),
      QV_OK);
  EXPECT_EQ(type, AM_PASSCODEREQ);
  AMPasscodeReq pr{};
  EXPECT_EQ(errAMReadPasscodeReq(in.h, &pr), QV_OK);

  Msg refused;
  EXPECT_EQ(errAMReceiveProtocolMessage(pair.b.get(), pair.b->Socket(), &refused.h, &type,
                                        QV_NETMSG_NO_LIMIT),
            QVS_AM_BAD_PROTOCOL);
  EXPECT_EQ(refused.h, nullptr);

  pair.a->Close();
  EXPECT_EQ(errAMReceiveProtocolMessage(pair.b.get(), pair.b->Socket(), &refused.h, &type,
                                        QV_NETMSG_NO_LIMIT),
            QVS_NETMSG_RECEIVE_FAILED);
}

}  // namespace
