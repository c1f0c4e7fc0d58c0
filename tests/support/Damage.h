#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

using Range = std::pair<uint64_t, uint64_t>;  // bytes [first, second)

// A top-level box of a movie (64-bit sizes; size 0 runs to the end), or a chunk directly inside
// an AVI's RIFF list, a LIST chunk named by its list type ("hdrl", "movi").
struct Box {
  std::string type;
  uint64_t offset = 0;
  uint64_t size = 0;
};
std::vector<Box> topLevelBoxes(const std::vector<uint8_t>& bytes);

// One damage operation. Positions lie in a region of the original: the whole file, a top-level
// box or AVI list ("mdat", "moov", "movi"), or "video#N", the Nth video packet in file order.
struct Damage {
  enum Kind { Truncate, Zero, Random, Insert, Remove } kind;
  std::string within = "file";
  std::vector<double> at = {};  // block centres as fractions of the region; for Truncate the cut itself
  int64_t offset = 0;           // without `at`: one block this far from the region's start (< 0: its end)
  uint64_t length = 0;          // Remove without a length takes the whole region
  uint32_t seed = 1;            // of the random bytes
};

// Writes the original with the damage applied in order to `damaged` and returns the byte ranges
// of the original that are gone: blocks overwritten or removed, everything after a cut.
std::vector<Range> damage(const std::string& original, const std::vector<Damage>& ops, const std::string& damaged);

// A standard recording (see standardRecipes()) and what is done to it.
struct Case {
  std::string name;
  std::string recipe;
  std::vector<Damage> damage;
  bool selfReference = false;  // the damaged file is its own reference
};
const std::vector<Case>& standardCases();
const Case& standardCase(const std::string& name);

struct MadeCase {
  std::string original, reference, damaged;  // reference is empty for AVI recordings
  std::vector<Range> destroyed = {};
};
// Makes the case's movies (cached) and writes its damaged copy into `dir`.
MadeCase makeCase(const Case& c, const std::string& dir);

}  // namespace testsupport
