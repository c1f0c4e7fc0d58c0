#pragma once

#include "app/gui/WhiteLabelButton.h"

// The flat buttons of dialogs: blue with a white title under the pointer, white with a grey
// border otherwise. Tag 111 marks the primary button, blue at rest too.
class ErrorPageBtn : public WhiteLabelButton {
  Q_OBJECT

 public:
  static constexpr int kPrimaryTag = 111;

  explicit ErrorPageBtn(const QString& title = QString(), int tag = 0, QWidget* parent = nullptr);

  // Enables or disables; a disabled button shows a white title.
  void setEnabledState(bool enabled);
  bool isHovered() const { return hovered_; }
  QColor currentBackgroundColor() const;
  QColor currentTitleColor() const;

 public:
  QSize sizeHint() const override;

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  bool blueLook() const;
  bool hovered_ = false;
};
