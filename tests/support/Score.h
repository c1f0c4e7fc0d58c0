#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/Damage.h"

namespace testsupport {

struct Packet {
  bool key = false;
  bool discarded = false;  // hidden by the edit list
  int64_t pts = 0;
  int64_t dts = 0;
  uint64_t pos = 0;
  uint64_t size = 0;
  std::string md5;
};
// The packets of the streams ffprobe selects with `streams` ("v:0", "a:0", "v"), with an MD5 of
// their bytes, in file order.
std::vector<Packet> packets(const std::string& path, const std::string& streams);

// How much of one sequence of hashes a repaired file holds.
struct Match {
  size_t original = 0, repaired = 0, matching = 0, foreign = 0, lcs = 0;
  double percent() const { return original ? 100.0 * double(lcs) / double(original) : 0; }
};

// A repaired file against the undamaged recording: decoded video frames (display order, in the
// recording's pixel format) and audio packets of the first streams, and the decode errors.
struct Score {
  std::string pixFmt, audioCodec;
  std::vector<std::string> originalFrames, repairedFrames;
  std::vector<std::string> originalAudio, repairedAudio;
  std::vector<std::string> decodeErrors;
  int decodeExit = 0;
  Match video() const;
  Match audio() const;
  std::string summary() const;
};
Score score(const std::string& original, const std::string& repaired);

// What a repair can recover at best once the bytes in `destroyed` are gone.
struct Ceiling {
  std::vector<bool> video;        // per video packet: its bytes and those of its references survived
  std::vector<bool> audio;        // per audio packet: its bytes survived
  std::vector<bool> audioInside;  // ... and it lies between two surviving video packets, nothing lost between
  size_t hits = 0;                // destroyed ranges that hit a packet
};
Ceiling ceiling(const std::vector<Packet>& video, const std::vector<Packet>& audio,
                const std::vector<Range>& destroyed);

struct Expect {
  bool audioOutsideVideo = true;  // also the audio before the first, after the last or next to lost video
  size_t foreign = 0;              // frames and samples that are not the recording's, beyond one per lost range
  size_t foreignAudio = 0;         // AAC packets that are not the recording's, beyond one per lost range
  // Known gaps of the engine, measured so that they cannot grow unseen:
  size_t missingFrames = 0, missingAudio = 0;  // of the ceiling
  bool cleanDecode = true;                     // no decode error when nothing was lost, else decoding runs to the end
};
// The repair reaches its ceiling: every frame of the ceiling bit-exact and in display order, its
// samples in the recording's decoding and display order with its sync samples, the audio of the
// ceiling present; no foreign frame and no decode error when nothing was destroyed.
void expectReachesCeiling(const std::string& original, const std::string& repaired, const std::vector<Range>& destroyed,
                          const Expect& expect = {});

}  // namespace testsupport
