#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qvr {

// The application's information list and deployment values in one place: a JSON object read from
// /etc/quenda-video-repair/config.json, then ~/.config/quenda-video-repair/config.json, then
// QUENDA_* environment variables, later sources overriding earlier ones. Shipped defaults hold
// no secrets: the storage and mail values are absent unless configured.
class Configuration {
 public:
  // Keys as the application reads them.
  static constexpr const char* kBundleIdentifier = "CFBundleIdentifier";
  static constexpr const char* kVersion = "CFBundleShortVersionString";
  static constexpr const char* kCloudPlistUrl = "cloudPlistUrl";
  static constexpr const char* kHelpLink = "Help link";
  static constexpr const char* kFaqLink = "FAQ link";
  static constexpr const char* kSupportLink = "Support link";
  static constexpr const char* kVlcDownloadLink = "VLC download link";
  static constexpr const char* kStorageConnectionString = "Storage connection string";
  static constexpr const char* kMailEndpoint = "Mail endpoint";
  static constexpr const char* kMailApiKey = "Mail API key";
  static constexpr const char* kSupportMailbox = "Support mailbox";
  static constexpr const char* kMailSender = "Mail sender";

  // The environment variable that overrides `key` (QUENDA_VERSION for the version, ...).
  static std::string environmentName(const std::string& key);

  // Defaults, then each readable file in order, then the environment.
  static Configuration load(const std::vector<std::string>& files, const std::map<std::string, std::string>& env);
  // The standard files and the process environment.
  static Configuration loadStandard();
  // Loaded once per process from the standard places.
  static const Configuration& shared();

  std::optional<std::string> value(const std::string& key) const;
  std::string valueOr(const std::string& key, const std::string& fallback) const;
  void set(const std::string& key, const std::string& value) { values_[key] = value; }
  void remove(const std::string& key) { values_.erase(key); }
  // Files that could not be parsed, for a log line rather than a silent fallback.
  const std::vector<std::string>& problems() const { return problems_; }

 private:
  std::map<std::string, std::string> values_;
  std::vector<std::string> problems_;
};

}  // namespace qvr
