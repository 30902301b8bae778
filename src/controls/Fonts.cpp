#include "controls/Fonts.h"

namespace fonts {

namespace {
QFont make(const QString &family, double pointSize, bool bold)
{
    QFont f(family);
    f.setPointSizeF(pointSize);
    f.setBold(bold);
    return f;
}
} // namespace

QFont msSansSerif(double pointSize, bool bold)
{
    return make(QStringLiteral("Liberation Sans"), pointSize, bold);
}

QFont smallFonts(double pointSize)
{
    return make(QStringLiteral("Liberation Sans"), pointSize, false);
}

QFont timesNewRoman(double pointSize, bool bold)
{
    return make(QStringLiteral("Liberation Serif"), pointSize, bold);
}

QFont listFont()
{
    return make(QStringLiteral("Liberation Sans Narrow"), 8.25, true);
}

} // namespace fonts
