// Faults around a whole repair, for both engines: an output that cannot be written is the
// engine's write error and leaves no file, whole or partial, behind; an input that cannot be read
// is that input's error and no output appears. The inputs stay as they were either way. (The
// write handle's own reports, a full device among them, belong to the foundation tests.)

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>

#include "robust/RobustSupport.h"
#include "support/Damage.h"
#include "support/TestSupport.h"

namespace {

struct Engine {
  const char* name;
  const char* standardCase;
  const char* ext;
  int64_t unreadableDamaged;
};
void PrintTo(const Engine& engine, std::ostream* os) { *os << engine.name; }
const Engine kMov{"Mov", "h264_aac_mp4", ".mp4", 104},
    kAvi{"Avi", "avi_mpeg4_pcm", ".avi", RepairFileAvi::kErrorCannotRepair};

class Faults : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    made = testsupport::makeCase(testsupport::standardCase(GetParam().standardCase), tmp.path());
    damagedBytes = testsupport::readFile(made.damaged);
    referenceBytes = testsupport::readFile(made.reference);  // none for AVI
  }
  std::string output(const std::string& name) const { return tmp.file(name + GetParam().ext); }
  // The damaged file and the reference are byte for byte what the case made.
  void expectInputsUntouched() const {
    EXPECT_TRUE(testsupport::readFile(made.damaged) == damagedBytes) << "the damaged file changed";
    EXPECT_TRUE(testsupport::readFile(made.reference) == referenceBytes) << "the reference changed";
  }
  testsupport::TempDir tmp;
  testsupport::MadeCase made;
  std::vector<uint8_t> damagedBytes, referenceBytes;
};

TEST_P(Faults, OutputThatCannotBeWrittenIsAWriteErrorWithNothingLeftBehind) {
  std::filesystem::create_directory(tmp.file("out"));
  // A folder that is not there, and a disk that fills up after the first 64 KiB: past the file
  // size limit writes fail with EFBIG (the signal that would end the process is ignored).
  for (const bool sizeLimit : {false, true}) {
    SCOPED_TRACE(sizeLimit ? "size limit" : "missing folder");
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small{64 << 10, saved.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, sizeLimit ? &small : &saved), 0);
    const auto outcome =
        robust::repair(made.damaged, made.reference, sizeLimit ? output("out/repaired") : output("gone/repaired"));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(outcome.completed, 0);
    ASSERT_EQ(outcome.errors.size(), 1u);
    EXPECT_EQ(outcome.errors[0].domain, qvr::kRepairErrorDomain);
    EXPECT_EQ(outcome.errors[0].code, qvr::kErrorCannotWrite);
    EXPECT_EQ(outcome.errors[0].stringFor(qvr::kErrorReasonKey), qvr::kCannotWriteReason);
    EXPECT_TRUE(std::filesystem::is_empty(tmp.file("out"))) << "a partial or temporary file was left behind";
    EXPECT_FALSE(std::filesystem::exists(tmp.file("gone")));
    expectInputsUntouched();
  }
}

TEST_P(Faults, InputThatCannotBeReadIsItsErrorAndNoOutputAppears) {
  // Root reads files whatever their mode, so unreadable inputs are a folder with a movie's name
  // and a path that does not exist.
  const std::string folder = output("folder"), missing = output("missing");
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  struct Run {
    std::string damaged, reference;
    int64_t code;
  };
  std::vector<Run> runs = {{folder, made.reference, GetParam().unreadableDamaged},
                           {missing, made.reference, GetParam().unreadableDamaged}};
  if (!made.reference.empty()) runs.push_back({made.damaged, folder, 105});  // the reference's own error
  for (const Run& run : runs) {
    SCOPED_TRACE(run.damaged + " with " + run.reference);
    const auto outcome = robust::repair(run.damaged, run.reference, output("out"));
    EXPECT_EQ(outcome.completed, 0);
    ASSERT_EQ(outcome.errors.size(), 1u);
    EXPECT_EQ(outcome.errors[0].code, run.code);
    EXPECT_FALSE(std::filesystem::exists(output("out"))) << "an output appeared";
  }
  expectInputsUntouched();
}

INSTANTIATE_TEST_SUITE_P(BothEngines, Faults, ::testing::Values(kMov, kAvi),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
