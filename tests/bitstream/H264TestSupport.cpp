#include "bitstream/H264TestSupport.h"

#include <sstream>

#include "support/TestSupport.h"

namespace h264test {

BitWriter& BitWriter::u(uint32_t n, uint64_t value) {
  for (uint32_t i = n; i-- > 0;) bits_.push_back((value >> i) & 1);
  return *this;
}

BitWriter& BitWriter::ue(uint32_t value) {
  uint64_t v = uint64_t(value) + 1;
  uint32_t len = 0;
  while ((v >> len) > 1) ++len;
  u(len, 0);
  return u(len + 1, v);
}

BitWriter& BitWriter::se(int32_t value) {
  return ue(value > 0 ? uint32_t(2 * int64_t(value) - 1) : uint32_t(-2 * int64_t(value)));
}

BitWriter& BitWriter::bits(const std::string& pattern) {
  for (char c : pattern) bits_.push_back(c == '1');
  return *this;
}

BitWriter& BitWriter::trailing() {
  bits_.push_back(true);
  while (bits_.size() % 8) bits_.push_back(false);
  return *this;
}

std::vector<uint8_t> BitWriter::bytes() const {
  std::vector<uint8_t> out((bits_.size() + 7) / 8, 0);
  for (size_t i = 0; i < bits_.size(); ++i) {
    if (bits_[i]) out[i / 8] |= uint8_t(0x80 >> (i % 8));
  }
  return out;
}

std::vector<std::vector<uint8_t>> splitAnnexB(const std::vector<uint8_t>& s) {
  std::vector<size_t> starts;
  for (size_t i = 0; i + 2 < s.size(); ++i) {
    if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
      starts.push_back(i + 3);
      i += 2;
    }
  }
  std::vector<std::vector<uint8_t>> units;
  for (size_t k = 0; k < starts.size(); ++k) {
    size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : s.size();
    while (end > starts[k] && s[end - 1] == 0) --end;
    units.emplace_back(s.begin() + starts[k], s.begin() + end);
  }
  return units;
}

std::vector<uint8_t> prefixed(const std::vector<uint8_t>& unit, uint32_t prefixLength, uint64_t declared) {
  std::vector<uint8_t> out;
  for (uint32_t i = prefixLength; i-- > 0;) out.push_back(uint8_t(declared >> (8 * i)));
  out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

std::vector<uint8_t> lengthPrefixed(const std::vector<std::vector<uint8_t>>& units, uint32_t prefixLength,
                                    std::vector<size_t>* offsets) {
  std::vector<uint8_t> out;
  for (const auto& unit : units) {
    if (offsets) offsets->push_back(out.size());
    const auto one = prefixed(unit, prefixLength, unit.size());
    out.insert(out.end(), one.begin(), one.end());
  }
  return out;
}

std::vector<uint8_t> window(const std::vector<uint8_t>& data, size_t offset, size_t size) {
  std::vector<uint8_t> w(size, 0);
  for (size_t i = 0; i < size && offset + i < data.size(); ++i) w[i] = data[offset + i];
  return w;
}

std::vector<TraceUnit> traceUnits(const std::string& annexBPath, std::string* log, bool extradata) {
  auto result = testsupport::runCommand("ffmpeg -hide_banner -nostats -i " + testsupport::shellQuote(annexBPath) +
                                        " -c copy -bsf:v trace_headers -f null - 2>&1");
  if (log) *log = result.output;
  std::vector<TraceUnit> units;
  if (result.exitCode != 0 && !extradata) return units;
  bool inExtradata = false;
  std::istringstream in(result.output);
  std::string line;
  while (std::getline(in, line)) {
    // "[trace_headers @ 0x...] <text>"; progress output may precede it on the same line.
    const size_t tag = line.find("[trace_headers @ ");
    if (tag == std::string::npos) continue;
    const size_t close = line.find("] ", tag);
    if (close == std::string::npos) continue;
    const std::string text = line.substr(close + 2);
    if (text == "Extradata") {
      inExtradata = true;
      continue;
    }
    if (text.rfind("Packet:", 0) == 0) {
      inExtradata = false;
      continue;
    }
    // "<bit offset> <name> <bits> = <value>"
    std::istringstream fields(text);
    std::string offset, name, bits, equals;
    int64_t value = 0;
    if (!(fields >> offset >> name >> bits >> equals >> value) || equals != "=") continue;
    if (offset.find_first_not_of("0123456789") != std::string::npos) continue;
    if (bits.find_first_not_of("01") != std::string::npos) continue;
    if (inExtradata != extradata) continue;
    if (name == "forbidden_zero_bit") units.emplace_back();
    if (!units.empty()) units.back()[name] = value;
  }
  return units;
}

std::optional<int64_t> field(const TraceUnit& unit, const std::string& name) {
  auto it = unit.find(name);
  if (it == unit.end()) return std::nullopt;
  return it->second;
}

}  // namespace h264test
