#include "boxes/AVCDecoderConfigurationRecord.h"

#include "bitstream/PPS.h"
#include "bitstream/SPS.h"
#include "boxes/ByteStream.h"

AVCDecoderConfigurationRecord::AVCDecoderConfigurationRecord() = default;
AVCDecoderConfigurationRecord::~AVCDecoderConfigurationRecord() = default;

std::unique_ptr<AVCDecoderConfigurationRecord> AVCDecoderConfigurationRecord::initAVCCWithBytes(const uint8_t* bytes,
                                                                                                uint32_t size) {
  auto record = std::make_unique<AVCDecoderConfigurationRecord>();
  if (bytes) record->readBytes(bytes, size);
  return record;
}

void AVCDecoderConfigurationRecord::readBytes(const uint8_t* bytes, uint32_t size) {
  ByteStream in(bytes, size);
  this->size = in.readUI32();
  type = in.readUI32();
  configurationVersion = in.readUI08();
  AVCProfileIndication = in.readUI08();
  profile_compatibility = in.readUI08();
  AVCLevelIndication = in.readUI08();
  lengthSizeMinusOne = in.readUI08() & 0x03;
  numOfSequenceParameterSets = in.readUI08() & 0x1F;
  for (uint32_t i = 0; i < numOfSequenceParameterSets; ++i) {
    if (in.remaining() < 2) break;
    sequenceParameterSetLength = in.readUI16();
    // A set longer than the box is left out and the reading stays where it is, as the
    // following counts are then read from whatever comes next.
    if (sequenceParameterSetLength > in.remaining()) continue;
    sequenceParameterSetNALUnit = in.readBytes(sequenceParameterSetLength);
    sps = SPS::initSPSWithBytes(sequenceParameterSetNALUnit.data(), sequenceParameterSetLength);
  }
  numOfPictureParameterSets = in.readUI08();
  for (uint32_t i = 0; i < numOfPictureParameterSets; ++i) {
    if (in.remaining() < 2) break;
    pictureParameterSetLength = in.readUI16();
    if (pictureParameterSetLength > in.remaining()) continue;
    pictureParameterSetNALUnit = in.readBytes(pictureParameterSetLength);
    pps = PPS::initPPSWithBytes(pictureParameterSetNALUnit.data(), pictureParameterSetLength);
  }
}
