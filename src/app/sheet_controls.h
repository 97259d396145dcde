#pragma once
// The font and the placing of the controls on the window's sheets.
#include <QFont>
#include <QString>

class QLabel;
class QWidget;

namespace quenlith {

constexpr int kControlPixels = 11;
constexpr int kRowHeight = 17;
constexpr int kEditHeight = 21;
constexpr int kEditColumn = 168;

QFont helvetica(int pixels, bool bold = false);

// Names a control, gives it its place and the sheets' font.
template <typename W> W* place(W* w, const char* name, int x, int y, int width, int height) {
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(x, y, width, height);
    w->setFont(helvetica(kControlPixels));
    return w;
}

QLabel* addLabel(QWidget* parent, const char* name, const QString& text, int x, int y,
                 int width = 158);
QLabel* addHeading(QWidget* parent, const char* name, const QString& text, int x, int y,
                   int pixels = kControlPixels);

// Orders the keyboard focus of a sheet's controls as they are read: row by row from the top,
// left to right within a row (a row: centres within the same ten pixels).
void orderFocusByPlace(QWidget* sheet);

} // namespace quenlith
