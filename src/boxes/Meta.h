#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// Metadata box ("meta"): maker and model from the attributes "manufacturer" and "modelName" of
// the XML document in its "xml " child.
class Meta {
 public:
  static std::unique_ptr<Meta> initMetaWithByte(const uint8_t* bytes, uint32_t size);
  void readBytes(const uint8_t* bytes, uint32_t size);

  uint32_t size = 0;
  uint32_t type = 0;
  std::optional<std::string> manufacture;
  std::optional<std::string> device;
};
