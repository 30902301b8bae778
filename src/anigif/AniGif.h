#pragma once
// The animated GIF control: shows a GIF, plays it at the file's own frame
// delays or stays on one frame. Frames are composed here from giflib's raw
// frames (disposal, transparency, local colour tables, partial frames),
// because Qt's own GIF reader leaves trails on moving sprites.

#include <QImage>
#include <QList>
#include <QTimer>
#include <QWidget>

#include "anigif/GifDecoder.h"

namespace anigif {

class AniGif : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool Playing READ Playing WRITE setPlaying)
    Q_PROPERTY(int CurrentFrame READ CurrentFrame WRITE setCurrentFrame)
    Q_PROPERTY(int FrameCount READ FrameCount)
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE setAutoSize)
    Q_PROPERTY(int SizeMode READ SizeMode WRITE setSizeMode)
public:
    explicit AniGif(QWidget *parent = nullptr);

    // Loads a GIF (a file path or a Qt resource path) and shows its first
    // frame. A file that is not a readable GIF, or that is refused (see
    // loadGifFile), leaves the control empty and returns false. The file is
    // read off the user-interface thread, with a limit on the wait.
    bool LoadFile(const QString &path);
    bool loadData(const QByteArray &data);
    // Shows a GIF decoded already; an empty one leaves the control empty.
    void setGif(DecodedGif gif);
    // The bytes of the file the shown GIF came from; empty when it came decoded without them.
    const QByteArray &sourceData() const { return m_source; }

    bool Playing() const;
    void setPlaying(bool on);
    int CurrentFrame() const;
    void setCurrentFrame(int frame);     // shows that frame at once
    int FrameCount() const;
    bool AutoSize() const;
    void setAutoSize(bool on);           // true: LoadFile sizes the control to the GIF
    int SizeMode() const;
    void setSizeMode(int mode);          // 0: unscaled at top-left, 2: scaled to the control

    QSize gifSize() const;
    int frameDelayMs(int frame) const;
    QImage frameImage(int frame) const;  // composed frame, ARGB32 premultiplied

    // Copies the settings an element of a control array takes from its
    // template (sizing, mode). The picture is not copied.
    void copySettingsFrom(const AniGif &other);

signals:
    // The shown frame changed; carries the control's "index" property (0 when unset).
    void FrameChanged(int index);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void advance();
    void showFrame(int frame);
    void scheduleNext();   // starts the shown frame's delay while playing
    void fitToGif();       // sizes the control to the GIF when it holds one

    QList<QImage> m_frames;
    QList<int> m_delaysMs;
    QByteArray m_source;
    QSize m_size;
    int m_current = 0;
    bool m_playing = false;
    bool m_autoSize = true;
    int m_sizeMode = 0;
    QTimer m_timer;
};

} // namespace anigif
