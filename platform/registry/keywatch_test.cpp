#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/registry/registry.h"
#include "platform/registry/registry_fixture.h"

namespace qv::reg {
namespace {

constexpr char kKey[] = "SOFTWARE\\Tavrik\\Watched";
constexpr int kLongWait = 10000;  // only reached when an expected event is missing

LSTATUS SetOne(HKEY key, const char* name) { return SetValue(key, name, REG_SZ, "x", 2); }

TEST_F(RegistryTest, WatchFiresOnValuesNotOnSubkeys) {
  Key key = MakeKey(kKey);
  Key reader;
  ASSERT_EQ(reader.Open(HKEY_LOCAL_MACHINE, kKey, KEY_READ), ERROR_SUCCESS);
  KeyWatch watch;
  ASSERT_EQ(watch.Open(reader.get()), ERROR_SUCCESS);
  EXPECT_EQ(watch.Wait(0), KeyWatch::Result::kTimeout);

  ASSERT_EQ(SetOne(key.get(), "A"), ERROR_SUCCESS);
  EXPECT_EQ(watch.Wait(kLongWait), KeyWatch::Result::kChanged);
  EXPECT_EQ(watch.Wait(0), KeyWatch::Result::kTimeout);

  // Subkeys and their values are not the key's values.
  Key sub = MakeKey("SOFTWARE\\Tavrik\\Watched\\Sub");
  ASSERT_EQ(SetOne(sub.get(), "B"), ERROR_SUCCESS);
  ASSERT_EQ(DeleteKey(key.get(), "Sub"), ERROR_SUCCESS);
  EXPECT_EQ(watch.Wait(100), KeyWatch::Result::kTimeout);

  ASSERT_EQ(DeleteValue(key.get(), "A"), ERROR_SUCCESS);
  EXPECT_EQ(watch.Wait(kLongWait), KeyWatch::Result::kChanged);
}

TEST_F(RegistryTest, WatchNeedsNotifyRight) {
  MakeKey(kKey);
  Key writer;
  ASSERT_EQ(writer.Open(HKEY_LOCAL_MACHINE, kKey, KEY_SET_VALUE), ERROR_SUCCESS);
  KeyWatch watch;
  EXPECT_EQ(watch.Open(writer.get()), ERROR_ACCESS_DENIED);
  EXPECT_EQ(watch.Wait(0), KeyWatch::Result::kError);
}

TEST_F(RegistryTest, WatcherThreadSeesChangesAndStops) {
  Key key = MakeKey(kKey);
  KeyWatch watch;
  ASSERT_EQ(watch.Open(key.get()), ERROR_SUCCESS);
  int stop[2];
  ASSERT_EQ(::pipe(stop), 0);
  std::atomic<int> changes{0};
  std::atomic<bool> stopped{false};
  std::thread watcher([&] {
    for (int round = 0; round < 1000; ++round) {
      KeyWatch::Result r = watch.Wait(-1, stop[0]);
      if (r == KeyWatch::Result::kChanged) ++changes;
      if (r == KeyWatch::Result::kStopped) {
        stopped = true;
        return;
      }
      if (r != KeyWatch::Result::kChanged) return;
    }
  });
  ASSERT_EQ(SetOne(key.get(), "A"), ERROR_SUCCESS);
  for (int i = 0; i < 1000 && changes.load() == 0; ++i) ::usleep(10000);
  ASSERT_EQ(::write(stop[1], "x", 1), 1);
  watcher.join();
  EXPECT_GE(changes.load(), 1);
  EXPECT_TRUE(stopped.load());
  ::close(stop[0]);
  ::close(stop[1]);
}

TEST_F(RegistryTest, WatchReportsDeletionThenEnds) {
  MakeKey(kKey);
  Key reader;
  ASSERT_EQ(reader.Open(HKEY_LOCAL_MACHINE, kKey, KEY_READ), ERROR_SUCCESS);
  KeyWatch watch;
  ASSERT_EQ(watch.Open(reader.get()), ERROR_SUCCESS);
  ASSERT_EQ(DeleteKey(HKEY_LOCAL_MACHINE, kKey), ERROR_SUCCESS);
  EXPECT_EQ(watch.Wait(kLongWait), KeyWatch::Result::kChanged);
  EXPECT_EQ(watch.Wait(kLongWait), KeyWatch::Result::kError);
}

}  // namespace
}  // namespace qv::reg
