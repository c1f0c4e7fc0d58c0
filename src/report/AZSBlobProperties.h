#pragma once

#include <cstdint>
#include <optional>
#include <string>

enum AZSBlobType : int64_t { AZSBlobTypeUnspecified = 0, AZSBlobTypePageBlob = 1, AZSBlobTypeBlockBlob = 2 };

struct AZSBlobProperties {
  std::optional<std::string> cacheControl;
  std::optional<std::string> contentDisposition;
  std::optional<std::string> contentEncoding;
  std::optional<std::string> contentLanguage;
  std::optional<std::string> contentMD5;
  std::optional<std::string> contentType;
  std::string eTag;
  std::string lastModified;
  int64_t blobType = AZSBlobTypeUnspecified;
};

struct AZSBlobContainerProperties {
  std::string eTag;
  std::string lastModified;
};
