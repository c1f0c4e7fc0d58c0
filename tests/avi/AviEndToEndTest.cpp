// Repairs of real damaged AVI files (standard fixtures and camera files), judged by ffprobe,
// ffmpeg and score-repair against the undamaged recording.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "AviTestFiles.h"
#include "support/TestSupport.h"

using namespace avitest;
using testsupport::runCommand;
using testsupport::shellQuote;
using testsupport::TempDir;

namespace {

bool isDataChunk(const std::string& name) {
  return name == "00dc" || name == "00db" || name == "01wb" || name == "JUNK";
}

// Video chunks of the original's movi list that the damage left whole, together with the id of
// the chunk after them: the ones a repair must bring back. Chunks followed by anything but a
// data chunk (an index, a list, the end) are left out, as the search cannot confirm them.
size_t intactVideoChunks(const std::vector<uint8_t>& original, const std::vector<uint8_t>& damaged) {
  size_t movi = 12;
  while (movi + 12 <= original.size() && !(id(original, movi) == "LIST" && id(original, movi + 8) == "movi")) {
    movi += 8 + le32(original, movi + 4) + (le32(original, movi + 4) & 1);
  }
  if (movi + 12 > original.size()) return 0;
  const size_t end = std::min<size_t>(original.size(), movi + 8 + le32(original, movi + 4));
  size_t count = 0;
  for (size_t p = movi + 12; p + 8 <= end;) {
    const std::string name = id(original, p);
    const uint32_t size = le32(original, p + 4);
    const size_t next = p + 8 + size + (size & 1);
    if (next > end) break;
    if ((name == "00dc" || name == "00db") && size > 0 && next + 4 <= end && isDataChunk(id(original, next)) &&
        next + 4 <= damaged.size() &&
        std::equal(original.begin() + p, original.begin() + next + 4, damaged.begin() + p)) {
      ++count;
    }
    p = name == "LIST" ? p + 12 : next;  // rec lists hold chunks too
  }
  return count;
}

// Video frames of `repaired` that match the original in order, and those that match nothing.
std::pair<long, long> scoreVideo(const std::string& original, const std::string& repaired) {
  auto r = runCommand("python3 " + shellQuote(testsupport::sharedDir() + "/tools/score-repair") + " " +
                      shellQuote(original) + " " + shellQuote(repaired) +
                      " --json 2>/dev/null | python3 -c \"import json,sys; v=json.load(sys.stdin)['video'];"
                      " print(v['lcs_frames'], v['foreign_frames'])\"");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  long lcs = -1, foreign = -1;
  if (std::sscanf(r.output.c_str(), "%ld %ld", &lcs, &foreign) != 2) ADD_FAILURE() << "score-repair: " << r.output;
  return {lcs, foreign};
}

// Repairs `damagedPath` and checks the result against `originalPath`.
void repairAndJudge(const std::string& originalPath, const std::string& damagedPath) {
  if (!testsupport::haveProgram("ffmpeg") || !testsupport::haveProgram("ffprobe")) GTEST_SKIP() << "no ffmpeg";
  TempDir dir;
  const std::string out = dir.file("repaired.avi");
  RecordingDelegate delegate;
  RepairFileAvi engine;
  engine.delegate = &delegate;
  ASSERT_TRUE(engine.fileValidityCheck(damagedPath));
  engine.retrieveAudioVideoSamplesForFileAtPath(damagedPath, out);
  ASSERT_TRUE(delegate.errors.empty()) << delegate.errors[0].toString();
  ASSERT_EQ(delegate.completions, 1);

  auto probe =
      runCommand("ffprobe -v error -select_streams v:0 -show_entries stream=codec_type -of csv=p=0 " + shellQuote(out));
  EXPECT_EQ(probe.exitCode, 0);
  EXPECT_EQ(probe.output, "video\n");
  auto decode = runCommand("ffmpeg -nostdin -v error -i " + shellQuote(out) + " -f null - 2>&1");
  EXPECT_EQ(decode.exitCode, 0);
  EXPECT_EQ(decode.output, "");

  const auto repaired = testsupport::readFile(out);
  const auto damaged = testsupport::readFile(damagedPath);
  EXPECT_EQ(riffStructureFault(repaired), "");
  auto video = readStandardIndex(repaired, engine.ix00location - 8, "ix00", nullptr);
  EXPECT_EQ(video.size(), engine.videosamplecount);
  expectIndexedChunksMatch(repaired, damaged, video, engine.videosampleoffsetarray);
  auto audio = readStandardIndex(repaired, engine.ix01location, "ix01", nullptr);
  EXPECT_EQ(audio.size(), engine.audiosamplecount);
  expectIndexedChunksMatch(repaired, damaged, audio, engine.audiosampleoffsetarray);

  const size_t intact = intactVideoChunks(testsupport::readFile(originalPath), damaged);
  ASSERT_GT(intact, 0u);
  const auto [recovered, foreign] = scoreVideo(originalPath, out);
  EXPECT_GE(recovered * 100, static_cast<long>(intact) * 99) << recovered << " of " << intact << " intact frames";
  EXPECT_EQ(foreign, 0);
}

std::string fixture(const std::string& name, const std::string& file) {
  return testsupport::fixturesDir() + "/" + name + "/" + file;
}

std::string corpus(const std::string& name) { return testsupport::sharedDir() + "/corpus/" + name; }

std::string truncatedCopy(const TempDir& dir, const std::string& source, double keep) {
  auto bytes = testsupport::readFile(source);
  bytes.resize(static_cast<size_t>(bytes.size() * keep));
  const std::string path = dir.file(std::filesystem::path(source).filename().string());
  testsupport::writeFile(path, bytes);
  return path;
}

}  // namespace

TEST(AviEndToEnd, FixtureTruncatedMpeg4Pcm) {
  repairAndJudge(fixture("avi_mpeg4_pcm", "original.avi"), fixture("avi_mpeg4_pcm", "damaged.avi"));
}

TEST(AviEndToEnd, FixtureMjpegWithJunkInMovi) {
  repairAndJudge(fixture("avi_mjpeg_junk", "original.avi"), fixture("avi_mjpeg_junk", "damaged.avi"));
}

TEST(AviEndToEnd, CameraFilesTruncatedInMovi) {
  for (const char* name : {"kodak_100_0306.avi", "nikon_coolpix_s3000.avi", "canon_MVI_4823_opendml.avi"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    repairAndJudge(corpus(name), truncatedCopy(dir, corpus(name), 0.8));
  }
}

TEST(AviEndToEnd, CameraFileWithItsIndexesWiped) {
  // The OpenDML camera file with idx1 cut off, the super indexes emptied and the standard
  // indexes zeroed.
  TempDir dir;
  auto bytes = testsupport::readFile(corpus("canon_MVI_4823_opendml.avi"));
  for (const char* ix : {"indx", "ix00", "ix01"}) {
    const size_t keep = std::string(ix) == "indx" ? 8 : 0;
    for (auto it = bytes.begin(); (it = std::search(it, bytes.end(), ix, ix + 4)) != bytes.end(); it += 4) {
      const size_t at = static_cast<size_t>(it - bytes.begin());
      std::fill(it + keep, it + std::min<size_t>(8 + le32(bytes, at + 4), bytes.size() - at), 0);
    }
  }
  auto idx1 = std::search(bytes.begin(), bytes.end(), "idx1", "idx1" + 4);
  bytes.erase(idx1, bytes.end());
  testsupport::writeFile(dir.file("canon.avi"), bytes);
  repairAndJudge(corpus("canon_MVI_4823_opendml.avi"), dir.file("canon.avi"));
}

TEST(AviEndToEnd, SmallRealFileIsRefused) {
  // 334 KB: under the size a repair needs.
  TempDir dir;
  RecordingDelegate delegate;
  RepairFileAvi engine;
  engine.delegate = &delegate;
  ASSERT_TRUE(engine.fileValidityCheck(corpus("lavf_mpeg4asp_mp3.avi")));
  engine.retrieveAudioVideoSamplesForFileAtPath(corpus("lavf_mpeg4asp_mp3.avi"), dir.file("out.avi"));
  ASSERT_EQ(delegate.errors.size(), 1u);
  EXPECT_EQ(delegate.errors[0].code, 107);
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.avi")));
}
