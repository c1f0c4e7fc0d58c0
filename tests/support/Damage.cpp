#include "support/Damage.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "support/Movies.h"
#include "support/Score.h"
#include "support/TestSupport.h"

namespace testsupport {
namespace {

uint64_t number(const uint8_t* p, int n, bool little = false) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i) v = v << 8 | p[little ? n - 1 - i : i];
  return v;
}

Range region(const std::string& original, const std::vector<uint8_t>& bytes, const std::string& within) {
  if (within == "file") return {0, bytes.size()};
  if (within.starts_with("video#")) {
    auto ps = packets(original, "v:0");
    std::sort(ps.begin(), ps.end(), [](const Packet& a, const Packet& b) { return a.pos < b.pos; });
    const size_t n = std::stoul(within.substr(6));
    if (n < ps.size()) return {ps[n].pos, ps[n].pos + ps[n].size};
  }
  for (const auto& b : topLevelBoxes(bytes))
    if (b.type == within) return {b.offset, std::min<uint64_t>(b.offset + b.size, bytes.size())};
  throw std::invalid_argument("no " + within + " in " + original);
}

// Where the operation's blocks, or its cut, begin in the original.
std::vector<uint64_t> starts(const Damage& d, Range r, uint64_t length) {
  if (length > r.second - r.first) throw std::invalid_argument("damage longer than its region");
  if (d.at.empty()) return {d.offset >= 0 ? r.first + uint64_t(d.offset) : r.second - uint64_t(-d.offset)};
  std::vector<uint64_t> out;
  for (double a : d.at) {
    const double point = double(r.first) + a * double(r.second - r.first) - double(length) / 2;
    out.push_back(d.kind == Damage::Truncate
                      ? uint64_t(point)
                      : std::clamp(uint64_t(std::llround(std::max(0.0, point))), r.first, r.second - length));
  }
  return out;
}

}  // namespace

std::vector<Box> topLevelBoxes(const std::vector<uint8_t>& b) {
  std::vector<Box> out;
  const bool riff = b.size() >= 12 && std::equal(b.begin(), b.begin() + 4, "RIFF");
  for (uint64_t at = riff ? 12 : 0; at + 8 <= b.size(); at += out.back().size) {
    Box box{std::string(b.begin() + long(riff ? at : at + 4), b.begin() + long(riff ? at + 4 : at + 8)), at};
    if (riff) {
      box.size = 8 + number(&b[at + 4], 4, true) + (b[at + 4] & 1);
      if (box.type == "LIST" && at + 12 <= b.size())
        box.type.assign(b.begin() + long(at + 8), b.begin() + long(at + 12));
    } else {
      box.size = number(&b[at], 4);
      if (box.size == 1 && at + 16 <= b.size()) box.size = number(&b[at + 8], 8);
      if (box.size == 0) box.size = b.size() - at;
      if (box.size < 8) break;
    }
    out.push_back(box);
  }
  return out;
}

std::vector<Range> damage(const std::string& original, const std::vector<Damage>& ops, const std::string& damaged) {
  const std::vector<uint8_t> source = readFile(original);
  std::vector<uint8_t> buf = source;
  // Positions are the original's; earlier inserts, removals and cuts move them in the copy.
  std::vector<std::pair<uint64_t, int64_t>> edits;  // where, bytes inserted (> 0) or removed (< 0)
  auto moved = [&](uint64_t x) {
    for (auto [at, n] : edits) {
      if (n > 0 && x >= at) x += uint64_t(n);
      if (n < 0) x = x >= at + uint64_t(-n) ? x - uint64_t(-n) : std::min(x, at);
    }
    return std::min<uint64_t>(x, buf.size());
  };
  std::vector<Range> destroyed;
  for (const auto& d : ops) {
    const Range r = region(original, source, d.within);
    const uint64_t length = d.kind == Damage::Remove && d.length == 0 ? r.second - r.first : d.length;
    auto from = starts(d, r, length);
    std::sort(from.rbegin(), from.rend());  // back to front, so that the earlier ones stay where they were
    std::mt19937 random(d.seed);
    std::vector<uint8_t> junk(length);
    for (uint64_t s : from) {
      const uint64_t at = moved(s), end = d.kind == Damage::Truncate ? buf.size() : std::min(at + length, buf.size());
      std::generate(junk.begin(), junk.end(), [&random] { return uint8_t(random()); });
      if (d.kind == Damage::Insert) {
        buf.insert(buf.begin() + long(at), junk.begin(), junk.end());
        edits.push_back({at, int64_t(length)});
        continue;
      }
      destroyed.push_back({s, d.kind == Damage::Truncate ? source.size() : s + (end - at)});
      if (d.kind == Damage::Zero) std::fill(buf.begin() + long(at), buf.begin() + long(end), 0);
      if (d.kind == Damage::Random) std::copy_n(junk.begin(), end - at, buf.begin() + long(at));
      if (d.kind == Damage::Truncate || d.kind == Damage::Remove) {
        buf.erase(buf.begin() + long(at), buf.begin() + long(end));
        edits.push_back({at, -int64_t(end - at)});
      }
    }
  }
  writeFile(damaged, buf);
  std::sort(destroyed.begin(), destroyed.end());
  return destroyed;
}

const std::vector<Case>& standardCases() {
  const Damage noMovieBox{Damage::Truncate, "moov"};
  auto junk = [](std::vector<double> at, uint64_t length, uint32_t seed, const char* within = "mdat") {
    return Damage{Damage::Random, within, std::move(at), 0, length, seed};
  };
  static const std::vector<Case> cases = {
      {"h264_aac_mp4", "h264_aac_mp4", {noMovieBox}},
      // The file type, the wide box and the media data header go with the first 32 KiB.
      {"h264_aac_mov_zeroed", "h264_aac_mov", {noMovieBox, {Damage::Zero, "file", {}, 0, 32 << 10}}},
      {"h264_aac_junk", "h264_aac_12s", {junk({0.25, 0.5, 0.75}, 200 << 10, 7), noMovieBox}},
      {"h264_baseline_multislice", "h264_baseline_multislice", {noMovieBox}},
      {"h264_baseline_multislice_aac", "h264_baseline_multislice_aac", {noMovieBox}},
      {"h264_sowt_mov", "h264_sowt_mov", {noMovieBox}},
      {"h264_twos_mov", "h264_twos_mov", {noMovieBox}},
      {"h264_aac_tmcd_mov", "h264_aac_tmcd_mov", {noMovieBox}},
      {"h264_sowt_tmcd_mov", "h264_sowt_tmcd_mov", {noMovieBox}},
      {"h264_lpcm_mov", "h264_lpcm_mov", {noMovieBox}},
      {"hevc_aac_mp4", "hevc_aac_mp4", {noMovieBox}},
      {"h264_interlaced_tff_aac", "h264_interlaced_tff_aac", {noMovieBox}},
      {"h264_interlaced_bff_aac", "h264_interlaced_bff_aac", {noMovieBox}},
      {"h264_interlaced_tff_sowt_mov", "h264_interlaced_tff_sowt_mov", {noMovieBox}},
      {"h264_interlaced_bff_sowt_mov", "h264_interlaced_bff_sowt_mov", {noMovieBox}},
      {"h264_interlaced_tff_twos_mov", "h264_interlaced_tff_twos_mov", {noMovieBox}},
      {"h264_interlaced_bff_twos_mov", "h264_interlaced_bff_twos_mov", {noMovieBox}},
      // Pictures and audio of the middle of the recording zeroed.
      {"h264_interlaced_sowt_zeroed",
       "h264_interlaced_bff_sowt_mov",
       {noMovieBox, {Damage::Zero, "mdat", {0.5}, 0, 96 << 10}}},
      // The movie box stays, so the damaged file can describe itself.
      {"self_reference", "h264_aac_12s", {junk({0.5}, 1 << 20, 13)}, true},
      {"h264_aac_m4v_ntsc_mono", "h264_aac_m4v_ntsc_mono", {noMovieBox}},
      {"avi_mpeg4_pcm", "avi_mpeg4_pcm", {{Damage::Truncate, "file", {0.95}}}},
      {"avi_mjpeg_junk", "avi_mjpeg_pcm", {junk({0.5}, 1 << 20, 21, "movi")}},
      {"hevc_1080p_aac_mp4", "hevc_1080p_aac_mp4", {noMovieBox}},
      {"hevc_sowt_mov", "hevc_sowt_mov", {noMovieBox}},
      {"hevc_slices_aac_mp4", "hevc_slices_aac_mp4", {noMovieBox}},
      {"hevc_aac_junk", "hevc_aac_8s", {junk({0.25, 0.5, 0.75}, 100 << 10, 5), noMovieBox}},
  };
  return cases;
}

const Case& standardCase(const std::string& name) {
  for (const auto& c : standardCases())
    if (c.name == name) return c;
  throw std::invalid_argument("no standard case " + name);
}

MadeCase makeCase(const Case& c, const std::string& dir) {
  const Recipe& r = recipe(c.recipe);
  const Movie m = makeMovie(r);
  std::filesystem::create_directories(dir);
  MadeCase made{m.original, m.reference, dir + "/damaged." + r.container};
  made.destroyed = damage(m.original, c.damage, made.damaged);
  if (c.selfReference) made.reference = made.damaged;
  return made;
}

}  // namespace testsupport
