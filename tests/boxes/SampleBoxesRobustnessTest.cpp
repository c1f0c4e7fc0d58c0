#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "SampleBoxWalker.h"
#include "boxes/AVCDecoderConfigurationRecord.h"
#include "boxes/AudioSampleDescriptionEntery.h"
#include "boxes/Ctts.h"
#include "boxes/DecoderConfigDescriptor.h"
#include "boxes/DecoderSpecifiInfoWrapper.h"
#include "boxes/EsdsDecoder.h"
#include "boxes/HVCDecoderConfigurationRecord.h"
#include "boxes/ObjectDescriptor.h"
#include "boxes/Sdtp.h"
#include "boxes/Stco.h"
#include "boxes/Stsc.h"
#include "boxes/Stsd.h"
#include "boxes/Stss.h"
#include "boxes/Stsz.h"
#include "boxes/Stts.h"
#include "boxes/VideoSampleDescriptionEntery.h"
#include "support/TestSupport.h"

namespace {

using sampleboxes::Bytes;

// Real sample descriptions and tables of several writers and codecs.
std::vector<Bytes> seedBoxes() {
  std::vector<Bytes> seeds;
  for (const char* name :
       {"gopro_hero7_HD7.mp4", "iphone14pro_dolbyvision_hevc.mov", "samsung_sef_slowmo.mp4", "lavf_avc720p_twos.mov",
        "lavf_avc1080p50_sowt.mov", "phone_3gp5_avc720p_co64.mp4", "iphone6_gps.mov"}) {
    Bytes file = testsupport::readFile(testsupport::sharedDir() + "/corpus/" + name);
    for (auto& track : sampleboxes::trackTables(file)) {
      for (auto& [type, box] : track.boxes) {
        // Large tables add run time without adding structure.
        if (box.size() <= 4096) seeds.push_back(box);
      }
    }
  }
  return seeds;
}

// Parses the bytes as every class of the sample description and sample tables, and asks each
// for everything it offers. The buffer is exactly as long as the box, so a read past its end
// is caught by the address sanitizer.
void parseEverything(const Bytes& b) {
  const uint8_t* p = b.data();
  const uint32_t n = uint32_t(b.size());
  auto stsd = Stsd::initSTSDWithBytes(p, n);
  (void)stsd->getResolution();
  (void)stsd->avc1NaluSizeLength();
  (void)stsd->getAvgAudioBitRate();
  (void)stsd->getMaxAudioBitRate();
  (void)stsd->SPS();
  (void)stsd->PPS();
  (void)stsd->VPS();
  if (auto info = stsd->decoderSpecificInfo()) {
    volatile uint8_t sink = 0;
    for (uint8_t c : info->decoderSpecificInfo) sink = sink + c;
  }
  // The same bytes seen as the nested structures they may contain.
  for (uint32_t skip : {0u, 16u}) {
    if (skip > n) continue;
    (void)VideoSampleDescriptionEntery::initVSDEnteryWithBytes(p + skip, n - skip);
    (void)AudioSampleDescriptionEntery::initASDEnteryWithBytes(p + skip, n - skip);
    (void)AVCDecoderConfigurationRecord::initAVCCWithBytes(p + skip, n - skip);
    (void)HVCDecoderConfigurationRecord::initHVCDecoderWithBytes(p + skip, n - skip, 1920, 1080);
    (void)EsdsDecoder::initESDSWithBytes(p + skip, n - skip);
    (void)ObjectDescriptor::initObjectDescriptorWithBytes(p + skip, n - skip);
    (void)DecoderConfigDescriptor::initDecoderConfigDescriptorWithBytes(p + skip, n - skip);
  }
  auto stts = Stts::initSTTSWithBytes(p, n);
  stts->createWriteableData();
  auto stss = Stss::initSTSSWithBytes(p, n);
  stss->createWriteableData();
  auto stsz = Stsz::initSTSZWithBytes(p, n);
  stsz->createWriteableData();
  auto stsc = Stsc::initSTSCWithBytes(p, n);
  stsc->asignWritableData();
  for (bool wide : {false, true}) Stco::initSTCOWithBytes(p, n, wide)->createWriteableData();
  auto ctts = Ctts::initCTTSWithBytes(p, n);
  EXPECT_EQ(ctts->size, ctts->writeableData.size());
  (void)ctts->getCompositionOffset();
  Sdtp::initSDTPWithBytes(p, n)->createWriteableData();
}

Bytes mutate(const Bytes& seed, std::mt19937& rng) {
  Bytes b = seed;
  const int kind = int(rng() % 4);
  if (kind == 0 && !b.empty()) {
    b.resize(rng() % b.size());
  } else if (kind == 1 && !b.empty()) {
    for (int i = 0, flips = 1 + int(rng() % 8); i < flips; ++i) b[rng() % b.size()] ^= uint8_t(1u << (rng() % 8));
  } else if (b.size() >= 4) {
    // Sizes, counts and lengths are where parsers go wrong: overwrite one with a telling value.
    static const uint32_t kValues[] = {0, 1, 7, 8, 9, 0x7F, 0x80, 0xFF, 0xFFFF, 0x7FFFFFFF, 0xFFFFFFFF, 0xFFFFFFF8};
    uint32_t v = kValues[rng() % std::size(kValues)];
    if (rng() % 2) v = uint32_t(b.size()) + (rng() % 17) - 8;
    size_t at = rng() % (b.size() - 3);
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (24 - 8 * i));
    if (kind == 3 && !b.empty()) b.resize(rng() % (b.size() + 1));
  }
  return Bytes(b.begin(), b.end());  // an allocation of exactly the mutated length
}

TEST(SampleBoxesRobustness, DamagedRealBoxesNeverCrashHangOrOverread) {
  const std::vector<Bytes> seeds = seedBoxes();
  ASSERT_GT(seeds.size(), 40u);
  std::mt19937 rng(20261206);
  for (const Bytes& seed : seeds) {
    parseEverything(Bytes(seed.begin(), seed.end()));
    for (int i = 0; i < 150; ++i) parseEverything(mutate(seed, rng));
  }
}

TEST(SampleBoxesRobustness, RandomBytesBehindPlausibleHeaders) {
  std::mt19937 rng(7);
  static const char* kTypes[] = {"avc1", "hvc1", "mp4a", "sowt", "twos", "avcC", "hvcC", "esds", "colr", "wave"};
  for (int i = 0; i < 3000; ++i) {
    Bytes b(8 + rng() % 200);
    for (uint8_t& c : b) c = uint8_t(rng());
    // Nest a few plausible box headers at random places so the scans have something to bite.
    for (int k = 0, boxes = int(rng() % 4); k < boxes && b.size() >= 16; ++k) {
      size_t at = rng() % (b.size() - 8);
      uint32_t s = uint32_t(rng() % (b.size() - at + 8));
      for (int j = 0; j < 4; ++j) b[at + j] = uint8_t(s >> (24 - 8 * j));
      std::copy_n(kTypes[rng() % std::size(kTypes)], 4, b.begin() + at + 4);
    }
    parseEverything(b);
  }
}

}  // namespace
