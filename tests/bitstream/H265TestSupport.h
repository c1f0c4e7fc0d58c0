#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "bitstream/H264TestSupport.h"

// Hand-built H.265 parameter sets and units, so that tests can set each syntax element.
namespace h265test {

using h264test::BitWriter;

// The stored form of an RBSP: an emulation_prevention_three_byte after every two zero bytes
// that precede a byte of 0 to 3.
std::vector<uint8_t> escape(const std::vector<uint8_t>& rbsp);

// Two header bytes, then the escaped payload.
std::vector<uint8_t> unit(uint32_t type, const BitWriter& payload, uint32_t layerId = 0, uint32_t temporalIdPlus1 = 1);

// A general profile_tier_level() for Main at level 4 with no sub-layers.
void writeProfileTierLevel(BitWriter& w);

struct SpsFields {  // 8x8 minimum coding blocks in 64x64 coding tree blocks, 8-bit POC lsb
  uint32_t seqParameterSetId = 0;
  uint32_t width = 1920;
  uint32_t height = 1080;
  bool sao = true;
  bool temporalMvp = true;
  uint32_t numShortTermSets = 0;
  std::function<void(BitWriter&)> writeShortTermSets = nullptr;  // the st_ref_pic_set() bits
  bool longTermPresent = false;
  uint32_t numLongTermRefPicsSps = 0;
  uint32_t longTermUsedMask = 0;  // used_by_curr_pic_lt_sps_flag per entry
  bool vuiWithTiming = false;
};
std::vector<uint8_t> buildSps(const SpsFields& f);

struct PpsFields {
  bool weightedPred = false;
  bool tiles = false;
  bool wavefronts = false;
  uint32_t tileColumnsMinus1 = 0;
  uint32_t tileRowsMinus1 = 0;
  bool uniformSpacing = true;
  bool listsModification = false;
  bool headerExtension = false;
};
std::vector<uint8_t> buildPps(const PpsFields& f);

// The standard's VPS with a Main profile_tier_level().
std::vector<uint8_t> buildVps(uint32_t numLayerSetsMinus1);

}  // namespace h265test
