#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

#include "bitstream/NALU.h"
#include "foundation/ByteOrder.h"
#include "foundation/FileSystem.h"
#include "repair/RepairFile.h"
#include "support/TestSupport.h"

using testsupport::runCommand;
using testsupport::shellQuote;
using testsupport::TempDir;

namespace {

// Movies made once for the whole suite with the encoder settings a camera would keep fixed.
class Movies {
 public:
  // Kept in the build tree between runs (each test runs in a process of its own); made in a
  // scratch folder and moved into place so parallel runs never see half a movie.
  Movies() : dir_(testsupport::binaryDir() + "/test-movies/repair") {
    std::filesystem::create_directories(dir_);
    const std::string common = " -v error -y -threads 1 -f lavfi -i testsrc2=size=160x96:rate=25 ";
    const std::string x264 = " -c:v libx264 -threads 1 -bf 2 -g 12 -pix_fmt yuv420p ";
    make(common + "-f lavfi -i sine=frequency=440:sample_rate=48000 -t 1" + x264 + "-c:a aac -ac 2", "ref.mp4");
    make(common + "-f lavfi -i anoisesrc=seed=3:color=pink:sample_rate=48000 -t 2" + x264 + "-c:a aac -ac 2",
         "rec.mp4");
    make(common + "-t 1 -c:v mpeg4", "mpeg4.mp4");
    make(common + "-f lavfi -i sine=frequency=440:sample_rate=48000 -t 2" + x264 + "-c:a pcm_s16le -ac 2", "sowt.mov");
    make(common + "-f lavfi -i sine=frequency=440:sample_rate=48000 -t 2" + x264 + "-c:a pcm_s16be -ac 2", "twos.mov");
    cutBeforeMoov("rec.mp4", "damaged.mp4");
    cutBeforeMoov("sowt.mov", "damaged_sowt.mov");
    cutBeforeMoov("twos.mov", "damaged_twos.mov");
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // Offset of the top-level moov box.
  static uint64_t moovOffset(const std::vector<uint8_t>& bytes) {
    uint64_t at = 0;
    while (at + 16 <= bytes.size()) {
      uint64_t size = qvr::readBE32(&bytes[at]);
      if (size == 1) size = qvr::readBE64(&bytes[at + 8]);
      if (std::memcmp(&bytes[at + 4], "moov", 4) == 0) return at;
      if (size < 8) break;
      at += size;
    }
    return 0;
  }

 private:
  void make(const std::string& args, const std::string& name) {
    if (std::filesystem::exists(path(name))) return;
    auto r = runCommand("ffmpeg" + args + " " + shellQuote(scratch_.file(name)));
    if (r.exitCode != 0) ADD_FAILURE() << r.output;
    std::filesystem::rename(scratch_.file(name), path(name));
  }
  void cutBeforeMoov(const std::string& from, const std::string& to) {
    if (std::filesystem::exists(path(to))) return;
    auto bytes = testsupport::readFile(path(from));
    bytes.resize(moovOffset(bytes));
    testsupport::writeFile(scratch_.file(to), bytes);
    std::filesystem::rename(scratch_.file(to), path(to));
  }
  std::string dir_;
  TempDir scratch_;
};

Movies* movies = nullptr;

class RepairJob : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!movies) movies = new Movies();
  }
};

// Every report in arrival order, plus hooks to act from inside the job.
class Recorder : public RepairFileDelegate {
 public:
  void repairFileDidStartPerformingTask(const std::string& task) override { events.push_back("task " + task); }
  void repairFileCurrentTaskProgress(int32_t p) override {
    progress.push_back(p);
    if (onProgress) onProgress(p);
  }
  void repairFileAttribute(const std::string& k, const std::string& v) override {
    events.push_back("attr " + k + "=" + v);
  }
  void repairFileDidComplete() override { events.push_back("complete"); }
  void repairFileDidFailWithError(const qvr::Error& e) override {
    events.push_back("error " + std::to_string(e.code) + " " + e.stringFor(qvr::kErrorReasonKey));
    EXPECT_EQ(e.domain, "com.hollin.videorepair");
  }
  void moveBackToSelectReferenceFile() override { events.push_back("reference"); }
  std::vector<std::string> outcomes() const {
    std::vector<std::string> out;
    for (const auto& e : events) {
      if (e.rfind("task", 0) != 0 && e.rfind("attr", 0) != 0) out.push_back(e);
    }
    return out;
  }
  std::vector<std::string> events;
  std::vector<int32_t> progress;
  std::function<void(int32_t)> onProgress;
};

std::vector<std::string> run(RepairFile& engine, Recorder& rec, const std::string& ref, const std::string& damaged,
                             const std::string& out) {
  engine.delegate = &rec;
  engine.repairMOVWithRefFileAtPath(ref, damaged, out);
  return rec.outcomes();
}

}  // namespace

TEST_F(RepairJob, InputChecksReportTheReferenceFirstAndCreateNothing) {
  TempDir tmp;
  const std::string out = tmp.file("out.mp4");
  {
    RepairFile e;
    Recorder r;
    EXPECT_EQ(run(e, r, tmp.file("no-ref.mp4"), tmp.file("no-damaged.mp4"), out),
              std::vector<std::string>{"error 105 Healthy File Does not Exist or Unreadbale"});
    EXPECT_TRUE(e.stopflag);
  }
  {
    RepairFile e;
    Recorder r;
    EXPECT_EQ(run(e, r, movies->path("ref.mp4"), tmp.file("no-damaged.mp4"), out),
              std::vector<std::string>{"error 104 Corrupt File Does not Exist or Unreadbale"});
  }
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
}

TEST_F(RepairJob, ReferenceWithoutMovieHeaderIsAnErrorUnlessItIsTheDamagedFileItself) {
  TempDir tmp;
  const std::string out = tmp.file("out.mp4");
  {
    RepairFile e;
    Recorder r;
    EXPECT_EQ(run(e, r, movies->path("damaged.mp4"), movies->path("rec.mp4"), out),
              std::vector<std::string>{"error 102 Invalid Healthy File"});
  }
  {
    RepairFile e;
    Recorder r;
    EXPECT_EQ(run(e, r, movies->path("damaged.mp4"), movies->path("damaged.mp4"), out),
              std::vector<std::string>{"reference"});
    EXPECT_EQ(r.events.front(), "task Analyzing video file...");
  }
  {
    // Video that is neither H.264 nor H.265 cannot guide the scan.
    RepairFile e;
    Recorder r;
    EXPECT_EQ(run(e, r, movies->path("mpeg4.mp4"), movies->path("damaged.mp4"), out),
              std::vector<std::string>{"reference"});
  }
  EXPECT_FALSE(qvr::fs::fileExists(out));
}

TEST_F(RepairJob, BytesWithoutAnyRunOfUnitsGiveNoSampleFound) {
  TempDir tmp;
  std::vector<uint8_t> noise(300000);
  uint32_t x = 12345;
  for (auto& b : noise) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  testsupport::writeFile(tmp.file("noise.mp4"), noise);
  RepairFile e;
  Recorder r;
  EXPECT_EQ(run(e, r, movies->path("ref.mp4"), tmp.file("noise.mp4"), tmp.file("out.mp4")),
            std::vector<std::string>{"error 101 No Sample Found"});
  EXPECT_FALSE(qvr::fs::fileExists(tmp.file("out.mp4")));
}

TEST_F(RepairJob, CompleteRepairReportsPhasesAttributesAndWritesMdatThenMoov) {
  TempDir tmp;
  const std::string out = tmp.file("out.mp4");
  const auto damagedBefore = testsupport::readFile(movies->path("damaged.mp4"));
  RepairFile e;
  Recorder r;
  EXPECT_EQ(run(e, r, movies->path("ref.mp4"), movies->path("damaged.mp4"), out), std::vector<std::string>{"complete"});
  std::vector<std::string> expected = {"task Analyzing video file...",
                                       "task Locating audio / video data forks..",
                                       "task Writing audio / video data forks..",
                                       "attr video=AVC1",
                                       "attr fps=25.00",
                                       "attr track=2",
                                       "attr duration=0:0:2",
                                       "complete"};
  EXPECT_EQ(r.events, expected);
  // Progress is sent on change only, so no value repeats within a phase.
  for (size_t i = 1; i < r.progress.size(); ++i) EXPECT_NE(r.progress[i], r.progress[i - 1]);

  auto bytes = testsupport::readFile(out);
  ASSERT_GT(bytes.size(), 16u);
  EXPECT_EQ(qvr::readBE32(&bytes[0]), 1u);
  EXPECT_EQ(std::memcmp(&bytes[4], "mdat", 4), 0);
  const uint64_t mdatSize = qvr::readBE64(&bytes[8]);
  EXPECT_EQ(Movies::moovOffset(bytes), mdatSize);
  EXPECT_EQ(mdatSize, e.fileSize1);
  EXPECT_EQ(e.videoRequest->stcoEntries.front(), 16u);
  EXPECT_EQ(e.videoSampleCountWritten(), 50u);
  EXPECT_EQ(e.videoRequest->stszEntries.size(), 50u);
  // Every sample's bytes, in chunk order, fill the media data exactly.
  uint64_t total = 16;
  for (const auto& chunk : e.sampleArray)
    for (const auto& s : chunk) total += s->sampleSize;
  EXPECT_EQ(total, mdatSize);
  EXPECT_EQ(testsupport::readFile(movies->path("damaged.mp4")), damagedBefore);
  // No temporary file is left next to the output.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.path()), {}), 1);
}

TEST_F(RepairJob, UnwritableOutputIsReportedAsWriteErrorNotCompletion) {
  TempDir tmp;
  RepairFile e;
  Recorder r;
  EXPECT_EQ(run(e, r, movies->path("ref.mp4"), movies->path("damaged.mp4"), tmp.file("missing/dir/out.mp4")),
            std::vector<std::string>{"error 106 Can not write the repaired file"});
}

TEST_F(RepairJob, WriteFailureMidwayLeavesNoOutputAndNoCompletion) {
  // A file-size limit makes the writes fail part way (the signal it raises is ignored).
  TempDir tmp;
  const std::string out = tmp.file("out.mp4");
  auto r = runCommand("trap '' XFSZ; ulimit -f 64; " + shellQuote(testsupport::executablePath()) + " repair " +
                      shellQuote(movies->path("damaged.mp4")) + " --reference " + shellQuote(movies->path("ref.mp4")) +
                      " --output " + shellQuote(out));
  if (!std::filesystem::exists(testsupport::executablePath())) GTEST_SKIP() << "no executable in this build";
  EXPECT_EQ(r.exitCode, 1) << r.output;
  EXPECT_NE(r.output.find("106"), std::string::npos) << r.output;
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
}

TEST_F(RepairJob, StopDuringTheScanEndsSilentlyWithoutOutput) {
  TempDir tmp;
  RepairFile e;
  Recorder r;
  bool inScan = false;
  r.onProgress = [&](int32_t p) {
    inScan = r.events.back() == "task Locating audio / video data forks..";
    if (inScan && p >= 30) e.stopflag = true;
  };
  EXPECT_TRUE(run(e, r, movies->path("ref.mp4"), movies->path("damaged.mp4"), tmp.file("out.mp4")).empty());
  EXPECT_TRUE(inScan);
  EXPECT_FALSE(e.videoRequest);
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
}

TEST_F(RepairJob, StopDuringTheWritingIsNoCompletionAndLeavesNoFile) {
  TempDir tmp;
  RepairFile e;
  Recorder r;
  r.onProgress = [&](int32_t p) {
    if (r.events.back() == "task Writing audio / video data forks.." && p >= 50) e.stopflag = true;
  };
  EXPECT_TRUE(run(e, r, movies->path("ref.mp4"), movies->path("damaged.mp4"), tmp.file("out.mp4")).empty());
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
}

TEST_F(RepairJob, PauseAndResumeDuringTheScanFindsExactlyTheSameSamples) {
  TempDir tmp;
  RepairFile plain;
  Recorder r1;
  run(plain, r1, movies->path("ref.mp4"), movies->path("damaged.mp4"), tmp.file("a.mp4"));

  RepairFile paused;
  Recorder r2;
  std::thread resumer;
  r2.onProgress = [&](int32_t p) {
    if (p == 40 && !resumer.joinable() && r2.events.back() == "task Locating audio / video data forks..") {
      paused.pauseRepairing = true;
      resumer = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        paused.pauseRepairing = false;
      });
    }
  };
  auto start = std::chrono::steady_clock::now();
  run(paused, r2, movies->path("ref.mp4"), movies->path("damaged.mp4"), tmp.file("b.mp4"));
  resumer.join();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(testsupport::readFile(tmp.file("a.mp4")), testsupport::readFile(tmp.file("b.mp4")));
}

TEST_F(RepairJob, LastSampleCutByTheEndOfTheFileIsPaddedSoTablesAndDataAgree) {
  TempDir tmp;
  auto bytes = testsupport::readFile(movies->path("damaged.mp4"));
  RepairFile whole;
  Recorder r0;
  run(whole, r0, movies->path("ref.mp4"), movies->path("damaged.mp4"), tmp.file("whole.mp4"));
  // Cut inside the last video sample.
  const auto& last = *whole.videoSampleArray.back();
  bytes.resize(last.sampleOffset + last.sampleSize / 2);
  testsupport::writeFile(tmp.file("cut.mp4"), bytes);

  RepairFile e;
  Recorder r;
  ASSERT_EQ(run(e, r, movies->path("ref.mp4"), tmp.file("cut.mp4"), tmp.file("out.mp4")),
            std::vector<std::string>{"complete"});
  const auto& tail = *e.videoSampleArray.back();
  EXPECT_EQ(tail.sampleOffset, last.sampleOffset);
  EXPECT_EQ(tail.sampleSize, last.sampleSize);
  auto out = testsupport::readFile(tmp.file("out.mp4"));
  const uint64_t mdatSize = qvr::readBE64(&out[8]);
  EXPECT_EQ(Movies::moovOffset(out), mdatSize);
  // The missing half reads as zeros just before the movie box.
  EXPECT_EQ(out[mdatSize - 1], 0);
  EXPECT_EQ(e.videoRequest->stcoEntries.back() + e.videoRequest->stszEntries.back(), mdatSize);
}

TEST_F(RepairJob, PcmChunksCountTheirOwnFramesInBothByteOrders) {
  for (const char* name : {"damaged_sowt.mov", "damaged_twos.mov"}) {
    SCOPED_TRACE(name);
    TempDir tmp;
    RepairFile e;
    Recorder r;
    const std::string ref = std::string(name) == "damaged_sowt.mov" ? "sowt.mov" : "twos.mov";
    ASSERT_EQ(run(e, r, movies->path(ref), movies->path(name), tmp.file("out.mov")),
              std::vector<std::string>{"complete"});
    ASSERT_FALSE(e.audioSampleArray.empty());
    const auto& stsc = e.audioRequest->stscEntries;
    ASSERT_FALSE(stsc.empty());
    EXPECT_EQ(stsc.front().firstChunk, 1u);
    EXPECT_EQ(e.audioRequest->stcoEntries.size(), e.audioSampleArray.size());
    // Walk the runs: every chunk's frame count is its bytes over 4 (16-bit stereo).
    size_t run = 0;
    for (size_t chunk = 1; chunk <= e.audioSampleArray.size(); ++chunk) {
      if (run + 1 < stsc.size() && stsc[run + 1].firstChunk == chunk) ++run;
      EXPECT_EQ(uint64_t(stsc[run].samplesPerChunk), e.audioSampleArray[chunk - 1]->sampleSize / 4);
    }
    auto probe = runCommand("ffprobe -v error -select_streams a -show_entries stream=duration -of csv=p=0 " +
                            shellQuote(tmp.file("out.mov")));
    double seconds = std::atof(probe.output.c_str());
    EXPECT_NEAR(seconds, 2.0, 0.15) << probe.output;
  }
}

TEST(PcmChunks, GapShorterThanTheFurtherTracksHoldsNoAudio) {
  EXPECT_EQ(RepairFile::pcmChunkFrames(96000, 8000, 4), 22000u);
  EXPECT_EQ(RepairFile::pcmChunkFrames(96000, 0, 2), 48000u);
  EXPECT_EQ(RepairFile::pcmChunkFrames(8000, 8000, 4), 0u);
  EXPECT_EQ(RepairFile::pcmChunkFrames(5000, 8000, 4), 0u);
  EXPECT_EQ(RepairFile::pcmChunkFrames(3, 0, 4), 0u);
}

namespace {
std::shared_ptr<Sample> videoSample(uint32_t type, uint64_t offset, uint64_t size) {
  auto n = std::make_shared<NALU>();
  n->NALType = type;
  n->NRI = type == 6 || type == 9 ? 0 : 2;
  n->nalSize = static_cast<uint32_t>(size);
  auto s = Sample::initWithSampleType(kSampleTypeH264, offset, size, n);
  if (type == 1 || type == 5) s->firstSlice = n;
  return s;
}
}  // namespace

TEST_F(RepairJob, NonPictureUnitsFoldIntoPicturesWithoutCrossingChunks) {
  TempDir tmp;
  RepairFile e;
  Recorder r;
  e.delegate = &r;
  e.healthyFile = File::parseFileAtPath(movies->path("ref.mp4"));
  e.videoRequest = std::make_unique<AtomCreationRequest>();
  e.audioRequest = std::make_unique<AtomCreationRequest>();
  e.videoRequest->requestType = AtomCreationRequest::kVideoRequest;
  e.audioRequest->requestType = AtomCreationRequest::kAudioRequest;
  e.videoRequest->stscEntries = {SampleToChunkEntery::initWithFirstChunk(1, 3, 1),
                                 SampleToChunkEntery::initWithFirstChunk(2, 1, 1)};
  e.audioRequest->stscEntries = {SampleToChunkEntery::initWithFirstChunk(1, 1, 1)};
  // SPS, PPS, IDR, SEI, P | one AAC frame | SEI, P, SEI (bytes taken from any file)
  e.sampleArray = {{videoSample(7, 0, 20), videoSample(8, 20, 8), videoSample(5, 28, 500), videoSample(6, 528, 30),
                    videoSample(1, 558, 200), videoSample(6, 758, 40)},
                   {Sample::initWithSampleType(kSampleTypeAAC, 798, 100, nullptr)},
                   {videoSample(6, 898, 10), videoSample(1, 908, 300), videoSample(6, 1208, 12)}};
  ASSERT_TRUE(e.writeSampleAtPath(tmp.file("out.mp4"), movies->path("damaged.mp4")));
  // Within a chunk a picture takes the units before it; the units closing a chunk join the
  // picture before them instead of the next chunk's first picture.
  EXPECT_EQ(e.videoRequest->stszEntries, (std::vector<uint32_t>{20, 508, 270, 322}));
  EXPECT_EQ(e.videoRequest->stcoEntries, (std::vector<uint64_t>{16, 16 + 798 + 100}));
  EXPECT_EQ(e.audioRequest->stcoEntries, (std::vector<uint64_t>{16 + 798}));
  EXPECT_EQ(e.audioRequest->stszEntries, (std::vector<uint32_t>{100}));
}
