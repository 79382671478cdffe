#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QtMath>

// The option windows are laid out in twips: 1/1440 inch, 15 twips to the pixel at 96 dpi.
namespace prefs {

inline int twips(int value) {
    return qRound(value / 15.0);
}

inline QRect twipsRect(int left, int top, int width, int height) {
    return QRect(twips(left), twips(top), twips(width), twips(height));
}

inline QPoint twipsPoint(int left, int top) {
    return QPoint(twips(left), twips(top));
}

inline QSize twipsSize(int width, int height) {
    return QSize(twips(width), twips(height));
}

} // namespace prefs
