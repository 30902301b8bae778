#pragma once
// The sound under an exported film: every slide's sound decoded and placed at the first frame of its slide,
// with the durations of the slides before it counted, ready to be mixed to the cartoon's length.

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "sound/Sound.h"

namespace slides {
class SlideStore;
struct SoundClip;
}

namespace exporting {

struct SoundBed {
    std::vector<std::unique_ptr<sound::Pcm>> pcm; // each file once, however many slides start it
    struct At {
        const sound::Pcm *pcm;
        qint64 start;
        int volume;
    };
    std::vector<At> placed;
    std::vector<std::shared_ptr<const sound::Decoded>> held; // sounds decoded elsewhere, kept while placed

    // Places a decoded sound; it is kept here.
    void add(sound::Pcm &&decoded, qint64 start, int volume);
    // The mix of everything placed, `length` frames of 48 kHz long.
    std::shared_ptr<sound::Pcm> mix(qint64 length) const;
};

// The cartoon's length in 48 kHz frames at `fps`, the slides' durations counted.
qint64 soundLength(const slides::SlideStore &store, int fps);

// Decodes the sounds of the slides of `store` into `bed`, each from its slide's first frame at `fps`,
// only as much of each as the cartoon can play. The error names the sound that could not be decoded;
// empty when all were (or `cancel` was set).
QString addSlideSounds(const slides::SlideStore &store, int fps, SoundBed &bed,
                       const std::atomic<bool> *cancel = nullptr);

// Places the sounds of the slides of `store` that `decoded` gives already decoded (null: not yet, left out)
// into `bed`, each from its slide's first frame at `fps`; nothing is decoded here. Returns how many
// slides' sounds were left out, not decoded yet or not decodable.
int placeDecodedSounds(const slides::SlideStore &store, int fps, SoundBed &bed,
                       const std::function<std::shared_ptr<const sound::Decoded>(const slides::SoundClip &)> &decoded);

} // namespace exporting
