#include "app/gui/AppInfo.h"

#include "foundation/Configuration.h"

namespace qvr {

AppInfo AppInfo::current() {
  const Configuration& config = Configuration::shared();
  AppInfo info;
  info.bundleIdentifier = config.valueOr(Configuration::kBundleIdentifier, "com.quenda.videorepair");
  info.shortVersion = config.valueOr(Configuration::kVersion, "");
  info.helpLink = config.valueOr(Configuration::kHelpLink, "");
  info.faqAddress = config.valueOr(Configuration::kFaqLink, info.helpLink);
  info.supportAddress = config.valueOr(Configuration::kSupportLink, info.helpLink);
  info.cloudPlistUrl = config.valueOr(Configuration::kCloudPlistUrl, "");
  info.vlcDownloadLink = config.valueOr(Configuration::kVlcDownloadLink, "");
  return info;
}

}  // namespace qvr
