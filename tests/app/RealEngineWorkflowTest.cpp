// The workflow over the engines of this build and small standard fixtures.
#include "WorkflowFixture.h"
#include "app/gui/Formatting.h"
#include "app/gui/Interface.h"
#include "foundation/FileSystem.h"

namespace apptest {
namespace {

class RealEngines : public WorkflowTest {
 protected:
  std::string fixture(const std::string& relative) {
    const std::string path = testsupport::fixturesDir() + "/" + relative;
    if (!qvr::fs::isReadableFile(path)) ADD_FAILURE() << "missing fixture " << path;
    return path;
  }
  bool engineAvailable(bool mov) {
    auto factory = qvr::EngineFactory::realEngines();
    return mov ? factory.makeMovEngine() != nullptr : factory.makeAviEngine() != nullptr;
  }
  bool finished() const { return onPage(qvr::tabs::kDetails) || visible("couldntRepair"); }
};

TEST_F(RealEngines, DamagedMp4IsFirstItsOwnReferenceThenRepairedWithAChosenOne) {
  if (!engineAvailable(true)) GTEST_SKIP() << "no MOV engine in this build";
  ASSERT_TRUE(launch(qvr::EngineFactory::realEngines()));
  const std::string damaged = fixture("h264_aac_mp4/damaged.mp4");
  chooseDamaged(damaged);
  click("refTabRepairBtn");
  // Cut off before its movie box, the file cannot describe itself.
  ASSERT_TRUE(waitUntil([&] { return visible("selectRefFileBtn") || visible("couldntRepair"); }));
  ASSERT_TRUE(visible("selectRefFileBtn"));
  EXPECT_EQ(text("upperBoxField"), "Select a healthy reference file to repair");

  chooseReference(fixture("h264_aac_mp4/reference.mp4"));
  click("refTabRepairBtn");
  ASSERT_TRUE(waitUntil([&] { return finished(); }, 300000));
  ASSERT_TRUE(onPage(qvr::tabs::kDetails)) << "the repair failed";
  const std::string repaired = work.path() + "/.testfile.mov";
  EXPECT_EQ(text("fileNamefield"), "damaged.mp4");
  EXPECT_EQ(text("sizeField").toStdString(), qvr::formattedStringForSize(qvr::fs::fileSize(repaired).value_or(0)));
  EXPECT_EQ(text("videoCodecField"), "AVC1");
  EXPECT_EQ(text("fpsField"), "25.00");
  EXPECT_EQ(text("tracksField"), "2");
  EXPECT_FALSE(text("durationField").isEmpty());

  click("homeBtn");
  EXPECT_FALSE(qvr::fs::fileExists(repaired));
}

TEST_F(RealEngines, IntactMovieBoxServesAsItsOwnReference) {
  if (!engineAvailable(true)) GTEST_SKIP() << "no MOV engine in this build";
  ASSERT_TRUE(launch(qvr::EngineFactory::realEngines()));
  chooseDamaged(fixture("self_reference/damaged.mp4"));
  click("refTabRepairBtn");
  ASSERT_TRUE(waitUntil([&] { return finished() || visible("selectRefFileBtn"); }, 300000));
  ASSERT_TRUE(onPage(qvr::tabs::kDetails));
  EXPECT_EQ(text("videoCodecField"), "AVC1");
  EXPECT_GT(qvr::fs::fileSize(work.path() + "/.testfile.mov").value_or(0), 1000000u);
}

TEST_F(RealEngines, FileWithoutAviTokensIsRefusedBeforeAnyJob) {
  if (!engineAvailable(false)) GTEST_SKIP() << "no AVI engine in this build";
  ASSERT_TRUE(launch(qvr::EngineFactory::realEngines()));
  chooseDamaged(movieIn("holiday.avi", 64 * 1024));
  click("repairbutton");
  ASSERT_EQ(platform.alerts.size(), 1u);
  EXPECT_EQ(platform.alerts[0].title, "Invalid corrupted file");
  EXPECT_EQ(platform.alerts[0].message, "Select a movie file");
  EXPECT_TRUE(onPage(qvr::tabs::kMain));
  EXPECT_FALSE(controller->jobThreadAlive());
}

TEST_F(RealEngines, DamagedAviIsRepairedWithoutAReference) {
  if (!engineAvailable(false)) GTEST_SKIP() << "no AVI engine in this build";
  ASSERT_TRUE(launch(qvr::EngineFactory::realEngines()));
  chooseDamaged(fixture("avi_mpeg4_pcm/damaged.avi"));
  click("repairbutton");
  EXPECT_EQ(text("upperBoxField"), "Repairing Video File");
  EXPECT_FALSE(visible("repHealthyFilePath"));
  ASSERT_TRUE(waitUntil([&] { return finished(); }, 300000));
  ASSERT_TRUE(onPage(qvr::tabs::kDetails));
  EXPECT_EQ(text("tracksField"), "2");
  EXPECT_EQ(text("videoCodecField"), "XVID");
  EXPECT_GT(qvr::fs::fileSize(work.path() + "/.testfile.avi").value_or(0), 1000000u);
}

}  // namespace
}  // namespace apptest
