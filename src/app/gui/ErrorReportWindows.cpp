#include "app/gui/ErrorReportWindows.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "app/gui/CheckBtn.h"
#include "app/gui/ErrorPageBtn.h"
#include "app/gui/Images.h"
#include "app/gui/coreWindow.h"
#include "foundation/Log.h"
#include "report/ErrorReportText.h"

static void initialiseReportImages() { Q_INIT_RESOURCE(ErrorReportImages); }

namespace qvr {

// The message page's icon; the image is named as the flow names it.
class ReportImageView : public QWidget {
 public:
  ReportImageView(int side, QWidget* parent) : QWidget(parent) { setFixedSize(side, side); }
  void setImage(const QString& name) {
    setProperty("image", name);
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    drawImage(painter, property("image").toString(), QRectF(rect()));
  }
};

}  // namespace qvr

namespace {

const char* kReportStyle = R"(
QLabel { color: #232933; background: transparent; }
QLabel[role="title"] { font-size: 17px; font-weight: 600; }
QLabel[role="body"] { font-size: 14px; color: #444a55; }
QLabel[role="caption"] { font-size: 12px; color: #6b7380; }
QLineEdit, QPlainTextEdit { border: 1px solid #d5dbe3; border-radius: 6px; padding: 6px; background: #ffffff;
  font-size: 14px; color: #232933; }
QLineEdit:focus, QPlainTextEdit:focus { border: 1px solid #0589ef; }
QLineEdit:disabled { background: #f3f6fa; color: #8a93a0; }
QTableWidget { border: 1px solid #d5dbe3; border-radius: 6px; background: #ffffff; gridline-color: #eef1f5;
  font-size: 13px; selection-background-color: #e3f1fd; selection-color: #232933; }
QTableWidget:disabled { background: #f3f6fa; color: #8a93a0; }
QHeaderView::section { background: #f3f6fa; border: none; border-bottom: 1px solid #d5dbe3; padding: 4px;
  font-size: 12px; color: #6b7380; }
QRadioButton { font-size: 14px; color: #232933; spacing: 8px; }
QProgressBar { background: #e7edf4; border: none; border-radius: 5px; max-height: 10px; }
QProgressBar::chunk { background: #0589ef; border-radius: 5px; }
)";

QLabel* label(QWidget* parent, const char* name, const char* role, const QString& text = QString()) {
  auto* l = new QLabel(text, parent);
  if (name && *name) l->setObjectName(name);
  l->setProperty("role", role);
  l->setWordWrap(true);
  return l;
}

ErrorPageBtn* button(QWidget* parent, const char* name, const QString& title, bool primary) {
  auto* b = new ErrorPageBtn(title, primary ? ErrorPageBtn::kPrimaryTag : 0, parent);
  b->setObjectName(name);
  b->setMinimumSize(b->sizeHint());
  return b;
}

QWidget* page(QStackedWidget* stack, const char* identifier) {
  auto* p = new QWidget(stack);
  p->setObjectName(identifier);
  stack->addWidget(p);
  return p;
}

}  // namespace

ErrorReportWindows::ErrorReportWindows(Host host, ErrorReportDelegate& errordelegate, qvr::ReportServices services,
                                       std::shared_ptr<qvr::ReportPlatform> reportPlatform)
    : host_(std::move(host)), reportPlatform_(std::move(reportPlatform)) {
  initialiseReportImages();
  report_ = std::make_unique<qvr::ErrorReport>(std::move(services), *reportPlatform_, errordelegate, *this);
  buildReportWindow();
  buildUploadWindow();
}

ErrorReportWindows::~ErrorReportWindows() {
  report_.reset();
  delete errorReportWindow_.data();
}

void ErrorReportWindows::buildReportWindow() {
  auto* w = new coreWindow(host_.mainWindow);
  errorReportWindow_ = w;
  w->setObjectName("errorReportWindow");
  w->setStyleSheet(kReportStyle);
  w->setFixedWidth(560);
  auto* layout = new QVBoxLayout(w);
  layout->setContentsMargins(28, 24, 28, 22);
  layout->setSpacing(10);
  layout->addWidget(label(w, "", "title", "Send an error report"));
  layout->addWidget(
      label(w, "", "body", "Tell our support team what went wrong and share the movie, so that they can look at it."));

  emailId_ = new QLineEdit(w);
  emailId_->setObjectName("emailId");
  emailId_->setPlaceholderText("Your email address");
  layout->addWidget(emailId_);
  errorDetails_ = new QPlainTextEdit(w);
  errorDetails_->setObjectName("errorDetails");
  errorDetails_->setPlaceholderText("What happened? Which camera recorded the file?");
  errorDetails_->setTabChangesFocus(true);
  errorDetails_->setFixedHeight(90);
  layout->addWidget(errorDetails_);

  radioBtn1_ = new QRadioButton("Upload the files", w);
  radioBtn1_->setObjectName("radioBtn1");
  radioBtn2_ = new QRadioButton("Share a link to the file on Google Drive", w);
  radioBtn2_->setObjectName("radioBtn2");
  // The two are switched by radioBtnClicked, as one choice.
  auto* group = new QButtonGroup(w);
  group->addButton(radioBtn1_);
  group->addButton(radioBtn2_);
  layout->addWidget(radioBtn1_);

  tableView_ = new QTableWidget(0, 2, w);
  tableView_->setObjectName("tableView");
  tableView_->setHorizontalHeaderLabels({"", "File"});
  tableView_->horizontalHeaderItem(0)->setData(Qt::UserRole, "Check");
  tableView_->horizontalHeaderItem(1)->setData(Qt::UserRole, "File");
  tableView_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Fixed);
  tableView_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
  tableView_->setColumnWidth(0, 28);
  tableView_->verticalHeader()->setVisible(false);
  tableView_->verticalHeader()->setDefaultSectionSize(30);
  tableView_->setSelectionBehavior(QAbstractItemView::SelectRows);
  tableView_->setSelectionMode(QAbstractItemView::SingleSelection);
  tableView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tableView_->setShowGrid(false);
  tableView_->setFixedHeight(130);
  // With no row header the corner button has no use; it is switched off, yet counted among the
  // window's buttons, which all take the keyboard.
  tableView_->setCornerButtonEnabled(false);
  for (auto* corner : tableView_->findChildren<QAbstractButton*>()) corner->setFocusPolicy(Qt::TabFocus);
  layout->addWidget(tableView_);
  auto* listButtons = new QHBoxLayout;
  addFilesToUpload_ = button(w, "addFilesToUpload", "Add File", false);
  removeFiles_ = button(w, "removeFiles", "Remove", false);
  listButtons->addWidget(addFilesToUpload_);
  listButtons->addWidget(removeFiles_);
  listButtons->addStretch(1);
  layout->addLayout(listButtons);

  layout->addWidget(radioBtn2_);
  auto* linkRow = new QHBoxLayout;
  DriveLink_ = new QLineEdit(w);
  DriveLink_->setObjectName("DriveLink");
  DriveLink_->setPlaceholderText("https://drive.google.com/...");
  pasteLink_ = button(w, "pasteLink", "Paste", false);
  linkRow->addWidget(DriveLink_, 1);
  linkRow->addWidget(pasteLink_);
  layout->addLayout(linkRow);

  layout->addSpacing(6);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  auto* close = button(w, "closeErrorReportBtn", "Close", false);
  auto* submit = button(w, "submitErrorReportBtn", "Submit", true);
  row->addWidget(close);
  row->addWidget(submit);
  layout->addLayout(row);

  connect(radioBtn1_, &QRadioButton::clicked, this, [this] { radioBtnClicked(radioBtn1_); });
  connect(radioBtn2_, &QRadioButton::clicked, this, [this] { radioBtnClicked(radioBtn2_); });
  connect(addFilesToUpload_, &QAbstractButton::clicked, this, [this] { addFileToUpload(); });
  connect(removeFiles_, &QAbstractButton::clicked, this, [this] { removeFileToUpload(); });
  connect(pasteLink_, &QAbstractButton::clicked, this, [this] { pasteGDriveLink(); });
  connect(close, &QAbstractButton::clicked, this, [this] { closeErrorReportWindow(); });
  connect(submit, &QAbstractButton::clicked, this, [this] { submitErrorReport(); });
}

void ErrorReportWindows::buildUploadWindow() {
  auto* w = errorUploadWindow_ = new coreWindow(errorReportWindow_);
  w->setObjectName("errorUploadWindow");
  w->setStyleSheet(kReportStyle);
  w->setFixedWidth(460);
  auto* layout = new QVBoxLayout(w);
  layout->setContentsMargins(28, 26, 28, 22);
  layout->setSpacing(12);
  errorTabView_ = new QStackedWidget(w);
  errorTabView_->setObjectName("errorTabView");
  layout->addWidget(errorTabView_);

  auto* failed = page(errorTabView_, "1");
  auto* failedLayout = new QVBoxLayout(failed);
  failedLayout->setContentsMargins(0, 0, 0, 0);
  failedUploadHeaderText_ = label(failed, "failedUploadHeaderText", "title");
  failedUploadAbortedHeaderText_ =
      label(failed, "failedUploadAbortedHeaderText", "title", "No file could be uploaded.");
  failedLayout->addWidget(failedUploadHeaderText_);
  failedLayout->addWidget(failedUploadAbortedHeaderText_);
  failedLayout->addWidget(label(failed, "", "body",
                                "The files that could not be uploaded are listed in the error log "
                                "on your desktop."));
  auto* openLog = button(failed, "openTxtFile", "Open Error Log", false);
  failedLayout->addWidget(openLog, 0, Qt::AlignLeft);
  failedLayout->addStretch(1);
  connect(openLog, &QAbstractButton::clicked, this, [this] { openTxtFile(); });

  auto* uploading = page(errorTabView_, "2");
  auto* upLayout = new QVBoxLayout(uploading);
  upLayout->setContentsMargins(0, 0, 0, 0);
  upLayout->addWidget(label(uploading, "", "title", "Sending your report"));
  uploadingFileName_ = label(uploading, "uploadingFileName", "body", "Uploading : ");
  upLayout->addWidget(uploadingFileName_);
  auto* bar = new QHBoxLayout;
  errorUploadProgress_ = new QProgressBar(uploading);
  errorUploadProgress_->setObjectName("errorUploadProgress");
  errorUploadProgress_->setRange(0, 100);
  errorUploadProgress_->setTextVisible(false);
  errorUploadingPercentage_ = label(uploading, "errorUploadingPercentage", "caption", "0%");
  errorUploadingPercentage_->setWordWrap(false);
  errorUploadingPercentage_->setMinimumWidth(40);
  errorUploadingPercentage_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  bar->addWidget(errorUploadProgress_, 1);
  bar->addWidget(errorUploadingPercentage_);
  upLayout->addLayout(bar);
  upLayout->addStretch(1);

  auto* aborted = page(errorTabView_, "3");
  auto* abLayout = new QVBoxLayout(aborted);
  abLayout->setContentsMargins(0, 0, 0, 0);
  abLayout->addWidget(label(aborted, "", "title", "Upload aborted"));
  abLayout->addWidget(label(aborted, "", "body", "Nothing was sent, and the files already uploaded were removed."));
  abLayout->addStretch(1);

  auto* sent = page(errorTabView_, "4");
  auto* sentLayout = new QHBoxLayout(sent);
  sentLayout->setContentsMargins(0, 0, 0, 0);
  auto* sentIcon = new qvr::ReportImageView(44, sent);
  sentIcon->setImage("Report Sent");
  sentLayout->addWidget(sentIcon, 0, Qt::AlignTop);
  auto* sentTexts = new QVBoxLayout;
  sentTexts->addWidget(label(sent, "", "title", "Report sent"));
  sentTexts->addWidget(label(sent, "", "body", "Thank you. Our support team will answer you by email."));
  sentTexts->addStretch(1);
  sentLayout->addLayout(sentTexts, 1);

  auto* message = page(errorTabView_, "5");
  auto* msgLayout = new QHBoxLayout(message);
  msgLayout->setContentsMargins(0, 0, 0, 0);
  msgLayout->setSpacing(16);
  alertIcon_ = new qvr::ReportImageView(44, message);
  alertIcon_->setObjectName("alertIcon");
  alertMessage_ = label(message, "alertMessage", "body");
  alertMessage_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  alertMessage_->setContentsMargins(0, 12, 0, 0);  // the first line level with the icon's middle
  msgLayout->addWidget(alertIcon_, 0, Qt::AlignTop);
  msgLayout->addWidget(alertMessage_, 1, Qt::AlignTop);

  auto* row = new QHBoxLayout;
  row->addStretch(1);
  errorUploadRetryBtn_ = button(w, "errorUploadRetryBtn", "Retry", false);
  errorUploadCloseBtn_ = button(w, "errorUploadCloseBtn", "OK", true);
  row->addWidget(errorUploadRetryBtn_);
  row->addWidget(errorUploadCloseBtn_);
  layout->addLayout(row);
  errorUploadRetryBtn_->hide();

  connect(errorUploadCloseBtn_, &QAbstractButton::clicked, this, [this] { closeUploadWindow(); });
  connect(errorUploadRetryBtn_, &QAbstractButton::clicked, this, [this] { retryClicked(); });
}

void ErrorReportWindows::post(std::function<void()> change) {
  QMetaObject::invokeMethod(this, std::move(change), Qt::QueuedConnection);
}

std::vector<qvr::ReportFile> ErrorReportWindows::reportFiles() const {
  std::vector<qvr::ReportFile> files;
  for (const FileClass& f : host_.fileClassArray) files.push_back({f.select, f.filePath});
  return files;
}

void ErrorReportWindows::openErrorReportWindow() {
  DriveLink_->clear();
  if (host_.couldntRepair) host_.couldntRepair->closeWindow();
  errorReportWindow_->showWindowOnWindow(host_.mainWindow);
  radioBtnClicked(radioBtn1_);
  addFilesToUpload_->setFocus(Qt::OtherFocusReason);
  reloadData();
}

void ErrorReportWindows::closeErrorReportWindow() {
  report_->deleteErrorLog();
  errorReportWindow_->closeWindow();
  if (!(host_.onDetailsScreen && host_.onDetailsScreen()) && host_.couldntRepairOk) host_.couldntRepairOk();
}

void ErrorReportWindows::radioBtnClicked(QRadioButton* sender) {
  sender->setChecked(true);
  const bool upload = sender == radioBtn1_;
  DriveLink_->setEnabled(!upload);
  pasteLink_->setEnabledState(!upload);
  tableView_->setEnabled(upload);
  addFilesToUpload_->setEnabledState(upload);
  removeFiles_->setEnabledState(upload);
  (upload ? radioBtn2_ : radioBtn1_)->setChecked(false);
  if (!upload) DriveLink_->setFocus(Qt::OtherFocusReason);
}

void ErrorReportWindows::addFileToUpload() {
  qvr::OpenPanelOptions options;
  options.allowedFileTypes = {"mov", "mp4", "m4v", "avi"};
  options.startingFolder = host_.platform.homeFolder();
  auto chosen = host_.platform.runOpenPanel(options);
  if (!chosen) return;
  for (const FileClass& f : host_.fileClassArray) {
    if (f.filePath == *chosen) {
      report_->runAlertWithMessage(qvr::report::kAlreadyInList, qvr::report::kInformationImage, true);
      return;
    }
  }
  host_.fileClassArray.push_back(FileClass{true, *chosen});
  reloadData();
}

void ErrorReportWindows::removeFileToUpload() {
  const int row = tableView_->currentRow();
  if (row >= 0 && row < static_cast<int>(host_.fileClassArray.size())) {
    host_.fileClassArray.erase(host_.fileClassArray.begin() + row);
    reloadData();
  } else {
    report_->runAlertWithMessage(qvr::report::kClickToRemove, qvr::report::kInformationImage, true);
  }
}

void ErrorReportWindows::pasteGDriveLink() {
  DriveLink_->setFocus(Qt::OtherFocusReason);
  DriveLink_->paste();
}

void ErrorReportWindows::checkClicked(CheckBtn* sender) {
  const int row = sender->getFileClass();
  if (row >= 0 && row < static_cast<int>(host_.fileClassArray.size())) {
    host_.fileClassArray[static_cast<size_t>(row)].select = sender->isChecked();
  }
}

void ErrorReportWindows::reloadData() {
  tableView_->clearContents();
  tableView_->setRowCount(static_cast<int>(host_.fileClassArray.size()));
  for (int row = 0; row < tableView_->rowCount(); ++row) {
    const FileClass& entry = host_.fileClassArray[static_cast<size_t>(row)];
    auto* cell = new QWidget;
    cell->setObjectName("Check");
    auto* check = new CheckBtn(row, cell);
    check->move(5, 8);
    check->setChecked(entry.select);
    connect(check, &QAbstractButton::clicked, this, [this, check] { checkClicked(check); });
    tableView_->setCellWidget(row, 0, cell);
    auto* item = new QTableWidgetItem(QString::fromStdString(entry.filePath));
    item->setToolTip(item->text());
    tableView_->setItem(row, 1, item);
  }
}

void ErrorReportWindows::submitErrorReport() {
  qvr::ReportForm form;
  form.email = emailId_->text().toStdString();
  form.description = errorDetails_->toPlainText().toStdString();
  form.uploadFiles = radioBtn1_->isChecked();
  form.driveLink = DriveLink_->text().toStdString();
  report_->submitErrorReport(form, reportFiles());
}

void ErrorReportWindows::retryClicked() {
  errorUploadWindow_->closeWindow();
  report_->retryClicked(reportFiles());
}

void ErrorReportWindows::closeUploadWindow() {
  if (errorTabView_->currentWidget()->objectName() == "2") {
    qvr::AlertRequest question;
    question.message = qvr::report::kAbortQuestion;
    question.buttons = {"YES", "NO"};
    if (host_.platform.runAlert(question) == 0) report_->abortUpload();
    return;
  }
  errorUploadRetryBtn_->hide();
  errorUploadWindow_->closeWindow();
  if (report_->uploadCompleted()) closeErrorReportWindow();
}

void ErrorReportWindows::openTxtFile() {
  host_.platform.openURL(QUrl::fromLocalFile(QString::fromStdString(report_->errorLogPath())).toString().toStdString());
}

void ErrorReportWindows::clearFields() {
  emailId_->clear();
  errorDetails_->clear();
  DriveLink_->clear();
  errorUploadingPercentage_->clear();
  uploadingFileName_->setText("Uploading : ");
}

void ErrorReportWindows::changeErrorTabViewWithIdentifier(const std::string& identifier, const std::string& buttonTitle,
                                                          bool retryButtonHidden) {
  post([this, identifier, buttonTitle, retryButtonHidden] {
    errorUploadRetryBtn_->setVisible(!retryButtonHidden);
    errorUploadCloseBtn_->setTitle(QString::fromStdString(buttonTitle));
    if (auto* p = errorTabView_->findChild<QWidget*>(QString::fromStdString(identifier), Qt::FindDirectChildrenOnly)) {
      errorTabView_->setCurrentWidget(p);
    }
    // The window takes the height of the page shown: a stack asks every page for its height at
    // a width, hidden ones included, and would take the tallest.
    QWidget* shown = errorTabView_->currentWidget();
    const QMargins margins = errorUploadWindow_->layout()->contentsMargins();
    const int width = errorUploadWindow_->width() - margins.left() - margins.right();
    errorTabView_->setFixedHeight(shown->hasHeightForWidth() ? shown->heightForWidth(width)
                                                             : shown->sizeHint().height());
    errorUploadWindow_->layout()->activate();
    errorUploadWindow_->adjustSize();
  });
}

void ErrorReportWindows::changeUploadFileName(const std::string& name) {
  post([this, name] { uploadingFileName_->setText(QString::fromStdString(name)); });
}

void ErrorReportWindows::updatePercentageForErrorUpload(double percentage) {
  post([this, percentage] {
    errorUploadProgress_->setValue(static_cast<int>(percentage));
    errorUploadingPercentage_->setText(QString("%1%").arg(static_cast<int>(percentage)));
  });
}

void ErrorReportWindows::failedUploadWithHeader(const std::string& header) {
  post([this, header] { failedUploadHeaderText_->setText(QString::fromStdString(header)); });
}

void ErrorReportWindows::failedUploadWithHeaderState(bool state) {
  post([this, state] {
    failedUploadHeaderText_->setHidden(state);
    failedUploadAbortedHeaderText_->setHidden(!state);
  });
}

void ErrorReportWindows::showMessage(const std::string& message, const std::string& imageName) {
  post([this, message, imageName] {
    alertIcon_->setImage(QString::fromStdString(imageName));
    alertMessage_->setText(QString::fromStdString(message));
  });
}

void ErrorReportWindows::runUploadWindow() {
  post([this] {
    if (!errorUploadWindow_->isVisible()) errorUploadWindow_->showWindowOnWindow(errorReportWindow_);
  });
}
