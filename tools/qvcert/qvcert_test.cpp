#include "tools/qvcert/commands.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "qvcert.h"
#include "runtime/cert/cert_fixture.h"

namespace {

using qv::cert::testing::CertTest;

class QvcertTest : public CertTest {
 protected:
  void SetUp() override {
    CertTest::SetUp();
    pass_ = root_ + "/pass";
    WriteFile(pass_, "domain pass phrase\n");
  }
  int Run(std::vector<std::string> args, bool withPass = true) {
    if (withPass) {
      args.push_back("--pass-file");
      args.push_back(pass_);
    }
    out_.str("");
    err_.str("");
    return qv::qvcert::Run(args, out_, err_, nullptr);
  }
  std::string P(const char* name) const { return root_ + "/" + name; }
  std::string pass_;
  std::ostringstream out_, err_;
};

// A domain from nothing: root, DC request, issue, install, show, delete.
TEST_F(QvcertTest, SetsUpADomainFromNothing) {
  ASSERT_EQ(Run({"root-create", "--key", P("root.key"), "--cert", P("root.der"), "--subject", "CN=Test Root,O=Example"}), 0)
      << err_.str();
  ASSERT_EQ(Run({"dc-request", "--key", P("dc.key"), "--request", P("dc.req"), "--subject", "CN=dc1.example.com,O=Example"}), 0)
      << err_.str();
  ASSERT_EQ(Run({"issue", "--request", P("dc.req"), "--ca-cert", P("root.der"), "--ca-key", P("root.key"), "--out",
                 P("dc.der")}),
            0)
      << err_.str();
  ASSERT_EQ(Run({"verify", "--cert", P("dc.der"), "--ca-cert", P("root.der")}, false), 0) << err_.str();
  ASSERT_EQ(Run({"show", "--cert", P("dc.der")}, false), 0);
  EXPECT_NE(out_.str().find("Subject name: Common Name=dc1.example.com;Organization=Example\n"), std::string::npos);
  EXPECT_NE(out_.str().find("Issuer:       Common Name=Test Root, Organization=Example\n"), std::string::npos);
  EXPECT_NE(out_.str().find("Version:      X.509 v3\n"), std::string::npos);

  ASSERT_EQ(Run({"install", "--cert", P("dc.der"), "--key", P("dc.key")}), 0) << err_.str();
  SetString("CACertPath", P("root.der"));
  ASSERT_EQ(CMInitDCSide(), QV_OK);
  uint8_t* cert = nullptr;
  uint32_t length = 0;
  ASSERT_EQ(CMAgentGetDCCert(&cert, &length), QV_OK);
  EXPECT_EQ(CMCheckCertWithRoot(cert, length), QV_OK);
  CMDestroyCert(cert, length);
  CMShutdownDCSide();

  ASSERT_EQ(Run({"delete"}, false), 0) << err_.str();
  EXPECT_EQ(LoadCMRegistry(), QVE_CM_NO_DC_CERT);
}

TEST_F(QvcertTest, KeyFilesRoundTripAndRefuseAWrongPassPhrase) {
  ASSERT_EQ(Run({"dc-request", "--key", P("dc.key"), "--request", P("dc.req"), "--subject", "CN=DC1"}), 0);
  ASSERT_EQ(Run({"key-read", "--key", P("dc.key"), "--out", P("dc.p8")}), 0) << err_.str();
  ASSERT_EQ(Run({"key-write", "--in", P("dc.p8"), "--key", P("again.key")}), 0) << err_.str();
  ASSERT_EQ(Run({"key-read", "--key", P("again.key"), "--out", P("again.p8")}), 0) << err_.str();
  std::ifstream a(P("dc.p8"), std::ios::binary), b(P("again.p8"), std::ios::binary);
  std::stringstream sa, sb;
  sa << a.rdbuf();
  sb << b.rdbuf();
  EXPECT_EQ(sa.str(), sb.str());
  EXPECT_FALSE(sa.str().empty());

  WriteFile(pass_, "not the pass phrase\n");
  EXPECT_EQ(Run({"key-read", "--key", P("dc.key"), "--out", P("wrong.p8")}), 1);
  EXPECT_FALSE(std::ifstream(P("wrong.p8")).good());
}

TEST_F(QvcertTest, UsageErrors) {
  EXPECT_EQ(Run({}, false), 2);
  EXPECT_EQ(Run({"frobnicate"}, false), 2);
  EXPECT_EQ(Run({"show"}, false), 2);
  EXPECT_EQ(Run({"show", "--cert"}, false), 2);
  EXPECT_EQ(Run({"key-read", "--key", P("k"), "--out", P("o"), "--pass", "secret"}, false), 2);
  EXPECT_EQ(Run({"--help"}, false), 0);
  EXPECT_NE(out_.str().find("SYNOPSIS"), std::string::npos);
  // Without a pass-phrase file or a terminal there is no pass phrase.
  EXPECT_EQ(Run({"dc-request", "--key", P("k"), "--request", P("r"), "--subject", "CN=DC1"}, false), 1);
  // The machine name is checked on install.
  ASSERT_EQ(Run({"root-create", "--key", P("root.key"), "--cert", P("root.der"), "--subject", "CN=Root"}), 0);
  ASSERT_EQ(Run({"dc-request", "--key", P("dc.key"), "--request", P("dc.req"), "--subject", "CN=OTHER"}), 0);
  ASSERT_EQ(Run({"issue", "--request", P("dc.req"), "--ca-cert", P("root.der"), "--ca-key", P("root.key"), "--out", P("dc.der")}), 0);
  EXPECT_EQ(Run({"install", "--cert", P("dc.der"), "--key", P("dc.key")}), 1);
  EXPECT_NE(err_.str().find("0xc0002789"), std::string::npos) << err_.str();
}

}  // namespace
