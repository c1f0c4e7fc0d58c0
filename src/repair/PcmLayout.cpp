#include "repair/PcmLayout.h"

#include <algorithm>

namespace qvr {

namespace {
constexpr int64_t kVideo = 1;
constexpr int64_t kSound = 2;
}  // namespace

PcmLayout::PcmLayout(const std::vector<Moov::ChunkPlace>& reference, uint32_t frameBytes)
    : frameBytes_(std::max<uint32_t>(frameBytes, 1)) {
  // Each region is summed up as it is left. A region whose further tracks' chunks lie between
  // two sound chunks tells nothing reliable about where the sound is, and is not counted.
  Split region{0, 0, false};
  bool mixed = false;
  bool first = true;
  uint64_t sound = 0;
  auto close = [&](bool last) {
    if (first) {
      leading_ = region;
    } else if (last) {
      trailing_ = region;
    } else if (!mixed && (region.sound || region.lead > 0)) {
      auto at = std::find_if(between_.begin(), between_.end(), [&](auto& s) { return s.first == region; });
      if (at == between_.end()) {
        between_.push_back({region, 1});
      } else {
        ++at->second;
      }
    }
    if (region.sound && !mixed) soundSizes_.push_back(sound);
    region = Split{0, 0, false};
    mixed = false;
    sound = 0;
  };
  for (const Moov::ChunkPlace& chunk : reference) {
    if (chunk.track == kVideo) {
      close(false);
      first = false;
    } else if (chunk.track == kSound) {
      mixed = mixed || region.trail > 0;
      region.sound = true;
      sound += chunk.size;
    } else {
      (region.sound ? region.trail : region.lead) += chunk.size;
    }
  }
  close(true);
  std::stable_sort(between_.begin(), between_.end(), [](auto& a, auto& b) { return a.second > b.second; });
  std::sort(soundSizes_.begin(), soundSizes_.end());
  soundSizes_.erase(std::unique(soundSizes_.begin(), soundSizes_.end()), soundSizes_.end());
}

std::optional<PcmLayout::Sound> PcmLayout::exactly(uint64_t regionBytes, bool& noSound) const {
  noSound = false;
  // A region that holds exactly a layout's further chunks holds no sound.
  for (const auto& [split, count] : between_) {
    if (!split.sound && split.lead == regionBytes) {
      noSound = true;
      return std::nullopt;
    }
  }
  // Of the layouts that leave whole frames, one whose sound is as long as a reference chunk is
  // the likeliest (a timecode sample is as long as a frame of 16-bit stereo); else the most
  // common one.
  std::optional<Sound> common;
  for (const auto& [split, count] : between_) {
    if (!split.sound || regionBytes <= split.lead + split.trail) continue;
    const uint64_t length = regionBytes - split.lead - split.trail;
    if (length % frameBytes_ != 0) continue;
    if (std::binary_search(soundSizes_.begin(), soundSizes_.end(), length)) return Sound{split.lead, length};
    if (!common) common = Sound{split.lead, length};
  }
  return common;
}

std::optional<PcmLayout::Sound> PcmLayout::between(uint64_t regionBytes) const {
  if (regionBytes == 0) return std::nullopt;
  bool noSound = false;
  if (auto sound = exactly(regionBytes, noSound); sound || noSound) return sound;
  // Damage (a lost range, bytes that are no track's) leaves regions that fit nothing.
  Split split;
  for (const auto& [s, count] : between_) {
    if (s.sound) {
      split = s;
      break;
    }
  }
  if (regionBytes <= split.lead + split.trail) return std::nullopt;
  return Sound{split.lead, regionBytes - split.lead - split.trail};
}

bool PcmLayout::fits(uint64_t regionBytes) const {
  if (regionBytes == 0) return true;
  if (between_.empty()) return regionBytes % frameBytes_ == 0;
  bool noSound = false;
  return exactly(regionBytes, noSound).has_value() || noSound;
}

std::optional<PcmLayout::Sound> PcmLayout::leading(uint64_t regionBytes) const {
  if (regionBytes <= leading_.lead + leading_.trail) return std::nullopt;
  const uint64_t length = regionBytes - leading_.lead - leading_.trail;
  if (length % frameBytes_ != 0) return std::nullopt;
  return Sound{leading_.lead, length};
}

std::optional<PcmLayout::Sound> PcmLayout::trailing(uint64_t regionBytes) const {
  if (regionBytes <= trailing_.lead + trailing_.trail) return std::nullopt;
  const uint64_t length = (regionBytes - trailing_.lead - trailing_.trail) / frameBytes_ * frameBytes_;
  if (length == 0) return std::nullopt;
  return Sound{trailing_.lead, length};
}

}  // namespace qvr
