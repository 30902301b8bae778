#pragma once
// Sound for cartoons: a sound file's bytes decoded into the one form the
// program mixes and plays (48 kHz, stereo, 16-bit), and the mix of several
// sounds placed at slides, cut to the cartoon's length.
//
// Decoding reads only what it was given (the bytes, never a path) through
// FFmpeg's libraries, and only the formats a person brings: WAV, MP3,
// Ogg (Vorbis or Opus) and FLAC. It is meant to run off the user-interface
// thread: it touches no widget and can be stopped between packets.

#include <QByteArray>
#include <QString>

#include <atomic>
#include <vector>

namespace sound {

constexpr int Rate = 48000;
constexpr int Channels = 2;

// Interleaved left and right samples.
struct Pcm {
    std::vector<qint16> samples;
    qint64 frames() const { return qint64(samples.size()) / Channels; }
};

struct Decoded {
    Pcm pcm;
    QString error;        // for the person, naming the sound; empty when it decoded
    bool cut = false;     // longer than asked for: only the beginning was decoded
    bool ok() const { return error.isEmpty(); }
};

// Decodes a sound file's bytes, at most `maxFrames` frames of 48 kHz (the rest of a longer sound is never
// decoded). `name` names the sound in the error. `cancel`, when set, stops it with an error.
Decoded decode(const QByteArray &bytes, const QString &name, qint64 maxFrames,
               const std::atomic<bool> *cancel = nullptr);

// Where a frame of the cartoon starts in the sound: frame `frame` (0-based, counted in frame times of the
// cartoon's rate `fps`) begins at this 48 kHz frame.
qint64 frameStart(qint64 frame, int fps);

// A sound placed in the mix.
struct Placed {
    const Pcm *pcm = nullptr;
    qint64 start = 0;     // 48 kHz frame at which it begins
    int volume = 100;     // per cent, 0 to 200
};

// How long a sound that runs past the end of the cartoon takes to fade out before the end.
constexpr qint64 FadeFrames = Rate / 4;

// Mixes the sounds into `length` frames: overlapping sounds add up (clipped, not wrapped), a sound that
// runs past the end fades out over its last FadeFrames before it, and silence fills the rest.
Pcm mix(const std::vector<Placed> &sounds, qint64 length);

} // namespace sound

namespace sound {
// A WAV file's bytes holding `pcm` (48 kHz, stereo, 16-bit): how a recorded voice is kept, like any sound
// brought as a file.
QByteArray wavBytes(const Pcm &pcm);
} // namespace sound
