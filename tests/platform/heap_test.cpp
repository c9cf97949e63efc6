// The heap reserve made at start-up: one stretch of the heap, marked for 2 MB pages, that malloc fills.
#include "platform/process/Heap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t kLargePage = std::size_t{2} << 20;

struct Mapping {
  std::uintptr_t begin = 0, end = 0;
  std::string name, flags;
  std::size_t residentBytes = 0;
};

// The process's mappings as the kernel lists them, each with its VmFlags line.
std::vector<Mapping> Mappings() {
  std::vector<Mapping> all;
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  while (std::getline(smaps, line)) {
    std::istringstream in(line);
    std::string first;
    in >> first;
    const auto dash = first.find('-');
    if (dash != std::string::npos && first.find(':') == std::string::npos) {
      Mapping m;
      m.begin = std::stoull(first.substr(0, dash), nullptr, 16);
      m.end = std::stoull(first.substr(dash + 1), nullptr, 16);
      std::string perms, offset, dev, inode;
      in >> perms >> offset >> dev >> inode;
      std::getline(in >> std::ws, m.name);
      all.push_back(m);
    } else if (first == "Rss:" && !all.empty()) {
      in >> all.back().residentBytes;
      all.back().residentBytes <<= 10;
    } else if (first == "VmFlags:" && !all.empty()) {
      std::getline(in, all.back().flags);
      all.back().flags += ' ';
    }
  }
  return all;
}

// The bytes of the heap marked for 2 MB pages; each marked stretch starts on a large page.
std::size_t MarkedHeapBytes() {
  std::size_t bytes = 0;
  for (const Mapping& m : Mappings()) {
    if (m.name != "[heap]" || m.flags.find(" hg ") == std::string::npos) continue;
    bytes += m.end - m.begin;
    EXPECT_EQ(m.begin % kLargePage, 0u);
  }
  return bytes;
}

bool LargePagesOffered() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return false;  // the sanitizer's allocator owns the heap, and malloc's tuning calls do nothing
#else
  std::ifstream enabled("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string modes;
  std::getline(enabled, modes);
  return enabled.good() && modes.find("[never]") == std::string::npos;
#endif
}

// The bytes of marked heap the process has in memory, by the kernel's count.
std::size_t ResidentMarkedHeapBytes() {
  std::size_t bytes = 0;
  for (const Mapping& m : Mappings())
    if (m.name == "[heap]" && m.flags.find(" hg ") != std::string::npos) bytes += m.residentBytes;
  return bytes;
}

// The reserve, made once in this process: the heap then already has it free at its top, and a second
// call finds nothing to grow.
const platform::HeapReserve& TheReserve() {
  static const platform::HeapReserve reserve = platform::ReserveHeapInLargePages();
  return reserve;
}

TEST(Heap, TheReserveIsAHeapStretchMarkedForLargePagesThatSmallBlocksFill) {
  if (!LargePagesOffered()) GTEST_SKIP() << "no 2 MB pages for the heap here";
  const platform::HeapReserve& reserve = TheReserve();
  // The heap grew by 32 MB; whole large pages inside it are marked.
  ASSERT_GE(reserve.bytes(), 14 * kLargePage);
  ASSERT_LE(reserve.bytes(), 16 * kLargePage);
  EXPECT_EQ(reserve.begin % kLargePage, 0u);
  EXPECT_EQ(reserve.end % kLargePage, 0u);
  EXPECT_EQ(MarkedHeapBytes(), reserve.bytes());

  // Small blocks made now come from that stretch, apart from those that fit gaps lower in the heap or
  // the part of the growth below its first large-page boundary (under 2 MB of these 16 MB).
  std::vector<void*> blocks;
  for (int i = 0; i < 16384; ++i) blocks.push_back(std::malloc(1024));
  std::size_t inReserve = 0;
  for (void* b : blocks) {
    const auto p = reinterpret_cast<std::uintptr_t>(b);
    if (p >= reserve.begin && p < reserve.end) ++inReserve;
  }
  for (void* b : blocks) std::free(b);
  EXPECT_GE(inReserve, blocks.size() * 4 / 5);
}

TEST(Heap, PrefaultingMakesTheWholeReservePresentAndLeavesItsBytesAlone) {
  if (!LargePagesOffered()) GTEST_SKIP() << "no 2 MB pages for the heap here";
  const platform::HeapReserve& reserve = TheReserve();
  ASSERT_GT(reserve.bytes(), 0u);
  // A block in use inside the reserve, written before the pages around it are faulted in.
  std::vector<std::uint8_t*> blocks;
  std::uint8_t* mine = nullptr;
  while (!mine) {
    auto* b = static_cast<std::uint8_t*>(std::malloc(4096));
    blocks.push_back(b);
    const auto p = reinterpret_cast<std::uintptr_t>(b);
    if (p >= reserve.begin && p + 4096 <= reserve.end) mine = b;
  }
  for (int i = 0; i < 4096; ++i) mine[i] = static_cast<std::uint8_t>(i * 7 + 1);
  ASSERT_LT(ResidentMarkedHeapBytes(), reserve.bytes()) << "the reserve is untouched before";

  EXPECT_EQ(platform::PrefaultHeapReserve(reserve), reserve.bytes());
  EXPECT_EQ(ResidentMarkedHeapBytes(), reserve.bytes());
  bool same = true;
  for (int i = 0; i < 4096; ++i) same = same && mine[i] == static_cast<std::uint8_t>(i * 7 + 1);
  EXPECT_TRUE(same);
  for (auto* b : blocks) std::free(b);

  // Pages that are no longer there are skipped, not made.
  EXPECT_EQ(platform::PrefaultHeapReserve({reserve.end + (std::uintptr_t{1} << 40),
                                           reserve.end + (std::uintptr_t{1} << 40) + kLargePage}),
            0u);
}

TEST(Heap, AThreadsOwnHeapIsMarkedWholeAndTheFirstThreadsIsLeftToTheReserve) {
  if (!LargePagesOffered()) GTEST_SKIP() << "no 2 MB pages for the heap here";
  // The first thread allocates from the process heap: nothing of its own to mark.
  const std::size_t before = MarkedHeapBytes();
  EXPECT_EQ(platform::MarkThisThreadsHeapForLargePages(), 0u);
  EXPECT_EQ(MarkedHeapBytes(), before);

  std::size_t marked = 0;
  bool blockMarked = false;
  std::thread([&] {
    marked = platform::MarkThisThreadsHeapForLargePages();
    // A block this thread makes afterwards lies in a marked mapping.
    void* block = std::malloc(1024);
    const auto p = reinterpret_cast<std::uintptr_t>(block);
    for (const Mapping& m : Mappings()) {
      if (p >= m.begin && p < m.end)
        blockMarked = m.flags.find(" hg ") != std::string::npos && m.name.empty();
    }
    std::free(block);
  }).join();
  // The part in use and the reserved rest behind it: the thread heap's whole 64 MB span.
  EXPECT_EQ(marked, std::size_t{64} << 20);
  EXPECT_TRUE(blockMarked);
}

TEST(Heap, ReservesBelowOneLargePageOrAboveAGigabyteAreRefused) {
  const std::size_t before = MarkedHeapBytes();
  EXPECT_EQ(platform::ReserveHeapInLargePages(kLargePage - 1).bytes(), 0u);
  EXPECT_EQ(platform::ReserveHeapInLargePages(std::size_t{2} << 30).bytes(), 0u);
  EXPECT_EQ(MarkedHeapBytes(), before) << "nothing more was marked";
}

}  // namespace
