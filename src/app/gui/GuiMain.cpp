#include "app/gui/GuiMain.h"

#include <QApplication>
#include <QLabel>

namespace gui {

int run(int argc, char** argv) {
  QApplication app(argc, argv);
  QLabel label("Quenda Video Repair");
  label.show();
  return app.exec();
}

}  // namespace gui
