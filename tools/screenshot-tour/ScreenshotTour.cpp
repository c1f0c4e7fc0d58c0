// Walks the application through every screen and dialog with the bundled sample movies and
// writes one PNG per screen: app_screenshot_tour OUTDIR [SAMPLES_DIR]
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QVideoFrame>
#include <QVideoSink>
#include <QVideoWidget>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>

#include "AppTestSupport.h"
#include "app/gui/QtDesktopServices.h"
#include "app/gui/QtPlatformServices.h"
#include "app/gui/Quenda_Video_Repair_AppDelegate.h"
#include "app/gui/SaveWorkflow.h"
#include "app/gui/coreWindow.h"
#include "report/ErrorReportText.h"

namespace {

// The real desktop, except that the file panels answer from a list.
class TourPlatform : public qvr::QtPlatformServices {
 public:
  std::deque<std::string> answers;
  std::optional<std::string> runOpenPanel(const qvr::OpenPanelOptions&) override {
    if (answers.empty()) return std::nullopt;
    std::string answer = answers.front();
    answers.pop_front();
    return answer;
  }
  int runningInstanceCount(const std::string&) override { return 1; }
  std::optional<std::string> fullPathForApplication(const std::string&) override { return std::nullopt; }
  bool openURL(const std::string&) override { return true; }
};

// The real desktop, except that the save panel answers with a scratch folder and nothing is
// started or revealed outside the tour.
class TourDesktop : public qvr::QtDesktopServices {
 public:
  std::string saveAnswer;
  std::optional<std::string> runSavePanel(const qvr::SavePanelOptions&) override { return saveAnswer; }
  std::optional<std::string> runApplicationPanel(const std::string&) override { return std::nullopt; }
  bool revealFile(const std::string&) override { return true; }
  bool startDetached(const std::string&, const std::vector<std::string>&) override { return true; }
};

enum class Mode { Real, Endless, Failing };

QPixmap composite(QWidget* window) {
  QPixmap shot = window->grab();
  QPainter painter(&shot);
  const auto dialogs = window->findChildren<QDialog*>();
  for (QDialog* dialog : dialogs) {
    if (!dialog->isVisible()) continue;
    painter.fillRect(shot.rect(), QColor(20, 28, 40, 70));
    const QPoint at = dialog->pos() - window->pos();
    painter.drawPixmap(at, dialog->grab());
  }
  // Popped-up menus are windows of their own, over everything else.
  for (QMenu* menu : window->findChildren<QMenu*>()) {
    if (menu->isVisible()) painter.drawPixmap(menu->pos() - window->pos(), menu->grab());
  }
  return shot;
}

int failures = 0;

void save(QWidget* window, const QString& dir, const QString& name) {
  apptest::spin(150);
  const QString path = dir + "/" + name + ".png";
  if (!composite(window).save(path)) {
    std::fprintf(stderr, "could not write %s\n", qPrintable(path));
    ++failures;
  } else {
    std::printf("%s\n", qPrintable(path));
  }
}

void expect(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "tour step failed: %s\n", what);
    ++failures;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: app_screenshot_tour OUTDIR [SAMPLES_DIR]\n");
    return 2;
  }
  QApplication app(argc, argv);
  const QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out);
  const std::string samples = argc > 2 ? argv[2] : std::string(QVR_SOURCE_DIR_FOR_TOUR) + "/data/samples";
  const std::string damagedMp4 = samples + "/damaged.mp4";
  const std::string referenceMp4 = samples + "/reference.mp4";
  const std::string damagedAvi = samples + "/damaged.avi";
  const std::string notAMovie = QDir::tempPath().toStdString() + "/holiday-clip.avi";
  {
    std::ofstream junk(notAMovie, std::ios::binary | std::ios::trunc);
    for (int i = 0; i < 4096; ++i) junk << "plain text notes from a trip, no pictures here. ";
  }

  Mode mode = Mode::Real;
  auto state = std::make_shared<apptest::ScriptedJobState>();
  qvr::EngineFactory real = qvr::EngineFactory::realEngines();
  qvr::EngineFactory engines;
  engines.makeMovEngine = [&]() -> std::unique_ptr<qvr::MovEngine> {
    if (mode == Mode::Real) return real.makeMovEngine();
    return std::make_unique<apptest::ScriptedEngine>(
        state, mode == Mode::Endless ? apptest::endlessJob() : apptest::failingJob(102));
  };
  engines.makeAviEngine = [&]() -> std::unique_ptr<qvr::AviEngine> {
    if (mode == Mode::Real) return real.makeAviEngine();
    return std::make_unique<apptest::ScriptedEngine>(
        state, mode == Mode::Endless ? apptest::endlessJob() : apptest::failingJob(107));
  };

  TourPlatform platform;
  Quenda_Video_Repair_AppDelegate controller(platform, engines);
  QWidget* window = controller.window();
  platform.setDialogParent(window);
  TourDesktop desktop;
  desktop.setDialogParent(window);
  desktop.saveAnswer = QDir::tempPath().toStdString() + "/Repaired by the tour";
  controller.setDesktopServices(&desktop);
  controller.applicationWillFinishLaunching();
  controller.applicationDidFinishLaunching();
  const Interface& ui = controller.ui();
  auto onPage = [&](const char* id) { return ui.tabview->currentWidget() == ui.page(id); };

  save(window, out, "01-start");

  platform.answers = {damagedMp4};
  controller.openFinderWindow(nullptr);
  save(window, out, "02-file-chosen");

  controller.repair(nullptr);
  expect(apptest::waitUntil([&] { return ui.selectRefFileBtn->isVisible(); }), "reference request");
  save(window, out, "03-reference-request");

  platform.answers = {referenceMp4};
  controller.openReferenceFile(nullptr);
  save(window, out, "04-reference-chosen");

  controller.repair(nullptr);
  expect(apptest::waitUntil([&] { return onPage(qvr::tabs::kDetails) || ui.couldntRepair->isVisible(); }),
         "repair of the sample");
  save(window, out, "05-details");

  // Without VLC a repaired MP4 plays in the built-in preview window.
  controller.preview(nullptr);
  if (qvr::PreviewWindow* preview = desktop.previewWindow()) {
    apptest::waitUntil([&] { return preview->playing() || !preview->problem().isEmpty(); }, 10000);
    apptest::spin(1500);
    // The picture is drawn by the video backend, outside what a widget grab sees.
    QPixmap shot = preview->grab();
    if (auto* video = preview->findChild<QVideoWidget*>("previewVideo")) {
      const QImage frame = video->videoSink()->videoFrame().toImage();
      if (!frame.isNull()) {
        QPainter painter(&shot);
        const QRect area(video->mapTo(preview, QPoint(0, 0)), video->size());
        const QSize fitted = frame.size().scaled(area.size(), Qt::KeepAspectRatio);
        painter.drawImage(QRect(area.center() - QPoint(fitted.width() / 2, fitted.height() / 2), fitted), frame);
      }
    }
    const QString path = out + "/05a-preview-window.png";
    expect(shot.save(path), "preview window picture");
    std::printf("%s\n", qPrintable(path));
    preview->close();
  } else {
    expect(false, "preview window");
  }

  // A larger copy, held paused, so that the saving screen can be photographed mid-way.
  std::filesystem::resize_file(controller.repairedFilePath(), 64u << 20);
  controller.save(nullptr);
  if (qvr::SaveOperation* copy = controller.saving().savingQueue()) copy->setPaused(true);
  save(window, out, "05b-saving");
  controller.stopSaving(nullptr);
  save(window, out, "05c-stop-saving-question");
  controller.continueSaving(nullptr);
  if (qvr::SaveOperation* copy = controller.saving().savingQueue()) copy->setPaused(false);
  expect(apptest::waitUntil([&] { return ui.savingCompletedwindow->isVisible(); }), "saving completed");
  save(window, out, "05d-saving-completed");
  controller.saveCompletedOk(nullptr);
  std::filesystem::remove_all(desktop.saveAnswer);

  controller.mainScreen(nullptr);
  mode = Mode::Endless;
  platform.answers = {damagedMp4};
  controller.openFinderWindow(nullptr);
  controller.repair(nullptr);
  apptest::spin(2600);
  save(window, out, "06-repairing");
  controller.pauseRepairing(ui.repPauseBtn);
  apptest::spin(1200);
  save(window, out, "07-repairing-paused");
  controller.pauseRepairing(ui.repPauseBtn);
  controller.stopProgress(nullptr);
  save(window, out, "08-stop-question");
  controller.stopRepairOk(nullptr);
  save(window, out, "09-repair-aborted");
  controller.repairAbortedOk(nullptr);

  mode = Mode::Real;
  platform.answers = {damagedAvi};
  controller.openFinderWindow(nullptr);
  save(window, out, "10-avi-chosen");

  mode = Mode::Failing;
  controller.repair(nullptr);
  expect(apptest::waitUntil([&] { return ui.couldntRepair->isVisible(); }), "could-not-repair dialog");
  save(window, out, "11-could-not-repair");
  // The error report from there: its form, then the message an empty form gets.
  ui.shareBtn->click();
  save(window, out, "11a-error-report-form");
  auto button = [&](const char* name) { return window->findChild<QAbstractButton*>(name); };
  button("submitErrorReportBtn")->click();
  expect(apptest::waitUntil([&] { return controller.errorReport()->errorUploadWindow()->isVisible(); }, 5000),
         "error report message");
  save(window, out, "11b-error-report-message");
  button("errorUploadCloseBtn")->click();
  // The file chosen again through Add File: the list's own message.
  platform.answers = {damagedAvi};
  button("addFilesToUpload")->click();
  save(window, out, "11c-error-report-already-listed");
  button("errorUploadCloseBtn")->click();
  // The upload window's pages as the report's flow turns them, through the same calls; no
  // storage or mail service takes part in the tour.
  controller.errorReport()->report().runAlertWithMessage(qvr::report::kCheckInternet, qvr::report::kInformationImage,
                                                         false);
  save(window, out, "11d-error-report-no-connection");
  controller.changeErrorTabViewWithIdentifier("2", "Cancel", true);
  controller.changeUploadFileName("Uploading (1/2): damaged.avi");
  controller.updatePercentageForErrorUpload(42);
  save(window, out, "11e-error-report-uploading");
  platform.alertShown = [&](coreWindow&) {
    save(window, out, "11f-error-report-abort-question");
    return 0;
  };
  button("errorUploadCloseBtn")->click();
  platform.alertShown = nullptr;
  expect(controller.AbortError(), "abort confirmed");
  save(window, out, "11g-error-report-aborting");
  controller.changeErrorTabViewWithIdentifier("3", "Close", true);
  save(window, out, "11h-error-report-aborted");
  controller.failedUploadWithHeader("1 File uploaded sucessfully.");
  controller.failedUploadWithHeaderState(false);
  controller.changeErrorTabViewWithIdentifier("1", "Close", true);
  save(window, out, "11i-error-report-some-uploaded");
  controller.failedUploadWithHeaderState(true);
  save(window, out, "11j-error-report-none-uploaded");
  controller.changeErrorTabViewWithIdentifier("4", "Close", true);
  save(window, out, "11k-error-report-sent");
  button("errorUploadCloseBtn")->click();
  button("closeErrorReportBtn")->click();

  mode = Mode::Real;
  platform.answers = {notAMovie};
  controller.openFinderWindow(nullptr);
  bool alertSeen = false;
  platform.alertShown = [&](coreWindow&) {
    alertSeen = true;
    save(window, out, "12-invalid-avi-alert");
    return 0;
  };
  controller.repair(nullptr);
  expect(alertSeen, "invalid AVI alert");
  platform.alertShown = nullptr;
  controller.mainScreen(nullptr);

  platform.answers = {damagedAvi};
  controller.openFinderWindow(nullptr);
  controller.repair(nullptr);
  expect(apptest::waitUntil([&] { return onPage(qvr::tabs::kDetails) || ui.couldntRepair->isVisible(); }),
         "repair of the AVI sample");
  save(window, out, "13-avi-details");
  platform.alertShown = [&](coreWindow&) {
    save(window, out, "13a-avi-preview-without-vlc");
    return 0;
  };
  controller.preview(nullptr);
  platform.alertShown = nullptr;
  window->resize(window->minimumSize());
  save(window, out, "14-details-smallest-window");
  controller.mainScreen(nullptr);
  window->resize(900, 600);

  // The menu behind the title bar's button, then its About and Help items.
  ui.menuBtn->click();
  expect(apptest::waitUntil([&] { return ui.appMenu->isVisible(); }, 5000), "menu popped up");
  ui.appMenu->setActiveAction(ui.checkForUpdatesItem);
  save(window, out, "15-menu");
  ui.appMenu->hide();
  platform.alertShown = [&](coreWindow&) {
    save(window, out, "16-about");
    return 0;
  };
  ui.aboutItem->trigger();
  platform.alertShown = nullptr;
  ui.helpItem->trigger();
  if (auto* help = window->findChild<QWidget*>("documentWindow"); help && help->isVisible()) {
    apptest::spin(150);
    const QString path = out + "/17-help-window.png";
    expect(help->grab().save(path), "help window picture");
    std::printf("%s\n", qPrintable(path));
    help->close();
  } else {
    expect(false, "help window (is a help link configured?)");
  }

  std::remove(notAMovie.c_str());
  return failures == 0 ? 0 : 1;
}
