// H.265 recordings repaired through the command line and compared packet by packet with the
// undamaged recording: the pictures, their decoding and display order, which of them are sync
// samples, and the audio between them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "support/TestSupport.h"

using nlohmann::json;
using testsupport::runCommand;
using testsupport::shellQuote;
using testsupport::TempDir;

namespace {

// The H.265 recordings of tests/e2e/hevc-plan.json, made once per build tree and again when the
// plan changes (a copy of the plan they were made from lies beside them). Every test runs in a
// process of its own, so the first one to get here makes them under a lock and the others wait.
std::string hevcCasesDir() {
  static const std::string dir = [] {
    const std::string d = testsupport::binaryDir() + "/hevc-fixtures";
    const std::string script =
        "cmp -s \"$2\" \"$0/plan.json\" && test -f \"$0/cases.json\" || { rm -rf \"$0\" \"$0.tmp\" && "
        "python3 \"$1\" \"$0.tmp\" --plan \"$2\" --jobs 2 >/dev/null && cp \"$2\" \"$0.tmp/plan.json\" && "
        "mv \"$0.tmp\" \"$0\"; }";
    auto r = runCommand("flock " + shellQuote(d + ".lock") + " sh -c " + shellQuote(script) + " " + shellQuote(d) +
                        " " + shellQuote(testsupport::sharedDir() + "/tools/make-fixtures") + " " +
                        shellQuote(testsupport::sourceDir() + "/tests/e2e/hevc-plan.json"));
    if (r.exitCode != 0) ADD_FAILURE() << "making the H.265 recordings failed:\n" << r.output;
    return d;
  }();
  return dir;
}

struct MovieCase {
  std::string damaged;
  std::string reference;
  std::string original;
  json record;
  bool found() const { return !record.is_null(); }
};

MovieCase findCase(const std::string& dir, const std::string& name) {
  std::ifstream in(dir + "/cases.json");
  json all = json::parse(in, nullptr, false);
  MovieCase c;
  if (all.is_discarded() || !all.contains("cases")) return c;
  for (const auto& r : all["cases"]) {
    if (r.value("name", "") != name) continue;
    c.record = r;
    c.damaged = dir + "/" + r["damaged"].get<std::string>();
    c.reference = dir + "/" + r["reference"].get<std::string>();
    c.original = dir + "/" + r["original"].get<std::string>();
  }
  return c;
}

// A case of the H.265 plan, or the standard H.265 case when the plan does not have it.
MovieCase movieCase(const std::string& name) {
  MovieCase c = findCase(hevcCasesDir(), name);
  return c.found() ? c : findCase(testsupport::fixturesDir(), name);
}

std::string extensionOf(const std::string& path) { return std::filesystem::path(path).extension().string(); }

struct Repair {
  int exitCode = -1;
  json report;
  std::string output;
};

Repair repair(const std::string& damaged, const std::string& reference, const std::string& out) {
  Repair r;
  auto c =
      runCommand("{ " + shellQuote(testsupport::executablePath()) + " repair " + shellQuote(damaged) + " --reference " +
                 shellQuote(reference) + " --output " + shellQuote(out) + " --json 2>/dev/null; }");
  r.exitCode = c.exitCode;
  r.output = c.output;
  r.report = json::parse(c.output, nullptr, false);
  return r;
}

struct Packet {
  bool video = false;
  bool audio = false;
  bool key = false;
  bool discarded = false;  // hidden by the edit list
  int64_t pts = 0;
  int64_t dts = 0;
  uint64_t pos = 0;
  uint64_t size = 0;
  std::string hash;
};

// ffprobe writes times as numbers and positions as strings.
int64_t number(const json& j, const char* key) {
  if (!j.contains(key)) return INT64_MIN;
  if (j[key].is_number_integer()) return j[key].get<int64_t>();
  if (j[key].is_string()) return std::stoll(j[key].get<std::string>());
  return INT64_MIN;
}

// The packets of the first video and the first audio stream (other tracks aside), with an MD5
// of their bytes.
std::vector<Packet> packets(const std::string& path) {
  std::vector<Packet> out;
  for (const char* stream : {"v:0", "a:0"}) {
    auto r = runCommand("{ ffprobe -v error -select_streams " + std::string(stream) +
                        " -show_packets -show_data_hash MD5 -show_entries "
                        "packet=codec_type,pts,dts,flags,pos,size,data_hash -of json " +
                        shellQuote(path) + " 2>/dev/null; }");
    json j = json::parse(r.output, nullptr, false);
    if (j.is_discarded() || !j.contains("packets")) continue;
    for (const auto& p : j["packets"]) {
      Packet k;
      k.video = p.value("codec_type", "") == "video";
      k.audio = p.value("codec_type", "") == "audio";
      k.key = p.value("flags", "").find('K') != std::string::npos;
      k.discarded = p.value("flags", "").find('D') != std::string::npos;
      k.pts = number(p, "pts");
      k.dts = number(p, "dts");
      k.pos = static_cast<uint64_t>(number(p, "pos"));
      k.size = static_cast<uint64_t>(number(p, "size"));
      k.hash = p.value("data_hash", "");
      out.push_back(k);
    }
  }
  return out;
}

std::vector<Packet> videoOnly(const std::vector<Packet>& all) {
  std::vector<Packet> v;
  for (const auto& p : all)
    if (p.video) v.push_back(p);
  return v;
}

std::set<std::string> hashesOf(const std::vector<Packet>& ps) {
  std::set<std::string> s;
  for (const auto& p : ps) s.insert(p.hash);
  return s;
}

// Hashes in decoding (dts) or display (pts) order, keeping only those in `keep` when given.
std::vector<std::string> order(std::vector<Packet> ps, bool display, const std::set<std::string>* keep = nullptr) {
  std::stable_sort(ps.begin(), ps.end(),
                   [display](const Packet& a, const Packet& b) { return display ? a.pts < b.pts : a.dts < b.dts; });
  std::vector<std::string> out;
  for (const auto& p : ps)
    if (!keep || keep->count(p.hash)) out.push_back(p.hash);
  return out;
}

json score(const std::string& original, const std::string& repaired) {
  auto r = runCommand("{ " + shellQuote(testsupport::sharedDir() + "/tools/score-repair") + " " + shellQuote(original) +
                      " " + shellQuote(repaired) + " --json 2>/dev/null; }");
  return json::parse(r.output, nullptr, false);
}

std::string decodeErrors(const std::string& path) {
  return runCommand("ffmpeg -nostdin -v error -i " + shellQuote(path) + " -f null -").output;
}

// The pictures that were recovered keep their decoding order, their display order (composition
// offsets rebuilt from the order counts) and their sync-sample marks (IRAP pictures); no two
// share a display time.
void expectPicturesInOrder(const std::vector<Packet>& original, const std::vector<Packet>& repaired) {
  const auto recovered = hashesOf(repaired);
  EXPECT_EQ(order(repaired, false), order(original, false, &recovered)) << "decoding order";
  EXPECT_EQ(order(repaired, true), order(original, true, &recovered)) << "display order";
  std::set<int64_t> times;
  for (const auto& p : repaired) EXPECT_TRUE(times.insert(p.pts).second) << "two pictures shown at " << p.pts;
  std::set<std::string> originalKeys, repairedKeys;
  for (const auto& p : original)
    if (p.key && recovered.count(p.hash)) originalKeys.insert(p.hash);
  for (const auto& p : repaired)
    if (p.key) repairedKeys.insert(p.hash);
  EXPECT_FALSE(repairedKeys.empty());
  EXPECT_EQ(repairedKeys, originalKeys) << "sync samples";
  // The edit list hides no picture that the recording showed.
  std::set<std::string> shownBefore;
  for (const auto& p : original)
    if (!p.discarded) shownBefore.insert(p.hash);
  for (const auto& p : repaired)
    EXPECT_FALSE(p.discarded && shownBefore.count(p.hash)) << "picture at " << p.pts << " hidden by the edit list";
}

// Every AAC packet that lay between the first and the last recovered picture is in the output.
void expectAacBetweenPicturesRecovered(const std::vector<Packet>& original, const std::vector<Packet>& repaired) {
  std::set<std::string> video, audio;
  for (const auto& p : repaired) (p.video ? video : audio).insert(p.hash);
  uint64_t first = UINT64_MAX, last = 0;
  for (const auto& p : original) {
    if (p.video && video.count(p.hash)) {
      first = std::min(first, p.pos);
      last = std::max(last, p.pos + p.size);
    }
  }
  size_t expected = 0, found = 0;
  for (const auto& p : original) {
    if (!p.audio || p.pos < first || p.pos + p.size > last) continue;
    ++expected;
    if (audio.count(p.hash)) ++found;
  }
  EXPECT_GT(expected, 0u);
  EXPECT_EQ(found, expected);
}

struct IntactCase {
  const char* name;
  const char* audio;  // "aac" or "pcm"
};

class HevcRecording : public ::testing::TestWithParam<IntactCase> {};

}  // namespace

// Recordings that lost only their movie box: every picture comes back bit-exact and in order.
TEST_P(HevcRecording, TruncatedRecordingIsRepairedPictureForPicture) {
  const IntactCase ic = GetParam();
  MovieCase c = movieCase(ic.name);
  ASSERT_TRUE(c.found()) << "case missing: " << ic.name;
  TempDir tmp;
  const std::string out = tmp.file("repaired" + extensionOf(c.damaged));
  Repair r = repair(c.damaged, c.reference, out);
  ASSERT_EQ(r.exitCode, 0) << r.output;
  ASSERT_FALSE(r.report.is_discarded()) << r.output;
  EXPECT_EQ(r.report["outcome"], "repaired");
  EXPECT_EQ(r.report["attributes"]["video"], "HVC1");
  EXPECT_EQ(r.report["attributes"]["track"], "2");

  auto probe =
      runCommand("ffprobe -v error -select_streams v:0 -show_entries stream=codec_name -of csv=p=0 " + shellQuote(out));
  EXPECT_EQ(probe.exitCode, 0);
  EXPECT_EQ(probe.output, "hevc\n");
  EXPECT_EQ(decodeErrors(out), "");

  json s = score(c.original, out);
  ASSERT_FALSE(s.is_discarded());
  EXPECT_GE(s["video"].value("recovered_pct", 0.0), 99.0) << s.value("summary", "");
  EXPECT_EQ(s["video"].value("foreign_frames", -1), 0);
  EXPECT_EQ(s.value("timestamp_errors", -1), 0);

  const auto original = packets(c.original);
  const auto repaired = packets(out);
  expectPicturesInOrder(videoOnly(original), videoOnly(repaired));
  if (std::string(ic.audio) == "aac") {
    expectAacBetweenPicturesRecovered(original, repaired);
  } else {
    // PCM is rechunked, so it is compared by content; only the audio after the last picture
    // (a fraction of a second) may be missing.
    EXPECT_GE(s["audio"].value("samples_recovered_pct", 0.0), 90.0) << s.value("summary", "");
  }
}

INSTANTIATE_TEST_SUITE_P(Hevc, HevcRecording,
                         ::testing::Values(IntactCase{"hevc_aac_mp4", "aac"}, IntactCase{"hevc_1080p_aac_mp4", "aac"},
                                           IntactCase{"hevc_sowt_mov", "pcm"},
                                           IntactCase{"hevc_slices_aac_mp4", "aac"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Random bytes over parts of the media data: the pictures the junk left alone are found, and
// what was found keeps its order.
TEST(HevcDamage, JunkInTheMediaDataCostsOnlyThePicturesItHit) {
  MovieCase c = movieCase("hevc_aac_junk");
  ASSERT_TRUE(c.found());
  TempDir tmp;
  const std::string out = tmp.file("repaired.mp4");
  Repair r = repair(c.damaged, c.reference, out);
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(runCommand("ffprobe -v error -show_streams " + shellQuote(out)).exitCode, 0);
  // Pictures that referred to lost ones decode with errors, but the decoding runs to the end.
  EXPECT_EQ(runCommand("ffmpeg -nostdin -v quiet -i " + shellQuote(out) + " -f null -").exitCode, 0);

  std::vector<std::pair<uint64_t, uint64_t>> junk;
  for (const auto& d : c.record["damage"])
    if (d.contains("ranges"))
      for (const auto& range : d["ranges"]) junk.emplace_back(range[0].get<uint64_t>(), range[1].get<uint64_t>());
  ASSERT_EQ(junk.size(), 3u);

  const auto original = videoOnly(packets(c.original));
  const auto repaired = videoOnly(packets(out));
  const auto recovered = hashesOf(repaired);
  size_t untouched = 0, found = 0;
  for (const auto& p : original) {
    bool hit = false;
    for (const auto& [a, b] : junk) hit = hit || (p.pos < b && p.pos + p.size > a);
    if (hit) continue;
    ++untouched;
    if (recovered.count(p.hash)) ++found;
  }
  ASSERT_GT(untouched, 100u);
  EXPECT_GE(double(found), 0.97 * double(untouched)) << found << " of " << untouched;
  // Junk that passes for a picture could make a few samples of its own, not more.
  const auto known = hashesOf(original);
  size_t foreign = 0;
  for (const auto& p : repaired) foreign += known.count(p.hash) ? 0 : 1;
  EXPECT_LE(foreign, junk.size()) << foreign << " samples that are not pictures of the recording";
  std::vector<Packet> genuine;
  for (const auto& p : repaired)
    if (known.count(p.hash)) genuine.push_back(p);
  expectPicturesInOrder(original, genuine);
}

namespace {
struct CutCase {
  const char* name;
  const char* label;
  double keep;  // share of the cut picture left before the end of the file
};
class HevcCut : public ::testing::TestWithParam<CutCase> {};
}  // namespace

// A recording cut in the middle of a picture: everything before the cut comes back, the cut
// picture is padded to its declared length, and the movie still opens and decodes. With three
// slices a picture the cut falls into the last unit of a run; in the 1080p movie every picture
// is a chunk of its own, so the cut picture is a lone unit that only its order count vouches for.
TEST_P(HevcCut, RecordingCutInsideAPictureKeepsEverythingBeforeTheCut) {
  const CutCase cc = GetParam();
  MovieCase c = movieCase(cc.name);
  ASSERT_TRUE(c.found());
  TempDir tmp;
  auto bytes = testsupport::readFile(c.damaged);
  std::vector<Packet> byPosition = videoOnly(packets(c.original));
  ASSERT_GT(byPosition.size(), 40u);
  std::sort(byPosition.begin(), byPosition.end(), [](const Packet& a, const Packet& b) { return a.pos < b.pos; });
  const size_t v = 40;
  const Packet& victim = byPosition[v];
  ASSERT_GT(victim.size, 600u);
  bytes.resize(victim.pos + static_cast<uint64_t>(double(victim.size) * cc.keep));
  testsupport::writeFile(tmp.file("cut.mp4"), bytes);

  Repair r = repair(tmp.file("cut.mp4"), c.reference, tmp.file("out.mp4"));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(r.report["outputSize"].get<uint64_t>(), std::filesystem::file_size(tmp.file("out.mp4")));
  EXPECT_EQ(runCommand("ffmpeg -nostdin -v quiet -i " + shellQuote(tmp.file("out.mp4")) + " -f null -").exitCode, 0);
  const auto repaired = videoOnly(packets(tmp.file("out.mp4")));
  const auto recovered = hashesOf(repaired);
  for (size_t i = 0; i < v; ++i) EXPECT_TRUE(recovered.count(byPosition[i].hash)) << "picture " << i << " lost";
  // The cut picture is the last sample, as long as it claimed to be.
  ASSERT_FALSE(repaired.empty());
  auto last = std::max_element(repaired.begin(), repaired.end(),
                               [](const Packet& a, const Packet& b) { return a.pos < b.pos; });
  EXPECT_EQ(last->size, victim.size);
  EXPECT_EQ(repaired.size(), v + 1);
}

INSTANTIATE_TEST_SUITE_P(Hevc, HevcCut,
                         ::testing::Values(CutCase{"hevc_slices_aac_mp4", "in_the_last_slice", 5.0 / 6},
                                           CutCase{"hevc_1080p_aac_mp4", "lone_picture", 1.0 / 3}),
                         [](const auto& info) { return std::string(info.param.label); });

// A reference of the other video standard accepts none of the damaged file's units: the job
// fails with "No Sample Found" and leaves no file behind, whichever way round.
TEST(HevcDamage, ReferenceOfTheOtherStandardFindsNothing) {
  MovieCase hevc = movieCase("hevc_aac_mp4");
  MovieCase avc = findCase(testsupport::fixturesDir(), "h264_aac_mp4");
  ASSERT_TRUE(hevc.found());
  ASSERT_TRUE(avc.found());
  TempDir tmp;
  for (const auto& [damaged, reference] : {std::pair{hevc.damaged, avc.reference}, {avc.damaged, hevc.reference}}) {
    Repair r = repair(damaged, reference, tmp.file("out.mp4"));
    EXPECT_EQ(r.exitCode, 1) << damaged << "\n" << r.output;
    ASSERT_FALSE(r.report.is_discarded()) << r.output;
    EXPECT_EQ(r.report["outcome"], "error") << r.output;
    EXPECT_EQ(r.report["error"].value("code", 0), 101) << r.output;
    EXPECT_FALSE(std::filesystem::exists(tmp.file("out.mp4")));
  }
}

namespace {
struct CameraFile {
  const char* name;
  bool foreignStill;  // a still picture of a second H.265 track lies among the movie's pictures
};
class HevcCameraFile : public ::testing::TestWithParam<CameraFile> {};

// The recording with its movie box taken out, wherever it was.
std::vector<uint8_t> withoutMovieBox(const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> out;
  uint64_t at = 0;
  while (at + 8 <= bytes.size()) {
    uint64_t size =
        uint64_t(bytes[at]) << 24 | uint64_t(bytes[at + 1]) << 16 | uint64_t(bytes[at + 2]) << 8 | bytes[at + 3];
    if (size == 1 && at + 16 <= bytes.size()) {
      size = 0;
      for (int i = 8; i < 16; ++i) size = size << 8 | bytes[at + i];
    }
    if (size == 0) size = bytes.size() - at;
    if (size < 8 || size > bytes.size() - at) break;
    if (std::string(reinterpret_cast<const char*>(&bytes[at + 4]), 4) != "moov")
      out.insert(out.end(), bytes.begin() + long(at), bytes.begin() + long(at + size));
    at += size;
  }
  return out;
}
}  // namespace

// Phone recordings (in-band parameter sets, SEI, Main 10, moov before or after the media data)
// that lost their movie box, repaired with the intact file as reference.
TEST_P(HevcCameraFile, RecordingWithoutItsMovieBoxIsRepaired) {
  const CameraFile cf = GetParam();
  const std::string original = testsupport::sharedDir() + "/corpus/" + cf.name;
  if (!std::filesystem::exists(original)) GTEST_SKIP() << "corpus file missing";
  TempDir tmp;
  const std::string ext = extensionOf(original);
  testsupport::writeFile(tmp.file("damaged" + ext), withoutMovieBox(testsupport::readFile(original)));
  Repair r = repair(tmp.file("damaged" + ext), original, tmp.file("out" + ext));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(r.report["attributes"]["video"], "HVC1");
  json s = score(original, tmp.file("out" + ext));
  ASSERT_FALSE(s.is_discarded());
  EXPECT_GE(s["video"].value("recovered_pct", 0.0), 99.0) << s.value("summary", "");
  EXPECT_EQ(s.value("decode_errors", -1), 0) << s.value("summary", "");
  // The recovered pictures make one video track, however many the reference had.
  auto streams = json::parse(runCommand("ffprobe -v error -select_streams v -show_entries stream=index -of json " +
                                        shellQuote(tmp.file("out" + ext)))
                                 .output,
                             nullptr, false);
  ASSERT_FALSE(streams.is_discarded());
  EXPECT_EQ(streams.value("streams", json::array()).size(), 1u);
  if (!cf.foreignStill) {
    EXPECT_EQ(s["video"].value("foreign_frames", -1), 0);
  }
  const auto before = videoOnly(packets(original));
  const auto known = hashesOf(before);
  std::vector<Packet> after;
  for (const auto& p : videoOnly(packets(tmp.file("out" + ext))))
    if (known.count(p.hash)) after.push_back(p);
  expectPicturesInOrder(before, after);
}

INSTANTIATE_TEST_SUITE_P(Corpus, HevcCameraFile,
                         ::testing::Values(CameraFile{"apple_hevc_main10_moovfirst.mp4", false},
                                           CameraFile{"android14_hevc_hlg10_moovfirst.mp4", false},
                                           CameraFile{"iphone14pro_dolbyvision_hevc.mov", false},
                                           CameraFile{"pixel_motionphoto_2hevc.mp4", true}),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           for (char& ch : n)
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });
