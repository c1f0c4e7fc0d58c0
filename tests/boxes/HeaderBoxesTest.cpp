#include <gtest/gtest.h>

#include <string>

#include "MovieTreeBuilder.h"
#include "boxes/Dinf.h"
#include "boxes/Edts.h"
#include "boxes/Ftyp.h"
#include "boxes/Hdlr.h"
#include "boxes/Mdhd.h"
#include "boxes/Meta.h"
#include "boxes/Mvhd.h"
#include "boxes/Smhd.h"
#include "boxes/Tkhd.h"
#include "boxes/Udta.h"
#include "boxes/Vmhd.h"

using namespace treebuilder;

namespace {

Bytes hex(std::initializer_list<int> values) {
  Bytes b;
  for (int v : values) b.push_back(static_cast<uint8_t>(v));
  return b;
}
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const auto& p : parts) append(b, p);
  return b;
}
uint32_t code(const char* c) { return be32(reinterpret_cast<const uint8_t*>(c)); }

}  // namespace

TEST(CreatedHeaderBoxes, AreByteExact) {
  auto mdhd = Mdhd::initMDHDWithDuration(90000, 30000, 0x55C4, 0);
  EXPECT_EQ(mdhd->writeableData, cat({hex({0, 0, 0, 0x20}), text("mdhd"), Bytes(12, 0), hex({0, 0, 0x75, 0x30}),
                                      hex({0, 1, 0x5F, 0x90, 0x55, 0xC4, 0, 0})}));

  auto mediaHandler = Hdlr::initHDLRWithComponentType(code("mhlr"), code("vide"), 0, "");
  EXPECT_EQ(mediaHandler->writeableData,
            cat({hex({0, 0, 0, 0x22}), text("hdlr"), Bytes(4, 0), text("mhlrvide"), Bytes(12, 0), hex({0, 0})}));
  auto dataHandler = Hdlr::initHDLRWithComponentType(0, code("dhlr"), 0, "");
  EXPECT_EQ(dataHandler->writeableData,
            cat({hex({0, 0, 0, 0x22}), text("hdlr"), Bytes(8, 0), text("dhlr"), Bytes(14, 0)}));

  auto dinf = Dinf::initDINFWithDrefEnteryType(code("alis"));
  EXPECT_EQ(dinf->writeableData, cat({hex({0, 0, 0, 0x24}), text("dinf"), hex({0, 0, 0, 0x1C}), text("dref"),
                                      hex({0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0x0C}), text("alis"), hex({0, 0, 0, 1})}));
  EXPECT_EQ(dinf->size, 36u);

  auto edts = Edts::initWDTSWithDuration(12000, 1001);
  EXPECT_EQ(edts->writeableData, cat({hex({0, 0, 0, 0x24}), text("edts"), hex({0, 0, 0, 0x1C}), text("elst"),
                                      hex({0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0x2E, 0xE0, 0, 0, 0x03, 0xE9, 0, 1, 0, 0})}));
  EXPECT_EQ(edts->elst->editListTable[0]->mediaRate, 0x00010000u);

  EXPECT_EQ(Vmhd::init()->writeableData, cat({hex({0, 0, 0, 20}), text("vmhd"), hex({0, 0, 0, 1}), Bytes(8, 0)}));
  EXPECT_EQ(Smhd::init()->writeableData, cat({hex({0, 0, 0, 16}), text("smhd"), Bytes(8, 0)}));
}

TEST(CreatedHeaderBoxes, NamedHandlerSizeCoversItsName) {
  auto named = Hdlr::initHDLRWithComponentType(code("mhlr"), code("soun"), 5, "Sound");
  ASSERT_EQ(named->writeableData.size(), 38u);
  EXPECT_EQ(named->size, 38u);
  EXPECT_EQ(be32(named->writeableData.data()), 38u);
  EXPECT_EQ(named->writeableData[32], 5);
  auto reread = Hdlr::initHDLRWithBytes(named->writeableData.data(), 38);
  EXPECT_EQ(reread->handlerName, "Sound");
}

TEST(MovieAndTrackHeaders, DurationRegeneratesTheSerialisedBytes) {
  Bytes bytes = tkhd(1, 500);
  auto header = Tkhd::initTKHDWithBytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
  EXPECT_TRUE(header->writeableData.empty());
  header->setDuration(12000);
  ASSERT_EQ(header->writeableData.size(), 92u);
  EXPECT_EQ(hex({0, 0, 0x2E, 0xE0}), Bytes(header->writeableData.begin() + 28, header->writeableData.begin() + 32));
  // Everything else is written back as read.
  Bytes expected = bytes;
  expected[28] = 0, expected[29] = 0, expected[30] = 0x2E, expected[31] = 0xE0;
  EXPECT_EQ(header->writeableData, expected);

  Bytes movie = mvhd(600, 1);
  auto mh = Mvhd::initMVHDWithBytes(movie.data(), static_cast<uint32_t>(movie.size()));
  EXPECT_EQ(mh->timescale, 600u);
  EXPECT_EQ(mh->nextTrackID, 3u);
  mh->setDuration(12000);
  Bytes expectedMovie = movie;
  expectedMovie[27] = 0xE0, expectedMovie[26] = 0x2E;
  EXPECT_EQ(mh->writeableData, expectedMovie);
}

TEST(MovieAndTrackHeaders, Version1IsReadAndWrittenInItsOwnLayout) {
  // mvhd v1: 64-bit creation, modification and duration.
  Bytes p = raw({0x01000000});
  put64(p, 0x1122334455ull);
  put64(p, 0x66778899AAull);
  put32(p, 90000);
  put64(p, 0x1234567890ull);
  append(p, raw({0x00010000}));
  put16(p, 0x0100);
  put16(p, 0);
  put64(p, 0);
  append(p, raw({0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000, 0, 0, 0, 0, 0, 0, 7}));
  Bytes movie = box("mvhd", {p});
  ASSERT_EQ(movie.size(), 120u);
  auto mh = Mvhd::initMVHDWithBytes(movie.data(), 120);
  EXPECT_EQ(mh->timescale, 90000u);
  EXPECT_EQ(mh->duration, 0x1234567890ull);
  EXPECT_EQ(mh->nextTrackID, 7u);
  mh->setDuration(5000);
  ASSERT_EQ(mh->writeableData.size(), 120u);
  EXPECT_EQ(mh->size, 120u);
  auto again = Mvhd::initMVHDWithBytes(mh->writeableData.data(), 120);
  EXPECT_EQ(again->duration, 5000u);
  EXPECT_EQ(again->creationTime, 0x1122334455ull);
  EXPECT_EQ(again->nextTrackID, 7u);

  Bytes t = raw({0x01000003});
  put64(t, 1);
  put64(t, 2);
  append(t, raw({9, 0}));
  put64(t, 0x100000000ull);
  put64(t, 0);
  append(t, raw({0, 0, 0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000, 640u << 16, 480u << 16}));
  Bytes track = box("tkhd", {t});
  ASSERT_EQ(track.size(), 104u);
  auto th = Tkhd::initTKHDWithBytes(track.data(), 104);
  EXPECT_EQ(th->trackID, 9u);
  EXPECT_EQ(th->duration, 0x100000000ull);
  EXPECT_EQ(th->trackWidth, 640u << 16);
  th->setDuration(77);
  EXPECT_EQ(th->writeableData.size(), 104u);
  EXPECT_EQ(Tkhd::initTKHDWithBytes(th->writeableData.data(), 104)->trackHeight, 480u << 16);

  Bytes m = raw({0x01000000});
  put64(m, 1);
  put64(m, 2);
  put32(m, 48000);
  put64(m, 96000);
  put16(m, 0x55C4);
  put16(m, 0);
  Bytes media = box("mdhd", {m});
  auto md = Mdhd::initMDHDWithBytes(media.data(), static_cast<uint32_t>(media.size()));
  EXPECT_EQ(md->timescale, 48000u);
  EXPECT_EQ(md->duration, 96000u);
  EXPECT_EQ(md->language, 0x55C4);
}

TEST(MovieAndTrackHeaders, TruncatedHeaderIsWrittenWholeWithAgreeingSize) {
  Bytes movie = mvhd(600, 1);
  auto mh = Mvhd::initMVHDWithBytes(movie.data(), 40);  // a short box
  EXPECT_EQ(mh->timescale, 600u);
  EXPECT_EQ(mh->nextTrackID, 0u);
  mh->setDuration(10);
  EXPECT_EQ(mh->size, 108u);
  EXPECT_EQ(be32(mh->writeableData.data()), 108u);
}

TEST(HandlerParsing, CountedNameAndSingleNameByte) {
  Bytes named = cat({raw({0}), text("mhlrvide"), raw({0, 0, 0}), hex({4}), text("Core")});
  auto h = Hdlr::initHDLRWithBytes(box("hdlr", {named}).data(), 37);
  EXPECT_EQ(h->componentSubtype, code("vide"));
  EXPECT_EQ(h->handlerName, "Core");

  // A name count running past the box is not read.
  Bytes overlong = cat({raw({0}), text("mhlrsoun"), raw({0, 0, 0}), hex({200}), text("ab")});
  auto o = Hdlr::initHDLRWithBytes(box("hdlr", {overlong}).data(), 35);
  EXPECT_EQ(o->nameStringSize, 200);
  EXPECT_TRUE(o->handlerName.empty());

  Bytes cstring = cat({raw({0}), text("mhlrsoun"), raw({0, 0, 0}), hex({0, 0x41})});
  EXPECT_EQ(Hdlr::initHDLRWithBytes(box("hdlr", {cstring}).data(), 34)->name_CString, 0x41);
}

TEST(DataAndEditBoxes, ParsingStaysInsideTheBox) {
  // A data reference claiming four billion entries of which one is present.
  Bytes dref = box("dref", {raw({0, 0xFFFFFFFF}), box("alis", {raw({1})})});
  auto dinf = Dinf::initDINFWithBytes(box("dinf", {dref}).data(), static_cast<uint32_t>(dref.size() + 8));
  ASSERT_TRUE(dinf->dref);
  EXPECT_EQ(dinf->dref->numberOfEntries, 0xFFFFFFFFu);
  ASSERT_EQ(dinf->dref->entries.size(), 1u);
  EXPECT_EQ(dinf->dref->entries[0]->version_Flags, 1u);

  // An entry of size 0 cannot make the walk stand still.
  Bytes zero = box("dref", {raw({0, 3, 0, 0, 0})});
  EXPECT_TRUE(Dref::initDREFWithBytes(zero.data(), static_cast<uint32_t>(zero.size()))->entries.empty());

  // Edit list with two entries announced, one and a half present; rates keep their integer part.
  Bytes elst = box("elst", {raw({0, 2, 1000, 2002, 0x00018000, 5, 6})});
  Bytes edts = box("edts", {elst});
  auto e = Edts::initEDTSWithBytes(edts.data(), static_cast<uint32_t>(edts.size()));
  ASSERT_TRUE(e->elst);
  EXPECT_EQ(e->elst->numberOfEntries, 2u);
  ASSERT_EQ(e->elst->editListTable.size(), 1u);
  EXPECT_EQ(e->elst->editListTable[0]->mediaTime, 2002u);
  EXPECT_EQ(e->elst->editListTable[0]->mediaRate, 1u);

  // A first child larger than its holder is not taken.
  Bytes bad = cat({hex({0, 0, 0, 16}), text("edts"), hex({0, 0, 0, 0x40}), text("elst")});
  EXPECT_FALSE(Edts::initEDTSWithBytes(bad.data(), 16)->elst);
}

TEST(CameraMaker, FromFileTypeBrands) {
  auto maker = [](const Bytes& payload) {
    Bytes b = box("ftyp", {payload});
    auto f = Ftyp::initFtypWithBytes(b.data(), static_cast<uint32_t>(b.size()));
    return f->manufacture.value_or("<none>");
  };
  EXPECT_EQ(maker(cat({text("XAVC"), raw({0}), text("XAVCmp42")})), "Sony");
  EXPECT_EQ(maker(cat({text("mp42"), raw({1}), text("isompana")})), "Panasonic");
  EXPECT_EQ(maker(cat({text("qt  "), hex({0, 0}), text("CAEP"), hex({0, 0})})), "Canon");
  EXPECT_EQ(maker(cat({text("isom"), raw({0x200}), text("mp41")})), "<none>");
  // A declared size beyond the bytes given is not followed.
  Bytes lying = cat({hex({0, 0, 1, 0}), text("ftypisom")});
  EXPECT_FALSE(Ftyp::initFtypWithBytes(lying.data(), static_cast<uint32_t>(lying.size()))->manufacture);
  EXPECT_EQ(Ftyp::initFtypWithBytes(lying.data(), 4)->size, 0u);
}

TEST(CameraMaker, FromUserDataTexts) {
  Bytes manu = box("manu", {hex({0, 5, 0x15, 0xC7}), text("Canon")});
  Bytes modl = box("modl", {hex({0, 0}), text("EOS R")});
  Bytes udta = box("udta", {box("meta", {raw({0}), manu}), modl});
  auto u = Udta::initUDTAWithBytes(udta.data(), static_cast<uint32_t>(udta.size()));
  EXPECT_EQ(u->manufacture, std::string("\x05") + "Canon");
  EXPECT_EQ(u->device, "EOS R");

  // Children shorter than their header, or past the box, are not read.
  Bytes broken = box("udta", {hex({0, 0, 0, 4}), text("manu"), hex({0, 0, 0, 0x7F}), text("modl")});
  auto b = Udta::initUDTAWithBytes(broken.data(), static_cast<uint32_t>(broken.size()));
  EXPECT_FALSE(b->manufacture);
  EXPECT_FALSE(b->device);
  EXPECT_EQ(Udta::getTheDetailsFromBlock(nullptr, 3), "");
}

TEST(CameraMaker, FromMetadataXml) {
  auto meta = [](const std::string& xml) {
    Bytes b = box("meta", {raw({0}), box("hdlr", {raw({0, 0, 0, 0, 0, 0})}), box("xml ", {raw({0}), text(xml)})});
    return Meta::initMetaWithByte(b.data(), static_cast<uint32_t>(b.size()));
  };
  auto m = meta(R"(<?xml version="1.0"?><NonRealTimeMeta><Device manufacturer="X" modelName="Y"/></NonRealTimeMeta>)");
  EXPECT_EQ(m->manufacture, "X");
  EXPECT_EQ(m->device, "Y");

  auto later = meta(R"(<a manufacturer="First"><b manufacturer="Second" modelName="M"/></a>)");
  EXPECT_EQ(later->manufacture, "Second");

  auto broken = meta(R"(<a manufacturer="X"><b></a>)");
  EXPECT_FALSE(broken->manufacture);
  EXPECT_FALSE(broken->device);

  // External entities are neither fetched nor expanded.
  auto entity = meta(R"(<!DOCTYPE a [<!ENTITY e SYSTEM "file:///etc/passwd">]><a manufacturer="&e;"/>)");
  EXPECT_EQ(entity->manufacture.value_or(""), "");

  // Nested internal entities are not expanded into the value.
  std::string laughs = "<!DOCTYPE a [<!ENTITY l0 \"lol\">";
  for (int i = 1; i < 10; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) laughs += "&l" + std::to_string(i - 1) + ";";
    laughs += "\">";
  }
  auto bomb = meta(laughs + "]><a manufacturer=\"x&l9;y\"/>");
  EXPECT_LT(bomb->manufacture.value_or("").size(), 100u);
  EXPECT_EQ(meta(R"(<a modelName="&amp;Co &#x41;"/>)")->device, "&Co A");
}
