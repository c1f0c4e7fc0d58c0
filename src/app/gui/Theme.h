#pragma once

#include <QColor>
#include <QFont>
#include <QString>

// The application's few colours and type sizes, kept in one place so the screens agree.
namespace qvr::theme {

inline QColor blue() { return QColor(5, 137, 239); }
inline QColor blueDark() { return QColor(3, 110, 196); }
inline QColor darkGrey() { return QColor(0x44, 0x4a, 0x55); }
inline QColor text() { return QColor(0x23, 0x29, 0x33); }
inline QColor subtleText() { return QColor(0x6b, 0x73, 0x80); }
inline QColor border() { return QColor(0xd5, 0xdb, 0xe3); }
inline QColor background() { return QColor(0xf3, 0xf6, 0xfa); }
inline QColor card() { return QColor(0xff, 0xff, 0xff); }
inline QColor success() { return QColor(0x1f, 0xa9, 0x6b); }

// Sizes are given as the product's design states them, in device-independent pixels.
inline QFont systemFont(qreal size, int weight = QFont::Normal) {
  QFont font;
  font.setPixelSize(static_cast<int>(size));
  font.setWeight(static_cast<QFont::Weight>(weight));
  return font;
}

}  // namespace qvr::theme
