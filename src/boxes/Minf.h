#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "boxes/Gmhd.h"
#include "boxes/Smhd.h"
#include "boxes/Vmhd.h"

class AtomCreationRequest;
class Gmin;
class Hdlr;
class Dinf;
class Stbl;
class Udta;

// Media information box ("minf"). Invalid (none) without a sample table.
class Minf {
 public:
  // One of the three media information headers, or none.
  using MediaHeader = std::variant<std::monostate, std::unique_ptr<Vmhd>, std::unique_ptr<Smhd>, std::unique_ptr<Gmhd>>;

  Minf();
  ~Minf();
  static std::unique_ptr<Minf> initMINFWithBytes(const uint8_t* bytes, uint32_t size);
  void readBytes(const uint8_t* bytes, uint32_t size);

  // `andType` is the request type: 2 video (vmhd), 1 audio (smhd), anything else no header.
  std::unique_ptr<Minf> createMinfWithRequest(const AtomCreationRequest& request, int64_t andType) const;
  void createWriteableData();

  std::string getResolution() const;

  uint32_t size = 0;
  uint32_t type = 0;
  MediaHeader mediaHeader;
  int64_t minfMediaType = 0;  // 1 vmhd, 2 smhd, -1 gmhd, 0 none
  std::unique_ptr<Gmin> gmin;
  std::unique_ptr<Hdlr> hdlr;
  std::unique_ptr<Dinf> dinf;
  std::unique_ptr<Stbl> stbl;
  std::shared_ptr<Udta> udta;

  std::vector<uint8_t> writeableData;
};
