// Validity check, header search and chunk search over small synthetic files.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "AviTestFiles.h"

using namespace avitest;

namespace {

bool validity(std::vector<uint8_t> bytes, size_t at, const char* token, bool* db = nullptr) {
  if (token) std::memcpy(&bytes[at], token, 4);
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("f.avi"), bytes);
  RepairFileAvi engine;
  engine.db = true;
  bool ok = engine.fileValidityCheck(dir.file("f.avi"));
  if (db) *db = engine.db;
  return ok;
}

void expectError107WithoutOutput(const Job& job) {
  ASSERT_EQ(job.delegate.errors.size(), 1u);
  const auto& e = job.delegate.errors[0];
  EXPECT_EQ(e.domain + " " + std::to_string(e.code) + " " + e.stringFor("Error reason"),
            "com.hollin.videorepair 107 Can not repair this file..");
  EXPECT_EQ(job.delegate.completions, 0);
  EXPECT_EQ(job.filesLeft(), 1u);
}

}  // namespace

TEST(AviValidity, TokensInTheFirstTenKiB) {
  const std::vector<uint8_t> zeros(20000, 0);
  bool db = true;
  EXPECT_TRUE(validity(zeros, 0, "RIFF", &db));
  EXPECT_FALSE(db);
  // Header area lost, but a raw-video chunk further on: still an AVI, and its frames are `00db`.
  EXPECT_TRUE(validity(zeros, 9000, "00db", &db));
  EXPECT_TRUE(db);
  EXPECT_FALSE(validity(zeros, 10240, "RIFF"));
  EXPECT_FALSE(validity(std::vector<uint8_t>(1023, 0), 0, "RIFF"));
}

TEST(AviHeaderSearch, RefusesSmallFilesAndMissingHeaders) {
  auto f = aviHead();
  chunk(f, "00dc", 5000, 1);
  chunk(f, "01wb", 4000, 2);
  chunk(f, "00dc", 5000, 3);
  auto small = f;
  padTo(small, 512 * 1024);  // intact, but not larger than 512 KiB
  expectError107WithoutOutput(Job(small));
  padTo(f);
  for (const char* header : {"vids", "auds", "avih", "MJPG"}) {  // MJPG: handler and format code zeroed
    SCOPED_TRACE(header);
    auto broken = f;
    for (auto at = broken.begin(); (at = std::search(at, broken.end(), header, header + 4)) != broken.end();) {
      std::memset(&*at, 0, 4);
    }
    expectError107WithoutOutput(Job(broken));
  }
  auto lone = aviHead();
  chunk(lone, "00dc", 100, 1);  // nothing recovered: alone before an index
  chunk(lone, "idx1", 16, 0);
  padTo(lone);
  expectError107WithoutOutput(Job(lone));
}

TEST(AviHeaderSearch, ImplausibleFormatSizeKeepsTheFormatFound) {
  // A later chance `vids` with a huge strf size must neither be allocated nor replace the real one.
  auto f = aviHead();
  chunk(f, "00dc", 100, 1);
  chunk(f, "00dc", 100, 2);
  std::vector<uint8_t> bogus(100, 0x11);
  std::memcpy(&bogus[0], "vidsABCD", 8);
  qvr::storeLE32(&bogus[60], 0xFFFFFFF0u);
  f.insert(f.end(), bogus.begin(), bogus.end());
  padTo(f);
  Job job(f);
  EXPECT_EQ(job.engine.videostrfsize, 40u);
  EXPECT_EQ(job.engine.videostrfdata.size(), 40u);
  expectSoundRepair(job.out, job.damaged, job.engine);
}

TEST(AviChunkSearch, FollowerRuleAndSizeLimit) {
  auto f = aviHead();
  std::vector<uint64_t> video{0}, audio{0};
  video.push_back(f.size());
  chunk(f, "00dc", 5000, 1);  // followed directly by 01wb
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
  EXPECT_EQ(job.engine.videosamplecount, 3u);
  EXPECT_FALSE(job.engine.chunkLimitReached());
  EXPECT_FALSE(job.engine.searchedFirst2GiBOnly());
}

TEST(AviChunkSearch, ChunksAcrossReadWindowsAndInTheLastKiB) {
  // 17 MiB of chunks across the engine's read windows; the file ends on a KiB boundary with
  // chunks to recover in its last KiB.
  auto f = aviHead();
  std::vector<uint64_t> offsets{0};
  for (uint8_t fill = 0; f.size() < (17u << 20); ++fill) {
    offsets.push_back(f.size());
    chunk(f, "00dc", 65521 + (fill % 7) * 333, fill);
  }
  offsets.pop_back();                                   // zeros follow it
  f.resize(f.size() + 1024 - (f.size() + 300) % 1024);  // 300 bytes left for the tail
  for (uint32_t size : {100, 100, 76}) {
    offsets.push_back(f.size());
    chunk(f, "00dc", size, 1);
  }
  offsets.pop_back();  // the file's last chunk
  ASSERT_EQ(f.size() % 1024, 0u);
  Job job(f);
  EXPECT_EQ(job.engine.videosampleoffsetarray, offsets);
}

TEST(AviJob, StoppedJobLeavesNothing) {
  auto f = aviHead();
  for (int i = 0; i < 20; ++i) chunk(f, i % 3 ? "00dc" : "01wb", 1000 + i, static_cast<uint8_t>(i));
  padTo(f);
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("d.avi"), f);
  RecordingDelegate delegate;
  RepairFileAvi engine;
  engine.delegate = &delegate;
  engine.stopflag = true;
  engine.retrieveAudioVideoSamplesForFileAtPath(dir.file("d.avi"), dir.file("o.avi"));
  EXPECT_EQ(delegate.completions, 0);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(AviJob, HostileBytesGiveASoundFileOrAnError) {
  // Ids with hostile sizes sprinkled over a valid file, some files cut inside a candidate: every
  // run either fails with 107 or writes a file whose sizes and indexes hold together.
  std::mt19937 random(7);
  auto base = aviHead();
  for (int i = 0; i < 40; ++i) chunk(base, i % 3 ? "00dc" : "01wb", 700 + i * 37, static_cast<uint8_t>(i));
  padTo(base);
  const char* tokens[] = {"00dc", "00db", "01wb", "vids", "auds", "avih", "JUNK"};
  const uint32_t sizes[] = {0, 1, 9999999, 10000000, 0xFFFFFFFFu, 40, 333};
  for (int round = 0; round < 24; ++round) {
    SCOPED_TRACE(round);
    auto f = base;
    for (int k = 0; k < 30; ++k) {
      const size_t at = random() % (round % 2 ? 4096 : f.size() - 8);
      std::memcpy(&f[at], tokens[random() % 7], 4);
      qvr::storeLE32(&f[at + 4], sizes[random() % 7]);
    }
    if (round % 3 == 0) f.resize(f.size() - random() % 6);
    if (round % 4 == 0) std::memcpy(&f[f.size() - 4], "00dc", 4);
    Job job(f);
    if (job.delegate.errors.empty()) {
      expectSoundRepair(job.out, job.damaged, job.engine);
    } else {
      expectError107WithoutOutput(job);
    }
  }
}

TEST(AviChunkSearch, OnlyTheFirst2GiBAreSearched) {
  // A sparse 3 GiB file: a chunk starting just below 2 GiB is found, those after it are not.
  auto head = aviHead();
  chunk(head, "00dc", 100, 1);
  chunk(head, "00dc", 100, 2);
  std::vector<uint8_t> tail;
  for (int i = 0; i < 4; ++i) chunk(tail, "01wb", 100, static_cast<uint8_t>(i));
  const uint64_t limit = uint64_t(1) << 31, near = limit - 16;
  testsupport::TempDir dir;
  {
    std::ofstream file(dir.file("big.avi"), std::ios::binary);
    file.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
    file.seekp(static_cast<std::streamoff>(near));
    file.write(reinterpret_cast<const char*>(tail.data()), static_cast<std::streamsize>(tail.size()));
    file.seekp(static_cast<std::streamoff>(3 * (limit / 2)) - 1);
    file.put(0);
    ASSERT_TRUE(file.good());
  }
  RecordingDelegate delegate;
  RepairFileAvi engine;
  engine.delegate = &delegate;
  engine.retrieveAudioVideoSamplesForFileAtPath(dir.file("big.avi"), dir.file("out.avi"));
  ASSERT_EQ(delegate.completions, 1);
  EXPECT_EQ(engine.audiosampleoffsetarray, (std::vector<uint64_t>{0, near}));
  EXPECT_EQ(engine.videosamplecount, 1u);
  EXPECT_TRUE(engine.searchedFirst2GiBOnly());
}

TEST(AviChunkSearch, TableLimitStopsRecordingOneKindOnly) {
  auto f = aviHead();
  const uint64_t videoChunks = RepairFileAvi::kMaxChunksPerKind + 5;
  f.reserve(videoChunks * 10 + 700000);
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
