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

// Encodes a few seconds of tone with ffmpeg's AAC encoder and splits the ADTS stream into raw frames.
RawAac encode(const testsupport::TempDir& dir, int rate, int channels, const std::string& name) {
  RawAac aac;
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
    if (aac.config.empty()) {
      const unsigned objectType = ((bytes[at + 2] >> 6) & 3) + 1;
      const unsigned samplingIndex = (bytes[at + 2] >> 2) & 15;
      const unsigned layout = ((bytes[at + 2] & 1u) << 2) | (bytes[at + 3] >> 6);
      aac.config = {static_cast<uint8_t>((objectType << 3) | (samplingIndex >> 1)),
                    static_cast<uint8_t>(((samplingIndex & 1) << 7) | (layout << 3))};
    }
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

struct Outcome {
  std::vector<qvr::AacFrame> frames;
  uint64_t decodeCalls = 0;
  uint64_t refused = 0;
  uint64_t mispredictions = 0;
};

Outcome searchFile(const std::string& path, const std::vector<uint8_t>& config, AacFrameSearch::Precheck mode,
                   size_t slice = AacFrameSearch::kDefaultSliceLength) {
  std::atomic<bool> pause{false};
  std::atomic<bool> stop{false};
  auto handle = qvr::ReadHandle::open(path);
  EXPECT_TRUE(handle != nullptr);
  AacFrameSearch search(config, pause, stop, slice, mode);
  auto frames = search.search(*handle, 0, handle->size());
  EXPECT_TRUE(frames.has_value());
  return {frames.value_or(std::vector<qvr::AacFrame>{}), search.decodeCalls(), search.windowsRefused(),
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
    ASSERT_GT(aac.frames.size(), 20u) << rate << " Hz " << channels << " ch";
    SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(channels) + " channels");
    ASSERT_TRUE(qvr::AacFramePrecheck::forConfiguration(aac.config.data()).has_value());

    // Junk first (the fresh decoder meets false starts before any real frame), then runs of real
    // frames separated by junk of varied length, some of it mostly zeros.
    std::vector<uint8_t> region = randomBytes(rng, 40000);
    size_t next = 0;
    for (int block = 0; next < aac.frames.size(); ++block) {
      for (int k = 0; k < 8 && next < aac.frames.size(); ++k, ++next) {
        region.insert(region.end(), aac.frames[next].begin(), aac.frames[next].end());
      }
      auto junk = randomBytes(rng, 500 + rng() % 20000);
      if (block % 3 == 2) {
        for (auto& b : junk) b &= (rng() % 8 == 0) ? 0xff : 0x00;
      }
      region.insert(region.end(), junk.begin(), junk.end());
    }
    const std::string path = dir.file("region.bin");
    testsupport::writeFile(path, region);

    const Outcome decodeAll = searchFile(path, aac.config, AacFrameSearch::Precheck::kOff);
    const Outcome passOver = searchFile(path, aac.config, AacFrameSearch::Precheck::kOn);
    const Outcome passOverSliced = searchFile(path, aac.config, AacFrameSearch::Precheck::kOn, 7000);
    const Outcome verify = searchFile(path, aac.config, AacFrameSearch::Precheck::kVerify);

    ASSERT_EQ(decodeAll.frames.size(), passOver.frames.size());
    for (size_t i = 0; i < decodeAll.frames.size(); ++i) {
      ASSERT_EQ(decodeAll.frames[i].offset, passOver.frames[i].offset) << "frame " << i;
      ASSERT_EQ(decodeAll.frames[i].size, passOver.frames[i].size) << "frame " << i;
    }
    ASSERT_EQ(passOver.frames.size(), passOverSliced.frames.size());
    EXPECT_EQ(verify.mispredictions, 0u);
    // Most false starts never reach the decoder (mono frames may open with a zero byte, so sparse
    // junk is offered to it more often there).
    EXPECT_LT(passOver.decodeCalls * 5, decodeAll.decodeCalls);
    EXPECT_GT(passOver.refused, 0u);
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
  std::vector<uint64_t> starts;
  size_t openWithZero = 0;
  for (const auto& frame : aac.frames) {
    starts.push_back(region.size());
    openWithZero += frame[0] == 0;
    region.insert(region.end(), frame.begin(), frame.end());
  }
  ASSERT_GT(openWithZero, aac.frames.size() / 2);
  const std::string path = dir.file("mono.bin");
  testsupport::writeFile(path, region);
  const Outcome found = searchFile(path, aac.config, AacFrameSearch::Precheck::kOn);
  ASSERT_EQ(found.frames.size(), starts.size());
  for (size_t i = 0; i < starts.size(); ++i) EXPECT_EQ(found.frames[i].offset, starts[i]) << "frame " << i;
  EXPECT_LT(found.decodeCalls, starts.size() + 16);  // the zeros cost no decode
}

// Long stretches of random bytes only, many seeds and configurations: every window the check calls
// refused is refused by the decoder, and the frames found (false ones) are the same either way.
TEST(AacFrameSearch, RefusalsAreNeverContradictedByTheDecoderOnRandomBytes) {
  testsupport::TempDir dir;
  std::mt19937 rng(7);
  const std::vector<std::vector<uint8_t>> configs = {
      {0x11, 0x90},  // LC 48 kHz stereo
      {0x12, 0x08},  // LC 44.1 kHz mono
      {0x11, 0x94},  // LC 48 kHz stereo, 960-sample frames
      {0x15, 0x88},  // LC 8 kHz mono
      {0x11, 0xb0},  // LC 48 kHz 5.1
      {0x13, 0x98},  // LC 22.05 kHz 3 channels
  };
  for (const auto& config : configs) {
    SCOPED_TRACE(testing::Message() << std::hex << int(config[0]) << " " << int(config[1]));
    const std::string path = dir.file("random.bin");
    testsupport::writeFile(path, randomBytes(rng, 100000));
    const Outcome verify = searchFile(path, config, AacFrameSearch::Precheck::kVerify);
    EXPECT_EQ(verify.mispredictions, 0u);
    const Outcome decodeAll = searchFile(path, config, AacFrameSearch::Precheck::kOff);
    const Outcome passOver = searchFile(path, config, AacFrameSearch::Precheck::kOn);
    ASSERT_EQ(decodeAll.frames.size(), passOver.frames.size());
    for (size_t i = 0; i < decodeAll.frames.size(); ++i) {
      EXPECT_EQ(decodeAll.frames[i].offset, passOver.frames[i].offset);
      EXPECT_EQ(decodeAll.frames[i].size, passOver.frames[i].size);
    }
  }
}

// Regions searched on the queue's workers give, ticket by ticket, what a search on the caller's
// thread gives; a stopped job gives none.
TEST(AacSearchQueue, ResultsComeByTicketAsIfSearchedInTurn) {
  testsupport::TempDir dir;
  std::mt19937 rng(99);
  const std::string path = dir.file("random.bin");
  testsupport::writeFile(path, randomBytes(rng, 400000));
  const std::vector<uint8_t> config = {0x11, 0x90};
  std::atomic<bool> pause{false};
  std::atomic<bool> stop{false};
  const std::vector<std::pair<uint64_t, uint64_t>> regions = {
      {0, 50000}, {50000, 0}, {123, 90000}, {200000, 150000}, {399000, 5000}};
  qvr::AacSearchQueue queue(path, config, pause, stop, 3);
  std::vector<size_t> tickets;
  for (auto [offset, size] : regions) tickets.push_back(queue.submit(offset, size));
  auto handle = qvr::ReadHandle::open(path);
  for (size_t i = 0; i < regions.size(); ++i) {
    AacFrameSearch direct(config, pause, stop);
    auto expected = direct.search(*handle, regions[i].first, regions[i].second);
    auto got = queue.take(tickets[i]);
    ASSERT_TRUE(expected && got);
    ASSERT_EQ(expected->size(), got->size()) << "region " << i;
    for (size_t k = 0; k < got->size(); ++k) EXPECT_EQ((*expected)[k].offset, (*got)[k].offset);
  }
  stop = true;
  EXPECT_FALSE(queue.take(queue.submit(0, 300000)).has_value());
}

TEST(AacFramePrecheck, ModelsOnlyLowComplexityAtStandardRatesWithAChannelLayout) {
  const uint8_t layoutZero[2] = {0x11, 0x80};
  const uint8_t mainProfile[2] = {0x09, 0x90};
  const uint8_t explicitRate[2] = {0x17, 0x90};
  const uint8_t stereo48k[2] = {0x11, 0x90};
  EXPECT_FALSE(qvr::AacFramePrecheck::forConfiguration(layoutZero).has_value());
  EXPECT_FALSE(qvr::AacFramePrecheck::forConfiguration(mainProfile).has_value());
  EXPECT_FALSE(qvr::AacFramePrecheck::forConfiguration(explicitRate).has_value());
  EXPECT_TRUE(qvr::AacFramePrecheck::forConfiguration(stereo48k).has_value());
}

}  // namespace
