#pragma once

#include <string>

namespace qvr {

// The application's information keys and the addresses behind its links, as configured.
struct AppInfo {
  std::string bundleIdentifier;  // "CFBundleIdentifier"
  std::string shortVersion;      // "CFBundleShortVersionString"
  std::string helpLink;          // "Help link"
  std::string faqAddress;
  std::string supportAddress;
  std::string cloudPlistUrl;    // "cloudPlistUrl"
  std::string vlcDownloadLink;  // "VLC download link"

  static AppInfo current();
};

}  // namespace qvr
