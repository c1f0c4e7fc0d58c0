#include "app/gui/GuiMain.h"

#include <QApplication>
#include <QIcon>
#include <QLocalServer>
#include <QLocalSocket>
#include <QUrl>
#include <optional>
#include <string>

#include "app/gui/AppInfo.h"
#include "app/gui/Images.h"
#include "app/gui/InstanceLock.h"
#include "app/gui/QtPlatformServices.h"
#include "app/gui/Quenda_Video_Repair_AppDelegate.h"

namespace gui {

namespace {

// The running copy listens beside its lock, so only a copy that lost the lock race talks to it.
QString handOffSocketPath(const std::string& bundleIdentifier) {
  return QString::fromStdString(qvr::InstanceLock::lockPathFor(bundleIdentifier) + ".sock");
}

std::string localPathOf(const char* argument) {
  const QString text = QString::fromLocal8Bit(argument);
  const QUrl url(text);
  if (url.isLocalFile()) return url.toLocalFile().toStdString();
  return text.toStdString();
}

bool handOffToRunningCopy(const std::string& bundleIdentifier, const std::string& path) {
  QLocalSocket socket;
  socket.connectToServer(handOffSocketPath(bundleIdentifier));
  if (!socket.waitForConnected(2000)) return false;
  socket.write(QByteArray::fromStdString(path) + '\n');
  if (!socket.waitForBytesWritten(2000)) return false;
  socket.disconnectFromServer();
  return true;
}

}  // namespace

int run(int argc, char** argv, const char* file) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Quenda Video Repair");
  QApplication::setOrganizationName("Hollin");
  QApplication::setWindowIcon(QIcon(qvr::imagePixmap("AppIcon", QSize(256, 256))));
  const qvr::AppInfo info = qvr::AppInfo::current();
  const std::optional<std::string> path = file ? std::optional(localPathOf(file)) : std::nullopt;

  if (path) {
    qvr::InstanceLock probe;
    if (probe.acquire(info.bundleIdentifier) == qvr::InstanceLock::Result::HeldElsewhere &&
        handOffToRunningCopy(info.bundleIdentifier, *path)) {
      return 0;
    }
  }

  qvr::QtPlatformServices platform;
  Quenda_Video_Repair_AppDelegate controller(platform, qvr::EngineFactory::realEngines(), info);
  platform.setDialogParent(controller.window());
  if (!controller.applicationWillFinishLaunching() || platform.terminateRequested()) return 0;
  controller.applicationDidFinishLaunching();

  // This copy holds the lock now, so a socket left by a copy that crashed is stale.
  QLocalServer::removeServer(handOffSocketPath(info.bundleIdentifier));
  QLocalServer server;
  server.setSocketOptions(QLocalServer::UserAccessOption);
  QObject::connect(&server, &QLocalServer::newConnection, &server, [&server, &controller] {
    while (QLocalSocket* socket = server.nextPendingConnection()) {
      QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, &controller] {
        while (socket->canReadLine()) {
          const QByteArray line = socket->readLine().trimmed();
          if (!line.isEmpty()) controller.openFileFromDesktop(line.toStdString());
        }
      });
    }
  });
  server.listen(handOffSocketPath(info.bundleIdentifier));
  if (path) controller.openFileFromDesktop(*path);
  return app.exec();
}

}  // namespace gui
