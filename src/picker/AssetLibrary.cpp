#include "picker/AssetLibrary.h"

#include <QDir>

#include "files/AssetFile.h"

namespace picker {

QString folderForMode(const QString &mode)
{
    if (mode == QLatin1String("fon"))
        return QStringLiteral("fones");
    if (mode == QLatin1String("person") || mode == QLatin1String("changePerson"))
        return QStringLiteral("objects");
    if (mode == QLatin1String("articles"))
        return QStringLiteral("articles");
    return QString();
}

QString patternForMode(const QString &mode)
{
    return mode == QLatin1String("fon") ? QStringLiteral("*.*") : QStringLiteral("*.gif");
}

QStringList listAssets(const QString &folder, const QString &pattern)
{
    if (folder.isEmpty())
        return {};
    QDir dir(folder);
    if (!dir.exists())
        return {};
    // A file list box treats "*.*" as "every file"; QDir would demand a dot.
    if (pattern != QLatin1String("*.*"))
        dir.setNameFilters({pattern});
    // QDir counts a link to a FIFO or a device as a file; the picker reads only regular files.
    QStringList names = dir.entryList(QDir::Files, QDir::Name | QDir::IgnoreCase);
    const QString prefix = dir.path() + QLatin1Char('/');
    names.removeIf([&prefix](const QString &name) { return !files::isRegularFile(prefix + name); });
    return names;
}

QString assetName(const QString &fileName)
{
    return fileName.left(std::max<qsizetype>(0, fileName.size() - 4));
}

} // namespace picker
