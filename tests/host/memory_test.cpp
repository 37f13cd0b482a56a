// The host allocator: tracking per source tag, refused sizes, failure injection, threads.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

#include "kwhost/app/testing.h"
#include "kwhost/memory.h"

namespace {

namespace memory = kwhost::memory;

class MemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    memory::FailAllocation(0);
    memory::FailAllocationsFrom(0);
  }
  void TearDown() override {
    memory::FailAllocation(0);
    memory::FailAllocationsFrom(0);
  }
};

TEST_F(MemoryTest, TracksLiveBlocksPerSourceTag) {
  const LLONG blocks = memory::LiveBlocks();
  const LLONG bytes = memory::LiveBytes();
  void* a = GeAlloc(100, "tests\\memory\\a", __LINE__);
  void* b = GeAlloc(28, "tests\\memory\\a", __LINE__);
  void* c = GeAlloc(0, "tests\\memory\\c", __LINE__);
  ASSERT_TRUE(a && b && c);
  EXPECT_NE(c, a);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 16, 0u);
  EXPECT_EQ(memory::LiveBlocks() - blocks, 3);
  EXPECT_EQ(memory::LiveBytes() - bytes, 128);
  EXPECT_EQ(memory::LiveBlocks("tests\\memory\\a"), 2);
  EXPECT_EQ(memory::LiveBlocks("tests\\memory\\c"), 1);
  EXPECT_EQ(memory::LiveBlocks("tests\\memory\\never"), 0);

  GeFree(a);
  EXPECT_EQ(a, nullptr);
  GeFree(a);  // null is ignored
  GeFree(b);
  GeFree(c);
  EXPECT_EQ(memory::LiveBlocks("tests\\memory\\a"), 0);
  EXPECT_EQ(memory::LiveBlocks(), blocks);
  EXPECT_EQ(memory::LiveBytes(), bytes);
}

TEST_F(MemoryTest, RefusesNegativeAndHugeSizes) {
  const LLONG blocks = memory::LiveBlocks();
  EXPECT_EQ(GeAlloc(-1), nullptr);
  EXPECT_EQ(GeAlloc(std::numeric_limits<LLONG>::min()), nullptr);
  EXPECT_EQ(GeAlloc(std::numeric_limits<LLONG>::max()), nullptr);  // header would overflow
  EXPECT_EQ(GeAlloc(LLONG(1) << 40), nullptr);
  EXPECT_EQ(GeAllocArray<double>(-3), nullptr);
  EXPECT_EQ(GeAllocArray<double>(std::numeric_limits<LLONG>::max() / 4), nullptr);
  EXPECT_EQ(memory::LiveBlocks(), blocks);
}

TEST_F(MemoryTest, FailsExactlyTheChosenAllocation) {
  memory::FailAllocation(3);
  const LLONG count = memory::AllocationCount();
  std::vector<void*> blocks;
  for (int i = 0; i < 5; ++i) blocks.push_back(GeAlloc(8, "tests\\memory"));
  EXPECT_EQ(memory::AllocationCount() - count, 5);  // the failed one counts too
  for (int i = 0; i < 5; ++i) EXPECT_EQ(blocks[i] == nullptr, i == 2) << i;
  for (void*& block : blocks) GeFree(block);
}

TEST_F(MemoryTest, FailsEveryAllocationFromTheChosenOne) {
  memory::FailAllocationsFrom(2);
  void* first = GeAlloc(8);
  void* second = GeAlloc(8);
  void* third = GeAlloc(8);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(third, nullptr);
  memory::FailAllocationsFrom(0);
  void* after = GeAlloc(8);
  EXPECT_NE(after, nullptr);
  GeFree(first);
  GeFree(after);
}

TEST_F(MemoryTest, ZeroCancelsAFailure) {
  memory::FailAllocation(1);
  memory::FailAllocation(0);
  void* block = GeAlloc(8);
  EXPECT_NE(block, nullptr);
  GeFree(block);
}

TEST_F(MemoryTest, NewObjAndDeleteObjRunConstructorAndDestructor) {
  struct Probe {
    explicit Probe(int* alive) : alive_(alive) { ++*alive_; }
    ~Probe() { --*alive_; }
    int* alive_;
  };
  int alive = 0;
  Probe* probe = NewObj<Probe>("tests\\memory\\probe", __LINE__, &alive);
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(alive, 1);
  EXPECT_EQ(memory::LiveBlocks("tests\\memory\\probe"), 1);
  DeleteObj(probe);
  EXPECT_EQ(probe, nullptr);
  EXPECT_EQ(alive, 0);
  memory::FailAllocation(1);
  EXPECT_EQ(NewObj<Probe>("tests\\memory\\probe", __LINE__, &alive), nullptr);
  EXPECT_EQ(alive, 0);  // no constructor ran on a failed block
}

TEST_F(MemoryTest, CountsStayExactUnderThreads) {
  const LLONG blocks = memory::LiveBlocks();
  const LLONG count = memory::AllocationCount();
  constexpr int kThreads = 4, kRounds = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < kRounds; ++i) {
        void* block = GeAlloc(16 + i % 7, "tests\\memory\\threads");
        GeFree(block);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(memory::AllocationCount() - count, kThreads * kRounds);
  EXPECT_EQ(memory::LiveBlocks(), blocks);
  EXPECT_EQ(memory::LiveBlocks("tests\\memory\\threads"), 0);
}

TEST_F(MemoryTest, AllocationCounterCountsFromItsStart) {
  memory::AllocationCounter counter;
  void* a = GeAlloc(4);
  EXPECT_EQ(GeAlloc(-4), nullptr);
  EXPECT_EQ(counter.Count(), 2);
  GeFree(a);
}

TEST(MemoryDeathTest, FreeingAForeignBlockStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // A block the host never handed out is caught before the heap is touched.
  alignas(16) static unsigned char fake[64] = {};
  EXPECT_DEATH(GeFreeRaw(fake + 16), "not live");
}

}  // namespace
