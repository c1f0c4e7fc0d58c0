#include "repair/MetadataSignature.h"

#include <algorithm>
#include <map>
#include <optional>

#include "foundation/FileHandle.h"

namespace qvr {

namespace {
// Fewer chunks than this say nothing about what the track's chunks have alike.
constexpr size_t kFewestChunks = 8;
// Chunks read to learn a signature.
constexpr size_t kMostChunks = 256;
// Bytes alike, and of them not zero, for a signature to tell chunks from sound: a run of zeros
// (silence, reserved space) must not pass for one.
constexpr size_t kFewestFixed = 4;
constexpr size_t kFewestFixedNonZero = 2;

std::optional<MetadataSignature> signatureOf(const std::vector<const Moov::ChunkPlace*>& chunks, uint64_t size,
                                             ReadHandle& reference) {
  if (chunks.size() < kFewestChunks) return std::nullopt;
  uint64_t shortest = UINT64_MAX;
  for (const auto* chunk : chunks) shortest = std::min(shortest, chunk->size);
  MetadataSignature signature;
  signature.size = size;
  signature.compared = static_cast<size_t>(std::min<uint64_t>(shortest, MetadataSignature::kLength));
  if (signature.compared == 0) return std::nullopt;
  std::fill_n(signature.fixed, signature.compared, true);
  const size_t step = std::max<size_t>(1, chunks.size() / kMostChunks);
  bool first = true;
  for (size_t i = 0; i < chunks.size(); i += step) {
    uint8_t bytes[MetadataSignature::kLength] = {};
    if (reference.readAt(chunks[i]->offset, bytes, signature.compared) != signature.compared) return std::nullopt;
    for (size_t k = 0; k < signature.compared; ++k) {
      if (first) signature.bytes[k] = bytes[k];
      signature.fixed[k] = signature.fixed[k] && signature.bytes[k] == bytes[k];
    }
    first = false;
  }
  const size_t fixed = static_cast<size_t>(std::count(signature.fixed, signature.fixed + signature.compared, true));
  size_t nonZero = 0;
  for (size_t k = 0; k < signature.compared; ++k) nonZero += signature.fixed[k] && signature.bytes[k] != 0;
  // The first byte must be fixed: the search looks for signatures by it.
  if (!signature.fixed[0] || fixed < kFewestFixed || nonZero < kFewestFixedNonZero) return std::nullopt;
  return signature;
}
}  // namespace

bool MetadataSignature::matches(const uint8_t* at, size_t available) const {
  if (available < compared) return false;
  for (size_t k = 0; k < compared; ++k) {
    if (fixed[k] && at[k] != bytes[k]) return false;
  }
  return true;
}

std::vector<MetadataSignature> MetadataSignature::learn(const std::vector<Moov::ChunkPlace>& chunks,
                                                        ReadHandle& reference) {
  std::map<size_t, std::vector<const Moov::ChunkPlace*>> tracks;
  for (const auto& chunk : chunks) {
    if (chunk.track == 0 && chunk.size > 0) tracks[chunk.trackIndex].push_back(&chunk);
  }
  std::vector<MetadataSignature> signatures;
  for (const auto& [index, all] : tracks) {
    std::map<uint64_t, std::vector<const Moov::ChunkPlace*>> bySize;
    for (const auto* chunk : all) bySize[chunk->size].push_back(chunk);
    for (const auto& [size, same] : bySize) {
      if (auto signature = signatureOf(same, size, reference)) signatures.push_back(*signature);
    }
    if (bySize.size() > 1) {
      if (auto signature = signatureOf(all, 0, reference)) signatures.push_back(*signature);
    }
  }
  return signatures;
}

}  // namespace qvr
