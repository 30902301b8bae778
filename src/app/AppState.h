#pragma once
// Program-wide state, shared by the windows that need it. A fresh object is
// a fresh program: tests build one per case in a temporary program folder.

#include <QString>

#include <functional>

#include "controls/Messages.h"
#include "controls/ShowInFolder.h"

struct AppState {
    QString programFolder;      // where the shipped asset library lies (beside the program when portable)
    QString userAssets;         // the user's own "objects", "articles", "fones"; empty when portable
    QString slidesParent;       // "Animations" is made in here; the program folder when empty
    QString AnimationsFolder;   // programFolder + "/Animations/", set at start-up
    QString stateFolder;        // where the recovery journal is kept; empty: no journal
    bool SlidesUnsaved = false; // slides recorded with the record button and not saved since
    qint16 SelectedIndex = 0;   // number of the object last selected in the object list; 0 = the template
    qint16 CharacterCount = 0;  // last number handed out to a character; never decremented
    qint16 PropCount = 0;       // last number handed out to a prop; never decremented
    QString PickerMode;         // "person", "articles", "fon" or "changePerson"
    int PreviewRate = 12;       // slides per second last chosen in the preview; an export starts at it

    // Every message box goes through here; tests replace it to answer.
    controls::MessageFn message = controls::showMessageBox;
    // Opens a file's folder in the desktop's file manager; tests replace it
    // so that none is started.
    std::function<void(const QString &file)> showInFolder = controls::showInFolder;
    // Ends the program at once, closing every window; tests replace it to watch.
    std::function<void()> endProgram;

    // programFolder followed by a relative path, with the platform's separators.
    QString path(const QString &relative) const { return programFolder + QLatin1Char('/') + relative; }
};
