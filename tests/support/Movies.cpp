#include "support/Movies.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "support/TestSupport.h"

namespace testsupport {
namespace fs = std::filesystem;

namespace {

// x264 and x265 shape the bitstream after their thread count, which would otherwise follow the
// machine: every encode runs on one thread (x265 keeps a pool thread where it asks for one).
std::string x265(const std::string& preset, const std::string& rate, std::string params) {
  if (params.find("pools=") == std::string::npos) params += ":pools=none";
  return "-preset " + preset + " -b:v " + rate + " -x265-params " + params + ":frame-threads=1:log-level=error";
}

std::string stereo(int seed, int frequency) {
  return "anoisesrc=seed=" + std::to_string(seed) +
         ":color=pink:amplitude=0.25:sample_rate=48000[l];sine=frequency=" + std::to_string(frequency) +
         ":sample_rate=48000[r];[l][r]amerge=inputs=2[out0]";
}

std::vector<Recipe> makeTable() {
  const std::string baseline = "-profile:v baseline -preset fast -b:v 1500k -g 50 -x264-params slices=4";
  const std::string gop = "keyint=50:min-keyint=25:bframes=3", hevc = "libx265", pcm = "pcm_s16le";
  // MBAFF frames in either field order, with B-frames in a pyramid or none.
  auto interlaced = [](const char* fieldOrder, bool bFrames) {
    return std::string("-profile:v main -preset fast -b:v 1500k -g 50 -bf ") + (bFrames ? "3" : "0") +
           " -x264-params cabac=1:interlaced=1:" + fieldOrder + "=1" + (bFrames ? ":b-pyramid=normal" : "");
  };
  // clang-format off
  return {
      {.name = "h264_aac_mp4"},
      {.name = "h264_aac_mov", .container = "mov", .reference = Content{"mandelbrot", "sine=frequency=1000", 2}},
      {.name = "h264_aac_12s", .original = {"testsrc2", stereo(3, 523), 12}},
      {.name = "h264_baseline_multislice", .videoArgs = baseline, .audioCodec = ""},
      {.name = "h264_baseline_multislice_aac", .container = "mov", .videoArgs = baseline,
       .original = {.video = "mandelbrot"}},
      {.name = "h264_sowt_mov", .container = "mov", .audioCodec = pcm, .audioArgs = "", .original = {.seconds = 4}},
      {.name = "h264_twos_mov", .container = "mov", .audioCodec = "pcm_s16be", .audioArgs = "",
       .original = {.seconds = 4}},
      {.name = "h264_aac_tmcd_mov", .container = "mov", .timecode = "00:00:00:00"},
      {.name = "h264_sowt_tmcd_mov", .container = "mov", .audioCodec = pcm, .audioArgs = "", .timecode = "00:00:00:00",
       .original = {.seconds = 4}},
      // Above 65535 Hz the muxer writes a version-2 "lpcm" description (24-bit here).
      {.name = "h264_lpcm_mov", .container = "mov", .audioCodec = "pcm_s24le", .audioRate = 96000, .audioArgs = "",
       .original = {.seconds = 4}},
      {.name = "h264_aac_m4v_ntsc_mono", .container = "m4v", .fps = "30000/1001", .audioRate = 44100,
       .audioChannels = 1, .audioArgs = "-b:a 96k",
       .original = {"testsrc2", "anoisesrc=seed=9:color=brown:amplitude=0.3", 5}},
      // Audio alone for the first second and the last: the video runs from 1 s to 5 s.
      {.name = "h264_aac_audio_outside", .original = {.videoFilter = "trim=duration=4,setpts=PTS+1/TB"}},
      {.name = "h264_interlaced_tff_aac", .videoArgs = interlaced("tff", true), .original = {.seconds = 4}},
      {.name = "h264_interlaced_bff_aac", .videoArgs = interlaced("bff", false), .original = {.seconds = 4}},
      // x264's own rate control and B-frames: here PCM bytes once began a run of two units whose
      // second reached past the end of the file.
      {.name = "h264_interlaced_tff_sowt_mov", .container = "mov", .videoArgs = "-x264-params interlaced=1:tff=1",
       .audioCodec = pcm, .audioArgs = "", .original = {.seconds = 4}},
      {.name = "h264_interlaced_bff_sowt_mov", .container = "mov", .videoArgs = interlaced("bff", false),
       .audioCodec = pcm, .audioArgs = "", .original = {.seconds = 4}},
      {.name = "h264_interlaced_tff_twos_mov", .container = "mov", .videoArgs = interlaced("tff", false),
       .audioCodec = "pcm_s16be", .audioArgs = "", .original = {.seconds = 4}},
      {.name = "h264_interlaced_bff_twos_mov", .container = "mov", .videoArgs = interlaced("bff", true),
       .audioCodec = "pcm_s16be", .audioArgs = "", .original = {.seconds = 4}},
      {.name = "hevc_aac_mp4", .videoCodec = hevc, .videoArgs = x265("fast", "1200k", gop), .videoTag = "hvc1"},
      {.name = "hevc_aac_8s", .videoCodec = hevc, .videoArgs = x265("superfast", "1200k", gop), .videoTag = "hvc1",
       .original = {.seconds = 8}},
      // Three B-frames in a pyramid and open groups of pictures; every picture is a chunk of its own.
      {.name = "hevc_1080p_aac_mp4", .size = "1920x1080", .videoCodec = hevc,
       .videoArgs = x265("ultrafast", "8M", "keyint=25:min-keyint=25:bframes=3:b-pyramid=1"), .videoTag = "hvc1",
       .original = {.seconds = 3}},
      {.name = "hevc_sowt_mov", .container = "mov", .videoCodec = hevc, .videoArgs = x265("superfast", "1200k", gop),
       .videoTag = "hvc1", .audioCodec = pcm, .audioArgs = "", .original = {.seconds = 4}},
      // Three slices per picture (wavefronts on one pool thread) and order counts that wrap every 64.
      {.name = "hevc_slices_aac_mp4", .videoCodec = hevc,
       .videoArgs = x265("superfast", "1500k", gop + ":pools=1:wpp=1:slices=3:log2-max-poc-lsb=6"), .videoTag = "hvc1",
       .original = {.seconds = 4}},
      {.name = "avi_mpeg4_pcm", .container = "avi", .videoCodec = "mpeg4", .videoArgs = "-b:v 1500k -g 50",
       .videoTag = "XVID", .audioCodec = pcm, .audioArgs = "", .original = {.seconds = 7}, .reference = std::nullopt},
      {.name = "avi_mjpeg_pcm", .container = "avi", .pixFmt = "yuvj420p", .videoCodec = "mjpeg", .videoArgs = "-q:v 10",
       .audioCodec = pcm, .audioArgs = "", .original = {.video = "mandelbrot"}, .reference = std::nullopt},
  };
  // clang-format on
}

// The whole ffmpeg command but its output path.
std::string encodeCommand(const Recipe& r, const Content& c) {
  const bool audio = !r.audioCodec.empty();
  const char* join = c.video.find('=') == std::string::npos ? "=" : ":";
  std::string s = "ffmpeg -nostdin -hide_banner -v error -y -f lavfi -i " +
                  shellQuote(c.video + join + "size=" + r.size + ":rate=" + r.fps);
  if (audio) s += " -f lavfi -i " + shellQuote(c.audio);
  s += " -t " + std::to_string(c.seconds) + " -map 0:v:0" + (audio ? " -map 1:a:0" : "");
  if (!c.videoFilter.empty()) s += " -filter:v " + shellQuote(c.videoFilter);
  s += " -c:v " + r.videoCodec + " -threads 1 " + r.videoArgs + " -pix_fmt " + r.pixFmt;
  if (!r.videoTag.empty()) s += " -tag:v " + r.videoTag;
  s += audio ? " -c:a " + r.audioCodec + " -ar " + std::to_string(r.audioRate) + " -ac " +
                   std::to_string(r.audioChannels) + " " + r.audioArgs
             : " -an";
  if (!r.timecode.empty()) s += " -timecode " + r.timecode;
  s += " -sn -dn -map_metadata -1 -map_chapters -1 -fflags +bitexact -flags:v +bitexact";
  return s + (audio ? " -flags:a +bitexact " : " ") + r.muxerArgs + " -f " +
         (r.container == "m4v" ? "ipod" : r.container) + " ";
}

}  // namespace

std::string moviesDir() {
  if (const char* env = std::getenv("QVR_MOVIES_DIR"); env && *env) return env;
  return binaryDir() + "/movies";
}

const std::vector<Recipe>& standardRecipes() {
  static const std::vector<Recipe> table = makeTable();
  return table;
}

const Recipe& recipe(const std::string& name) {
  for (const auto& r : standardRecipes())
    if (r.name == name) return r;
  throw std::invalid_argument("no standard recipe " + name);
}

Movie makeMovie(const Recipe& r) {
  const std::string original = encodeCommand(r, r.original);
  const std::string reference = r.reference ? encodeCommand(r, *r.reference) : "";
  std::ostringstream dir;
  dir << moviesDir() << "/" << r.name << "-" << std::hex << (std::hash<std::string>{}(original + reference) >> 24);
  const std::string at = dir.str(), ext = "." + r.container;
  fs::create_directories(moviesDir());
  const int lock = ::open((at + ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
  if (lock < 0 || ::flock(lock, LOCK_EX) != 0) throw std::runtime_error("cannot lock " + at + ".lock");
  std::string failure;
  if (!fs::exists(at)) {
    fs::remove_all(at + ".tmp");
    fs::create_directories(at + ".tmp");
    for (const auto& [command, name] : {std::pair{original, "original"}, {reference, "reference"}}) {
      auto run = command.empty() || !failure.empty() ? CommandResult{0, ""}
                                                     : runCommand(command + shellQuote(at + ".tmp/" + name + ext));
      if (run.exitCode != 0) failure = "making " + r.name + " failed: " + command + "\n" + run.output;
    }
    if (failure.empty()) fs::rename(at + ".tmp", at);
  }
  ::close(lock);
  if (!failure.empty()) throw std::runtime_error(failure);
  return {at + "/original" + ext, r.reference ? at + "/reference" + ext : ""};
}

}  // namespace testsupport
