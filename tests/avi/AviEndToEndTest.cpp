// Repairs of real damaged AVI files (standard fixtures and camera files), judged by ffprobe,
// ffmpeg and score-repair against the undamaged recording.

#include <gtest/gtest.h>

#include <cstdio>

#include "AviTestFiles.h"

using namespace avitest;
using testsupport::runCommand;
using testsupport::shellQuote;

namespace {

// Video chunks of the original's movi list that the damage left whole together with the id after
// them, when that id is a data chunk: the search can confirm exactly these.
long intactVideoChunks(const std::vector<uint8_t>& original, const std::vector<uint8_t>& damaged) {
  size_t movi = 12;
  while (movi + 12 <= original.size() && id(original, movi) + id(original, movi + 8) != "LISTmovi") {
    movi += 8 + le32(original, movi + 4) + (le32(original, movi + 4) & 1);
  }
  const size_t end = std::min<size_t>(original.size(), movi + 8 + le32(original, movi + 4));
  long count = 0;
  for (size_t p = movi + 12, next; p + 8 <= end; p = id(original, p) == "LIST" ? p + 12 : next) {
    const uint32_t size = le32(original, p + 4);
    next = p + 8 + size + (size & 1);
    const std::string follower = id(original, next);
    const bool confirmable = follower == "00dc" || follower == "00db" || follower == "01wb" || follower == "JUNK";
    if ((id(original, p) == "00dc" || id(original, p) == "00db") && size > 0 && confirmable &&
        next + 4 <= std::min(end, damaged.size()) &&
        std::equal(original.begin() + p, original.begin() + next + 4, damaged.begin() + p)) {
      ++count;
    }
  }
  return count;
}

void repairAndJudge(const std::string& originalPath, const std::vector<uint8_t>& damaged) {
  if (!testsupport::haveProgram("ffmpeg") || !testsupport::haveProgram("ffprobe")) GTEST_SKIP() << "no ffmpeg";
  Job job(damaged);
  ASSERT_TRUE(job.delegate.errors.empty()) << job.delegate.errors[0].toString();
  ASSERT_EQ(job.delegate.completions, 1);
  expectSoundRepair(job.out, job.damaged, job.engine);

  const std::string out = shellQuote(job.dir.file("repaired.avi"));
  auto probe = runCommand("ffprobe -v error -select_streams v:0 -show_entries stream=codec_type -of csv=p=0 " + out);
  EXPECT_EQ(probe.output, "video\n");
  auto decode = runCommand("ffmpeg -nostdin -v error -i " + out + " -f null - 2>&1");
  EXPECT_EQ(decode.exitCode, 0);
  EXPECT_EQ(decode.output, "");

  auto score = runCommand("python3 " + shellQuote(testsupport::sharedDir() + "/tools/score-repair") + " " +
                          shellQuote(originalPath) + " " + out +
                          " --json 2>/dev/null | python3 -c \"import json,sys; v=json.load(sys.stdin)['video'];"
                          " print(v['lcs_frames'], v['foreign_frames'])\"");
  long recovered = -1, foreign = -1;
  ASSERT_EQ(std::sscanf(score.output.c_str(), "%ld %ld", &recovered, &foreign), 2) << score.output;
  const long intact = intactVideoChunks(testsupport::readFile(originalPath), damaged);
  ASSERT_GT(intact, 0);
  EXPECT_GE(recovered * 100, intact * 99) << recovered << " of " << intact << " intact frames";
  EXPECT_EQ(foreign, 0);
}

std::string fixture(const std::string& name, const std::string& file) {
  return testsupport::fixturesDir() + "/" + name + "/" + file;
}
std::string corpus(const std::string& name) { return testsupport::sharedDir() + "/corpus/" + name; }

}  // namespace

TEST(AviEndToEnd, StandardFixtures) {
  for (const char* name : {"avi_mpeg4_pcm", "avi_mjpeg_junk"}) {  // cut off at the end; junk in movi
    SCOPED_TRACE(name);
    repairAndJudge(fixture(name, "original.avi"), testsupport::readFile(fixture(name, "damaged.avi")));
  }
}

TEST(AviEndToEnd, CameraFilesTruncatedInMovi) {
  for (const char* name : {"kodak_100_0306.avi", "nikon_coolpix_s3000.avi", "canon_MVI_4823_opendml.avi"}) {
    SCOPED_TRACE(name);
    auto bytes = testsupport::readFile(corpus(name));
    bytes.resize(bytes.size() * 8 / 10);  // the Canon file's OpenDML indexes and idx1 go with the end
    repairAndJudge(corpus(name), bytes);
  }
}

TEST(AviEndToEnd, SmallRealFileIsRefused) {
  Job job(testsupport::readFile(corpus("lavf_mpeg4asp_mp3.avi")));  // 334 KB, under the minimum
  ASSERT_EQ(job.delegate.errors.size(), 1u);
  EXPECT_EQ(job.delegate.errors[0].code, 107);
  EXPECT_TRUE(job.out.empty());
}
