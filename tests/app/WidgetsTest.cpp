#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPushButton>

#include "AppTestSupport.h"
#include "app/gui/ErrorPageBtn.h"
#include "app/gui/HoverButton.h"
#include "app/gui/Images.h"
#include "app/gui/coreWindow.h"

namespace {

void hover(QWidget& widget, bool inside) {
  if (inside) {
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(&widget, &enter);
  } else {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&widget, &leave);
  }
}

TEST(HoverButtonLook, TagTableChoosesImagesAndEveryImageExists) {
  const struct {
    int tag;
    const char* normal;
    const char* hover;
  } table[] = {{101, "Home_key_PNG", "Home_key_Hover_PNG"},
               {103, "Help_PNG", "Help_Hover_PNG"},
               {105, "Button Large Normal", "Button Large Hover"},
               {203, "window close", "window close 2"},
               {204, "window round close", "window round close Hover"},
               {205, "window minimize", "window minimize Hover"},
               {210, "Support", "Support_Hover_PNG"},
               {0, "Button Small Normal", "Button Small Hover"},
               {999, "Button Small Normal", "Button Small Hover"}};
  for (const auto& row : table) {
    HoverButton button(row.tag, "Title");
    EXPECT_EQ(button.currentImageName(), row.normal) << row.tag;
    hover(button, true);
    EXPECT_EQ(button.currentImageName(), row.hover) << row.tag;
    EXPECT_EQ(button.currentTitleColor(), QColor(Qt::white)) << row.tag;
    hover(button, false);
    EXPECT_EQ(button.currentImageName(), row.normal) << row.tag;
    EXPECT_TRUE(qvr::hasImage(row.normal)) << row.normal;
    EXPECT_TRUE(qvr::hasImage(row.hover)) << row.hover;
  }
  EXPECT_EQ(HoverButton(203).toolTip(), "Close");
}

TEST(HoverButtonLook, LinkAndPlainTitlesKeepNoImage) {
  HoverButton link(201, "Install VLC");
  EXPECT_TRUE(link.currentImageName().isEmpty());
  const QColor rest = link.currentTitleColor();
  hover(link, true);
  EXPECT_NE(link.currentTitleColor(), rest);
  EXPECT_NE(link.currentTitleColor(), QColor(Qt::white));

  HoverButton plain(202, "Note");
  const QColor plainRest = plain.currentTitleColor();
  hover(plain, true);
  EXPECT_EQ(plain.currentTitleColor(), plainRest);
}

TEST(ErrorPageBtnLook, BlueUnderThePointerWhiteAtRestPrimaryAlwaysBlue) {
  ErrorPageBtn plain("OK");
  EXPECT_EQ(plain.currentBackgroundColor(), QColor(Qt::white));
  hover(plain, true);
  EXPECT_EQ(plain.currentBackgroundColor(), QColor(5, 137, 239));
  EXPECT_EQ(plain.currentTitleColor(), QColor(Qt::white));
  plain.setEnabledState(false);
  EXPECT_FALSE(plain.isEnabled());
  EXPECT_EQ(plain.currentBackgroundColor(), QColor(Qt::white)) << "a disabled button does not light up";

  ErrorPageBtn primary("Send", ErrorPageBtn::kPrimaryTag);
  EXPECT_EQ(primary.currentBackgroundColor(), QColor(5, 137, 239));
  EXPECT_EQ(primary.currentTitleColor(), QColor(Qt::white));
}

TEST(WhiteLabelButtonTitle, SixteenPixelSystemFontUnlessSized) {
  WhiteLabelButton button("Repair");
  const AttributedString title = button.getAttributedStringWithColor(Qt::white);
  EXPECT_EQ(title.text, "Repair");
  EXPECT_EQ(title.font.pixelSize(), 16);
  EXPECT_EQ(WhiteLabelButton::getAttributedString("x", Qt::red, 13.0).font.pixelSize(), 13);
  button.setTitle("Resume");
  EXPECT_EQ(button.title(), "Resume");
}

TEST(CoreWindowBehaviour, CoversItsParentClosesOnlyOnPurpose) {
  QWidget parent;
  parent.resize(500, 400);
  parent.show();
  auto* inner = new QPushButton("under", &parent);
  inner->setGeometry(10, 10, 100, 30);
  inner->show();
  int innerClicks = 0;
  QObject::connect(inner, &QPushButton::clicked, [&] { ++innerClicks; });

  coreWindow dialog(&parent);
  auto* ok = new QPushButton("OK", &dialog);
  dialog.showWindowOnWindow(&parent);
  ASSERT_TRUE(dialog.isVisible());
  ASSERT_NE(dialog.overlay(), nullptr);
  EXPECT_EQ(dialog.overlay()->geometry(), parent.rect());
  EXPECT_TRUE(ok->hasFocus() || QApplication::focusWidget() == nullptr);

  // What lies under the overlay no longer receives the pointer.
  EXPECT_EQ(parent.childAt(20, 20), dialog.overlay());
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(20, 20), QPointF(20, 20), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(parent.childAt(20, 20), &press);
  EXPECT_EQ(innerClicks, 0);

  dialog.close();
  dialog.reject();
  EXPECT_TRUE(dialog.isVisible()) << "neither the window manager nor Escape closes it";

  dialog.closeWindow();
  EXPECT_FALSE(dialog.isVisible());
  apptest::spin(50);
  EXPECT_EQ(dialog.overlay(), nullptr);
  EXPECT_EQ(parent.childAt(20, 20), inner);
}

}  // namespace
