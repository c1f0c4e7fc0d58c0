#include "MovieTreeBuilder.h"
#include "boxes/Ftyp.h"
#include "boxes/Meta.h"
#include "boxes/Udta.h"

using namespace treebuilder;

TEST(MovieTree, SoundOnlyMovieAnswersNoneForVideo) {
  // 441007 frames over 10 s of a 44100 Hz time scale: PCM rates are whole frames per second.
  auto moov = parseMoov(
      box("moov", {mvhd(600, 6000), trak(1, 44100, 441000, "soun", smhd(), soundTables("sowt", 441007, 1024))}));
  ASSERT_TRUE(moov);
  EXPECT_DOUBLE_EQ(moov->audioTrackFPS(), 44100.0);
  EXPECT_EQ(std::tuple(moov->getResolution(), moov->getVideoCodecFormat(), moov->videoTrackFPS(),
                       moov->getAVCOneNALUSizeLength()),
            std::tuple(std::string("Missing"), int64_t(0), 0.0, int32_t(0)));
  EXPECT_FALSE(moov->SPS() || moov->VPS() || moov->getTrackDecoderWith(1));
  EXPECT_TRUE(parseMoov(box("moov", {}))->tracks.empty());
  EXPECT_FALSE(Moov::initMOOVWithData(nullptr, 100));
}

// Every container is scanned byte by byte past what it does not know, except a "uuid", which is
// crossed whole: a track hidden in one is not the movie's.
TEST(MovieTree, ScansStepOverJunkIntoUnknownBoxesButNotIntoUuid) {
  const Bytes junk = raw({0xFFFFFFFF});
  const Bytes video =
      box("trak", {tkhd(1, 600), junk,
                   box("mdia", {mdhd(600, 200), junk, hdlr("mhlr", "vide"),
                                box("minf", {vmhd(), junk, hdlr("dhlr", "alis"), dinf(), videoTables(10, 20)})})});
  auto moov = parseMoov(box("moov", {mvhd(600, 1), junk, box("uuid", {Bytes(16, 0xAB), videoTrak(9, 5, 600, 20)}),
                                     video, box("wrap", {raw({1, 2}), soundTrak(7, "sowt", 48000, 480, 480)})}));
  ASSERT_TRUE(moov);
  ASSERT_EQ(moov->tracks.size(), 2u);
  EXPECT_EQ(moov->tracks[0]->sampleCount, 10u);
  EXPECT_DOUBLE_EQ(moov->videoTrackFPS(), 30.0);
  EXPECT_EQ(moov->tracks[1]->tkhd->trackID, 7u);
}

TEST(MovieTree, FirstChildOfATrackIsItsHeaderWhateverItsType) {
  Bytes renamed = videoTrak(3, 10, 600, 20);
  std::copy_n("xxxx", 4, renamed.begin() + 12);
  auto moov = parseMoov(box("moov", {mvhd(600, 1), renamed}));
  ASSERT_TRUE(moov);
  EXPECT_EQ(moov->tracks[0]->tkhd->trackID, 3u);

  // An oversized first child leaves the track without media, and a broken track the movie.
  // Exactly the track's size is oversized too: it starts 8 bytes in.
  Bytes oversized = videoTrak(3, 10, 600, 20);
  oversized[8] = 0x7F;
  EXPECT_FALSE(parseMoov(box("moov", {mvhd(600, 1), oversized})));
  Bytes exact = videoTrak(3, 10, 600, 20);
  std::copy_n(exact.begin(), 4, exact.begin() + 8);
  EXPECT_FALSE(parseMoov(box("moov", {mvhd(600, 1), exact})));
}

TEST(MovieTree, MediaTypeComesFromTheHandlerElseTheMediaHeader) {
  auto moov = parseMoov(
      box("moov", {mvhd(600, 600), trak(1, 48000, 4800, "xxxx", smhd(), soundTables("twos", 4800, 480)), tmcdTrak(2)}));
  ASSERT_TRUE(moov);
  EXPECT_EQ(moov->tracks[0]->trackType, 2);
  EXPECT_EQ(moov->getAudioCodecFormat(), 1004);
  EXPECT_EQ(moov->tracks[1]->mdia->minf->minfMediaType, -1);
  EXPECT_EQ(moov->tracks[1]->trackType, -1);

  // Without a sample table there is no media information, and so no media.
  const Bytes minf = box("minf", {vmhd(), dinf()});
  EXPECT_FALSE(Minf::initMINFWithBytes(minf.data(), static_cast<uint32_t>(minf.size())));
  const Bytes mdia = box("mdia", {mdhd(600, 10), hdlr("mhlr", "vide"), minf});
  EXPECT_FALSE(Mdia::initMDIAWithBytes(mdia.data(), static_cast<uint32_t>(mdia.size())));
}

// A table the repair cannot rebuild faithfully (a shadow sync table, a child running past its
// end) rejects the whole movie; known boxes it does not read (the sample groups of the real files)
// are accepted.
TEST(MovieTree, SampleTableMustBeMadeOfKnownChildrenThatFit) {
  const Bytes stsh = box("stsh", {raw({0, 0})});
  EXPECT_FALSE(parseMoov(box("moov", {mvhd(600, 1), videoTrak(1, 10, 600, 20, {stsh})})));

  Bytes overrun = box("stbl", {stsd(videoEntry("avc1", 16, 16, {})), stts(1, 1)});
  overrun[overrun.size() - 24 + 3] += 4;  // the last child's size 24 -> 28
  EXPECT_FALSE(Stbl::initSTBLWithBytes(overrun.data(), static_cast<uint32_t>(overrun.size())));
  const Bytes empty = box("stbl", {});
  EXPECT_TRUE(Stbl::initSTBLWithBytes(empty.data(), 8));
}

// No file at hand has them: version-1 headers, with 64-bit times, read where they are and written
// back as they were.
TEST(HeaderBoxes, Version1TimesAreReadAndWrittenIn64Bits) {
  const Bytes mv = box("mvhd", {raw({0x01000000, 0, 1, 0, 2, 90000, 0x12, 0x34567890}), Bytes(76, 0), raw({7})});
  const Bytes tk =
      box("tkhd", {raw({0x01000003, 0, 1, 0, 2, 9, 0, 0x12, 0x34567890}), Bytes(52, 0), raw({640u << 16, 480u << 16})});
  const Bytes md = box("mdhd", {raw({0x01000000, 0, 1, 0, 2, 48000, 0x12, 0x34567890, 0x55C40000})});
  expectBoxesRewriteUnchanged(box("moov", {mv, tk, md}));
  EXPECT_EQ(Mvhd::initMVHDWithBytes(mv.data(), 120)->duration, 0x1234567890u);
  EXPECT_EQ(Tkhd::initTKHDWithBytes(tk.data(), 104)->duration, 0x1234567890u);
  EXPECT_EQ(Mdhd::initMDHDWithBytes(md.data(), 44)->duration, 0x1234567890u);
}

TEST(HeaderBoxes, DamagedHeadersAndReferencesStayWithinTheirBytes) {
  // A short movie header is written whole, with a size that says so.
  const Bytes movie = mvhd(600, 1);
  auto m = Mvhd::initMVHDWithBytes(movie.data(), 40);
  EXPECT_EQ(m->timescale, 600u);
  m->setDuration(10);
  EXPECT_EQ(m->size, 108u);
  EXPECT_EQ(Bytes(m->writeableData.begin(), m->writeableData.begin() + 4), raw({108}));

  // Four billion data references announced and one present; one of size 0 cannot make the walk
  // stand still.
  const Bytes many = box("dref", {raw({0, 0xFFFFFFFF}), box("alis", {raw({1})})});
  EXPECT_EQ(Dref::initDREFWithBytes(many.data(), static_cast<uint32_t>(many.size()))->entries.size(), 1u);
  const Bytes zero = box("dref", {raw({0, 3, 0, 0, 0})});
  EXPECT_TRUE(Dref::initDREFWithBytes(zero.data(), static_cast<uint32_t>(zero.size()))->entries.empty());
}

TEST(CameraMaker, FromBrandsAndUserData) {
  const std::pair<std::string, std::string> brandCases[] = {
      {"XAVC0000XAVCmp42", "Sony"}, {"mp420001isompana", "Panasonic"}, {"qt  00CAEP00", "Canon"}, {"isom0200mp41", ""}};
  for (const auto& [brands, maker] : brandCases) {
    const Bytes b = box("ftyp", {text(brands)});
    EXPECT_EQ(Ftyp::initFtypWithBytes(b.data(), static_cast<uint32_t>(b.size()))->manufacture.value_or(""), maker);
  }

  // 0x15 and the byte after it are a language code, zeros are padding.
  const Bytes manu = box("manu", {Bytes{0, 5, 0x15, 0xC7}, text("Canon")});
  const Bytes udta = box("udta", {box("meta", {raw({0}), manu}), box("modl", {Bytes{0, 0}, text("EOS R")})});
  auto u = Udta::initUDTAWithBytes(udta.data(), static_cast<uint32_t>(udta.size()));
  EXPECT_EQ(u->manufacture,
            "\x05"
            "Canon");
  EXPECT_EQ(u->device, "EOS R");
}

TEST(CameraMaker, FromMetadataXmlWithoutExpandingEntities) {
  auto meta = [](const std::string& xml) {
    const Bytes b = box("meta", {raw({0}), box("hdlr", {raw({0, 0, 0, 0, 0, 0})}), box("xml ", {raw({0}), text(xml)})});
    return Meta::initMetaWithByte(b.data(), static_cast<uint32_t>(b.size()));
  };
  struct Case {
    std::string xml, maker, model;
  } cases[] = {
      {R"(<NonRealTimeMeta><Device manufacturer="X" modelName="Y"/></NonRealTimeMeta>)", "X", "Y"},
      {R"(<a manufacturer="First"><b manufacturer="Second" modelName="&amp;Co &#x41;"/></a>)", "Second", "&Co A"},
      // Entities are neither fetched nor expanded, so a small box cannot grow into a huge text.
      {R"(<!DOCTYPE a [<!ENTITY e SYSTEM "file:///etc/passwd">]><a manufacturer="&e;"/>)", "", ""},
      {R"(<!DOCTYPE a [<!ENTITY e "lol">]><a manufacturer="x&e;y"/>)", "xy", ""},
  };
  for (const Case& c : cases) {
    auto m = meta(c.xml);
    EXPECT_EQ(m->manufacture.value_or(""), c.maker) << c.xml;
    EXPECT_EQ(m->device.value_or(""), c.model) << c.xml;
  }
}
