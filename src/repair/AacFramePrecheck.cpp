#include "repair/AacFramePrecheck.h"

#include <neaacdec.h>

#include <cstring>

namespace qvr {

namespace {

// Scale factor bands per window, by sampling frequency index, for the decoder's three window sizes.
constexpr uint8_t kBandsLong1024[12] = {41, 41, 47, 49, 49, 51, 47, 47, 43, 43, 43, 40};
constexpr uint8_t kBandsLong960[12] = {40, 40, 45, 49, 49, 49, 46, 46, 42, 42, 42, 40};
constexpr uint8_t kBandsShort[12] = {12, 12, 12, 14, 14, 14, 15, 15, 15, 15, 15, 15};

constexpr unsigned kEightShortSequence = 2;
constexpr unsigned kMaxLongSections = 51;
constexpr unsigned kMaxShortSections = 8 * 15;
constexpr unsigned kMaxLtpBands = 40;
constexpr unsigned kDecoderChannels = 64;

// Extension payload types of a fill element.
constexpr unsigned kExtFillData = 1;
constexpr unsigned kExtDataElement = 2;
constexpr unsigned kExtDynamicRange = 11;
constexpr unsigned kExtSbrData = 13;
constexpr unsigned kExtSbrDataCrc = 14;

// Reads the window most significant bit first; past its end the decoder reads zeros, and so does this.
class BitReader {
 public:
  BitReader(const uint8_t* bytes, size_t length) : bytes_(bytes), length_(length) {}

  uint32_t read(unsigned n) {
    if (n == 0) return 0;
    uint32_t value = peek(n);
    position_ += n;
    return value;
  }

  uint32_t peek(unsigned n) const {
    const size_t at = static_cast<size_t>(position_ >> 3);
    uint64_t word = 0;
    if (at + 8 <= length_) {
      std::memcpy(&word, bytes_ + at, 8);
      word = __builtin_bswap64(word);
    } else {
      for (size_t k = 0; k < 8; ++k) word = (word << 8) | (at + k < length_ ? bytes_[at + k] : 0u);
    }
    word <<= (position_ & 7);
    return static_cast<uint32_t>(word >> (64 - n));
  }

  bool bit() { return read(1) != 0; }
  void skip(uint64_t n) { position_ += n; }
  void alignToByte() { position_ = (position_ + 7) & ~uint64_t{7}; }

 private:
  const uint8_t* bytes_;
  size_t length_;
  uint64_t position_ = 0;
};

// The part of ics_info the section data depends on.
struct IcsShape {
  unsigned windowSequence = 0;
  unsigned maxSfb = 0;
  unsigned windowGroups = 1;
};

}  // namespace

std::optional<AacFramePrecheck> AacFramePrecheck::forConfiguration(const uint8_t config[2]) {
  char* version = nullptr;
  char* copyright = nullptr;
  NeAACDecGetVersion(&version, &copyright);
  if (version == nullptr || std::strncmp(version, "2.10.", 5) != 0) return std::nullopt;
  const int objectType = config[0] >> 3;
  const int samplingIndex = ((config[0] & 7) << 1) | (config[1] >> 7);
  const int channelLayout = (config[1] >> 3) & 15;
  const bool shortFrames = ((config[1] >> 2) & 1) != 0;
  constexpr int kLowComplexity = 2;
  if (objectType != kLowComplexity || samplingIndex > 11 || channelLayout < 1 || channelLayout > 7) return std::nullopt;
  return AacFramePrecheck(samplingIndex, shortFrames);
}

namespace {

// Field by field as the decoder reads them; each returns false where the decoder stops with an error.
struct RawBlockReader {
  BitReader bits;
  int samplingIndex;
  bool shortFrames;

  void dataStreamElement() {
    bits.read(4);  // element_instance_tag
    const bool byteAligned = bits.bit();
    unsigned count = bits.read(8);
    if (count == 255) count += bits.read(8);
    if (byteAligned) bits.alignToByte();
    bits.skip(uint64_t{count} * 8);
  }

  // The decoder ignores what a program configuration in a frame says; only its length matters.
  void programConfigElement() {
    bits.read(4);  // element_instance_tag
    bits.read(2);  // object_type
    bits.read(4);  // sampling_frequency_index
    const unsigned front = bits.read(4);
    const unsigned side = bits.read(4);
    const unsigned back = bits.read(4);
    const unsigned lfe = bits.read(2);
    const unsigned assocData = bits.read(3);
    const unsigned validCc = bits.read(4);
    if (bits.bit()) bits.read(4);  // mono_mixdown_element_number
    if (bits.bit()) bits.read(4);  // stereo_mixdown_element_number
    if (bits.bit()) bits.read(3);  // matrix_mixdown_idx, pseudo_surround_enable
    bits.skip(uint64_t{front + side + back} * 5 + uint64_t{lfe + assocData} * 4 + uint64_t{validCc} * 5);
    bits.alignToByte();
    const unsigned commentBytes = bits.read(8);
    bits.skip(uint64_t{commentBytes} * 8);
  }

  uint8_t excludedChannels() {
    uint8_t n = 0;
    unsigned excluded = 7;
    unsigned i = 7;
    bits.skip(7);  // exclude_mask
    ++n;
    while (bits.bit()) {  // additional_excluded_chns
      if (i >= kDecoderChannels - excluded - 7) return n;
      bits.skip(7);
      i = excluded + 7;
      ++n;
      excluded += 7;
    }
    return n;
  }

  uint8_t dynamicRangeInfo() {
    uint8_t n = 1;
    unsigned bands = 1;
    if (bits.bit()) {  // pce_tag_present
      bits.read(8);    // pce_instance_tag, drc_tag_reserved_bits
      ++n;
    }
    if (bits.bit()) n = static_cast<uint8_t>(n + excludedChannels());
    if (bits.bit()) {  // drc_bands_present
      const unsigned increment = bits.read(4);
      bits.read(4);  // drc_bands_reserved_bits
      ++n;
      bands += increment;
      for (unsigned b = 0; b < bands; ++b) {
        bits.read(8);  // drc_band_top
        ++n;
      }
    }
    if (bits.bit()) {  // prog_ref_level_present
      bits.read(8);    // prog_ref_level, prog_ref_level_reserved_bits
      ++n;
    }
    for (unsigned b = 0; b < bands; ++b) {
      bits.read(8);  // dyn_rng_sgn, dyn_rng_ctl
      ++n;
    }
    return n;
  }

  // The bytes the decoder counts for one payload; it may exceed `count`, which then wraps as the
  // decoder's 16-bit counter does.
  uint16_t extensionPayload(uint16_t count) {
    const unsigned type = bits.read(4);
    unsigned align = 4;
    switch (type) {
      case kExtDynamicRange:
        return dynamicRangeInfo();
      case kExtFillData:
        bits.read(4);  // fill_nibble
        bits.skip((uint64_t{count} - 1) * 8);
        return count;
      case kExtDataElement:
        if (bits.read(4) == 0) {  // data_element_version: ancillary data
          uint8_t loops = 0;
          uint16_t length = 0;
          unsigned part = 0;
          do {
            part = bits.read(8);
            length = static_cast<uint16_t>(length + part);
            ++loops;
          } while (part == 255);
          if (length > 0) {
            bits.read(8);  // the decoder reads one data byte and counts them all
            return static_cast<uint16_t>(length + loops + 1);
          }
        }
        align = 0;
        break;
      default:
        break;
    }
    bits.read(align);
    bits.skip((uint64_t{count} - 1) * 8);
    return count;
  }

  // A fill element before any channel element: SBR data there is an error.
  bool fillElement() {
    uint16_t count = static_cast<uint16_t>(bits.read(4));
    if (count == 15) count = static_cast<uint16_t>(count + bits.read(8) - 1);
    if (count == 0) return true;
    const unsigned type = bits.peek(4);
    if (type == kExtSbrData || type == kExtSbrDataCrc) return false;
    while (count > 0) count = static_cast<uint16_t>(count - extensionPayload(count));
    return true;
  }

  bool ltpData(const IcsShape& ics) {
    const unsigned frameLength = shortFrames ? 960 : 1024;
    if (bits.read(11) > frameLength * 2) return false;  // ltp_lag
    bits.read(3);                                       // ltp_coef
    if (ics.windowSequence == kEightShortSequence) {
      for (int w = 0; w < 8; ++w) {
        if (bits.bit() && bits.bit()) bits.read(4);  // ltp_short_used, ltp_short_lag_present, ltp_short_lag
      }
    } else {
      bits.skip(ics.maxSfb < kMaxLtpBands ? ics.maxSfb : kMaxLtpBands);  // ltp_long_used
    }
    return true;
  }

  bool icsInfo(IcsShape& ics, bool commonWindow) {
    if (bits.bit()) return false;  // ics_reserved_bit
    ics.windowSequence = bits.read(2);
    bits.read(1);  // window_shape
    unsigned bands = 0;
    if (ics.windowSequence == kEightShortSequence) {
      ics.maxSfb = bits.read(4);
      const unsigned grouping = bits.read(7);
      bands = kBandsShort[samplingIndex];
      ics.windowGroups = 1;
      for (int i = 0; i < 7; ++i) {
        if ((grouping & (1u << (6 - i))) == 0) ++ics.windowGroups;
      }
    } else {
      ics.maxSfb = bits.read(6);
      bands = shortFrames ? kBandsLong960[samplingIndex] : kBandsLong1024[samplingIndex];
      ics.windowGroups = 1;
    }
    if (ics.maxSfb > bands) return false;
    if (ics.windowSequence != kEightShortSequence && bits.bit()) {  // predictor_data_present
      // For low complexity the decoder takes this as long-term prediction data.
      if (bits.bit() && !ltpData(ics)) return false;
      if (commonWindow && bits.bit() && !ltpData(ics)) return false;
    }
    return true;
  }

  bool sectionData(const IcsShape& ics) {
    const bool eightShort = ics.windowSequence == kEightShortSequence;
    const unsigned lengthBits = eightShort ? 3 : 5;
    const unsigned escape = (1u << lengthBits) - 1;
    const unsigned limit = eightShort ? kMaxShortSections : kMaxLongSections;
    for (unsigned g = 0; g < ics.windowGroups; ++g) {
      unsigned k = 0;
      unsigned i = 0;
      while (k < ics.maxSfb) {
        if (bits.read(4) == 12) return false;  // sect_cb: reserved book
        unsigned increment = bits.read(lengthBits);
        unsigned length = 0;
        while (increment == escape) {
          length += increment;
          increment = bits.read(lengthBits);
        }
        length += increment;
        if (k + length > limit || i >= limit) return false;
        k += length;
        ++i;
      }
      if (k != ics.maxSfb) return false;
    }
    return true;
  }

  // Up to the scale factors of the first channel stream: false where the decoder stops.
  bool channelElementSyntax(int element) {
    bits.read(4);  // element_instance_tag
    IcsShape ics;
    bool commonWindow = false;
    if (element == AacFramePrecheck::kCpe) {
      commonWindow = bits.bit();
      if (commonWindow) {
        if (!icsInfo(ics, true)) return false;
        const unsigned msMask = bits.read(2);
        if (msMask == 3) return false;
        if (msMask == 1) bits.skip(uint64_t{ics.windowGroups} * ics.maxSfb);
      }
    }
    bits.read(8);  // global_gain
    if (!commonWindow && !icsInfo(ics, false)) return false;
    return sectionData(ics);
  }
};

}  // namespace

AacFramePrecheck::Verdict AacFramePrecheck::examine(const uint8_t* window, size_t length, int remembered,
                                                    int expectedFirst) const {
  // Most false starts are settled by the first element id alone.
  if (length == 0) return {false, kUnknown};
  const int first = window[0] >> 5;
  if (first == kCce || first == kEnd) return {true, kNoneYet};
  if ((first == kSce || first == kCpe || first == kLfe) && remembered != first && remembered != kNoneYet &&
      remembered != kUnknown && remembered != kFresh) {
    return {expectedFirst >= 0 && first != expectedFirst, first};
  }
  RawBlockReader reader{BitReader(window, length), samplingIndex_, shortFrames_};
  int elements = 0;
  while (true) {
    const int id = static_cast<int>(reader.bits.read(3));
    switch (id) {
      case kSce:
      case kCpe:
      case kLfe: {
        // A fresh handle takes the element as its first and decodes it as one that remembers it.
        if (remembered == kFresh) return {!reader.channelElementSyntax(id), id};
        if (remembered == kNoneYet || remembered == kUnknown) return {false, id};
        if (remembered != id) {
          // The decoder calls this a channel configuration change; the search answers a window that
          // opens with the element of a real frame with a fresh decoder.
          const bool freshDecoder = expectedFirst < 0 || first == expectedFirst;
          return {!freshDecoder, id};
        }
        return {!reader.channelElementSyntax(id), id};
      }
      case kCce:  // coupling channels are not decoded
      case kEnd:  // a frame without channels
        return {true, kNoneYet};
      case kDse:
        ++elements;
        reader.dataStreamElement();
        break;
      case kPce:
        if (elements != 0) return {true, kNoneYet};
        ++elements;
        reader.programConfigElement();
        break;
      case kFil:
        ++elements;
        if (!reader.fillElement()) return {true, kNoneYet};
        break;
      default:
        break;
    }
  }
}

}  // namespace qvr
