// Outputs written whole or not at all: committed ones are there under their name, the others leave
// nothing, a terminating signal removes what is pending and still ends the process, and failures
// name the file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/base/Error.h"
#include "platform/files/AtomicOutput.h"

namespace {

bool g_fsyncFails = false;

}  // namespace

// Stands in for the C library's fsync in this program, so that a test can make the disk refuse.
extern "C" int fsync(int fd) {
  if (g_fsyncFails) {
    errno = EIO;
    return -1;
  }
  return static_cast<int>(syscall(SYS_fsync, fd));
}

namespace {

namespace fs = std::filesystem;
using platform::AtomicOutput;

std::string Dir(const std::string& name) {
  const fs::path dir = fs::path(WG_TEST_TMP) / ("atomic-" + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir.string();
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::size_t Entries(const std::string& dir) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

void (*HandlerOf(int sig))(int) {
  struct sigaction now {};
  sigaction(sig, nullptr, &now);
  return now.sa_handler;
}

TEST(AtomicOutput, TheTemporaryLiesBesideTheFinalName) {
  EXPECT_EQ(platform::PartialName("/a/b/shot.png"), "/a/b/.shot.png.partial");
  EXPECT_EQ(platform::PartialName("shot.png"), ".shot.png.partial");
}

TEST(AtomicOutput, CommitRenamesTheTemporaryIntoPlace) {
  const std::string dir = Dir("commit");
  {
    AtomicOutput out(dir + "/a.txt");
    EXPECT_EQ(out.path(), dir + "/.a.txt.partial");
    Write(out.path(), "whole");
    EXPECT_FALSE(fs::exists(dir + "/a.txt"));
    EXPECT_EQ(platform::PendingOutputs(), 1);
    out.commit();
    EXPECT_EQ(Read(dir + "/a.txt"), "whole");
  }
  EXPECT_EQ(Entries(dir), 1u);
  EXPECT_EQ(platform::PendingOutputs(), 0);
}

TEST(AtomicOutput, WithoutCommitNothingIsLeft) {
  const std::string dir = Dir("no-commit");
  Write(dir + "/a.txt", "earlier");
  try {
    AtomicOutput out(dir + "/a.txt");
    Write(out.path(), "half");
    throw std::runtime_error("the writer failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(Read(dir + "/a.txt"), "earlier");
  EXPECT_EQ(Entries(dir), 1u);
}

TEST(AtomicOutput, ATemporaryAKilledRunLeftIsReplaced) {
  const std::string dir = Dir("stale");
  Write(dir + "/.a.bin.partial", "from a run that was killed, and longer");
  platform::WriteFileAtomically(dir + "/a.bin", "new\0bytes", 9);
  EXPECT_EQ(Read(dir + "/a.bin"), std::string("new\0bytes", 9));
  EXPECT_EQ(Entries(dir), 1u);
}

TEST(AtomicOutput, AFolderReplacesAnEarlierOneWhole) {
  const std::string dir = Dir("folder");
  fs::create_directories(dir + "/page/old/deeper");
  Write(dir + "/page/old/deeper/left-over.txt", "from before");
  {
    AtomicOutput out(dir + "/page", AtomicOutput::Kind::Folder);
    fs::create_directories(out.path() + "/greeting/music");
    Write(out.path() + "/greeting/music/main.mid", "tune");
    Write(out.path() + "/index.html", "page");
    out.commit();
  }
  EXPECT_EQ(Read(dir + "/page/greeting/music/main.mid"), "tune");
  EXPECT_EQ(Read(dir + "/page/index.html"), "page");
  EXPECT_FALSE(fs::exists(dir + "/page/old"));
  EXPECT_EQ(Entries(dir), 1u) << "only page/";
}

TEST(AtomicOutput, AFolderNotCommittedGoesWithAllItHolds) {
  const std::string dir = Dir("folder-dropped");
  {
    AtomicOutput out(dir + "/page", AtomicOutput::Kind::Folder);
    fs::create_directories(out.path() + "/a/b/c");
    Write(out.path() + "/a/b/c/d.txt", "deep");
    Write(out.path() + "/a/e.txt", "shallow");
  }
  EXPECT_EQ(Entries(dir), 0u);
}

class AtomicOutputSignal : public testing::TestWithParam<int> {};

// In a child process: a file and a folder pending, then the signal. Its handler removes both and the
// child ends by that signal, not by an exit code.
TEST_P(AtomicOutputSignal, RemovesEveryPendingTemporaryAndEndsTheProcessByIt) {
  const int sig = GetParam();
  const std::string dir = Dir("signal-" + std::to_string(sig));
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    AtomicOutput file(dir + "/video.mp4");
    Write(file.path(), "half a video");
    AtomicOutput folder(dir + "/page", AtomicOutput::Kind::Folder);
    fs::create_directories(folder.path() + "/greeting/tex");
    Write(folder.path() + "/greeting/tex/snow.jpg.texels", "texels");
    kill(getpid(), sig);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status)) << "exit status " << status;
  EXPECT_EQ(WTERMSIG(status), sig);
  EXPECT_EQ(Entries(dir), 0u);
}

INSTANTIATE_TEST_SUITE_P(AtomicOutput, AtomicOutputSignal, testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const testing::TestParamInfo<int>& i) {
                           return std::string(sigabbrev_np(i.param));
                         });

void Counted(int) {}

TEST(AtomicOutput, TheEarlierHandlersComeBackWhenTheLastOutputEnds) {
  const std::string dir = Dir("handlers");
  struct sigaction own {
  }, ignore{}, before[2];
  own.sa_handler = Counted;
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGTERM, &own, &before[0]);
  sigaction(SIGHUP, &ignore, &before[1]);
  const auto interrupt = HandlerOf(SIGINT);
  {
    auto first = std::make_unique<AtomicOutput>(dir + "/a");
    AtomicOutput second(dir + "/b");
    EXPECT_NE(HandlerOf(SIGTERM), Counted);
    EXPECT_NE(HandlerOf(SIGINT), interrupt);
    EXPECT_EQ(HandlerOf(SIGHUP), SIG_IGN) << "a signal the process ignores stays ignored";
    first.reset();
    EXPECT_NE(HandlerOf(SIGTERM), Counted) << "put back while an output was still pending";
  }
  EXPECT_EQ(HandlerOf(SIGTERM), Counted);
  EXPECT_EQ(HandlerOf(SIGINT), interrupt);
  EXPECT_EQ(HandlerOf(SIGHUP), SIG_IGN);
  sigaction(SIGTERM, &before[0], nullptr);
  sigaction(SIGHUP, &before[1], nullptr);
}

TEST(AtomicOutput, ARenameThatFailsNamesTheFileAndLeavesNothing) {
  const std::string dir = Dir("rename-fails");
  fs::create_directories(dir + "/shot.png/inside");  // a folder in the way of a file
  {
    AtomicOutput out(dir + "/shot.png");
    Write(out.path(), "picture");
    try {
      out.commit();
      FAIL() << "renamed over a folder";
    } catch (const platform::Error& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find("cannot move " + out.path() + " into place"), std::string::npos) << what;
      EXPECT_NE(what.find("(" + dir + "/shot.png)"), std::string::npos) << what;
    }
  }
  EXPECT_TRUE(fs::is_directory(dir + "/shot.png/inside"));
  EXPECT_EQ(Entries(dir), 1u);
}

TEST(AtomicOutput, AFlushThatFailsNamesTheFileAndLeavesNothing) {
  const std::string dir = Dir("flush-fails");
  g_fsyncFails = true;
  try {
    platform::WriteFileAtomically(dir + "/a.png", "png", 3);
    ADD_FAILURE() << "a failed flush went unnoticed";
  } catch (const platform::Error& e) {
    const std::string what = e.what();
    EXPECT_EQ(what, "AtomicOutput: cannot flush " + dir +
                        "/.a.png.partial to the disk: " + std::strerror(EIO) + " (" + dir + "/a.png)");
  }
  g_fsyncFails = false;
  EXPECT_EQ(Entries(dir), 0u);
}

// A run of many files is flushed once at its end: committing one does not flush it.
TEST(AtomicOutput, AFileFlushedLaterIsCommittedWithoutAFlush) {
  const std::string dir = Dir("flush-later");
  g_fsyncFails = true;
  platform::WriteFileAtomically(dir + "/frame-00001.png", "png", 3, AtomicOutput::Flush::Later);
  g_fsyncFails = false;
  EXPECT_EQ(Read(dir + "/frame-00001.png"), "png");
  EXPECT_EQ(Entries(dir), 1u);
  platform::FlushFolder(dir);
  try {
    platform::FlushFolder(dir + "/gone");
    ADD_FAILURE() << "flushed a missing folder";
  } catch (const platform::Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "FlushFolder: " + std::string(std::strerror(ENOENT)) + " (" + dir + "/gone)");
  }
}

}  // namespace
