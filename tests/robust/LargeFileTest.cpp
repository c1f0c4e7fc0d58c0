// Multi-gigabyte inputs made as sparse files: a movie whose recovered chunks lie past 4 GiB, an
// AVI larger than the 2 GiB its engine searches, and a reference whose boxes claim gigabytes. All
// must be handled with bounded memory.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>

#include "avi/RepairFileAvi.h"
#include "foundation/ByteOrder.h"
#include "repair/File.h"
#include "robust/RobustSupport.h"
#include "support/Damage.h"
#include "support/Movies.h"
#include "support/Score.h"
#include "support/TestSupport.h"

namespace {

constexpr uint64_t kGiB = uint64_t(1) << 30;

#ifdef QVR_ROBUST_SANITIZED
#define SKIP_UNDER_SANITIZERS() GTEST_SKIP() << "multi-gigabyte run skipped under the sanitizers"
#else
#define SKIP_UNDER_SANITIZERS() (void)0
#endif

// Enough for the engines' read buffers and sample tables; far below the files' sizes.
void expectBoundedMemory() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  EXPECT_LT(double(usage.ru_maxrss) / 1024, 300) << "peak resident MiB";
}

// `path` becomes a sparse copy of `source` with `hole` zero bytes inserted at `at`.
void writeWithHole(const std::string& source, const std::string& path, uint64_t at, uint64_t hole) {
  const auto bytes = testsupport::readFile(source);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(at));
  out.seekp(std::streamoff(at + hole));
  out.write(reinterpret_cast<const char*>(bytes.data() + at), std::streamsize(bytes.size() - at));
  ASSERT_TRUE(out.good());
}

TEST(LargeFile, MovieChunksPast4GiBKeepTheirPlaces) {
  SKIP_UNDER_SANITIZERS();
  // H.264 + PCM: the 4 GiB hole inserted before a video chunk becomes part of the PCM chunk in
  // front of it, so every later chunk of the repaired movie lies past 4 GiB.
  testsupport::TempDir tmp;
  const auto made = testsupport::makeCase(testsupport::standardCase("h264_sowt_mov"), tmp.file("case"));
  auto all = testsupport::packets(made.original, "v:0");
  const size_t videoCount = all.size();
  const auto audio = testsupport::packets(made.original, "a:0");
  all.insert(all.end(), audio.begin(), audio.end());
  std::map<std::string, uint64_t> videoAt;
  for (size_t i = 0; i < videoCount; ++i) videoAt[all[i].md5] = all[i].pos;
  std::stable_sort(all.begin(), all.end(), [](auto& a, auto& b) { return a.pos < b.pos; });
  // The first video chunk after the middle of the file.
  uint64_t at = 0;
  for (size_t i = all.size() / 2; i < all.size() && at == 0; ++i)
    if (videoAt.count(all[i].md5) && !videoAt.count(all[i - 1].md5)) at = all[i].pos;
  ASSERT_GT(at, 0u);
  const uint64_t hole = 4 * kGiB;
  writeWithHole(made.damaged, tmp.file("big.mov"), at, hole);

  const auto outcome = robust::repair(tmp.file("big.mov"), made.reference, tmp.file("repaired.mov"));
  ASSERT_TRUE(outcome.errors.empty()) << outcome.errors.front().toString();
  ASSERT_EQ(outcome.completed, 1);
  expectBoundedMemory();

  // Each video sample of the repair is one of the recording's, at its place in the damaged file
  // (hole included) moved by one distance for all: the written offsets hold 64 bits exactly.
  const auto repaired = testsupport::packets(tmp.file("repaired.mov"), "v:0");
  ASSERT_GE(repaired.size() + 2, videoCount);
  size_t pastHole = 0;
  for (const auto& p : repaired) {
    ASSERT_TRUE(videoAt.count(p.md5)) << "a sample at " << p.pos << " is not the recording's";
    const uint64_t in = videoAt[p.md5] + (videoAt[p.md5] >= at ? hole : 0);
    EXPECT_EQ(p.pos - in, repaired[0].pos - videoAt[repaired[0].md5]) << "sample at " << p.pos;
    pastHole += p.pos > (uint64_t(1) << 32);
  }
  EXPECT_GT(pastHole, 10u);
}

TEST(LargeFile, AviIsSearchedInItsFirst2GiBOnly) {
  SKIP_UNDER_SANITIZERS();
  // A real AVI pushed apart by a hole so that a video chunk from its second half starts 16 bytes
  // before 2 GiB: that chunk is the last the search keeps, and the repair says it stopped there.
  testsupport::TempDir tmp;
  const auto made = testsupport::makeCase(testsupport::standardCase("avi_mpeg4_pcm"), tmp.file("case"));
  const auto bytes = testsupport::readFile(made.damaged);
  const std::string id = "00dc";
  const uint64_t at = uint64_t(std::search(bytes.begin() + long(bytes.size() / 2), bytes.end(), id.begin(), id.end()) -
                               bytes.begin()),
                 near = RepairFileAvi::kSearchLimit - 16;
  ASSERT_LT(at, bytes.size());
  writeWithHole(made.damaged, tmp.file("big.avi"), at, near - at);

  robust::Outcome outcome;
  RepairFileAvi engine;
  engine.delegate = &outcome;
  ASSERT_TRUE(engine.fileValidityCheck(tmp.file("big.avi")));
  engine.retrieveAudioVideoSamplesForFileAtPath(tmp.file("big.avi"), tmp.file("repaired.avi"));
  ASSERT_TRUE(outcome.errors.empty()) << outcome.errors.front().toString();
  ASSERT_EQ(outcome.completed, 1);
  EXPECT_TRUE(engine.searchedFirst2GiBOnly());
  expectBoundedMemory();
  ASSERT_GT(engine.videosamplecount, 5u);
  EXPECT_EQ(engine.videosampleoffsetarray.back(), near);
  for (const uint64_t offset : engine.audiosampleoffsetarray) EXPECT_LT(offset, near);
  const auto probe = testsupport::packets(tmp.file("repaired.avi"), "v:0");
  EXPECT_EQ(probe.size(), engine.videosamplecount);
}

TEST(LargeFile, BogusBoxSizesInAHugeReferenceDoNotMakeTheScanReadThemWhole) {
  SKIP_UNDER_SANITIZERS();
  // A damaged 4 GiB reference whose first boxes claim gigabytes: a user-data box, a metadata
  // box and a movie box that would each "fit" in the file. Reading any of them whole would take
  // gigabytes of memory; the scan must pass over them and still find the real movie box at the end.
  const auto reference = testsupport::readFile(testsupport::makeMovie(testsupport::recipe("h264_aac_mp4")).reference);
  const auto boxes = testsupport::topLevelBoxes(reference);
  const auto moov = std::find_if(boxes.begin(), boxes.end(), [](auto& b) { return b.type == "moov"; });
  ASSERT_NE(moov, boxes.end());
  std::vector<uint8_t> head;
  for (auto [type, size, child] :
       {std::tuple{"udta", 0xC0000000u, "free"}, {"meta", 0xB0000000u, "free"}, {"moov", 0xA0000000u, "mvhd"}}) {
    qvr::putBE32(head, size);
    head.insert(head.end(), type, type + 4);
    qvr::putBE32(head, 16);
    head.insert(head.end(), child, child + 4);
    head.resize(head.size() + 16, 0);
  }
  testsupport::TempDir tmp;
  const std::string path = tmp.file("reference.mp4");
  testsupport::writeFile(path, head);
  ASSERT_EQ(::truncate(path.c_str(), off_t(4 * kGiB - moov->size)), 0);
  std::ofstream(path, std::ios::binary | std::ios::app)
      .write(reinterpret_cast<const char*>(reference.data() + moov->offset), std::streamsize(moov->size));

  auto file = File::parseFileAtPath(path);
  ASSERT_TRUE(file);
  expectBoundedMemory();
  ASSERT_TRUE(file->moov) << "the real movie box at the end was not found";
  EXPECT_EQ(file->videoCodec, 1001u);
}

}  // namespace
