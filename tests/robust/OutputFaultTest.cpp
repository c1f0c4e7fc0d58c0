// Faults around a repair: the output's disk fills up part-way, the output grows past the
// process's file size limit, or an input cannot be read. Each is reported as an error, leaves
// no file (whole or partial) under the output name, and leaves the inputs exactly as they were.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <functional>

#include "avi/RepairFileAvi.h"
#include "repair/RepairFile.h"
#include "robust/RobustSupport.h"
#include "support/TestSupport.h"

namespace {

enum class Engine { Mov, Avi };

struct Inputs {
  std::string damaged;
  std::string reference;  // empty for the AVI engine
};

Inputs inputsFor(Engine engine) {
  const std::string f = testsupport::fixturesDir();
  if (engine == Engine::Mov) return {f + "/h264_aac_mp4/damaged.mp4", f + "/h264_aac_mp4/reference.mp4"};
  return {f + "/avi_mpeg4_pcm/damaged.avi", ""};
}

// Runs one whole job and returns what the delegate heard.
robust::RecordingDelegate runJob(Engine engine, const Inputs& in, const std::string& output) {
  robust::RecordingDelegate delegate;
  if (engine == Engine::Mov) {
    RepairFile job;
    job.delegate = &delegate;
    job.repairMOVWithRefFileAtPath(in.reference, in.damaged, output);
  } else {
    RepairFileAvi job;
    job.delegate = &delegate;
    job.fileValidityCheck(in.damaged);
    job.retrieveAudioVideoSamplesForFileAtPath(in.damaged, output);
  }
  return delegate;
}

// A job whose output cannot be written completely: the error is the engine's write error, the
// output folder is left as it was, and the inputs are untouched.
void expectCleanWriteFailure(Engine engine, const std::string& outputDir, const std::function<void()>& arm,
                             const std::function<void()>& disarm) {
  const Inputs in = inputsFor(engine);
  const auto damagedBefore = robust::fingerprint(in.damaged);
  const auto referenceBefore = in.reference.empty() ? robust::Fingerprint{} : robust::fingerprint(in.reference);
  const auto folderBefore = robust::listDir(outputDir);
  const std::string output = outputDir + (engine == Engine::Mov ? "/repaired.mov" : "/repaired.avi");

  arm();
  const auto delegate = runJob(engine, in, output);
  disarm();

  EXPECT_EQ(delegate.completed, 0);
  ASSERT_EQ(delegate.errors.size(), 1u);
  EXPECT_EQ(delegate.errors[0].domain, qvr::kRepairErrorDomain);
  EXPECT_EQ(delegate.errors[0].code, qvr::kErrorCannotWrite);
  EXPECT_EQ(delegate.errors[0].stringFor(qvr::kErrorReasonKey), qvr::kCannotWriteReason);
  EXPECT_EQ(robust::listDir(outputDir), folderBefore) << "a partial or temporary file was left behind";
  EXPECT_EQ(robust::fingerprint(in.damaged), damagedBefore);
  if (!in.reference.empty()) {
    EXPECT_EQ(robust::fingerprint(in.reference), referenceBefore);
  }
}

// A tmpfs far smaller than the repaired file; unmounted when the case ends.
class SmallDisk {
 public:
  explicit SmallDisk(const std::string& where) : path_(where) {
    mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", 0, "size=256k") == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  std::string path_;
  bool mounted_ = false;
};

class OutputFaults : public ::testing::TestWithParam<Engine> {};

TEST_P(OutputFaults, FullDiskIsAWriteErrorWithNothingLeftBehind) {
  testsupport::TempDir tmp;
  SmallDisk disk(tmp.path());
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here";
  expectCleanWriteFailure(
      GetParam(), tmp.path(), [] {}, [] {});
}

TEST_P(OutputFaults, FileSizeLimitIsAWriteErrorWithNothingLeftBehind) {
  // Writes past the limit fail with EFBIG (the signal that would end the process is ignored):
  // a disk that fills up after the first 64 KiB, on any file system.
  testsupport::TempDir tmp;
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  expectCleanWriteFailure(
      GetParam(), tmp.path(),
      [&] {
        rlimit small = saved;
        small.rlim_cur = 64 << 10;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
      },
      [&] { ::setrlimit(RLIMIT_FSIZE, &saved); });
  std::signal(SIGXFSZ, previous);
}

TEST_P(OutputFaults, MissingOutputFolderIsAWriteError) {
  testsupport::TempDir tmp;
  const Engine engine = GetParam();
  const Inputs in = inputsFor(engine);
  const auto damagedBefore = robust::fingerprint(in.damaged);
  const auto delegate = runJob(engine, in, tmp.file("gone/repaired") + (engine == Engine::Mov ? ".mov" : ".avi"));
  EXPECT_EQ(delegate.completed, 0);
  ASSERT_EQ(delegate.errors.size(), 1u);
  EXPECT_EQ(delegate.errors[0].code, qvr::kErrorCannotWrite);
  EXPECT_TRUE(robust::listDir(tmp.path()).empty());
  EXPECT_EQ(robust::fingerprint(in.damaged), damagedBefore);
}

TEST_P(OutputFaults, UnreadableInputsAreErrorsAndNoOutputAppears) {
  // Root reads files whatever their mode, so unreadable inputs are a folder with a movie's name
  // and a path that does not exist.
  testsupport::TempDir tmp;
  const Engine engine = GetParam();
  const std::string ext = engine == Engine::Mov ? ".mp4" : ".avi";
  ASSERT_EQ(::mkdir(tmp.file("folder" + ext).c_str(), 0755), 0);
  const Inputs good = inputsFor(engine);
  const auto referenceBefore = good.reference.empty() ? robust::Fingerprint{} : robust::fingerprint(good.reference);
  for (const std::string& bad : {tmp.file("folder" + ext), tmp.file("missing" + ext)}) {
    SCOPED_TRACE(bad);
    const std::string output = tmp.file("out" + ext);
    const auto delegate = runJob(engine, {bad, good.reference}, output);
    EXPECT_EQ(delegate.completed, 0);
    ASSERT_EQ(delegate.errors.size(), 1u);
    EXPECT_EQ(delegate.errors[0].code, engine == Engine::Mov ? 104 : RepairFileAvi::kErrorCannotRepair);
    EXPECT_NE(::access(output.c_str(), F_OK), 0) << "an output appeared";
  }
  if (engine == Engine::Mov) {
    // An unreadable reference is the reference's error, and the damaged file stays as it was.
    const auto damagedBefore = robust::fingerprint(good.damaged);
    const auto delegate = runJob(engine, {good.damaged, tmp.file("folder" + ext)}, tmp.file("out" + ext));
    ASSERT_EQ(delegate.errors.size(), 1u);
    EXPECT_EQ(delegate.errors[0].code, 105);
    EXPECT_EQ(robust::fingerprint(good.damaged), damagedBefore);
    EXPECT_NE(::access(tmp.file("out" + ext).c_str(), F_OK), 0);
  }
  if (!good.reference.empty()) {
    EXPECT_EQ(robust::fingerprint(good.reference), referenceBefore);
  }
}

INSTANTIATE_TEST_SUITE_P(BothEngines, OutputFaults, ::testing::Values(Engine::Mov, Engine::Avi),
                         [](const auto& info) { return info.param == Engine::Mov ? "Mov" : "Avi"; });

}  // namespace
