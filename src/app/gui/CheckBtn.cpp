#include "app/gui/CheckBtn.h"

CheckBtn::CheckBtn(int fileClass, QWidget* parent) : QCheckBox(parent), fileClass_(fileClass) {
  setGeometry(3, 3, 15, 15);
  setObjectName("CheckBtn");
  setFocusPolicy(Qt::StrongFocus);
}
