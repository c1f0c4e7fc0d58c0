#pragma once

#include <QColor>
#include <QFont>
#include <QPushButton>
#include <QString>

// A title with the style it is drawn in.
struct AttributedString {
  QString text;
  QFont font;
  QColor color;
};

// A button whose title is drawn in the system font, 16 px, centred, in white over a blue face.
// Subclasses reuse the title styling with their own colours and faces.
class WhiteLabelButton : public QPushButton {
  Q_OBJECT

 public:
  explicit WhiteLabelButton(const QString& title = QString(), QWidget* parent = nullptr);

  // Sets the title and draws it again in the button's style.
  void setTitle(const QString& title);
  QString title() const { return text(); }

  // The tag chooses a look in subclasses and identifies the button to actions.
  int tag() const { return tag_; }
  virtual void setTag(int tag);

  AttributedString getAttributedStringWithColor(const QColor& color) const;
  static AttributedString getAttributedString(const QString& text, const QColor& color);
  static AttributedString getAttributedString(const QString& text, const QColor& color, qreal size);

 public:
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  // Return and Enter press the focused button, as Space does.
  void keyPressEvent(QKeyEvent* event) override;
  void drawTitle(QPainter& painter, const AttributedString& title) const;
  // A ring around the button while it has keyboard focus.
  void drawFocusRing(QPainter& painter, qreal radius) const;

 private:
  int tag_ = 0;
};
