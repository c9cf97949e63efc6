// Process tuning: the heap, made cheaper to grow during start-up. It is a module of its own because it
// belongs to the whole process, not to any one library: main reserves the heap before the GL driver
// loads, start-up has the reserve faulted in on a spare core, and the music hands the synthesizer's
// preload thread a hook that marks that thread's heap, so the audio library knows nothing of it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// A stretch of the heap marked for 2 MB pages: [begin, end), empty where nothing was marked.
struct HeapReserve {
  std::uintptr_t begin = 0;
  std::uintptr_t end = 0;
  std::size_t bytes() const { return end - begin; }
};

// Grows the heap once by `reserve` bytes and asks the kernel to back that stretch with 2 MB pages where
// it can. While the program starts, the GL driver and its shader compiler fill tens of megabytes of the
// main thread's heap with small blocks; on 4 KB pages each first touch is a page fault, and on a virtual
// machine those faults are a good part of the time to the first frame. The heap then keeps growing in
// steps of `reserve`, and keeps that much free at its top instead of handing it back.
// Call it first thing in main, before the driver loads. Returns what was marked, and keeps it for
// PrefaultHeapReserveInBackground: nothing where the C library or the kernel offers no such pages,
// which changes nothing but the speed.
HeapReserve ReserveHeapInLargePages(std::size_t reserve = std::size_t{32} << 20);

// Makes every page of the reserve present, as a first write would, without changing a byte of it;
// blocks in use there are safe. Returns the bytes it made present (already present ones included).
std::size_t PrefaultHeapReserve(const HeapReserve& reserve);

// PrefaultHeapReserve, on a thread of its own, for the reserve ReserveHeapInLargePages made (the first
// call only; nothing where none was made). On a virtual machine the first write to fresh memory is
// slow, as the host backs it only then: call this when a core falls idle during start-up, and the
// main thread finds the pages ready when its heap reaches them.
void PrefaultHeapReserveInBackground();

// Marks the heap the calling thread allocates from for 2 MB pages, where that is a heap of the
// thread's own (the C library gives other threads than the first their own). For a thread that fills
// tens of megabytes while the program starts, as the synthesizer's SoundFont loading does. Returns the
// bytes marked, in use and reserved; 0 where the thread has no heap of its own or it is not recognised.
std::size_t MarkThisThreadsHeapForLargePages();

}  // namespace platform
