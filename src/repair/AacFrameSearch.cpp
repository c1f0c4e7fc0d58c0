#include "repair/AacFrameSearch.h"

#include <neaacdec.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "foundation/FileHandle.h"
#include "foundation/Pause.h"
#include "repair/AacDecoderStock.h"
#include "repair/AacFramePrecheck.h"

namespace qvr {

namespace {
// The library's "Unexpected channel configuration change", answered with a fresh decoder.
constexpr unsigned char kChannelConfigurationChanged = 21;
// "First SBR frame is not the same as first AAC frame": a chance frame carried SBR data, and the
// decoder now turns away every plain frame after it. It is answered like a configuration change.
constexpr unsigned char kSbrStartedElsewhere = 23;
constexpr unsigned long kConfigLength = 2;
// The decoder's bit reader may look a few bytes past the length it is given.
constexpr size_t kWindowPadding = 64;
// How close to the region's ends or to another frame a frame must lie to be believed.
constexpr uint64_t kNearby = 64;

// A program configuration in a frame is for streams without a channel layout of their own; with
// one, decoders ignore it (some apply it: a chance frame made ffmpeg see 26 channels) and encoders
// do not write it. Random bytes open with one far more often than real frames do.
bool opensWithProgramConfig(const unsigned char config[2], uint8_t first) {
  const int layout = (config[1] >> 3) & 15;
  return layout >= 1 && layout <= 7 && (first >> 5) == 5;
}

struct Decoder {
  NeAACDecHandle handle = nullptr;
  ~Decoder() {
    if (handle != nullptr) NeAACDecClose(handle);
  }
};
}  // namespace

bool AacFrameSearch::zeroMayOpenFrames(const unsigned char config[2]) {
  // A channel pair opens with the bits 001; a single channel element (and its instance tag 0 and a
  // global gain below 128) makes a zero byte.
  return ((config[1] >> 3) & 15) != 2;
}

bool AacFrameSearch::decodesFrameAt(const std::vector<uint8_t>& config, const uint8_t* bytes, size_t length,
                                    Precheck precheck, uint64_t* mispredictions, AacDecoderStock* stock,
                                    DecodedWindow* keep, uint64_t offset) {
  length = std::min(length, kWindowLength);
  if (config.empty() || length == 0) return false;
  unsigned char cfg[kConfigLength] = {0, 0};
  std::memcpy(cfg, config.data(), std::min(config.size(), sizeof cfg));
  if (!mayOpenFrame(bytes, length, zeroMayOpenFrames(cfg))) return false;
  // Making and configuring a decoder costs far more than the few bit reads that tell most false
  // starts from frames.
  bool refused = false;
  if (precheck != Precheck::kOff) {
    if (auto check = AacFramePrecheck::forConfiguration(cfg))
      refused = check->examine(bytes, length, AacFramePrecheck::kFresh, -1).refused;
  }
  if (refused && precheck == Precheck::kOn) return false;
  Decoder decoder;
  decoder.handle = static_cast<NeAACDecHandle>(stock != nullptr ? stock->take() : AacDecoderStock::make(cfg));
  if (decoder.handle == nullptr) return false;
  std::vector<uint8_t> window(kWindowLength + kWindowPadding, 0);
  std::memcpy(window.data(), bytes, length);
  NeAACDecFrameInfo info{};
  void* out = NeAACDecDecode(decoder.handle, &info, window.data(), static_cast<unsigned long>(length));
  if (refused && mispredictions != nullptr && (out != nullptr || info.error == 0)) ++*mispredictions;
  const bool frame =
      out != nullptr && info.error == 0 && info.bytesconsumed > 0 && !opensWithProgramConfig(cfg, bytes[0]);
  // Only a frame that lies wholly in the window was read from its bytes alone.
  if (frame && keep != nullptr && info.bytesconsumed <= length) {
    *keep = DecodedWindow(decoder.handle, offset, info.bytesconsumed);
    decoder.handle = nullptr;
  }
  return frame;
}

DecodedWindow& DecodedWindow::operator=(DecodedWindow&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, nullptr);
    offset_ = other.offset_;
    consumed_ = other.consumed_;
  }
  return *this;
}

void* DecodedWindow::release() { return std::exchange(handle_, nullptr); }

void DecodedWindow::close() {
  if (handle_ != nullptr) NeAACDecClose(static_cast<NeAACDecHandle>(std::exchange(handle_, nullptr)));
}

AacFrameSearch::AacFrameSearch(std::vector<uint8_t> config, const std::atomic<bool>& pause,
                               const std::atomic<bool>& stop, size_t sliceLength, Precheck precheck,
                               std::vector<MetadataSignature> metadata)
    : config_(std::move(config)),
      pause_(pause),
      stop_(stop),
      sliceLength_(std::max<size_t>(sliceLength, 1)),
      precheck_(precheck),
      metadata_(std::move(metadata)) {}

std::optional<std::vector<AacFrame>> AacFrameSearch::search(ReadHandle& handle, uint64_t offset, uint64_t size,
                                                            DecodedWindow opening) {
  std::vector<AacFrame> frames;
  // Two configuration bytes are what the decoder is given; a shorter record is zero-padded.
  unsigned char config[kConfigLength] = {0, 0};
  std::memcpy(config, config_.data(), std::min(config_.size(), sizeof config));
  if (config_.empty()) return frames;
  // Made when the first window is offered to it: the region's opening window may come decoded.
  Decoder decoder;
  unsigned long sampleRate = 0;
  unsigned char channels = 0;
  if (size == 0) return frames;
  // The first syntax element of a raw frame: a channel pair for stereo, a single channel for the
  // other layouts of the configuration (bits 9 to 12 of the AudioSpecificConfig); any for layout 0.
  const int channelLayout = (config[1] >> 3) & 15;
  const int expectedElement = channelLayout == 0 || channelLayout > 7 ? -1 : channelLayout == 2 ? 1 : 0;
  // Mono and multichannel frames open with a single channel element, which may make a zero byte:
  // passing over every zero byte would lose most frames of quiet mono sound.
  const bool zeroOpens = zeroMayOpenFrames(config);
  auto opensWithExpectedElement = [&](uint8_t first) { return expectedElement < 0 || (first >> 5) == expectedElement; };

  // A refused window may be passed over only when skipping its decode leaves the decoder as the
  // decode would: the decoder must already be in the state a refusal leaves it in (a fresh one is),
  // and the first channel element it remembers must be known.
  std::optional<AacFramePrecheck> precheck;
  if (precheck_ != Precheck::kOff) precheck = AacFramePrecheck::forConfiguration(config);
  int remembered = AacFramePrecheck::kNoneYet;
  bool settled = true;
  // Per first byte, for the element the handle remembers: refused (or zero) by that byte alone.
  bool skippableAfter[3][256] = {};
  if (precheck && precheck_ == Precheck::kOn) {
    for (int element : {AacFramePrecheck::kSce, AacFramePrecheck::kCpe, AacFramePrecheck::kLfe}) {
      for (int b = 0; b < 256; ++b) {
        const uint8_t byte = static_cast<uint8_t>(b);
        const int tableIndex = element == AacFramePrecheck::kLfe ? 2 : element;
        skippableAfter[tableIndex][b] =
            (b == 0 && !zeroOpens) || (b != 0 && precheck->refusedByFirstByte(byte, element, expectedElement));
      }
    }
  }
  auto skippableFor = [&](int element) -> const bool* {
    if (!precheck || precheck_ != Precheck::kOn) return nullptr;
    if (element == AacFramePrecheck::kSce) return skippableAfter[0];
    if (element == AacFramePrecheck::kCpe) return skippableAfter[1];
    if (element == AacFramePrecheck::kLfe) return skippableAfter[2];
    return nullptr;
  };
  // Metadata chunks are looked for at the positions that hold the first byte of a signature, which
  // the run of refused positions therefore stops at.
  bool opensMetadata[256] = {};
  for (const MetadataSignature& signature : metadata_) opensMetadata[signature.bytes[0]] = true;
  for (auto& table : skippableAfter) {
    for (int b = 0; b < 256; ++b) table[b] = table[b] && !opensMetadata[b];
  }
  const bool* skippable = skippableFor(remembered);

  std::vector<uint8_t> slice;
  uint64_t sliceStart = 0;          // region-relative
  std::optional<uint64_t> lastEnd;  // of the last frame taken
  // Up to `length` bytes of the region from `at`, from the slice when it holds them.
  std::vector<uint8_t> probe;
  auto regionBytes = [&](uint64_t at, size_t length) -> std::pair<const uint8_t*, size_t> {
    const size_t available = static_cast<size_t>(std::min<uint64_t>(length, size - at));
    if (at >= sliceStart && at - sliceStart + available <= slice.size())
      return {slice.data() + (at - sliceStart), available};
    probe.assign(available, 0);
    handle.readAt(offset + at, probe.data(), available);
    return {probe.data(), available};
  };
  // The metadata chunk that starts at `at`, if any.
  auto metadataAt = [&](uint64_t at) -> const MetadataSignature* {
    if (at >= size) return nullptr;
    const auto [bytes, available] = regionBytes(at, MetadataSignature::kLength);
    if (!opensMetadata[bytes[0]]) return nullptr;
    for (const MetadataSignature& signature : metadata_) {
      if (signature.matches(bytes, available)) return &signature;
    }
    return nullptr;
  };
  std::optional<uint64_t> metadataEnd;  // of the last metadata chunk passed over
  auto crossesMetadata = [&](uint64_t at, uint64_t length) {
    for (uint64_t k = at + 1; k < at + length; ++k) {
      if (opensMetadata[slice[k - sliceStart]] && metadataAt(k)) return true;
    }
    return false;
  };
  // Random bytes pass for a frame now and then, but not next to anything: a frame is taken when it
  // opens the region, ends near its end, follows another frame closely or is closely followed by
  // one. (Cameras put a few small metadata samples between their audio frames.)
  auto confirmed = [&](uint64_t at, uint64_t length) {
    const uint64_t end = at + length;
    if (!metadata_.empty()) {
      return at == 0 || at == lastEnd || at == metadataEnd || end == size || metadataAt(end) != nullptr;
    }
    if (at == 0 || (lastEnd && at - *lastEnd <= kNearby) || end + kNearby >= size) return true;
    const uint8_t* next = regionBytes(end, kNearby + kWindowLength).first;
    for (uint64_t k = 0; k <= kNearby; ++k) {
      if (decodesFrameAt(config_, next + k, static_cast<size_t>(std::min<uint64_t>(kWindowLength, size - end - k)),
                         precheck_, &mispredictions_))
        return true;
    }
    return false;
  };
  uint64_t sliceEnd = 0;  // positions below this are searched from the current slice
  std::vector<uint8_t> window(kWindowLength + kWindowPadding, 0);
  uint64_t p = 0;
  uint64_t sincePausePoint = 255;
  while (true) {
    // The flags are looked at every few hundred positions: a false start costs only nanoseconds.
    if (++sincePausePoint >= 256) {
      sincePausePoint = 0;
      if (!pausePoint(pause_, stop_)) return std::nullopt;
    }
    if (p >= sliceEnd) {
      // Next slice: its positions plus one window beyond, all zero where the file has no bytes.
      sliceStart = p;
      uint64_t positions = std::min<uint64_t>(sliceLength_, size - p);
      uint64_t bytes = std::min<uint64_t>(positions + kWindowLength, size - p);
      slice.assign(static_cast<size_t>(bytes), 0);
      handle.readAt(offset + sliceStart, slice.data(), slice.size());
      sliceEnd = sliceStart + positions;
    }
    if (skippable != nullptr && settled) {
      // Pass over the run of positions whose first byte alone gets them refused (or that hold a
      // zero byte), without the per-position bookkeeping.
      const uint8_t* base = slice.data() - sliceStart;
      const uint64_t stopAt = std::min<uint64_t>({sliceEnd, size, p + 4096});
      const uint64_t from = p;
      while (p < stopAt && skippable[base[p]]) ++p;
      if (p != from) {
        windowsRefused_ += p - from;
        if (p >= size) break;
        continue;
      }
    }
    if (!metadata_.empty() && opensMetadata[slice[p - sliceStart]]) {
      if (const MetadataSignature* chunk = metadataAt(p)) {
        // No frame opens inside a metadata chunk; one of unknown length is left after its start.
        p += std::max<uint64_t>(chunk->size, 1);
        if (chunk->size > 0) metadataEnd = p;
        if (p >= size) break;
        continue;
      }
    }
    const uint8_t* at = slice.data() + (p - sliceStart);
    size_t length = static_cast<size_t>(std::min<uint64_t>(kWindowLength, size - p));
    bool accepted = false;
    NeAACDecFrameInfo info;  // cleared for a window offered to the decoder: most never are
    if (mayOpenFrame(at, length, zeroOpens)) {
      AacFramePrecheck::Verdict verdict;
      verdict.reached = AacFramePrecheck::kUnknown;
      if (precheck) verdict = precheck->examine(at, length, remembered, expectedElement);
      const bool passOver = verdict.refused && settled;
      if (passOver && precheck_ == Precheck::kOn) {
        ++windowsRefused_;
        ++p;
        if (p >= size) break;
        continue;
      }
      info = NeAACDecFrameInfo{};
      void* out = nullptr;
      if (p == 0 && decoder.handle == nullptr && opening && opening.offset() == offset &&
          opening.consumed() <= length) {
        info.bytesconsumed = static_cast<unsigned long>(opening.consumed());
        decoder.handle = static_cast<NeAACDecHandle>(opening.release());
        out = decoder.handle;  // the window decoded
      } else {
        if (decoder.handle == nullptr) {
          decoder.handle = static_cast<NeAACDecHandle>(AacDecoderStock::make(config));
          if (decoder.handle == nullptr) return frames;
        }
        std::memcpy(window.data(), at, length);
        std::memset(window.data() + length, 0, window.size() - length);
        ++decodeCalls_;
        out = NeAACDecDecode(decoder.handle, &info, window.data(), static_cast<unsigned long>(length));
      }
      bool replaced = false;
      if (info.error == kChannelConfigurationChanged || info.error == kSbrStartedElsewhere) {
        NeAACDecConfigurationPtr old = NeAACDecGetCurrentConfiguration(decoder.handle);
        NeAACDecConfiguration saved = *old;
        NeAACDecHandle fresh = NeAACDecOpen();
        if (fresh != nullptr) {
          NeAACDecConfigurationPtr cfg = NeAACDecGetCurrentConfiguration(fresh);
          if (saved.defSampleRate != 0) cfg->defSampleRate = saved.defSampleRate;
          cfg->defObjectType = saved.defObjectType;
          cfg->outputFormat = saved.outputFormat;
          NeAACDecSetConfiguration(fresh, cfg);
          // This library refuses to initialise without data. The fresh decoder then takes the
          // stream's own configuration: keeping the old one, upset by a false frame start, would
          // turn away every real frame after it with the same error.
          // Only a window that opens with the element the configuration calls for can be a real
          // frame, so only then is the (costly) configured decoder made.
          bool ready = NeAACDecInit(fresh, nullptr, 0, &sampleRate, &channels) >= 0 ||
                       (opensWithExpectedElement(at[0]) &&
                        NeAACDecInit2(fresh, config, kConfigLength, &sampleRate, &channels) == 0);
          if (!ready) {
            NeAACDecClose(fresh);
            NeAACDecSetConfiguration(decoder.handle, &saved);
          } else {
            NeAACDecClose(decoder.handle);
            decoder.handle = fresh;
            replaced = true;
            std::memcpy(window.data(), at, length);
            std::memset(window.data() + length, 0, window.size() - length);
            ++decodeCalls_;
            info = NeAACDecFrameInfo{};
            out = NeAACDecDecode(decoder.handle, &info, window.data(), static_cast<unsigned long>(length));
            accepted = out != nullptr;
          }
        }
      } else {
        accepted = out != nullptr;
      }
      if (passOver && (accepted || replaced || info.error == 0)) ++mispredictions_;
      // What the handle now remembers, and whether it is in the state a refusal leaves.
      if (replaced) {
        // The window opens with the expected element, which the fresh decoder took as its first.
        remembered = expectedElement;
      } else if (verdict.reached == AacFramePrecheck::kUnknown) {
        if (remembered == AacFramePrecheck::kNoneYet) remembered = AacFramePrecheck::kUnknown;
      } else if (verdict.reached != AacFramePrecheck::kNoneYet) {
        // The element was taken as the first unless the handle already remembered another, which
        // would have been refused with a configuration change.
        if (remembered == AacFramePrecheck::kNoneYet ||
            (remembered == AacFramePrecheck::kUnknown && info.error != kChannelConfigurationChanged)) {
          remembered = verdict.reached;
        }
      }
      skippable = skippableFor(remembered);
      if (out != nullptr) {
        settled = false;
      } else if (info.error != 0) {
        settled = true;
      }
    }
    const uint64_t consumed =
        accepted && !opensWithProgramConfig(config, at[0]) ? std::min<uint64_t>(info.bytesconsumed, length) : 0;
    if (consumed > 0 && (metadata_.empty() || !crossesMetadata(p, consumed)) && confirmed(p, consumed)) {
      frames.push_back(AacFrame{offset + p, consumed});
      p += consumed;
      lastEnd = p;
    } else {
      ++p;
    }
    if (p >= size) break;
  }
  return frames;
}

}  // namespace qvr
