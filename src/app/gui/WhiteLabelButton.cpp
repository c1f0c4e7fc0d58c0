#include "app/gui/WhiteLabelButton.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

#include "app/gui/Theme.h"

WhiteLabelButton::WhiteLabelButton(const QString& title, QWidget* parent) : QPushButton(title, parent) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::StrongFocus);
  setAutoDefault(false);
}

void WhiteLabelButton::setTitle(const QString& title) {
  setText(title);
  update();
}

void WhiteLabelButton::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
    if (isEnabled()) animateClick();
    event->accept();
    return;
  }
  QPushButton::keyPressEvent(event);
}

void WhiteLabelButton::setTag(int tag) {
  tag_ = tag;
  update();
}

AttributedString WhiteLabelButton::getAttributedStringWithColor(const QColor& color) const {
  return getAttributedString(text(), color);
}

AttributedString WhiteLabelButton::getAttributedString(const QString& text, const QColor& color) {
  return getAttributedString(text, color, 16.0);
}

AttributedString WhiteLabelButton::getAttributedString(const QString& text, const QColor& color, qreal size) {
  return AttributedString{text, qvr::theme::systemFont(size), color};
}

QSize WhiteLabelButton::sizeHint() const {
  const QFontMetrics metrics(qvr::theme::systemFont(16.0));
  return QSize(metrics.horizontalAdvance(text()) + 40, 38);
}

void WhiteLabelButton::drawTitle(QPainter& painter, const AttributedString& title) const {
  painter.setFont(title.font);
  painter.setPen(title.color);
  painter.drawText(rect(), Qt::AlignCenter, title.text);
}

void WhiteLabelButton::drawFocusRing(QPainter& painter, qreal radius) const {
  if (!hasFocus()) return;
  QColor ring = qvr::theme::blue();
  ring.setAlpha(150);
  painter.setPen(QPen(ring, 2.0));
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), radius, radius);
}

void WhiteLabelButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  if (!isEnabled()) painter.setOpacity(0.45);
  const QColor face = isDown() ? qvr::theme::blueDark() : qvr::theme::blue();
  painter.setPen(Qt::NoPen);
  painter.setBrush(face);
  painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
  drawTitle(painter, getAttributedStringWithColor(Qt::white));
  drawFocusRing(painter, 4);
}
