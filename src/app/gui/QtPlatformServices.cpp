#include "app/gui/QtPlatformServices.h"

#include <unistd.h>

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QNetworkInformation>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdlib>

#include "app/gui/ErrorPageBtn.h"
#include "app/gui/Images.h"
#include "app/gui/coreWindow.h"
#include "foundation/FileSystem.h"

namespace qvr {
namespace {

class AlertIcon : public QWidget {
 public:
  AlertIcon(QString image, QWidget* parent) : QWidget(parent), image_(std::move(image)) { setFixedSize(44, 44); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    drawImage(painter, image_, QRectF(rect()));
  }

 private:
  QString image_;
};

// An alert: ends with the index of the pressed button.
class AlertWindow : public coreWindow {
 public:
  using coreWindow::coreWindow;
  void finish(int index) {
    closeWindow();
    done(index);
  }
};

}  // namespace

coreWindow* QtPlatformServices::makeAlertWindow(const AlertRequest& alert, QWidget* parent) {
  auto* window = new AlertWindow(parent);
  window->setObjectName("alertWindow");
  window->setFixedWidth(420);
  auto* layout = new QVBoxLayout(window);
  layout->setContentsMargins(28, 28, 28, 22);
  layout->setSpacing(12);
  auto* top = new QHBoxLayout;
  top->setSpacing(16);
  const char* icon = alert.style == AlertStyle::Informational ? "Dialog Info" : "Dialog Warning";
  top->addWidget(new AlertIcon(icon, window), 0, Qt::AlignTop);
  auto* texts = new QVBoxLayout;
  texts->setSpacing(6);
  auto* title = new QLabel(QString::fromStdString(alert.title), window);
  title->setObjectName("alertTitle");
  title->setProperty("role", "title");
  title->setStyleSheet("font-size: 17px; font-weight: 600; color: #232933;");
  title->setWordWrap(true);
  title->setVisible(!alert.title.empty());  // a question alone stands level with its icon
  texts->addWidget(title);
  auto* message = new QLabel(QString::fromStdString(alert.message), window);
  message->setObjectName("alertMessage");
  message->setWordWrap(true);
  message->setStyleSheet("font-size: 14px; color: #444a55;");
  texts->addWidget(message);
  top->addLayout(texts, 1);
  layout->addLayout(top);
  layout->addSpacing(8);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  const std::vector<std::string> buttons = alert.buttons.empty() ? std::vector<std::string>{"OK"} : alert.buttons;
  // The default button sits rightmost, as desktops place it.
  for (int i = static_cast<int>(buttons.size()) - 1; i >= 0; --i) {
    auto* button = new ErrorPageBtn(QString::fromStdString(buttons[i]), i == 0 ? ErrorPageBtn::kPrimaryTag : 0, window);
    button->setObjectName(QString("alertButton%1").arg(i));
    button->setMinimumSize(button->sizeHint());
    QObject::connect(button, &QAbstractButton::clicked, window,
                     [window, i] { static_cast<AlertWindow*>(window)->finish(i); });
    row->addWidget(button);
  }
  layout->addLayout(row);
  return window;
}

std::optional<std::string> QtPlatformServices::runOpenPanel(const OpenPanelOptions& options) {
  QStringList patterns;
  for (const std::string& type : options.allowedFileTypes) {
    const QString ext = QString::fromStdString(type);
    patterns << "*." + ext.toLower() << "*." + ext.toUpper();
  }
  const QString filter = QString("Videos (%1)").arg(patterns.join(' '));
  const QString path = QFileDialog::getOpenFileName(dialogParent_, QString::fromStdString(options.title),
                                                    QString::fromStdString(options.startingFolder), filter);
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

int QtPlatformServices::runAlert(const AlertRequest& alert) {
  coreWindow* window = makeAlertWindow(alert, dialogParent_);
  window->setAttribute(Qt::WA_DeleteOnClose, false);
  if (dialogParent_) {
    window->showWindowOnWindow(dialogParent_);
  } else {
    window->showWindowOnWindow(nullptr);
  }
  if (alertShown) {
    QTimer::singleShot(0, window, [this, window] {
      const int pressed = alertShown(*window);
      if (pressed >= 0) static_cast<AlertWindow*>(window)->finish(pressed);
    });
  }
  window->setWindowModality(Qt::ApplicationModal);
  const int result = window->exec();
  delete window;
  return result;
}

int QtPlatformServices::runningInstanceCount(const std::string& bundleIdentifier) {
  switch (lock_.acquire(bundleIdentifier)) {
    case InstanceLock::Result::HeldElsewhere:
      return 2;
    case InstanceLock::Result::Acquired:
    case InstanceLock::Result::Unavailable:
      break;
  }
  return 1;
}

std::string QtPlatformServices::workingFolder() { return fs::workingDirectory(); }

std::string QtPlatformServices::loginName() {
  if (const char* user = std::getenv("USER"); user && *user) return user;
  if (const char* logname = std::getenv("LOGNAME"); logname && *logname) return logname;
  return fs::fileName(fs::homeDirectory());
}

std::string QtPlatformServices::homeFolder() { return fs::homeDirectory(); }

std::optional<std::string> QtPlatformServices::fullPathForApplication(const std::string& name) {
  QString program = QString::fromStdString(name).toLower();
  const QString path = QStandardPaths::findExecutable(program);
  if (!path.isEmpty()) return path.toStdString();
  // Flatpak and Snap install players outside PATH on many desktops; their exported launchers
  // are programs in their own right and start without a shell.
  if (program == "vlc") {
    const std::string home = fs::homeDirectory();
    for (const std::string& candidate :
         {home + "/.local/share/flatpak/exports/bin/org.videolan.VLC",
          std::string("/var/lib/flatpak/exports/bin/org.videolan.VLC"), std::string("/snap/bin/vlc")}) {
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
  }
  return std::nullopt;
}

bool QtPlatformServices::openURL(const std::string& address) {
  return QDesktopServices::openUrl(QUrl(QString::fromStdString(address)));
}

bool QtPlatformServices::isConnectedToInternet() {
  if (QNetworkInformation::loadDefaultBackend() && QNetworkInformation::instance()) {
    const auto reachability = QNetworkInformation::instance()->reachability();
    return reachability == QNetworkInformation::Reachability::Online ||
           reachability == QNetworkInformation::Reachability::Unknown;
  }
  // Without a way to tell, assume a connection and let the request itself fail.
  return true;
}

bool QtPlatformServices::showDocument(const std::string& title, const std::string& text) {
  // One reading window, raised again rather than stacked; it does not block the application.
  if (!documentWindow_) {
    auto* window = new QWidget(dialogParent_, Qt::Window);
    window->setObjectName("documentWindow");
    window->setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(window);
    auto* view = new QPlainTextEdit(window);
    view->setObjectName("documentText");
    view->setReadOnly(true);
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    layout->addWidget(view);
    auto* close = new QPushButton("Close", window);
    close->setObjectName("documentClose");
    QObject::connect(close, &QPushButton::clicked, window, &QWidget::close);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(close);
    layout->addLayout(row);
    window->resize(720, 560);
    documentWindow_ = window;
  }
  documentWindow_->setWindowTitle(QString::fromStdString(title));
  documentWindow_->findChild<QPlainTextEdit*>("documentText")->setPlainText(QString::fromStdString(text));
  documentWindow_->show();
  documentWindow_->raise();
  documentWindow_->activateWindow();
  return true;
}

void QtPlatformServices::terminate() {
  terminateRequested_ = true;
  QCoreApplication::exit(0);
}

}  // namespace qvr
