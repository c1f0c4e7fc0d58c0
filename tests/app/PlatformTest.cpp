#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "app/gui/InstanceLock.h"
#include "app/gui/QtPlatformServices.h"
#include "support/TestSupport.h"

namespace {

// Points XDG_RUNTIME_DIR somewhere else for one test.
class RuntimeDir {
 public:
  explicit RuntimeDir(const std::string& path) {
    if (const char* old = std::getenv("XDG_RUNTIME_DIR")) old_ = old;
    setenv("XDG_RUNTIME_DIR", path.c_str(), 1);
  }
  ~RuntimeDir() { setenv("XDG_RUNTIME_DIR", old_.c_str(), 1); }

 private:
  std::string old_;
};

TEST(SingleInstance, SecondHolderIsToldAnotherCopyRuns) {
  testsupport::TempDir dir;
  RuntimeDir runtime(dir.path());
  qvr::InstanceLock first;
  qvr::InstanceLock second;
  EXPECT_EQ(first.acquire("com.example.app"), qvr::InstanceLock::Result::Acquired);
  EXPECT_EQ(second.acquire("com.example.app"), qvr::InstanceLock::Result::HeldElsewhere);
  EXPECT_EQ(qvr::InstanceLock().acquire("com.example.other"), qvr::InstanceLock::Result::Acquired);
  first.release();
  EXPECT_EQ(second.acquire("com.example.app"), qvr::InstanceLock::Result::Acquired);
  EXPECT_EQ(qvr::InstanceLock::lockPathFor("a/b c"), dir.path() + "/a_b_c.lock");
}

TEST(SingleInstance, LockGoesWithTheProcess) {
  testsupport::TempDir dir;
  RuntimeDir runtime(dir.path());
  const pid_t child = fork();
  if (child == 0) {
    qvr::InstanceLock lock;
    lock.acquire("com.example.app");
    _exit(0);  // ends without releasing
  }
  int status = 0;
  waitpid(child, &status, 0);
  qvr::InstanceLock lock;
  EXPECT_EQ(lock.acquire("com.example.app"), qvr::InstanceLock::Result::Acquired);
}

TEST(SingleInstance, PlatformCountsCopiesAndStartsWhenTheLockCannotBeMade) {
  testsupport::TempDir dir;
  {
    RuntimeDir runtime(dir.path());
    qvr::QtPlatformServices running;
    qvr::QtPlatformServices starting;
    EXPECT_EQ(running.runningInstanceCount("com.example.app"), 1);
    EXPECT_EQ(running.runningInstanceCount("com.example.app"), 1) << "asking again is no second copy";
    EXPECT_EQ(starting.runningInstanceCount("com.example.app"), 2);
  }
  // A folder where no lock file can be made must not keep the application from starting.
  RuntimeDir missing(dir.path() + "/absent/deeper");
  qvr::QtPlatformServices alone;
  EXPECT_EQ(alone.runningInstanceCount("com.example.app"), 1);
}

TEST(PlatformFolders, WorkingFolderIsTheCacheFolderAndExists) {
  qvr::QtPlatformServices platform;
  const std::string folder = platform.workingFolder();
  EXPECT_NE(folder.find("quenda-video-repair"), std::string::npos);
  struct stat st {};
  EXPECT_EQ(::stat(folder.c_str(), &st), 0);
  EXPECT_FALSE(platform.loginName().empty());
  EXPECT_FALSE(platform.homeFolder().empty());
  EXPECT_FALSE(platform.fullPathForApplication("surely-no-such-player-here").has_value());
}

}  // namespace
