// Validity check, header search and chunk search over small synthetic files.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <thread>

#include "AviTestFiles.h"
#include "support/TestSupport.h"

using namespace avitest;
using testsupport::TempDir;

namespace {

struct Job {
  RecordingDelegate delegate;
  RepairFileAvi engine;
  std::string output;
  bool outputExists = false;
};

// Runs validity check and job on `bytes`; the output lands in `dir`.
void repair(Job& run, const TempDir& dir, const std::vector<uint8_t>& bytes) {
  testsupport::writeFile(dir.file("damaged.avi"), bytes);
  run.output = dir.file("repaired.avi");
  run.engine.delegate = &run.delegate;
  run.engine.fileValidityCheck(dir.file("damaged.avi"));
  run.engine.retrieveAudioVideoSamplesForFileAtPath(dir.file("damaged.avi"), run.output);
  run.outputExists = std::filesystem::exists(run.output);
}

bool validity(const std::vector<uint8_t>& bytes, bool* db = nullptr) {
  TempDir dir;
  testsupport::writeFile(dir.file("f.avi"), bytes);
  RepairFileAvi engine;
  bool ok = engine.fileValidityCheck(dir.file("f.avi"));
  if (db) *db = engine.db;
  return ok;
}

void expectError107(const Job& run) {
  ASSERT_EQ(run.delegate.errors.size(), 1u);
  EXPECT_EQ(run.delegate.errors[0].domain, "com.hollin.videorepair");
  EXPECT_EQ(run.delegate.errors[0].code, 107);
  EXPECT_EQ(run.delegate.errors[0].stringFor("Error reason"), "Can not repair this file..");
  EXPECT_EQ(run.delegate.completions, 0);
  EXPECT_FALSE(run.outputExists);
}

}  // namespace

TEST(AviValidity, TokensInTheFirstTenKiB) {
  auto riff = aviHead();
  riff.resize(2048, 0);
  bool db = true;
  EXPECT_TRUE(validity(riff, &db));
  EXPECT_FALSE(db);

  // Header area lost, a raw-video chunk further on: still an AVI, and its frames are `00db`.
  std::vector<uint8_t> zeroed(20000, 0);
  std::memcpy(&zeroed[9000], "00db", 4);
  std::memcpy(&zeroed[9500], "00dc", 4);
  EXPECT_TRUE(validity(zeroed, &db));
  EXPECT_TRUE(db);

  std::vector<uint8_t> late(20000, 0);
  std::memcpy(&late[10240], "RIFF", 4);  // past the first 10 KiB
  EXPECT_FALSE(validity(late));

  std::vector<uint8_t> tiny(1000, 0);
  std::memcpy(tiny.data(), "RIFF", 4);
  EXPECT_FALSE(validity(tiny));
  EXPECT_FALSE(validity(std::vector<uint8_t>(4096, 0x55)));
}

TEST(AviHeaderSearch, RefusesSmallFilesAndMissingHeaders) {
  // Intact headers and chunks, but 400 KiB: not larger than the 512 KiB minimum.
  {
    TempDir dir;
    auto f = aviHead();
    chunk(f, "00dc", 5000, 1);
    chunk(f, "01wb", 4000, 2);
    chunk(f, "00dc", 5000, 3);
    padTo(f, 400 * 1024);
    Job run;
    repair(run, dir, f);
    expectError107(run);
  }
  // No video stream header.
  {
    TempDir dir;
    auto f = aviHead();
    auto at = std::search(f.begin(), f.end(), "vids", "vids" + 4);
    std::memcpy(&*at, "xxxx", 4);
    chunk(f, "00dc", 5000, 1);
    chunk(f, "00dc", 5000, 3);
    padTo(f);
    Job run;
    repair(run, dir, f);
    expectError107(run);
  }
  // A video handler of zeros counts as no video codec.
  {
    TempDir dir;
    auto f = aviHead();
    auto at = std::search(f.begin(), f.end(), "MJPG", "MJPG" + 4);
    std::memset(&*at, 0, 4);
    chunk(f, "00dc", 5000, 1);
    chunk(f, "00dc", 5000, 3);
    padTo(f);
    Job run;
    repair(run, dir, f);
    expectError107(run);
  }
}

TEST(AviHeaderSearch, ReadsHeaderFieldsAndReportsThem) {
  TempDir dir;
  auto f = aviHead();
  chunk(f, "00dc", 100, 1);
  chunk(f, "00dc", 100, 2);
  padTo(f);
  Job run;
  repair(run, dir, f);
  ASSERT_TRUE(run.delegate.errors.empty());
  const auto& e = run.engine;
  EXPECT_EQ(e.videostrfsize, 40u);
  EXPECT_EQ(e.audiostrfsize, 18u);
  ASSERT_EQ(e.videostrfdata.size(), 40u);
  EXPECT_EQ(e.videostrfdata[0], 1);
  EXPECT_EQ(std::string(e.videostrfcodecdata.begin(), e.videostrfcodecdata.end()), "MJPG");
  EXPECT_EQ(RepairFileAvi::fourByteRead(e.videoscaleratedata.data()), 1u);
  EXPECT_EQ(RepairFileAvi::fourByteRead(e.videoscaleratedata.data() + 4), 25u);
  EXPECT_EQ(RepairFileAvi::fourByteRead(e.audioscaledata.data()), 7u);  // dwStart
  EXPECT_EQ(RepairFileAvi::fourByteRead(e.avihdata1.data() + 4), 40000u);
  EXPECT_EQ(RepairFileAvi::fourByteRead(e.avihdata2.data() + 4), 2u);  // dwStreams
  const std::vector<std::pair<std::string, std::string>> expected = {{"video", "MJPG"}, {"audio", ""}, {"track", "2"}};
  EXPECT_EQ(run.delegate.attributes, expected);
}

TEST(AviHeaderSearch, ImplausibleFormatSizeKeepsTheFormatFound) {
  // A later chance `vids` with a huge strf size must neither allocate it nor replace the real one.
  TempDir dir;
  auto f = aviHead();
  chunk(f, "00dc", 100, 1);
  chunk(f, "00dc", 100, 2);
  std::vector<uint8_t> bogus(100, 0x11);
  std::memcpy(&bogus[0], "vids", 4);
  std::memcpy(&bogus[4], "ABCD", 4);
  qvr::storeLE32(&bogus[60], 0xFFFFFFF0u);
  f.insert(f.end(), bogus.begin(), bogus.end());
  padTo(f);
  Job run;
  repair(run, dir, f);
  ASSERT_TRUE(run.delegate.errors.empty());
  EXPECT_EQ(run.engine.videostrfsize, 40u);
  EXPECT_EQ(run.engine.videostrfdata.size(), 40u);
  EXPECT_TRUE(run.outputExists);
}

TEST(AviChunkSearch, FollowerRule) {
  TempDir dir;
  auto f = aviHead();
  const size_t a = f.size();
  chunk(f, "00dc", 5000, 1);  // followed directly by 01wb
  const size_t b = f.size();
  chunk(f, "01wb", 4001, 2);  // odd: one pad byte, then 00dc
  const size_t c = f.size();
  chunk(f, "00dc", 3000, 3);  // followed by a JUNK filler
  const size_t d = f.size();
  chunk(f, "JUNK", 64, 0);
  const size_t e = f.size();
  chunk(f, "00db", 2000, 4);  // two bytes of padding before the next id
  f.push_back(0);
  f.push_back(0);
  chunk(f, "00dc", 2500, 6);  // before the index: no follower, not recovered
  chunk(f, "idx1", 32, 0);
  padTo(f);
  Job run;
  repair(run, dir, f);
  ASSERT_TRUE(run.delegate.errors.empty());
  const auto& en = run.engine;
  ASSERT_EQ(en.videosamplecount, 3u);
  EXPECT_EQ(en.videosampleoffsetarray, (std::vector<uint64_t>{0, a, c, e}));
  EXPECT_EQ(en.videosamplesizearray, (std::vector<uint64_t>{0, 5000, 3000, 2000}));
  ASSERT_EQ(en.audiosamplecount, 1u);
  EXPECT_EQ(en.audiosampleoffsetarray, (std::vector<uint64_t>{0, b}));
  EXPECT_EQ(en.audiosamplesizearray, (std::vector<uint64_t>{0, 4001}));
  (void)d;
  EXPECT_FALSE(en.chunkLimitReached());
  EXPECT_FALSE(en.searchedFirst2GiBOnly());
}

TEST(AviChunkSearch, SizeLimit) {
  TempDir dir;
  auto f = aviHead();
  const size_t largest = f.size();
  chunk(f, "01wb", 9999999, 1);
  const size_t tooLarge = f.size();
  chunk(f, "01wb", 10000000, 2);
  chunk(f, "00dc", 10, 3);
  chunk(f, "00dc", 10, 4);
  Job run;
  repair(run, dir, f);
  EXPECT_EQ(run.engine.audiosampleoffsetarray, (std::vector<uint64_t>{0, largest}));
  EXPECT_EQ(run.engine.videosamplecount, 1u);
  (void)tooLarge;
}

TEST(AviChunkSearch, ChanceMatchesInsideDataAreIgnored) {
  TempDir dir;
  auto f = aviHead();
  const size_t first = f.size();
  chunk(f, "00dc", 6000, 1);
  // `00dc` and `01wb` letters inside the data with plausible sizes whose follower position
  // holds nothing but data.
  std::memcpy(&f[first + 8 + 100], "00dc", 4);
  qvr::storeLE32(&f[first + 8 + 104], 1000);
  std::memcpy(&f[first + 8 + 3000], "01wb", 4);
  qvr::storeLE32(&f[first + 8 + 3004], 9999999);  // follower past the end of the file
  const size_t second = f.size();
  chunk(f, "00dc", 6000, 2);
  const size_t audio = f.size();
  chunk(f, "01wb", 10, 3);
  padTo(f);
  Job run;
  repair(run, dir, f);
  EXPECT_EQ(run.engine.videosampleoffsetarray, (std::vector<uint64_t>{0, first, second}));
  EXPECT_EQ(run.engine.audiosampleoffsetarray, (std::vector<uint64_t>{0, audio}));
}

TEST(AviChunkSearch, ChunksAcrossSearchWindowsAndInTheLastKiB) {
  // Chunks straddle the engine's internal window boundaries (multiples of 8 MiB minus 16) and
  // the file ends on a KiB boundary with accepted chunks in its last KiB.
  TempDir dir;
  auto f = aviHead();
  std::vector<uint64_t> offsets{0};
  uint8_t fill = 0;
  while (f.size() < (17u << 20)) {
    offsets.push_back(f.size());
    chunk(f, "00dc", 65521 + (fill % 7) * 333, fill);
    ++fill;
  }
  f.resize(f.size() + (1024 - (f.size() + 300) % 1024), 0);  // leaves 300 bytes for the tail
  offsets.push_back(f.size());
  chunk(f, "00dc", 100, 1);
  offsets.push_back(f.size());
  chunk(f, "00dc", 100, 2);
  chunk(f, "00dc", 76, 3);  // the file's last chunk: nothing follows it
  ASSERT_EQ(f.size() % 1024, 0u);
  Job run;
  repair(run, dir, f);
  ASSERT_TRUE(run.delegate.errors.empty());
  // The chunk before the padding zeros has no follower either.
  offsets.erase(offsets.end() - 3);
  EXPECT_EQ(run.engine.videosampleoffsetarray, offsets);
  EXPECT_EQ(run.engine.videosamplecount, offsets.size() - 1);
}

TEST(AviChunkSearch, NothingRecoveredIsAnErrorWithoutOutput) {
  TempDir dir;
  auto f = aviHead();
  chunk(f, "00dc", 100, 1);  // alone before the index
  chunk(f, "idx1", 16, 0);
  padTo(f);
  Job run;
  repair(run, dir, f);
  expectError107(run);
}

TEST(AviJob, StopAndPause) {
  auto f = aviHead();
  for (int i = 0; i < 20; ++i) chunk(f, i % 3 ? "00dc" : "01wb", 1000 + i, static_cast<uint8_t>(i));
  padTo(f);
  {
    // Stopped before the headers were found: the job ends as unrepairable and leaves no file.
    TempDir dir;
    Job run;
    run.engine.stopflag = true;
    repair(run, dir, f);
    EXPECT_EQ(run.delegate.completions, 0);
    EXPECT_EQ(run.delegate.errors.size(), 1u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);  // the damaged file
  }
  {
    // Paused, then resumed: the job waits and then completes.
    TempDir dir;
    Job run;
    run.engine.pauseRepairingAVI = true;
    std::thread job([&] { repair(run, dir, f); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(run.delegate.completions, 0);
    run.engine.pauseRepairingAVI = false;
    job.join();
    EXPECT_EQ(run.delegate.completions, 1);
    EXPECT_TRUE(run.outputExists);
  }
}

TEST(AviJob, HostileBytesGiveASoundFileOrAnError) {
  // Tokens with random sizes sprinkled over a valid file, and files cut right inside a candidate:
  // every run either fails with 107 or writes a file whose sizes and indexes hold together.
  std::mt19937 random(7);
  auto base = aviHead();
  for (int i = 0; i < 40; ++i) chunk(base, i % 3 ? "00dc" : "01wb", 700 + i * 37, static_cast<uint8_t>(i));
  padTo(base);
  const char* tokens[] = {"00dc", "00db", "01wb", "vids", "auds", "avih", "JUNK"};
  for (int round = 0; round < 24; ++round) {
    SCOPED_TRACE(round);
    auto f = base;
    for (int k = 0; k < 30; ++k) {
      const size_t at = random() % (round % 2 ? 4096 : f.size() - 8);
      std::memcpy(&f[at], tokens[random() % 7], 4);
      const uint32_t sizes[] = {0, 1, 9999999, 10000000, 0xFFFFFFFFu, static_cast<uint32_t>(random() % 5000)};
      qvr::storeLE32(&f[at + 4], sizes[random() % 6]);
    }
    if (round % 3 == 0) f.resize(f.size() - random() % 6);  // end inside a size or follower
    if (round % 4 == 0) std::memcpy(&f[f.size() - 4], "00dc", 4);
    TempDir dir;
    Job run;
    repair(run, dir, f);
    if (!run.delegate.errors.empty()) {
      EXPECT_EQ(run.delegate.errors[0].code, 107);
      EXPECT_FALSE(run.outputExists);
      continue;
    }
    ASSERT_EQ(run.delegate.completions, 1);
    const auto out = testsupport::readFile(run.output);
    EXPECT_EQ(riffStructureFault(out), "");
    auto video = readStandardIndex(out, run.engine.ix00location - 8, "ix00", nullptr);
    expectIndexedChunksMatch(out, f, video, run.engine.videosampleoffsetarray);
    auto audio = readStandardIndex(out, run.engine.ix01location, "ix01", nullptr);
    expectIndexedChunksMatch(out, f, audio, run.engine.audiosampleoffsetarray);
  }
}
