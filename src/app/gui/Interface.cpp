#include "app/gui/Interface.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>
#include <QSizeGrip>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include "app/BuildInfo.h"
#include "app/gui/Images.h"
#include "app/gui/Theme.h"

namespace {

const char* kStyleSheet = R"(
QWidget#tabview, QWidget[page="true"] { background: transparent; }
QFrame#card { background: #ffffff; border: 1px solid #d5dbe3; border-radius: 10px; }
QFrame#dropZone { background: #f9fbfe; border: 2px dashed #b9c7d8; border-radius: 12px; }
QFrame#dropZone[active="true"] { background: #eef6fe; border: 2px dashed #0589ef; }
QLabel { color: #232933; background: transparent; }
QLabel[role="header"] { font-size: 18px; font-weight: 600; color: #232933; }
QLabel[role="brand"] { font-size: 15px; font-weight: 700; color: #232933; }
QLabel[role="title"] { font-size: 17px; font-weight: 600; }
QLabel[role="status"] { font-size: 15px; font-weight: 600; color: #1fa96b; }
QLabel[role="path"] { font-size: 13px; color: #444a55; }
QLabel[role="body"] { font-size: 14px; color: #444a55; }
QLabel[role="caption"] { font-size: 12px; color: #6b7380; text-transform: uppercase; }
QLabel[role="value"] { font-size: 15px; font-weight: 600; color: #232933; }
QLabel[role="big"] { font-size: 22px; font-weight: 600; color: #232933; }
QLabel[role="task"] { font-size: 14px; color: #444a55; }
QLabel[role="footer"] { font-size: 11px; color: #8a93a0; }
QLabel[role="note"] { font-size: 13px; color: #6b7380; }
QProgressBar { background: #e7edf4; border: none; border-radius: 5px; height: 10px; }
QProgressBar::chunk { background: #0589ef; border-radius: 5px; }
QToolTip { color: #232933; background: #ffffff; border: 1px solid #d5dbe3; }
)";

QLabel* makeLabel(QWidget* parent, const char* name, const char* role, const QString& text = QString()) {
  auto* label = new QLabel(text, parent);
  if (name && *name) label->setObjectName(name);
  label->setProperty("role", role);
  return label;
}

// Long paths are cut in the middle so that both the folder and the file name stay readable.
class PathLabel : public QLabel {
 public:
  using QLabel::QLabel;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, width());
    painter.drawText(rect(), static_cast<int>(alignment()) | Qt::AlignVCenter, shown);
  }
  QSize minimumSizeHint() const override { return QSize(80, QLabel::minimumSizeHint().height()); }
};

QLabel* makePath(QWidget* parent, const char* name) {
  auto* label = new PathLabel(parent);
  label->setObjectName(name);
  label->setProperty("role", "path");
  label->setAlignment(Qt::AlignHCenter);
  return label;
}

QFrame* makeCard(QWidget* parent) {
  auto* card = new QFrame(parent);
  card->setObjectName("card");
  card->setMaximumWidth(720);
  return card;
}

// An image from the resources at a fixed size.
class ImageView : public QWidget {
 public:
  ImageView(const QString& image, int side, QWidget* parent) : QWidget(parent), image_(image) {
    setFixedSize(side, side);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    qvr::drawImage(painter, image_, QRectF(rect()));
  }

 private:
  QString image_;
};

// The top band: brand, screen header, the header buttons. Dragging it moves the window.
class HeaderBar : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && window()->windowHandle()) window()->windowHandle()->startSystemMove();
  }
  void mouseDoubleClickEvent(QMouseEvent*) override {
    window()->isMaximized() ? window()->showNormal() : window()->showMaximized();
  }
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    painter.fillRect(QRect(0, height() - 1, width(), 1), qvr::theme::border());
  }
};

QWidget* makePage(QStackedWidget* stack, const char* identifier) {
  auto* page = new QWidget(stack);
  page->setObjectName(identifier);
  page->setProperty("page", true);
  stack->addWidget(page);
  return page;
}

// Lays `card` in the middle of `page`, growing with the window up to the card's maximum width.
void centreCard(QWidget* page, QFrame* card) {
  auto* outer = new QVBoxLayout(page);
  outer->setContentsMargins(32, 24, 32, 24);
  outer->addStretch(1);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(card, 100);
  row->addStretch(1);
  outer->addLayout(row);
  outer->addStretch(1);
}

QHBoxLayout* buttonRow(std::initializer_list<QWidget*> buttons) {
  auto* row = new QHBoxLayout;
  row->setSpacing(14);
  row->addStretch(1);
  for (QWidget* button : buttons) row->addWidget(button);
  row->addStretch(1);
  return row;
}

HoverButton* makeButton(QWidget* parent, const char* name, int tag, const QString& title) {
  auto* button = new HoverButton(tag, title, parent);
  button->setObjectName(name);
  button->setFixedSize(button->sizeHint());
  return button;
}

ErrorPageBtn* makeDialogButton(QWidget* parent, const char* name, const QString& title, bool primary) {
  auto* button = new ErrorPageBtn(title, primary ? ErrorPageBtn::kPrimaryTag : 0, parent);
  button->setObjectName(name);
  button->setMinimumSize(button->sizeHint());
  return button;
}

// A dialog of the main window: icon, title, message widget, then its buttons on the right.
coreWindow* makeDialog(QWidget* parent, const char* name, const QString& icon, const QString& title, QWidget* message,
                       std::initializer_list<QWidget*> buttons) {
  auto* dialog = new coreWindow(parent);
  dialog->setObjectName(name);
  dialog->setFixedWidth(440);
  auto* layout = new QVBoxLayout(dialog);
  layout->setContentsMargins(28, 28, 28, 22);
  layout->setSpacing(12);
  auto* top = new QHBoxLayout;
  top->setSpacing(16);
  top->addWidget(new ImageView(icon, 44, dialog), 0, Qt::AlignTop);
  auto* texts = new QVBoxLayout;
  texts->setSpacing(6);
  auto* heading = makeLabel(dialog, "", "title", title);
  heading->setWordWrap(true);
  texts->addWidget(heading);
  message->setParent(dialog);
  texts->addWidget(message);
  top->addLayout(texts, 1);
  layout->addLayout(top);
  layout->addSpacing(8);
  auto* row = new QHBoxLayout;
  row->setSpacing(10);
  row->addStretch(1);
  for (QWidget* button : buttons) row->addWidget(button);
  layout->addLayout(row);
  for (QWidget* button : buttons) button->setParent(dialog);
  return dialog;
}

QLabel* bodyText(const QString& text) {
  auto* label = makeLabel(nullptr, "", "body", text);
  label->setWordWrap(true);
  return label;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
  setAcceptDrops(true);
  setAttribute(Qt::WA_StyledBackground);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (shouldClose && !shouldClose()) {
    event->ignore();
    return;
  }
  event->accept();
  if (willClose) willClose();
}

std::string MainWindow::droppedPath(const QMimeData* mime) const {
  if (!mime || !mime->hasUrls() || mime->urls().size() != 1) return {};
  const QUrl url = mime->urls().front();
  if (!url.isLocalFile()) return {};
  const std::string path = url.toLocalFile().toStdString();
  if (canTakeDroppedFile && !canTakeDroppedFile(path)) return {};
  return path;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  const bool takes = !droppedPath(event->mimeData()).empty();
  if (takes) event->acceptProposedAction();
  if (dropHighlight) dropHighlight(takes);
}

void MainWindow::dragLeaveEvent(QDragLeaveEvent*) {
  if (dropHighlight) dropHighlight(false);
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
  if (!droppedPath(event->mimeData()).empty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  if (dropHighlight) dropHighlight(false);
  const std::string path = droppedPath(event->mimeData());
  if (path.empty()) return;
  event->acceptProposedAction();
  if (fileDropped) fileDropped(path);
}

void MainWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), qvr::theme::background());
  painter.setPen(qvr::theme::border());
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

QWidget* Interface::page(const char* identifier) const { return tabview->findChild<QWidget*>(identifier); }

void Interface::build() {
  window = new MainWindow;
  window->setObjectName("window");
  window->setWindowTitle("Quenda Video Repair");
  window->setStyleSheet(kStyleSheet);
  window->resize(900, 600);
  window->setMinimumSize(780, 540);
  coreWindow::setApplicationMainWindow(window);

  auto* root = new QVBoxLayout(window);
  root->setContentsMargins(1, 1, 1, 1);
  root->setSpacing(0);

  // Header band.
  auto* header = new HeaderBar(window);
  header->setObjectName("header");
  header->setFixedHeight(62);
  auto* headerRow = new QHBoxLayout(header);
  headerRow->setContentsMargins(18, 0, 12, 0);
  headerRow->setSpacing(6);
  headerRow->addWidget(new ImageView("AppIcon", 34, header));
  headerRow->addSpacing(6);
  headerRow->addWidget(makeLabel(header, "brandName", "brand", "Quenda Video Repair"));
  headerRow->addStretch(1);
  upperBoxField = makeLabel(header, "upperBoxField", "header");
  headerRow->addWidget(upperBoxField);
  headerRow->addStretch(1);
  homeBtn = makeButton(header, "homeBtn", 101, QString());
  helppBtn = makeButton(header, "helppBtn", 103, QString());
  minimizeBtn = makeButton(header, "minimizeBtn", 205, QString());
  minimizeBtn->setToolTip("Minimize");
  closeBtn = makeButton(header, "closeBtn", 203, QString());
  menuBtn = makeButton(header, "menuBtn", 104, QString());
  appMenu = new QMenu(menuBtn);
  appMenu->setObjectName("appMenu");
  checkForUpdatesItem = appMenu->addAction(QString::fromUtf8("Check for Updates\u2026"));
  checkForUpdatesItem->setObjectName("checkForUpdatesItem");
  reportProblemItem = appMenu->addAction(QString::fromUtf8("Report a Problem\u2026"));
  reportProblemItem->setObjectName("reportProblemItem");
  appMenu->addSeparator();
  helpItem = appMenu->addAction("Help");
  helpItem->setObjectName("helpItem");
  aboutItem = appMenu->addAction("About Quenda Video Repair");
  aboutItem->setObjectName("aboutItem");
  auto popUpMenu = [this] { appMenu->popup(menuBtn->mapToGlobal(QPoint(0, menuBtn->height()))); };
  QObject::connect(menuBtn, &QAbstractButton::clicked, appMenu, popUpMenu);
  auto* menuKey = new QShortcut(QKeySequence(Qt::Key_F10), window);
  menuKey->setObjectName("menuShortcut");
  menuKey->setContext(Qt::WindowShortcut);
  QObject::connect(menuKey, &QShortcut::activated, appMenu, popUpMenu);
  headerRow->addWidget(homeBtn);
  headerRow->addWidget(helppBtn);
  headerRow->addWidget(menuBtn);
  auto* separator = new QFrame(header);
  separator->setFixedSize(1, 26);
  separator->setStyleSheet("background: #d5dbe3;");
  headerRow->addSpacing(6);
  headerRow->addWidget(separator);
  headerRow->addSpacing(6);
  headerRow->addWidget(minimizeBtn);
  headerRow->addWidget(closeBtn);
  root->addWidget(header);

  tabview = new QStackedWidget(window);
  tabview->setObjectName("tabview");
  root->addWidget(tabview, 1);

  // Footer with the resize grip.
  auto* footer = new QWidget(window);
  footer->setObjectName("footer");
  auto* footerRow = new QHBoxLayout(footer);
  footerRow->setContentsMargins(18, 0, 0, 0);
  footerRow->addWidget(makeLabel(footer, "versionText", "footer", "Version " QVR_VERSION));
  footerRow->addStretch(1);
  footerRow->addWidget(makeLabel(footer, "formatsText", "footer", "MOV  \u00b7  MP4  \u00b7  M4V  \u00b7  AVI"));
  footerRow->addSpacing(8);
  footerRow->addWidget(new QSizeGrip(footer), 0, Qt::AlignBottom | Qt::AlignRight);
  footer->setFixedHeight(28);
  root->addWidget(footer);

  // "mainTab": the drop zone with the browse button.
  {
    QWidget* pageWidget = makePage(tabview, qvr::tabs::kMain);
    auto* zone = new QFrame(pageWidget);
    zone->setObjectName("dropZone");
    zone->setMaximumWidth(720);
    dropZone = zone;
    auto* layout = new QVBoxLayout(zone);
    layout->setContentsMargins(36, 34, 36, 30);
    layout->setSpacing(12);
    layout->addWidget(new ImageView("Drop Movie", 96, zone), 0, Qt::AlignHCenter);
    layout->addSpacing(4);
    selectFileText = makeLabel(zone, "selectFileText", "body",
                               "Drag a damaged MOV, MP4, M4V or AVI video here, or browse to choose it.");
    selectFileText->setAlignment(Qt::AlignCenter);
    selectFileText->setWordWrap(true);
    layout->addWidget(selectFileText);
    fileStatus = makeLabel(zone, "fileStatus", "status");
    fileStatus->setAlignment(Qt::AlignCenter);
    layout->addWidget(fileStatus);
    filePathUp = makePath(zone, "filePathUp");
    layout->addWidget(filePathUp);
    layout->addSpacing(10);
    backBtn = makeButton(zone, "backBtn", 0, "Back");
    browsebutton = makeButton(zone, "browsebutton", 105, "Browse");
    repairbutton = makeButton(zone, "repairbutton", 105, "Repair");
    layout->addLayout(buttonRow({backBtn, browsebutton, repairbutton}));
    centreCard(pageWidget, zone);
  }

  // "referenceFileTab".
  {
    QWidget* pageWidget = makePage(tabview, qvr::tabs::kReference);
    QFrame* card = makeCard(pageWidget);
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(36, 30, 36, 28);
    layout->setSpacing(10);
    layout->addWidget(new ImageView("Movie File", 72, card), 0, Qt::AlignHCenter);
    refTabFileStatus = makeLabel(card, "refTabFileStatus", "status");
    refTabFileStatus->setAlignment(Qt::AlignCenter);
    layout->addWidget(refTabFileStatus);
    refTabCorruptPath = makePath(card, "refTabCorruptPath");
    layout->addWidget(refTabCorruptPath);
    refTabRefFilePath = makePath(card, "refTabRefFilePath");
    layout->addWidget(refTabRefFilePath);
    nextstepTextField = makeLabel(card, "nextstepTextField", "body",
                                  "This video cannot be repaired on its own. Select a healthy video recorded with "
                                  "the same camera and settings; it serves as the reference for the repair.");
    nextstepTextField->setWordWrap(true);
    nextstepTextField->setAlignment(Qt::AlignCenter);
    layout->addWidget(nextstepTextField);
    whyMovFile = makeLabel(card, "whyMovFile", "body");
    whyMovFile->setAlignment(Qt::AlignCenter);
    whyMovFile->setTextFormat(Qt::RichText);
    whyMovFile->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    layout->addWidget(whyMovFile);
    selectRefFileBtn = makeButton(card, "selectRefFileBtn", 105, "Select Healthy File");
    layout->addWidget(selectRefFileBtn, 0, Qt::AlignHCenter);
    layout->addSpacing(8);
    refTabBackBtn = makeButton(card, "refTabBackBtn", 0, "Back");
    refTabRepairBtn = makeButton(card, "refTabRepairBtn", 105, "Repair");
    layout->addLayout(buttonRow({refTabBackBtn, refTabRepairBtn}));
    centreCard(pageWidget, card);
  }

  // "repairingTab".
  {
    QWidget* pageWidget = makePage(tabview, qvr::tabs::kRepairing);
    QFrame* card = makeCard(pageWidget);
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(32, 28, 32, 26);
    layout->setSpacing(10);
    auto* top = new QHBoxLayout;
    top->setSpacing(20);
    animView = new ActivityIndicator(card);
    animView->setObjectName("animView");
    animView->setFixedSize(64, 64);
    top->addWidget(animView, 0, Qt::AlignVCenter);
    auto* files = new QVBoxLayout;
    files->setSpacing(4);
    repFileStatus = makeLabel(card, "repFileStatus", "status");
    files->addWidget(repFileStatus);
    repCorruptFilePath = makePath(card, "repCorruptFilePath");
    repCorruptFilePath->setAlignment(Qt::AlignLeft);
    files->addWidget(repCorruptFilePath);
    repHealthyFilePath = makePath(card, "repHealthyFilePath");
    repHealthyFilePath->setAlignment(Qt::AlignLeft);
    files->addWidget(repHealthyFilePath);
    top->addLayout(files, 1);
    layout->addLayout(top);
    layout->addSpacing(10);
    auto* taskRow = new QHBoxLayout;
    currentstatus = makeLabel(card, "currentstatus", "task");
    taskRow->addWidget(currentstatus, 1);
    percent = makeLabel(card, "percent", "value");
    percent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    taskRow->addWidget(percent);
    layout->addLayout(taskRow);
    progressbar = new QProgressBar(card);
    progressbar->setObjectName("progressbar");
    progressbar->setRange(0, 100);
    progressbar->setValue(0);
    progressbar->setTextVisible(false);
    progressbar->setFixedHeight(10);
    layout->addWidget(progressbar);
    layout->addSpacing(8);
    auto* times = new QGridLayout;
    times->setHorizontalSpacing(40);
    times->setVerticalSpacing(2);
    times->addWidget(makeLabel(card, "", "caption", "Start Time"), 0, 0);
    times->addWidget(makeLabel(card, "", "caption", "Elapsed Time"), 0, 1);
    repairingStartTimeField = makeLabel(card, "repairingStartTimeField", "value");
    elapsedTime = makeLabel(card, "elapsedTime", "value");
    times->addWidget(repairingStartTimeField, 1, 0);
    times->addWidget(elapsedTime, 1, 1);
    times->setColumnStretch(2, 1);
    layout->addLayout(times);
    layout->addSpacing(12);
    repPauseBtn = makeButton(card, "repPauseBtn", 0, "Pause");
    repCancelBtn = makeButton(card, "repCancelBtn", 0, "Stop");
    layout->addLayout(buttonRow({repPauseBtn, repCancelBtn}));
    centreCard(pageWidget, card);
  }

  // Details screen, the page after "repairingTab".
  {
    QWidget* pageWidget = makePage(tabview, qvr::tabs::kDetails);
    QFrame* card = makeCard(pageWidget);
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(32, 26, 32, 24);
    layout->setSpacing(10);
    auto* top = new QHBoxLayout;
    top->setSpacing(14);
    top->addWidget(new ImageView("Repair Done", 44, card));
    auto* topTexts = new QVBoxLayout;
    topTexts->setSpacing(0);
    fileNamefield = makeLabel(card, "fileNamefield", "big");
    topTexts->addWidget(fileNamefield);
    topTexts->addWidget(makeLabel(card, "", "note", "Repaired. Preview the result, then save it."));
    top->addLayout(topTexts, 1);
    layout->addLayout(top);
    auto* rule = new QFrame(card);
    rule->setFixedHeight(1);
    rule->setStyleSheet("background: #e3e8ee; border: none;");
    layout->addSpacing(4);
    layout->addWidget(rule);
    layout->addSpacing(4);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(24);
    grid->setVerticalSpacing(2);
    const struct {
      const char* caption;
      QLabel** field;
      const char* name;
    } facts[] = {{"Size", &sizeField, "sizeField"},
                 {"Tracks", &tracksField, "tracksField"},
                 {"Video Codec", &videoCodecField, "videoCodecField"},
                 {"Frame Rate", &fpsField, "fpsField"},
                 {"Duration", &durationField, "durationField"}};
    int column = 0;
    for (const auto& fact : facts) {
      grid->addWidget(makeLabel(card, "", "caption", fact.caption), 0, column);
      *fact.field = makeLabel(card, fact.name, "value");
      (*fact.field)->setMinimumWidth(70);
      grid->addWidget(*fact.field, 1, column);
      ++column;
    }
    layout->addLayout(grid);
    layout->addSpacing(6);
    auto* vlcRow = new QHBoxLayout;
    noteTxt = makeLabel(card, "noteTxt", "note",
                        "Install the VLC media player to play every repaired video in its own window.");
    noteTxt->setWordWrap(true);
    vlcRow->addWidget(noteTxt, 1);
    installVLC = makeButton(card, "installVLC", 201, "Install VLC");
    vlcRow->addWidget(installVLC);
    layout->addLayout(vlcRow);
    layout->addSpacing(8);
    prewTabHomeBtn = makeButton(card, "prewTabHomeBtn", 0, "Home");
    prewBtn = makeButton(card, "prewBtn", 0, "Preview");
    prewSaveBtn = makeButton(card, "prewSaveBtn", 105, "Save");
    layout->addLayout(buttonRow({prewTabHomeBtn, prewBtn, prewSaveBtn}));
    centreCard(pageWidget, card);
  }

  // Saving screen, the page after the details screen.
  {
    QWidget* pageWidget = makePage(tabview, qvr::tabs::kSaving);
    QFrame* card = makeCard(pageWidget);
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(32, 28, 32, 26);
    layout->setSpacing(10);
    auto* top = new QHBoxLayout;
    top->setSpacing(20);
    savingAnimation = new ActivityIndicator(card);
    savingAnimation->setObjectName("savingAnimation");
    savingAnimation->setFixedSize(64, 64);
    top->addWidget(savingAnimation);
    auto* texts = new QVBoxLayout;
    savingNotification = makeLabel(card, "savingNotification", "status");
    texts->addWidget(savingNotification);
    destinationPath = makePath(card, "destinationPath");
    destinationPath->setAlignment(Qt::AlignLeft);
    texts->addWidget(destinationPath);
    top->addLayout(texts, 1);
    layout->addLayout(top);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    savingPercentage = makeLabel(card, "savingPercentage", "value");
    row->addWidget(savingPercentage);
    layout->addLayout(row);
    saveProgressBarr = new QProgressBar(card);
    saveProgressBarr->setObjectName("saveProgressBarr");
    saveProgressBarr->setRange(0, 100);
    saveProgressBarr->setTextVisible(false);
    saveProgressBarr->setFixedHeight(10);
    layout->addWidget(saveProgressBarr);
    auto* times = new QGridLayout;
    times->setHorizontalSpacing(40);
    times->addWidget(makeLabel(card, "", "caption", "Start Time"), 0, 0);
    times->addWidget(makeLabel(card, "", "caption", "Elapsed Time"), 0, 1);
    savingStartTime = makeLabel(card, "savingStartTime", "value");
    savingElapsedTime = makeLabel(card, "savingElapsedTime", "value");
    times->addWidget(savingStartTime, 1, 0);
    times->addWidget(savingElapsedTime, 1, 1);
    times->setColumnStretch(2, 1);
    layout->addLayout(times);
    cancelSaveBtn = makeButton(card, "cancelSaveBtn", 0, "Stop");
    layout->addLayout(buttonRow({cancelSaveBtn}));
    centreCard(pageWidget, card);
  }

  // Dialogs.
  stoprepaircancelbutton = makeDialogButton(window, "stoprepaircancelbutton", "Cancel", false);
  stoprepairokbutton = makeDialogButton(window, "stoprepairokbutton", "Stop", true);
  stoprepairwindow = makeDialog(window, "stoprepairwindow", "Dialog Question", "Stop repairing?",
                                bodyText("The repair is paused. Stop it and return to the start screen?"),
                                {stoprepaircancelbutton, stoprepairokbutton});

  repairAbortedOkBtn = makeDialogButton(window, "repairAbortedOkBtn", "OK", true);
  repairAbortedWindow =
      makeDialog(window, "repairAbortedWindow", "Dialog Info", "Repair stopped",
                 bodyText("The repair was stopped before it finished. No file was kept."), {repairAbortedOkBtn});

  supportTextfield = makeLabel(nullptr, "supportTextfield", "body");
  supportTextfield->setWordWrap(true);
  supportTextfield->setTextFormat(Qt::RichText);
  supportTextfield->setTextInteractionFlags(Qt::TextBrowserInteraction);
  couldNotRepairOkBtn = makeDialogButton(window, "couldNotRepairOkBtn", "OK", false);
  shareBtn = makeDialogButton(window, "shareBtn", "Send Report", true);
  couldntRepair = makeDialog(window, "couldntRepair", "Dialog Error", "This file could not be repaired",
                             supportTextfield, {couldNotRepairOkBtn, shareBtn});

  stopsavingCancelbutton = makeDialogButton(window, "stopsavingCancelbutton", "Cancel", false);
  stopsavingOKbutton = makeDialogButton(window, "stopsavingOKbutton", "Stop", true);
  stopsavingwindow =
      makeDialog(window, "stopsavingwindow", "Dialog Question", "Stop saving?",
                 bodyText("The saved copy will be incomplete."), {stopsavingCancelbutton, stopsavingOKbutton});

  savingCompletedOK = makeDialogButton(window, "savingCompletedOK", "OK", true);
  savingCompletedwindow = makeDialog(window, "savingCompletedwindow", "Repair Done", "Saved",
                                     bodyText("The repaired video has been saved."), {savingCompletedOK});
}
