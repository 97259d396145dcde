#include "app/sheet_controls.h"

#include <QLabel>
#include <algorithm>
#include <vector>

namespace quenlith {

QFont helvetica(int pixels, bool bold) {
    QFont font;
    font.setFamilies(
        {"adobe-helvetica", "Helvetica", "Nimbus Sans", "Liberation Sans", "DejaVu Sans"});
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QLabel* addLabel(QWidget* parent, const char* name, const QString& text, int x, int y, int width) {
    return place(new QLabel(text, parent), name, x, y, width, kRowHeight);
}

QLabel* addHeading(QWidget* parent, const char* name, const QString& text, int x, int y,
                   int pixels) {
    QLabel* label = place(new QLabel(text, parent), name, x, y, 300, pixels + 6);
    label->setFont(helvetica(pixels, true));
    return label;
}

void orderFocusByPlace(QWidget* sheet) {
    struct Stop {
        int row, x;
        QWidget* w;
    };
    std::vector<Stop> stops;
    for (QWidget* w : sheet->findChildren<QWidget*>()) {
        if (!(w->focusPolicy() & Qt::TabFocus)) continue;
        // The parts of a control (a tree's header, a list's view) keep their own order.
        bool part = false;
        for (QWidget* up = w->parentWidget(); up && up != sheet; up = up->parentWidget())
            part = part || (up->focusPolicy() & Qt::TabFocus);
        if (part) continue;
        const QRect r(w->mapTo(sheet, QPoint(0, 0)), w->size());
        stops.push_back({r.center().y() / 10, r.x(), w});
    }
    std::stable_sort(stops.begin(), stops.end(), [](const Stop& a, const Stop& b) {
        return a.row != b.row ? a.row < b.row : a.x < b.x;
    });
    QWidget* previous = sheet; // the first control right after the sheet itself
    for (const Stop& stop : stops) {
        QWidget::setTabOrder(previous, stop.w);
        previous = stop.w;
    }
}

} // namespace quenlith
