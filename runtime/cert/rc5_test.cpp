#include "runtime/cert/rc5.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Hex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

struct CbcVector {
  int rounds;
  const char* key;
  const char* iv;
  const char* plain;
  const char* cipher;
};

// RFC 2040 RC5-CBC vectors (variable rounds and key lengths).
const CbcVector kCbcVectors[] = {
    {0, "00", "0000000000000000", "0000000000000000", "7a7bba4d79111d1e"},
    {0, "00", "0000000000000000", "ffffffffffffffff", "797bba4d78111d1e"},
    {0, "00", "0000000000000001", "0000000000000000", "7a7bba4d79111d1f"},
    {0, "00", "0000000000000000", "0000000000000001", "7a7bba4d79111d1f"},
    {0, "00", "0000000000000000", "1122334455667788", "8b9ded91ce7794a6"},
    {1, "11", "0000000000000000", "0000000000000000", "2f759fe7ad86a378"},
    {2, "00", "0000000000000000", "0000000000000000", "dca2694bf40e0788"},
    {2, "00000000", "0000000000000000", "0000000000000000", "dca2694bf40e0788"},
    {8, "00", "0000000000000000", "0000000000000000", "dcfe098577eca5ff"},
    {8, "00", "0102030405060708", "1020304050607080", "9646fb77638f9ca8"},
    {12, "00", "0102030405060708", "1020304050607080", "b2b3209db6594da4"},
    {16, "00", "0102030405060708", "1020304050607080", "545f7f32a5fc3836"},
    {8, "01020304", "0000000000000000", "ffffffffffffffff", "8285e7c1b5bc7402"},
    {12, "01020304", "0000000000000000", "ffffffffffffffff", "fc586f92f7080934"},
    {16, "01020304", "0000000000000000", "ffffffffffffffff", "cf270ef9717ff7c4"},
    {12, "0102030405060708", "0000000000000000", "ffffffffffffffff", "e493f1c1bb4d6e8c"},
    {8, "0102030405060708", "0102030405060708", "1020304050607080", "5c4c041e0f217ac3"},
    {12, "0102030405060708", "0102030405060708", "1020304050607080", "921f12485373b4f7"},
    {16, "0102030405060708", "0102030405060708", "1020304050607080", "5ba0ca6bbe7f5fad"},
    {8, "01020304050607081020304050607080", "0102030405060708", "1020304050607080", "c533771cd0110e63"},
    {12, "01020304050607081020304050607080", "0102030405060708", "1020304050607080", "294ddb46b3278d60"},
    {16, "01020304050607081020304050607080", "0102030405060708", "1020304050607080", "dad6bda9dfe8f7e8"},
    {12, "0102030405", "0000000000000000", "ffffffffffffffff", "97e0787837ed317f"},
    {8, "0102030405", "0000000000000000", "ffffffffffffffff", "7875dbf6738c6478"},
    {8, "0102030405", "7875dbf6738c6478", "0808080808080808", "8f34c3c681c99695"},
    {8, "0102030405", "0000000000000000", "0000000000000000", "7cb3f1df34f94811"},
    {8, "0102030405", "7cb3f1df34f94811", "1122334455667701", "7fd1a023a5bba217"},
};

TEST(Rc5, CbcVectors) {
  for (const auto& v : kCbcVectors) {
    SCOPED_TRACE(std::string("key ") + v.key + " rounds " + std::to_string(v.rounds) + " iv " + v.iv);
    auto key = Hex(v.key), iv = Hex(v.iv), plain = Hex(v.plain), cipher = Hex(v.cipher);
    qv::rc5::Schedule s;
    ASSERT_TRUE(qv::rc5::Setup(&s, key.data(), key.size(), v.rounds));
    std::vector<uint8_t> out(plain.size());
    ASSERT_TRUE(qv::rc5::CbcEncrypt(s, iv.data(), plain.data(), plain.size(), out.data()));
    EXPECT_EQ(out, cipher);
    ASSERT_TRUE(qv::rc5::CbcDecrypt(s, iv.data(), cipher.data(), cipher.size(), out.data()));
    EXPECT_EQ(out, plain);
  }
}

// RFC 2040 RC5-CBC-Pad vectors: a full padding block, and a short last block.
TEST(Rc5, CbcPadVectors) {
  struct {
    const char* plain;
    const char* cipher;
  } const cases[] = {
      {"ffffffffffffffff", "7875dbf6738c64788f34c3c681c99695"},
      {"ffffffffffffffff7875dbf6738c647811223344556677",
       "7875dbf6738c64787cb3f1df34f948117fd1a023a5bba217"},
  };
  auto key = Hex("0102030405"), iv = Hex("0000000000000000");
  qv::rc5::Schedule s;
  ASSERT_TRUE(qv::rc5::Setup(&s, key.data(), key.size(), 8));
  for (const auto& c : cases) {
    auto plain = Hex(c.plain), cipher = Hex(c.cipher);
    std::vector<uint8_t> out(qv::rc5::PaddedLength(plain.size()));
    qv::rc5::CbcPadEncrypt(s, iv.data(), plain.data(), plain.size(), out.data());
    EXPECT_EQ(out, cipher);
    std::vector<uint8_t> back(cipher.size());
    size_t n = 0;
    ASSERT_TRUE(qv::rc5::CbcPadDecrypt(s, iv.data(), cipher.data(), cipher.size(), back.data(), &n));
    back.resize(n);
    EXPECT_EQ(back, plain);
  }
}

// The cipher's own published vectors for RC5-32/12/16, each ciphertext being
// the next plaintext.
TEST(Rc5, Rc5_32_12_16Vectors) {
  const char* keys[] = {"00000000000000000000000000000000", "915f4619be41b2516355a50110a9ce91",
                        "783348e75aeb0f2fd7b169bb8dc16787", "dc49db1375a5584f6485b413b5f12baf",
                        "5269f149d41ba0152497574d7f153125"};
  const char* chain[] = {"0000000000000000", "21a5dbee154b8f6d", "f7c013ac5b2b8952",
                         "2f42b3b70369fc92", "65c178b284d197cc", "eb44e415da319824"};
  for (int i = 0; i < 5; ++i) {
    auto key = Hex(keys[i]), block = Hex(chain[i]);
    qv::rc5::Schedule s;
    ASSERT_TRUE(qv::rc5::Setup(&s, key.data(), key.size()));
    qv::rc5::EncryptBlock(s, block.data());
    EXPECT_EQ(block, Hex(chain[i + 1])) << i;
    qv::rc5::DecryptBlock(s, block.data());
    EXPECT_EQ(block, Hex(chain[i])) << i;
  }
}

TEST(Rc5, PadDecryptRejectsMalformedInput) {
  auto key = Hex("000102030405060708090a0b0c0d0e0f");
  uint8_t iv[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  qv::rc5::Schedule s;
  ASSERT_TRUE(qv::rc5::Setup(&s, key.data(), key.size()));
  std::vector<uint8_t> out(16);
  size_t n = 99;
  // Not a whole number of blocks, and empty.
  EXPECT_FALSE(qv::rc5::CbcPadDecrypt(s, iv, out.data(), 12, out.data(), &n));
  EXPECT_FALSE(qv::rc5::CbcPadDecrypt(s, iv, out.data(), 0, out.data(), &n));
  // Plain blocks whose padding byte is 0, 9, or inconsistent.
  for (auto last : {std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0}, std::vector<uint8_t>{9, 9, 9, 9, 9, 9, 9, 9},
                    std::vector<uint8_t>{1, 2, 3, 4, 5, 3, 2, 3}}) {
    std::vector<uint8_t> cipher(8);
    ASSERT_TRUE(qv::rc5::CbcEncrypt(s, iv, last.data(), 8, cipher.data()));
    EXPECT_FALSE(qv::rc5::CbcPadDecrypt(s, iv, cipher.data(), 8, out.data(), &n));
    EXPECT_EQ(n, 0u);
  }
  EXPECT_FALSE(qv::rc5::Setup(&s, key.data(), 256));
}

}  // namespace
