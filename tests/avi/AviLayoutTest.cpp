// The rebuilt file: header offsets, super and standard indexes, chunk order, write failures.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "AviTestFiles.h"

using namespace avitest;

namespace {
uint64_t le64(const std::vector<uint8_t>& b, size_t at) { return qvr::readLE64(b.data() + at); }
}  // namespace

TEST(AviLayout, UsualFormatSizesTwoVideoChunksNoAudio) {
  auto f = aviHead(40, 18);
  chunk(f, "00dc", 1000, 1);
  chunk(f, "00dc", 500, 2);
  padTo(f);
  Job job(f);
  ASSERT_EQ(job.delegate.completions, 1);
  const auto& out = job.out;
  expectSoundRepair(out, job.damaged, job.engine);

  EXPECT_EQ(id(out, 418) + id(out, 426) + id(out, 430), "LISTmoviix00");
  EXPECT_EQ(le32(out, 16), 40u + 18u + 340u);  // hdrl
  EXPECT_EQ(le32(out, 48), 2u);                // dwTotalFrames
  EXPECT_EQ(le32(out, 140), 2u);               // video dwLength
  EXPECT_EQ(le32(out, 144), 0x00FFFFFFu);
  EXPECT_EQ(le32(out, 152), 7u);       // the header's dwStart, carried into dwSampleSize
  EXPECT_EQ(le32(out, 276 + 40), 0u);  // audio dwLength
  // Video super index: one 20-byte entry naming the ix00 chunk; the video id is always 00db.
  const size_t indx = 172 + 40;
  EXPECT_EQ(id(out, indx) + id(out, indx + 16), "indx00db");
  EXPECT_EQ(le32(out, indx + 4), 44u);
  EXPECT_EQ(le32(out, indx + 8), 4u);
  EXPECT_EQ(le32(out, indx + 12), 1u);
  EXPECT_EQ(le64(out, indx + 32), 430u);
  EXPECT_EQ(le32(out, indx + 40), 44u);
  EXPECT_EQ(le64(out, indx + 44), 2u);
  EXPECT_EQ(le64(out, 340 + 58), job.engine.ix01location);

  std::string chunkId;
  auto video = readStandardIndex(out, 430, "ix00", &chunkId);
  EXPECT_EQ(chunkId, "00dc");
  ASSERT_EQ(video.size(), 2u);
  const uint64_t base = job.engine.baseoffsetforvideo;
  EXPECT_EQ(video[0].dataOffset - base, 8u);
  EXPECT_EQ(video[1].dataOffset - base, 1016u);
  EXPECT_EQ(video[1].size, 500u);
  EXPECT_TRUE(readStandardIndex(out, job.engine.ix01location, "ix01", &chunkId).empty());
  EXPECT_EQ(chunkId, "01wb");
  EXPECT_EQ(job.engine.baseoffsetforaudio, base + 1516);
  EXPECT_EQ(job.engine.baseoffsetforaudio, out.size());

  std::vector<std::string> tasks;
  for (const auto& t : job.delegate.tasks)
    if (tasks.empty() || tasks.back() != t) tasks.push_back(t);
  EXPECT_EQ(tasks, (std::vector<std::string>{"Analyzing the file..", "Locating audio / video data forks..",
                                             "Repairing the file.."}));
  for (int32_t p : job.delegate.progress) EXPECT_TRUE(p == 10 || p == 50 || p == 70 || p == 80 || p == 100) << p;
  EXPECT_EQ(job.delegate.progress.back(), 100);
  EXPECT_EQ(job.delegate.attributes,
            (std::vector<std::pair<std::string, std::string>>{{"video", "MJPG"}, {"audio", ""}, {"track", "2"}}));
}

TEST(AviLayout, OddChunksAudioAndOtherHeaderSizes) {
  auto f = aviHead(44, 20, 60);  // codec extradata, extended WAVEFORMATEX, an odd avih size
  for (int i = 0; i < 6; ++i) {
    chunk(f, "00dc", 999 + i, static_cast<uint8_t>(i));  // every other one odd, padded in the source
    chunk(f, "01wb", 333 + i, static_cast<uint8_t>(100 + i));
  }
  padTo(f);
  Job job(f, /*db=*/true);
  ASSERT_EQ(job.delegate.completions, 1);
  const auto& out = job.out;
  expectSoundRepair(out, job.damaged, job.engine);
  EXPECT_EQ(le32(out, 28), 56u);  // the size the rebuilt main header has, whatever the source said
  EXPECT_EQ(le32(out, 32), 40000u);
  std::string chunkId;
  auto video = readStandardIndex(out, 372 + 64, "ix00", &chunkId);
  EXPECT_EQ(chunkId, "00db");
  auto audio = readStandardIndex(out, job.engine.ix01location, "ix01");
  ASSERT_EQ(video.size() + audio.size(), 12u);
  // Copies are unpadded: the second video chunk follows the first one's 999 bytes directly.
  EXPECT_EQ(video[1].dataOffset, video[0].dataOffset + 999 + 8);
  EXPECT_EQ(audio[0].dataOffset - 8, video[5].dataOffset + video[5].size);
}

TEST(AviWriteFailure, ReportedAsError106WithoutOutput) {
  auto f = aviHead();
  for (int i = 0; i < 200; ++i) chunk(f, i % 2 ? "01wb" : "00dc", 4000, static_cast<uint8_t>(i));
  padTo(f, 1200000);
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("damaged.avi"), f);
  for (const char* output : {"missing-folder/repaired.avi", "repaired.avi"}) {
    SCOPED_TRACE(output);
    RecordingDelegate delegate;
    RepairFileAvi engine;
    engine.delegate = &delegate;
    // The second time the disk fills up half-way: past the file size limit writes fail (EFBIG).
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small{300000, saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    engine.retrieveAudioVideoSamplesForFileAtPath(dir.file("damaged.avi"), dir.file(output));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_EQ(delegate.errors.size(), 1u);
    const auto& e = delegate.errors[0];
    EXPECT_EQ(e.domain + " " + std::to_string(e.code) + " " + e.stringFor("Error reason"),
              "com.hollin.videorepair 106 Can not write the repaired file");
    EXPECT_EQ(delegate.completions, 0);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);  // no output, no temporary
  }
  EXPECT_EQ(testsupport::readFile(dir.file("damaged.avi")), f);
}
