// Multi-gigabyte inputs made as sparse files: a movie whose recovered chunks lie past 4 GiB, and
// an AVI larger than the 2 GiB its engine searches. Both must finish with bounded memory.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "avi/RepairFileAvi.h"
#include "foundation/ByteOrder.h"
#include "foundation/FileSystem.h"
#include "repair/File.h"
#include "repair/RepairFile.h"
#include "robust/RobustSupport.h"
#include "support/TestSupport.h"

namespace {

constexpr uint64_t kGiB = uint64_t(1) << 30;
// Enough for the engines' read buffers and sample tables; far below the files' sizes.
constexpr double kPeakRssLimitMiB = 300;

#ifdef QVR_ROBUST_SANITIZED
#define SKIP_UNDER_SANITIZERS() GTEST_SKIP() << "multi-gigabyte run skipped under the sanitizers"
#else
#define SKIP_UNDER_SANITIZERS() (void)0
#endif

// Where `needle` first occurs in `hay` at or after `from`, or npos.
size_t find(const std::vector<uint8_t>& hay, const std::vector<uint8_t>& needle, size_t from = 0) {
  if (needle.empty() || hay.size() < needle.size()) return std::string::npos;
  auto it = std::search(hay.begin() + static_cast<std::ptrdiff_t>(from), hay.end(), needle.begin(), needle.end());
  return it == hay.end() ? std::string::npos : static_cast<size_t>(it - hay.begin());
}

TEST(LargeFile, MovieChunksPast4GiBGetExact64BitOffsets) {
  SKIP_UNDER_SANITIZERS();
  // H.264 + PCM: the 4 GiB hole inserted before a video chunk becomes part of the PCM chunk in
  // front of it, so every later chunk of the repaired movie lies past 4 GiB.
  const std::string dir = testsupport::fixturesDir() + "/h264_sowt_mov";
  const std::string source = dir + "/damaged.mov";
  const auto sourceBytes = testsupport::readFile(source);
  const auto originalChunks = robust::trackChunks(robust::movieBoxOf(dir + "/original.mov"));
  ASSERT_EQ(originalChunks.size(), 2u);
  const auto& videoIn = originalChunks[0].handler == "vide" ? originalChunks[0] : originalChunks[1];
  ASSERT_GT(videoIn.offsets.size(), 10u);
  const uint64_t at = videoIn.offsets[videoIn.offsets.size() / 2];
  const uint64_t hole = 4 * kGiB;

  testsupport::TempDir tmp;
  const std::string damaged = tmp.file("big.mov");
  const std::string output = tmp.file("repaired.mov");
  robust::writeWithHole(source, damaged, at, hole);

  robust::RecordingDelegate delegate;
  RepairFile job;
  job.delegate = &delegate;
  job.repairMOVWithRefFileAtPath(dir + "/reference.mov", damaged, output);
  ASSERT_TRUE(delegate.errors.empty()) << delegate.errors.front().toString();
  ASSERT_EQ(delegate.completed, 1);
  EXPECT_LT(robust::peakRssMiB(), kPeakRssLimitMiB);

  // A 64-bit media-data box spanning all samples, the movie box right after it.
  const auto head = robust::readRange(output, 0, 16);
  ASSERT_EQ(head.size(), 16u);
  EXPECT_EQ(qvr::readBE32(head.data()), 1u);
  EXPECT_EQ(std::memcmp(head.data() + 4, "mdat", 4), 0);
  const uint64_t M = qvr::readBE64(head.data() + 8);
  EXPECT_GT(M, hole);
  const auto moovHead = robust::readRange(output, M, 8);
  ASSERT_EQ(moovHead.size(), 8u);
  EXPECT_EQ(std::memcmp(moovHead.data() + 4, "moov", 4), 0);
  const uint64_t fileSize = qvr::fs::fileSize(output).value_or(0);
  EXPECT_EQ(fileSize, M + qvr::readBE32(moovHead.data()));

  const auto tracks = robust::trackChunks(robust::readRange(output, M, static_cast<size_t>(fileSize - M)));
  ASSERT_EQ(tracks.size(), 2u);
  for (const auto& track : tracks) EXPECT_TRUE(track.wide) << track.handler << " offsets must be co64";
  const auto& videoOut = tracks[0].handler == "vide" ? tracks[0] : tracks[1];
  ASSERT_FALSE(videoOut.offsets.empty());

  // Each video chunk of the output starts with the bytes of a chunk of the damaged file, in file
  // order, and the distance between two chunks is the distance in the damaged file (everything
  // between them is PCM that was copied along), hole included.
  size_t pastHole = 0;
  uint64_t previousOut = 0, previousIn = 0;
  for (size_t i = 0; i < videoOut.offsets.size(); ++i) {
    const uint64_t o = videoOut.offsets[i];
    ASSERT_LT(o + 32, M);
    const auto signature = robust::readRange(output, o, 32);
    const size_t found = find(sourceBytes, signature);
    ASSERT_NE(found, std::string::npos) << "chunk " << i << " at " << o << " holds bytes not from the damaged file";
    const uint64_t in = found < at ? found : found + hole;
    if (i > 0) {
      EXPECT_EQ(o - previousOut, in - previousIn) << "chunk " << i;
    }
    previousOut = o;
    previousIn = in;
    if (o > (uint64_t(1) << 32)) ++pastHole;
  }
  EXPECT_GT(pastHole, 10u);
}

TEST(LargeFile, AviOver2GiBIsSearchedInItsFirst2GiBOnly) {
  SKIP_UNDER_SANITIZERS();
  // A real AVI whose second half is pushed past 2 GiB by a hole: the repair keeps the chunks of
  // the first half, says that it searched the first 2 GiB only, and stays small in memory.
  const std::string source = testsupport::fixturesDir() + "/avi_mpeg4_pcm/damaged.avi";
  const auto sourceBytes = testsupport::readFile(source);
  const std::vector<uint8_t> id = {'0', '0', 'd', 'c'};
  const size_t at = find(sourceBytes, id, sourceBytes.size() / 2);
  ASSERT_NE(at, std::string::npos);

  testsupport::TempDir tmp;
  robust::writeWithHole(source, tmp.file("big.avi"), at, 2 * kGiB);
  robust::RecordingDelegate delegate;
  RepairFileAvi engine;
  engine.delegate = &delegate;
  ASSERT_TRUE(engine.fileValidityCheck(tmp.file("big.avi")));
  engine.retrieveAudioVideoSamplesForFileAtPath(tmp.file("big.avi"), tmp.file("repaired.avi"));
  ASSERT_TRUE(delegate.errors.empty()) << delegate.errors.front().toString();
  ASSERT_EQ(delegate.completed, 1);
  EXPECT_TRUE(engine.searchedFirst2GiBOnly());
  EXPECT_LT(robust::peakRssMiB(), kPeakRssLimitMiB);

  // Only chunks of the first half, all of them below the hole.
  ASSERT_GT(engine.videosamplecount, 5u);
  for (uint64_t i = 1; i <= engine.videosamplecount; ++i) EXPECT_LT(engine.videosampleoffsetarray[i], at);
  for (uint64_t i = 1; i <= engine.audiosamplecount; ++i) EXPECT_LT(engine.audiosampleoffsetarray[i], at);
  const uint64_t repairedSize = qvr::fs::fileSize(tmp.file("repaired.avi")).value_or(0);
  EXPECT_GT(repairedSize, 0u);
  EXPECT_LT(repairedSize, sourceBytes.size());

  if (testsupport::haveProgram("ffprobe")) {
    const auto probe = testsupport::runCommand(
        "ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 " +
        testsupport::shellQuote(tmp.file("repaired.avi")));
    ASSERT_EQ(probe.exitCode, 0) << probe.output;
    EXPECT_EQ(std::stoull(probe.output), engine.videosamplecount);
  }
}

}  // namespace

namespace {

TEST(LargeFile, BogusBoxSizesInAHugeReferenceDoNotMakeTheScanReadThemWhole) {
  SKIP_UNDER_SANITIZERS();
  // A damaged 4 GiB reference whose first boxes claim gigabytes: a user-data box, a metadata
  // box and a movie box that would each "fit" in the file. Reading any of them whole would take
  // gigabytes of memory; the scan must pass over them and still find the real movie box at the end.
  const std::string dir = testsupport::fixturesDir() + "/h264_aac_mp4";
  const auto moov = robust::movieBoxOf(dir + "/reference.mp4");
  ASSERT_FALSE(moov.empty());
  const uint64_t fileSize = 4 * kGiB;
  std::vector<uint8_t> head;
  const auto box = [&](const char* type, uint32_t size, const char* firstChild) {
    qvr::putBE32(head, size);
    head.insert(head.end(), type, type + 4);
    qvr::putBE32(head, 16);
    head.insert(head.end(), firstChild, firstChild + 4);
    head.resize(head.size() + 16, 0);
  };
  box("udta", 0xC0000000u, "free");
  box("meta", 0xB0000000u, "free");
  box("moov", 0xA0000000u, "mvhd");

  testsupport::TempDir tmp;
  const std::string path = tmp.file("reference.mp4");
  {
    testsupport::writeFile(path, head);
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(fileSize - moov.size())), 0);
    FILE* f = std::fopen(path.c_str(), "ab");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(moov.data(), 1, moov.size(), f), moov.size());
    std::fclose(f);
  }
  auto file = File::parseFileAtPath(path);
  ASSERT_TRUE(file);
  EXPECT_LT(robust::peakRssMiB(), kPeakRssLimitMiB);
  ASSERT_TRUE(file->moov) << "the real movie box at the end was not found";
  EXPECT_EQ(file->videoCodec, 1001u);
}

}  // namespace
