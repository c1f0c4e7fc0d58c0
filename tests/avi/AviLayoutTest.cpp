// The rebuilt file's headers and indexes, and a stopped job.

#include <gtest/gtest.h>

#include "AviTestFiles.h"

using namespace avitest;

TEST(AviLayout, HeadersAndIndexesForUsualAndOtherFormatSizes) {
  const struct {
    uint32_t videoStrf, audioStrf, avihSize, audioChunks;
    bool db;
  } cases[] = {
      {40, 18, 56, 0, false},  // the usual sizes, video alone
      {44, 20, 60, 6, true},   // codec extradata, an extended WAVEFORMATEX, an odd main header size
  };
  for (const auto& c : cases) {
    auto f = aviHead(c.videoStrf, c.audioStrf, c.avihSize);
    for (int i = 0; i < 6; ++i) {
      chunk(f, "00dc", 999 + i, static_cast<uint8_t>(i));  // every other one odd, padded in the source
      if (i < int(c.audioChunks)) chunk(f, "01wb", 333 + i, static_cast<uint8_t>(100 + i));
    }
    padTo(f);
    Job job(f, c.db);
    ASSERT_EQ(job.delegate.completions, 1);
    const auto& out = job.out;
    expectSoundRepair(out, job.damaged, job.engine);
    // The main header has the size the rebuilt layout gives it, whatever the source said; the
    // values come from the source's headers (its dwStart becomes the video's dwSampleSize).
    EXPECT_EQ(le32(out, 28), 56u);
    EXPECT_EQ(le32(out, 32), 40000u);
    EXPECT_EQ(le32(out, 152), 7u);
    EXPECT_EQ(id(out, job.engine.ix00location + 8), c.db ? "00db" : "00dc");  // the index's chunk id
    // Header attributes (the audio handler is no text), then the frame rate (rate over scale) and the
    // duration; the audio format when there is audio.
    std::vector<std::pair<std::string, std::string>> attributes = {
        {"video", "MJPG"}, {"audio", ""}, {"track", "2"}, {"fps", "25.00"}, {"duration", "0:0:0"}};
    if (c.audioChunks) attributes.emplace_back("audio format", "Unknown");
    EXPECT_EQ(job.delegate.attributes, attributes);
  }
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
