#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report/AZSStorageUri.h"

// Account credentials: a shared key (account name and key bytes), a shared access signature, or none.
class AZSStorageCredentials {
 public:
  AZSStorageCredentials() = default;
  static AZSStorageCredentials initWithAccountName(std::string accountName, std::vector<uint8_t> accountKey);
  static AZSStorageCredentials initWithSASToken(std::string sasToken);

  std::string accountName;
  std::vector<uint8_t> accountKey;
  std::string sasToken;

  bool isSharedKey() const { return kind_ == Kind::SharedKey; }
  bool isSAS() const { return kind_ == Kind::SAS; }
  // Shared-key credentials leave an address unchanged; a signature's token is added to its query.
  AZSStorageUri transformWithStorageUri(const AZSStorageUri& uri) const;

 private:
  enum class Kind { None, SharedKey, SAS };
  Kind kind_ = Kind::None;
};
