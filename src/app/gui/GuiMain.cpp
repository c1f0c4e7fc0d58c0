#include "app/gui/GuiMain.h"

#include <QApplication>
#include <QIcon>

#include "app/gui/Images.h"
#include "app/gui/QtPlatformServices.h"
#include "app/gui/Quenda_Video_Repair_AppDelegate.h"

namespace gui {

int run(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Quenda Video Repair");
  QApplication::setOrganizationName("Hollin");
  QApplication::setWindowIcon(QIcon(qvr::imagePixmap("AppIcon", QSize(256, 256))));

  qvr::QtPlatformServices platform;
  Quenda_Video_Repair_AppDelegate controller(platform, qvr::EngineFactory::realEngines());
  platform.setDialogParent(controller.window());
  if (!controller.applicationWillFinishLaunching() || platform.terminateRequested()) return 0;
  controller.applicationDidFinishLaunching();
  return app.exec();
}

}  // namespace gui
