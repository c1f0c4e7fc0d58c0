#include <gtest/gtest.h>

#include <algorithm>

#include "bitstream/NALU.h"
#include "repair/RepairFile.h"

namespace {
enum Field { kFrame, kTop, kBottom };
std::shared_ptr<NALU> avc(uint32_t type, uint32_t size, int32_t firstMb = -1, int32_t sliceType = -1,
                          int32_t frameNum = -1, Field field = kFrame) {
  auto n = std::make_shared<NALU>();
  n->NALType = type;
  n->NRI = type == 6 || type == 9 ? 0 : 2;
  n->nalSize = size;
  n->firstMBInSlice = firstMb;
  n->sliceType = sliceType;
  n->frameNum = frameNum;
  n->fieldPicFlag = field != kFrame;
  n->bottomFieldFlag = field == kBottom;
  return n;
}

std::shared_ptr<NALU> hevc(const char* name, uint32_t type, uint32_t size, int32_t firstInPicture = -1) {
  auto n = std::make_shared<NALU>();
  n->NALType = type;
  n->nalSize = size;
  n->setName = name;
  n->firstMBInSlice = firstInPicture;
  return n;
}

// Feeds units through the grouping as a run does; returns the counted samples.
uint32_t groupAll(const std::vector<std::shared_ptr<NALU>>& units, SampleChunk& samples, bool h265) {
  uint32_t counted = 0;
  bool picture = false;
  uint64_t offset = 1000;
  const NALU* previous = nullptr;
  for (const auto& x : units) {
    h265 ? RepairFile::groupHEVC(x, previous, picture, offset, samples, &counted)
         : RepairFile::groupAVC(x, previous, offset, samples, &counted);
    offset += x->nalSize;
    previous = x.get();
  }
  return counted;
}

using Spans = std::vector<std::pair<uint64_t, uint64_t>>;  // offset and size of every sample

Spans spans(const SampleChunk& samples) {
  Spans out;
  for (const auto& s : samples) out.emplace_back(s->sampleOffset, s->sampleSize);
  return out;
}

std::vector<bool> prefixes(const SampleChunk& samples) {
  std::vector<bool> out;
  for (const auto& s : samples) out.push_back(RepairFile::isPrefixSample(*s));
  return out;
}
}  // namespace

TEST(Grouping, SlicesAndFieldsOfOnePictureFormOneSample) {
  const struct {
    const char* name;
    std::vector<std::shared_ptr<NALU>> units;
    Spans samples;
  } rows[] = {
      // The macroblock order restarting, or another frame_num, opens the next picture.
      {"frame slices",
       {avc(1, 100, 0, 0, 3), avc(1, 110, 120, 0, 3), avc(1, 120, 240, 0, 3), avc(1, 130, 0, 0, 3),
        avc(1, 140, 120, 0, 4)},
       {{1000, 330}, {1330, 130}, {1460, 140}}},
      // An IDR top field and its bottom field of two slices each; the next frame's top field.
      {"field pair",
       {avc(5, 100, 0, 7, 0, kTop), avc(5, 50, 60, 7, 0, kTop), avc(1, 90, 0, 5, 0, kBottom),
        avc(1, 40, 60, 5, 0, kBottom), avc(1, 70, 0, 5, 1, kTop)},
       {{1000, 280}, {1280, 70}}},
      // Bottom field first, with a timing message in front of each field.
      {"units between the fields",
       {avc(6, 9), avc(1, 100, 0, 0, 2, kBottom), avc(6, 9), avc(1, 90, 0, 0, 2, kTop)},
       {{1000, 9}, {1009, 199}}},
      // Non-reference frames share a frame_num: a third field opens the next frame whatever its parity.
      {"frames of one frame_num",
       {avc(1, 10, 0, 1, 5, kTop), avc(1, 20, 0, 1, 5, kBottom), avc(1, 30, 0, 1, 5, kBottom),
        avc(1, 40, 0, 1, 5, kTop), avc(1, 50, 0, 1, 5, kTop)},
       {{1000, 30}, {1030, 70}, {1100, 50}}},
      // Frames and fields mixed: a field does not join a frame, nor a field of another frame_num.
      {"frames and fields",
       {avc(1, 10, 0, 0, 6), avc(1, 20, 0, 0, 6, kBottom), avc(1, 30, 0, 0, 7, kTop), avc(1, 40, 0, 0, 8)},
       {{1000, 10}, {1010, 20}, {1030, 30}, {1060, 40}}},
  };
  for (const auto& row : rows) {
    SampleChunk samples;
    uint32_t counted = groupAll(row.units, samples, false);
    EXPECT_EQ(spans(samples), row.samples) << row.name;
    const std::vector<bool> prefix = prefixes(samples);
    EXPECT_EQ(counted, uint32_t(std::count(prefix.begin(), prefix.end(), false))) << row.name;
    // Every picture keeps its first slice for the frame tables.
    for (const auto& s : samples) EXPECT_EQ(s->firstSlice != nullptr, !RepairFile::isPrefixSample(*s)) << row.name;
  }
}

TEST(Grouping, NonPictureUnitsAreUncountedSamplesThatFoldIntoTheNextPicture) {
  SampleChunk samples;
  uint32_t counted = groupAll(
      {avc(9, 6), avc(7, 20), avc(8, 8), avc(5, 500, 0, 7, 0), avc(6, 30), avc(1, 200, 0, 5, 1)}, samples, false);
  EXPECT_EQ(counted, 3u);  // SPS, IDR, P
  EXPECT_EQ(prefixes(samples), (std::vector<bool>{true, false, true, false, true, false}));
  EXPECT_FALSE(samples[1]->firstSlice);  // the SPS sample holds no picture
}

TEST(Grouping, HevcAccessUnitGathersParameterSetsAndSlicesOfOnePicture) {
  SampleChunk samples;
  uint32_t counted =
      groupAll({hevc("AUD", 35, 7), hevc("VPS", 32, 30), hevc("SPS", 33, 40), hevc("PPS", 34, 10), hevc("SEI", 39, 20),
                hevc("Slice", 19, 900, 1), hevc("Slice", 19, 300, 0), hevc("Slice", 19, 200, 0)},
               samples, true);
  // AUD | VPS + SPS + PPS | SEI | the three slices
  EXPECT_EQ(spans(samples), (Spans{{1000, 7}, {1007, 80}, {1087, 20}, {1107, 1400}}));
  EXPECT_EQ(counted, 2u);
  EXPECT_EQ(samples[3]->firstSlice->nalSize, 900u);
  EXPECT_EQ(prefixes(samples), (std::vector<bool>{true, false, true, false}));
  // Without the SEI between them, the first slice joins the parameter sets and still opens the
  // picture: its later slices join it too, not one sample each.
  samples.clear();
  counted = groupAll({hevc("VPS", 32, 30), hevc("SPS", 33, 40), hevc("PPS", 34, 10), hevc("Slice", 19, 900, 1),
                      hevc("Slice", 19, 300, 0), hevc("Slice", 19, 200, 0), hevc("Slice", 1, 100, 1)},
                     samples, true);
  EXPECT_EQ(spans(samples), (Spans{{1000, 1480}, {2480, 100}}));
  EXPECT_EQ(counted, 2u);
}

TEST(Grouping, SampleToChunkRunsChangeOnlyWhenTheCountChanges) {
  std::vector<SampleToChunkEntery> entries;
  for (uint32_t chunk = 1; chunk <= 6; ++chunk) RepairFile::recordSampleToChunk(entries, chunk, chunk < 4 ? 1 : 3);
  RepairFile::recordSampleToChunk(entries, 7, 1);
  std::vector<std::vector<uint32_t>> runs;
  for (const auto& e : entries) runs.push_back({e.firstChunk, e.samplesPerChunk, e.sampleDescID});
  EXPECT_EQ(runs, (std::vector<std::vector<uint32_t>>{{1, 1, 1}, {4, 3, 1}, {7, 1, 1}}));
}
