// Dialog units: the window layouts are given in units of the dialog font,
// a quarter of the average character width across and an eighth of the
// character height down, so the windows scale with their font.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace qrxc::ui {

class Dialog_units {
public:
    Dialog_units(int base_x, int base_y) : base_x_(base_x), base_y_(base_y) {}

    // The base units of a font: the average width of the Latin alphabet
    // (rounded half up) and the font's line height.
    static Dialog_units for_font(const QFont &font);

    int x(int du) const { return scale(du, base_x_, 4); }
    int y(int du) const { return scale(du, base_y_, 8); }
    QRect rect(int x0, int y0, int w, int h) const { return {x(x0), y(y0), x(w), y(h)}; }
    QSize size(int w, int h) const { return {x(w), y(h)}; }

    int base_x() const { return base_x_; }
    int base_y() const { return base_y_; }

    // value * num / den (den > 0) rounded to nearest, halves away from zero.
    static int scale(int value, int num, int den);

private:
    int base_x_;
    int base_y_;
};

// The font of both windows: a Korean UI font at 9 points, so every Hangul
// text renders; the fallbacks cover systems without the first choice.
QFont dialog_font();

}  // namespace qrxc::ui
