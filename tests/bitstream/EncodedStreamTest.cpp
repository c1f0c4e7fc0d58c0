#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "bitstream/BitstreamTestSupport.h"
#include "bitstream/NALU.h"
#include "bitstream/PPS.h"
#include "bitstream/PPS_265.h"
#include "bitstream/SPS.h"
#include "bitstream/SPS_265.h"
#include "bitstream/SliceHeader.h"
#include "bitstream/SliceHeader_265.h"
#include "bitstream/VPS_265.h"
#include "support/TestSupport.h"

using namespace bstest;
using Units = std::vector<std::vector<uint8_t>>;

// Real and written streams judged the way the repair scan judges them: every unit in its 50-byte
// window behind a 4-byte prefix, against the parameter sets it refers to, with ffmpeg's trace as
// the independent reading of each syntax element.
namespace {

struct Recipe {
  const char* name;
  std::string encode;            // ffmpeg arguments of an encode of a test pattern
  const char* size = "";         // WxH as the sample description gives it (H.265)
  Units (*written)() = nullptr;  // hand-written units instead of an encode
  bool corpus() const { return encode.empty() && !written; }
};
void PrintTo(const Recipe& r, std::ostream* os) { *os << r.name; }
std::string testName(const ::testing::TestParamInfo<Recipe>& info) {
  std::string name = info.param.name;
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

// Slices end with a few bytes of data behind alignment bits.
std::vector<uint8_t> withData(BitWriter& w) {
  while (w.size() % 8) w.u(1, 1);
  for (int i = 0; i < 20; ++i) w.u(8, 0x55);
  return w.trailing().bytes();
}

// Syntax no encoder here writes: an order-count cycle, field and MBAFF slices, the slice group
// map kinds, separate colour planes with scaling lists, redundant picture counts, list
// modifications, weight tables and memory management operations.
Units writtenH264() {
  Units units;
  BitWriter sps0;  // Baseline: a three-frame order-count cycle, field coding with MBAFF, cropping
  sps0.u(8, 0x67).u(8, 66).u(8, 0).u(8, 30).ue(0).ue(1).ue(1).u(1, 0).se(-2).se(3).ue(3).se(2).se(-1).se(4);
  sps0.ue(2).u(1, 0).ue(10).ue(8).u(1, 0).u(1, 1).u(1, 1).u(1, 1).ue(0).ue(2).ue(1).ue(3).u(1, 0);
  units.push_back(sps0.trailing().bytes());
  BitWriter sps1;  // High 4:4:4: separate colour planes, scaling lists, 16-bit frame_num
  sps1.u(8, 0x67).u(8, 244).u(8, 0).u(8, 40).ue(1).ue(3).u(1, 1).ue(2).ue(2).u(1, 0).u(1, 1);
  for (int i = 0; i < 12; ++i) {  // lists 1, 4, 7 and 10 left out; list 0 ends where its next scale is 0
    sps1.u(1, i % 3 != 1);
    const int n = i % 3 == 1 ? 0 : i == 0 ? 6 : i < 6 ? 16 : 64;
    for (int j = 0; j < n; ++j) sps1.se(i == 0 && j == 5 ? -7 : j % 3 - 1);
  }
  sps1.ue(12).ue(0).ue(2).ue(3).u(1, 0).ue(10).ue(8).u(1, 1).u(1, 1).u(1, 0).u(1, 0);
  units.push_back(sps1.trailing().bytes());
  const uint32_t mapTypes[] = {0, 2, 4, 6};
  for (uint32_t id = 0; id < 4; ++id) {  // slice groups; defaults, weights and offsets vary per set
    BitWriter pps;
    pps.u(8, 0x68).ue(id).ue(0).u(1, 0).u(1, 1).ue(2).ue(mapTypes[id]);
    if (id == 0) pps.ue(5).ue(17).ue(0);
    if (id == 1) pps.ue(0).ue(30).ue(12).ue(60);
    if (id == 2) pps.u(1, 1).ue(9);
    if (id == 3) {
      pps.ue(98);  // a group for each map unit of SPS 0
      for (int i = 0; i < 99; ++i) pps.u(2, (i * 7) % 3);
    }
    pps.ue(id).ue(id & 1).u(1, id & 1).u(2, id % 3).se(-3 - int32_t(id)).se(1).se(2 - 4 * int32_t(id));
    units.push_back(pps.u(1, 1).u(1, id >> 1).u(1, id == 3).trailing().bytes());
  }
  BitWriter pps4;  // on SPS 0: bottom field order, weighted prediction, redundant picture counts
  pps4.u(8, 0x68).ue(4).ue(0).u(1, 0).u(1, 1).ue(0).ue(1).ue(0).u(1, 1).u(2, 1).se(0).se(0).se(0).u(3, 0b101);
  units.push_back(pps4.trailing().bytes());
  BitWriter pps5;  // on SPS 1: CABAC
  pps5.u(8, 0x68).ue(5).ue(1).u(1, 1).u(1, 0).ue(0).ue(0).ue(0).u(1, 0).u(2, 0).se(2).se(0).se(-2).u(3, 0);
  units.push_back(pps5.trailing().bytes());

  BitWriter idr;  // top field: idr_pic_id, first cycle delta, redundant count, marking, qp, deblocking
  idr.u(8, 0x65).ue(0).ue(7).ue(4).u(5, 0).u(1, 1).u(1, 0).ue(3).se(-4).ue(1).u(1, 0).u(1, 1).se(6).ue(1);
  units.push_back(withData(idr));
  BitWriter p;  // MBAFF frame: both cycle deltas, three references, list modifications, weights, marking
  p.u(8, 0x41).ue(0).ue(5).ue(4).u(5, 1).u(1, 0).se(2).se(-1).ue(0).u(1, 1).ue(2);
  p.u(1, 1).ue(0).ue(1).ue(1).ue(4).ue(2).ue(0).ue(3).ue(5).ue(1);
  p.u(1, 1).se(3).se(0).u(1, 0).u(1, 0).u(1, 1).se(1).se(-1).se(2).se(0).u(1, 1).se(1).se(-2).u(1, 1).se(0).se(1);
  p.se(-1).se(2).u(1, 1).ue(1).ue(2).ue(2).ue(0).ue(3).ue(1).ue(1).ue(4).ue(2).ue(6).ue(0).ue(0);
  p.se(-2).ue(0).se(1).se(-1);
  units.push_back(withData(p));
  BitWriter b;  // bottom field, not a reference: direct mode flag, both lists modified and weighted
  b.u(8, 0x01).ue(0).ue(6).ue(4).u(5, 2).u(1, 1).u(1, 1).se(1).ue(0).u(1, 0).u(1, 1).ue(1).ue(0);
  b.u(1, 0).u(1, 1).ue(2).ue(1).ue(3).ue(2).ue(0);
  b.u(1, 1).se(2).se(0).u(1, 0).u(1, 1).se(2).se(1).u(1, 1).se(0).se(1).se(-1).se(2).u(1, 1).se(2).se(0).u(1, 0);
  units.push_back(withData(b.se(4).ue(1)));
  BitWriter plane2;  // on SPS 1: colour plane, 16-bit frame_num, POC lsb
  plane2.u(8, 0x65).ue(0).ue(2).ue(5).u(2, 2).u(16, 0).ue(1).u(6, 17).u(1, 0).u(1, 0).se(-3);
  units.push_back(withData(plane2));
  BitWriter plane1;  // P: cabac_init_idc
  plane1.u(8, 0x21).ue(0).ue(0).ue(5).u(2, 1).u(16, 0xbeef).u(6, 20).u(1, 0).u(1, 0).u(1, 0).ue(1).se(2);
  units.push_back(withData(plane1));
  for (uint32_t id = 0; id < 4; ++id) {  // on the slice group sets
    BitWriter s;
    s.u(8, 0x01).ue(0).ue(2).ue(id).u(5, 3).u(1, 0).se(0).se(0);
    if (id == 3) s.ue(0);
    s.se(int32_t(id) - 1).ue(1);
    if (id == 2) s.u(4, 7);  // slice_group_change_cycle
    units.push_back(withData(s));
  }
  return units;
}

// x264 encodes of a test pattern, the written units, then the first frames of camera files.
const std::string kX264 = "-frames:v 30 -pix_fmt yuv420p -c:v libx264 -threads 1 -profile:v ";
const Recipe kH264[] = {
    {"baseline_cavlc_4slices_aud", kX264 + "baseline -x264-params slices=4:aud=1"},
    {"main_cabac_bframes", kX264 + "main -bf 3 -refs 3"},
    {"high_cabac_bframes", kX264 + "high -bf 3 -refs 4 -x264-params b-pyramid=strict"},
    {"high_interlaced", kX264 + "high -bf 2 -x264-params interlaced=1"},
    {"high444", "-frames:v 30 -pix_fmt yuv444p -c:v libx264 -threads 1 -profile:v high444 -bf 2"},
    {"high_monochrome", "-frames:v 30 -pix_fmt gray -c:v libx264 -threads 1 -profile:v high -bf 2"},
    {"written", "", "", writtenH264},
    {"gopro_hero7_HD7.mp4", ""},              // Main
    {"iphone6s_livephoto_lpcm.mov", ""},      // High, scaling lists in the SPS
    {"android12_avc_4k60_portrait.mp4", ""},  // picture order count type 2
    {"apple_sample_ipod.m4v", ""},            // Baseline, several slices per picture
};

// Sub-layers, scaling lists in both sets, PCM, reference picture sets predicted from others in the
// SPS and in a slice, long-term pictures, range extensions, explicit tiles, dependent slice
// segments, list modifications, weight tables, deblocking overrides, header extensions.
void ptlWithSubLayers(BitWriter& w) {  // two sub-layers: a profile for the first, a level for the second
  profileTierLevel265(w);
  w.u(4, 0b1001).u(12, 0);
  w.u(2, 0).u(1, 0).u(5, 1).u(32, 0x60000000).u(4, 0b1001).u(44, 0).u(8, 90);
}
void scalingLists265(BitWriter& w) {
  for (uint32_t sizeId = 0; sizeId < 4; ++sizeId) {
    for (uint32_t m = 0; m < 6; m += sizeId == 3 ? 3 : 1) {
      if ((sizeId + m) % 2 == 0) {
        w.u(1, 0).ue(0);
        continue;
      }
      w.u(1, 1);
      if (sizeId > 1) w.se(3);
      for (uint32_t i = 0; i < std::min(64u, 1u << (4 + 2 * sizeId)); ++i) w.se(int32_t(i % 5) - 2);
    }
  }
}
Units writtenH265() {
  Units units;
  BitWriter vps;
  vps.u(4, 0).u(1, 1).u(1, 1).u(6, 0).u(3, 2).u(1, 1).u(16, 0xffff);
  ptlWithSubLayers(vps);
  vps.u(1, 1).ue(5).ue(2).ue(0).ue(5).ue(2).ue(0).ue(5).ue(2).ue(0).u(6, 0).ue(0).u(1, 0).u(1, 0);
  units.push_back(unit265(32, vps.trailing()));
  BitWriter sps;  // 128x64 in 16x16 coding tree blocks: 8 x 4 of them
  sps.u(4, 0).u(3, 2).u(1, 1);
  ptlWithSubLayers(sps);
  sps.ue(0).ue(1).ue(128).ue(64).u(1, 1).ue(0).ue(2).ue(0).ue(1).ue(0).ue(0).ue(4);
  sps.u(1, 1).ue(5).ue(2).ue(0).ue(5).ue(2).ue(0).ue(5).ue(2).ue(0).ue(0).ue(1).ue(0).ue(2).ue(1).ue(1);
  sps.u(1, 1).u(1, 1);
  scalingLists265(sps);
  sps.u(1, 1).u(1, 1).u(1, 1).u(4, 7).u(4, 7).ue(0).ue(1).u(1, 1);    // AMP, SAO, PCM
  sps.ue(2).ue(2).ue(1).ue(0).u(1, 1).ue(1).u(1, 1).ue(1).u(1, 0);    // set 0: -1 -3 used, +2 not
  sps.u(1, 1).u(1, 1).ue(0).u(1, 1).u(1, 0).u(1, 1).u(1, 1).u(1, 1);  // set 1: set 0 moved by -1
  sps.u(1, 1).ue(2).u(8, 3).u(1, 1).u(8, 7).u(1, 0);                  // two long-term pictures
  sps.u(1, 1).u(1, 1).u(1, 0).u(1, 1).u(1, 1).u(7, 0).u(9, 0);        // range extension
  units.push_back(unit265(33, sps.trailing()));
  BitWriter pps0;
  pps0.ue(0).ue(0).u(1, 1).u(1, 1).u(3, 2).u(1, 0).u(1, 1).ue(1).ue(0).se(-2).u(1, 0).u(1, 1).u(1, 1).ue(1);
  pps0.se(1).se(-1).u(1, 1).u(1, 1).u(1, 1).u(1, 0).u(1, 1).u(1, 0).ue(1).ue(1).u(1, 0).ue(2).ue(1).u(1, 1);
  pps0.u(1, 1).u(1, 1).u(1, 1).u(1, 0).se(-1).se(2).u(1, 1);
  scalingLists265(pps0);
  pps0.u(1, 1).ue(0).u(1, 1).u(1, 1).u(1, 1).u(7, 0);
  pps0.ue(1).u(1, 0).u(1, 1).ue(0).ue(1).se(2).se(-2).se(1).se(0).ue(0).ue(0);
  units.push_back(unit265(34, pps0.trailing()));
  BitWriter pps1;  // wavefronts
  pps1.ue(1).ue(0).u(5, 0).u(1, 1).u(1, 0).ue(0).ue(0).se(0).u(3, 0).se(0).se(0).u(5, 0).u(1, 1);
  units.push_back(unit265(34, pps1.u(1, 1).u(1, 0).u(1, 0).u(1, 0).ue(0).u(1, 0).u(1, 0).trailing()));

  BitWriter idr;  // entry points into three more tiles, a header extension
  idr.u(1, 1).u(1, 0).ue(0).u(2, 0).ue(2).u(1, 1).u(1, 1).u(1, 1).se(-3).se(1).se(-1).u(1, 1).u(1, 1).u(1, 0);
  idr.se(2).se(-2).u(1, 1).ue(3).ue(9).u(10, 100).u(10, 101).u(10, 102).ue(2).u(16, 0xabcd);
  units.push_back(unit265(19, idr.u(1, 1)));
  BitWriter second;  // an independent segment at address 17
  second.u(1, 0).u(1, 0).ue(0).u(1, 0).u(5, 17).u(2, 3).ue(2).u(1, 1).u(1, 0).u(1, 1).se(4).se(0).se(0);
  units.push_back(unit265(19, second.u(1, 0).u(1, 0).u(1, 1).ue(1).ue(3).u(4, 9).ue(0).u(1, 1)));
  BitWriter dependent;
  units.push_back(unit265(19, dependent.u(1, 0).u(1, 0).ue(0).u(1, 1).u(5, 26).ue(0).ue(1).u(8, 0x11).u(1, 1)));
  BitWriter p;  // SPS set 1, a long-term picture from the SPS and one of its own: 3 list entries of 3 bits
  p.u(1, 1).ue(0).u(2, 0).ue(1).u(1, 1).u(8, 9).u(1, 1).u(1, 1);
  p.ue(1).ue(1).u(1, 0).u(1, 0).u(8, 5).u(1, 1).u(1, 1).ue(2).u(1, 1).u(1, 1).u(1, 1).u(1, 1).ue(2);
  p.u(1, 1).u(3, 0).u(3, 4).u(3, 2).u(1, 0).ue(1).ue(3).se(-1).u(3, 0b101).u(3, 0b010);
  p.se(3).se(-2).se(1).se(0).se(-1).se(2).se(-4).se(7).ue(2).se(5).se(0).se(0).u(1, 0).u(1, 0).u(1, 1).ue(0).ue(0);
  units.push_back(unit265(1, p.u(1, 1)));
  BitWriter bSlice;  // its own set predicted from SPS set 0, both lists modified and weighted
  bSlice.u(1, 1).ue(0).u(2, 0).ue(0).u(1, 1).u(8, 10).u(1, 0).u(1, 1).ue(1).u(1, 0).ue(0);
  bSlice.u(1, 1).u(1, 0).u(1, 1).u(1, 1).u(1, 1).ue(0).ue(0).u(1, 1).u(1, 0).u(1, 1).u(1, 1).ue(1).ue(1);
  bSlice.u(1, 1).u(1, 1).u(1, 0).u(1, 1).u(1, 0).u(1, 1).u(1, 1).u(1, 1).u(1, 0).ue(1);  // entries of 1 bit
  bSlice.ue(2).se(1).u(2, 0b01).u(2, 0b10).se(2).se(-3).se(0).se(1).se(2).se(3);
  bSlice.u(2, 0b11).u(2, 0b00).se(1).se(1).se(-5).se(0);
  bSlice.ue(0).se(-6).se(1).se(1).u(4, 0b1111).ue(0).ue(0);
  units.push_back(unit265(0, bSlice.u(1, 1), 0, 2));
  BitWriter cra;  // on the wavefront set: an entry point per row
  cra.u(1, 1).u(1, 0).ue(1).ue(2).u(8, 12).u(1, 1).u(1, 0).ue(0).ue(0).u(1, 1).u(1, 1).u(1, 1).se(2).u(1, 1);
  units.push_back(unit265(21, cra.ue(3).ue(4).u(5, 1).u(5, 2).u(5, 3).u(1, 1)));
  for (auto& u : units) {
    if (u[0] >> 1 < 32) u.insert(u.end(), 30, 0xa5);  // slice data after the alignment bits
  }
  return units;
}

const std::string kX265 = "-c:v libx265 -threads 1 -x265-params log-level=error:frame-threads=1:";
const Recipe kH265[] = {
    {"default_bframes", "-frames:v 30 " + kX265 + "pools=none:aud=1", "640x360"},
    {"no_wpp", "-frames:v 24 " + kX265 + "pools=none:wpp=0:bframes=0:ref=3:deblock=-2,-1", "640x360"},
    // Wavefronts need a thread pool in x265 (and its slices need wavefronts); one thread keeps
    // the output repeatable.
    {"wpp_2slices", "-frames:v 24 " + kX265 + "pools=1:wpp=1:slices=2", "640x360"},
    {"main10", "-frames:v 24 -pix_fmt yuv420p10le " + kX265 + "pools=none", "640x360"},
    // Scaling lists, VUI with HRD, no SAO and no deblocking control, weighted B prediction, four
    // references, and parameter sets repeated in the stream.
    {"hrd_scaling_nosao_weightb",
     "-frames:v 24 " + kX265 +
         "pools=none:no-sao=1:weightb=1:ref=4:scaling-list=default:vbv-bufsize=2000:"
         "vbv-maxrate=1500:hrd=1:repeat-headers=1:keyint=10",
     "640x360"},
    {"hd1080_wpp", "-frames:v 8 " + kX265 + "pools=1:wpp=1:preset=fast", "1920x1080"},
    {"written", "", "128x64", writtenH265},
    {"apple_hevc_main10_moovfirst.mp4", "", "1920x1080"},     // wavefronts, 1088 coded lines
    {"android_hevc_mett_track.mp4", "", "1920x1080"},         // tiles, a set in the SPS
    {"android14_hevc_hlg10_moovfirst.mp4", "", "1920x1080"},  // 10-bit HLG
    {"iphone14pro_dolbyvision_hevc.mov", "", "1280x720"},
    {"pixel_motionphoto_2hevc.mp4", "", "1024x768"},
};

struct Stream {
  Units units;
  std::vector<TraceUnit> trace;  // one per unit; empty for a unit the trace does not decompose
  std::vector<uint8_t> media;    // the units behind 4-byte prefixes, as a movie stores them
  std::vector<size_t> offsets;
};

class Streams : public ::testing::TestWithParam<Recipe> {
 protected:
  // Encodes, extracts or writes the stream, splits it and pairs its units with the trace by type.
  void load(bool hevc) {
    const Recipe& r = GetParam();
    const std::string corpus = testsupport::sharedDir() + "/corpus/" + r.name;
    if (r.corpus() && !std::filesystem::exists(corpus)) {
      GTEST_SKIP() << "camera corpus not found: " << r.name << " (third-party files kept outside the repository)";
    }
    if (!testsupport::haveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string out = dir.file("stream");
    std::string input = "-i " + testsupport::shellQuote(corpus) + " -map 0:v:0 -frames:v 40 -c:v copy -bsf:v " +
                        (hevc ? "hevc_mp4toannexb" : "h264_mp4toannexb");
    if (!r.encode.empty())
      input = "-f lavfi -i testsrc2=size=" + std::string(hevc ? r.size : "208x160") + ":rate=25 " + r.encode;
    if (r.written) {
      testsupport::writeFile(out, annexB(r.written()));
    } else {
      auto made = testsupport::runCommand("ffmpeg -hide_banner -loglevel error -nostdin -y " + input +
                                          (hevc ? " -f hevc " : " -f h264 ") + testsupport::shellQuote(out));
      ASSERT_EQ(made.exitCode, 0) << made.output;
    }
    s.units = splitAnnexB(testsupport::readFile(out));
    std::string log;
    const std::vector<TraceUnit> traced = traceUnits(out, &log);
    size_t next = 0;
    for (const auto& u : s.units) {
      const int64_t type = hevc ? u[0] >> 1 & 63 : u[0] & 31;
      const bool paired = next < traced.size() && field(traced[next], "nal_unit_type") == type;
      s.trace.push_back(paired ? traced[next++] : TraceUnit());
      // Only unspecified types are left out.
      ASSERT_TRUE(paired || (hevc ? type >= 48 : type == 0 || type >= 24)) << log.substr(0, 3000);
      s.offsets.push_back(s.media.size());
      const auto stored = prefixed(u);
      s.media.insert(s.media.end(), stored.begin(), stored.end());
    }
    ASSERT_TRUE(!s.units.empty() && next == traced.size())
        << s.units.size() << " units, " << traced.size() << " traced";
  }

  testsupport::TempDir dir;
  Stream s;
};

// Compares our values with the trace's; a field the trace does not show must hold `absent` if
// that is given.
struct Traced {
  const char* name;
  int64_t ours;
  std::optional<int64_t> absent = std::nullopt;
};
void expectTraced(const TraceUnit& t, const std::string& where, std::initializer_list<Traced> fields) {
  for (const auto& f : fields) {
    const auto v = field(t, f.name);
    if (v || f.absent) {
      EXPECT_EQ(f.ours, v ? *v : *f.absent) << where << ": " << f.name;
    }
  }
}

class H264Streams : public Streams {};

TEST_P(H264Streams, EveryUnitIsAcceptedInItsScanWindowAndReadsAsTraced) {
  load(false);
  if (IsSkipped() || HasFatalFailure()) return;
  std::map<int64_t, std::unique_ptr<SPS>> spsById;
  std::map<int64_t, std::unique_ptr<PPS>> ppsById;
  size_t slices = 0, shifted = 0, shiftedAccepted = 0;
  for (size_t i = 0; i < s.units.size(); ++i) {
    const auto& u = s.units[i];
    const TraceUnit& t = s.trace[i];
    const uint32_t type = u[0] & 31;
    const std::string where =
        std::string(GetParam().name) + " unit " + std::to_string(i) + " type " + std::to_string(type);
    if (type == 7) {
      auto sps = SPS::initSPSWithBytes(u.data(), uint32_t(u.size()));
      expectTraced(t, where,
                   {{"profile_idc", sps->profile_idc},
                    {"level_idc", sps->level_idc},
                    {"seq_parameter_set_id", sps->seq_parameter_set_id},
                    {"chroma_format_idc", sps->chroma_format_idc, 1},
                    {"separate_colour_plane_flag", sps->separate_colour_plane_flag, 0},
                    {"log2_max_frame_num_minus4", sps->log2_max_frame_num_minus4},
                    {"pic_order_cnt_type", sps->pic_order_cnt_type},
                    {"log2_max_pic_order_cnt_lsb_minus4", sps->log2_max_pic_order_cnt_lsb_minus4, -1},
                    {"delta_pic_order_always_zero_flag", sps->delta_pic_order_always_zero_flag, -1},
                    {"max_num_ref_frames", sps->max_num_ref_frames},
                    {"pic_width_in_mbs_minus1", sps->pic_width_in_mbs_minus1},
                    {"pic_height_in_map_units_minus1", sps->pic_height_in_map_units_minus1},
                    {"frame_mbs_only_flag", sps->frame_mbs_only_flag},
                    {"mb_adaptive_frame_field_flag", sps->mb_adaptive_frame_field_flag, 0},
                    {"vui_parameters_present_flag", sps->vui_parameters_present_flag}});
      // What the scan and the writer take from the set.
      EXPECT_EQ(sps->MaxFrameNum, 16 << sps->log2_max_frame_num_minus4) << where;
      EXPECT_EQ(sps->MaxPicOrderCntLsb, sps->pic_order_cnt_type ? 0 : 16 << sps->log2_max_pic_order_cnt_lsb_minus4)
          << where;
      spsById[sps->seq_parameter_set_id] = std::move(sps);
    } else if (type == 8) {
      auto pps = PPS::initPPSWithBytes(u.data(), uint32_t(u.size()));
      expectTraced(t, where,
                   {{"pic_parameter_set_id", pps->pic_parameter_set_id},
                    {"seq_parameter_set_id", pps->seq_parameter_set_id},
                    {"entropy_coding_mode_flag", pps->entropy_coding_mode_flag},
                    {"bottom_field_pic_order_in_frame_present_flag", pps->pic_order_present_flag},
                    {"num_slice_groups_minus1", pps->num_slice_groups_minus1},
                    {"num_ref_idx_l0_default_active_minus1", pps->num_ref_idx_l0_active_minus1},
                    {"num_ref_idx_l1_default_active_minus1", pps->num_ref_idx_l1_active_minus1},
                    {"weighted_pred_flag", pps->weighted_pred_flag},
                    {"weighted_bipred_idc", pps->weighted_bipred_idc},
                    {"pic_init_qp_minus26", pps->pic_init_qp_minus26},
                    {"pic_init_qs_minus26", pps->pic_init_qs_minus26},
                    {"chroma_qp_index_offset", pps->chroma_qp_index_offset},
                    {"deblocking_filter_control_present_flag", pps->deblocking_filter_control_present_flag},
                    {"constrained_intra_pred_flag", pps->constrained_intra_pred_flag},
                    {"redundant_pic_cnt_present_flag", pps->redundant_pic_cnt_present_flag}});
      ppsById[pps->pic_parameter_set_id] = std::move(pps);
    }
    // The sets the unit is judged against: its own for a parameter set, the ones it names for a slice.
    const auto ppsAt = ppsById.find(field(t, "pic_parameter_set_id").value_or(-1));
    const PPS* pps = ppsAt == ppsById.end() ? nullptr : ppsAt->second.get();
    const auto spsAt = spsById.find(field(t, "seq_parameter_set_id").value_or(pps ? pps->seq_parameter_set_id : -1));
    const SPS* sps = spsAt == spsById.end() ? nullptr : spsAt->second.get();

    // A window one byte early or late sees a wrong prefix and a header byte from the prefix or
    // the payload. A byte that reads as a non-IDR slice header (any nal_ref_idc) is judged only on
    // slice_type, so some pass: after tiny units (a 5-byte SEI shifts to prefix 0x00000506 and
    // header 0x01) and at second slices whose first_mb_in_slice code starts with 0x01.
    for (int delta : {-1, 1}) {
      if (s.offsets[i] == 0 && delta < 0) continue;
      ++shifted;
      const auto w = window(s.media, s.offsets[i] + delta);
      if (auto n = NALU::initNALUWithBytes(w.data(), 50, 4, sps, pps)) {
        ++shiftedAccepted;
        EXPECT_EQ(n->NALType, 1u) << where << " off by " << delta;
      }
    }
    const auto w = window(s.media, s.offsets[i]);
    auto nalu = NALU::initNALUWithBytes(w.data(), 50, 4, sps, pps);
    if (type >= 6 && type <= 9 && u.size() + 4 > 800) {  // x264's version SEI is larger than the rules allow
      EXPECT_EQ(nalu, nullptr) << where;
      continue;
    }
    ASSERT_NE(nalu, nullptr) << where;
    expectTraced(t, where,
                 {{"nal_unit_type", nalu->NALType},
                  {"nal_ref_idc", nalu->NRI},
                  {"first_mb_in_slice", nalu->firstMBInSlice, -1},
                  {"slice_type", nalu->sliceType, -1},
                  {"frame_num", nalu->frameNum, -1}});
    EXPECT_EQ(nalu->nalSize, u.size() + 4) << where;
    if (type != 1 && type != 5) continue;
    ++slices;
    // The whole header, past the window, up to slice_qp_delta. The trace reads the payload with
    // emulation-prevention bytes removed, the parser as stored: units with one there are skipped.
    static const uint8_t kEscape[] = {0, 0, 3};
    const auto head = u.begin() + std::min<size_t>(u.size(), 64);
    if (std::search(u.begin(), head, std::begin(kEscape), std::end(kEscape)) != head) continue;
    auto h = SliceHeader::initIDRWithBytes(u.data() + 1, uint32_t(u.size() - 1), nalu.get(), sps, pps);
    ASSERT_NE(h, nullptr) << where;
    expectTraced(t, where,
                 {{"pic_parameter_set_id", h->pic_parameter_set_id},
                  {"colour_plane_id", h->colour_plane_id, -1},
                  {"field_pic_flag", h->field_pic_flag, 0},
                  {"bottom_field_flag", h->bottom_field_flag, 0},
                  {"idr_pic_id", h->idr_pic_id, -1},
                  {"pic_order_cnt_lsb", h->pic_order_cnt_lsb, -1},
                  {"delta_pic_order_cnt_bottom", h->delta_pic_order_cnt_bottom, -1},
                  {"no_output_of_prior_pics_flag", h->dec_ref_pic_marking.no_output_of_prior_pics_flag, 0},
                  {"long_term_reference_flag", h->dec_ref_pic_marking.long_term_reference_flag, 0},
                  {"slice_qp_delta", h->slice_qp_delta}});
  }
  EXPECT_GE(slices, 8u);
  // Measured: all rejected in most streams, three quarters in the one with tiny SEI and many slices.
  EXPECT_GE(double(shifted - shiftedAccepted) / double(shifted), 0.7) << shiftedAccepted << " of " << shifted;
}

INSTANTIATE_TEST_SUITE_P(Streams, H264Streams, ::testing::ValuesIn(kH264), testName);

class H265Streams : public Streams {};

TEST_P(H265Streams, EveryUnitIsAcceptedInItsScanWindowAndReadsAsTraced) {
  load(true);
  if (IsSkipped() || HasFatalFailure()) return;
  uint32_t width = 0, height = 0;
  std::sscanf(GetParam().size, "%ux%u", &width, &height);
  std::map<int64_t, std::unique_ptr<VPS_265>> vpsById;
  std::map<int64_t, std::unique_ptr<SPS_265>> spsById;
  std::map<int64_t, std::unique_ptr<PPS_265>> ppsById;
  auto unitAt = [&](size_t i) { return std::string(GetParam().name) + " unit " + std::to_string(i); };
  for (size_t i = 0; i < s.units.size(); ++i) {  // every parameter set of the stream on its own
    const auto& u = s.units[i];
    const TraceUnit& t = s.trace[i];
    const uint32_t type = u[0] >> 1 & 63;
    if (type == 32) {
      auto vps = VPS_265::initVPS265WithBytes(u.data(), uint32_t(u.size()));
      ASSERT_TRUE(vps) << unitAt(i);
      vpsById[vps->video_parameter_set_id] = std::move(vps);
    } else if (type == 33) {
      auto sps = SPS_265::initSPS265WithBytes(u.data(), uint32_t(u.size()), width, height);
      ASSERT_TRUE(sps) << unitAt(i);
      // The extension flag comes after the VUI: right only when the VUI was stepped over as laid out.
      expectTraced(t, unitAt(i),
                   {{"sps_seq_parameter_set_id", sps->seq_parameter_set_id},
                    {"pic_width_in_luma_samples", sps->pic_width_in_luma_samples},
                    {"pic_height_in_luma_samples", sps->pic_height_luma_samples},
                    {"log2_max_pic_order_cnt_lsb_minus4", sps->log2_max_pic_order_cnt_lsb_minus4},
                    {"num_short_term_ref_pic_sets", sps->num_short_term_ref_pic_sets},
                    {"long_term_ref_pics_present_flag", sps->long_term_ref_pics_present_flag},
                    {"num_long_term_ref_pics_sps", sps->num_long_term_ref_pics_sps, -1},
                    {"sps_temporal_mvp_enabled_flag", sps->sps_temporal_mvp_enabled_flag},
                    {"sps_extension_present_flag", sps->sps_extension_present_flag}});
      spsById[sps->seq_parameter_set_id] = std::move(sps);
    } else if (type == 34) {
      const SPS_265* sps = spsById.at(field(t, "pps_seq_parameter_set_id").value_or(-1)).get();
      auto pps = PPS_265::initPPS265WithBytes(u.data(), uint32_t(u.size()), sps);
      ASSERT_TRUE(pps) << unitAt(i);
      expectTraced(t, unitAt(i),
                   {{"num_tile_columns_minus1", pps->num_tile_columns_minus1, -1},
                    {"entropy_coding_sync_enabled_flag", pps->entropy_coding_sync_enabled_flag},
                    {"lists_modification_present_flag", pps->lists_modification_present_flag},
                    {"slice_segment_header_extension_present_flag", pps->slice_segment_header_extension_present_flag},
                    {"pps_extension_present_flag", pps->extension_present_flag}});
      ppsById[pps->pic_parameter_set_id] = std::move(pps);
    }
  }
  ASSERT_TRUE(!vpsById.empty() && !spsById.empty());
  size_t slices = 0;
  for (size_t i = 0; i < s.units.size(); ++i) {
    const auto& u = s.units[i];
    const TraceUnit& t = s.trace[i];
    const uint32_t type = u[0] >> 1 & 63;
    const std::string where =
        std::string(GetParam().name) + " unit " + std::to_string(i) + " type " + std::to_string(type);
    if (type == 37 || type == 38) continue;  // end of bitstream and filler are refused by design
    // The sets the unit is judged against: the stream's VPS and SPS and the PPS a slice names.
    const auto ppsAt = ppsById.find(field(t, "slice_pic_parameter_set_id").value_or(0));
    const PPS_265* pps = ppsAt == ppsById.end() ? nullptr : ppsAt->second.get();
    const VPS_265* vps = vpsById.begin()->second.get();
    const SPS_265* sps = spsById.begin()->second.get();
    const auto w = window(s.media, s.offsets[i]);
    auto nalu = NALU::initNALUWithBytes(w.data(), 50, 4, vps, sps, pps);
    const bool small = (type >= 32 && type <= 40) || type >= 48;
    if (small && u.size() + 4 > (type >= 48 ? 1000u : 800u)) {
      EXPECT_FALSE(nalu) << where;  // e.g. x265's settings SEI: larger than any set or SEI may be
      continue;
    }
    ASSERT_TRUE(nalu) << where;
    const char* name = type <= 21                 ? "Slice"
                       : type == 32               ? "VPS"
                       : type == 33               ? "SPS"
                       : type == 34               ? "PPS"
                       : type == 35               ? "AUD"
                       : type == 39 || type == 40 ? "SEI"
                       : type >= 48               ? "Unspecified"
                                                  : "";
    EXPECT_EQ(nalu->setName.value_or(""), name) << where;
    EXPECT_EQ(std::vector<int64_t>({nalu->NALType, nalu->nalSize, nalu->frameNum, nalu->sliceType}),
              std::vector<int64_t>({type, int64_t(u.size() + 4), -1, -1}))
        << where;
    const auto off = window(s.media, s.offsets[i] + 1);
    EXPECT_FALSE(NALU::initNALUWithBytes(off.data(), 50, 4, vps, sps, pps)) << where << " one byte off";
    if (type > 21) continue;
    ++slices;
    expectTraced(t, where, {{"first_slice_segment_in_pic_flag", nalu->firstMBInSlice}});
    // The whole slice segment header, read to its end.
    auto h = SliceHeader_265::initSLiceHeader265WithBytes(u.data() + 2, uint32_t(u.size() - 2), nalu.get(), sps, pps,
                                                          vps, true);
    ASSERT_TRUE(h) << where;
    expectTraced(t, where,
                 {{"dependent_slice_segment_flag", h->dependent_slice_segment_flag},
                  {"slice_segment_address", h->slice_segment_address},
                  {"slice_type", h->slice_type},
                  {"slice_pic_order_cnt_lsb", h->pic_order_cnt_lsb, -1},
                  {"short_term_ref_pic_set_idx", h->short_term_ref_pic_set_idx},
                  {"num_long_term_sps", h->num_long_term_sps},
                  {"num_ref_idx_l0_active_minus1", h->num_ref_idx_l0_active_minus1},
                  {"collocated_ref_idx", h->collocated_ref_idx},
                  {"five_minus_max_num_merge_cand", h->five_minus_max_num_merge_cand},
                  {"slice_qp_delta", h->qp_delta},
                  {"slice_loop_filter_across_slices_enabled_flag", h->loop_filter_across_slices_enabled_flag},
                  {"num_entry_point_offsets", h->num_entry_point_offsets},
                  {"offset_len_minus1", h->offset_len_minus1},
                  {"slice_segment_header_extension_length", h->slice_segment_header_extension_length}});
  }
  EXPECT_GE(slices, 5u);
}

INSTANTIATE_TEST_SUITE_P(Streams, H265Streams, ::testing::ValuesIn(kH265), testName);

}  // namespace
