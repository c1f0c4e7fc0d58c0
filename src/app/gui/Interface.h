#pragma once

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QStackedWidget>
#include <functional>
#include <string>

#include "app/gui/ActivityIndicator.h"
#include "app/gui/ErrorPageBtn.h"
#include "app/gui/HoverButton.h"
#include "app/gui/coreWindow.h"

// The frameless main window. It asks its owner whether it may close and which dropped files it
// takes; moving happens by dragging the header, resizing through the corner grip.
class MainWindow : public QWidget {
  Q_OBJECT

 public:
  explicit MainWindow(QWidget* parent = nullptr);

  std::function<bool()> shouldClose;
  std::function<void()> willClose;
  std::function<bool(const std::string&)> canTakeDroppedFile;
  std::function<void(const std::string&)> fileDropped;
  // Shows whether a drag over the window would be taken.
  std::function<void(bool)> dropHighlight;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void dragLeaveEvent(QDragLeaveEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  std::string droppedPath(const QMimeData* mime) const;
};

// Identifiers of the screens; the details and saving screens are reached as the pages after
// "repairingTab" and after the details screen.
namespace qvr::tabs {
inline constexpr const char* kMain = "mainTab";
inline constexpr const char* kReference = "referenceFileTab";
inline constexpr const char* kRepairing = "repairingTab";
inline constexpr const char* kDetails = "detailsTab";
inline constexpr const char* kSaving = "savingTab";
}  // namespace qvr::tabs

// Every window and widget the controller touches, each carrying its outlet name as objectName.
struct Interface {
  MainWindow* window = nullptr;
  QLabel* upperBoxField = nullptr;
  HoverButton* homeBtn = nullptr;
  HoverButton* helppBtn = nullptr;
  // The application menu behind the title bar's menu button (and F10), as a frameless window
  // has no menu bar of its own.
  HoverButton* menuBtn = nullptr;
  QMenu* appMenu = nullptr;
  QAction* checkForUpdatesItem = nullptr;
  QAction* reportProblemItem = nullptr;
  QAction* helpItem = nullptr;
  QAction* aboutItem = nullptr;
  HoverButton* closeBtn = nullptr;
  HoverButton* minimizeBtn = nullptr;
  QStackedWidget* tabview = nullptr;

  // "mainTab"
  QWidget* dropZone = nullptr;
  QLabel* selectFileText = nullptr;
  HoverButton* browsebutton = nullptr;
  QLabel* fileStatus = nullptr;
  QLabel* filePathUp = nullptr;
  HoverButton* backBtn = nullptr;
  HoverButton* repairbutton = nullptr;

  // "referenceFileTab"
  QLabel* refTabFileStatus = nullptr;
  QLabel* refTabCorruptPath = nullptr;
  QLabel* refTabRefFilePath = nullptr;
  HoverButton* selectRefFileBtn = nullptr;
  QLabel* nextstepTextField = nullptr;
  QLabel* whyMovFile = nullptr;
  HoverButton* refTabBackBtn = nullptr;
  HoverButton* refTabRepairBtn = nullptr;

  // "repairingTab"
  QLabel* repFileStatus = nullptr;
  QLabel* repCorruptFilePath = nullptr;
  QLabel* repHealthyFilePath = nullptr;
  QLabel* repairingStartTimeField = nullptr;
  QLabel* elapsedTime = nullptr;
  QLabel* currentstatus = nullptr;
  QLabel* percent = nullptr;
  QProgressBar* progressbar = nullptr;
  ActivityIndicator* animView = nullptr;
  HoverButton* repCancelBtn = nullptr;
  HoverButton* repPauseBtn = nullptr;

  // details screen
  QLabel* fileNamefield = nullptr;
  QLabel* sizeField = nullptr;
  QLabel* tracksField = nullptr;
  QLabel* videoCodecField = nullptr;
  QLabel* fpsField = nullptr;
  QLabel* durationField = nullptr;
  HoverButton* prewTabHomeBtn = nullptr;
  HoverButton* prewBtn = nullptr;
  HoverButton* prewSaveBtn = nullptr;
  HoverButton* installVLC = nullptr;
  QLabel* noteTxt = nullptr;

  // saving screen
  QLabel* destinationPath = nullptr;
  QLabel* savingNotification = nullptr;
  QLabel* savingStartTime = nullptr;
  QLabel* savingElapsedTime = nullptr;
  QLabel* savingPercentage = nullptr;
  QProgressBar* saveProgressBarr = nullptr;
  ActivityIndicator* savingAnimation = nullptr;
  HoverButton* cancelSaveBtn = nullptr;

  // dialogs
  coreWindow* stoprepairwindow = nullptr;
  ErrorPageBtn* stoprepaircancelbutton = nullptr;
  ErrorPageBtn* stoprepairokbutton = nullptr;
  coreWindow* repairAbortedWindow = nullptr;
  ErrorPageBtn* repairAbortedOkBtn = nullptr;
  coreWindow* couldntRepair = nullptr;
  ErrorPageBtn* couldNotRepairOkBtn = nullptr;
  ErrorPageBtn* shareBtn = nullptr;
  QLabel* supportTextfield = nullptr;
  coreWindow* stopsavingwindow = nullptr;
  ErrorPageBtn* stopsavingCancelbutton = nullptr;
  ErrorPageBtn* stopsavingOKbutton = nullptr;
  coreWindow* savingCompletedwindow = nullptr;
  ErrorPageBtn* savingCompletedOK = nullptr;

  // Builds the main window with its screens and dialogs.
  void build();
  QWidget* page(const char* identifier) const;
};
