#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qvcert.h"
#include "runtime/cert/cert_fixture.h"

namespace {

using qv::cert::testing::CertTest;
using Bytes = std::vector<uint8_t>;

Bytes Record(uint8_t marker, uint8_t tag, const Bytes& data, int lengthOverride = -1) {
  const uint32_t n = lengthOverride >= 0 ? static_cast<uint32_t>(lengthOverride) : static_cast<uint32_t>(data.size());
  Bytes r = {marker, tag, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
  r.insert(r.end(), data.begin(), data.end());
  return r;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

class KeyFileTest : public CertTest {};

TEST_F(KeyFileTest, RecordReading) {
  const Bytes pub(40, 0x11), priv(70, 0x22);
  const struct {
    const char* name;
    Bytes file;
    int tag;
    int status;
    Bytes expected;
  } cases[] = {
      {"public then private", Cat({Record(1, 1, pub), Record(1, 2, priv)}), 2, 0, priv},
      {"public only, ends cleanly", Record(1, 1, pub), 2, QVKEYFILE_NO_SUCH_TAG, {}},
      {"empty file", {}, 2, QVKEYFILE_NO_SUCH_TAG, {}},
      {"bad first byte", Record(2, 2, priv), 2, QVKEYFILE_BAD_RECORD, {}},
      {"garbage after a record", Cat({Record(1, 1, pub), Bytes{0x07, 0x02}}), 2, QVKEYFILE_BAD_RECORD, {}},
      {"wanted record truncated", Cat({Record(1, 1, pub), Record(1, 2, priv, 80)}), 2, QVKEYFILE_BAD_RECORD, {}},
      {"skipped record truncated", Record(1, 1, pub, 50), 2, QVKEYFILE_BAD_RECORD, {}},
      {"record longer than 4096", Record(1, 2, Bytes(10, 0), 4097), 2, QVKEYFILE_BAD_RECORD, {}},
      {"zero-length record", Record(1, 2, {}), 2, 0, {}},
  };
  const std::string path = root_ + "/keys";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(path, c.file);
    uint8_t data[QV_KEYFILE_MAX_DATA];
    uint32_t length = 99;
    EXPECT_EQ(iGetKeyFromKeyFile(path.c_str(), c.tag, data, &length), c.status);
    EXPECT_EQ(Bytes(data, data + (c.status == 0 ? length : 0)), c.expected);
    if (c.status) {
      EXPECT_EQ(length, 0u);
    }
  }
  uint8_t data[QV_KEYFILE_MAX_DATA];
  uint32_t length = 0;
  EXPECT_EQ(iGetKeyFromKeyFile((root_ + "/missing").c_str(), 2, data, &length), QVKEYFILE_CANNOT_OPEN);
}

TEST_F(KeyFileTest, AppendWritesRecordsAtTheEnd) {
  const std::string path = root_ + "/keys";
  const Bytes pub(300, 0x33), priv(4096, 0x44);
  ASSERT_EQ(iAddKeyToEndOfKeyFile(path.c_str(), 1, pub.data(), static_cast<uint32_t>(pub.size())), 0);
  ASSERT_EQ(iAddKeyToEndOfKeyFile(path.c_str(), 2, priv.data(), static_cast<uint32_t>(priv.size())), 0);
  EXPECT_EQ(iAddKeyToEndOfKeyFile(path.c_str(), 2, priv.data(), 4097), QVKEYFILE_RECORD_TOO_LONG);
  EXPECT_EQ(iAddKeyToEndOfKeyFile((root_ + "/no/such/dir").c_str(), 2, priv.data(), 8), QVKEYFILE_CANNOT_APPEND);
  uint8_t data[QV_KEYFILE_MAX_DATA];
  uint32_t length = 0;
  ASSERT_EQ(errQVKeyFileGetPrivateKey(path.c_str(), data, &length), 0u);
  EXPECT_EQ(Bytes(data, data + length), priv);
  ASSERT_EQ(errQVKeyFileGetPublicKey(path.c_str(), data, &length), 0u);
  EXPECT_EQ(Bytes(data, data + length), pub);
}

TEST_F(KeyFileTest, PrivateKeyUnderPassPhraseRoundTrips) {
  const std::string path = root_ + "/dc.key";
  qv::cert::SecureBytes key = qv::cert::PrivateKeyToPkcs8(qv::cert::testing::SharedKey(1));
  ASSERT_FALSE(key.empty());
  ASSERT_EQ(errQVKeyFileAddPublicKeyToEnd(path.c_str(), key.data(), 16), 0u);
  ASSERT_EQ(errQVKeyFileAddPrivateKeyToEndEx(path.c_str(), key.data(), static_cast<uint32_t>(key.size()), "s3cret"), 0u);
  uint8_t out[QV_KEYFILE_MAX_DATA];
  uint32_t length = 0;
  ASSERT_EQ(errQVKeyFileGetPrivateKeyEx(path.c_str(), out, &length, "s3cret"), 0u);
  EXPECT_EQ(Bytes(out, out + length), Bytes(key.data(), key.data() + key.size()));
  EXPECT_EQ(CMCheckPrivateKey(out, length), QV_OK);
}

// Fixed bytes under a fixed pass phrase give the same record every run, so
// the wrong pass phrase below always fails the padding check.
TEST_F(KeyFileTest, WrongPassPhraseHandsOutNothing) {
  Bytes plain(200);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i * 7 + 3);
  uint8_t enc[256];
  uint32_t encLength = 0;
  const char right[] = "correct horse";
  ASSERT_EQ(errQVPKCS5PBEncDnc(plain.data(), 200, enc, sizeof enc, &encLength,
                               reinterpret_cast<const uint8_t*>(right), sizeof right - 1, 1),
            0u);
  EXPECT_EQ(encLength, 208u);
  const std::string path = root_ + "/fixed.key";
  ASSERT_EQ(iAddKeyToEndOfKeyFile(path.c_str(), 2, enc, encLength), 0);

  uint8_t out[QV_KEYFILE_MAX_DATA];
  std::memset(out, 0x5A, sizeof out);
  uint32_t length = 77;
  EXPECT_EQ(errQVKeyFileGetPrivateKeyEx(path.c_str(), out, &length, "wrong horse"), QVCRYPTO_DECRYPT_INTERNAL);
  EXPECT_EQ(length, 0u);
  for (uint8_t b : out) ASSERT_EQ(b, 0x5A);
  // The right pass phrase yields the bytes, which are no private key.
  EXPECT_EQ(errQVKeyFileGetPrivateKeyEx(path.c_str(), out, &length, right), QVCRYPTO_INTEGRITY);
  EXPECT_EQ(length, 0u);
}

// A wrong pass phrase that passes the padding check is found within a few
// hundred tries; what it yields is refused.
TEST_F(KeyFileTest, LuckyWrongPassPhraseIsRefused) {
  qv::cert::SecureBytes key = qv::cert::PrivateKeyToPkcs8(qv::cert::testing::SharedKey(1));
  uint8_t enc[QV_KEYFILE_MAX_DATA];
  uint32_t encLength = 0;
  ASSERT_EQ(errQVPKCS5PBEncDnc(key.data(), static_cast<uint32_t>(key.size()), enc, sizeof enc, &encLength,
                               reinterpret_cast<const uint8_t*>("right"), 5, 1),
            0u);
  const std::string path = root_ + "/dc.key";
  ASSERT_EQ(iAddKeyToEndOfKeyFile(path.c_str(), 2, enc, encLength), 0);
  bool lucky = false;
  for (int i = 0; i < 5000 && !lucky; ++i) {
    const std::string wrong = "wrong" + std::to_string(i);
    uint8_t plain[QV_KEYFILE_MAX_DATA];
    uint32_t plainLength = 0;
    if (errQVPKCS5PBEncDnc(enc, encLength, plain, sizeof plain, &plainLength,
                           reinterpret_cast<const uint8_t*>(wrong.data()), static_cast<uint32_t>(wrong.size()),
                           2) != 0)
      continue;
    lucky = true;
    EXPECT_EQ(CMCheckPrivateKey(plain, plainLength), QVS_CM_CRYPTO);
    uint8_t out[QV_KEYFILE_MAX_DATA];
    uint32_t outLength = 1;
    EXPECT_EQ(errQVKeyFileGetPrivateKeyEx(path.c_str(), out, &outLength, wrong.c_str()), QVCRYPTO_INTEGRITY);
    EXPECT_EQ(outLength, 0u);
  }
  EXPECT_TRUE(lucky);
}

TEST(CryptoMsg, TextsAsWritten) {
  const struct {
    uint32_t code;
    const char* text;
  } cases[] = {
      {0, "Success"},
      {19001, "certifificate function out of memory"},
      {19010, "An internal error occured while generating a certificate"},
      {19020, "Unable to set fields into new certificate request."},
      {19201, "Bad encryption type."},
      {19506, "Allocate more memory for key data"},
      {19301, "Unknown error"},
      {4, "Unknown error"},
  };
  for (const auto& c : cases) EXPECT_STREQ(pszQVCryptoMsgToString(c.code), c.text) << c.code;
}

}  // namespace
