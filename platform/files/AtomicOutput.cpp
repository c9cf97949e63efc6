#include "platform/files/AtomicOutput.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "platform/base/Error.h"

namespace platform {

namespace {

namespace fs = std::filesystem;

constexpr int kTerminatingSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kSlots = 64;
// Deeper folders than this are left to the destructor; what the program writes is three deep.
constexpr int kMaxDepth = 16;

// The pending temporaries. A signal handler can reach nothing but globals, and it may neither
// allocate nor take a lock: so a fixed table of paths, each slot claimed and freed through its state.
enum SlotState : int { kFree, kFilling, kPending };
struct Slot {
  std::atomic<int> state{kFree};
  bool folder = false;
  char path[4096] = {};
};
Slot g_slots[kSlots];

// Guards the count of pending outputs and the handlers put aside while any is pending.
std::mutex g_lock;
int g_pending = 0;
struct sigaction g_previous[std::size(kTerminatingSignals)];
bool g_replaced[std::size(kTerminatingSignals)] = {};

// Removes `name` (relative to `dirfd`), a file or a whole folder, with system calls only: it runs in
// the signal handler too. A folder's entries are listed again until none is left, as removing
// entries while listing them may skip some.
void removeTree(int dirfd, const char* name, int depth) {
  if (unlinkat(dirfd, name, 0) == 0 || (errno != EISDIR && errno != EPERM)) return;
  const int fd = openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  bool removed = depth < kMaxDepth;
  for (int pass = 0; removed && pass < 64; ++pass) {
    removed = false;
    lseek(fd, 0, SEEK_SET);
    alignas(dirent64) char buf[2048];
    for (ssize_t n; (n = getdents64(fd, buf, sizeof buf)) > 0;) {
      for (ssize_t at = 0; at < n;) {
        const auto* entry = reinterpret_cast<const dirent64*>(buf + at);
        at += entry->d_reclen;
        const char* e = entry->d_name;
        if (e[0] == '.' && (e[1] == '\0' || (e[1] == '.' && e[2] == '\0'))) continue;
        removeTree(fd, e, depth + 1);
        removed = true;
      }
    }
  }
  close(fd);
  unlinkat(dirfd, name, AT_REMOVEDIR);
}

void removePendingAndRaise(int sig) {
  for (Slot& s : g_slots)
    if (s.state.load(std::memory_order_acquire) == kPending) removeTree(AT_FDCWD, s.path, 0);
  // The signal stays blocked while its handler runs: it is taken, by its default action, on return.
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  sigemptyset(&byDefault.sa_mask);
  sigaction(sig, &byDefault, nullptr);
  raise(sig);
}

// With g_lock held. A signal the process ignores (a run under nohup) stays ignored.
void installHandlers() {
  struct sigaction ours {};
  ours.sa_handler = removePendingAndRaise;
  sigemptyset(&ours.sa_mask);
  for (int s : kTerminatingSignals) sigaddset(&ours.sa_mask, s);
  for (std::size_t i = 0; i < std::size(kTerminatingSignals); ++i) {
    sigaction(kTerminatingSignals[i], nullptr, &g_previous[i]);
    g_replaced[i] = (g_previous[i].sa_flags & SA_SIGINFO) || g_previous[i].sa_handler != SIG_IGN;
    if (g_replaced[i]) sigaction(kTerminatingSignals[i], &ours, nullptr);
  }
}

void restoreHandlers() {
  for (std::size_t i = 0; i < std::size(kTerminatingSignals); ++i)
    if (g_replaced[i]) sigaction(kTerminatingSignals[i], &g_previous[i], nullptr);
}

int claimSlot(const std::string& partial, bool folder, const std::string& finalPath) {
  if (partial.size() >= sizeof(Slot::path))
    throw Error("AtomicOutput", "the name is too long to write under a temporary name", finalPath);
  std::lock_guard<std::mutex> lock(g_lock);
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!g_slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
    g_slots[i].folder = folder;
    std::memcpy(g_slots[i].path, partial.c_str(), partial.size() + 1);
    if (g_pending++ == 0) installHandlers();
    g_slots[i].state.store(kPending, std::memory_order_release);
    return i;
  }
  throw Error("AtomicOutput", "too many outputs are being written at once", finalPath);
}

void releaseSlot(int i) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_slots[i].state.store(kFree, std::memory_order_release);
  if (--g_pending == 0) restoreHandlers();
}

[[noreturn]] void fail(const std::string& what, int err, const std::string& finalPath) {
  throw Error("AtomicOutput", what + ": " + std::strerror(err), finalPath);
}

// Flushes one file or folder (its entries, not what they hold) to the disk.
void syncOne(const std::string& path, int flags, const std::string& finalPath) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
  if (fd < 0) fail("cannot open " + path + " to flush it", errno, finalPath);
  if (fsync(fd) != 0) {
    const int err = errno;
    close(fd);
    fail("cannot flush " + path + " to the disk", err, finalPath);
  }
  close(fd);
}

void syncTree(const std::string& root, const std::string& finalPath) {
  for (const auto& e : fs::recursive_directory_iterator(root))
    syncOne(e.path().string(), e.is_directory() ? O_DIRECTORY : 0, finalPath);
  syncOne(root, O_DIRECTORY, finalPath);
}

std::string parentOf(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? "." : parent.string();
}

}  // namespace

std::string PartialName(const std::string& finalPath) {
  const fs::path p(finalPath);
  return (p.parent_path() / ("." + p.filename().string() + ".partial")).string();
}

AtomicOutput::AtomicOutput(std::string finalPath, Kind kind)
    : final_(std::move(finalPath)),
      partial_(PartialName(final_)),
      kind_(kind),
      slot_(claimSlot(partial_, kind == Kind::Folder, final_)) {
  removeTree(AT_FDCWD, partial_.c_str(), 0);
  if (kind_ == Kind::Folder && mkdir(partial_.c_str(), 0777) != 0) {
    const int err = errno;
    releaseSlot(slot_);
    fail("cannot create the folder " + partial_, err, final_);
  }
}

AtomicOutput::~AtomicOutput() {
  if (!committed_) removeTree(AT_FDCWD, partial_.c_str(), 0);
  releaseSlot(slot_);
}

void AtomicOutput::commit(Flush flush) {
  if (flush == Flush::Now && kind_ == Kind::File) syncOne(partial_, 0, final_);
  if (flush == Flush::Now && kind_ == Kind::Folder) syncTree(partial_, final_);
  struct stat there {};
  const bool replace = kind_ == Kind::Folder && lstat(final_.c_str(), &there) == 0;
  // A folder in the way changes places with the new one, which leaves the old one pending removal
  // under the temporary name. File systems without the exchange move it aside first.
  if (replace && renameat2(AT_FDCWD, partial_.c_str(), AT_FDCWD, final_.c_str(), RENAME_EXCHANGE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) fail("cannot move " + partial_ + " into place", errno, final_);
    const std::string aside = partial_ + ".old";
    removeTree(AT_FDCWD, aside.c_str(), 0);
    if (rename(final_.c_str(), aside.c_str()) != 0) fail("cannot move the earlier one aside", errno, final_);
    if (rename(partial_.c_str(), final_.c_str()) != 0) {
      const int err = errno;
      rename(aside.c_str(), final_.c_str());
      fail("cannot move " + partial_ + " into place", err, final_);
    }
    removeTree(AT_FDCWD, aside.c_str(), 0);
  } else if (!replace && rename(partial_.c_str(), final_.c_str()) != 0) {
    fail("cannot move " + partial_ + " into place", errno, final_);
  }
  removeTree(AT_FDCWD, partial_.c_str(), 0);
  committed_ = true;
  if (flush == Flush::Now) syncOne(parentOf(final_), O_DIRECTORY, final_);
}

void WriteFileAtomically(const std::string& path, const void* data, std::size_t size,
                         AtomicOutput::Flush flush) {
  AtomicOutput out(path);
  const int fd = open(out.path().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) fail("cannot create " + out.path(), errno, path);
  for (const char* p = static_cast<const char*>(data); size > 0;) {
    const ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : EIO;
      close(fd);
      fail("cannot write " + out.path(), err, path);
    }
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  if (close(fd) != 0) fail("cannot write " + out.path(), errno, path);
  out.commit(flush);
}

void FlushFolder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw Error("FlushFolder", std::strerror(errno), folder);
  if (syncfs(fd) != 0) {
    const int err = errno;
    close(fd);
    throw Error("FlushFolder", std::strerror(err), folder);
  }
  close(fd);
}

int PendingOutputs() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_pending;
}

}  // namespace platform
