#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "qvstatus.h"

namespace {

// Entries of the protocol roles, when the library is built without them.
const std::set<std::string> kNotBuiltYet =
    QV_AUTHCORE_ROLES ? std::set<std::string>{}
                      : std::set<std::string>{"AMDesktopAuthenticateUser", "AMSubAuthUIProxy",
                                              "AMSubauthAuthenticateUser", "AMSubauthTest",
                                              "AMDesktopKelProxy"};

std::string Library() {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "lib" /
          "libauthcore.so")
      .string();
}

// Function names declared in the header: the identifier before the first
// '(' of every declaration that is not a typedef.
std::vector<std::string> DeclaredFunctions() {
  std::ifstream in(QV_AUTHCORE_HEADER);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string text = ss.str();
  text = std::regex_replace(text, std::regex(R"(/\*[\s\S]*?\*/)"), " ");
  text = std::regex_replace(text, std::regex(R"(//[^\n]*)"), " ");
  text = std::regex_replace(text, std::regex(R"(#[^\n]*)"), " ");
  std::vector<std::string> names;
  std::stringstream statements(text);
  std::string st;
  const std::regex fn(R"(([A-Za-z_][A-Za-z0-9_]*)\s*\()");
  while (std::getline(statements, st, ';')) {
    if (st.find("typedef") != std::string::npos) continue;
    std::smatch m;
    if (std::regex_search(st, m, fn)) names.push_back(m[1]);
  }
  return names;
}

class AuthcoreLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen(Library().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
  }
  void TearDown() override {
    if (handle_) dlclose(handle_);
  }
  void* handle_ = nullptr;
};

TEST_F(AuthcoreLibrary, ExportsEveryDeclaredEntry) {
  const std::vector<std::string> names = DeclaredFunctions();
  ASSERT_GT(names.size(), 30u) << "header not read: " << QV_AUTHCORE_HEADER;
  for (const std::string& name : names) {
    if (kNotBuiltYet.count(name)) continue;
    EXPECT_NE(dlsym(handle_, name.c_str()), nullptr) << name;
  }
}

TEST_F(AuthcoreLibrary, KeepsItsInsidesHidden) {
  for (const char* name : {"LDMDesktopGetDesktopCred", "DMOpenCache", "_RDMDesktopGetSessionCert",
                           "RDMVerifyCaller", "CMInitDesktopSide", "KelInitialize"}) {
    EXPECT_EQ(dlsym(handle_, name), nullptr) << name;
  }
}

TEST_F(AuthcoreLibrary, StartsThroughTheLibrary) {
  char tmpl[] = "/tmp/qvauthcore-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  setenv("TAVRIK_ROOT", tmpl, 1);
  using Startup = QVSTATUS (*)(int, int, int);
  using Rundown = void (*)();
  auto startup = reinterpret_cast<Startup>(dlsym(handle_, "QVAgentStartup"));
  auto rundown = reinterpret_cast<Rundown>(dlsym(handle_, "QVAgentRundown"));
  ASSERT_NE(startup, nullptr);
  ASSERT_NE(rundown, nullptr);
  // An empty root has no trusted root certificate to read.
  EXPECT_EQ(startup(1, 0, 1), QVS_CM_REGISTRY);
  rundown();
  unsetenv("TAVRIK_ROOT");
  std::filesystem::remove_all(tmpl);
}

}  // namespace
