// The demo's frames allocate nothing once it runs: every heap allocation in this program is counted,
// and frames of the whole demo on the recording backend (with nothing recorded) must add none.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "platform/gl/GlBackend.h"
#include "tests/support/Harness.h"

namespace {
std::atomic<long> allocations{0};
}  // namespace

void* operator new(std::size_t n) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
  return operator new(n);
}
// The non-throwing forms too (std::stable_sort's buffer comes from them): every unaligned
// allocation and release goes through malloc and free here.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept {
  return operator new(n, t);
}
// These pair with the malloc above, which the compiler cannot see through operator new.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}

namespace {

TEST(FrameAllocations, AFrameOfTheRunningDemoAllocatesNothing) {
  wgtest::RecordingDemo demo;
  demo.direct3d.recordCalls = false;
  demo.startup();
  demo.backend().keepDraws = false;
  // Past the first credit tick and with the whole snow pool in play.
  demo.frames(3100);
  const long before = allocations.load();
  demo.frames(600);  // ten seconds: credit lines come and go, flakes land and respawn
  EXPECT_EQ(allocations.load() - before, 0) << "heap allocations in 600 frames";
}

TEST(FrameAllocations, AFrameOnTheOpenGlBackendAllocatesNothingOfOursAndMakesNoProgram) {
  // The driver's own memory is not counted here, only what this program asks of the C++ heap.
  wgtest::GlDemo demo;
  app::Form1& form = demo.form;
  auto& backend = dynamic_cast<gl::GlBackend&>(form.D3D.D3DDevice->GetBackend());
  form.MainLoop(1);
  // The first frame meets every kind of draw: the tree, the snow, the ground and the text.
  const std::size_t programs = backend.programs();
  EXPECT_EQ(programs, 4u);
  form.MainLoop(129);
  const long before = allocations.load();
  form.MainLoop(60);  // the credit line appears: the greeting's program draws it
  EXPECT_EQ(allocations.load() - before, 0) << "heap allocations in 60 frames";
  EXPECT_EQ(backend.programs(), programs) << "programs made after the first frame";
}

}  // namespace
