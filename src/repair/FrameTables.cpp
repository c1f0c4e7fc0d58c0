#include "repair/FrameTables.h"

#include <algorithm>
#include <numeric>

namespace qvr {

uint8_t dependencyByte(const PictureInfo& picture) {
  uint8_t dependsOn = picture.isIntra ? 2 : 1;
  uint8_t isDependedOn = picture.isDisposable ? 2 : 1;
  return static_cast<uint8_t>(dependsOn << 4 | isDependedOn << 2);
}

FrameTables deriveFrameTables(const std::vector<PictureInfo>& pictures, uint32_t maxPocLsb, uint32_t sampleDuration) {
  FrameTables tables;
  const size_t n = pictures.size();
  tables.sdtp.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    if (pictures[i].isSync) tables.syncSamples.push_back(static_cast<uint32_t>(i + 1));
    tables.sdtp.push_back(dependencyByte(pictures[i]));
  }
  if (n == 0 || maxPocLsb == 0) return tables;

  // Full picture order counts, the order count's high part carried from the last reference
  // picture and restarting at each order reset, as a decoder derives them.
  std::vector<int64_t> poc(n, 0);
  std::vector<size_t> group(n, 0);
  size_t currentGroup = 0;
  int64_t prevMsb = 0;
  int64_t prevLsb = 0;
  const int64_t maxLsb = maxPocLsb;
  for (size_t i = 0; i < n; ++i) {
    const PictureInfo& p = pictures[i];
    if (p.resetsOrder) {
      if (i > 0) ++currentGroup;
      prevMsb = 0;
      prevLsb = 0;
    }
    group[i] = currentGroup;
    if (!p.isPicture) continue;  // placed below, just before the next picture
    if (!p.pocLsb) return tables;
    int64_t lsb = *p.pocLsb;
    if (lsb < 0 || lsb >= maxLsb) return tables;
    int64_t msb = prevMsb;
    if (lsb < prevLsb && prevLsb - lsb >= maxLsb / 2) {
      msb = prevMsb + maxLsb;
    } else if (lsb > prevLsb && lsb - prevLsb > maxLsb / 2) {
      msb = prevMsb - maxLsb;
    }
    poc[i] = msb + lsb;
    if (p.isReference || p.resetsOrder) {
      prevMsb = msb;
      prevLsb = lsb;
    }
  }
  // A sample without a picture (a parameter set of its own) is shown with the picture after it.
  bool anyPicture = false;
  for (size_t i = n; i-- > 0;) {
    if (pictures[i].isPicture) {
      anyPicture = true;
    } else if (i + 1 < n && group[i + 1] == group[i]) {
      poc[i] = poc[i + 1];
    } else {
      poc[i] = i > 0 && group[i - 1] == group[i] ? poc[i - 1] : 0;
    }
  }
  if (!anyPicture) return tables;

  std::vector<size_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    if (group[a] != group[b]) return group[a] < group[b];
    return poc[a] < poc[b];
  });
  std::vector<int64_t> rank(n);
  for (size_t r = 0; r < n; ++r) rank[order[r]] = static_cast<int64_t>(r);
  int64_t delay = 0;
  for (size_t i = 0; i < n; ++i) delay = std::max<int64_t>(delay, static_cast<int64_t>(i) - rank[i]);

  std::vector<uint32_t> offsets(n);
  for (size_t i = 0; i < n; ++i) {
    offsets[i] = static_cast<uint32_t>((rank[i] + delay - static_cast<int64_t>(i)) * sampleDuration);
  }
  tables.compositionOffsets = std::move(offsets);
  tables.editMediaTime = static_cast<uint32_t>(delay * sampleDuration);
  return tables;
}

}  // namespace qvr
