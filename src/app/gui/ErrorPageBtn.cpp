#include "app/gui/ErrorPageBtn.h"

#include <QEnterEvent>
#include <QPainter>

#include "app/gui/Theme.h"

ErrorPageBtn::ErrorPageBtn(const QString& title, int tag, QWidget* parent) : WhiteLabelButton(title, parent) {
  setAttribute(Qt::WA_Hover);
  setTag(tag);
}

void ErrorPageBtn::setEnabledState(bool enabled) {
  setEnabled(enabled);
  update();
}

bool ErrorPageBtn::blueLook() const { return (hovered_ && isEnabled()) || tag() == kPrimaryTag; }

QColor ErrorPageBtn::currentBackgroundColor() const { return blueLook() ? qvr::theme::blue() : QColor(Qt::white); }

QColor ErrorPageBtn::currentTitleColor() const {
  if (!isEnabled()) return tag() == kPrimaryTag ? QColor(Qt::white) : qvr::theme::border();
  return blueLook() ? QColor(Qt::white) : qvr::theme::darkGrey();
}

void ErrorPageBtn::enterEvent(QEnterEvent* event) {
  hovered_ = true;
  update();
  WhiteLabelButton::enterEvent(event);
}

void ErrorPageBtn::leaveEvent(QEvent* event) {
  hovered_ = false;
  update();
  WhiteLabelButton::leaveEvent(event);
}

QSize ErrorPageBtn::sizeHint() const {
  const QFontMetrics metrics(qvr::theme::systemFont(14.0));
  return QSize(std::max(110, metrics.horizontalAdvance(text()) + 36), 36);
}

void ErrorPageBtn::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  if (!isEnabled()) painter.setOpacity(0.6);
  const QRectF face = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  QColor background = currentBackgroundColor();
  if (isDown() && blueLook()) background = qvr::theme::blueDark();
  painter.setBrush(background);
  if (blueLook()) {
    painter.setPen(Qt::NoPen);
  } else {
    painter.setPen(QPen(qvr::theme::darkGrey(), 1.0));
  }
  painter.drawRoundedRect(face, 2.0, 2.0);
  drawTitle(painter, getAttributedString(text(), currentTitleColor(), 14.0));
  drawFocusRing(painter, 3.0);
}
