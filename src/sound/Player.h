#pragma once
// Plays a mix through the system's sound output and tells which of its frames
// is being heard, so that the preview shows each slide when its sound is heard
// instead of keeping a clock of its own that would drift from the sound card's.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>

#include "sound/Sound.h"

class QAudioSink;
class QIODevice;

namespace sound {

class PcmFeed;

class Player : public QObject {
    Q_OBJECT
public:
    explicit Player(QObject *parent = nullptr);
    ~Player() override;

    // Whether the system has a sound output at all. Without one, play() plays nothing and heard() stays 0.
    static bool available();

    // Plays `pcm` from its frame `from`, going round to its beginning at its end (the preview plays the
    // cartoon in a loop). Replaces whatever was playing. Played once (`loop` false), it stops by itself
    // when its last frame has been heard, and says so with finished().
    void play(std::shared_ptr<const Pcm> pcm, qint64 from, bool loop = true);
    void stop();
    bool playing() const { return m_sink != nullptr; }
    // The output stopped by itself (the device went away or the server failed): nothing more will be heard.
    bool failed() const;

    // How many frames of the mix have been heard since play(), counted on through the loops. Between the
    // sound server's own clock updates it moves on with a monotonic clock, so it does not stand still for
    // a whole buffer and then jump.
    qint64 heard() const;

signals:
    void finished();

private:
    void checkEnd();

    std::unique_ptr<PcmFeed> m_feed;
    QAudioSink *m_sink = nullptr;
    // The estimate of heard(), kept between calls.
    QElapsedTimer m_wall;
    mutable qint64 m_offsetUs = 0;   // the lead of the played time over m_wall
    mutable qint64 m_lastWallUs = 0;
    mutable qint64 m_lastUs = 0;     // never goes back
    qint64 m_endFrames = -1;         // played once: the frames to be heard before it stops; -1 looping
    QTimer m_endCheck;
};

} // namespace sound
