#include "platform/registry/regfile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/registry/registry.h"

namespace qv::reg {
namespace {

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s.push_back(static_cast<char>(c));
  return s;
}

TEST(RegFile, EveryValueSurvivesFormatAndParse) {
  struct Case {
    const char* what;
    RegValue value;
  };
  const std::vector<Case> cases = {
      {"dword", {"Port", REG_DWORD, Bytes({0x2e, 0x09, 0, 0})}},
      {"plain string", {"Name", REG_SZ, std::string("hello world", 12)}},
      {"quotes and backslashes", {"Q\"uo\\te", REG_SZ, std::string("a \"b\" c:\\d\\", 12)}},
      {"string without NUL", {"Raw", REG_SZ, "abc"}},
      {"string with newline", {"NL", REG_SZ, std::string("a\nb", 4)}},
      {"string with inner NUL", {"Z", REG_SZ, std::string("a\0b", 4)}},
      {"empty string", {"E", REG_SZ, std::string(1, '\0')}},
      {"expandable", {"Path", REG_EXPAND_SZ, std::string("%TMP%\\x", 8)}},
      {"multi-string", {"List", REG_MULTI_SZ, std::string("a\0bc\0\0", 6)}},
      {"binary", {"Blob", REG_BINARY, Bytes({0, 1, 0x7f, 0x80, 0xff})}},
      {"empty binary", {"Nil", REG_BINARY, ""}},
      {"short dword", {"Two", REG_DWORD, Bytes({1, 2})}},
      {"other type", {"T", 0x42, "xyz"}},
      {"default value", {"", REG_SZ, std::string("d", 2)}},
      {"long binary", {"Big", REG_BINARY, std::string(3000, '\x5a')}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RegSection in{"HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavrik\\T", false, {c.value}};
    std::string text = FormatSection(in);
    std::vector<RegSection> out;
    std::string error;
    ASSERT_TRUE(ParseRegText(text, &out, &error)) << error << "\n" << text;
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].path, in.path);
    ASSERT_EQ(out[0].values.size(), 1u);
    EXPECT_EQ(out[0].values[0].name, c.value.name);
    EXPECT_EQ(out[0].values[0].type, c.value.type);
    EXPECT_EQ(out[0].values[0].data, c.value.data);
  }
}

TEST(RegFile, ReadsTheUsualNotations) {
  const char* text =
      "; exported\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n"
      "\"Port\"=dword:0000092E\r\n"
      "\"Text\"=\"x\\\\y\"\r\n"
      "\"Hex\"=hex:01, 02,\\\n"
      "   03,04\n"
      "\"port\"=dword:1\n"
      "\"Gone\"=-\n"
      "\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\B]\n";
  std::vector<RegSection> out;
  std::string error;
  ASSERT_TRUE(ParseRegText(text, &out, &error)) << error;
  ASSERT_EQ(out.size(), 2u);
  ASSERT_EQ(out[0].values.size(), 4u);
  // A repeated name replaces the earlier value and keeps its spelling.
  EXPECT_EQ(out[0].values[0].name, "Port");
  EXPECT_EQ(out[0].values[0].data, Bytes({1, 0, 0, 0}));
  EXPECT_EQ(out[0].values[1].data, std::string("x\\y", 4));
  EXPECT_EQ(out[0].values[2].data, Bytes({1, 2, 3, 4}));
  EXPECT_TRUE(out[0].values[3].remove);
  EXPECT_TRUE(out[1].remove);
  EXPECT_EQ(out[1].path, "HKEY_LOCAL_MACHINE\\SOFTWARE\\B");
}

TEST(RegFile, RejectsMalformedText) {
  const std::vector<std::string> bad = {
      "\"A\"=dword:1\n",                        // value before any key
      "[K]\n\"A\"=dword:123456789\n",           // dword too long
      "[K]\n\"A\"=dword:xyz\n",                 // not hex
      "[K]\n\"A\"=dword:\n",                    // no digits
      "[K]\n\"A\"=hex:1,2\n",                   // single digits
      "[K]\n\"A\"=hex:01,,02\n",                // empty byte
      "[K]\n\"A\"=hex:01,\n",                   // trailing comma
      "[K]\n\"A\"=hex(zz):01\n",                // bad type
      "[K]\n\"A\"=hex(:01\n",                   // unclosed type
      "[K]\n\"A\"=hex01\n",                     // no colon
      "[K]\n\"A\"=\"open\n",                    // unterminated string
      "[K]\n\"A\"=\"x\" y\n",                   // text after string
      "[K]\n\"A\"=\"\\n\"\n",                   // unknown escape
      "[K]\n\"A\"=sz:foo\n",                    // unknown notation
      "[K]\n\"A\"dword:1\n",                    // no '='
      "[K]\n\"A\n",                             // unterminated name
      "[K]\nA=dword:1\n",                       // unquoted name
      "[K\n",                                   // unclosed header
      "[]\n",                                   // empty path
      "[-K]\n\"A\"=dword:1\n",                  // value under a deleted key
      std::string("[K]\n\"A\x01\"=dword:1\n"),  // control character in name
  };
  for (const std::string& text : bad) {
    SCOPED_TRACE(text);
    std::vector<RegSection> out;
    std::string error;
    EXPECT_FALSE(ParseRegText(text, &out, &error));
    EXPECT_NE(error.find("line "), std::string::npos) << error;
  }
}

TEST(RegFile, NamesCompareWithoutCase) {
  EXPECT_TRUE(NamesEqual("TraceLevel", "tracelevel"));
  EXPECT_FALSE(NamesEqual("TraceLevel", "TraceLeve"));
  std::vector<RegValue> values = {{"One", REG_SZ, ""}, {"Two", REG_SZ, ""}};
  EXPECT_EQ(FindValue(values, "TWO"), 1);
  EXPECT_EQ(FindValue(values, "Three"), -1);
}

}  // namespace
}  // namespace qv::reg
