// Damaged recordings repaired through the command line. Each is held to what its damage left
// recoverable: every picture and audio packet whose bytes (and references) survived comes back
// bit-exact, in the recording's order and with its sync samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "support/Damage.h"
#include "support/Movies.h"
#include "support/Score.h"
#include "support/TestSupport.h"

using nlohmann::json;
using testsupport::Damage;
using testsupport::runCommand;
using testsupport::shellQuote;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

struct Repair {
  int exitCode = -1;
  std::string output;
  json report;
};

Repair repair(const std::string& damaged, const std::string& reference, const std::string& out) {
  std::string command = shellQuote(testsupport::executablePath()) + " repair " + shellQuote(damaged);
  if (!reference.empty()) command += " --reference " + shellQuote(reference);
  auto r = runCommand("{ " + command + " --output " + shellQuote(out) + " --json 2>/dev/null; }");
  return {r.exitCode, r.output, json::parse(r.output, nullptr, false)};
}

struct Row {
  std::string name;
  std::string recording;  // a standard recipe, or corpus/<file>
  std::vector<Damage> damage;
  std::string reference = {};  // the recipe's reference or the corpus file itself; "damaged"; corpus/<file>
  std::string video = "AVC1";
  testsupport::Expect expect = {};
  bool cutInsideAPicture = false;
  std::string knownGap = {};  // what the engine does not do yet (`expect` measures it); the row ends skipped
};
void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

Row standard(const std::string& name, const std::string& video = "AVC1", testsupport::Expect expect = {},
             const std::string& knownGap = {}) {
  const auto& c = testsupport::standardCase(name);
  return {name, c.recipe, c.damage, c.selfReference ? "damaged" : "", video, expect, false, knownGap};
}

const Damage kNoMovieBox{Damage::Truncate, "moov"};
const Damage kMovieBoxTakenOut{Damage::Remove, "moov"};
// A cut through the 41st picture in file order, leaving `keep` of it.
Damage cutThroughPicture(double keep) { return {Damage::Truncate, "video#40", {keep}}; }

Row camera(const std::string& file, const std::string& video, const Damage& damage, const std::string& reference = {},
           testsupport::Expect expect = {}, const std::string& knownGap = {}) {
  const std::string name = file.substr(0, file.find('.')) + (reference.empty() ? "" : "_other_reference");
  return {name, "corpus/" + file, {damage}, reference, video, expect, false, knownGap};
}

class Repairs : public ::testing::TestWithParam<Row> {};

}  // namespace

TEST_P(Repairs, ReachWhatTheDamageLeft) {
  const Row& row = GetParam();
  std::string original, reference;
  if (row.recording.starts_with("corpus/")) {
    for (const auto& file : {row.recording, row.reference.empty() ? row.recording : row.reference})
      if (auto why = testsupport::corpusMissing(file.substr(7), "the repair of " + row.name); !why.empty())
        GTEST_SKIP() << why;
    original = testsupport::corpusDir() + "/" + row.recording.substr(7);
    reference = row.reference.empty() ? original : testsupport::corpusDir() + "/" + row.reference.substr(7);
  } else {
    const auto movie = testsupport::makeMovie(testsupport::recipe(row.recording));
    original = movie.original;
    reference = movie.reference;
  }
  TempDir tmp;
  const std::string ext = fs::path(original).extension().string();
  const std::string damaged = tmp.file("damaged" + ext), out = tmp.file("repaired" + ext);
  const auto destroyed = testsupport::damage(original, row.damage, damaged);
  Repair r = repair(damaged, row.reference == "damaged" ? damaged : reference, out);
  ASSERT_EQ(r.exitCode, 0) << r.output;
  ASSERT_FALSE(r.report.is_discarded()) << r.output;
  EXPECT_EQ(r.report["outcome"], "repaired");
  EXPECT_EQ(r.report["attributes"]["video"], row.video);
  EXPECT_EQ(r.report["outputSize"].get<uint64_t>(), fs::file_size(out));
  // One video track however many the reference had, and one audio track when there was audio.
  EXPECT_EQ(r.report["attributes"]["track"], testsupport::packets(original, "a:0").empty() ? "1" : "2");
  EXPECT_TRUE(testsupport::packets(out, "v:1").empty()) << "a second video track";
  testsupport::expectReachesCeiling(original, out, destroyed, row.expect);

  if (row.cutInsideAPicture) {
    // The picture the cut went through is the last sample, padded to the length it claimed.
    auto before = testsupport::packets(original, "v:0");
    const auto after = testsupport::packets(out, "v:0");
    std::sort(before.begin(), before.end(), [](auto& a, auto& b) { return a.pos < b.pos; });
    const uint64_t cut = destroyed.front().first;
    auto victim = std::find_if(before.begin(), before.end(), [&](auto& p) { return p.pos + p.size > cut; });
    ASSERT_FALSE(after.empty());
    auto last = std::max_element(after.begin(), after.end(), [](auto& a, auto& b) { return a.pos < b.pos; });
    EXPECT_EQ(last->size, victim->size);
    EXPECT_EQ(after.size(), size_t(victim - before.begin()) + 1);
  }
  if (!row.knownGap.empty()) GTEST_SKIP() << "known gap: " << row.knownGap;
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, Repairs,
    ::testing::Values(
        standard("h264_aac_mp4"), standard("h264_aac_mov_zeroed"), standard("h264_aac_junk"),
        standard("h264_baseline_multislice"), standard("h264_baseline_multislice_aac"), standard("h264_aac_tmcd_mov"),
        // PCM is kept before the first and after the last video chunk too, and beside a timecode
        // sample (which lies ahead of the first video chunk) the gaps hold nothing but sound.
        standard("h264_sowt_mov"), standard("h264_twos_mov"), standard("h264_sowt_tmcd_mov"), standard("h264_lpcm_mov"),
        standard("self_reference"), standard("h264_aac_m4v_ntsc_mono"),
        // MBAFF frames, each behind a picture timing message: in either field order, with and
        // without B-frames, beside each kind of audio.
        standard("h264_interlaced_tff_aac"), standard("h264_interlaced_bff_aac"),
        standard("h264_interlaced_tff_sowt_mov"), standard("h264_interlaced_bff_sowt_mov"),
        standard("h264_interlaced_tff_twos_mov"), standard("h264_interlaced_bff_twos_mov"),
        standard("h264_interlaced_sowt_zeroed"), standard("hevc_aac_mp4", "HVC1"),
        standard("hevc_1080p_aac_mp4", "HVC1"), standard("hevc_sowt_mov", "HVC1"),
        standard("hevc_slices_aac_mp4", "HVC1"), standard("hevc_aac_junk", "HVC1"),
        // Audio alone before the first and after the last video chunk: an engine that searches only
        // the gaps between video chunks misses it.
        Row{"audio_outside_the_video", "h264_aac_audio_outside", {kNoMovieBox}, "", "AVC1", {}},
        // With three slices a picture the cut falls into the last unit of a run; in the 1080p movie
        // every picture is a chunk of its own, so the cut picture is a lone unit that only its
        // order count vouches for.
        Row{"hevc_cut_in_the_last_slice", "hevc_slices_aac_mp4", {cutThroughPicture(5.0 / 6)}, "", "HVC1", {}, true},
        Row{"hevc_cut_lone_picture", "hevc_1080p_aac_mp4", {cutThroughPicture(1.0 / 3)}, "", "HVC1", {}, true},
        Row{"h264_cut_inside_a_picture", "h264_aac_mp4", {cutThroughPicture(0.5)}, "", "AVC1", {}, true}),
    [](const auto& info) { return info.param.name; });

// Camera recordings that lost their movie box, wherever it was: in-band parameter sets, SEI,
// Main 10, several tracks, 64-bit chunk offsets, PCM either way round and in a version-2 description.
INSTANTIATE_TEST_SUITE_P(
    Corpus, Repairs,
    ::testing::Values(
        // Lone AAC frames between frame descriptions and telemetry; in the first, a description
        // ahead of the first picture holds a chance slice.
        camera("gopro_hero5_karma_HD5.mp4", "AVC1", kNoMovieBox), camera("gopro_hero7_HD7.mp4", "AVC1", kNoMovieBox),
        camera("gopro_max_heromode_H19.mp4", "AVC1", kNoMovieBox),
        // A reference from another camera of the same coding parameters.
        camera("gopro_hero7_HD7.mp4", "AVC1", kNoMovieBox, "corpus/gopro_max_heromode_H19.mp4"),
        // Its movie's tables hold two AAC frames more than ffprobe lists: they count as not the recording's.
        camera("iphone6_gps.mov", "AVC1", kNoMovieBox, "", {.foreignAudio = 2}),
        camera("flir_one_thermal.mp4", "AVC1", kNoMovieBox), camera("phone_3gp5_avc720p_co64.mp4", "AVC1", kNoMovieBox),
        camera("lavf_avc1080p50_sowt.mov", "AVC1", kNoMovieBox), camera("lavf_avc720p_twos.mov", "AVC1", kNoMovieBox),
        // All the sound is one chunk ahead of the video, followed by two metadata tracks' chunks.
        camera("iphone6s_livephoto_lpcm.mov", "AVC1", kNoMovieBox),
        // Audio after the last video chunk, or before the first of a movie of one chunk, and
        // (Apple, Android) silent AAC frames of a few bytes at the start.
        camera("android12_avc_4k60_portrait.mp4", "AVC1", kNoMovieBox),
        camera("android_hevc_mett_track.mp4", "HVC1", kNoMovieBox),
        camera("x264_lavf53_v1.mp4", "AVC1", kMovieBoxTakenOut),
        camera("x264_lavf53_v3.mp4", "AVC1", kMovieBoxTakenOut),
        // Slow motion: every picture wrapped in a prefix unit; AAC frames of more than 1024 bytes.
        camera("samsung_sef_slowmo.mp4", "AVC1", kNoMovieBox),
        camera("apple_hevc_main10_moovfirst.mp4", "HVC1", kMovieBoxTakenOut),
        camera("android14_hevc_hlg10_moovfirst.mp4", "HVC1", kMovieBoxTakenOut),
        camera("iphone14pro_dolbyvision_hevc.mov", "HVC1", kMovieBoxTakenOut),
        // The still picture of the second H.265 track lies among the movie's pictures and is
        // taken in with them: two samples and a frame that are not the movie's.
        camera("pixel_motionphoto_2hevc.mp4", "HVC1", kMovieBoxTakenOut, "", {.foreign = 2})),
    [](const auto& info) { return info.param.name; });

// A reference of the other video standard accepts none of the damaged file's units: the job
// fails with "No Sample Found" and leaves no file behind, whichever way round.
TEST(OtherStandard, ReferenceFindsNothing) {
  TempDir tmp;
  const auto hevc = testsupport::makeCase(testsupport::standardCase("hevc_aac_mp4"), tmp.file("hevc"));
  const auto avc = testsupport::makeCase(testsupport::standardCase("h264_aac_mp4"), tmp.file("avc"));
  for (const auto& [damaged, reference] : {std::pair{hevc.damaged, avc.reference}, {avc.damaged, hevc.reference}}) {
    Repair r = repair(damaged, reference, tmp.file("out.mp4"));
    EXPECT_EQ(r.exitCode, 1) << damaged << "\n" << r.output;
    ASSERT_FALSE(r.report.is_discarded()) << r.output;
    EXPECT_EQ(r.report["outcome"], "error") << r.output;
    EXPECT_EQ(r.report["error"].value("code", 0), 101) << r.output;
    EXPECT_FALSE(fs::exists(tmp.file("out.mp4")));
  }
}

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
  TempDir tmp;
  const auto c = testsupport::makeCase(testsupport::standardCase("h264_aac_mp4"), tmp.file("case"));
  fs::create_directory(tmp.file("out"));
  Repair r = repair(c.damaged, "", tmp.file("out/o.mp4"));
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.report["outcome"], "reference-needed");
  EXPECT_TRUE(fs::is_empty(tmp.file("out")));
}

TEST(CommandLine, InterruptStopsTheJobAndLeavesNoOutput) {
  // A large damaged input keeps the job busy long enough to be interrupted.
  TempDir tmp;
  const auto c = testsupport::makeCase(testsupport::standardCase("h264_aac_junk"), tmp.file("case"));
  std::vector<uint8_t> big;
  const auto part = testsupport::readFile(c.damaged);
  for (int i = 0; i < 40; ++i) big.insert(big.end(), part.begin(), part.end());
  fs::remove_all(tmp.file("case"));
  testsupport::writeFile(tmp.file("big.mp4"), big);
  auto r = runCommand(shellQuote(testsupport::executablePath()) + " repair " + shellQuote(tmp.file("big.mp4")) +
                      " --reference " + shellQuote(c.reference) + " --output " + shellQuote(tmp.file("o.mp4")) +
                      " --json 2>/dev/null & pid=$!; sleep 0.5; kill -INT $pid; wait $pid");
  EXPECT_EQ(r.exitCode, 130) << r.output;
  EXPECT_NE(r.output.find("\"interrupted\""), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(tmp.file("o.mp4")));
  fs::remove(tmp.file("big.mp4"));
  EXPECT_TRUE(fs::is_empty(tmp.path()));
}
