// The rebuilt file's headers and indexes, and a job paused or stopped part way.

#include <gtest/gtest.h>

#include <future>
#include <thread>

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

// Where a job is interrupted, by the progress value that opens the step (10 each header window,
// 70 each search window, 80 the writing), and whether it is stopped there or paused and resumed.
class AviInterruption : public ::testing::TestWithParam<std::pair<int32_t, bool>> {};

// The job runs on a thread of its own and is told to pause or stop from its own progress report,
// as the application does. A stopped job reports nothing more and leaves no file; a paused one
// reports nothing until it is resumed and then writes what an uninterrupted job writes.
TEST_P(AviInterruption, StopLeavesNothingAndPauseResumesToTheSameFile) {
  const int32_t at = GetParam().first;
  const bool stop = GetParam().second;
  const Job plain(fileOverTwoWindows());
  const auto& dir = plain.dir;
  RecordingDelegate delegate;
  RepairFileAvi engine;
  engine.delegate = &delegate;
  ASSERT_TRUE(engine.fileValidityCheck(dir.file("damaged.avi")));
  std::promise<void> paused;
  std::atomic<bool> reportedWhileHeld{false}, finished{false};
  bool acted = false;
  delegate.onProgress = [&](int32_t p) {
    if (engine.pauseRepairingAVI || engine.stopflag) reportedWhileHeld = true;
    if (acted || p != at) return;
    acted = true;
    (stop ? engine.stopflag : engine.pauseRepairingAVI) = true;
    if (!stop) paused.set_value();
  };
  std::thread job([&] {
    engine.retrieveAudioVideoSamplesForFileAtPath(dir.file("damaged.avi"), dir.file("again.avi"));
    finished = true;
    if (!acted) paused.set_value();  // never waited for in vain
  });
  if (!stop) {
    paused.get_future().wait();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // time enough to go on, were it not paused
    EXPECT_FALSE(finished);
    engine.pauseRepairingAVI = false;
  }
  job.join();
  EXPECT_TRUE(acted);
  EXPECT_FALSE(reportedWhileHeld);
  EXPECT_TRUE(delegate.errors.empty()) << delegate.errors.front().toString();
  EXPECT_EQ(delegate.completions, stop ? 0 : 1);
  if (!stop) {
    EXPECT_EQ(testsupport::readFile(dir.file("again.avi")), plain.out);
  } else {
    EXPECT_EQ(plain.filesLeft(), 2u);  // the damaged file and the first repair: no output, no temporary
    // Stopped in a search, the job had not found every chunk; in the writing, it had.
    EXPECT_EQ(engine.videosamplecount < plain.engine.videosamplecount, at != 80);
  }
}

INSTANTIATE_TEST_SUITE_P(Midway, AviInterruption,
                         ::testing::Values(std::pair{10, true}, std::pair{70, true}, std::pair{80, true},
                                           std::pair{10, false}, std::pair{70, false}, std::pair{80, false}));
