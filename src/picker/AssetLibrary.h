#pragma once
// The asset library: three flat folders beside the program, one per kind of
// asset, and the picker mode that says which one the picker lists.

#include <QString>
#include <QStringList>

namespace picker {

// Folder (relative to the program folder) that a picker mode lists:
// "fones" for "fon", "objects" for "person" and "changePerson", "articles"
// for "articles"; empty for any other text.
QString folderForMode(const QString &mode);

// Pattern the mode's folder is listed with: "*.*" for backgrounds, "*.gif" otherwise.
QString patternForMode(const QString &mode);

// The names (without folder) of the files lying directly in `folder` that
// match `pattern` case-insensitively, sorted by name without regard to case.
// "*.*" matches every file, with or without an extension. Only regular
// files are listed, after symbolic links are followed: no directories,
// FIFOs, devices or sockets. A missing folder lists nothing.
QStringList listAssets(const QString &folder, const QString &pattern);

// The name an asset goes by in the object list: the file name without its
// last four characters (".gif").
QString assetName(const QString &fileName);

} // namespace picker
