#pragma once

#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// What one encoded file shows: lavfi sources (size and rate are appended to the video source;
// the audio graph labels its output [out0]).
struct Content {
  std::string video = "testsrc2";
  std::string audio =
      "anoisesrc=seed=2:color=pink:amplitude=0.25:sample_rate=48000[l];"
      "sine=frequency=440:sample_rate=48000[r];[l][r]amerge=inputs=2[out0]";
  int seconds = 6;
  std::string videoFilter = {};
};

// A recording and a healthy reference made with the same settings but other content. Options are
// words without spaces, as on a command line.
struct Recipe {
  std::string name;
  std::string container = "mp4";  // mp4, mov, m4v or avi
  std::string size = "640x360";
  std::string fps = "25";
  std::string pixFmt = "yuv420p";
  std::string videoCodec = "libx264";
  std::string videoArgs = "-profile:v main -preset fast -b:v 1500k -g 50 -bf 3 -x264-params cabac=1:b-pyramid=normal";
  std::string videoTag = {};
  std::string audioCodec = "aac";  // empty: no audio
  int audioRate = 48000;
  int audioChannels = 2;
  std::string audioArgs = "-b:a 128k";
  std::string timecode = {};   // adds a timecode track
  std::string muxerArgs = {};  // e.g. -movflags +faststart; else the movie box comes last
  Content original = {};
  std::optional<Content> reference = Content{"smptebars", "sine=frequency=1000", 2};
};

struct Movie {
  std::string original;
  std::string reference;  // empty when the recipe has none
};

// Encodes the recipe once per build tree, into <moviesDir>/<name>-<hash of the recipe>/, under a
// file lock: parallel test processes make it once and the others wait for it.
Movie makeMovie(const Recipe& recipe);
const std::vector<Recipe>& standardRecipes();
const Recipe& recipe(const std::string& name);
// QVR_MOVIES_DIR, else <build>/movies.
std::string moviesDir();

}  // namespace testsupport
