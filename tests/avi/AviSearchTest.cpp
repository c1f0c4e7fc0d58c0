// Validity check, header search and chunk search over small synthetic files.

#include <gtest/gtest.h>

#include "AviTestFiles.h"

using namespace avitest;

TEST(AviValidity, TokensInTheFirstTenKiB) {
  const struct {
    size_t size, at;
    const char* token;
    bool valid, db;
  } cases[] = {
      {20000, 0, "RIFF", true, false},
      {20000, 9000, "00db", true, true},  // headers lost, but a raw-video chunk further on: its frames are 00db
      {20000, 10240, "RIFF", false, false},
      {20000, 1020, "RIFF", true, false},   // the last four bytes of a 1 KiB block still count
      {20000, 1022, "RIFF", false, false},  // across two blocks it does not
      {1023, 0, "RIFF", false, false},
  };
  testsupport::TempDir dir;
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes(c.size, 0);
    std::memcpy(&bytes[c.at], c.token, 4);
    testsupport::writeFile(dir.file("f.avi"), bytes);
    RepairFileAvi engine;
    engine.db = !c.db;
    EXPECT_EQ(engine.fileValidityCheck(dir.file("f.avi")), c.valid) << c.at;
    EXPECT_EQ(engine.db, c.db) << c.at;
  }
}

TEST(AviHeaderSearch, RefusesMissingHeadersButNotSmallFiles) {
  auto f = aviHead();
  chunk(f, "00dc", 5000, 1);
  chunk(f, "01wb", 4000, 2);
  chunk(f, "00dc", 5000, 3);
  {
    // A short clip is as repairable as a long one.
    Job small(f);
    EXPECT_TRUE(small.delegate.errors.empty());
    EXPECT_EQ(small.delegate.completions, 1);
  }
  std::vector<std::vector<uint8_t>> refused;
  padTo(f);
  for (const char* header : {"vids", "auds", "avih", "MJPG"}) {  // MJPG: handler and format code zeroed
    auto broken = f;
    for (auto at = broken.begin(); (at = std::search(at, broken.end(), header, header + 4)) != broken.end();)
      std::memset(&*at, 0, 4);
    refused.push_back(broken);
  }
  refused.push_back(aviHead());
  chunk(refused.back(), "00dc", 100, 1);  // nothing recovered: alone before an index
  chunk(refused.back(), "idx1", 16, 0);
  padTo(refused.back());
  for (const auto& bytes : refused) {
    Job job(bytes);
    ASSERT_EQ(job.delegate.errors.size(), 1u);
    EXPECT_EQ(job.delegate.errors[0].code, RepairFileAvi::kErrorCannotRepair);
    EXPECT_EQ(job.delegate.completions, 0);
    EXPECT_EQ(job.filesLeft(), 1u);
  }
}

TEST(AviChunkSearch, FollowerRuleAndSizeLimit) {
  auto f = aviHead();
  std::vector<uint64_t> video{0}, audio{0};
  video.push_back(f.size());
  chunk(f, "00dc", 5000, 1);  // followed directly by 01wb
  // Chance stream header letters in its data, whose huge format size must neither be allocated nor
  // replace the format found.
  std::memcpy(&f[video[1] + 100], "vidsABCD", 8);
  qvr::storeLE32(&f[video[1] + 160], 0xFFFFFFF0u);
  const size_t inside = f.size() + 8 + 100;
  audio.push_back(f.size());
  chunk(f, "01wb", 4001, 2);           // odd: one pad byte, then 00dc
  std::memcpy(&f[inside], "00dc", 4);  // chance letters in the data, plausible size, no follower
  qvr::storeLE32(&f[inside + 4], 1000);
  video.push_back(f.size());
  chunk(f, "00db", 2000, 3);  // two bytes of padding before the next id
  f.insert(f.end(), {0, 0});
  audio.push_back(f.size());
  chunk(f, "01wb", 9999999, 4);   // the largest size taken
  chunk(f, "01wb", 10000000, 5);  // too large, even with a follower
  video.push_back(f.size());
  chunk(f, "00dc", 3000, 6);  // followed by a filler
  chunk(f, "JUNK", 64, 0);
  chunk(f, "00dc", 2500, 7);  // before the index: no follower
  chunk(f, "idx1", 32, 0);
  Job job(f);
  EXPECT_EQ(job.engine.videosampleoffsetarray, video);
  EXPECT_EQ(job.engine.audiosampleoffsetarray, audio);
  EXPECT_EQ(job.engine.videosamplesizearray, (std::vector<uint64_t>{0, 5000, 2000, 3000}));
  EXPECT_FALSE(job.engine.chunkLimitReached());
  EXPECT_FALSE(job.engine.searchedFirst2GiBOnly());
  EXPECT_EQ(job.engine.videostrfdata.size(), 40u);
  expectSoundRepair(job.out, job.damaged, job.engine);
}

TEST(AviChunkSearch, ChunksAcrossReadWindowsAndInTheLastKiB) {
  std::vector<uint64_t> offsets;
  Job job(fileOverTwoWindows(&offsets));
  EXPECT_EQ(job.engine.videosampleoffsetarray, offsets);
}

TEST(AviChunkSearch, TableLimitStopsRecordingOneKindOnly) {
  auto f = aviHead();
  const uint64_t videoChunks = RepairFileAvi::kMaxChunksPerKind + 5;
  for (uint64_t i = 0; i < videoChunks; ++i) chunk(f, "00dc", 1, 'a');
  const uint64_t audio = f.size();
  chunk(f, "01wb", 100, 1);
  padTo(f, f.size() + 100000);
  Job job(f);
  EXPECT_EQ(job.engine.videosamplecount, RepairFileAvi::kMaxChunksPerKind);
  EXPECT_TRUE(job.engine.chunkLimitReached());
  EXPECT_EQ(job.engine.audiosampleoffsetarray, (std::vector<uint64_t>{0, audio}));
  expectSoundRepair(job.out, job.damaged, job.engine);
}
