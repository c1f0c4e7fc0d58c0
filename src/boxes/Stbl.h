#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class AtomCreationRequest;
class Stsd;
class Stts;
class Stss;
class Stsc;
class Stsz;
class Stco;
class Ctts;
class Sdtp;
class Udta;

// Sample table box ("stbl"). Valid only when the children it accepts cover it exactly.
// Ownership: the sample description, composition offsets and sample-to-chunk table are shared
// (a synthesised table reuses the reference's objects); the other tables are owned.
class Stbl {
 public:
  Stbl();
  ~Stbl();
  static std::unique_ptr<Stbl> initSTBLWithBytes(const uint8_t* bytes, uint32_t size);
  // Returns false when the accepted children do not add up to the box size.
  bool readBytes(const uint8_t* bytes, uint32_t size);

  // A new sample table for the repaired track described by `request`, built on this
  // (reference) table's sample description.
  std::unique_ptr<Stbl> createStblWithRequest(const AtomCreationRequest& request) const;
  void createWriteableData();

  uint32_t getSampleSize() const;      // constant size of the sample size box, 0 without one
  uint32_t getSamplePerChunk() const;  // samples per chunk of the first run, 0 without one
  std::string getResolution() const;   // "Missing" without a sample description

  uint32_t size = 0;
  uint32_t type = 0;
  uint32_t testSize = 0;
  std::shared_ptr<Stsd> stsd;
  std::unique_ptr<Stss> stss;
  std::unique_ptr<Stts> stts;
  std::shared_ptr<Stsc> stsc;
  std::unique_ptr<Stsz> stsz;
  std::unique_ptr<Stco> stco;
  std::shared_ptr<Ctts> ctts;
  std::unique_ptr<Sdtp> sdtp;
  std::shared_ptr<Udta> udta;

  std::vector<uint8_t> writeableData;
};
