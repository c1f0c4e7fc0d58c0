#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

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
// window behind a 4-byte prefix, against the parameter sets it names, with ffmpeg's trace as the
// independent reading of each syntax element.
namespace {

// Syntax no encoder here writes: an order-count cycle, field and MBAFF slices, slice groups of
// every map kind, separate colour planes, scaling lists, redundant picture counts.
Units writtenH264() {
  auto slice = [](BitWriter& w) {  // slice data behind alignment bits
    while (w.size() % 8) w.u(1, 1);
    return w.u(64, 0x5555555555555555).trailing().bytes();
  };
  Units units;  // SPS 0: Baseline, a three-frame order-count cycle, fields or MBAFF frames, cropping
  BitWriter sps0;
  sps0.u(32, 0x6742001e).ue(0).ue(1).ue(1).u(1, 0).se(-2).se(3).ue(3).se(2).se(-1).se(4).ue(2).u(1, 0).ue(10).ue(8);
  units.push_back(sps0.u(4, 0b0111).ue(0).ue(2).ue(1).ue(3).u(1, 0).trailing().bytes());
  BitWriter sps1;  // High 4:4:4 with separate colour planes, 10-bit, scaling lists, 16-bit frame_num
  sps1.u(32, 0x67f40028).ue(1).ue(3).u(1, 1).ue(2).ue(2).u(1, 0).u(1, 1);
  for (int i = 0; i < 12; ++i) {  // lists 1, 4, 7 and 10 left out; list 0 ends where its next scale is 0
    sps1.u(1, i % 3 != 1);
    for (int j = 0, n = i % 3 == 1 ? 0 : i == 0 ? 6 : i < 6 ? 16 : 64; j < n; ++j)
      sps1.se(j == 5 && !i ? -7 : j % 3 - 1);
  }
  units.push_back(sps1.ue(12).ue(0).ue(2).ue(3).u(1, 0).ue(10).ue(8).u(4, 0b1100).trailing().bytes());
  for (uint32_t id = 0; id < 4; ++id) {  // slice group map types 0, 2, 4 and 6; the fields after vary
    BitWriter pps;
    pps.u(8, 0x68).ue(id).ue(0).u(1, 0).u(1, 1).ue(2).ue(2 * id);
    if (id == 0) pps.ue(5).ue(17).ue(0);
    if (id == 1) pps.ue(0).ue(30).ue(12).ue(60);
    if (id == 2) pps.u(1, 1).ue(9);
    for (int i = 0; id == 3 && i <= 99; ++i) i ? pps.u(2, (i * 7) % 3) : pps.ue(98);  // a group per map unit
    pps.ue(id).ue(id & 1).u(1, id & 1).u(2, id % 3).se(-3 - int32_t(id)).se(1).se(2 - 4 * int32_t(id));
    units.push_back(pps.u(1, 1).u(1, id >> 1).u(1, id == 3).trailing().bytes());
  }
  // PPS 4 on SPS 0: bottom field order, weighted prediction, redundant picture counts; PPS 5 on SPS 1.
  BitWriter pps4, pps5;
  units.push_back(
      pps4.u(8, 0x68).ue(4).ue(0).u(2, 1).ue(0).ue(1).ue(0).u(3, 5).se(0).se(0).se(0).u(3, 5).trailing().bytes());
  units.push_back(
      pps5.u(8, 0x68).ue(5).ue(1).u(2, 2).ue(0).ue(0).ue(0).u(3, 0).se(2).se(0).se(-2).u(3, 0).trailing().bytes());
  BitWriter idr;  // top field: idr_pic_id, the first cycle delta, a redundant count, marking
  units.push_back(slice(idr.u(8, 0x65).ue(0).ue(7).ue(4).u(5, 0).u(2, 0b10).ue(3).se(-4).ue(1).u(2, 1).se(6).ue(1)));
  BitWriter p;  // MBAFF frame: both cycle deltas, three references: list modifications, weights, marking
  p.u(8, 0x41).ue(0).ue(5).ue(4).u(5, 1).u(1, 0).se(2).se(-1).ue(0).u(1, 1).ue(2);
  p.u(1, 1).ue(0).ue(1).ue(1).ue(4).ue(2).ue(0).ue(3).ue(5).ue(1);
  p.u(1, 1).se(3).se(0).u(1, 0).u(1, 0).u(1, 1).se(1).se(-1).se(2).se(0).u(1, 1).se(1).se(-2).u(1, 1).se(0).se(1);
  p.se(-1).se(2).u(1, 1).ue(1).ue(2).ue(2).ue(0).ue(3).ue(1).ue(1).ue(4).ue(2).ue(6).ue(0).ue(0);
  units.push_back(slice(p.se(-2).ue(0).se(1).se(-1)));
  BitWriter b;  // bottom field, not a reference: direct mode flag, both lists weighted, one modified
  b.u(8, 0x01).ue(0).ue(6).ue(4).u(5, 2).u(2, 0b11).se(1).ue(0).u(1, 0).u(1, 1).ue(1).ue(0);
  b.u(1, 0).u(1, 1).ue(2).ue(1).ue(3).ue(2).ue(0);
  b.u(1, 1).se(2).se(0).u(1, 0).u(1, 1).se(2).se(1).u(1, 1).se(0).se(1).se(-1).se(2).u(1, 1).se(2).se(0).u(1, 0);
  units.push_back(slice(b.se(4).ue(1)));
  BitWriter plane;  // on SPS 1: colour plane, 16-bit frame_num, POC lsb, cabac_init_idc
  units.push_back(slice(plane.u(8, 0x21).ue(0).ue(0).ue(5).u(2, 1).u(16, 0xbeef).u(6, 20).u(3, 0).ue(1).se(2)));
  return units;
}

// x264 encodes of a test pattern, the written units, then the first frames of camera files.
struct Recipe {
  const char* name;
  std::string encode;            // ffmpeg arguments of an encode of a test pattern
  const char* size = "208x160";  // WxH (as the sample description gives it, for H.265)
  Units (*written)() = nullptr;  // hand-written units instead of an encode
};
void PrintTo(const Recipe& r, std::ostream* os) { *os << r.name; }
const std::string kX264 = "-frames:v 30 -c:v libx264 -threads 1 -pix_fmt ";
const Recipe kH264[] = {
    {"baseline_cavlc_4slices_aud", kX264 + "yuv420p -profile:v baseline -x264-params slices=4:aud=1"},
    {"main_cabac_bframes", kX264 + "yuv420p -profile:v main -bf 3 -refs 3"},
    {"high_cabac_bframes", kX264 + "yuv420p -profile:v high -bf 3 -refs 4 -x264-params b-pyramid=strict"},
    {"high_interlaced", kX264 + "yuv420p -profile:v high -bf 2 -x264-params interlaced=1"},
    {"main_interlaced_bff", kX264 + "yuv420p -profile:v main -bf 0 -x264-params interlaced=1:bff=1"},
    {"high444", kX264 + "yuv444p -profile:v high444 -bf 2"},
    {"high_monochrome", kX264 + "gray -profile:v high -bf 2"},
    {"written", "", "", writtenH264},
    {"gopro_hero7_HD7.mp4", ""},              // Main
    {"iphone6s_livephoto_lpcm.mov", ""},      // High, scaling lists in the SPS
    {"android12_avc_4k60_portrait.mp4", ""},  // picture order count type 2
    {"apple_sample_ipod.m4v", ""},            // Baseline, several slices per picture
};

// Sub-layers, scaling lists in both sets, PCM, reference picture sets predicted from others in the
// SPS and in a slice, long-term pictures, range extensions, explicit tiles, dependent slice
// segments, list modifications, weight tables, deblocking overrides, header extensions.
Units writtenH265() {
  auto withSubLayers = [](BitWriter& w) -> BitWriter& {  // a profile for the first, a level for the second
    profileTierLevel265(w);
    return w.u(16, 0x9000).u(8, 1).u(32, 0x60000000).u(48, 0x900000000000).u(8, 90);
  };
  auto scalingLists = [](BitWriter& w) -> BitWriter& {  // every other list given, with a DC value from 16x16 up
    for (uint32_t sizeId = 0; sizeId < 4; ++sizeId) {
      for (uint32_t m = 0; m < 6; m += sizeId == 3 ? 3 : 1) {
        const bool given = (sizeId + m) % 2;
        w.u(1, given);
        if (!given) w.ue(0);
        for (uint32_t i = 0; given && i <= std::min(64u, 16u << 2 * sizeId) - (sizeId < 2); ++i) w.se(int(i % 5) - 2);
      }
    }
    return w;
  };
  Units units;
  BitWriter vps;
  withSubLayers(vps.u(32, 0x0c05ffff)).u(1, 1).ue(5).ue(2).ue(0).ue(5).ue(2).ue(0).ue(5).ue(2).ue(0);
  units.push_back(unit265(32, vps.u(6, 0).ue(0).u(2, 0).trailing()));
  BitWriter sps;  // 128x64 in 16x16 coding tree blocks: 8 x 4 of them
  withSubLayers(sps.u(8, 0x05)).ue(0).ue(1).ue(128).ue(64).u(1, 1).ue(0).ue(2).ue(0).ue(1).ue(0).ue(0).ue(4).u(1, 1);
  sps.ue(5).ue(2).ue(0).ue(5).ue(2).ue(0).ue(5).ue(2).ue(0).ue(0).ue(1).ue(0).ue(2).ue(1).ue(1).u(2, 0b11);
  scalingLists(sps).u(3, 0b111).u(8, 0x77).ue(0).ue(1).u(1, 1);       // AMP, SAO, PCM
  sps.ue(2).ue(2).ue(1).ue(0).u(1, 1).ue(1).u(1, 1).ue(1).u(1, 0);    // set 0: -1 -3 used, +2 not
  sps.u(1, 1).u(1, 1).ue(0).u(1, 1).u(1, 0).u(1, 1).u(1, 1).u(1, 1);  // set 1: set 0 moved by -1
  sps.u(1, 1).ue(2).u(8, 3).u(1, 1).u(8, 7).u(1, 0);                  // two long-term pictures
  // A VUI with a display window and HRD values for NAL and VCL, sub-picture ones too, for sub-layers of
  // a fixed rate, of low delay and with two CPBs; then a range extension.
  auto cpbs = [&](int n) {
    for (int k = 0; k < 2 * n; ++k) sps.ue(99).ue(199).ue(49).ue(89).u(1, k & 1);
  };
  sps.u(4, 0b1111).u(8, 255).u(32, 0x40003).u(8, 0b10110101).u(24, 0x10101).u(1, 1).ue(1).ue(1).u(4, 1);
  sps.ue(1).ue(2).ue(0).ue(1).u(1, 1).u(32, 1).u(32, 25).u(1, 1).ue(0).u(4, 0b1111).u(8, 23).u(5, 7).u(1, 1).u(5, 9);
  sps.u(12, 0x123).u(15, 23 << 10 | 15 << 5 | 4).u(1, 1).ue(0).ue(0);
  cpbs(1);
  sps.u(3, 0b001);
  cpbs(1);
  sps.u(2, 0b01).ue(1).ue(1);
  cpbs(2);
  sps.u(4, 0b1010).ue(0).ue(2).ue(1).ue(15).ue(15);
  units.push_back(unit265(33, sps.u(9, 0b110000000).u(9, 0).trailing()));
  BitWriter pps0;  // dependent slices, output flag, extra bits, explicit tiles, overrides
  pps0.ue(0).ue(0).u(7, 0b1101001).ue(1).ue(0).se(-2).u(3, 0b011).ue(1).se(1).se(-1).u(6, 0b111010);
  pps0.ue(1).ue(1).u(1, 0).ue(2).ue(1).u(5, 0b11110).se(-1).se(2).u(1, 1);
  scalingLists(pps0).u(1, 1).ue(0).u(10, 0b1110000000);
  units.push_back(unit265(34, pps0.ue(1).u(2, 1).ue(0).ue(1).se(2).se(-2).se(1).se(0).ue(0).ue(0).trailing()));
  BitWriter pps1;  // wavefronts
  pps1.ue(1).ue(0).u(7, 2).ue(0).ue(0).se(0).u(3, 0).se(0).se(0).u(6, 1).u(4, 0b1000).ue(0).u(2, 0);
  units.push_back(unit265(34, pps1.trailing()));
  BitWriter idr;  // entry points into three more tiles, a header extension
  idr.u(2, 0b10).ue(0).u(2, 0).ue(2).u(3, 0b111).se(-3).se(1).se(-1).u(3, 0b110).se(2).se(-2).u(1, 1).ue(3).ue(9);
  units.push_back(unit265(19, idr.u(10, 100).u(10, 101).u(10, 102).ue(2).u(16, 0xabcd).u(1, 1)));
  BitWriter second;  // an independent segment at address 17, then a dependent one
  second.u(2, 0).ue(0).u(1, 0).u(5, 17).u(2, 3).ue(2).u(3, 0b101).se(4).se(0).se(0).u(3, 0b001).ue(1).ue(3).u(4, 9);
  units.push_back(unit265(19, second.ue(0).u(1, 1)));
  units.push_back(unit265(19, BitWriter().u(2, 0).ue(0).u(1, 1).u(5, 26).ue(0).ue(1).u(8, 0x11).u(1, 1)));
  BitWriter p;  // SPS set 1, a long-term picture from the SPS and one of its own: 3 list entries of 3 bits
  p.u(1, 1).ue(0).u(2, 0).ue(1).u(1, 1).u(8, 9).u(2, 0b11).ue(1).ue(1).u(2, 0).u(8, 5).u(2, 0b11).ue(2);
  p.u(4, 0b1111).ue(2).u(1, 1).u(3, 0).u(3, 4).u(3, 2).u(1, 0).ue(1).ue(3).se(-1).u(6, 0b101010);
  p.se(3).se(-2).se(1).se(0).se(-1).se(2).se(-4).se(7).ue(2).se(5).se(0).se(0).u(3, 0b001).ue(0).ue(0);
  units.push_back(unit265(1, p.u(1, 1)));
  BitWriter b;  // its own set, predicted from SPS set 0; both lists modified (1-bit entries) and weighted
  b.u(1, 1).ue(0).u(2, 0).ue(0).u(1, 1).u(8, 10).u(2, 0b01).ue(1).u(1, 0).ue(0).u(5, 0b10111).ue(0).ue(0);
  b.u(4, 0b1011).ue(1).ue(1).u(9, 0b110101110).ue(1).ue(2).se(1).u(4, 0b0110).se(2).se(-3).se(0).se(1).se(2);
  b.se(3).u(4, 0b1100).se(1).se(1).se(-5).se(0).ue(0).se(-6).se(1).se(1).u(4, 0b1111).ue(0).ue(0);
  units.push_back(unit265(0, b.u(1, 1), 0, 2));
  BitWriter one;  // a set of its own with one picture: no list modification; no SAO and no deblocking: no last flag
  one.u(1, 1).ue(0).u(2, 0).ue(1).u(1, 1).u(8, 11).u(2, 0).ue(1).ue(0).ue(0).u(1, 1).ue(0).ue(0).u(4, 0).u(1, 0).ue(0);
  units.push_back(unit265(1, one.se(0).u(4, 0).ue(0).se(1).se(0).se(0).u(3, 0b011).ue(0).ue(0).u(1, 1)));
  BitWriter cra;  // on the wavefront set: an entry point per row
  cra.u(2, 0b10).ue(1).ue(2).u(8, 12).u(2, 0b10).ue(0).ue(0).u(3, 0b111).se(2).u(1, 1).ue(3).ue(4);
  units.push_back(unit265(21, cra.u(5, 1).u(5, 2).u(5, 3).u(1, 1)));
  for (auto& u : units) {
    if (u[0] >> 1 < 32) u.insert(u.end(), 30, 0xa5);  // slice data after the alignment bits
  }
  return units;
}

const std::string kX265 = "-c:v libx265 -threads 1 -x265-params log-level=error:frame-threads=1:";
const Recipe kH265[] = {
    {"default_bframes_aud", "-frames:v 30 " + kX265 + "pools=none:aud=1", "640x360"},
    {"no_wpp", "-frames:v 24 " + kX265 + "pools=none:wpp=0:bframes=0:ref=3:deblock=-2,-1", "640x360"},
    // Wavefronts need a thread pool in x265 (and its slices need wavefronts); one thread keeps
    // the output repeatable.
    {"wpp_2slices", "-frames:v 24 " + kX265 + "pools=1:wpp=1:slices=2", "640x360"},
    {"main10", "-frames:v 24 -pix_fmt yuv420p10le " + kX265 + "pools=none", "640x360"},
    // Scaling lists, VUI with HRD, no SAO and no deblocking control, weighted B prediction, four
    // references, and parameter sets repeated in the stream.
    {"hrd_scaling_nosao_weightb",
     "-frames:v 24 " + kX265 +
         "pools=none:no-sao=1:weightb=1:ref=4:scaling-list=default:vbv-bufsize=2000:vbv-maxrate=1500:hrd=1:"
         "repeat-headers=1:keyint=10",
     "640x360"},
    {"hd1080_wpp", "-frames:v 8 " + kX265 + "pools=1:wpp=1:preset=fast", "1920x1080"},
    {"written", "", "128x64", writtenH265},
    {"apple_hevc_main10_moovfirst.mp4", "", "1920x1080"},     // wavefronts, 1088 coded lines
    {"android_hevc_mett_track.mp4", "", "1920x1080"},         // tiles, a set in the SPS
    {"android14_hevc_hlg10_moovfirst.mp4", "", "1920x1080"},  // 10-bit HLG
    {"iphone14pro_dolbyvision_hevc.mov", "", "1280x720"},
    {"pixel_motionphoto_2hevc.mp4", "", "1024x768"},
};

class Streams : public ::testing::TestWithParam<Recipe> {
 protected:
  // Encodes, extracts or writes the stream, splits it and pairs its units with the trace by type
  // (the trace leaves out units of unspecified types).
  void load(bool hevc) {
    const Recipe& r = GetParam();
    const std::string corpus = testsupport::corpusDir() + "/" + r.name, out = dir.file("stream");
    const std::string missing = r.encode.empty() && !r.written ? testsupport::corpusMissing(r.name, "the stream") : "";
    if (!missing.empty()) GTEST_SKIP() << missing;
    if (!testsupport::haveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    std::string input = "-i " + testsupport::shellQuote(corpus) + " -map 0:v:0 -frames:v 40 -c:v copy -bsf:v " +
                        (hevc ? "hevc_mp4toannexb" : "h264_mp4toannexb");
    if (!r.encode.empty()) input = "-f lavfi -i testsrc2=size=" + std::string(r.size) + ":rate=25 " + r.encode;
    if (r.written) {
      testsupport::writeFile(out, annexB(r.written()));
    } else {
      auto made = testsupport::runCommand("ffmpeg -hide_banner -loglevel error -nostdin -y " + input +
                                          (hevc ? " -f hevc " : " -f h264 ") + testsupport::shellQuote(out));
      ASSERT_EQ(made.exitCode, 0) << made.output;
    }
    units = splitAnnexB(testsupport::readFile(out));
    std::string log;
    const std::vector<TraceUnit> traced = traceUnits(out, &log);
    size_t next = 0;
    for (const auto& u : units) {
      const int64_t type = hevc ? u[0] >> 1 & 63 : u[0] & 31;
      const bool paired = next < traced.size() && field(traced[next], "nal_unit_type") == type;
      trace.push_back(paired ? traced[next++] : TraceUnit());
      ASSERT_TRUE(paired || (hevc ? type >= 48 : type == 0 || type >= 24)) << log.substr(0, 3000);
      offsets.push_back(media.size());
      const auto stored = prefixed(u);
      media.insert(media.end(), stored.begin(), stored.end());
    }
    ASSERT_TRUE(!units.empty() && next == traced.size()) << units.size() << " units, " << traced.size() << " traced";
  }
  std::string where(size_t i) const { return std::string(GetParam().name) + " unit " + std::to_string(i); }

  testsupport::TempDir dir;
  Units units;
  std::vector<TraceUnit> trace;  // one per unit; empty for a unit the trace leaves out
  std::vector<uint8_t> media;    // the units behind 4-byte prefixes, as a movie stores them
  std::vector<size_t> offsets;
};

// Compares our values with the trace's, name by name; a field the trace does not show must hold
// -1, or the value after '=' in its name. F(set, field) names one of ours as the trace does.
void expectTraced(const TraceUnit&, const std::string&) {}
template <typename V, typename... More>
void expectTraced(const TraceUnit& t, const std::string& where, const std::string& name, V ours, More... more) {
  const size_t eq = name.find('=');
  const int64_t absent = eq == std::string::npos ? -1 : std::stoll(name.substr(eq + 1));
  EXPECT_EQ(int64_t(ours), field(t, name.substr(0, eq)).value_or(absent)) << where << ": " << name;
  expectTraced(t, where, more...);
}
#define F(set, name) #name, set->name

class H264Streams : public Streams {};

TEST_P(H264Streams, EveryUnitIsAcceptedInItsScanWindowAndReadsAsTraced) {
  load(false);
  if (IsSkipped() || HasFatalFailure()) return;
  std::map<int64_t, std::unique_ptr<SPS>> spsById;
  std::map<int64_t, std::unique_ptr<PPS>> ppsById;
  size_t slices = 0, shifted = 0, shiftedAccepted = 0;
  for (size_t i = 0; i < units.size(); ++i) {
    const auto& u = units[i];
    const TraceUnit& t = trace[i];
    const uint32_t type = u[0] & 31;
    if (type == 7) {
      auto sps = SPS::initSPSWithBytes(u.data(), uint32_t(u.size()));
      expectTraced(t, where(i), F(sps, profile_idc), F(sps, level_idc), F(sps, seq_parameter_set_id),
                   "chroma_format_idc=1", sps->chroma_format_idc, "separate_colour_plane_flag=0",
                   sps->separate_colour_plane_flag, F(sps, log2_max_frame_num_minus4), F(sps, pic_order_cnt_type),
                   F(sps, log2_max_pic_order_cnt_lsb_minus4), F(sps, delta_pic_order_always_zero_flag),
                   F(sps, max_num_ref_frames), F(sps, pic_width_in_mbs_minus1), F(sps, pic_height_in_map_units_minus1),
                   F(sps, frame_mbs_only_flag), "mb_adaptive_frame_field_flag=0", sps->mb_adaptive_frame_field_flag,
                   F(sps, vui_parameters_present_flag));
      // What the scan and the writer take from the set.
      EXPECT_EQ(sps->MaxFrameNum, 16 << sps->log2_max_frame_num_minus4) << where(i);
      EXPECT_EQ(sps->MaxPicOrderCntLsb, sps->pic_order_cnt_type ? 0 : 16 << sps->log2_max_pic_order_cnt_lsb_minus4);
      spsById[sps->seq_parameter_set_id] = std::move(sps);
    } else if (type == 8) {
      auto pps = PPS::initPPSWithBytes(u.data(), uint32_t(u.size()));
      expectTraced(t, where(i), F(pps, pic_parameter_set_id), F(pps, seq_parameter_set_id),
                   F(pps, entropy_coding_mode_flag), "bottom_field_pic_order_in_frame_present_flag",
                   pps->pic_order_present_flag, F(pps, num_slice_groups_minus1), "num_ref_idx_l0_default_active_minus1",
                   pps->num_ref_idx_l0_active_minus1, "num_ref_idx_l1_default_active_minus1",
                   pps->num_ref_idx_l1_active_minus1, F(pps, weighted_pred_flag), F(pps, weighted_bipred_idc),
                   F(pps, pic_init_qp_minus26), F(pps, pic_init_qs_minus26), F(pps, chroma_qp_index_offset),
                   F(pps, deblocking_filter_control_present_flag), F(pps, constrained_intra_pred_flag),
                   F(pps, redundant_pic_cnt_present_flag));
      ppsById[pps->pic_parameter_set_id] = std::move(pps);
    }
    // The sets a unit is judged against: its own for a parameter set, the ones it names for a slice.
    const auto ppsAt = ppsById.find(field(t, "pic_parameter_set_id").value_or(-1));
    const PPS* pps = ppsAt == ppsById.end() ? nullptr : ppsAt->second.get();
    const auto spsAt = spsById.find(field(t, "seq_parameter_set_id").value_or(pps ? pps->seq_parameter_set_id : -1));
    const SPS* sps = spsAt == spsById.end() ? nullptr : spsAt->second.get();

    // A window one byte early or late sees a wrong prefix and a header byte from the prefix or
    // the payload. A byte that reads as a non-IDR slice header (any nal_ref_idc) is judged only on
    // slice_type, so some pass: after tiny units (a 5-byte SEI shifts to prefix 0x00000506 and
    // header 0x01) and at second slices whose first_mb_in_slice code starts with 0x01.
    for (size_t at : {offsets[i] - 1, offsets[i] + 1}) {
      auto n = at < media.size() ? NALU::initNALUWithBytes(window(media, at).data(), 50, 4, sps, pps) : nullptr;
      shifted += at < media.size();
      shiftedAccepted += n != nullptr;
      EXPECT_EQ(n ? n->NALType : 1u, 1u) << where(i) << " at " << at;
    }
    auto nalu = NALU::initNALUWithBytes(window(media, offsets[i]).data(), 50, 4, sps, pps);
    if (type >= 6 && type <= 9 && u.size() + 4 > 800) {  // x264's version SEI is larger than the rules allow
      EXPECT_EQ(nalu, nullptr) << where(i);
      continue;
    }
    ASSERT_NE(nalu, nullptr) << where(i);
    EXPECT_EQ(nalu->nalSize, u.size() + 4) << where(i);
    expectTraced(t, where(i), "nal_unit_type", nalu->NALType, "nal_ref_idc", nalu->NRI, "first_mb_in_slice",
                 nalu->firstMBInSlice, "slice_type", nalu->sliceType, "frame_num", nalu->frameNum, "field_pic_flag=0",
                 nalu->fieldPicFlag, "bottom_field_flag=0", nalu->bottomFieldFlag);
    // The whole header, past the window, up to slice_qp_delta. The trace reads the payload with
    // emulation-prevention bytes removed, the parser as stored: units with one there are skipped.
    static const uint8_t kEscape[] = {0, 0, 3};
    const auto head = u.begin() + std::min<size_t>(u.size(), 64);
    if ((type != 1 && type != 5) || std::search(u.begin(), head, kEscape, kEscape + 3) != head) continue;
    ++slices;
    auto h = SliceHeader::initIDRWithBytes(u.data() + 1, uint32_t(u.size() - 1), nalu.get(), sps, pps);
    ASSERT_NE(h, nullptr) << where(i);
    expectTraced(t, where(i), F(h, pic_parameter_set_id), F(h, colour_plane_id), "field_pic_flag=0", h->field_pic_flag,
                 "bottom_field_flag=0", h->bottom_field_flag, F(h, idr_pic_id), F(h, pic_order_cnt_lsb),
                 F(h, delta_pic_order_cnt_bottom), "no_output_of_prior_pics_flag=0",
                 h->dec_ref_pic_marking.no_output_of_prior_pics_flag, "long_term_reference_flag=0",
                 h->dec_ref_pic_marking.long_term_reference_flag, F(h, slice_qp_delta));
  }
  EXPECT_GE(slices, 4u);
  // Measured: all rejected in most streams, three quarters in the one with tiny SEI and many slices.
  EXPECT_GE(double(shifted - shiftedAccepted) / double(shifted), 0.7) << shiftedAccepted << " of " << shifted;
}

class H265Streams : public Streams {};

TEST_P(H265Streams, EveryUnitIsAcceptedInItsScanWindowAndReadsAsTraced) {
  load(true);
  if (IsSkipped() || HasFatalFailure()) return;
  uint32_t width = 0, height = 0;
  std::sscanf(GetParam().size, "%ux%u", &width, &height);
  std::map<int64_t, std::unique_ptr<VPS_265>> vpsById;
  std::map<int64_t, std::unique_ptr<SPS_265>> spsById;
  std::map<int64_t, std::unique_ptr<PPS_265>> ppsById;
  for (size_t i = 0; i < units.size(); ++i) {  // every parameter set of the stream on its own
    const auto& u = units[i];
    const uint32_t type = u[0] >> 1 & 63;
    if (type == 32) {
      auto vps = VPS_265::initVPS265WithBytes(u.data(), uint32_t(u.size()));
      ASSERT_TRUE(vps) << where(i);
      vpsById[vps->video_parameter_set_id] = std::move(vps);
    } else if (type == 33) {
      auto sps = SPS_265::initSPS265WithBytes(u.data(), uint32_t(u.size()), width, height);
      ASSERT_TRUE(sps) << where(i);
      // The extension flag comes after the VUI: right only when the VUI was stepped over as laid out.
      expectTraced(trace[i], where(i), "sps_seq_parameter_set_id", sps->seq_parameter_set_id,
                   F(sps, pic_width_in_luma_samples), "pic_height_in_luma_samples", sps->pic_height_luma_samples,
                   F(sps, log2_max_pic_order_cnt_lsb_minus4), F(sps, num_short_term_ref_pic_sets),
                   F(sps, long_term_ref_pics_present_flag), F(sps, num_long_term_ref_pics_sps),
                   F(sps, sps_temporal_mvp_enabled_flag), F(sps, sps_extension_present_flag));
      spsById[sps->seq_parameter_set_id] = std::move(sps);
    } else if (type == 34) {
      const SPS_265* sps = spsById.at(field(trace[i], "pps_seq_parameter_set_id").value_or(-1)).get();
      auto pps = PPS_265::initPPS265WithBytes(u.data(), uint32_t(u.size()), sps);
      ASSERT_TRUE(pps) << where(i);
      expectTraced(trace[i], where(i), F(pps, num_tile_columns_minus1), F(pps, entropy_coding_sync_enabled_flag),
                   F(pps, lists_modification_present_flag), F(pps, slice_segment_header_extension_present_flag),
                   "pps_extension_present_flag", pps->extension_present_flag);
      ppsById[pps->pic_parameter_set_id] = std::move(pps);
    }
  }
  ASSERT_TRUE(!vpsById.empty() && !spsById.empty());
  const VPS_265* vps = vpsById.begin()->second.get();
  const SPS_265* sps = spsById.begin()->second.get();
  size_t slices = 0;
  for (size_t i = 0; i < units.size(); ++i) {
    const auto& u = units[i];
    const uint32_t type = u[0] >> 1 & 63;
    if (type == 37 || type == 38) continue;  // end of bitstream and filler are refused by design
    const auto ppsAt = ppsById.find(field(trace[i], "slice_pic_parameter_set_id").value_or(0));
    const PPS_265* pps = ppsAt == ppsById.end() ? nullptr : ppsAt->second.get();
    auto nalu = NALU::initNALUWithBytes(window(media, offsets[i]).data(), 50, 4, vps, sps, pps);
    if (((type >= 32 && type <= 40) || type >= 48) && u.size() + 4 > (type >= 48 ? 1000u : 800u)) {
      EXPECT_FALSE(nalu) << where(i);  // e.g. x265's settings SEI: larger than any set or SEI may be
      continue;
    }
    ASSERT_TRUE(nalu) << where(i);
    const char* name = type <= 21                 ? "Slice"
                       : type == 32               ? "VPS"
                       : type == 33               ? "SPS"
                       : type == 34               ? "PPS"
                       : type == 35               ? "AUD"
                       : type == 39 || type == 40 ? "SEI"
                       : type >= 48               ? "Unspecified"
                                                  : "";
    EXPECT_EQ(nalu->setName.value_or(""), name) << where(i);
    EXPECT_EQ(std::vector<int64_t>({nalu->NALType, nalu->nalSize, nalu->frameNum, nalu->sliceType}),
              std::vector<int64_t>({type, int64_t(u.size() + 4), -1, -1}))
        << where(i);
    EXPECT_FALSE(NALU::initNALUWithBytes(window(media, offsets[i] + 1).data(), 50, 4, vps, sps, pps)) << where(i);
    if (type > 21) continue;
    ++slices;
    // The whole slice segment header, read to its end.
    auto h = SliceHeader_265::initSLiceHeader265WithBytes(u.data() + 2, uint32_t(u.size() - 2), nalu.get(), sps, pps,
                                                          vps, true);
    ASSERT_TRUE(h) << where(i);
    expectTraced(trace[i], where(i), "first_slice_segment_in_pic_flag", nalu->firstMBInSlice,
                 F(h, dependent_slice_segment_flag), F(h, slice_segment_address), F(h, slice_type),
                 "slice_pic_order_cnt_lsb", h->pic_order_cnt_lsb, F(h, short_term_ref_pic_set_idx),
                 F(h, num_long_term_sps), F(h, num_ref_idx_l0_active_minus1), F(h, collocated_ref_idx),
                 F(h, five_minus_max_num_merge_cand), "slice_qp_delta", h->qp_delta,
                 "slice_loop_filter_across_slices_enabled_flag", h->loop_filter_across_slices_enabled_flag,
                 F(h, num_entry_point_offsets), F(h, offset_len_minus1), F(h, slice_segment_header_extension_length));
  }
  EXPECT_GE(slices, 5u);
}

std::string testName(const ::testing::TestParamInfo<Recipe>& info) {
  std::string name = info.param.name;
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}
INSTANTIATE_TEST_SUITE_P(Streams, H264Streams, ::testing::ValuesIn(kH264), testName);
INSTANTIATE_TEST_SUITE_P(Streams, H265Streams, ::testing::ValuesIn(kH265), testName);

}  // namespace
