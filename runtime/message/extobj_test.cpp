#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qvextobj.h"
#include "runtime/message/extobj_model.h"

namespace {

// Owns an object for the length of a test.
struct Obj {
  HQVEXTOBJ h = nullptr;
  Obj() = default;
  explicit Obj(const char* type) { EXPECT_EQ(errQVExtObjCreateObj(&h, type), QV_OK); }
  ~Obj() {
    if (h) errQVExtObjDestroyObj(h);
  }
  Obj(const Obj&) = delete;
  Obj& operator=(const Obj&) = delete;
};

std::string Write(HQVEXTOBJ h) {
  size_t length = 0;
  EXPECT_EQ(errQVExtObjExternalSize(h, &length), QV_OK);
  std::string text(length, '\0');
  size_t written = length;
  EXPECT_EQ(errQVExtObjWriteToBuffer(h, text.data(), &written), QV_OK);
  EXPECT_EQ(written, length);
  return text;
}

QVSTATUS Read(const std::string& text, Obj& out) {
  return errQVExtObjCreateObjFromBuffer(&out.h, text.data(), text.size());
}

std::string Str(HQVEXTOBJ h, const char* name) {
  char buffer[256];
  size_t size = sizeof buffer;
  EXPECT_EQ(errQVExtObjGetString(h, name, buffer, &size), QV_OK);
  return buffer;
}

std::vector<uint8_t> Bin(HQVEXTOBJ h, const char* name) {
  size_t size = 0;
  EXPECT_EQ(errQVExtObjGetBinary(h, name, nullptr, &size), QV_OK);
  std::vector<uint8_t> bytes(size);
  EXPECT_EQ(errQVExtObjGetBinary(h, name, bytes.data(), &size), QV_OK);
  return bytes;
}

TEST(ExtObjWrite, TextForms) {
  {
    Obj o("T");
    EXPECT_EQ(Write(o.h), "4(T:)");
  }
  {
    Obj o("T");
    ASSERT_EQ(errQVExtObjAddI32(o.h, "a", 5), QV_OK);
    EXPECT_EQ(Write(o.h), "9(T:(a:5))");
  }
  {
    Obj o("Dazar"), s("S");
    ASSERT_EQ(errQVExtObjAddI32(o.h, "n", 7), QV_OK);
    ASSERT_EQ(errQVExtObjAddI32(s.h, "c", 1), QV_OK);
    ASSERT_EQ(errQVExtObjAddObjAttribute(o.h, s.h), QV_OK);
    EXPECT_EQ(Write(o.h), "22(Dazar:(n:7)(S:(c:1)))");
  }
  {
    Obj o("T");
    ASSERT_EQ(errQVExtObjCreateString(o.h, "b", "x"), QV_OK);
    ASSERT_EQ(errQVExtObjCreateString(o.h, "q", "a\"b\\c"), QV_OK);
    ASSERT_EQ(errQVExtObjAddI32(o.h, "m", INT32_MIN), QV_OK);
    ASSERT_EQ(errQVExtObjAddI8(o.h, "s", -1), QV_OK);
    ASSERT_EQ(errQVExtObjAddU16(o.h, "u", 65535), QV_OK);
    EXPECT_EQ(Write(o.h), "54(T:(b:\"x\")(q:\"a\\\"b\\\\c\")(m:-2147483648)(s:-1)(u:65535))");
  }
}

TEST(ExtObjWrite, KindsAndBase64Padding) {
  struct Case {
    std::string bytes;
    const char* text;
  } cases[] = {
      {"", "9(T:(v:|))"},         {"A", "13(T:(v:|QQ==))"},        {"AB", "13(T:(v:|QUI=))"},
      {"ABC", "13(T:(v:|QUJD))"}, {"ABCD", "17(T:(v:|QUJDRA==))"},
  };
  for (const Case& c : cases) {
    Obj o("T");
    ASSERT_EQ(errQVExtObjAddBinary(o.h, "v", c.bytes.data(), c.bytes.size()), QV_OK);
    std::string text = Write(o.h);
    EXPECT_EQ(text, c.text);
    Obj back;
    ASSERT_EQ(Read(text, back), QV_OK) << text;
    std::vector<uint8_t> got = Bin(back.h, "v");
    EXPECT_EQ(std::string(got.begin(), got.end()), c.bytes) << text;
  }
}

TEST(ExtObjWrite, MixedAndUnicode) {
  Obj o("T");
  const char user[] = "J\xC3\xBCrgen";
  ASSERT_EQ(errQVExtObjCreateString(o.h, "Username", user), QV_OK);
  const char16_t wide[] = u"Hi";
  ASSERT_EQ(errAddAttrFromType(o.h, QV_ATTR_UNICODE, "w", wide, 4), QV_OK);
  std::string text = Write(o.h);
  EXPECT_EQ(text, "41(T:(Username:~SsO8cmdlbgA=)(w:#SABpAA==))");

  Obj back;
  ASSERT_EQ(Read(text, back), QV_OK);
  uint32_t kind = 0;
  size_t length = 0;
  ASSERT_EQ(errQVExtObjGetAttrInfo(back.h, "Username", &kind, &length), QV_OK);
  EXPECT_EQ(kind, QV_ATTR_MIXED);
  EXPECT_EQ(length, sizeof user);  // one terminating zero, not two
  EXPECT_EQ(Str(back.h, "Username"), user);
  EXPECT_EQ(Write(back.h), text);

  ASSERT_EQ(errQVExtObjGetAttrInfo(back.h, "w", &kind, &length), QV_OK);
  EXPECT_EQ(kind, QV_ATTR_UNICODE);
  EXPECT_EQ(length, 4u);
  // "!" carries the most significant byte first.
  Obj swapped;
  ASSERT_EQ(Read("(T:(w:!AEgAaQ==))", swapped), QV_OK);
  EXPECT_EQ(Write(swapped.h), "17(T:(w:#SABpAA==))");

  EXPECT_EQ(errAddAttrFromType(o.h, QV_ATTR_UNICODE, "odd", wide, 3), QVS_EXTOBJ_ODD_UNICODE);
}

TEST(ExtObjWrite, BufferTooSmallReportsExactLength) {
  Obj o("T");
  ASSERT_EQ(errQVExtObjCreateString(o.h, "s", "quote\" and \\"), QV_OK);
  size_t need = 0;
  ASSERT_EQ(errQVExtObjExternalSize(o.h, &need), QV_OK);
  std::string buffer(need, '\0');
  size_t length = need - 1;
  EXPECT_EQ(errQVExtObjWriteToBuffer(o.h, buffer.data(), &length), QVS_EXTOBJ_BUFFER_TOO_SMALL);
  EXPECT_EQ(length, need);
  EXPECT_EQ(errQVExtObjWriteToBuffer(o.h, buffer.data(), &length), QV_OK);
  EXPECT_EQ(length, need);
  EXPECT_EQ(buffer, "24(T:(s:\"quote\\\" and \\\\\"))");

  EXPECT_EQ(errQVExtObjWriteToBuffer(o.h, nullptr, &length), QVS_EXTOBJ_NULL_DESTINATION);
  EXPECT_EQ(errQVExtObjWriteToBuffer(o.h, buffer.data(), nullptr), QVS_EXTOBJ_NULL_LENGTH);
}

// Two sub-objects added one after the other stay side by side in the text
// and come back at the same depths.
TEST(ExtObjWrite, SiblingSubObjects) {
  Obj o("T"), a("A"), b("B");
  ASSERT_EQ(errQVExtObjAddI32(a.h, "x", 1), QV_OK);
  ASSERT_EQ(errQVExtObjAddI32(b.h, "y", 2), QV_OK);
  ASSERT_EQ(errQVExtObjAddObjAttribute(o.h, a.h), QV_OK);
  ASSERT_EQ(errQVExtObjAddObjAttribute(o.h, b.h), QV_OK);
  std::string text = Write(o.h);
  EXPECT_EQ(text, "22(T:(A:(x:1))(B:(y:2)))");

  Obj subA;
  ASSERT_EQ(errQVExtObjGetObjAttribute(o.h, "A", &subA.h), QV_OK);
  EXPECT_EQ(Write(subA.h), "9(A:(x:1))");

  Obj back;
  ASSERT_EQ(Read(text, back), QV_OK);
  EXPECT_EQ(Write(back.h), text);
}

TEST(ExtObjRead, AcceptedTexts) {
  struct Case {
    const char* text;
    const char* rewritten;
  } cases[] = {
      {"4(T:)", "4(T:)"},
      {"(T:)", "4(T:)"},
      {"v1(T:)", "4(T:)"},
      {"12v1(T:(a:5))", "9(T:(a:5))"},
      {"(T:(a:5))trailing junk", "9(T:(a:5))"},
      {"( T: (a:5) ( b: \"x\" ) )", "16(T:(a:5)(b:\"x\"))"},
      {"(T:(a: -12 ))", "11(T:(a:-12))"},
      {"(T:(e:\"\"))", "10(T:(e:\"\"))"},
      {"(T:(t:\"\\q\"))", "11(T:(t:\"q\"))"},
      {"(:(:1))", "7(:(:1))"},
      {"(T:(b:|QUJD ))", "13(T:(b:|QUJD))"},
      {"(T:(A:(B:(c:1))(d:2))(e:3))", "27(T:(A:(B:(c:1))(d:2))(e:3))"},
      // Long digit runs wrap to 32 bits: 4294967297 is 1.
      {"(T:(i:4294967297))", "9(T:(i:1))"},
      {"(T:(i:-2147483648))", "19(T:(i:-2147483648))"},
  };
  for (const Case& c : cases) {
    Obj o;
    ASSERT_EQ(Read(c.text, o), QV_OK) << c.text;
    EXPECT_EQ(Write(o.h), c.rewritten) << c.text;
  }
}

TEST(ExtObjRead, RejectedTexts) {
  const std::string longName(81, 'n');
  struct Case {
    std::string text;
    QVSTATUS status;
  } cases[] = {
      {"", QVS_EXTOBJ_TEXT_TOO_SHORT},
      {"12", QVS_EXTOBJ_TEXT_TOO_SHORT},
      {"x(T:)", QVS_EXTOBJ_SYNTAX},
      {"v2(T:)", QVS_EXTOBJ_BAD_VERSION},
      {"v(T:)", QVS_EXTOBJ_BAD_VERSION},
      {"(T:(a:5)", QVS_EXTOBJ_TEXT_TOO_SHORT},
      {"(T:(a:5) x)", QVS_EXTOBJ_SYNTAX},
      {"(T", QVS_EXTOBJ_TEXT_TOO_SHORT},
      {"(T :)", QVS_EXTOBJ_SYNTAX},
      {"(T:(a :5))", QVS_EXTOBJ_SYNTAX},
      {"(T\t:)", QVS_EXTOBJ_SYNTAX},
      {"(" + longName + ":)", QVS_EXTOBJ_SYNTAX},
      {"(T:(" + longName + ":1))", QVS_EXTOBJ_SYNTAX},
      {"(" + longName.substr(1) + ":)", QV_OK},
      {"(T:(a:x))", QVS_EXTOBJ_SYNTAX},
      {"(T:(a:5 6))", QVS_EXTOBJ_SYNTAX},
      {"(T:(a:-))", QVS_EXTOBJ_BAD_VALUE},
      {"(T:(a:12345678901234567890))", QVS_EXTOBJ_SYNTAX},  // 20th digit not taken
      {"(T:(s:\"abc))", QVS_EXTOBJ_BAD_VALUE},
      {"(T:(s:\"abc\\", QVS_EXTOBJ_BAD_VALUE},
      {"(T:(s:\"\xC3\xBC\"))", QVS_EXTOBJ_BAD_VALUE},
      {std::string("(T:(s:\"a\0b\"))", 13), QVS_EXTOBJ_BAD_VALUE},
      {"(T:(b:|QUJ))", QVS_EXTOBJ_BAD_VALUE},
      {"(T:(b:|Q))", QVS_EXTOBJ_BAD_VALUE},
      {"(T:(b:|QU=A))", QVS_EXTOBJ_BAD_VALUE},
      {"(T:(b:|QUJD=))", QVS_EXTOBJ_BAD_VALUE},
      {"(T:(b:|QUI==))", QVS_EXTOBJ_BAD_VALUE},
      {"(T:(b:|QU*D))", QVS_EXTOBJ_BAD_VALUE},
      {"(T:(b:|QUJD", QVS_EXTOBJ_TEXT_TOO_SHORT},
      {"(T:(b:|QQ==", QVS_EXTOBJ_TEXT_TOO_SHORT},
      {"(T:(b:|QQ=", QVS_EXTOBJ_TEXT_TOO_SHORT},
      {"(T:(w:#QUJD))", QVS_EXTOBJ_BAD_VALUE},  // 3 bytes: odd
      {"(T:(w:!QQ==))", QVS_EXTOBJ_BAD_VALUE},
      {"(T:(A:))", QVS_EXTOBJ_SYNTAX},
      {"(T:(A:(b:1))", QVS_EXTOBJ_TEXT_TOO_SHORT},
  };
  for (const Case& c : cases) {
    HQVEXTOBJ h = reinterpret_cast<HQVEXTOBJ>(&cases);
    EXPECT_EQ(errQVExtObjCreateObjFromBuffer(&h, c.text.data(), c.text.size()), c.status) << c.text;
    if (c.status != QV_OK) {
      EXPECT_EQ(h, nullptr) << c.text;
    } else {
      errQVExtObjDestroyObj(h);
    }
  }
  HQVEXTOBJ h = nullptr;
  EXPECT_EQ(errQVExtObjCreateObjFromBuffer(&h, nullptr, 4), QVS_EXTOBJ_NULL_SOURCE);
}

// The reader stops at the given length even when the bytes beyond it would
// complete the text.
TEST(ExtObjRead, NeverLooksPastLength) {
  const std::string full = "(T:(a:5))";
  for (size_t n = 0; n < full.size(); ++n) {
    std::vector<char> exact(full.begin(), full.begin() + n);
    HQVEXTOBJ h = nullptr;
    EXPECT_NE(errQVExtObjCreateObjFromBuffer(&h, exact.data(), exact.size()), QV_OK) << n;
    EXPECT_EQ(h, nullptr);
  }
  const std::string b64 = "(T:(b:|QUJD))";
  HQVEXTOBJ h = nullptr;
  EXPECT_EQ(errQVExtObjCreateObjFromBuffer(&h, b64.data(), b64.size() - 2),
            QVS_EXTOBJ_TEXT_TOO_SHORT);
}

TEST(ExtObjAttributes, IntegerReadersRanges) {
  Obj o("T");
  const int32_t values[] = {-128, -127, 127, 128, 200, -1, 0, 65000, 65001, 65535};
  for (int32_t v : values) {
    ASSERT_EQ(errQVExtObjAddI32(o.h, std::to_string(v).c_str(), v), QV_OK);
  }
  struct Case {
    int32_t v;
    QVSTATUS i8;
    QVSTATUS u16;
  } cases[] = {
      {-128, QVS_EXTOBJ_OUT_OF_RANGE, QVS_EXTOBJ_OUT_OF_RANGE},
      {-127, QV_OK, QVS_EXTOBJ_OUT_OF_RANGE},
      {127, QV_OK, QV_OK},
      {128, QVS_EXTOBJ_OUT_OF_RANGE, QV_OK},
      {200, QVS_EXTOBJ_OUT_OF_RANGE, QV_OK},
      {-1, QV_OK, QVS_EXTOBJ_OUT_OF_RANGE},
      {0, QV_OK, QV_OK},
      {65000, QVS_EXTOBJ_OUT_OF_RANGE, QV_OK},
      {65001, QVS_EXTOBJ_OUT_OF_RANGE, QVS_EXTOBJ_OUT_OF_RANGE},
      {65535, QVS_EXTOBJ_OUT_OF_RANGE, QVS_EXTOBJ_OUT_OF_RANGE},
  };
  for (const Case& c : cases) {
    std::string name = std::to_string(c.v);
    int8_t i8 = 0;
    uint16_t u16 = 0;
    EXPECT_EQ(errQVExtObjGetI8(o.h, name.c_str(), &i8), c.i8) << c.v;
    EXPECT_EQ(errQVExtObjGetU16(o.h, name.c_str(), &u16), c.u16) << c.v;
    if (c.i8 == QV_OK) {
      EXPECT_EQ(i8, c.v);
    }
    if (c.u16 == QV_OK) {
      EXPECT_EQ(u16, c.v);
    }
  }
  ASSERT_EQ(errQVExtObjAddI8(o.h, "neg", -100), QV_OK);
  int32_t i32 = 0;
  ASSERT_EQ(errQVExtObjGetI32(o.h, "neg", &i32), QV_OK);
  EXPECT_EQ(i32, -100);  // sign-extended
}

TEST(ExtObjAttributes, LookupKindsAndCursor) {
  Obj o("T");
  ASSERT_EQ(errQVExtObjAddI32(o.h, "n", 1), QV_OK);
  ASSERT_EQ(errQVExtObjCreateString(o.h, "s", "text"), QV_OK);
  ASSERT_EQ(errQVExtObjAddI32(o.h, "n", 2), QV_OK);  // duplicate name: first wins

  int32_t v = 0;
  EXPECT_EQ(errQVExtObjGetI32(o.h, "n", &v), QV_OK);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(errQVExtObjGetI32(o.h, "missing", &v), QVS_EXTOBJ_NO_ATTRIBUTE);
  EXPECT_EQ(errQVExtObjGetI32(o.h, "s", &v), QVS_EXTOBJ_WRONG_KIND);
  char buffer[8];
  size_t size = sizeof buffer;
  EXPECT_EQ(errQVExtObjGetString(o.h, "n", buffer, &size), QVS_EXTOBJ_WRONG_KIND);
  EXPECT_EQ(errQVExtObjGetBinary(o.h, "s", buffer, &size), QVS_EXTOBJ_WRONG_KIND);

  // An empty name means the node found last.
  EXPECT_EQ(Str(o.h, "s"), "text");
  uint32_t kind = 0;
  size_t length = 0;
  EXPECT_EQ(errQVExtObjGetAttrInfo(o.h, "", &kind, &length), QV_OK);
  EXPECT_EQ(kind, QV_ATTR_ASCII);
  EXPECT_EQ(length, 5u);

  Obj fresh("T");
  EXPECT_EQ(errQVExtObjGetI32(fresh.h, "", &v), QVS_EXTOBJ_NO_ATTRIBUTE);
}

TEST(ExtObjAttributes, TruncatingReadersReportFullLength) {
  Obj o("T");
  ASSERT_EQ(errQVExtObjCreateString(o.h, "s", "abcdefghijklmnopqrst"), QV_OK);
  const uint8_t bytes[] = {1, 2, 3, 4, 5};
  ASSERT_EQ(errQVExtObjAddBinary(o.h, "b", bytes, sizeof bytes), QV_OK);

  char text[8];
  std::memset(text, 'X', sizeof text);
  size_t size = sizeof text;
  ASSERT_EQ(errQVExtObjGetString(o.h, "s", text, &size), QV_OK);
  EXPECT_EQ(size, 21u);
  EXPECT_STREQ(text, "abcdefg");

  size = 1;
  ASSERT_EQ(errQVExtObjGetString(o.h, "s", text, &size), QV_OK);
  EXPECT_EQ(size, 21u);
  EXPECT_EQ(text[0], '\0');

  uint8_t out[3] = {};
  size = sizeof out;
  ASSERT_EQ(errQVExtObjGetBinary(o.h, "b", out, &size), QV_OK);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(out[2], 3);

  EXPECT_EQ(errQVExtObjGetString(o.h, "s", text, nullptr), QVS_EXTOBJ_NULL_LENGTH);
}

TEST(ExtObjAttributes, WriterArgumentErrors) {
  const std::string name80(80, 'n'), name81(81, 'n');
  const std::string type81(81, 't');
  HQVEXTOBJ h = nullptr;
  EXPECT_EQ(errQVExtObjCreateObj(&h, type81.c_str()), QVS_EXTOBJ_TYPE_TOO_LONG);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(errQVExtObjCreateObj(nullptr, "T"), QVS_EXTOBJ_NULL_OUTPUT);
  EXPECT_EQ(errQVExtObjDestroyObj(nullptr), QVS_EXTOBJ_NULL_HANDLE);
  EXPECT_EQ(errQVExtObjAddI32(nullptr, "a", 1), QVS_EXTOBJ_NULL_HANDLE);

  Obj o(type81.substr(1).c_str());
  char type[QV_EXTOBJ_TYPE_BUFFER];
  ASSERT_EQ(errQVExtObjGetType(o.h, type), QV_OK);
  EXPECT_EQ(std::string(type), type81.substr(1));
  EXPECT_EQ(errQVExtObjGetType(o.h, nullptr), QVS_EXTOBJ_NULL_TYPE_BUFFER);

  EXPECT_EQ(errQVExtObjAddI32(o.h, name80.c_str(), 1), QV_OK);
  EXPECT_EQ(errQVExtObjAddI32(o.h, name81.c_str(), 1), QVS_EXTOBJ_NAME_TOO_LONG);
  EXPECT_EQ(errAddAttrFromType(o.h, QV_ATTR_OBJECT, "x", nullptr, 0), QVS_EXTOBJ_WRONG_KIND);
  EXPECT_EQ(errAddAttrFromType(o.h, 7, "x", "a", 1), QVS_EXTOBJ_WRONG_KIND);
}

TEST(ExtObjAttributes, UpdateKeepsPlaceAndDepth) {
  Obj o("T"), s("S");
  ASSERT_EQ(errQVExtObjCreateString(o.h, "a", "old"), QV_OK);
  ASSERT_EQ(errQVExtObjAddI32(s.h, "c", 1), QV_OK);
  ASSERT_EQ(errQVExtObjAddObjAttribute(o.h, s.h), QV_OK);
  ASSERT_EQ(errQVExtObjCreateString(o.h, "z", "end"), QV_OK);

  ASSERT_EQ(errQVExtObjUpdateString(o.h, "a", "n\xC3\xA9w"), QV_OK);
  int32_t two = 2;
  ASSERT_EQ(errUpdateAttr(o.h, QV_ATTR_INT, "c", &two, sizeof two), QV_OK);
  ASSERT_EQ(errQVExtObjUpdateString(o.h, "added", "x"), QV_OK);
  ASSERT_EQ(errUpdateAttr(o.h, QV_ATTR_OBJECT, "a", nullptr, 0), QV_OK);
  ASSERT_EQ(errQVExtObjUpdateString(o.h, "S", "ignored"), QV_OK);

  EXPECT_EQ(Write(o.h), "46(T:(a:~bsOpdwA=)(S:(c:2))(z:\"end\")(added:\"x\"))");
  uint32_t kind = 0;
  size_t length = 0;
  ASSERT_EQ(errQVExtObjGetAttrInfo(o.h, "a", &kind, &length), QV_OK);
  EXPECT_EQ(kind, QV_ATTR_MIXED);
}

TEST(ExtObjSubObject, ExtractLowersDepths) {
  Obj inner("I"), mid("S"), top("Dazar");
  ASSERT_EQ(errQVExtObjAddI32(inner.h, "deep", 3), QV_OK);
  ASSERT_EQ(errQVExtObjAddI32(mid.h, "c", 1), QV_OK);
  ASSERT_EQ(errQVExtObjAddObjAttribute(mid.h, inner.h), QV_OK);
  ASSERT_EQ(errQVExtObjCreateString(mid.h, "after", "x"), QV_OK);
  ASSERT_EQ(errQVExtObjAddI32(top.h, "n", 7), QV_OK);
  ASSERT_EQ(errQVExtObjAddObjAttribute(top.h, mid.h), QV_OK);
  ASSERT_EQ(errQVExtObjAddI32(top.h, "tail", 9), QV_OK);
  const std::string text = Write(top.h);
  EXPECT_EQ(text, "53(Dazar:(n:7)(S:(c:1)(I:(deep:3))(after:\"x\"))(tail:9))");

  Obj read;
  ASSERT_EQ(Read(text, read), QV_OK);
  Obj sub;
  ASSERT_EQ(errQVExtObjGetObjAttribute(read.h, "S", &sub.h), QV_OK);
  EXPECT_EQ(Write(sub.h), Write(mid.h));
  for (const QVExtObjNode& node : sub.h->nodes) {
    EXPECT_EQ(node.depth, node.name == "c" || node.name == "after" ? 0u : 1u) << node.name;
  }
  Obj deepest;
  ASSERT_EQ(errQVExtObjGetObjAttribute(sub.h, "I", &deepest.h), QV_OK);
  EXPECT_EQ(Write(deepest.h), "12(I:(deep:3))");

  Obj none;
  EXPECT_EQ(errQVExtObjGetObjAttribute(read.h, "n", &none.h), QVS_EXTOBJ_WRONG_KIND);
  EXPECT_EQ(errQVExtObjGetObjAttribute(read.h, "X", &none.h), QVS_EXTOBJ_NO_ATTRIBUTE);
  EXPECT_EQ(none.h, nullptr);

  // An object added to itself copies what it held before.
  ASSERT_EQ(errQVExtObjAddObjAttribute(inner.h, inner.h), QV_OK);
  EXPECT_EQ(Write(inner.h), "24(I:(deep:3)(I:(deep:3)))");
}

TEST(ExtObjErrorText, FormatsStatus) {
  EXPECT_STREQ(pszQVExtObjErrorText(QVS_EXTOBJ_SYNTAX),
               "External object data error number -1073725809");
}

}  // namespace
