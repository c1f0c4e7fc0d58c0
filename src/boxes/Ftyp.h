#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// File type box ("ftyp"), read only for the camera maker its brands reveal.
class Ftyp {
 public:
  static std::unique_ptr<Ftyp> initFtypWithBytes(const uint8_t* bytes, uint32_t length);
  void readBytes(const uint8_t* bytes, uint32_t length);

  uint32_t size = 0;
  uint32_t type = 0;
  std::optional<std::string> manufacture;
};
