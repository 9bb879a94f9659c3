#include <signal.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "platform/kobj/kobj.h"
#include "platform/kobj/kobj_test_util.h"
#include "platform/kobj/names.h"
#include "platform/paths/paths.h"

namespace qv::kobj {
namespace {

using testing::ForkChild;
using testing::JoinChild;
using testing::Pipe;

class SharedMemoryTest : public testing::KobjTest {};

bool AllZero(const SharedView& v) {
  const auto* p = static_cast<const unsigned char*>(v.data());
  for (std::size_t i = 0; i < v.size(); ++i)
    if (p[i]) return false;
  return true;
}

bool SegmentExists(const char* name) {
  struct stat st {};
  const std::string seg = "/dev/shm" + internal::SegmentName(internal::EncodeName(name));
  return ::stat(seg.c_str(), &st) == 0;
}

TEST_F(SharedMemoryTest, ExistingObjectKeepsItsSize) {
  SharedMemory a, b, c;
  ASSERT_EQ(a.Create("Object", 484), OpenStatus::Created);
  EXPECT_EQ(a.size(), 484u);
  EXPECT_EQ(b.Create("Object", 100), OpenStatus::AlreadyExists);
  EXPECT_EQ(b.size(), 484u);
  EXPECT_EQ(c.Open("Object"), OpenStatus::Opened);
  EXPECT_EQ(c.size(), 484u);

  SharedMemory d;
  EXPECT_EQ(d.Create("Zero", 0), OpenStatus::InvalidArgument);
  EXPECT_EQ(d.Open("Zero"), OpenStatus::NotFound);
  EXPECT_EQ(d.Create("", 16), OpenStatus::InvalidName);
  SharedView v;
  EXPECT_FALSE(d.Map(v));
  EXPECT_EQ(v.data(), nullptr);
}

TEST_F(SharedMemoryTest, ContentsAreSharedBetweenProcesses) {
  SharedMemory mem;
  ASSERT_EQ(mem.Create("Block", 484), OpenStatus::Created);
  SharedView view;
  ASSERT_TRUE(mem.Map(view));
  ASSERT_EQ(view.size(), 484u);
  ASSERT_TRUE(AllZero(view));
  auto* bytes = static_cast<unsigned char*>(view.data());
  for (int i = 0; i < 484; ++i) bytes[i] = static_cast<unsigned char>(i);

  const pid_t child = ForkChild([] {
    SharedMemory m;
    SharedView v;
    if (m.Open("Block") != OpenStatus::Opened || !m.Map(v) || v.size() != 484) return 1;
    auto* p = static_cast<unsigned char*>(v.data());
    for (int i = 0; i < 484; ++i)
      if (p[i] != static_cast<unsigned char>(i)) return 2;
    std::memcpy(p, "reply", 5);
    return 0;
  });
  ASSERT_EQ(JoinChild(child), 0);
  EXPECT_EQ(std::memcmp(bytes, "reply", 5), 0);
}

TEST_F(SharedMemoryTest, ViewOutlivesItsHandle) {
  SharedMemory mem;
  ASSERT_EQ(mem.Create("Outlive", 64), OpenStatus::Created);
  SharedView view;
  ASSERT_TRUE(mem.Map(view));
  mem.Close();
  std::memset(view.data(), 0x5A, view.size());
  EXPECT_EQ(static_cast<unsigned char*>(view.data())[63], 0x5A);
  view.Unmap();
  EXPECT_EQ(view.data(), nullptr);
}

TEST_F(SharedMemoryTest, NewObjectIsZeroedAfterTheOldOneVanished) {
  {
    SharedMemory mem;
    SharedView view;
    ASSERT_EQ(mem.Create("Again", 256), OpenStatus::Created);
    ASSERT_TRUE(mem.Map(view));
    std::memset(view.data(), 0xFF, view.size());
    EXPECT_TRUE(SegmentExists("Again"));
  }
  EXPECT_FALSE(SegmentExists("Again"));  // last close removes it

  // A holder that dies leaves its segment behind; the next creator starts
  // from zero, with the size it asks for.
  const pid_t child = ForkChild([] {
    SharedMemory m;
    SharedView v;
    if (m.Create("Again", 4096) != OpenStatus::Created || !m.Map(v)) return 1;
    std::memset(v.data(), 0xFF, v.size());
    ::raise(SIGKILL);
    return 2;
  });
  ASSERT_EQ(JoinChild(child), -1);
  SharedMemory mem;
  SharedView view;
  ASSERT_EQ(mem.Create("Again", 128), OpenStatus::Created);
  ASSERT_TRUE(mem.Map(view));
  EXPECT_EQ(view.size(), 128u);
  EXPECT_TRUE(AllZero(view));
}

TEST_F(SharedMemoryTest, SameNameUnderTwoRootsIsTwoObjects) {
  SharedMemory a;
  SharedView va;
  ASSERT_EQ(a.Create("Object", 32), OpenStatus::Created);
  ASSERT_TRUE(a.Map(va));
  std::memset(va.data(), 'A', va.size());

  qv::paths::SetRootForProcess(NewRoot());
  SharedMemory b;
  SharedView vb;
  ASSERT_EQ(b.Create("Object", 32), OpenStatus::Created);
  ASSERT_TRUE(b.Map(vb));
  EXPECT_TRUE(AllZero(vb));
}

}  // namespace
}  // namespace qv::kobj
