#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class AtomCreationRequest;
class Mdhd;
class Hdlr;
class Minf;
class Udta;

// Media box ("mdia"). Invalid (none) without a media information box.
class Mdia {
 public:
  Mdia();
  ~Mdia();
  static std::unique_ptr<Mdia> initMDIAWithBytes(const uint8_t* bytes, uint32_t size);
  void readBytes(const uint8_t* bytes, uint32_t size);

  // `withRequestType`: 2 video, 1 audio.
  std::unique_ptr<Mdia> createMediaWithRequest(const AtomCreationRequest& request, int64_t withRequestType) const;
  void createWriteableData();

  int64_t getMediaType() const;  // 1 video, 2 audio, else the minf's type or -1
  uint32_t getTimeScale() const;
  std::string getResolution() const;

  uint32_t size = 0;
  uint32_t type = 0;
  std::unique_ptr<Mdhd> mdhd;
  std::unique_ptr<Hdlr> hdlr;
  std::unique_ptr<Minf> minf;
  std::shared_ptr<Udta> udta;
  int64_t mediaType = 0;
  double mdiaFPS = 0.0;

  std::vector<uint8_t> writeableData;
};
