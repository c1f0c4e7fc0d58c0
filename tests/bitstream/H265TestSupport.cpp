#include "bitstream/H265TestSupport.h"

namespace h265test {

std::vector<uint8_t> escape(const std::vector<uint8_t>& rbsp) {
  std::vector<uint8_t> out;
  int zeros = 0;
  for (uint8_t b : rbsp) {
    if (zeros >= 2 && b <= 3) {
      out.push_back(3);
      zeros = 0;
    }
    out.push_back(b);
    zeros = b == 0 ? zeros + 1 : 0;
  }
  return out;
}

std::vector<uint8_t> unit(uint32_t type, const BitWriter& payload, uint32_t layerId, uint32_t temporalIdPlus1) {
  std::vector<uint8_t> out{uint8_t(type << 1 | layerId >> 5), uint8_t((layerId & 31) << 3 | temporalIdPlus1)};
  const std::vector<uint8_t> body = escape(payload.bytes());
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

void writeProfileTierLevel(BitWriter& w) {
  w.u(2, 0).u(1, 0).u(5, 1);  // profile space, tier, Main
  w.u(32, 0x60000000);        // compatibility with Main and Main 10
  w.u(4, 0b1001);             // progressive, frame only
  w.u(43, 0).u(1, 0);
  w.u(8, 120);  // level 4
}

std::vector<uint8_t> buildSps(const SpsFields& f) {
  BitWriter w;
  w.u(4, 0).u(3, 0).u(1, 1);  // vps id, max_sub_layers_minus1, temporal_id_nesting_flag
  writeProfileTierLevel(w);
  w.ue(f.seqParameterSetId).ue(1);  // 4:2:0
  w.ue(f.width).ue(f.height).u(1, 0);
  w.ue(0).ue(0).ue(4);          // 8-bit samples, 8-bit POC lsb
  w.u(1, 1).ue(4).ue(2).ue(5);  // sub-layer ordering info
  w.ue(0).ue(3).ue(0).ue(3).ue(1).ue(1);
  w.u(1, 0);                      // scaling_list_enabled_flag
  w.u(1, 0).u(1, f.sao).u(1, 0);  // amp, SAO, PCM
  w.ue(f.numShortTermSets);
  if (f.writeShortTermSets) f.writeShortTermSets(w);
  w.u(1, f.longTermPresent);
  if (f.longTermPresent) {
    w.ue(f.numLongTermRefPicsSps);
    for (uint32_t i = 0; i < f.numLongTermRefPicsSps; ++i) w.u(8, i).u(1, i < 32 && ((f.longTermUsedMask >> i) & 1));
  }
  w.u(1, f.temporalMvp).u(1, 1);  // strong intra smoothing
  w.u(1, f.vuiWithTiming);
  if (f.vuiWithTiming) {
    w.u(1, 0).u(1, 0).u(1, 0).u(1, 0).u(1, 0).u(1, 0).u(1, 0).u(1, 0);
    w.u(1, 1).u(32, 1).u(32, 25).u(1, 0).u(1, 0);  // timing, no HRD
    w.u(1, 0);                                     // bitstream_restriction_flag
  }
  w.u(1, 0);  // sps_extension_present_flag
  w.trailing();
  return unit(33, w);
}

std::vector<uint8_t> buildPps(const PpsFields& f) {
  BitWriter w;
  w.ue(0).ue(0).u(1, 0).u(1, 0).u(3, 0);  // ids, no dependent slices, output flag or extra bits
  w.u(1, 1).u(1, 0).ue(0).ue(0).se(0);    // sign data hiding, one default reference per list
  w.u(1, 0).u(1, 0).u(1, 1).ue(1);        // constrained intra, transform skip, cu qp delta + depth
  w.se(0).se(0).u(1, 0);
  w.u(1, f.weightedPred).u(1, 0).u(1, 0);
  w.u(1, f.tiles).u(1, f.wavefronts);
  if (f.tiles) {
    w.ue(f.tileColumnsMinus1).ue(f.tileRowsMinus1).u(1, f.uniformSpacing);
    if (!f.uniformSpacing) {
      for (uint32_t i = 0; i < f.tileColumnsMinus1 + f.tileRowsMinus1; ++i) w.ue(1);
    }
    w.u(1, 1);
  }
  w.u(1, 1).u(1, 0);  // loop filter across slices, no deblocking control
  w.u(1, 0).u(1, f.listsModification).ue(0).u(1, f.headerExtension).u(1, 0);
  w.trailing();
  return unit(34, w);
}

std::vector<uint8_t> buildVps(uint32_t numLayerSetsMinus1) {
  BitWriter w;
  w.u(4, 0).u(1, 1).u(1, 1).u(6, 0).u(3, 0).u(1, 1).u(16, 0xffff);
  writeProfileTierLevel(w);
  w.u(1, 1).ue(4).ue(2).ue(5);  // sub-layer ordering info
  w.u(6, 0).ue(numLayerSetsMinus1);
  w.u(1, 0).u(1, 0);  // no timing info, no extension
  w.trailing();
  return unit(32, w);
}

}  // namespace h265test
