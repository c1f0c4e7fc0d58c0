// Repairs of real damaged AVI files, the standard cases and camera files cut off inside their
// movi list, each held to what its damage left recoverable in the undamaged recording.

#include <gtest/gtest.h>

#include "AviTestFiles.h"
#include "support/Damage.h"
#include "support/Score.h"

using namespace avitest;

namespace {

// The rebuilt file holds together, decodes without a complaint, and carries every frame and
// sample the damage left, in order.
void repairAndJudge(const std::string& original, const std::vector<uint8_t>& damaged,
                    const std::vector<testsupport::Range>& destroyed) {
  Job job(damaged);
  ASSERT_TRUE(job.delegate.errors.empty()) << job.delegate.errors[0].toString();
  ASSERT_EQ(job.delegate.completions, 1);
  expectSoundRepair(job.out, job.damaged, job.engine);
  const std::string repaired = job.dir.file("repaired.avi");
  EXPECT_EQ(
      testsupport::runCommand("ffmpeg -nostdin -v error -i " + testsupport::shellQuote(repaired) + " -f null -").output,
      "");
  // A chunk is known by the chunk that follows it, so the last one before a cut goes with the cut.
  testsupport::expectReachesCeiling(original, repaired, destroyed, {.audioOutsideVideo = false});
}

}  // namespace

TEST(AviEndToEnd, StandardCases) {
  for (const char* name : {"avi_mpeg4_pcm", "avi_mjpeg_junk"}) {  // cut off at the end; junk in movi
    SCOPED_TRACE(name);
    testsupport::TempDir tmp;
    const auto made = testsupport::makeCase(testsupport::standardCase(name), tmp.path());
    repairAndJudge(made.original, testsupport::readFile(made.damaged), made.destroyed);
  }
}

TEST(AviEndToEnd, CameraFilesCutOffInMovi) {
  // The FFmpeg-made clip (MPEG-4 and MP3) is shorter than half a megabyte.
  for (const char* name :
       {"kodak_100_0306.avi", "nikon_coolpix_s3000.avi", "canon_MVI_4823_opendml.avi", "lavf_mpeg4asp_mp3.avi"}) {
    SCOPED_TRACE(name);
    if (auto why = testsupport::corpusMissing(name, "AVI repair"); !why.empty()) GTEST_SKIP() << why;
    const std::string original = testsupport::corpusDir() + "/" + name;
    auto bytes = testsupport::readFile(original);
    const uint64_t size = bytes.size();
    bytes.resize(size * 8 / 10);  // the Canon file's OpenDML indexes and idx1 go with the end
    repairAndJudge(original, bytes, {{bytes.size(), size}});
  }
}
