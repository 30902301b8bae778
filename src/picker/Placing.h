#pragma once
// Puts the file chosen in the picker on the stage, the way the picker mode
// says: a new background, a new character, a new prop, or a new action for
// the character selected in the object list.

#include <QString>

class frmMain;

namespace picker {

enum class Placed {
    Nothing,        // the scene is as it was
    Background,
    Character,
    Prop,
    Action,         // the selected character took the new animation
};

// `folder` is the full path of the mode's folder, `fileName` the chosen
// file's name in it.
Placed placeAsset(frmMain &main, const QString &mode, const QString &folder, const QString &fileName);

} // namespace picker
