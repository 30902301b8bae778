#pragma once
// Plays a mix through the system's sound output and tells which of its frames
// is being heard, so that the preview shows each slide when its sound is heard
// instead of keeping a clock of its own that would drift from the sound card's.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>
#include <memory>
#include <utility>

#include "sound/Sound.h"

class QAudioSink;
class QIODevice;

namespace sound {

class PcmFeed;

// The played time of a stream, from the sound server's reports of it read against a monotonic clock.
// Reports may come in steps and lag now and then, while the sound moves on at the clock's rate; so the
// guess is the clock plus the largest lead the reports have had over it within the last quarter second.
// A single lagging report is not followed, but a stream that really stood still (the server stalled or
// the card ran short, as PulseAudio's null sink did for 57 ms after 87 s of playing in the tests) is:
// within a quarter second the guess stands still until the sound has caught up, and the slides wait.
class PlayedClock {
public:
    static constexpr qint64 WindowUs = 250000;
    // Played microseconds as the server reports them at `wallUs`; gives the guess, which never goes back.
    qint64 at(qint64 processedUs, qint64 wallUs);

private:
    std::deque<std::pair<qint64, qint64>> m_leads;   // (clock, lead) in the window, leads falling
    qint64 m_lastUs = 0;
};

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
    mutable PlayedClock m_played;
    qint64 m_endFrames = -1;         // played once: the frames to be heard before it stops; -1 looping
    QTimer m_endCheck;
};

} // namespace sound
