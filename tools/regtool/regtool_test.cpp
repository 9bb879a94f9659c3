#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "platform/registry/registry_fixture.h"
#include "tools/regtool/valueargs.h"

namespace qv::regtool {
namespace {

using namespace qv::reg;

TEST(RegtoolValues, BuildsBytesFromArguments) {
  struct Case {
    const char* type;
    std::vector<std::string> args;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"dword", {"2350"}, std::string("\x2e\x09\x00\x00", 4)},
      {"REG_DWORD", {"0xFFFFFFFF"}, std::string("\xff\xff\xff\xff", 4)},
      {"dword", {"0"}, std::string(4, '\0')},
      {"sz", {"a b"}, std::string("a b", 4)},
      {"expand_sz", {"%X%"}, std::string("%X%", 4)},
      {"binary", {"01,02,ff"}, "\x01\x02\xff"},
      {"binary", {"0102FF"}, "\x01\x02\xff"},
      {"binary", {""}, ""},
      {"multi_sz", {"a", "bc"}, std::string("a\0bc\0\0", 6)},
      {"multi_sz", {}, std::string(1, '\0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    uint32_t type = 0;
    ASSERT_TRUE(ParseTypeName(c.type, &type));
    std::string data, why;
    ASSERT_TRUE(BuildValue(type, c.args, &data, &why)) << why;
    EXPECT_EQ(data, c.bytes);
  }
}

TEST(RegtoolValues, RejectsBadArguments) {
  struct Case {
    const char* type;
    std::vector<std::string> args;
  };
  const std::vector<Case> cases = {
      {"dword", {"4294967296"}}, {"dword", {"-1"}},
      {"dword", {"12x"}},        {"dword", {""}},
      {"dword", {"0x"}},         {"dword", {"1", "2"}},
      {"binary", {"1,2"}},       {"binary", {"0g"}},
      {"binary", {"012"}},       {"sz", {}},
      {"multi_sz", {"a", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + (c.args.empty() ? "" : c.args[0]));
    uint32_t type = 0;
    ASSERT_TRUE(ParseTypeName(c.type, &type));
    std::string data, why;
    EXPECT_FALSE(BuildValue(type, c.args, &data, &why));
    EXPECT_FALSE(why.empty());
  }
  uint32_t type = 0;
  EXPECT_FALSE(ParseTypeName("qword", &type));
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out.push_back(c);
    }
  }
  return out + "'";
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

struct ToolRun {
  int code = -1;
  std::string out;
  std::string err;
};

class RegtoolTest : public RegistryTest {
 protected:
  ToolRun Tool(const std::vector<std::string>& args, const std::string& input = "") {
    const char* build = std::getenv("QV_BUILD_DIR");
    std::string exe = std::string(build ? build : ".") + "/bin/regtool";
    std::string cmd = Quote(exe) + " --root " + Quote(root_);
    for (const std::string& a : args) cmd += " " + Quote(a);
    std::string in = root_ + "/stdin", out = root_ + "/stdout", err = root_ + "/stderr";
    std::ofstream(in, std::ios::binary) << input;
    cmd += " <" + Quote(in) + " >" + Quote(out) + " 2>" + Quote(err);
    ToolRun r;
    int status = std::system(cmd.c_str());
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    return r;
  }
};

TEST_F(RegtoolTest, SetGetExportImportRoundTrip) {
  const std::string key = "HKLM\\SOFTWARE\\Tavrik\\QVNetwork";
  ASSERT_EQ(Tool({"set", key, "Port", "dword", "0x92e"}).code, 0);
  ASSERT_EQ(Tool({"set", key, "Server", "sz", "a \"quoted\" C:\\path"}).code, 0);
  ASSERT_EQ(Tool({"set", key, "Home", "expand_sz", "%ROOT%/x"}).code, 0);
  ASSERT_EQ(Tool({"set", key, "Blob", "binary", "00,ff,10"}).code, 0);
  ASSERT_EQ(Tool({"set", key, "List", "multi_sz", "one", "two"}).code, 0);
  ASSERT_EQ(Tool({"set", key + "\\Sub", "", "sz", "default"}).code, 0);

  EXPECT_EQ(Tool({"get", "software\\tavrik\\qvnetwork", "PORT"}).out, "2350\n");
  EXPECT_EQ(Tool({"get", key, "Server"}).out, "a \"quoted\" C:\\path\n");
  EXPECT_EQ(Tool({"get", key, "List"}).out, "one\ntwo\n");
  EXPECT_EQ(Tool({"get", key, "Blob"}).out, "00,ff,10\n");
  ToolRun list = Tool({"list", key});
  EXPECT_EQ(list.code, 0);
  EXPECT_NE(list.out.find("Port\tdword\tdword:0000092e\n"), std::string::npos) << list.out;

  std::string file = root_ + "/export.txt";
  ASSERT_EQ(Tool({"export", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavrik", file}).code, 0);
  std::string exported = ReadFile(file);
  EXPECT_NE(
      exported.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavrik\\QVNetwork\\Sub]\n@=\"default\"\n"),
      std::string::npos)
      << exported;

  ASSERT_EQ(Tool({"delete-key", "SOFTWARE\\Tavrik", "--recursive"}).code, 0);
  EXPECT_EQ(Tool({"get", key, "Port"}).code, 2);
  ASSERT_EQ(Tool({"import", file}).code, 0);
  EXPECT_EQ(Tool({"export", "SOFTWARE\\Tavrik"}).out, exported);

  // The library reads what the tool wrote.
  Key k;
  ASSERT_EQ(k.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrik\\QVNetwork", KEY_READ), ERROR_SUCCESS);
  uint32_t port = 0;
  EXPECT_EQ(QueryDword(k.get(), "Port", &port), ERROR_SUCCESS);
  EXPECT_EQ(port, 2350u);

  // Import from standard input, with value and key removals.
  std::string edit =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavrik\\QVNetwork]\n\"Port\"=-\n\"New\"=dword:00000001\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavrik\\QVNetwork\\Sub]\n";
  ASSERT_EQ(Tool({"import", "-"}, edit).code, 0);
  EXPECT_EQ(Tool({"get", key, "Port"}).code, 2);
  EXPECT_EQ(Tool({"get", key, "New"}).out, "1\n");
  EXPECT_EQ(Tool({"list", key + "\\Sub"}).code, 2);
}

TEST_F(RegtoolTest, BadInputFailsClearly) {
  const std::string key = "SOFTWARE\\Tavrik\\T";
  ASSERT_EQ(Tool({"set", key, "Port", "dword", "7"}).code, 0);
  ASSERT_EQ(Tool({"set", key + "\\Child", "X", "dword", "1"}).code, 0);
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{"get", "SOFTWARE\\Missing", "Port"}, 2, "not found"},
      {{"get", key, "Missing"}, 2, "not found"},
      {{"delete", key, "Missing"}, 2, "not found"},
      {{"delete-key", "SOFTWARE\\Missing"}, 2, "not found"},
      {{"delete-key", key}, 4, "subkeys"},
      {{"set", key, "Port", "qword", "1"}, 1, "unknown type"},
      {{"set", key, "Port", "dword", "seven"}, 1, "bad number"},
      {{"set", key, "Port", "dword", "99999999999"}, 1, "bad number"},
      {{"set", key, "Blob", "binary", "0x1"}, 1, "malformed hex"},
      {{"set", key, "Port"}, 1, "set takes"},
      {{"frobnicate"}, 1, "unknown command"},
      {{"get", "HKEY_CURRENT_USER\\X\x01", "Y"}, 1, "bad key name"},
      {{"import", root_ + "/no-such-file"}, 2, "cannot read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
    ToolRun r = Tool(c.args);
    EXPECT_EQ(r.code, c.code);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  // Nothing above changed the key.
  EXPECT_EQ(Tool({"get", key, "Port"}).out, "7\n");
  EXPECT_EQ(Tool({"get", key, "Blob"}).code, 2);
}

TEST_F(RegtoolTest, MalformedImportWritesNothing) {
  ASSERT_EQ(Tool({"set", "SOFTWARE\\A", "Keep", "dword", "1"}).code, 0);
  std::string keyfile = RegistryDir() + "/software/a/@key.reg";
  std::string before = ReadFile(keyfile);
  std::string text =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"Keep\"=dword:00000002\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\B]\n\"Fine\"=dword:1\n\"Bad\"=hex:0,1\n";
  ToolRun r = Tool({"import", "-"}, text);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("line 5"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(keyfile), before);
  EXPECT_EQ(Tool({"list", "SOFTWARE\\B"}).code, 2);

  // A key outside the root is refused before any key is written too.
  r = Tool({"import", "-"},
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"Keep\"=dword:3\n[HKEY_USERS\\X]\n");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(ReadFile(keyfile), before);
}

TEST_F(RegtoolTest, HelpDescribesEveryCommand) {
  ToolRun r = Tool({"--help"});
  EXPECT_EQ(r.code, 0);
  for (const char* word : {"get", "set", "delete-key", "list", "export", "import", "EXIT STATUS"}) {
    EXPECT_NE(r.out.find(word), std::string::npos) << word;
  }
}

}  // namespace
}  // namespace qv::regtool
