#include "picker/ObjectEntry.h"

#include "text/Caption.h"

namespace picker {

namespace {

const QString &marker()
{
    static const QString m = QStringLiteral(") индекс > ");
    return m;
}

} // namespace

QString characterEntry(const QString &assetName, int number)
{
    return QStringLiteral("персонаж (") + assetName + marker() + QString::number(number);
}

QString propEntry(const QString &assetName, int number)
{
    return QStringLiteral("предмет (") + assetName + marker() + QString::number(number);
}

QString captionEntry(const QString &text, int number)
{
    return QStringLiteral("надпись (") + text::firstWords(text) + marker() + QString::number(number);
}

EntryKind entryKind(const QString &entry)
{
    const QString head = entry.left(3);
    if (head == QStringLiteral("пер"))
        return EntryKind::Character;
    if (head == QStringLiteral("пре") || head == QStringLiteral("над"))
        return EntryKind::Prop;
    return EntryKind::Unknown;
}

std::optional<qint16> entryNumber(const QString &entry)
{
    // The last marker, because an asset name may itself contain the marker text.
    const qsizetype at = entry.lastIndexOf(marker());
    if (at < 0)
        return std::nullopt;
    const QStringView digits = QStringView(entry).mid(at + marker().size());
    if (digits.isEmpty() || digits.size() > 5)
        return std::nullopt;
    for (QChar c : digits)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    const int n = digits.toInt();
    if (n > 32767)
        return std::nullopt;
    return qint16(n);
}

} // namespace picker
