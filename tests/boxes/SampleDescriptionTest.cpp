#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "MovieTreeBuilder.h"
#include "bitstream/SPS.h"
#include "boxes/AVCDecoderConfigurationRecord.h"
#include "boxes/AudioSampleDescriptionEntery.h"
#include "boxes/DecoderConfigDescriptor.h"
#include "boxes/DecoderSpecifiInfoWrapper.h"
#include "boxes/EsdsDecoder.h"
#include "boxes/HVCDecoderConfigurationRecord.h"
#include "boxes/ObjectDescriptor.h"
#include "boxes/SLConfigDescriptor.h"
#include "boxes/Stsd.h"
#include "boxes/VideoSampleDescriptionEntery.h"

namespace {

using treebuilder::append;
using treebuilder::Bytes;
void put32(Bytes& b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void put16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}

// A box of the given type around the payload.
Bytes box(const char* type, const Bytes& payload) {
  Bytes b;
  put32(b, uint32_t(8 + payload.size()));
  b.insert(b.end(), type, type + 4);
  append(b, payload);
  return b;
}

// An H.264 SPS (Baseline 320x240) and PPS as an encoder stores them.
const Bytes kSps = {0x67, 0x42, 0xC0, 0x0D, 0xDA, 0x05, 0x07, 0xEC, 0x04, 0x40, 0x00,
                    0x00, 0x03, 0x00, 0x40, 0x00, 0x00, 0x0F, 0x03, 0xC5, 0x0A, 0xA8};
const Bytes kPps = {0x68, 0xCE, 0x0F, 0xC8};

Bytes avcC(uint8_t lengthSizeByte, const std::vector<Bytes>& spsList, const std::vector<Bytes>& ppsList) {
  Bytes p = {1, 0x42, 0xC0, 0x0D, lengthSizeByte, uint8_t(0xE0 | spsList.size())};
  for (const Bytes& s : spsList) {
    put16(p, uint16_t(s.size()));
    append(p, s);
  }
  p.push_back(uint8_t(ppsList.size()));
  for (const Bytes& s : ppsList) {
    put16(p, uint16_t(s.size()));
    append(p, s);
  }
  return box("avcC", p);
}

// A visual sample entry with the given children after its 86-byte fixed part.
Bytes videoEntry(const char* type, uint16_t width, uint16_t height, const Bytes& children,
                 const Bytes& compressorName = {5, 'q', 'u', 'e', 'n', 'd'}) {
  Bytes p(6, 0);
  put16(p, 1);  // data reference index
  p.resize(p.size() + 16, 0);
  put16(p, width);
  put16(p, height);
  put32(p, 0x00480000);
  put32(p, 0x00480000);
  put32(p, 0);
  put16(p, 1);
  Bytes name = compressorName;
  name.resize(32, 0);
  append(p, name);
  put16(p, 24);
  put16(p, 0xFFFF);
  append(p, children);
  return box(type, p);
}

// An ES descriptor payload holding a decoder configuration and an SL configuration.
Bytes esPayload(const Bytes& decoderSpecificInfo, Bytes lengthForm = {}) {
  Bytes dcd = {0x40, 0x15, 0x00, 0x18, 0x00};
  put32(dcd, 160000);  // max
  put32(dcd, 128000);  // avg
  if (!decoderSpecificInfo.empty()) {
    dcd.push_back(5);
    dcd.push_back(uint8_t(decoderSpecificInfo.size()));
    append(dcd, decoderSpecificInfo);
  }
  Bytes es = {0x00, 0x01, 0x00, 4};
  if (lengthForm.empty()) lengthForm = {uint8_t(dcd.size())};
  append(es, lengthForm);
  append(es, dcd);
  append(es, {6, 1, 2});
  return es;
}

Bytes esds(const Bytes& esPayloadBytes) {
  Bytes p(4, 0);
  p.push_back(3);
  p.push_back(uint8_t(esPayloadBytes.size()));
  append(p, esPayloadBytes);
  return box("esds", p);
}

Bytes audioEntry(const char* type, uint16_t version, const Bytes& after) {
  Bytes p(6, 0);
  put16(p, 1);
  put16(p, version);
  put16(p, 0);
  put32(p, 0);
  put16(p, 2);
  put16(p, 16);
  put16(p, 0);
  put16(p, 0);
  put32(p, 48000u << 16);
  append(p, after);
  return box(type, p);
}

Bytes stsd(const std::vector<Bytes>& entries) {
  Bytes p(4, 0);
  put32(p, uint32_t(entries.size()));
  for (const Bytes& e : entries) append(p, e);
  return box("stsd", p);
}

std::unique_ptr<Stsd> parse(const Bytes& b) { return Stsd::initSTSDWithBytes(b.data(), uint32_t(b.size())); }

TEST(SampleDescription, AvcEntryGivesCodecLengthSizeParameterSetsAndResolution) {
  auto s = parse(stsd({videoEntry("avc1", 1920, 1080, avcC(0xFF, {kSps}, {kPps}))}));
  EXPECT_EQ(s->codecFormat, 1001);
  // Only the low two bits of the length-size byte count.
  EXPECT_EQ(s->avc1NaluSizeLength(), 4);
  EXPECT_EQ(s->getResolution(), "1920x1080");
  ASSERT_TRUE(s->avcSPS());
  EXPECT_EQ(s->avcSPS()->pic_width_in_mbs_minus1, 19);
  EXPECT_EQ(s->SPS(), std::static_pointer_cast<RBSPObject>(s->avcSPS()));
  EXPECT_TRUE(s->PPS());
  EXPECT_EQ(s->VPS(), nullptr);
  EXPECT_EQ(s->decoderSpecificInfo(), nullptr);
  EXPECT_EQ(s->getAvgAudioBitRate(), 0u);

  auto entry = s->getDecoder();
  ASSERT_TRUE(entry && entry->asVideo());
  EXPECT_EQ(entry->asVideo()->getDataFormat(), 1001);
  // The counted string's length byte stays in front of the name.
  EXPECT_EQ(entry->asVideo()->compressorName, "\x05quend");
  const AVCDecoderConfigurationRecord* record = entry->asVideo()->avcC();
  ASSERT_TRUE(record);
  EXPECT_EQ(record->sequenceParameterSetNALUnit, kSps);
  EXPECT_EQ(record->pictureParameterSetNALUnit, kPps);
  EXPECT_EQ(record->numOfPictureParameterSets, 1);

  auto two = parse(stsd({videoEntry("avc1", 16, 16, avcC(0xFD, {kSps}, {kPps}))}));
  EXPECT_EQ(two->avc1NaluSizeLength(), 2);
}

TEST(SampleDescription, AvcRecordKeepsTheLastSetAndSkipsSetsThatOverrun) {
  Bytes other = kSps;
  other[3] = 0x1E;
  auto record = AVCDecoderConfigurationRecord::initAVCCWithBytes(avcC(3, {kSps, other}, {}).data(),
                                                                 uint32_t(avcC(3, {kSps, other}, {}).size()));
  EXPECT_EQ(record->sequenceParameterSetNALUnit, other);
  EXPECT_EQ(record->numOfSequenceParameterSets, 2u);

  // The second set claims more bytes than the box has: the first one stays.
  Bytes cut = avcC(3, {kSps, other}, {kPps});
  cut.resize(8 + 6 + 2 + kSps.size() + 2 + 4);
  auto partial = AVCDecoderConfigurationRecord::initAVCCWithBytes(cut.data(), uint32_t(cut.size()));
  EXPECT_EQ(partial->sequenceParameterSetNALUnit, kSps);
  EXPECT_TRUE(partial->pictureParameterSetNALUnit.empty());
  EXPECT_EQ(partial->pps, nullptr);
}

TEST(SampleDescription, EntryLengthSizesWithoutOrDespiteTheirRecords) {
  // "avc1" without "avcC": length size minus one reads 0, so the prefix is 1 byte.
  auto bare = parse(stsd({videoEntry("avc1", 640, 480, {})}));
  EXPECT_EQ(bare->avc1NaluSizeLength(), 1);
  EXPECT_EQ(bare->SPS(), nullptr);

  // "hvc1" always uses 4-byte prefixes, whatever its record holds.
  Bytes hvcC(23, 0);
  hvcC[21 - 8 + 8] = 0xFC;  // lengthSizeMinusOne 0 in the record
  hvcC.push_back(0);        // no arrays
  auto hevc = parse(stsd({videoEntry("hvc1", 1280, 720, box("hvcC", hvcC))}));
  EXPECT_EQ(hevc->codecFormat, 1005);
  EXPECT_EQ(hevc->avc1NaluSizeLength(), 4);
  EXPECT_EQ(hevc->getDecoder()->asVideo()->getDataFormat(), 1002);
}

TEST(SampleDescription, ReadingStopsAtTheFirstUnknownEntry) {
  Bytes unknown = box("mp4v", Bytes(80, 0));
  auto s = parse(stsd({videoEntry("avc1", 320, 240, avcC(3, {kSps}, {kPps})), unknown,
                       videoEntry("avc1", 640, 480, avcC(1, {kSps}, {kPps}))}));
  ASSERT_EQ(s->sampleDescriptionTable.size(), 1u);
  EXPECT_EQ(s->getResolution(), "320x240");
  EXPECT_EQ(s->numberOfEntries, 3u);

  // An entry running past the box, or claiming less than its own header, also ends it.
  Bytes overrun = stsd({audioEntry("sowt", 0, {})});
  overrun.resize(overrun.size() - 1);
  EXPECT_TRUE(parse(overrun)->sampleDescriptionTable.empty());
  Bytes zero = stsd({audioEntry("sowt", 0, {})});
  zero[16] = zero[17] = zero[18] = zero[19] = 0;
  EXPECT_TRUE(parse(zero)->sampleDescriptionTable.empty());

  // A count far above what is there ends with the bytes.
  Bytes many = stsd({audioEntry("twos", 0, {})});
  many[12] = many[13] = many[14] = many[15] = 0xFF;
  auto m = parse(many);
  EXPECT_EQ(m->sampleDescriptionTable.size(), 1u);
  EXPECT_EQ(m->codecFormat, 1004);
  EXPECT_EQ(m->stsdData, many);
}

TEST(SampleDescription, Mp4aFindsItsEsdsAnywhereAfterTheFixedFields) {
  const Bytes asc = {0x11, 0x90};
  // Version 1 entry whose "esds" sits inside a "wave" child, as QuickTime writes it.
  Bytes v1Fields(16, 0);
  Bytes wave = box("wave", [&] {
    Bytes w = box("frma", {'m', 'p', '4', 'a'});
    append(w, esds(esPayload(asc)));
    return w;
  }());
  Bytes after = v1Fields;
  append(after, wave);
  auto s = parse(stsd({audioEntry("mp4a", 1, after)}));
  EXPECT_EQ(s->codecFormat, 1002);
  EXPECT_EQ(s->getAvgAudioBitRate(), 128000u);
  EXPECT_EQ(s->getMaxAudioBitRate(), 160000u);
  auto info = s->decoderSpecificInfo();
  ASSERT_TRUE(info);
  EXPECT_EQ(Bytes(info->decoderSpecificInfo.begin(), info->decoderSpecificInfo.end()), asc);
  EXPECT_EQ(s->getResolution(), "Missing");
  EXPECT_EQ(s->avc1NaluSizeLength(), 0);

  const AudioSampleDescriptionEntery* entry = s->getDecoder()->asAudio();
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->numberOfChannels, 2);
  EXPECT_EQ(entry->sampleRate >> 16, 48000u);
  // The version-1 fields belong to PCM entries only.
  EXPECT_EQ(entry->samplePerPacket, 0u);
  ASSERT_TRUE(entry->decoder && entry->decoder->objectDesc && entry->decoder->objectDesc->slConfigDescriptor);
  EXPECT_EQ(entry->decoder->objectDesc->slConfigDescriptor->data, Bytes{2});
  EXPECT_EQ(entry->decoder->objectDesc->decoderConfigDescriptor->objectTypeIndication, 0x40);
  EXPECT_EQ(entry->decoder->objectDesc->decoderConfigDescriptor->streamType, 5);
}

TEST(SampleDescription, PcmEntriesReadTheirVersionOneFields) {
  Bytes v1;
  for (uint32_t v : {1u, 2u, 4u, 2u}) put32(v1, v);
  auto s = parse(stsd({audioEntry("sowt", 1, v1)}));
  EXPECT_EQ(s->codecFormat, 1003);
  const AudioSampleDescriptionEntery* entry = s->getDecoder()->asAudio();
  EXPECT_EQ(entry->samplePerPacket, 1u);
  EXPECT_EQ(entry->bytesPerFrame, 4u);
  EXPECT_EQ(entry->bytesPerSample, 2u);
  EXPECT_EQ(s->decoderSpecificInfo(), nullptr);

  // Version 0, or too short for them: they stay 0.
  EXPECT_EQ(parse(stsd({audioEntry("twos", 0, v1)}))->getDecoder()->asAudio()->bytesPerFrame, 0u);
  Bytes shortV1 = v1;
  shortV1.resize(15);
  EXPECT_EQ(parse(stsd({audioEntry("twos", 1, shortV1)}))->getDecoder()->asAudio()->bytesPerFrame, 0u);
}

TEST(Descriptors, LengthsInTheirPaddedAndMultiByteForms) {
  const Bytes asc = {0x12, 0x10};
  Bytes es = esPayload(asc);
  // ES descriptor length padded to four bytes: 0x80 0x80 0x80 0x22 is 34.
  Bytes padded(4, 0);
  padded.insert(padded.end(), {3, 0x80, 0x80, 0x80, uint8_t(es.size())});
  append(padded, es);
  Bytes box1 = box("esds", padded);
  auto e = EsdsDecoder::initESDSWithBytes(box1.data(), uint32_t(box1.size()));
  ASSERT_TRUE(e->objectDesc);
  EXPECT_EQ(e->objectDesc->length, es.size());
  EXPECT_EQ(e->getAvgBitRate(), 128000u);

  // A decoder-specific payload of 130 bytes needs two length bytes: 0x81 0x02.
  Bytes longInfo(130, 0xAB);
  Bytes dcd = {0x40, 0x15, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 2, 5, 0x81, 0x02};
  append(dcd, longInfo);
  auto d = DecoderConfigDescriptor::initDecoderConfigDescriptorWithBytes(dcd.data(), uint32_t(dcd.size()));
  EXPECT_EQ(d->maxBitrate, 1u);
  EXPECT_EQ(d->avgBitrate, 2u);
  EXPECT_EQ(d->decoderSpecificInfo, longInfo);

  // The same bytes as a one-byte length (0x81 = 129) would have run past the descriptor.
  Bytes es2 = {0, 1, 0, 4, 0x80, 0x80, 0x81, 0x10};
  append(es2, dcd);
  es2[7] = uint8_t(dcd.size() - 128);
  auto od = ObjectDescriptor::initObjectDescriptorWithBytes(es2.data(), uint32_t(es2.size()));
  ASSERT_TRUE(od->decoderConfigDescriptor);
  EXPECT_EQ(od->decoderConfigDescriptor->decoderSpecificInfo.size(), 130u);
}

TEST(Descriptors, MissingOrOverlongDescriptorsAreLeftOut) {
  // No decoder-specific information (byte 13 is not tag 5): nothing reaches the AAC decoder.
  auto noInfo = parse(stsd({audioEntry("mp4a", 0, esds(esPayload({})))}));
  EXPECT_EQ(noInfo->getAvgAudioBitRate(), 128000u);
  EXPECT_EQ(noInfo->decoderSpecificInfo(), nullptr);
  EXPECT_TRUE(noInfo->getDecoder()->asAudio()->decoderSpecificInfo().empty());

  // A one-byte payload is handed on with its length, never as two bytes.
  auto oneByte = parse(stsd({audioEntry("mp4a", 0, esds(esPayload({0x12})))}));
  ASSERT_TRUE(oneByte->decoderSpecificInfo());
  EXPECT_EQ(oneByte->decoderSpecificInfo()->decoderSpecificInfo.size(), 1u);

  // ES descriptor longer than the box: no object descriptor, so no rates.
  Bytes es = esPayload({0x11, 0x90});
  Bytes b = esds(es);
  b[13] = uint8_t(es.size() + 1);
  EXPECT_EQ(EsdsDecoder::initESDSWithBytes(b.data(), uint32_t(b.size()))->objectDesc, nullptr);
  // Wrong tag, zero length, or length bytes that never end.
  b = esds(es);
  b[12] = 4;
  EXPECT_EQ(EsdsDecoder::initESDSWithBytes(b.data(), uint32_t(b.size()))->objectDesc, nullptr);
  b = esds(es);
  b[13] = 0;
  EXPECT_EQ(EsdsDecoder::initESDSWithBytes(b.data(), uint32_t(b.size()))->objectDesc, nullptr);
  Bytes endless = {0, 0, 0, 16, 'e', 's', 'd', 's', 0, 0, 0, 0, 3, 0x80, 0x80, 0x80};
  EXPECT_EQ(EsdsDecoder::initESDSWithBytes(endless.data(), 16)->objectDesc, nullptr);

  // Decoder configuration running past the ES descriptor: the ES descriptor stays, without it.
  Bytes es2 = esPayload({0x11, 0x90});
  es2[4] = uint8_t(es2.size());
  auto od = ObjectDescriptor::initObjectDescriptorWithBytes(es2.data(), uint32_t(es2.size()));
  EXPECT_EQ(od->ES_ID, 1);
  EXPECT_EQ(od->decoderConfigDescriptor, nullptr);
}

TEST(Descriptors, OptionalEsFieldsShiftTheNestedDescriptors) {
  Bytes es = {0x00, 0x07, 0xE3};  // dependence, URL and OCR flags, priority 3
  put16(es, 0x0102);
  es.push_back(3);
  es.insert(es.end(), {'a', 0xFF, 'b'});  // not valid UTF-8
  put16(es, 0x0304);
  Bytes rest = esPayload({0x11, 0x90});
  es.insert(es.end(), rest.begin() + 3, rest.end());
  auto od = ObjectDescriptor::initObjectDescriptorWithBytes(es.data(), uint32_t(es.size()));
  EXPECT_EQ(od->ES_ID, 7);
  EXPECT_TRUE(od->streamDependenceFlag && od->URLFlag && od->OCRstreamFlag);
  EXPECT_EQ(od->streamPriority, 3u);
  EXPECT_EQ(od->dependsOn_ES_ID, 0x0102);
  EXPECT_EQ(od->URLstring,
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(od->OCR_ES_Id, 0x0304);
  ASSERT_TRUE(od->decoderConfigDescriptor);
  EXPECT_EQ(od->decoderConfigDescriptor->avgBitrate, 128000u);
  ASSERT_TRUE(od->slConfigDescriptor);

  // A URL longer than the descriptor keeps what is there.
  Bytes cut = {0x00, 0x01, 0x40, 200, 'x', 'y'};
  EXPECT_EQ(ObjectDescriptor::initObjectDescriptorWithBytes(cut.data(), uint32_t(cut.size()))->URLstring, "xy");
}

TEST(SampleDescription, ChildBoxesThatCannotAdvanceTheScanDoNotStallIt) {
  // Zero-sized "avcC", "colr" and "esds" children end in finite time and the real record after
  // them is still found.
  Bytes children = {0, 0, 0, 0, 'a', 'v', 'c', 'C', 0, 0, 0, 0, 'c', 'o', 'l', 'r'};
  append(children, avcC(1, {kSps}, {kPps}));
  auto v = parse(stsd({videoEntry("avc1", 2, 2, children)}));
  EXPECT_EQ(v->avc1NaluSizeLength(), 2);

  Bytes after = {0, 0, 0, 0, 'e', 's', 'd', 's'};
  append(after, esds(esPayload({0x11, 0x90})));
  EXPECT_EQ(parse(stsd({audioEntry("mp4a", 0, after)}))->getAvgAudioBitRate(), 128000u);
}

TEST(SampleDescription, ShortEntriesReadOnlyWhatTheyHold) {
  Bytes video = videoEntry("avc1", 1280, 720, {});
  video.resize(36);
  video[3] = 36;
  auto v = parse(stsd({video}));
  ASSERT_EQ(v->sampleDescriptionTable.size(), 1u);
  EXPECT_EQ(v->getResolution(), "1280x720");
  EXPECT_EQ(v->getDecoder()->asVideo()->frameCount, 0);

  Bytes audio = audioEntry("mp4a", 0, {});
  audio.resize(26);
  audio[3] = 26;
  auto a = parse(stsd({audio}));
  ASSERT_EQ(a->sampleDescriptionTable.size(), 1u);
  EXPECT_EQ(a->getDecoder()->asAudio()->numberOfChannels, 2);
  EXPECT_EQ(a->getDecoder()->asAudio()->sampleRate, 0u);
  EXPECT_EQ(a->decoderSpecificInfo(), nullptr);

  EXPECT_EQ(Stsd::initSTSDWithBytes(nullptr, 100)->codecFormat, 0);
}

// An "hvcC" with arrays of one VPS, one SPS and one PPS laid out as encoders write them,
// optionally followed by an SEI array.
Bytes hvcC(uint8_t numOfArrays, bool withPps = true, const Bytes& sei = {}) {
  Bytes p(22, 0);
  p[0] = 1;
  p[21] = 0x0F;
  p.push_back(numOfArrays);
  auto array = [&](uint8_t type, const Bytes& unit) {
    p.push_back(uint8_t(0x80 | type));
    put16(p, 1);
    put16(p, uint16_t(unit.size()));
    append(p, unit);
  };
  array(32, {0x40, 0x01, 0x0C, 0x01, 0xFF, 0xFF});
  array(33, {0x42, 0x01, 0x01, 0x01, 0x60, 0x00, 0x00, 0x03});
  if (withPps) array(34, {0x44, 0x01, 0xC1, 0x72});
  if (!sei.empty()) array(39, sei);
  return box("hvcC", p);
}

TEST(HevcRecord, CountsAndSizesComeFromTheScan) {
  // Encoders store their settings as text in an SEI array; 'B' and 'D' are the header bytes of
  // an SPS and a PPS, and "@" that of a VPS: none of it may be taken for a parameter set.
  static const char kText[] = "x265 @ B-frames D=\x01\x02 BDBDBD";
  Bytes sei = {0x4E, 0x01, 0x05, 0x20};
  sei.insert(sei.end(), kText, kText + sizeof(kText) - 1);
  for (const Bytes& b : {hvcC(3), hvcC(4, true, sei)}) {
    auto record = HVCDecoderConfigurationRecord::initHVCDecoderWithBytes(b.data(), uint32_t(b.size()), 1920, 1080);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->numOfVPS, 1);
    EXPECT_EQ(record->numOfSPS, 1);
    EXPECT_EQ(record->numOfPPS, 1);
    EXPECT_EQ(record->vpsSize, 6);
    EXPECT_EQ(record->spsSize, 8);
    EXPECT_EQ(record->ppsSize, 4);
    EXPECT_EQ(record->width, 1920u);
  }

  // A unit longer than the box keeps its announced size but is not read.
  Bytes cut = hvcC(3);
  cut.resize(cut.size() - 1);
  auto partial = HVCDecoderConfigurationRecord::initHVCDecoderWithBytes(cut.data(), uint32_t(cut.size()), 1, 1);
  ASSERT_TRUE(partial);
  EXPECT_EQ(partial->ppsSize, 4);
  EXPECT_EQ(partial->pps, nullptr);
}

TEST(HevcRecord, FewerThanThreeArraysOrNoArrayCountMeansNoRecord) {
  Bytes two = hvcC(2, false);
  EXPECT_EQ(HVCDecoderConfigurationRecord::initHVCDecoderWithBytes(two.data(), uint32_t(two.size()), 1, 1), nullptr);
  auto s = parse(stsd({videoEntry("hvc1", 1280, 720, two)}));
  EXPECT_EQ(s->codecFormat, 1005);
  EXPECT_EQ(s->getDecoder()->asVideo()->hvcC(), nullptr);
  EXPECT_EQ(s->SPS(), nullptr);
  EXPECT_EQ(s->PPS(), nullptr);
  EXPECT_EQ(s->VPS(), nullptr);

  // Thirty bytes end just before the array count.
  Bytes three = hvcC(3);
  EXPECT_EQ(HVCDecoderConfigurationRecord::initHVCDecoderWithBytes(three.data(), 30, 1, 1), nullptr);
  EXPECT_TRUE(HVCDecoderConfigurationRecord::initHVCDecoderWithBytes(three.data(), 31, 1, 1));
}

}  // namespace
