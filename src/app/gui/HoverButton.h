#pragma once

#include <QString>

#include "app/gui/WhiteLabelButton.h"

// How a HoverButton looks for its tag.
struct HoverLook {
  QString normalImage;  // empty: no image
  QString hoverImage;
  QString toolTip;
  enum class Title { DarkGreyWhiteOnHover, Link, PlainDarkGrey } title = Title::DarkGreyWhiteOnHover;
  // Icons keep their proportions and sit in the middle; faces fill the whole button.
  bool icon = false;
};

// A button that changes image and title colour while the pointer is over it.
class HoverButton : public WhiteLabelButton {
  Q_OBJECT

 public:
  explicit HoverButton(int tag = 0, const QString& title = QString(), QWidget* parent = nullptr);

  // The tag table of the product's buttons.
  static HoverLook lookForTag(int tag);

  void setTag(int tag) override;
  bool isHovered() const { return hovered_; }
  // The image this button currently shows (resource name without folder), empty for none.
  QString currentImageName() const;
  QColor currentTitleColor() const;

 public:
  QSize sizeHint() const override;

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void setHovered(bool hovered);
  bool hovered_ = false;
};
