#include "app/gui/Formatting.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace qvr {
namespace {

std::string twoDigits(uint64_t value) {
  std::string text = std::to_string(value);
  return text.size() == 1 ? "0" + text : text;
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

}  // namespace

std::string timeFormStringForInterval(double seconds) {
  // Whole seconds are taken first: splitting t/60 into minutes and a fraction loses a second to
  // rounding (61 s would read 00:01:00).
  if (!(seconds > 0)) seconds = 0;
  if (seconds > 1e15) seconds = 1e15;
  const auto total = static_cast<uint64_t>(std::floor(seconds));
  const uint64_t minutesTotal = total / 60;
  const uint64_t secs = total % 60;
  const uint64_t minutes = minutesTotal % 60;
  const uint64_t hours = (minutesTotal / 60) % 24;
  return twoDigits(hours) + ":" + twoDigits(minutes) + ":" + twoDigits(secs);
}

std::string formattedStringForSize(uint64_t bytes) {
  // Single precision on purpose: 999999 bytes read "1000.00 KB", as the product always showed.
  const auto size = static_cast<float>(bytes);
  char text[64];
  if (bytes == 0) {
    return "0.00 KB";
  } else if (bytes <= 999999ULL) {
    std::snprintf(text, sizeof text, "%.2f KB", static_cast<double>(size / 1000.0f));
  } else if (bytes <= 999999999ULL) {
    std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(size / 1000000.0f));
  } else {
    std::snprintf(text, sizeof text, "%.2f GB", static_cast<double>(size / 1000000000.0f));
  }
  return text;
}

std::string repairedFilePathFor(const std::string& workingFolder, const std::string& extension) {
  const std::string ext = lower(extension);
  std::string folder = workingFolder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (ext == "avi") return folder + "/.testfile.avi";
  if (ext == "mov") return folder + "/.testfile.mov";
  return folder;
}

bool isMovFamilyExtension(const std::string& extension) {
  const std::string ext = lower(extension);
  return ext == "mov" || ext == "mp4" || ext == "m4v";
}

bool isMovieExtension(const std::string& extension) {
  return isMovFamilyExtension(extension) || lower(extension) == "avi";
}

}  // namespace qvr
