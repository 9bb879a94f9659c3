#include "platform/registry/registry.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry/registry_fixture.h"

namespace qv::reg {
namespace {

constexpr char kKey[] = "SOFTWARE\\Tavrik\\QVNetwork";

LSTATUS SetDword(HKEY key, const char* name, uint32_t v) {
  unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                        static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
  return SetValue(key, name, REG_DWORD, b, 4);
}

// The setting reader of the callers: a 4-byte buffer, type not looked at,
// default on any failure.
uint32_t ReadSetting(const char* path, const char* name, uint32_t fallback) {
  HKEY key = nullptr;
  if (OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, &key) != ERROR_SUCCESS) return fallback;
  uint32_t value = 0;
  uint32_t size = sizeof value;
  LSTATUS st = QueryValue(key, name, nullptr, &value, &size);
  CloseKey(key);
  return st == ERROR_SUCCESS ? value : fallback;
}

TEST_F(RegistryTest, MissingKeyAndMissingValue) {
  HKEY key = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(OpenKey(HKEY_LOCAL_MACHINE, kKey, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(ReadSetting(kKey, "Port", 7), 7u);

  Key made = MakeKey(kKey);
  uint32_t size = 4;
  char buf[4];
  EXPECT_EQ(QueryValue(made.get(), "Port", nullptr, buf, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(DeleteValue(made.get(), "Port"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ReadSetting(kKey, "Port", 7), 7u);
  ASSERT_EQ(SetDword(made.get(), "Port", 2350), ERROR_SUCCESS);
  EXPECT_EQ(ReadSetting(kKey, "Port", 7), 2350u);
}

TEST_F(RegistryTest, ValuesOfEveryTypeReadBackAfterReopen) {
  struct Case {
    const char* name;
    uint32_t type;
    std::string data;
  };
  const std::vector<Case> cases = {
      {"Dword", REG_DWORD, std::string("\x2e\x09\x00\x00", 4)},
      {"Text", REG_SZ, std::string("C:\\tavrik \"x\"", 14)},
      {"Expand", REG_EXPAND_SZ, std::string("%ROOT%/bin", 11)},
      {"Blob", REG_BINARY, std::string("\x00\xff\x10", 3)},
      {"Multi", REG_MULTI_SZ, std::string("one\0two\0\0", 9)},
      {"", REG_SZ, std::string("default", 8)},
  };
  {
    Key key = MakeKey(kKey);
    for (const Case& c : cases) {
      ASSERT_EQ(
          SetValue(key.get(), c.name, c.type, c.data.data(), static_cast<uint32_t>(c.data.size())),
          ERROR_SUCCESS)
          << c.name;
    }
  }
  Key key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kKey, KEY_READ), ERROR_SUCCESS);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t type = 0, size = 0;
    ASSERT_EQ(QueryValue(key.get(), c.name, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, c.type);
    ASSERT_EQ(size, c.data.size());
    std::string got(size, '?');
    ASSERT_EQ(QueryValue(key.get(), c.name, &type, got.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(got, c.data);
  }
  std::string text;
  EXPECT_EQ(QueryString(key.get(), "Expand", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "%ROOT%/bin");
  uint32_t dword = 0;
  EXPECT_EQ(QueryDword(key.get(), "Dword", &dword), ERROR_SUCCESS);
  EXPECT_EQ(dword, 2350u);
  EXPECT_EQ(QueryDword(key.get(), "Text", &dword), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(QueryString(key.get(), "Blob", &text), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, OversizedValueIsNotRead) {
  Key key = MakeKey(kKey);
  const char blob[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(SetValue(key.get(), "Blob", REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
  unsigned char buf[4] = {0xee, 0xee, 0xee, 0xee};
  uint32_t size = sizeof buf;
  uint32_t type = 0;
  EXPECT_EQ(QueryValue(key.get(), "Blob", &type, buf, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(type, REG_BINARY);
  for (unsigned char c : buf) EXPECT_EQ(c, 0xee);
  EXPECT_EQ(ReadSetting(kKey, "Blob", 9), 9u);
}

TEST_F(RegistryTest, FourByteReaderDoesNotLookAtTheType) {
  Key key = MakeKey(kKey);
  ASSERT_EQ(SetValue(key.get(), "Short", REG_SZ, "ab", 3), ERROR_SUCCESS);
  ASSERT_EQ(SetValue(key.get(), "Four", REG_BINARY, "\x01\x02\x03\x04", 4), ERROR_SUCCESS);
  EXPECT_EQ(ReadSetting(kKey, "Four", 0), 0x04030201u);
  uint32_t value = 0xffffffff;
  uint32_t size = sizeof value;
  uint32_t type = 0;
  ASSERT_EQ(QueryValue(key.get(), "Short", &type, &value, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(value, 0xff006261u);  // the fourth byte is left as it was
}

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheirSpelling) {
  Key key = MakeKey(kKey);
  ASSERT_EQ(SetDword(key.get(), "TraceLevel", 1), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key.get(), "TRACELEVEL", 2), ERROR_SUCCESS);
  EXPECT_EQ(ReadSetting("software\\TAVRIK\\qvnetwork", "tracelevel", 0), 2u);

  char name[32];
  uint32_t name_size = sizeof name;
  ASSERT_EQ(EnumValue(key.get(), 0, name, &name_size, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "TraceLevel");
  name_size = sizeof name;
  EXPECT_EQ(EnumValue(key.get(), 1, name, &name_size, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);

  bool created = true;
  Key again;
  ASSERT_EQ(again.Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\TAVRIK\\QVNETWORK", KEY_READ, &created),
            ERROR_SUCCESS);
  EXPECT_FALSE(created);
  Key parent;
  ASSERT_EQ(parent.Open(HKEY_LOCAL_MACHINE, "Software\\Tavrik", KEY_READ), ERROR_SUCCESS);
  name_size = sizeof name;
  ASSERT_EQ(EnumKey(parent.get(), 0, name, &name_size), ERROR_SUCCESS);
  EXPECT_STREQ(name, "QVNetwork");
  EXPECT_EQ(name_size, 9u);
}

TEST_F(RegistryTest, EnumValueReportsSizesBeforeCopying) {
  Key key = MakeKey(kKey);
  ASSERT_EQ(SetValue(key.get(), "First", REG_SZ, "1", 2), ERROR_SUCCESS);
  ASSERT_EQ(SetValue(key.get(), "SecondName", REG_BINARY, "abcdef", 6), ERROR_SUCCESS);

  char name[8] = "xxxxxxx";
  uint32_t name_size = sizeof name;
  char data[16];
  uint32_t data_size = sizeof data;
  uint32_t type = 0;
  EXPECT_EQ(EnumValue(key.get(), 1, name, &name_size, &type, data, &data_size), ERROR_MORE_DATA);
  EXPECT_EQ(name_size, 10u);
  EXPECT_STREQ(name, "xxxxxxx");

  char big[16];
  name_size = sizeof big;
  data_size = 2;
  EXPECT_EQ(EnumValue(key.get(), 1, big, &name_size, &type, data, &data_size), ERROR_MORE_DATA);
  EXPECT_EQ(data_size, 6u);

  name_size = sizeof big;
  data_size = sizeof data;
  ASSERT_EQ(EnumValue(key.get(), 1, big, &name_size, &type, data, &data_size), ERROR_SUCCESS);
  EXPECT_STREQ(big, "SecondName");
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(std::string(data, data_size), "abcdef");
}

TEST_F(RegistryTest, HandleRightsAreEnforced) {
  MakeKey(kKey);
  Key key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kKey, KEY_READ), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(key.get(), "X", 1), ERROR_ACCESS_DENIED);
  EXPECT_EQ(DeleteValue(key.get(), "X"), ERROR_ACCESS_DENIED);
  Key writer;
  ASSERT_EQ(writer.Open(HKEY_LOCAL_MACHINE, kKey, KEY_SET_VALUE), ERROR_SUCCESS);
  uint32_t size = 0;
  EXPECT_EQ(QueryValue(writer.get(), "X", nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
  EXPECT_EQ(CloseKey(nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(SetValue(writer.get(), "Bad\nName", REG_SZ, "", 1), ERROR_INVALID_PARAMETER);
  HKEY k = nullptr;
  EXPECT_EQ(OpenKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Bad\x01", KEY_READ, &k),
            ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, DeleteKeyRefusesSubkeysAndForgetsValues) {
  Key child = MakeKey("SOFTWARE\\Tavrik\\A\\B");
  Key parent = MakeKey("SOFTWARE\\Tavrik\\A");
  ASSERT_EQ(SetDword(parent.get(), "V", 1), ERROR_SUCCESS);
  EXPECT_EQ(DeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrik\\A"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadSetting("SOFTWARE\\Tavrik\\A", "V", 0), 1u);
  EXPECT_EQ(DeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrik\\A\\B"), ERROR_SUCCESS);
  EXPECT_EQ(DeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrik\\A\\B"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(DeleteKey(parent.get(), ""), ERROR_ACCESS_DENIED);
  EXPECT_EQ(DeleteKey(HKEY_LOCAL_MACHINE, "software\\tavrik\\a"), ERROR_SUCCESS);

  // Handles that outlive their key fail rather than resurrect it.
  uint32_t size = 0;
  EXPECT_EQ(QueryValue(parent.get(), "V", nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(SetDword(parent.get(), "V", 2), ERROR_KEY_DELETED);
  Key fresh = MakeKey("SOFTWARE\\Tavrik\\A");
  EXPECT_EQ(ReadSetting("SOFTWARE\\Tavrik\\A", "V", 0), 0u);
}

TEST_F(RegistryTest, KeysFollowTheRootAtOpen) {
  Key key = MakeKey(kKey);
  ASSERT_EQ(SetDword(key.get(), "Port", 1), ERROR_SUCCESS);
  std::string other = root_ + "/other";
  qv::paths::SetRootForProcess(other);
  EXPECT_EQ(ReadSetting(kKey, "Port", 0), 0u);
  qv::paths::SetRootForProcess(root_);
  EXPECT_EQ(ReadSetting(kKey, "Port", 0), 1u);
}

TEST_F(RegistryTest, DamagedKeyFileIsReportedNotGuessed) {
  Key key = MakeKey(kKey);
  ASSERT_EQ(SetDword(key.get(), "Port", 1), ERROR_SUCCESS);
  std::string file = RegistryDir() + "/software/tavrik/qvnetwork/@key.reg";
  std::ofstream(file, std::ios::app) << "\"Broken\"=hex:1\n";
  uint32_t size = 0;
  EXPECT_EQ(QueryValue(key.get(), "Port", nullptr, nullptr, &size), ERROR_BADDB);
  // A write must not replace the damaged file with what it could make of it.
  EXPECT_EQ(SetDword(key.get(), "Other", 2), ERROR_BADDB);
  std::ifstream in(file);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("\"Broken\"=hex:1"), std::string::npos);
}

TEST_F(RegistryTest, RewriteKeepsTheFileMode) {
  Key key = MakeKey(kKey);
  ASSERT_EQ(SetDword(key.get(), "Port", 1), ERROR_SUCCESS);
  std::string file = RegistryDir() + "/software/tavrik/qvnetwork/@key.reg";
  ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
  ASSERT_EQ(SetDword(key.get(), "Port", 2), ERROR_SUCCESS);
  struct stat st;
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// Writers in two processes, each with several threads, write different
// values of one key at once; every value must survive.
TEST_F(RegistryTest, ConcurrentWritersLoseNothing) {
  MakeKey(kKey);
  constexpr int kThreads = 3;
  constexpr int kValues = 20;
  auto write_all = [&](int proc) {
    std::vector<std::thread> threads;
    bool ok = true;
    std::vector<char> results(kThreads, 1);
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        Key key;
        if (key.Open(HKEY_LOCAL_MACHINE, kKey, KEY_SET_VALUE | KEY_QUERY_VALUE) != ERROR_SUCCESS) {
          results[t] = 0;
          return;
        }
        for (int i = 0; i < kValues; ++i) {
          std::string name =
              "p" + std::to_string(proc) + "t" + std::to_string(t) + "v" + std::to_string(i);
          if (SetDword(key.get(), name.c_str(), static_cast<uint32_t>(i)) != ERROR_SUCCESS)
            results[t] = 0;
        }
      });
    }
    for (auto& th : threads) th.join();
    for (char r : results) ok = ok && r;
    return ok;
  };
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(write_all(1) ? 0 : 1);
  bool parent_ok = write_all(0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(parent_ok);

  for (int p = 0; p < 2; ++p) {
    for (int t = 0; t < kThreads; ++t) {
      for (int i = 0; i < kValues; ++i) {
        std::string name =
            "p" + std::to_string(p) + "t" + std::to_string(t) + "v" + std::to_string(i);
        EXPECT_EQ(ReadSetting(kKey, name.c_str(), 999), static_cast<uint32_t>(i)) << name;
      }
    }
  }
}

// A caller who may not write a key cannot open it for writing; one who may
// not read it sees only the defaults.
TEST_F(RegistryTest, PermissionsOfTheKeyFilesGiveTheAccess) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to switch to another user";
  Key open_key = MakeKey("SOFTWARE\\Tavrik\\Open");
  Key closed_key = MakeKey("SOFTWARE\\Tavrik\\Closed");
  ASSERT_EQ(SetDword(open_key.get(), "Port", 5), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(closed_key.get(), "Port", 5), ERROR_SUCCESS);
  ASSERT_EQ(::chmod((RegistryDir() + "/software/tavrik/closed").c_str(), 0700), 0);
  ASSERT_EQ(::chmod((RegistryDir() + "/software/tavrik/closed/@key.reg").c_str(), 0600), 0);

  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) _exit(10);
    HKEY k = nullptr;
    // World-readable key: reading works, writing is refused at open.
    if (ReadSetting("SOFTWARE\\Tavrik\\Open", "Port", 0) != 5) _exit(11);
    if (OpenKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrik\\Open", KEY_ALL_ACCESS, &k) !=
        ERROR_ACCESS_DENIED)
      _exit(12);
    if (OpenKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrik\\Open", KEY_SET_VALUE, &k) !=
        ERROR_ACCESS_DENIED)
      _exit(13);
    if (CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrik\\Open\\Sub", KEY_READ, &k, nullptr) !=
        ERROR_ACCESS_DENIED)
      _exit(14);
    if (DeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrik\\Open") != ERROR_ACCESS_DENIED) _exit(15);
    // Root-only key: the reader gets its default.
    if (ReadSetting("SOFTWARE\\Tavrik\\Closed", "Port", 77) != 77) _exit(16);
    LSTATUS st = OpenKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrik\\Closed", KEY_READ, &k);
    if (st != ERROR_ACCESS_DENIED && st != ERROR_FILE_NOT_FOUND) _exit(17);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "first failed check in the child";
}

}  // namespace
}  // namespace qv::reg
