#include "foundation/Configuration.h"

#include <fstream>
#include <nlohmann/json.hpp>

#include "foundation/FileSystem.h"

extern char** environ;

namespace qvr {

namespace {
const char* const kAllKeys[] = {
    Configuration::kBundleIdentifier, Configuration::kVersion,
    Configuration::kCloudPlistUrl,    Configuration::kHelpLink,
    Configuration::kFaqLink,          Configuration::kSupportLink,
    Configuration::kVlcDownloadLink,  Configuration::kStorageConnectionString,
    Configuration::kMailEndpoint,     Configuration::kMailApiKey,
    Configuration::kSupportMailbox,   Configuration::kMailSender,
};

#ifndef QVR_BUILD_VERSION
#define QVR_BUILD_VERSION "0.0.0"
#endif
}  // namespace

std::string Configuration::environmentName(const std::string& key) {
  if (key == kBundleIdentifier) return "QUENDA_BUNDLE_IDENTIFIER";
  if (key == kVersion) return "QUENDA_VERSION";
  if (key == kCloudPlistUrl) return "QUENDA_CLOUD_PLIST_URL";
  std::string name = "QUENDA_";
  for (char c : key) {
    if (c == ' ' || c == '-') {
      name += '_';
    } else {
      name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
  }
  return name;
}

Configuration Configuration::load(const std::vector<std::string>& files,
                                  const std::map<std::string, std::string>& env) {
  Configuration config;
  config.values_[kBundleIdentifier] = "com.quenda.videorepair";
  config.values_[kVersion] = QVR_BUILD_VERSION;
  for (const std::string& path : files) {
    if (!fs::isReadableFile(path)) continue;
    std::ifstream in(path);
    nlohmann::json doc = nlohmann::json::parse(in, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) {
      config.problems_.push_back(path + ": not a JSON object");
      continue;
    }
    for (const auto& [key, value] : doc.items()) {
      if (value.is_string()) {
        config.values_[key] = value.get<std::string>();
      } else if (value.is_null()) {
        config.values_.erase(key);
      } else {
        config.values_[key] = value.dump();
      }
    }
  }
  for (const char* key : kAllKeys) {
    auto it = env.find(environmentName(key));
    if (it != env.end()) config.values_[key] = it->second;
  }
  return config;
}

Configuration Configuration::loadStandard() {
  std::map<std::string, std::string> env;
  for (char** e = environ; e && *e; ++e) {
    std::string entry = *e;
    auto eq = entry.find('=');
    if (eq != std::string::npos && entry.rfind("QUENDA_", 0) == 0) env[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  std::string userConfig;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    userConfig = std::string(xdg) + "/quenda-video-repair/config.json";
  } else {
    userConfig = fs::homeDirectory() + "/.config/quenda-video-repair/config.json";
  }
  return load({"/etc/quenda-video-repair/config.json", userConfig}, env);
}

const Configuration& Configuration::shared() {
  static const Configuration config = loadStandard();
  return config;
}

std::optional<std::string> Configuration::value(const std::string& key) const {
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

std::string Configuration::valueOr(const std::string& key, const std::string& fallback) const {
  return value(key).value_or(fallback);
}

}  // namespace qvr
