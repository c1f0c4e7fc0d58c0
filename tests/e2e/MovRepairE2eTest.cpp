#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "foundation/ByteOrder.h"
#include "support/TestSupport.h"

using nlohmann::json;
using testsupport::runCommand;
using testsupport::shellQuote;
using testsupport::TempDir;

namespace {

struct Packet {
  int stream = 0;  // 0 video, 1 audio (by codec type)
  uint64_t pos = 0;
  uint64_t size = 0;
  std::string hash;
};

// Every packet of a movie with its position and an MD5 of its bytes.
std::vector<Packet> packets(const std::string& path) {
  auto r = runCommand(
      "{ ffprobe -v error -show_packets -show_data_hash MD5 -show_entries "
      "packet=codec_type,pos,size,data_hash -of json " +
      shellQuote(path) + " 2>/dev/null; }");
  std::vector<Packet> out;
  json j = json::parse(r.output, nullptr, false);
  if (j.is_discarded() || !j.contains("packets")) return out;
  for (const auto& p : j["packets"]) {
    Packet k;
    k.stream = p.value("codec_type", "") == "video" ? 0 : p.value("codec_type", "") == "audio" ? 1 : 2;
    k.pos = std::stoull(p.value("pos", "0"));
    k.size = std::stoull(p.value("size", "0"));
    k.hash = p.value("data_hash", "");
    out.push_back(k);
  }
  return out;
}

std::set<std::string> hashes(const std::vector<Packet>& ps, int stream) {
  std::set<std::string> s;
  for (const auto& p : ps)
    if (p.stream == stream) s.insert(p.hash);
  return s;
}

struct Repair {
  int exitCode = -1;
  std::string output;
  json report;
};

Repair repair(const std::string& damaged, const std::string& reference, const std::string& out) {
  std::string cmd = shellQuote(testsupport::executablePath()) + " repair " + shellQuote(damaged);
  if (!reference.empty()) cmd += " --reference " + shellQuote(reference);
  cmd = "{ " + cmd + " --output " + shellQuote(out) + " --json 2>/dev/null; }";
  Repair r;
  auto c = runCommand(cmd);
  r.exitCode = c.exitCode;
  r.output = c.output;
  r.report = json::parse(c.output, nullptr, false);
  return r;
}

// What ffmpeg says while decoding the whole file; empty when it decodes cleanly.
std::string decodeErrors(const std::string& path) {
  return runCommand("ffmpeg -v error -i " + shellQuote(path) + " -f null -").output;
}

json score(const std::string& original, const std::string& repaired) {
  auto r = runCommand("{ " + shellQuote(testsupport::sharedDir() + "/tools/score-repair") + " " + shellQuote(original) +
                      " " + shellQuote(repaired) + " --json 2>/dev/null; }");
  return json::parse(r.output, nullptr, false);
}

double videoRecoveredPercent(const std::string& original, const std::string& repaired) {
  json j = score(original, repaired);
  if (j.is_discarded()) return -1;
  return j["video"].value("recovered_pct", -1.0);
}

// Checks that every audio packet lying between the first and the last recovered video packet
// of the original is in the repaired movie.
void expectAudioBetweenVideoRecovered(const std::vector<Packet>& original, const std::vector<Packet>& repaired) {
  auto video = hashes(repaired, 0);
  auto audio = hashes(repaired, 1);
  uint64_t first = UINT64_MAX, last = 0;
  for (const auto& p : original) {
    if (p.stream == 0 && video.count(p.hash)) {
      first = std::min(first, p.pos);
      last = std::max(last, p.pos + p.size);
    }
  }
  size_t expected = 0, found = 0;
  for (const auto& p : original) {
    if (p.stream == 1 && p.pos >= first && p.pos + p.size <= last) {
      ++expected;
      if (audio.count(p.hash)) ++found;
    }
  }
  EXPECT_GT(expected, 0u);
  EXPECT_EQ(found, expected);
}

json standardCase(const std::string& name) {
  std::ifstream in(testsupport::fixturesDir() + "/cases.json");
  json all = json::parse(in, nullptr, false);
  if (!all.is_discarded()) {
    for (const auto& c : all["cases"])
      if (c.value("name", "") == name) return c;
  }
  return json();
}

struct FixtureCase {
  const char* name;
  bool mediaIntact;  // the damage left every sample's bytes as they were
  bool hasAac;
  const char* video = "AVC1";
};

class StandardCase : public ::testing::TestWithParam<FixtureCase> {};

}  // namespace

TEST_P(StandardCase, RepairedMovieOpensDecodesAndHoldsTheRecording) {
  const FixtureCase fc = GetParam();
  json c = standardCase(fc.name);
  ASSERT_FALSE(c.is_null()) << "fixture case missing: " << fc.name;
  const std::string dir = testsupport::fixturesDir() + "/";
  const std::string damaged = dir + c["damaged"].get<std::string>();
  const std::string original = dir + c["original"].get<std::string>();
  const std::string reference = c.value("reference_is_damaged", false) ? "" : dir + c["reference"].get<std::string>();
  TempDir tmp;
  const std::string out = tmp.file("repaired." + std::filesystem::path(damaged).extension().string().substr(1));
  Repair r = repair(damaged, reference, out);
  ASSERT_EQ(r.exitCode, 0) << r.output;
  ASSERT_FALSE(r.report.is_discarded()) << r.output;
  EXPECT_EQ(r.report["outcome"], "repaired");
  EXPECT_EQ(r.report["attributes"]["video"], fc.video);
  EXPECT_EQ(r.report["outputSize"].get<uint64_t>(), std::filesystem::file_size(out));

  auto probe = runCommand("ffprobe -v error -show_streams " + shellQuote(out));
  EXPECT_EQ(probe.exitCode, 0) << probe.output;
  auto orig = packets(original);
  auto rep = packets(out);
  if (fc.mediaIntact) {
    EXPECT_EQ(decodeErrors(out), "");
    EXPECT_GE(videoRecoveredPercent(original, out), 99.0);
    if (fc.hasAac) expectAudioBetweenVideoRecovered(orig, rep);
  } else {
    // Junk: at least 95% of the video samples whose bytes the junk left alone are recovered.
    std::vector<std::pair<uint64_t, uint64_t>> junk;
    for (const auto& d : c["damage"]) {
      if (!d.contains("ranges")) continue;
      for (const auto& range : d["ranges"]) junk.emplace_back(range[0].get<uint64_t>(), range[1].get<uint64_t>());
    }
    auto video = hashes(rep, 0);
    size_t untouched = 0, found = 0;
    for (const auto& p : orig) {
      if (p.stream != 0) continue;
      bool hit = false;
      for (const auto& [a, b] : junk) hit = hit || (p.pos < b && p.pos + p.size > a);
      if (hit) continue;
      ++untouched;
      if (video.count(p.hash)) ++found;
    }
    ASSERT_GT(untouched, 0u);
    EXPECT_GE(double(found), 0.95 * double(untouched)) << found << " of " << untouched;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Mov, StandardCase,
    ::testing::Values(FixtureCase{"h264_aac_mp4", true, true}, FixtureCase{"h264_aac_mov_zeroed", false, true},
                      FixtureCase{"h264_aac_junk", false, true}, FixtureCase{"h264_baseline_multislice", true, false},
                      FixtureCase{"h264_baseline_multislice_aac", true, true},
                      FixtureCase{"h264_sowt_mov", true, false}, FixtureCase{"h264_twos_mov", true, false},
                      FixtureCase{"h264_aac_tmcd_mov", true, true}, FixtureCase{"h264_sowt_tmcd_mov", true, false},
                      FixtureCase{"self_reference", false, true}, FixtureCase{"h264_aac_m4v_ntsc_mono", true, true},
                      FixtureCase{"hevc_aac_mp4", true, true, "HVC1"}),
    [](const auto& info) { return std::string(info.param.name); });

namespace {
struct CorpusCase {
  const char* damagedFrom;  // truncated before its movie box
  const char* reference;    // healthy movie with the same settings
  double minVideo;
  double minAudio = 0;  // AAC packets recovered, checked when set
};
class CorpusPair : public ::testing::TestWithParam<CorpusCase> {};
}  // namespace

TEST_P(CorpusPair, TruncatedCameraFileIsRepaired) {
  const CorpusCase cc = GetParam();
  const std::string corpus = testsupport::sharedDir() + "/corpus/";
  const std::string original = corpus + cc.damagedFrom;
  if (!std::filesystem::exists(original)) GTEST_SKIP() << "corpus file missing";
  auto bytes = testsupport::readFile(original);
  // Cut where the top-level movie box begins: the recording lost its index.
  uint64_t at = 0, cut = 0;
  while (at + 8 <= bytes.size()) {
    uint64_t size = qvr::readBE32(&bytes[at]);
    if (size == 1 && at + 16 <= bytes.size()) size = qvr::readBE64(&bytes[at + 8]);
    if (std::string(reinterpret_cast<const char*>(&bytes[at + 4]), 4) == "moov") cut = at;
    if (size < 8) break;
    at += size;
  }
  ASSERT_GT(cut, 0u);
  bytes.resize(cut);
  TempDir tmp;
  const std::string ext = std::filesystem::path(original).extension().string();
  testsupport::writeFile(tmp.file("damaged" + ext), bytes);
  Repair r = repair(tmp.file("damaged" + ext), corpus + cc.reference, tmp.file("out" + ext));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(runCommand("ffprobe -v error -show_streams " + shellQuote(tmp.file("out" + ext))).exitCode, 0);
  json j = score(original, tmp.file("out" + ext));
  ASSERT_FALSE(j.is_discarded());
  EXPECT_GE(j["video"].value("recovered_pct", -1.0), cc.minVideo);
  if (cc.minAudio > 0) {
    EXPECT_GE(j["audio"].value("recovered_pct", -1.0), cc.minAudio);
  }
}

INSTANTIATE_TEST_SUITE_P(Camera, CorpusPair,
                         ::testing::Values(CorpusCase{"gopro_hero7_HD7.mp4", "gopro_max_heromode_H19.mp4", 95.0, 95.0},
                                           CorpusCase{"iphone6_gps.mov", "iphone6_gps.mov", 99.0},
                                           CorpusCase{"flir_one_thermal.mp4", "flir_one_thermal.mp4", 99.0, 99.0},
                                           CorpusCase{"phone_3gp5_avc720p_co64.mp4", "phone_3gp5_avc720p_co64.mp4",
                                                      99.0},
                                           CorpusCase{"lavf_avc1080p50_sowt.mov", "lavf_avc1080p50_sowt.mov", 99.0},
                                           CorpusCase{"lavf_avc720p_twos.mov", "lavf_avc720p_twos.mov", 99.0}),
                         [](const auto& info) {
                           std::string n = info.param.damagedFrom;
                           for (char& ch : n)
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

TEST(CommandLine, UsageVersionAndEngineChoice) {
  const std::string exe = shellQuote(testsupport::executablePath());
  EXPECT_EQ(runCommand(exe + " --version").exitCode, 0);
  EXPECT_EQ(runCommand(exe + " --help").exitCode, 0);
  EXPECT_EQ(runCommand(exe + " repair").exitCode, 2);
  EXPECT_EQ(runCommand(exe + " repair x.mov").exitCode, 2);
  EXPECT_EQ(runCommand(exe + " repair x.mkv --output y.mkv").exitCode, 2);
  EXPECT_EQ(runCommand(exe + " repair x.mov --output y.mov --bogus").exitCode, 2);
  TempDir tmp;
  // A missing damaged movie that is its own reference: the reference is checked first (105);
  // with a reference that exists the damaged file's own error (104) follows.
  auto r =
      runCommand(exe + " repair " + shellQuote(tmp.file("none.MOV")) + " --output " + shellQuote(tmp.file("o.mov")));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find("error 105: Healthy File Does not Exist or Unreadbale"), std::string::npos) << r.output;
  r = runCommand(exe + " repair " + shellQuote(tmp.file("none.m4v")) + " --reference " + exe + " --output " +
                 shellQuote(tmp.file("o.m4v")));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find("error 104: Corrupt File Does not Exist or Unreadbale"), std::string::npos) << r.output;
}

TEST(CommandLine, DamagedFileWithoutItsOwnIndexAsksForAReference) {
  json c = standardCase("h264_aac_mp4");
  ASSERT_FALSE(c.is_null());
  TempDir tmp;
  const std::string damaged = testsupport::fixturesDir() + "/" + c["damaged"].get<std::string>();
  Repair r = repair(damaged, "", tmp.file("o.mp4"));
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.report["outcome"], "reference-needed");
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
}

TEST(CommandLine, InterruptStopsTheJobAndLeavesNoOutput) {
  // A large damaged input keeps the job busy long enough to be interrupted.
  json c = standardCase("h264_aac_junk");
  ASSERT_FALSE(c.is_null());
  TempDir tmp;
  const std::string dir = testsupport::fixturesDir() + "/";
  std::vector<uint8_t> big;
  auto part = testsupport::readFile(dir + c["damaged"].get<std::string>());
  for (int i = 0; i < 40; ++i) big.insert(big.end(), part.begin(), part.end());
  testsupport::writeFile(tmp.file("big.mp4"), big);
  auto r =
      runCommand(shellQuote(testsupport::executablePath()) + " repair " + shellQuote(tmp.file("big.mp4")) +
                 " --reference " + shellQuote(dir + c["reference"].get<std::string>()) + " --output " +
                 shellQuote(tmp.file("o.mp4")) + " --json 2>/dev/null & pid=$!; sleep 0.5; kill -INT $pid; wait $pid");
  EXPECT_EQ(r.exitCode, 130) << r.output;
  EXPECT_NE(r.output.find("\"interrupted\""), std::string::npos) << r.output;
  EXPECT_FALSE(std::filesystem::exists(tmp.file("o.mp4")));
  std::filesystem::remove(tmp.file("big.mp4"));
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
}
