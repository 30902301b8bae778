#include "app/Folders.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "slides/Journal.h"

namespace app {

bool holdsAssetLibrary(const QString &folder)
{
    // Any one of the three will do: a copy unpacked without its props (or
    // with props alone) is still portable, and what is missing reads as empty.
    const QDir dir(folder);
    for (const char *kind : {"objects", "articles", "fones"})
        if (QFileInfo(dir.filePath(QLatin1String(kind))).isDir())
            return true;
    return false;
}

Folders resolveFolders(const QString &exeFolder, const QString &userData, const QString &pictures)
{
    Folders f;
    if (holdsAssetLibrary(exeFolder)) {
        f.programFolder = exeFolder;
        f.slidesParent = exeFolder;
        return f;
    }
    f.portable = false;
    f.programFolder = QDir::cleanPath(exeFolder + QStringLiteral("/../share/vellumo"));
    f.userAssets = userData;
    f.slidesParent = QDir(pictures).filePath(QStringLiteral("Vellumo"));
    return f;
}

Folders foldersForExecutable(const QString &exeFolder)
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (pictures.isEmpty())
        pictures = QDir::home().filePath(QStringLiteral("Pictures"));
    Folders f = resolveFolders(exeFolder, QDir(data).filePath(QStringLiteral("vellumo")), pictures);
    f.journal = slides::journal::folderFor(f.programFolder);
    slides::journal::takeOverOlderJournals(f.journal);
    return f;
}

} // namespace app
