#include "dialog_units.h"

#include <QFontMetrics>
#include <QStringList>

namespace qrxc::ui {

Dialog_units Dialog_units::for_font(const QFont &font) {
    const QFontMetrics fm(font);
    const int alphabet = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(alphabet / 26 + 1) / 2, fm.height()};
}

int Dialog_units::scale(int value, int num, int den) {
    const long long p = static_cast<long long>(value) * num;
    const long long d = den;
    const long long q = p >= 0 ? (2 * p + d) / (2 * d) : -((-2 * p + d) / (2 * d));
    return static_cast<int>(q);
}

QFont dialog_font() {
    QFont f;
    f.setFamilies({QStringLiteral("NanumGothic"), QStringLiteral("나눔고딕"), QStringLiteral("Noto Sans CJK KR"),
                   QStringLiteral("UnDotum"), QStringLiteral("Baekmuk Gulim"), QStringLiteral("sans-serif")});
    f.setPointSize(9);
    return f;
}

}  // namespace qrxc::ui
