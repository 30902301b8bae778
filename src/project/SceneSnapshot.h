#pragma once
// The whole scene of the main window as a plain value: the background, every
// character and prop with the bytes of its picture, the object list and its
// numbering, and the settings that shape the next slide. Taking one reads the
// window's controls; applying one rebuilds the stage so that it draws exactly
// as it did, without recording a slide or stepping a frame on the way.

#include <QByteArray>
#include <QList>
#include <QRectF>
#include <QString>
#include <QStringList>

class frmMain;

namespace project {

// One character, prop or caption on the stage.
struct StageObject {
    enum class Kind : quint8 { Character = 1, Prop = 2, Caption = 3 };
    Kind kind = Kind::Character;
    int number = 0;       // its element in AniGIF1 or Image1, the number its list entry shows
    QByteArray picture;   // the file it was loaded from, as it was read; empty for a caption
    QRectF geometry;      // twips, inside the background
    bool visible = true;
    // Characters only.
    int frame = 0;
    bool playing = false;
    bool autoSize = true;
    int sizeMode = 0;
    // Captions only: the text and style in their kept form (text::encode).
    QByteArray caption = {};

    bool operator==(const StageObject &) const = default;
};

// A spin control's range and value.
struct SpinState {
    int minimum = 0;
    int maximum = 0;
    int value = 0;
    bool operator==(const SpinState &) const = default;
};

struct SceneSnapshot {
    // The background: its file's bytes (a lossless copy when the file is not known, empty when there is no
    // picture), where it stands and how far the arrows pan it.
    QByteArray background;
    QRectF backgroundGeometry;   // twips, inside the stage
    SpinState backgroundX;   // UpDown3
    SpinState backgroundY;   // UpDown4
    bool backgroundRemovable = false;   // "Удалить фон" is available
    bool startAnimation = true;         // the start-up animation still plays on the stage
    // A title card on show in place of the background, in its kept form (text::encode); empty when none.
    // The background fields above then describe the background it covers, which comes back without it.
    QByteArray titleCard;

    QList<StageObject> objects;         // bottom to top
    // The hidden character template: moved or sized while nothing is selected, it sets where and how
    // large new characters appear.
    QRectF characterPlace;
    bool characterAutoSize = true;
    int characterSizeMode = 0;

    // The object list and the choice in it.
    QStringList entries;
    int currentRow = -1;
    bool entrySelected = false;
    qint16 selectedIndex = 0;
    bool selectedIsProp = false;
    qint16 characterCount = 0;
    qint16 propCount = 0;

    // The selected character's controls and what the statistics show.
    SpinState characterX;    // UpDown5
    SpinState characterY;    // UpDown6
    int frameCounter = 0;
    QString animateCaption;  // "Оживить" or "Остановить"
    bool deleteEnabled = false;
    bool changeActionEnabled = false;
    bool animateEnabled = false;
    QStringList captions;    // the statistics and "W =", "H =", "X =", "Y =" texts, in a fixed order

    // Settings.
    int step = 200;            // "Интервал шаг"
    bool syncFrame = false;    // "Синхро" under "Действие"
    bool syncRecord = false;   // "Синхро" over "ЗАПИСЬ"
    bool onionSkin = false;    // "Калька"
    int previewRate = 12;

    bool operator==(const SceneSnapshot &) const = default;

    // Every picture the scene holds: the background first, then the objects' in order.
    QList<QByteArray> pictures() const;
};

SceneSnapshot takeSnapshot(frmMain &main);

// Replaces the window's scene with `scene`: the objects on the stage are
// removed and made again, the background, the list, the counters and the
// settings are set. Slides are left alone.
void applySnapshot(frmMain &main, const SceneSnapshot &scene);

} // namespace project
