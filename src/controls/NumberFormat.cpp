#include "controls/NumberFormat.h"

namespace numfmt {

QString pad(qint64 value, int digits)
{
    const quint64 magnitude = value < 0 ? quint64(0) - quint64(value) : quint64(value);
    const QString body = QString::number(magnitude).rightJustified(digits, QLatin1Char('0'));
    return value < 0 ? QLatin1Char('-') + body : body;
}

} // namespace numfmt
