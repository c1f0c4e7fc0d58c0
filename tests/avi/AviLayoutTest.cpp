// The rebuilt file: header offsets, super and standard indexes, chunk order, write failures.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "AviTestFiles.h"
#include "support/TestSupport.h"

using namespace avitest;
using testsupport::TempDir;

namespace {

struct Repaired {
  RecordingDelegate delegate;
  RepairFileAvi engine;
  std::vector<uint8_t> damaged;
  std::vector<uint8_t> out;
};

void repair(Repaired& r, const TempDir& dir, bool db = false, const std::string& outName = "repaired.avi") {
  testsupport::writeFile(dir.file("damaged.avi"), r.damaged);
  r.engine.delegate = &r.delegate;
  ASSERT_TRUE(r.engine.fileValidityCheck(dir.file("damaged.avi")));
  r.engine.db = db;
  r.engine.retrieveAudioVideoSamplesForFileAtPath(dir.file("damaged.avi"), dir.file(outName));
  if (std::filesystem::exists(dir.file(outName))) r.out = testsupport::readFile(dir.file(outName));
}

void expectChunksMatchSource(const Repaired& r, const std::vector<IndexedChunk>& index,
                             const std::vector<uint64_t>& sourceOffsets) {
  expectIndexedChunksMatch(r.out, r.damaged, index, sourceOffsets);
}

}  // namespace

TEST(AviLayout, UsualFormatSizesTwoVideoChunksNoAudio) {
  TempDir dir;
  Repaired r;
  r.damaged = aviHead(40, 18);
  chunk(r.damaged, "00dc", 1000, 1);
  chunk(r.damaged, "00dc", 500, 2);
  padTo(r.damaged);
  repair(r, dir);
  ASSERT_TRUE(r.delegate.errors.empty());
  ASSERT_EQ(r.delegate.completions, 1);
  const auto& out = r.out;
  EXPECT_EQ(riffStructureFault(out), "");

  EXPECT_EQ(id(out, 418), "LIST");
  EXPECT_EQ(id(out, 426), "movi");
  EXPECT_EQ(id(out, 430), "ix00");
  EXPECT_EQ(le32(out, 16), 40u + 18u + 340u);  // hdrl size
  EXPECT_EQ(le32(out, 48), 2u);                // dwTotalFrames
  EXPECT_EQ(le32(out, 140), 2u);               // video dwLength
  EXPECT_EQ(le32(out, 144), 0x00FFFFFFu);
  EXPECT_EQ(le32(out, 152), 7u);       // the header's dwStart, carried into dwSampleSize
  EXPECT_EQ(le32(out, 276 + 40), 0u);  // audio dwLength

  // Video super index: one entry naming the ix00 chunk.
  const size_t indx = 172 + 40;
  EXPECT_EQ(id(out, indx), "indx");
  EXPECT_EQ(le32(out, indx + 4), 44u);
  EXPECT_EQ(le32(out, indx + 8), 4u);
  EXPECT_EQ(le32(out, indx + 12), 1u);
  EXPECT_EQ(id(out, indx + 16), "00db");
  EXPECT_EQ(qvr::readLE64(out.data() + indx + 32), 430u);
  EXPECT_EQ(le32(out, indx + 40), 44u);
  EXPECT_EQ(qvr::readLE64(out.data() + indx + 44), 2u);
  // Audio super index names ix01.
  EXPECT_EQ(qvr::readLE64(out.data() + 340 + 58), r.engine.ix01location);
  EXPECT_EQ(id(out, r.engine.ix01location), "ix01");

  std::string chunkId;
  auto video = readStandardIndex(out, 430, "ix00", &chunkId);
  EXPECT_EQ(chunkId, "00dc");
  EXPECT_EQ(r.engine.ix00size, 40u);
  const uint64_t base = r.engine.baseoffsetforvideo;
  ASSERT_EQ(video.size(), 2u);
  EXPECT_EQ(video[0].dataOffset - base, 8u);
  EXPECT_EQ(video[0].size, 1000u);
  EXPECT_EQ(video[1].dataOffset - base, 1016u);
  EXPECT_EQ(video[1].size, 500u);
  expectChunksMatchSource(r, video, r.engine.videosampleoffsetarray);

  auto audio = readStandardIndex(out, r.engine.ix01location, "ix01", &chunkId);
  EXPECT_EQ(chunkId, "01wb");
  EXPECT_TRUE(audio.empty());
  EXPECT_EQ(r.engine.baseoffsetforaudio, base + 1516);
  EXPECT_EQ(r.engine.baseoffsetforaudio, out.size());
}

TEST(AviLayout, OddChunksAudioAndOtherFormatSizes) {
  TempDir dir;
  Repaired r;
  r.damaged = aviHead(44, 20, 60);  // extradata, cbSize-extended audio, an unusual avih size
  for (int i = 0; i < 6; ++i) {
    chunk(r.damaged, "00dc", 999 + i, static_cast<uint8_t>(i));  // every other one odd, padded in the source
    chunk(r.damaged, "01wb", 333 + i, static_cast<uint8_t>(100 + i));
  }
  padTo(r.damaged);
  repair(r, dir, /*db=*/true);
  ASSERT_EQ(r.delegate.completions, 1);
  const auto& out = r.out;
  EXPECT_EQ(riffStructureFault(out), "");
  // The avih chunk keeps the size the rebuilt layout gives it.
  EXPECT_EQ(le32(out, 28), 56u);
  EXPECT_EQ(le32(out, 32), 40000u);
  EXPECT_EQ(id(out, 360 + 44 + 20), "LIST");

  std::string chunkId;
  auto video = readStandardIndex(out, 372 + 64, "ix00", &chunkId);
  EXPECT_EQ(chunkId, "00db");
  expectChunksMatchSource(r, video, r.engine.videosampleoffsetarray);
  auto audio = readStandardIndex(out, r.engine.ix01location, "ix01", &chunkId);
  EXPECT_EQ(chunkId, "01wb");
  ASSERT_EQ(audio.size(), 6u);  // the last one is followed by the JUNK filler
  expectChunksMatchSource(r, audio, r.engine.audiosampleoffsetarray);
  // Unpadded copies: the second video chunk starts right after the first one's 999 bytes.
  EXPECT_EQ(video[1].dataOffset, video[0].dataOffset + 999 + 8);
  EXPECT_EQ(audio.front().dataOffset - 8, video.back().dataOffset + video.back().size);
  EXPECT_EQ(audio.back().dataOffset + audio.back().size, out.size());
}

TEST(AviJobReports, MessagesOfASuccessfulJob) {
  TempDir dir;
  Repaired r;
  r.damaged = aviHead();
  chunk(r.damaged, "00dc", 100, 1);
  chunk(r.damaged, "01wb", 100, 2);
  padTo(r.damaged);
  repair(r, dir);
  ASSERT_EQ(r.delegate.completions, 1);
  std::vector<std::string> distinct;
  for (const auto& t : r.delegate.tasks)
    if (distinct.empty() || distinct.back() != t) distinct.push_back(t);
  EXPECT_EQ(distinct, (std::vector<std::string>{"Analyzing the file..", "Locating audio / video data forks..",
                                                "Repairing the file.."}));
  for (int32_t p : r.delegate.progress) EXPECT_TRUE(p == 10 || p == 50 || p == 70 || p == 80 || p == 100) << p;
  EXPECT_EQ(r.delegate.progress.back(), 100);
}

TEST(AviWriteFailure, ReportedAsError106WithoutOutput) {
  Repaired base;
  base.damaged = aviHead();
  for (int i = 0; i < 200; ++i) chunk(base.damaged, i % 2 ? "01wb" : "00dc", 4000, static_cast<uint8_t>(i));
  padTo(base.damaged, 1200000);

  auto expect106 = [](const Repaired& r) {
    ASSERT_EQ(r.delegate.errors.size(), 1u);
    EXPECT_EQ(r.delegate.errors[0].code, 106);
    EXPECT_EQ(r.delegate.errors[0].domain, "com.hollin.videorepair");
    EXPECT_EQ(r.delegate.errors[0].stringFor("Error reason"), "Can not write the repaired file");
    EXPECT_EQ(r.delegate.completions, 0);
  };
  {
    TempDir dir;
    Repaired r;
    r.damaged = base.damaged;
    repair(r, dir, false, "missing-folder/repaired.avi");
    expect106(r);
  }
  {
    // The disk fills up half-way: the file size limit makes writes fail with EFBIG.
    TempDir dir;
    Repaired r;
    r.damaged = base.damaged;
    testsupport::writeFile(dir.file("damaged.avi"), r.damaged);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 300000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    r.engine.delegate = &r.delegate;
    r.engine.retrieveAudioVideoSamplesForFileAtPath(dir.file("damaged.avi"), dir.file("repaired.avi"));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    expect106(r);
    // Neither the output nor its temporary remains; the damaged file is untouched.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    EXPECT_EQ(testsupport::readFile(dir.file("damaged.avi")), r.damaged);
  }
}
