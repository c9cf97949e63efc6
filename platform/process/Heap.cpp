#include "platform/process/Heap.h"

// Only glibc's malloc on Linux is tuned; elsewhere (the web page's runtime) nothing is marked.
#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#endif

namespace platform {

#if defined(__GLIBC__) && defined(MADV_HUGEPAGE) && defined(M_TOP_PAD)

namespace {

constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
#ifdef MADV_POPULATE_WRITE
constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int kPopulateWrite = 23;  // Linux 5.14; older kernels refuse it and nothing happens
#endif

// The reserve made at start-up, until PrefaultHeapReserveInBackground takes it.
std::atomic<std::uintptr_t> gReserveBegin{0}, gReserveEnd{0};

}  // namespace

HeapReserve ReserveHeapInLargePages(std::size_t reserve) {
  // Blocks below the size the C library maps on their own, so they come from the heap itself.
  constexpr std::size_t kBlock = std::size_t{64} << 10;
  constexpr int kMostBlocks = 64;
  if (reserve < kLargePage || reserve > (std::size_t{1} << 30)) return {};

  const auto brk = [] { return reinterpret_cast<std::uintptr_t>(sbrk(0)); };
  const std::uintptr_t before = brk();
  if (before == static_cast<std::uintptr_t>(-1)) return {};
  if (mallopt(M_TOP_PAD, static_cast<int>(reserve)) == 0) return {};

  // The top of the heap has some room left; take blocks until the next one makes the heap grow, which
  // it now does by the whole reserve. Freed again, they go back to that top.
  void* blocks[kMostBlocks];
  int taken = 0;
  std::uintptr_t after = before;
  while (after == before && taken < kMostBlocks) {
    blocks[taken] = std::malloc(kBlock);
    if (!blocks[taken]) break;
    ++taken;
    after = brk();
  }
  for (int i = 0; i < taken; ++i) std::free(blocks[i]);
  // Freeing them may have handed the last few pages back: the heap ends where it ends now (where it
  // never grew, where it began).
  const std::uintptr_t end = brk();
  if (end == static_cast<std::uintptr_t>(-1) || end <= before) return {};

  const std::uintptr_t first = (before + kLargePage - 1) & ~(kLargePage - 1);
  const std::uintptr_t last = end & ~(kLargePage - 1);
  if (last <= first) return {};
  if (madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE) != 0) return {};
  gReserveEnd = last;
  gReserveBegin = first;
  return {first, last};
}

std::size_t PrefaultHeapReserve(const HeapReserve& reserve) {
  // One large page at a time, lowest first as the heap fills, so no call holds the kernel's lock on
  // the address space for long. A page the heap has handed back since is refused, and skipped.
  std::size_t present = 0;
  for (std::uintptr_t p = reserve.begin; p < reserve.end; p += kLargePage)
    if (madvise(reinterpret_cast<void*>(p), kLargePage, kPopulateWrite) == 0) present += kLargePage;
  return present;
}

void PrefaultHeapReserveInBackground() {
  const HeapReserve reserve{gReserveBegin.exchange(0), gReserveEnd.load()};
  if (reserve.begin == 0 || reserve.bytes() == 0) return;
  std::thread([reserve] { PrefaultHeapReserve(reserve); }).detach();
}

std::size_t MarkThisThreadsHeapForLargePages() {
  // The C library gives a thread other than the first a heap of its own: a mapping of its own,
  // aligned on its largest size, the part in use readable and writable, the rest reserved without
  // access behind it. Only what is found to look so is marked.
  constexpr std::uintptr_t kThreadHeapSpan = std::uintptr_t{64} << 20;
  void* probe = std::malloc(64);
  const auto at = reinterpret_cast<std::uintptr_t>(probe);
  std::free(probe);
  std::ifstream maps("/proc/self/maps");
  std::string line;
  std::uintptr_t begin = 0, end = 0;
  while (std::getline(maps, line)) {
    unsigned long long b = 0, e = 0, offset = 0, inode = 0;
    char perms[8] = {}, device[16] = {};
    int used = 0;
    if (std::sscanf(line.c_str(), "%llx-%llx %7s %llx %15s %llu %n", &b, &e, perms, &offset, device, &inode,
                    &used) < 6)
      continue;
    const bool anonymous = inode == 0 && line.size() <= static_cast<std::size_t>(used);
    if (end == 0) {
      if (at < b || at >= e) continue;
      if (!anonymous || b % kThreadHeapSpan != 0 || e - b > kThreadHeapSpan) return 0;
      begin = b;
      end = e;
    } else {
      // The reserved rest of the same heap, right behind the part in use.
      if (b == end && anonymous && std::string(perms) == "---p" && e - begin <= kThreadHeapSpan) end = e;
      break;
    }
  }
  if (end == 0 || madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE) != 0) return 0;
  return end - begin;
}

#else

HeapReserve ReserveHeapInLargePages(std::size_t) {
  return {};
}
std::size_t MarkThisThreadsHeapForLargePages() {
  return 0;
}
std::size_t PrefaultHeapReserve(const HeapReserve&) {
  return 0;
}
void PrefaultHeapReserveInBackground() {}

#endif

}  // namespace platform
