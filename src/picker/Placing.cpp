#include "picker/Placing.h"

#include <QLabel>
#include <QListWidget>

#include "anigif/GifDecoder.h"
#include "app/frmMain.h"
#include "files/Deadline.h"
#include "picker/AssetLibrary.h"
#include "picker/ObjectEntry.h"
#include "picker/ThumbnailLoader.h"

namespace picker {

namespace {

// Width of the stage viewport and the vertical figure the background's range is measured from, twips.
constexpr int StageWidth = 6000;
constexpr int StageHeight = 5000;
constexpr qint16 LastNumber = 32767;

struct Picture {
    QImage image;
    QByteArray bytes;      // the file as read, for a saved scene to carry
    bool refused = true;   // the file was refused rather than read and found no picture
};

// The whole picture, read on a thread of its own so that a file that does
// not answer is refused instead of freezing the window.
Picture readPictureBounded(const QString &path)
{
    const std::optional<Picture> read = files::runWithDeadline<Picture>([path] {
        Picture p;
        p.image = ThumbnailLoader::readPicture(path, &p.refused, &p.bytes);
        return p;
    });
    return read.value_or(Picture());
}

Placed placeBackground(frmMain &m, const QString &path)
{
    // The picker holds only thumbnails, so the background is read whole now.
    const Picture read = readPictureBounded(path);
    const QImage &picture = read.image;
    if (picture.isNull())
        return Placed::Nothing;
    // A title card on show is replaced together with the background it covered.
    m.forgetTitleCard();
    m.Picture3->setPicture(picture, read.bytes);
    const int w = qRound(m.Picture3->scaleWidth());
    const int h = qRound(m.Picture3->scaleHeight());
    // A larger background pans from StageWidth - w up to 0; a smaller one from
    // 0 up to StageWidth - w, so that it always stays inside the stage and the
    // arrows keep their direction.
    const int dx = StageWidth - w;
    const int dy = StageHeight - h;
    m.UpDown3->setRange(std::min(dx, 0), std::max(dx, 0));
    m.UpDown4->setRange(std::min(dy, 0), std::max(dy, 0));
    m.Command9->setEnabled(true);
    if (QLabel *l = m.Label3.at(0))
        l->setText(QStringLiteral("W = ") + QString::number(w));
    if (QLabel *l = m.Label3.at(2))
        l->setText(QStringLiteral("H = ") + QString::number(h));
    return Placed::Background;
}

Placed placeCharacter(frmMain &m, const QString &path, const QString &fileName)
{
    AppState &s = m.state();
    // Numbers are never handed out twice, so past the last one nothing more is placed.
    if (s.CharacterCount >= LastNumber)
        return Placed::Nothing;
    // A file that is not a GIF still makes an empty character; one that is
    // refused (not a regular file, too large, out of memory, no answer) makes nothing.
    anigif::DecodedGif gif;
    if (anigif::loadGifFile(path, &gif) == anigif::GifLoad::Refused)
        return Placed::Nothing;
    const qint16 n = ++s.CharacterCount;
    if (anigif::AniGif *c = m.AniGIF1.create(n)) {
        c->setGif(std::move(gif));
        c->show();
        m.connectCharacter(n);
    }
    m.Command5->setEnabled(true);
    m.Command6->setEnabled(true);
    m.Command7->setEnabled(true);
    m.List1->addItem(characterEntry(assetName(fileName), n));
    return Placed::Character;
}

Placed changeAction(frmMain &m, const QString &path, const QString &fileName)
{
    // Only a selected character entry whose character still stands names a target;
    // anything else would load the file into the template or turn a prop's entry into a character's.
    QListWidgetItem *item = m.List1->currentItem();
    if (!item || !item->isSelected() || entryKind(item->text()) != EntryKind::Character)
        return Placed::Nothing;
    const std::optional<qint16> n = entryNumber(item->text());
    anigif::AniGif *c = n ? m.AniGIF1.at(*n) : nullptr;
    if (!c)
        return Placed::Nothing;
    // A file that is no GIF would leave the character without any picture: keep the old action instead.
    anigif::DecodedGif gif;
    if (anigif::loadGifFile(path, &gif) != anigif::GifLoad::Ok)
        return Placed::Nothing;
    c->setGif(std::move(gif));
    c->show();
    m.Command5->setEnabled(true);
    item->setText(characterEntry(assetName(fileName), *n));
    return Placed::Action;
}

Placed placeProp(frmMain &m, const QString &path, const QString &fileName)
{
    AppState &s = m.state();
    if (s.PropCount >= LastNumber)
        return Placed::Nothing;
    // A GIF gives its first frame: props stand still. A file that is no
    // picture makes an empty prop; a refused one makes nothing.
    const Picture picture = readPictureBounded(path);
    if (picture.refused)
        return Placed::Nothing;
    const qint16 n = ++s.PropCount;
    if (controls::ImageControl *p = m.Image1.create(n)) {
        p->setPicture(picture.image, picture.bytes);
        p->show();
        m.connectProp(n);
    }
    m.List1->addItem(propEntry(assetName(fileName), n));
    return Placed::Prop;
}

} // namespace

Placed placeAsset(frmMain &main, const QString &mode, const QString &folder, const QString &fileName)
{
    if (folder.isEmpty() || fileName.isEmpty())
        return Placed::Nothing;
    const QString path = folder + QLatin1Char('/') + fileName;
    if (mode == QLatin1String("fon"))
        return placeBackground(main, path);
    if (mode == QLatin1String("person"))
        return placeCharacter(main, path, fileName);
    if (mode == QLatin1String("changePerson"))
        return changeAction(main, path, fileName);
    if (mode == QLatin1String("articles"))
        return placeProp(main, path, fileName);
    return Placed::Nothing;
}

} // namespace picker
