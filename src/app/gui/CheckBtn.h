#pragma once

#include <QCheckBox>

// The check box of one upload-list entry. It names its entry by its row in the controller's list,
// which the report window rebuilds whenever the list changes.
class CheckBtn : public QCheckBox {
  Q_OBJECT

 public:
  explicit CheckBtn(int fileClass, QWidget* parent = nullptr);
  int getFileClass() const { return fileClass_; }

 private:
  int fileClass_;
};
