#include "support/Score.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>
#include <numeric>
#include <set>
#include <sstream>

#include "support/TestSupport.h"

namespace testsupport {
using nlohmann::json;

namespace {

// stdout of a command; what it says on stderr is dropped.
std::string output(const std::string& command) { return runCommand("{ " + command + " 2>/dev/null; }").output; }

// Edit lists of the QuickTime family neither hide nor add frames.
std::string input(const std::string& path) {
  const bool avi = path.ends_with(".avi") || path.ends_with(".AVI");
  return std::string(" -threads 1") + (avi ? "" : " -ignore_editlist 1") + " -i " + shellQuote(path);
}

// The MD5 field of each line (AAC packets add side data after it).
std::vector<std::string> framemd5(const std::string& path, const std::string& args) {
  std::istringstream in(output("ffmpeg -nostdin -hide_banner -v error" + input(path) + args + " -f framemd5 -"));
  std::vector<std::string> hashes;
  char md5[33];
  for (std::string line; std::getline(in, line);)
    if (std::sscanf(line.c_str(), "%*[^,],%*[^,],%*[^,],%*[^,],%*[^,], %32[0-9a-f]", md5) == 1) hashes.emplace_back(md5);
  return hashes;
}

size_t lcs(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  std::vector<size_t> row(b.size() + 1, 0);
  for (const auto& x : a) {
    for (size_t j = 0, diagonal = 0; j < b.size(); ++j) {
      const size_t up = row[j + 1];
      row[j + 1] = x == b[j] ? diagonal + 1 : std::max(up, row[j]);
      diagonal = up;
    }
  }
  return row.back();
}

Match match(const std::vector<std::string>& original, const std::vector<std::string>& repaired) {
  const std::set<std::string> known(original.begin(), original.end());
  Match m{original.size(), repaired.size()};
  m.matching = size_t(std::count_if(repaired.begin(), repaired.end(), [&](auto& h) { return known.count(h) > 0; }));
  m.foreign = m.repaired - m.matching;
  m.lcs = lcs(original, repaired);
  return m;
}

// How many of `want` are not found in `have` one after the other. Hashes are joined with a line
// end after each, so that one search serves them and raw PCM alike.
size_t missingInOrder(const std::vector<std::string>& want, const std::string& have) {
  size_t missing = 0;
  for (size_t at = 0; const auto& w : want) {
    const size_t found = have.find(w, at);
    missing += found == std::string::npos ? 1 : 0;
    at = found == std::string::npos ? at : found + w.size();
  }
  return missing;
}
std::string lines(const std::vector<std::string>& hashes) {
  std::string all;
  for (const auto& h : hashes) all += h + "\n";
  return all;
}

// MD5s in decoding or display order, only those in `keep` when given.
std::vector<std::string> order(std::vector<Packet> ps, bool display, const std::set<std::string>* keep = nullptr) {
  std::stable_sort(ps.begin(), ps.end(),
                   [display](auto& a, auto& b) { return display ? a.pts < b.pts : a.dts < b.dts; });
  std::vector<std::string> out;
  for (const auto& p : ps)
    if (!keep || keep->count(p.md5)) out.push_back(p.md5);
  return out;
}

// Recovered samples keep the recording's decoding order, display order (no two at one time) and
// sync samples, and the edit list hides none that the recording showed.
void expectInOrder(const std::vector<Packet>& original, const std::vector<Packet>& genuine,
                   const std::vector<Packet>& repaired) {
  std::set<std::string> recovered, originalKeys, repairedKeys, shown;
  for (const auto& p : genuine) recovered.insert(p.md5);
  EXPECT_EQ(order(genuine, false), order(original, false, &recovered)) << "decoding order";
  EXPECT_EQ(order(genuine, true), order(original, true, &recovered)) << "display order";
  std::set<int64_t> times;
  for (const auto& p : repaired) EXPECT_TRUE(times.insert(p.pts).second) << "two samples shown at " << p.pts;
  for (const auto& p : original) {
    if (p.key && recovered.count(p.md5)) originalKeys.insert(p.md5);
    if (!p.discarded) shown.insert(p.md5);
  }
  for (const auto& p : genuine) {
    if (p.key) repairedKeys.insert(p.md5);
    EXPECT_FALSE(p.discarded && shown.count(p.md5)) << "sample at " << p.pts << " hidden by the edit list";
  }
  EXPECT_FALSE(repairedKeys.empty());
  EXPECT_EQ(repairedKeys, originalKeys) << "sync samples";
}

}  // namespace

std::vector<Packet> packets(const std::string& path, const std::string& streams) {
  json j = json::parse(output("ffprobe -v error -select_streams " + streams +
                              " -show_packets -show_data_hash MD5 -show_entries "
                              "packet=pts,dts,flags,pos,size,data_hash -of json " +
                              shellQuote(path)),
                       nullptr, false);
  std::vector<Packet> out;
  auto number = [](const json& p, const char* key) {  // times are numbers, positions strings
    return !p.contains(key) ? INT64_MIN : p[key].is_string() ? std::stoll(p[key].get<std::string>()) : int64_t(p[key]);
  };
  for (const auto& p : j.is_discarded() ? json::array() : j.value("packets", json::array())) {
    const std::string flags = p.value("flags", "");
    out.push_back({flags.find('K') != std::string::npos, flags.find('D') != std::string::npos, number(p, "pts"),
                   number(p, "dts"), uint64_t(number(p, "pos")), uint64_t(number(p, "size")),
                   p.value("data_hash", "")});
  }
  return out;
}

Match Score::video() const { return match(originalFrames, repairedFrames); }
Match Score::audio() const { return match(originalAudio, repairedAudio); }

std::string Score::summary() const {
  std::ostringstream s;
  const Match v = video(), a = audio();
  s.precision(1);
  s << std::fixed << "video " << v.lcs << "/" << v.original << " (" << v.percent() << "%) repaired " << v.repaired
    << " frames, " << v.foreign << " foreign | ";
  if (!audioCodec.empty()) s << "audio " << a.lcs << "/" << a.original << " packets (" << a.percent() << "%) | ";
  s << (audioCodec.empty() ? "no audio | " : "") << "decode errors " << decodeErrors.size();
  return s.str();
}

Score score(const std::string& original, const std::string& repaired) {
  Score s;
  json j = json::parse(
      output("ffprobe -v error -show_entries stream=codec_type,codec_name,pix_fmt -of json " + shellQuote(original)),
      nullptr, false);
  for (const auto& st : j.is_discarded() ? json::array() : j.value("streams", json::array())) {
    if (st.value("codec_type", "") == "video" && s.pixFmt.empty()) s.pixFmt = st.value("pix_fmt", "yuv420p");
    if (st.value("codec_type", "") == "audio" && s.audioCodec.empty()) s.audioCodec = st.value("codec_name", "?");
  }
  const std::string video = " -map 0:v:0 -fps_mode passthrough -pix_fmt " + s.pixFmt;
  s.originalFrames = framemd5(original, video);
  s.repairedFrames = framemd5(repaired, video);
  if (!s.audioCodec.empty()) {
    s.originalAudio = framemd5(original, " -map 0:a:0 -c copy");
    s.repairedAudio = framemd5(repaired, " -map 0:a:0 -c copy");
  }
  auto decoded = runCommand("ffmpeg -nostdin -v error -i " + shellQuote(repaired) + " -f null -");
  s.decodeExit = decoded.exitCode;
  std::istringstream text(decoded.output);
  for (std::string line; std::getline(text, line);)
    if (line.find_first_not_of(" \r") != std::string::npos) s.decodeErrors.push_back(line);
  return s;
}

Ceiling ceiling(const std::vector<Packet>& video, const std::vector<Packet>& audio,
                const std::vector<Range>& destroyed) {
  auto lost = [&](uint64_t from, uint64_t to) {
    return std::any_of(destroyed.begin(), destroyed.end(), [&](auto& r) { return from < r.second && to > r.first; });
  };
  auto hit = [&](const Packet& p) { return lost(p.pos, p.pos + p.size); };
  Ceiling c{std::vector<bool>(video.size()), std::vector<bool>(audio.size()), std::vector<bool>(audio.size())};
  std::vector<Packet> media = video;
  media.insert(media.end(), audio.begin(), audio.end());
  for (const auto& r : destroyed)
    c.hits +=
        std::any_of(media.begin(), media.end(), [&](auto& p) { return p.pos < r.second && p.pos + p.size > r.first; });
  // In decoding order everything after a lost packet of a group of pictures is lost with it, and
  // so are the leading pictures of the next group, which may refer back into it.
  std::vector<size_t> byDts(video.size());
  std::iota(byDts.begin(), byDts.end(), 0);
  std::stable_sort(byDts.begin(), byDts.end(), [&](size_t a, size_t b) { return video[a].dts < video[b].dts; });
  bool groupLost = false, previousLost = false;
  int64_t keyPts = INT64_MIN;
  for (size_t i : byDts) {
    if (video[i].key) previousLost = groupLost, groupLost = false, keyPts = video[i].pts;
    groupLost = groupLost || hit(video[i]);
    c.video[i] = !groupLost && !(previousLost && video[i].pts < keyPts);
  }
  // Audio between two surviving video packets with nothing lost between them is what a search of
  // the gaps between recovered video finds.
  std::vector<Range> kept;
  for (const auto& p : video)
    if (!hit(p)) kept.push_back({p.pos, p.pos + p.size});
  std::sort(kept.begin(), kept.end());
  for (size_t i = 0; i < audio.size(); ++i) {
    c.audio[i] = !hit(audio[i]);
    auto next = std::lower_bound(kept.begin(), kept.end(), Range{audio[i].pos, 0});
    c.audioInside[i] =
        c.audio[i] && next != kept.begin() && next != kept.end() && !lost((next - 1)->second, next->first);
  }
  return c;
}

void expectReachesCeiling(const std::string& original, const std::string& repaired, const std::vector<Range>& destroyed,
                          const Expect& expect) {
  const Score s = score(original, repaired);
  SCOPED_TRACE(s.summary());
  const auto ov = packets(original, "v:0"), oa = packets(original, "a:0");
  const auto rv = packets(repaired, "v:0"), ra = packets(repaired, "a:0");
  const Ceiling c = ceiling(ov, oa, destroyed);

  // The n-th decoded frame is the packet with the n-th display time.
  std::vector<size_t> byPts(ov.size());
  std::iota(byPts.begin(), byPts.end(), 0);
  std::stable_sort(byPts.begin(), byPts.end(), [&](size_t a, size_t b) { return ov[a].pts < ov[b].pts; });
  ASSERT_EQ(byPts.size(), s.originalFrames.size()) << "the recording's packets and frames differ";
  std::vector<std::string> frames;
  for (size_t k = 0; k < byPts.size(); ++k)
    if (c.video[byPts[k]]) frames.push_back(s.originalFrames[k] + "\n");
  EXPECT_LE(missingInOrder(frames, lines(s.repairedFrames)), expect.missingFrames)
      << "of " << frames.size() << " frames";
  if (c.hits == 0 && expect.cleanDecode) {
    EXPECT_LE(s.video().foreign, expect.foreign);
    EXPECT_TRUE(s.decodeErrors.empty()) << s.decodeErrors.front();
  }
  EXPECT_TRUE(!expect.cleanDecode || s.decodeExit == 0) << "decoding stops early";

  // Junk that passes for a sample makes at most one per destroyed range.
  std::set<std::string> known, reachable;
  for (const auto& p : packets(original, "v")) known.insert(p.md5);
  for (size_t i = 0; i < ov.size(); ++i)
    if (c.video[i]) reachable.insert(ov[i].md5);
  std::vector<Packet> genuine;
  for (const auto& p : rv)
    if (reachable.count(p.md5)) genuine.push_back(p);
  EXPECT_LE(size_t(std::count_if(rv.begin(), rv.end(), [&](auto& p) { return !known.count(p.md5); })),
            c.hits + expect.foreign)
      << "samples that are not the recording's";
  expectInOrder(ov, genuine, rv);

  // PCM may be chunked anew, so its bytes are looked for in the repaired audio as one stream.
  const bool pcm = s.audioCodec.starts_with("pcm_");
  const auto bytes = pcm ? readFile(original) : std::vector<uint8_t>();
  const std::string stream =
      pcm ? output("ffmpeg -nostdin -v error" + input(repaired) + " -map 0:a:0 -c copy -f data -") : "";
  std::vector<std::string> want, have;
  for (size_t i = 0; i < oa.size(); ++i)
    if (c.audio[i] && (c.audioInside[i] || expect.audioOutsideVideo))
      want.push_back(pcm ? std::string(bytes.begin() + long(oa[i].pos), bytes.begin() + long(oa[i].pos + oa[i].size))
                         : oa[i].md5 + "\n");
  for (const auto& p : ra) have.push_back(p.md5);
  EXPECT_LE(missingInOrder(want, pcm ? stream : lines(have)), expect.missingAudio)
      << "of " << want.size() << " audio packets";
  if (!pcm) {
    std::set<std::string> recorded;
    for (const auto& p : oa) recorded.insert(p.md5);
    EXPECT_LE(size_t(std::count_if(ra.begin(), ra.end(), [&](auto& p) { return !recorded.count(p.md5); })),
              c.hits + expect.foreignAudio)
        << "audio packets that are not the recording's";
  }
}

}  // namespace testsupport
