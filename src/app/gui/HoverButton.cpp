#include "app/gui/HoverButton.h"

#include <QEnterEvent>
#include <QPainter>

#include "app/gui/Images.h"
#include "app/gui/Theme.h"

HoverButton::HoverButton(int tag, const QString& title, QWidget* parent) : WhiteLabelButton(title, parent) {
  setAttribute(Qt::WA_Hover);
  setAttribute(Qt::WA_TranslucentBackground);
  setTag(tag);
}

HoverLook HoverButton::lookForTag(int tag) {
  using Title = HoverLook::Title;
  switch (tag) {
    case 101:
      return {"Home_key_PNG", "Home_key_Hover_PNG", "Home", Title::DarkGreyWhiteOnHover, true};
    case 103:
      return {"Help_PNG", "Help_Hover_PNG", "Help", Title::DarkGreyWhiteOnHover, true};
    case 104:
      return {"Menu_PNG", "Menu_Hover_PNG", "Menu (F10)", Title::DarkGreyWhiteOnHover, true};
    case 105:
      return {"Button Large Normal", "Button Large Hover", "", Title::DarkGreyWhiteOnHover, false};
    case 201:
      return {"", "", "", Title::Link, false};
    case 202:
      return {"", "", "", Title::PlainDarkGrey, false};
    case 203:
      return {"window close", "window close 2", "Close", Title::DarkGreyWhiteOnHover, true};
    case 204:
      return {"window round close", "window round close Hover", "", Title::DarkGreyWhiteOnHover, true};
    case 205:
      return {"window minimize", "window minimize Hover", "", Title::DarkGreyWhiteOnHover, true};
    case 210:
      return {"Support", "Support_Hover_PNG", "", Title::DarkGreyWhiteOnHover, true};
    default:
      return {"Button Small Normal", "Button Small Hover", "", Title::DarkGreyWhiteOnHover, false};
  }
}

void HoverButton::setTag(int tag) {
  WhiteLabelButton::setTag(tag);
  const HoverLook look = lookForTag(tag);
  if (!look.toolTip.isEmpty()) setToolTip(look.toolTip);
  updateGeometry();
}

QString HoverButton::currentImageName() const {
  const HoverLook look = lookForTag(tag());
  return hovered_ ? look.hoverImage : look.normalImage;
}

QColor HoverButton::currentTitleColor() const {
  switch (lookForTag(tag()).title) {
    case HoverLook::Title::Link:
      return hovered_ ? qvr::theme::darkGrey() : qvr::theme::blue();
    case HoverLook::Title::PlainDarkGrey:
      return qvr::theme::darkGrey();
    case HoverLook::Title::DarkGreyWhiteOnHover:
      break;
  }
  return hovered_ ? QColor(Qt::white) : qvr::theme::darkGrey();
}

void HoverButton::setHovered(bool hovered) {
  if (hovered_ == hovered) return;
  hovered_ = hovered;
  update();
}

void HoverButton::enterEvent(QEnterEvent* event) {
  setHovered(true);
  WhiteLabelButton::enterEvent(event);
}

void HoverButton::leaveEvent(QEvent* event) {
  setHovered(false);
  WhiteLabelButton::leaveEvent(event);
}

QSize HoverButton::sizeHint() const {
  const HoverLook look = lookForTag(tag());
  if (look.icon) return QSize(32, 32);
  if (tag() == 201 || tag() == 202) {
    const QFontMetrics metrics(qvr::theme::systemFont(13.0));
    return QSize(metrics.horizontalAdvance(text()) + 8, metrics.height() + 6);
  }
  if (tag() == 105) return QSize(220, 46);
  return QSize(132, 38);
}

void HoverButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  if (!isEnabled()) painter.setOpacity(0.4);
  const HoverLook look = lookForTag(tag());
  const QString image = currentImageName();
  if (!image.isEmpty()) {
    QRectF target = rect();
    if (look.icon) {
      const qreal side = std::min(width(), height()) * 0.8;
      target = QRectF((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    }
    qvr::drawImage(painter, image, target);
  }
  if (!text().isEmpty()) {
    const qreal size = (look.title == HoverLook::Title::DarkGreyWhiteOnHover) ? 16.0 : 13.0;
    AttributedString title = getAttributedString(text(), currentTitleColor(), size);
    if (look.title == HoverLook::Title::Link) title.font.setUnderline(true);
    drawTitle(painter, title);
  }
  drawFocusRing(painter, look.icon ? std::min(width(), height()) / 2.0 : 6.0);
}
