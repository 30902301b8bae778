#include "sound/Sound.h"

#include <algorithm>
#include <limits>

namespace sound {

Pcm mix(const std::vector<Placed> &sounds, qint64 length)
{
    Pcm out;
    if (length <= 0)
        return out;
    // Summed wide, so that loud sounds together are clipped once at the end instead of wrapping round.
    std::vector<qint32> sum(size_t(length) * Channels, 0);
    for (const Placed &p : sounds) {
        if (!p.pcm || p.start >= length)
            continue;
        const qint64 volume = std::clamp(p.volume, 0, 200);
        const qint64 first = std::max<qint64>(0, -p.start);   // a sound begun before the cartoon plays on from here
        const qint64 end = std::min(p.pcm->frames(), length - p.start);
        // A sound cut by the end fades out over its last moments before it, instead of stopping with a click.
        const bool cutByEnd = p.pcm->frames() > length - p.start;
        const qint64 fadeFrom = cutByEnd ? std::max(first, end - FadeFrames) : end;
        const qint64 span = std::max<qint64>(1, end - fadeFrom);   // 1 when it does not fade
        const qint64 whole = span * 100;
        const qint16 *in = p.pcm->samples.data();
        qint32 *to = sum.data() + (p.start + first) * Channels;
        // Before the fade the weight is the volume alone: a division by a constant, which the compiler turns
        // into a multiplication (the same result as weighing by span / whole), over minutes of sound.
        for (qint64 i = first; i < fadeFrom; ++i)
            for (int c = 0; c < Channels; ++c)
                *to++ += qint32(qint64(in[i * Channels + c]) * volume / 100);
        for (qint64 i = std::max(first, fadeFrom); i < end; ++i) {
            const qint64 weight = volume * (end - i);
            for (int c = 0; c < Channels; ++c)
                *to++ += qint32(qint64(in[i * Channels + c]) * weight / whole);
        }
    }
    out.samples.resize(sum.size());
    std::transform(sum.begin(), sum.end(), out.samples.begin(), [](qint32 v) {
        return qint16(std::clamp<qint32>(v, std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max()));
    });
    return out;
}

} // namespace sound
