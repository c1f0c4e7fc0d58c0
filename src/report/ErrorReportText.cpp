#include "report/ErrorReportText.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <random>

#include "report/azs/Crypto.h"

namespace qvr {

namespace {

// "." of the address expression stops at line terminators: LF, VT, FF, CR, NEL, LS and PS.
bool holdsLineTerminator(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x0a && c <= 0x0d) return true;
    if (c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85) return true;
    if (c == 0xe2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
        (static_cast<unsigned char>(text[i + 2]) == 0xa8 || static_cast<unsigned char>(text[i + 2]) == 0xa9)) {
      return true;
    }
  }
  return false;
}

bool asciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool labelChar(char c) { return asciiLetter(c) || (c >= '0' && c <= '9') || c == '-'; }

}  // namespace

bool validateEmailWithString(const std::string& email) {
  if (std::count(email.begin(), email.end(), '@') != 1) return false;
  size_t at = email.find('@');
  std::string local = email.substr(0, at);
  std::string domain = email.substr(at + 1);
  if (local.empty() || holdsLineTerminator(local)) return false;

  size_t labels = 0;
  size_t start = 0;
  while (true) {
    size_t dot = domain.find('.', start);
    std::string label = domain.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (label.empty()) return false;
    ++labels;
    if (dot == std::string::npos) {
      // The last label: two or more letters.
      return labels >= 2 && label.size() >= 2 && std::all_of(label.begin(), label.end(), asciiLetter);
    }
    if (!std::all_of(label.begin(), label.end(), labelChar)) return false;
    start = dot + 1;
  }
}

std::string randomStringWithLength(int32_t length) {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static std::mutex mutex;
  static std::mt19937 generator{std::random_device{}()};
  std::string out;
  if (length < 1) return out;
  std::uniform_int_distribution<size_t> pick(0, sizeof kAlphabet - 2);
  std::lock_guard lock(mutex);
  out.reserve(static_cast<size_t>(length));
  for (int32_t i = 0; i < length; ++i) out += kAlphabet[pick(generator)];
  return out;
}

std::string newReportIdentifier() {
  std::string id;
  for (char c : azs::uuidString()) {
    if (c != '-') id += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return id;
}

std::string reportMailSubject() { return "Hollin Video Repair Tool Mac - Error Report x" + randomStringWithLength(10); }

std::string reportMailBody(const std::string& description, const std::vector<std::string>& lines,
                           const std::string& operatingSystem, const std::string& reportId) {
  std::string body = description;
  for (const auto& line : lines) body += "\n\n" + line;
  body += "\n\nMacOS : " + operatingSystem;
  body += "\n\nUID : " + reportId;
  return body;
}

}  // namespace qvr
