#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <vector>

#include "foundation/FileHandle.h"
#include "repair/AacFramePrecheck.h"
#include "repair/AacFrameSearch.h"
#include "repair/AacSearchQueue.h"
#include "support/TestSupport.h"

namespace {

using qvr::AacFrameSearch;

struct RawAac {
  std::vector<uint8_t> config;               // AudioSpecificConfig
  std::vector<std::vector<uint8_t>> frames;  // raw frames, ADTS headers removed
};

// Encodes a few seconds of tone with ffmpeg's AAC encoder (LC at 48, 44.1 or 22.05 kHz) and splits
// the ADTS stream into raw frames.
RawAac encode(const testsupport::TempDir& dir, int rate, int channels, const std::string& name) {
  const unsigned samplingIndex = rate == 48000 ? 3 : rate == 44100 ? 4 : 7;
  RawAac aac{{uint8_t(0x10 | samplingIndex >> 1), uint8_t((samplingIndex & 1) << 7 | channels << 3)}, {}};
  const std::string out = dir.file(name + ".aac");
  auto r = testsupport::runCommand(
      "ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(rate) + ":duration=3 -ac " +
      std::to_string(channels) + " -c:a aac -b:a 96k -f adts " + testsupport::shellQuote(out));
  if (r.exitCode != 0) return aac;
  const auto bytes = testsupport::readFile(out);
  for (size_t at = 0; at + 7 <= bytes.size();) {
    const size_t length = ((bytes[at + 3] & 3u) << 11) | (bytes[at + 4] << 3) | (bytes[at + 5] >> 5);
    const size_t header = (bytes[at + 1] & 1) ? 7 : 9;
    if (length <= header || at + length > bytes.size()) break;
    aac.frames.emplace_back(bytes.begin() + static_cast<long>(at + header),
                            bytes.begin() + static_cast<long>(at + length));
    at += length;
  }
  return aac;
}

std::vector<uint8_t> randomBytes(std::mt19937& rng, size_t n) {
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

using Spans = std::vector<std::pair<uint64_t, uint64_t>>;  // offset and size of every frame

Spans spans(const std::vector<qvr::AacFrame>& frames) {
  Spans out;
  for (const auto& f : frames) out.emplace_back(f.offset, f.size);
  return out;
}

struct Outcome {
  Spans frames;
  uint64_t decodeCalls = 0, refused = 0, mispredictions = 0;
};

Outcome searchFile(const std::string& path, const std::vector<uint8_t>& config, AacFrameSearch::Precheck mode,
                   size_t slice = AacFrameSearch::kDefaultSliceLength) {
  std::atomic<bool> pause{false}, stop{false};
  auto handle = qvr::ReadHandle::open(path);
  AacFrameSearch search(config, pause, stop, slice, mode);
  auto frames = search.search(*handle, 0, handle->size());
  return {spans(frames.value_or(std::vector<qvr::AacFrame>{})), search.decodeCalls(), search.windowsRefused(),
          search.mispredictions()};
}

// Passing over refused windows must find exactly the frames that decoding every window finds: real
// frames between blocks of random junk (which leave the decoder in odd states), for mono and stereo.
TEST(AacFrameSearch, PassingOverRefusedWindowsFindsExactlyTheSameFrames) {
  if (!testsupport::haveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is needed to make AAC frames";
  testsupport::TempDir dir;
  std::mt19937 rng(20261206);
  for (auto [rate, channels] : {std::pair{48000, 2}, std::pair{44100, 1}, std::pair{22050, 2}, std::pair{48000, 6}}) {
    const RawAac aac = encode(dir, rate, channels, "tone" + std::to_string(rate) + "_" + std::to_string(channels));
    SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(channels) + " channels");
    ASSERT_GT(aac.frames.size(), 20u);

    // Junk first (the fresh decoder meets false starts before any real frame), then runs of real
    // frames separated by junk of varied length, some of it mostly zeros.
    std::vector<uint8_t> region = randomBytes(rng, 40000);
    size_t next = 0;
    for (int block = 0; next < aac.frames.size(); ++block) {
      for (int k = 0; k < 8 && next < aac.frames.size(); ++k, ++next)
        region.insert(region.end(), aac.frames[next].begin(), aac.frames[next].end());
      auto junk = randomBytes(rng, 500 + rng() % 20000);
      if (block % 3 == 2)
        for (auto& b : junk) b &= (rng() % 8 == 0) ? 0xff : 0x00;
      region.insert(region.end(), junk.begin(), junk.end());
    }
    const std::string path = dir.file("region.bin");
    testsupport::writeFile(path, region);

    // Checking every refusal decodes every window.
    const Outcome verify = searchFile(path, aac.config, AacFrameSearch::Precheck::kVerify);
    const Outcome passOver = searchFile(path, aac.config, AacFrameSearch::Precheck::kOn);
    EXPECT_EQ(passOver.frames, verify.frames);
    EXPECT_EQ(searchFile(path, aac.config, AacFrameSearch::Precheck::kOn, 7000).frames, passOver.frames);
    EXPECT_EQ(verify.mispredictions, 0u);
    // Most false starts never reach the decoder (mono frames may open with a zero byte, so sparse
    // junk is offered to it more often there).
    EXPECT_LT(passOver.decodeCalls * 5, verify.decodeCalls);
    EXPECT_GT(passOver.refused, 0u);

    // The one-frame test answers as the decoder does, on junk and at every real frame.
    uint64_t wrong = 0;
    size_t decoded = 0;
    auto oneFrame = [&](const uint8_t* at, size_t length) {
      const bool decodes =
          AacFrameSearch::decodesFrameAt(aac.config, at, length, AacFrameSearch::Precheck::kVerify, &wrong);
      EXPECT_EQ(AacFrameSearch::decodesFrameAt(aac.config, at, length), decodes);
      decoded += decodes;
    };
    for (size_t at = 0; at + 1024 <= region.size(); at += 61) oneFrame(region.data() + at, 1024);
    for (const auto& frame : aac.frames) oneFrame(frame.data(), frame.size());
    EXPECT_EQ(wrong, 0u);
    EXPECT_GE(decoded, aac.frames.size());
  }
}

// A search whose first window was decoded by the lone-picture test (a window reaching past the
// region) goes on from that decoder and finds what it finds alone; where the region ends inside
// the first frame, the decoder is not used.
TEST(AacFrameSearch, GoingOnFromADecodedOpeningWindowFindsTheSameFrames) {
  if (!testsupport::haveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is needed to make AAC frames";
  testsupport::TempDir dir;
  std::mt19937 rng(7);
  for (auto [rate, channels] : {std::pair{48000, 2}, std::pair{44100, 1}, std::pair{48000, 6}}) {
    const RawAac aac = encode(dir, rate, channels, "opening" + std::to_string(channels));
    SCOPED_TRACE(std::to_string(channels) + " channels");
    ASSERT_GT(aac.frames.size(), 20u);
    // Two frames, then junk, then two more: regions open at each pair.
    std::vector<uint8_t> bytes;
    std::vector<std::pair<uint64_t, uint64_t>> pairs;  // offset, first frame's size
    for (size_t i = 0; i + 1 < aac.frames.size(); i += 9) {
      pairs.emplace_back(bytes.size(), aac.frames[i].size());
      for (size_t k : {i, i + 1}) bytes.insert(bytes.end(), aac.frames[k].begin(), aac.frames[k].end());
      const auto junk = randomBytes(rng, 100 + rng() % 2000);
      bytes.insert(bytes.end(), junk.begin(), junk.end());
    }
    const std::string path = dir.file("pairs.bin");
    testsupport::writeFile(path, bytes);
    auto handle = qvr::ReadHandle::open(path);
    std::atomic<bool> pause{false}, stop{false};
    for (auto [at, first] : pairs) {
      for (uint64_t size : {first - 1, first, first + 7, uint64_t{3000}}) {
        size = std::min<uint64_t>(size, bytes.size() - at);
        qvr::DecodedWindow opening;
        ASSERT_TRUE(AacFrameSearch::decodesFrameAt(aac.config, bytes.data() + at,
                                                   std::min<size_t>(AacFrameSearch::kWindowLength, bytes.size() - at),
                                                   AacFrameSearch::Precheck::kOn, nullptr, nullptr, &opening, at));
        ASSERT_TRUE(opening);
        EXPECT_EQ(opening.consumed(), first);
        AacFrameSearch alone(aac.config, pause, stop), goingOn(aac.config, pause, stop);
        const auto expected = alone.search(*handle, at, size);
        const auto found = goingOn.search(*handle, at, size, std::move(opening));
        ASSERT_TRUE(expected && found);
        EXPECT_EQ(spans(*found), spans(*expected)) << "region at " << at << " of " << size << " bytes";
        EXPECT_EQ(goingOn.decodeCalls() + (size >= first ? 1 : 0), alone.decodeCalls());
      }
    }
  }
}

// A single channel element with instance tag 0 and a global gain below 128 makes a zero first byte:
// such frames (quiet mono sound) must still be offered to the decoder.
TEST(AacFrameSearch, MonoFramesOpeningWithAZeroByteAreFound) {
  if (!testsupport::haveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is needed to make AAC frames";
  testsupport::TempDir dir;
  const RawAac aac = encode(dir, 44100, 1, "mono");
  ASSERT_GT(aac.frames.size(), 20u);
  std::vector<uint8_t> region(3000, 0);  // a run of zeros first: passed over
  Spans expected;
  size_t openWithZero = 0;
  for (const auto& frame : aac.frames) {
    expected.emplace_back(region.size(), frame.size());
    openWithZero += frame[0] == 0;
    region.insert(region.end(), frame.begin(), frame.end());
  }
  ASSERT_GT(openWithZero, aac.frames.size() / 2);
  const std::string path = dir.file("mono.bin");
  testsupport::writeFile(path, region);
  const Outcome found = searchFile(path, aac.config, AacFrameSearch::Precheck::kOn);
  EXPECT_EQ(found.frames, expected);
  EXPECT_LT(found.decodeCalls, expected.size() + 16);  // the zeros cost no decode
}

// A silent stereo frame padded with fill elements to `bytes` bytes (encoders pad frames to keep a
// constant rate; a channel may take 6144 bits, so stereo frames reach 1536 bytes).
std::vector<uint8_t> paddedSilentFrame(size_t bytes) {
  std::vector<uint8_t> out;
  unsigned bits = 0, pending = 0;
  auto put = [&](unsigned value, unsigned n) {
    for (unsigned i = n; i-- > 0;) {
      pending = pending << 1 | ((value >> i) & 1);
      if (++bits == 8) out.push_back(uint8_t(pending)), bits = pending = 0;
    }
  };
  put(1, 3), put(0, 4), put(0, 1);  // a channel pair, tag 0, no common window
  for (int channel = 0; channel < 2; ++channel) {
    put(100, 8);                                 // global gain
    put(0, 1), put(0, 2), put(0, 1), put(0, 6);  // one long window, no bands
    put(0, 1), put(0, 3);                        // no prediction, pulses, TNS or gain control
  }
  while (out.size() + 275 < bytes) {  // fill elements of 269 bytes: EXT_FILL and fill bytes
    put(6, 3), put(15, 4), put(255, 8), put(0, 8);
    for (int i = 0; i < 268; ++i) put(0xa5, 8);
  }
  put(7, 3);  // end
  if (bits) put(0, 8 - bits);
  return out;
}

// Frames of more than 1024 bytes are found whole, not lost.
TEST(AacFrameSearch, FramesOfMoreThan1024BytesAreFoundWhole) {
  const std::vector<uint8_t> config = {0x11, 0x90};  // LC, 48 kHz, stereo
  std::vector<uint8_t> region;
  Spans expected;
  for (size_t bytes : {1400, 1200, 1400, 300}) {
    const auto frame = paddedSilentFrame(bytes);
    expected.emplace_back(region.size(), frame.size());
    region.insert(region.end(), frame.begin(), frame.end());
  }
  ASSERT_GT(expected[0].second, 1024u);
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("padded.bin"), region);
  EXPECT_EQ(searchFile(dir.file("padded.bin"), config, AacFrameSearch::Precheck::kOn).frames, expected);
}

// Cameras put a frame description (16 bytes) beside every lone frame and telemetry of varied length
// among them. Learnt from the layout, their bytes belong to no frame and the frames next to them
// are believed, while telemetry, as random as junk, gives none.
TEST(AacFrameSearch, FramesBetweenRecognisedMetadataChunks) {
  if (!testsupport::haveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is needed to make AAC frames";
  testsupport::TempDir dir;
  std::mt19937 rng(11);
  const RawAac aac = encode(dir, 48000, 2, "stereo");
  ASSERT_GT(aac.frames.size(), 20u);
  std::vector<uint8_t> region;
  std::vector<Moov::ChunkPlace> layout;
  Spans expected;
  auto put = [&](std::vector<uint8_t> bytes, int64_t track, size_t index) {
    layout.push_back({region.size(), bytes.size(), track, index});
    region.insert(region.end(), bytes.begin(), bytes.end());
  };
  auto description = [&] {
    auto bytes = randomBytes(rng, 16);
    for (size_t k : {0, 1, 4, 5, 8, 9}) bytes[k] = k < 2 ? "GP"[k] : 0;
    put(bytes, 0, 3);
  };
  for (size_t i = 0; i < aac.frames.size(); ++i) {
    description();
    expected.emplace_back(region.size(), aac.frames[i].size());
    put(aac.frames[i], 2, 1);
    if (i % 3 == 2) {
      description();
      auto telemetry = randomBytes(rng, 3000 + rng() % 3000);
      std::copy_n("DEVC\0\1", 6, telemetry.begin());
      put(telemetry, 0, 4);
    }
  }
  const std::string path = dir.file("camera.bin");
  testsupport::writeFile(path, region);
  auto handle = qvr::ReadHandle::open(path);
  const auto metadata = qvr::MetadataSignature::learn(layout, *handle);
  ASSERT_EQ(metadata.size(), 2u);
  std::atomic<bool> pause{false}, stop{false};
  AacFrameSearch search(aac.config, pause, stop, AacFrameSearch::kDefaultSliceLength, AacFrameSearch::Precheck::kOn,
                        metadata);
  EXPECT_EQ(spans(search.search(*handle, 0, region.size()).value()), expected);
}

// Regions searched on the queue's workers give, ticket by ticket, what a search on the caller's
// thread gives; a stopped job gives none.
TEST(AacSearchQueue, ResultsComeByTicketAsIfSearchedInTurn) {
  testsupport::TempDir dir;
  std::mt19937 rng(99);
  const std::string path = dir.file("random.bin");
  testsupport::writeFile(path, randomBytes(rng, 400000));
  const std::vector<uint8_t> config = {0x11, 0x90};
  std::atomic<bool> pause{false}, stop{false};
  const std::vector<std::pair<uint64_t, uint64_t>> regions = {
      {0, 50000}, {50000, 0}, {123, 90000}, {200000, 150000}, {399000, 5000}};
  auto handle = qvr::ReadHandle::open(path);
  // The caller's thread lends itself to the small regions once more than one waits.
  for (unsigned workers : {3u, 1u}) {
    qvr::AacSearchQueue queue(path, config, pause, stop, workers);
    std::vector<size_t> tickets;
    for (auto [offset, size] : regions) {
      tickets.push_back(queue.submit(offset, size));
      if (workers == 1) queue.helpWhileMoreThan(1, 60000);
    }
    for (size_t i = 0; i < regions.size(); ++i) {
      AacFrameSearch direct(config, pause, stop);
      auto expected = direct.search(*handle, regions[i].first, regions[i].second);
      auto got = queue.take(tickets[i]);
      ASSERT_TRUE(expected && got);
      EXPECT_EQ(spans(*got), spans(*expected)) << "region " << i;
    }
  }
  stop = true;
  qvr::AacSearchQueue queue(path, config, pause, stop, 1);
  EXPECT_FALSE(queue.take(queue.submit(0, 300000)).has_value());
}

TEST(AacFramePrecheck, ModelsOnlyLowComplexityAtStandardRatesWithAChannelLayout) {
  // Layout 0, Main profile, an explicit rate; LC at 48 kHz in stereo.
  const uint8_t configs[][2] = {{0x11, 0x80}, {0x09, 0x90}, {0x17, 0x90}, {0x11, 0x90}};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(qvr::AacFramePrecheck::forConfiguration(configs[i]).has_value(), i == 3) << i;
}

// The first byte alone refuses a coupling or end element, and a channel element that is neither
// the one the decoder remembers nor the one the configuration opens its frames with.
TEST(AacFramePrecheck, FirstByteRefusals) {
  using P = qvr::AacFramePrecheck;
  const struct {
    uint8_t first;
    int remembered, expected;
    bool refused;
  } cases[] = {{0x40, P::kCpe, P::kCpe, true}, {0xe0, P::kCpe, P::kCpe, true},  {0x00, P::kCpe, P::kCpe, true},
               {0x60, P::kSce, P::kSce, true}, {0x00, P::kSce, P::kCpe, false}, {0x00, P::kCpe, P::kSce, false},
               {0x00, P::kCpe, -1, false},     {0x80, P::kCpe, P::kCpe, false}, {0xc0, P::kCpe, P::kCpe, false}};
  for (const auto& c : cases)
    EXPECT_EQ(P::refusedByFirstByte(c.first, c.remembered, c.expected), c.refused) << int(c.first);
}

}  // namespace
