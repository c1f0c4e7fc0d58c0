#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// User data ("udta"): the camera maker ("manu") and model ("modl") texts, when present.
class Udta {
 public:
  static std::unique_ptr<Udta> initUDTAWithBytes(const uint8_t* bytes, uint32_t size);
  void readBytes(const uint8_t* bytes, uint32_t size);
  // Copies a text payload: 0x15 drops itself and the byte after it, zero bytes are dropped.
  static std::string getTheDetailsFromBlock(const uint8_t* block, uint32_t size);

  uint32_t size = 0;
  uint32_t type = 0;
  std::optional<std::string> manufacture;
  std::optional<std::string> device;
};
