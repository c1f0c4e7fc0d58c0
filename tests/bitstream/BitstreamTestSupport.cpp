#include "bitstream/BitstreamTestSupport.h"

#include <cstdio>
#include <sstream>

#include "support/TestSupport.h"

namespace bstest {

BitWriter& BitWriter::u(uint32_t n, uint64_t value) {
  for (uint32_t i = n; i-- > 0;) bits_.push_back((value >> i) & 1);
  return *this;
}

BitWriter& BitWriter::ue(uint32_t value) {
  const uint64_t v = uint64_t(value) + 1;
  uint32_t len = 0;
  while ((v >> len) > 1) ++len;
  return u(len, 0).u(len + 1, v);
}

BitWriter& BitWriter::se(int32_t value) {
  return ue(value > 0 ? uint32_t(2 * int64_t(value) - 1) : uint32_t(-2 * int64_t(value)));
}

BitWriter& BitWriter::trailing() {
  u(1, 1);
  while (bits_.size() % 8) u(1, 0);
  return *this;
}

std::vector<uint8_t> BitWriter::bytes() const {
  std::vector<uint8_t> out((bits_.size() + 7) / 8, 0);
  for (size_t i = 0; i < bits_.size(); ++i) out[i / 8] |= uint8_t(bits_[i] << (7 - i % 8));
  return out;
}

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

std::vector<uint8_t> unit265(uint32_t type, const BitWriter& payload, uint32_t layerId, uint32_t tidPlus1) {
  std::vector<uint8_t> out{uint8_t(type << 1 | layerId >> 5), uint8_t((layerId & 31) << 3 | tidPlus1)};
  const std::vector<uint8_t> body = escape(payload.bytes());
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

std::vector<std::vector<uint8_t>> splitAnnexB(const std::vector<uint8_t>& s) {
  std::vector<size_t> starts;
  for (size_t i = 0; i + 2 < s.size(); ++i) {
    if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) starts.push_back((i += 2) + 1);
  }
  std::vector<std::vector<uint8_t>> units;
  for (size_t k = 0; k < starts.size(); ++k) {
    size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : s.size();
    while (end > starts[k] && s[end - 1] == 0) --end;
    units.emplace_back(s.begin() + starts[k], s.begin() + end);
  }
  return units;
}

std::vector<uint8_t> annexB(const std::vector<std::vector<uint8_t>>& units) {
  std::vector<uint8_t> out;
  for (const auto& u : units) {
    out.insert(out.end(), {0, 0, 0, 1});
    out.insert(out.end(), u.begin(), u.end());
  }
  return out;
}

std::vector<uint8_t> prefixed(const std::vector<uint8_t>& unit, uint32_t L, int64_t declared) {
  const uint64_t value = declared < 0 ? unit.size() : uint64_t(declared);
  std::vector<uint8_t> out;
  for (uint32_t i = L; i-- > 0;) out.push_back(uint8_t(value >> (8 * i)));
  out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

std::vector<uint8_t> window(const std::vector<uint8_t>& data, size_t offset, size_t size) {
  std::vector<uint8_t> w(size, 0);
  for (size_t i = 0; i < size && offset + i < data.size(); ++i) w[i] = data[offset + i];
  return w;
}

std::vector<TraceUnit> traceUnits(const std::string& annexBPath, std::string* log) {
  auto result = testsupport::runCommand("ffmpeg -hide_banner -nostats -i " + testsupport::shellQuote(annexBPath) +
                                        " -c copy -bsf:v trace_headers -f null - 2>&1");
  if (log) *log = result.output;
  std::vector<TraceUnit> units;
  bool inPacket = false;
  std::istringstream in(result.exitCode == 0 ? result.output : "");
  for (std::string line; std::getline(in, line);) {
    // "[trace_headers @ 0x...] <bit offset> <name> <bits> = <value>"; progress output may precede it.
    const size_t tag = line.find("[trace_headers @ ");
    if (tag == std::string::npos) continue;
    const std::string text = line.substr(line.find("] ", tag) + 2);
    if (text == "Extradata" || text.rfind("Packet:", 0) == 0) inPacket = text != "Extradata";
    char name[128], bits[128];
    unsigned offset = 0;
    long long value = 0;
    if (!inPacket || std::sscanf(text.c_str(), "%u %127s %127[01] = %lld", &offset, name, bits, &value) != 4) continue;
    if (std::string(name) == "forbidden_zero_bit") units.emplace_back();
    if (!units.empty()) units.back()[name] = value;
  }
  return units;
}

std::optional<int64_t> field(const TraceUnit& unit, const std::string& name) {
  const auto it = unit.find(name);
  return it == unit.end() ? std::nullopt : std::optional<int64_t>(it->second);
}

void profileTierLevel265(BitWriter& w) {
  w.u(2, 0).u(1, 0).u(5, 1);  // profile space, tier, Main
  w.u(32, 0x60000000);        // compatible with Main and Main 10
  w.u(4, 0b1001).u(44, 0);    // progressive, frame only; constraint and reserved bits
  w.u(8, 120);                // level 4
}

std::vector<uint8_t> sps265(const Sps265& f) {
  BitWriter w;
  w.u(4, 0).u(3, 0).u(1, 1);  // vps id, max_sub_layers_minus1, temporal_id_nesting_flag
  profileTierLevel265(w);
  w.ue(f.id).ue(1).ue(f.width).ue(f.height).u(1, 0);
  w.ue(0).ue(0).ue(4).u(1, 1).ue(4).ue(2).ue(5);  // bit depths, POC lsb, sub-layer ordering
  w.ue(0).ue(3).ue(0).ue(3).ue(1).ue(1);          // block sizes, transform depths
  w.u(1, 0).u(1, 0).u(1, 1).u(1, 0);              // no scaling lists or AMP, SAO, no PCM
  w.ue(f.numShortTermSets);
  if (f.shortTermSets) f.shortTermSets(w);
  w.u(1, f.longTerm);
  if (f.longTerm) {
    w.ue(f.numLongTerm);
    for (uint32_t i = 0; i < f.numLongTerm; ++i) w.u(8, i).u(1, i & 1);
  }
  w.u(1, 1).u(1, 1).u(1, 0).u(1, 0);  // temporal MVP, strong intra smoothing, no VUI or extension
  return unit265(33, w.trailing());
}

std::vector<uint8_t> pps265(const Pps265& f) {
  BitWriter w;
  w.ue(0).ue(0).u(1, 0).u(1, 0).u(3, 0);  // ids, no dependent slices, output flag or extra bits
  w.u(1, 1).u(1, 0).ue(0).ue(0).se(0);    // sign data hiding, one default reference per list
  w.u(1, 0).u(1, 0).u(1, 1).ue(1);        // constrained intra, transform skip, cu qp delta + depth
  w.se(0).se(0).u(1, 0).u(1, f.weightedPred).u(1, 0).u(1, 0);
  w.u(1, f.tiles).u(1, f.wavefronts);
  if (f.tiles) {
    w.ue(f.columnsMinus1).ue(f.rowsMinus1).u(1, f.uniform);
    for (uint32_t i = 0; !f.uniform && i < f.columnsMinus1 + f.rowsMinus1; ++i) w.ue(1);
    w.u(1, 1);
  }
  w.u(1, 1).u(1, 0);  // loop filter across slices, no deblocking control
  w.u(1, 0).u(1, 0).ue(0).u(1, f.headerExtension).u(1, 0);
  return unit265(34, w.trailing());
}

std::vector<uint8_t> vps265(uint32_t numLayerSetsMinus1) {
  BitWriter w;
  w.u(4, 0).u(1, 1).u(1, 1).u(6, 0).u(3, 0).u(1, 1).u(16, 0xffff);
  profileTierLevel265(w);
  w.u(1, 1).ue(4).ue(2).ue(5).u(6, 0).ue(numLayerSetsMinus1);
  return unit265(32, w.u(1, 0).u(1, 0).trailing());  // no timing info, no extension
}

}  // namespace bstest
