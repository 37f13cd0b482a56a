// The host allocator: blocks with a small header, tracked per source tag, with the failure
// injection tests use.
#include "kwhost/memory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "host_internal.h"
#include "kwhost/app/testing.h"

namespace {

// Every block starts with this header; the caller gets the bytes after it. Sixteen bytes keep
// the caller's pointer as aligned as malloc's.
struct BlockHeader {
  LLONG size;
  std::uint32_t tag;    // index into the tag table
  std::uint32_t magic;  // tells a live block from a freed or foreign one
};
static_assert(sizeof(BlockHeader) == 16);

constexpr std::uint32_t kLiveMagic = 0x4b57a11c;
constexpr std::uint32_t kFreedMagic = 0x4b57dead;
// The largest block the host hands out (64 GiB); larger requests are refused rather than
// passed to malloc, where they could only fail.
constexpr LLONG kMaxBlock = LLONG(1) << 36;

struct TagStats {
  std::string name;
  LLONG liveBlocks = 0;
};

struct State {
  std::mutex mutex;
  LLONG allocations = 0;
  LLONG liveBlocks = 0;
  LLONG liveBytes = 0;
  LLONG failAt = 0;    // the allocation count at which one allocation fails (0: none)
  LLONG failFrom = 0;  // the allocation count from which every allocation fails (0: none)
  std::vector<TagStats> tags;
  std::unordered_map<std::string, std::uint32_t> tagIndex;
};

// Never destroyed: modules and static objects may free blocks during process exit.
State& GetState() {
  static State* state = new State;
  return *state;
}

// Counts one allocation and answers whether it is to fail. Caller holds the mutex.
bool CountAndCheckFailure(State& s) {
  ++s.allocations;
  if (s.failAt != 0 && s.allocations == s.failAt) {
    s.failAt = 0;
    return true;
  }
  return s.failFrom != 0 && s.allocations >= s.failFrom;
}

std::uint32_t TagIndex(State& s, const char* sourceTag) {
  const std::string name = sourceTag ? sourceTag : "";
  auto found = s.tagIndex.find(name);
  if (found != s.tagIndex.end()) return found->second;
  const auto index = static_cast<std::uint32_t>(s.tags.size());
  s.tags.push_back(TagStats{name, 0});
  s.tagIndex.emplace(name, index);
  return index;
}

}  // namespace

void* GeAlloc(LLONG size, const char* sourceTag, LONG line) {
  State& s = GetState();
  std::uint32_t tag = 0;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (CountAndCheckFailure(s)) return nullptr;
    if (size < 0 || size > kMaxBlock) return nullptr;
    tag = TagIndex(s, sourceTag);
  }
  // A zero-byte request still gets a distinct block, like malloc.
  auto* header = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
  if (!header) return nullptr;
  header->size = size;
  header->tag = tag;
  header->magic = kLiveMagic;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    ++s.liveBlocks;
    s.liveBytes += size;
    ++s.tags[tag].liveBlocks;
  }
  return header + 1;
}

void GeFreeRaw(void* block) {
  if (!block) return;
  auto* header = static_cast<BlockHeader*>(block) - 1;
  if (header->magic != kLiveMagic) {
    // Freeing a block twice or one the host never handed out would corrupt the heap; stop at
    // the fault instead of somewhere later.
    std::fprintf(stderr, "kwhost: GeFree of a block that is not live (%s)\n",
                 header->magic == kFreedMagic ? "freed twice" : "not from GeAlloc");
    std::abort();
  }
  State& s = GetState();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    --s.liveBlocks;
    s.liveBytes -= header->size;
    --s.tags[header->tag].liveBlocks;
  }
  header->magic = kFreedMagic;
  std::free(header);
}

namespace kwhost::internal {

bool TakeAllocation() {
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mutex);
  return !CountAndCheckFailure(s);
}

}  // namespace kwhost::internal

namespace kwhost::memory {

LLONG AllocationCount() {
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.allocations;
}

LLONG LiveBlocks() {
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.liveBlocks;
}

LLONG LiveBlocks(const std::string& sourceTag) {
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto found = s.tagIndex.find(sourceTag);
  return found == s.tagIndex.end() ? 0 : s.tags[found->second].liveBlocks;
}

LLONG LiveBytes() {
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.liveBytes;
}

void FailAllocation(LLONG n) {
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.failAt = n > 0 ? s.allocations + n : 0;
}

void FailAllocationsFrom(LLONG n) {
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.failFrom = n > 0 ? s.allocations + n : 0;
}

}  // namespace kwhost::memory
