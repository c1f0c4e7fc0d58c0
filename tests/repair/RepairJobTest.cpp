#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <thread>

#include "bitstream/NALU.h"
#include "bitstream/SliceHeader_265.h"
#include "foundation/ByteOrder.h"
#include "repair/RepairFile.h"
#include "support/Damage.h"
#include "support/Movies.h"
#include "support/TestSupport.h"

using testsupport::readFile;
using testsupport::runCommand;
using testsupport::shellQuote;
using testsupport::TempDir;

namespace {

// Offset of the top-level movie box.
uint64_t moovOffset(const std::vector<uint8_t>& bytes) {
  for (const auto& box : testsupport::topLevelBoxes(bytes))
    if (box.type == "moov") return box.offset;
  return 0;
}

// Small recordings with the encoder settings a camera would keep fixed, each with a reference made
// alike ("<name>.ref") and a copy cut before its movie box ("<name>.damaged").
class Movies {
 public:
  Movies() {
    const std::string x264 = "-bf 2 -g 12", pcm = "pcm_s16le";
    add({.name = "repair_aac", .size = "160x96", .videoArgs = x264, .original = {.seconds = 2}});
    add({.name = "repair_sowt",
         .container = "mov",
         .size = "160x96",
         .videoArgs = x264,
         .audioCodec = pcm,
         .audioArgs = "",
         .original = {.seconds = 2}});
    add({.name = "repair_twos",
         .container = "mov",
         .size = "160x96",
         .videoArgs = x264,
         .audioCodec = "pcm_s16be",
         .audioArgs = "",
         .original = {.seconds = 2}});
    add({.name = "repair_hevc",
         .size = "160x96",
         .videoCodec = "libx265",
         .videoArgs = "-preset ultrafast -x265-params bframes=0:keyint=60:scenecut=0:pools=none:frame-threads=1",
         .videoTag = "hvc1",
         .original = {.seconds = 2}});
    add({.name = "repair_mpeg4", .size = "160x96", .videoCodec = "mpeg4", .videoArgs = "", .audioCodec = ""});
  }
  std::string path(const std::string& name) const { return files_.at(name); }

 private:
  void add(const testsupport::Recipe& recipe) {
    const std::string name = recipe.name.substr(7);
    const auto movie = testsupport::makeMovie(recipe);
    auto bytes = readFile(movie.original);
    bytes.resize(moovOffset(bytes));
    files_[name] = movie.original;
    files_[name + ".ref"] = movie.reference;
    files_[name + ".damaged"] = scratch_.file(name + "." + recipe.container);
    testsupport::writeFile(files_[name + ".damaged"], bytes);
  }
  TempDir scratch_;
  std::map<std::string, std::string> files_;
};

const Movies& movies() {
  static const Movies made;
  return made;
}

// What the job reports, plus a hook to act from inside it.
class Recorder : public RepairFileDelegate {
 public:
  void repairFileDidStartPerformingTask(const std::string&) override {
    ++tasks;
    progress.push_back(-1);  // a new phase
  }
  void repairFileCurrentTaskProgress(int32_t p) override {
    progress.push_back(p);
    if (onProgress) onProgress(p);
  }
  void repairFileAttribute(const std::string& k, const std::string& v) override { attributes.push_back(k + "=" + v); }
  void repairFileDidComplete() override { outcomes.push_back("complete"); }
  void repairFileDidFailWithError(const qvr::Error& e) override {
    outcomes.push_back("error " + std::to_string(e.code) + " " + e.stringFor(qvr::kErrorReasonKey));
  }
  void moveBackToSelectReferenceFile() override { outcomes.push_back("reference"); }
  int tasks = 0;  // the phase the job is in: analysing 1, scanning 2, writing 3
  std::vector<std::string> attributes, outcomes;
  std::vector<int32_t> progress;  // -1 where a phase begins
  std::function<void(int32_t)> onProgress;
};

std::vector<std::string> run(RepairFile& engine, Recorder& rec, const std::string& ref, const std::string& damaged,
                             const std::string& out) {
  engine.delegate = &rec;
  engine.repairMOVWithRefFileAtPath(ref, damaged, out);
  return rec.outcomes;
}

}  // namespace

// A job that makes no movie reports why (a stopped one nothing) and leaves no file behind.
TEST(RepairJob, JobsEndingWithoutAMovieLeaveNoFile) {
  // A reference whose movie box lost its header can describe no movie.
  TempDir refs;
  const std::string noHeader = refs.file("no-mvhd.mp4");
  auto bytes = testsupport::readFile(movies().path("aac.ref"));
  const char* tag = "mvhd";
  auto at = std::search(bytes.begin(), bytes.end(), tag, tag + 4);
  ASSERT_NE(at, bytes.end());
  std::memcpy(&*at, "free", 4);
  testsupport::writeFile(noHeader, bytes);
  const struct {
    std::string reference;
    int stopInPhase;  // 2 scanning, 3 writing; 0: not stopped
    std::vector<std::string> outcomes;
  } cases[] = {
      {movies().path("aac.damaged"), 0, {"error 102 Invalid Healthy File"}},  // no movie box
      {movies().path("mpeg4.ref"), 0, {"reference"}},                         // neither H.264 nor H.265
      {noHeader, 0, {"error 102 Invalid Healthy File"}},
      {movies().path("aac.ref"), 2, {}},
      {movies().path("aac.ref"), 3, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reference + " " + std::to_string(c.stopInPhase));
    TempDir tmp;
    RepairFile e;
    Recorder r;
    r.onProgress = [&](int32_t p) {
      if (r.tasks == c.stopInPhase && p >= 30) e.stopflag = true;
    };
    EXPECT_EQ(run(e, r, c.reference, movies().path("aac"), tmp.file("out.mp4")), c.outcomes);
    EXPECT_EQ(r.tasks, c.stopInPhase ? c.stopInPhase : 1);
    // A scan that went on after the stop would have made the sample tables.
    EXPECT_EQ(e.videoRequest != nullptr, c.stopInPhase == 3);
    EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
  }
}

TEST(RepairJob, CompleteRepairReportsItsPhasesAndAPauseInTheScanChangesNothing) {
  TempDir tmp;
  RepairFile e;
  Recorder r;
  run(e, r, movies().path("aac.ref"), movies().path("aac.damaged"), tmp.file("a.mp4"));
  EXPECT_EQ(r.outcomes, std::vector<std::string>{"complete"});
  EXPECT_EQ(r.tasks, 3);
  EXPECT_EQ(r.attributes, (std::vector<std::string>{"video=AVC1", "fps=25.00", "track=2", "duration=0:0:2"}));
  // Progress is sent on change only, so no value repeats within a phase.
  for (size_t i = 1; i < r.progress.size(); ++i) {
    if (r.progress[i] >= 0) {
      EXPECT_NE(r.progress[i], r.progress[i - 1]);
    }
  }
  EXPECT_EQ(e.videoSampleCountWritten(), 50u);
  // No temporary file is left next to the output.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.path()), {}), 1);

  RepairFile paused;
  Recorder r2;
  std::thread resumer;
  r2.onProgress = [&](int32_t p) {
    if (p == 40 && !resumer.joinable() && r2.tasks == 2) {
      paused.pauseRepairing = true;
      resumer = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        paused.pauseRepairing = false;
      });
    }
  };
  auto start = std::chrono::steady_clock::now();
  run(paused, r2, movies().path("aac.ref"), movies().path("aac.damaged"), tmp.file("b.mp4"));
  resumer.join();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(readFile(tmp.file("a.mp4")), readFile(tmp.file("b.mp4")));
}

// Both byte orders are tabulated alike, and a version-1 sound description's own bytes per frame
// count over the channels and sample size.
TEST(RepairJob, PcmChunksCountTheirOwnFrames) {
  TempDir tmp;
  auto v1 = readFile(movies().path("sowt.ref"));
  const size_t entry = std::string(v1.begin(), v1.end()).find("sowt", moovOffset(v1)) - 4;
  qvr::storeBE32(&v1[entry + 16], 0x00010000);  // version 1, revision 0
  qvr::storeBE32(&v1[entry + 44], 2);           // bytes per frame, where the channel layout box was
  testsupport::writeFile(tmp.file("v1.mov"), v1);
  const struct {
    std::string reference, damaged;
    uint32_t frameBytes;
  } cases[] = {{movies().path("sowt.ref"), movies().path("sowt.damaged"), 4},
               {movies().path("twos.ref"), movies().path("twos.damaged"), 4},
               {tmp.file("v1.mov"), movies().path("sowt.damaged"), 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reference);
    RepairFile e;
    Recorder r;
    ASSERT_EQ(run(e, r, c.reference, c.damaged, tmp.file("out.mov")), std::vector<std::string>{"complete"});
    const auto& stsc = e.audioRequest->stscEntries;
    ASSERT_FALSE(stsc.empty());
    // Walk the runs: every chunk's frame count is its bytes over the frame size.
    size_t run = 0;
    for (size_t chunk = 1; chunk <= e.audioSampleArray.size(); ++chunk) {
      if (run + 1 < stsc.size() && stsc[run + 1].firstChunk == chunk) ++run;
      EXPECT_EQ(uint64_t(stsc[run].samplesPerChunk), e.audioSampleArray[chunk - 1]->sampleSize / c.frameBytes);
    }
    if (c.frameBytes != 4) continue;
    auto probe = runCommand("ffprobe -v error -select_streams a -show_entries stream=duration -of csv=p=0 " +
                            shellQuote(tmp.file("out.mov")));
    EXPECT_NEAR(std::atof(probe.output.c_str()), 2.0, 0.15) << probe.output;
  }
}

// A timecode sample ahead of the first video chunk and after the sound of one region in three:
// where a region's sound lies follows the reference's chunks, as long as its sound chunks when
// more than one layout leaves whole frames.
TEST(PcmChunks, SoundIsWhatTheReferenceLayoutLeavesOfARegion) {
  using Sound = std::optional<std::pair<uint64_t, uint64_t>>;
  auto pair = [](std::optional<qvr::PcmLayout::Sound> s) { return s ? Sound{{s->offset, s->length}} : std::nullopt; };
  const qvr::PcmLayout layout({{0, 4, 0},
                               {4, 100, 1},
                               {104, 4096, 2},
                               {4200, 50, 1},
                               {4250, 4096, 2},
                               {8346, 4, 0},
                               {8350, 60, 1},
                               {8410, 4096, 2},
                               {12506, 70, 1},
                               {12576, 2050, 2}},
                              4);
  EXPECT_EQ(pair(layout.between(4096)), Sound({0, 4096}));
  EXPECT_EQ(pair(layout.between(4100)), Sound({0, 4096}));
  EXPECT_EQ(pair(layout.between(8192)), Sound({0, 8192}));
  EXPECT_EQ(pair(layout.between(4098)), Sound({0, 4098}));  // fits nothing: the common layout
  EXPECT_FALSE(layout.fits(4098));
  EXPECT_EQ(pair(layout.leading(4)), std::nullopt);
  EXPECT_EQ(pair(layout.leading(4100)), Sound({4, 4096}));
  EXPECT_EQ(pair(layout.leading(4098)), std::nullopt);       // not whole frames after the header
  EXPECT_EQ(pair(layout.trailing(2050)), Sound({0, 2048}));  // cut inside a frame
}

namespace {
// A damaged recording as a scan sees it, to splice test files from: its bytes, its first video
// chunk, where the audio after that ends, and the pictures of the later video chunks.
struct Recording {
  std::vector<uint8_t> bytes;
  SampleChunk first;
  uint64_t audioEnd = 0;
  SampleChunk pictures;
};

Recording scanned(const std::string& reference, const std::string& damaged) {
  RepairFile e;
  e.repairFileAtPath(damaged, "", reference);
  Recording r{readFile(damaged), {}, 0, {}};
  for (const auto& chunk : e.sampleArray) {
    if (chunk.front()->sampleType > kSampleTypeH265) continue;
    if (!r.first.empty() && r.audioEnd == 0) r.audioEnd = chunk.front()->sampleOffset;
    if (r.first.empty()) r.first = chunk;
    for (const auto& s : chunk)
      if (s->firstSlice && r.audioEnd) r.pictures.push_back(s);
  }
  return r;
}

int32_t orderCount(const NALU& slice) {
  const auto* header = dynamic_cast<const SliceHeader_265*>(slice.RBSP.get());
  return slice.NALType == 19 || slice.NALType == 20 ? 0 : header ? header->pic_order_cnt_lsb : -1;
}

enum Source { kAac, kPcm, kHevc };
enum Pick { kNext, kIdr, kFrameNumGap, kOrder32Ahead, kOrder33Ahead };
enum After { kAudio, kGarbage, kEnd };
constexpr uint32_t kFourTimesLargest = 1u << 31;  // plus n: four times the largest picture before, plus n
}  // namespace

// A lone unit after the first chunk is a picture only when what surrounds it confirms it (and it
// is not much larger than the pictures before it); a unit declaring 2,200,000 bytes or more ends
// any run.
TEST(RepairJob, LonePictureIsTakenOnlyWhenConfirmed) {
  const struct {
    const char* name;
    Source source;
    int gap;  // bytes left out at the end of the audio after the first chunk; -1: all of it
    Pick pick;
    After after;
    uint32_t declared;  // when not 0, the length its prefix declares instead, made up with zeros
    bool kept;
  } cases[] = {
      {"audio that decodes follows", kAac, 0, kNext, kAudio, 0, true},
      {"garbage follows", kAac, 0, kNext, kGarbage, 0, false},
      {"the file ends in it, frame_num continues", kAac, 0, kNext, kEnd, 0, true},
      {"the file ends in it, frame_num jumps", kAac, 0, kFrameNumGap, kEnd, 0, false},
      {"4x the largest before", kAac, 0, kNext, kAudio, kFourTimesLargest, true},
      {"over 4x the largest before", kAac, 0, kNext, kAudio, kFourTimesLargest + 1, false},
      {"in a run, just below the cut-off", kAac, -1, kNext, kEnd, 2199999, true},
      {"in a run, at the cut-off", kAac, -1, kNext, kEnd, 2200000, false},
      {"whole PCM frames before", kPcm, 0, kNext, kGarbage, 0, true},
      {"a broken PCM frame before", kPcm, 2, kNext, kGarbage, 0, false},
      {"whole PCM frames, frame_num jumps", kPcm, 0, kFrameNumGap, kGarbage, 0, false},
      {"whole PCM frames, an IDR picture", kPcm, 0, kIdr, kGarbage, 0, true},
      {"order count 32 ahead at the end", kHevc, 0, kOrder32Ahead, kEnd, 0, true},
      {"order count 33 ahead at the end", kHevc, 0, kOrder33Ahead, kEnd, 0, false},
  };
  const std::string sources[] = {"aac", "sowt", "hevc"};
  std::vector<Recording> recordings;
  for (const auto& name : sources)
    recordings.push_back(scanned(movies().path(name + ".ref"), movies().path(name + ".damaged")));
  TempDir tmp;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Recording& r = recordings[c.source];
    int32_t lastRef = -1, lastOrder = -1;
    uint64_t largest = 0;
    for (const auto& s : r.first) {
      largest = std::max(largest, s->sampleSize);
      if (s->firstSlice && s->firstSlice->NRI != 0) lastRef = s->firstSlice->frameNum;
      if (s->firstSlice) lastOrder = orderCount(*s->firstSlice);
    }
    auto picked = std::find_if(r.pictures.begin(), r.pictures.end(), [&](const auto& s) {
      const NALU& n = *s->firstSlice;
      const bool fits[] = {true, n.NALType == 5, n.NALType == 1 && n.frameNum > lastRef + 1,
                           orderCount(n) == lastOrder + 32, orderCount(n) == lastOrder + 33};
      return fits[c.pick];
    });
    ASSERT_NE(picked, r.pictures.end());
    const uint64_t firstEnd = r.first.back()->sampleOffset + r.first.back()->sampleSize;
    const uint64_t start = (*picked)->sampleOffset, end = start + (*picked)->sampleSize;
    auto src = [&](uint64_t offset) { return r.bytes.begin() + long(std::min<uint64_t>(offset, r.bytes.size())); };
    std::vector<uint8_t> f(src(r.first.front()->sampleOffset), src(firstEnd));
    if (c.gap >= 0) f.insert(f.end(), src(firstEnd), src(r.audioEnd - c.gap));
    const size_t at = f.size();
    f.insert(f.end(), src(start), src(end));
    if (c.declared) {
      const uint64_t declared =
          c.declared >= kFourTimesLargest ? c.declared - kFourTimesLargest + 4 * largest : c.declared;
      qvr::storeBE32(&f[at], uint32_t(declared - 4));
      f.resize(at + declared);
    }
    if (c.after == kAudio) f.insert(f.end(), src(end), src(end + 1024));
    if (c.after == kGarbage) f.insert(f.end(), 1024, 0xff);
    testsupport::writeFile(tmp.file("spliced"), f);
    RepairFile e;
    e.repairFileAtPath(tmp.file("spliced"), "", movies().path(sources[c.source] + ".ref"));
    EXPECT_EQ(std::any_of(e.videoSampleArray.begin(), e.videoSampleArray.end(),
                          [&](const auto& s) { return s->sampleOffset == at; }),
              c.kept);
  }
}

// A chance unit (in a metadata sample, say) whose declared length reaches over a picture into the
// next one makes a run whose order count jumps away from the pictures before it: the picture
// inside the chance unit is taken instead. (In H.264 a run also stops where frame_num breaks.)
TEST(RepairJob, ChanceUnitReachingOverAPictureGivesWay) {
  const Recording r = scanned(movies().path("hevc.ref"), movies().path("hevc.damaged"));
  int32_t lastOrder = -1;
  for (const auto& s : r.first)
    if (s->firstSlice) lastOrder = orderCount(*s->firstSlice);
  auto far = std::find_if(r.pictures.begin(), r.pictures.end(), [&](const auto& s) {
    const int32_t order = orderCount(*s->firstSlice);
    return s->firstSlice->NALType < 16 && order > lastOrder + 32 && order < lastOrder + 100;
  });
  ASSERT_NE(far, r.pictures.end());
  auto bytesOf = [&](const Sample& s) {
    return std::vector<uint8_t>(
        r.bytes.begin() + long(s.sampleOffset),
        r.bytes.begin() + long(std::min<uint64_t>(s.sampleOffset + s.sampleSize, r.bytes.size())));
  };
  // The first chunk and its audio; 16 bytes of a far picture's first unit, declared to end where the
  // picture after the next one (which carries on from the first chunk) begins; and that picture.
  std::vector<uint8_t> f(r.bytes.begin() + long(r.first.front()->sampleOffset), r.bytes.begin() + long(r.audioEnd));
  const size_t chance = f.size();
  const auto head = bytesOf(**far), next = bytesOf(*r.pictures.front()), after = bytesOf(*r.pictures.back());
  f.insert(f.end(), head.begin(), head.begin() + 16);
  qvr::storeBE32(&f[chance], uint32_t(16 + next.size() - 4));
  f.insert(f.end(), next.begin(), next.end());
  f.insert(f.end(), after.begin(), after.end());
  f.insert(f.end(), 1024, 0xff);
  TempDir tmp;
  testsupport::writeFile(tmp.file("spliced"), f);
  RepairFile e;
  e.repairFileAtPath(tmp.file("spliced"), "", movies().path("hevc.ref"));
  std::vector<uint64_t> offsets;
  for (const auto& s : e.videoSampleArray) offsets.push_back(s->sampleOffset);
  EXPECT_EQ(std::count(offsets.begin(), offsets.end(), chance), 0);
  EXPECT_EQ(std::count(offsets.begin(), offsets.end(), chance + 16), 1);
}

// The reference is scanned in windows of 65,535 bytes that overlap by 24; a file of more than 100
// windows without a media-data header is scanned in its first ten windows and its last tenth.
TEST(RepairJob, ReferenceScanFindsTheMovieBoxWhereItsWindowsReach) {
  const auto ref = readFile(movies().path("aac.ref"));
  const std::vector<uint8_t> moov(ref.begin() + static_cast<long>(moovOffset(ref)), ref.end());
  const struct {
    uint64_t size;
    int64_t at;  // where the movie box starts in zeros; -1: nowhere
    bool found;
  } cases[] = {
      {200000, 65520, true},                            // across the end of the first window
      {65533, -1, false},                               // the last window is too short for a box header
      {6553500, 680000, true},                          // 100 windows: scanned whole
      {6553501, 680000, false},                         // 101 windows: not in the first ten
      {6553501, 5800000, false},                        // nor in the last tenth
      {6553501, int64_t(6553501 - moov.size()), true},  // ending the file
  };
  TempDir tmp;
  for (const auto& c : cases) {
    std::vector<uint8_t> f(c.size);
    if (c.at >= 0) std::copy(moov.begin(), moov.end(), f.begin() + c.at);
    testsupport::writeFile(tmp.file("ref.mov"), f);
    EXPECT_EQ(File::parseFileAtPath(tmp.file("ref.mov"))->moov != nullptr, c.found) << c.size << " " << c.at;
  }
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

TEST(RepairJob, NonPictureUnitsFoldIntoPicturesWithoutCrossingChunks) {
  TempDir tmp;
  RepairFile e;
  e.healthyFile = File::parseFileAtPath(movies().path("aac.ref"));
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
  ASSERT_TRUE(e.writeSampleAtPath(tmp.file("out.mp4"), movies().path("aac.damaged")));
  // Within a chunk a picture takes the units before it; the units closing a chunk join the
  // picture before them instead of the next chunk's first picture.
  EXPECT_EQ(e.videoRequest->stszEntries, (std::vector<uint32_t>{20, 508, 270, 322}));
  EXPECT_EQ(e.videoRequest->stcoEntries, (std::vector<uint64_t>{16, 16 + 798 + 100}));
  EXPECT_EQ(e.audioRequest->stcoEntries, (std::vector<uint64_t>{16 + 798}));
  EXPECT_EQ(e.audioRequest->stszEntries, (std::vector<uint32_t>{100}));
}
