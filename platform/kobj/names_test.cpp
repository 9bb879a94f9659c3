#include "platform/kobj/names.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace qv::kobj::internal {
namespace {

TEST(EncodeNameTest, KeepsSafeBytesAndEncodesTheRest) {
  struct Case {
    std::string name;
    std::string encoded;
  };
  const Case cases[] = {
      {"LantraSharedMemoryMutex", "LantraSharedMemoryMutex"},
      {"AgentSubauth-WS_1.x", "AgentSubauth-WS_1.x"},
      {"a/b", "a%2Fb"},
      {"..", ".."},
      {"/..", "%2F.."},
      {"Global\\Name", "Global%5CName"},
      {"100%", "100%25"},
      {"a b\t", "a%20b%09"},
      {std::string("n\0l", 3), "n%00l"},
      {"\xC3\xA9t\xC3\xA9", "%C3%A9t%C3%A9"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(EncodeName(c.name), c.encoded) << c.name;
}

TEST(EncodeNameTest, LongNamesStayShortAndDistinct) {
  const std::string base(300, 'x');
  const std::string names[] = {base, base + "y", base + "z", std::string(300, '/'), std::string(301, '/')};
  std::set<std::string> seen;
  for (const std::string& n : names) {
    const std::string e = EncodeName(n);
    EXPECT_LE(e.size(), kMaxEncodedName + 17);
    EXPECT_EQ(e.find('/'), std::string::npos);
    EXPECT_EQ(e, EncodeName(n));
    seen.insert(e);
  }
  EXPECT_EQ(seen.size(), std::size(names));
  // At the limit the name is kept as it is.
  EXPECT_EQ(EncodeName(std::string(kMaxEncodedName, 'q')), std::string(kMaxEncodedName, 'q'));
}

}  // namespace
}  // namespace qv::kobj::internal
