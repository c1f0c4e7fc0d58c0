#pragma once

#include <QPainter>
#include <QRectF>
#include <QString>

namespace qvr {

// Draws one of the application's images (named as the screens name them, e.g. "Home_key_PNG")
// into `target`. An unknown name draws nothing.
void drawImage(QPainter& painter, const QString& name, const QRectF& target);
bool hasImage(const QString& name);
QPixmap imagePixmap(const QString& name, const QSize& size);

}  // namespace qvr
