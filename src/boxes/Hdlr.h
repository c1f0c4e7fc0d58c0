#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Handler reference ("hdlr").
class Hdlr {
 public:
  static std::unique_ptr<Hdlr> initHDLRWithBytes(const uint8_t* bytes, uint32_t size);
  // A new handler; writeableData is filled. A non-empty name is written as a counted string
  // whose length agrees with `size`; with an empty name the box is 34 bytes.
  static std::unique_ptr<Hdlr> initHDLRWithComponentType(uint32_t componentType, uint32_t componentSubtype,
                                                         uint8_t handlerNameSize, const std::string& handlerName);
  void readBytes(const uint8_t* bytes, uint32_t size);
  void createWriteableData();

  uint32_t size = 0;
  uint32_t type = 0;
  uint32_t version_Flag = 0;
  uint32_t componentType = 0;
  uint32_t componentSubtype = 0;
  uint32_t componentManufacturer = 0;
  uint32_t componentFlags = 0;
  uint32_t componentFlagsMask = 0;
  uint8_t nameStringSize = 0;
  uint8_t name_CString = 0;
  std::string handlerName;

  std::vector<uint8_t> writeableData;
};
