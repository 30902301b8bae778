#pragma once
// Where the program reads its asset library and writes its slides.
//
// Portable: the folder of the executable holds the asset library ("objects",
// "articles", "fones", any one of them; a missing one is an empty folder); it
// is the program folder, and "Animations" is made beside the program.
// Installed: the shipped library lies in share/vellumo beside bin/; the
// user's own assets are read from the user's data folder, and slides go into
// "Animations" under the user's Pictures folder. Nothing is written under
// the installation prefix.

#include <QString>

namespace app {

struct Folders {
    bool portable = true;
    QString programFolder; // the shipped asset library lies here
    QString userAssets;    // the user's own "objects", "articles", "fones"; empty when portable
    QString slidesParent;  // "Animations" is made in here
    QString journal;       // the recovery journal of this program folder
};

// The folders for an executable lying in `exeFolder`. `userData` and
// `pictures` are the user's data and Pictures folders (see userFolders()).
Folders resolveFolders(const QString &exeFolder, const QString &userData, const QString &pictures);

// The folders of this run, from the desktop's settings: the user's data
// folder (~/.local/share/vellumo), Pictures folder (localised by the user's
// folder settings) and state folder (~/.local/state/vellumo), in which each
// program folder has its journal folder. Journals an older version left in
// the state folder itself are moved into this program folder's.
Folders foldersForExecutable(const QString &exeFolder);

// Whether `folder` holds an asset library: any of its three folders.
bool holdsAssetLibrary(const QString &folder);

} // namespace app
