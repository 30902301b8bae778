#include "export/SlideSounds.h"

#include <QHash>

#include "slides/SlideStore.h"

namespace exporting {

void SoundBed::add(sound::Pcm &&decoded, qint64 start, int volume)
{
    pcm.push_back(std::make_unique<sound::Pcm>(std::move(decoded)));
    placed.push_back({pcm.back().get(), start, volume});
}

std::shared_ptr<sound::Pcm> SoundBed::mix(qint64 length) const
{
    std::vector<sound::Placed> all;
    all.reserve(placed.size());
    for (const At &a : placed)
        all.push_back({a.pcm, a.start, a.volume});
    return std::make_shared<sound::Pcm>(sound::mix(all, length));
}

qint64 soundLength(const slides::SlideStore &store, int fps)
{
    return sound::frameStart(store.totalFrames(), fps);
}

namespace {

// Calls `each(sound, start)` for every slide with a sound, `start` being the sample its slide begins at,
// durations counted; stops at the first call that returns false, and says whether none did.
template<typename Each>
bool forEachSound(const slides::SlideStore &store, int fps, Each each)
{
    qint64 frame = 0;
    for (int i = 1; i <= store.count(); ++i) {
        const slides::SlideSound s = store.sound(i);
        const qint64 start = sound::frameStart(frame, fps);
        frame += std::max(1, store.duration(i));
        if (s && !each(s, start))
            return false;
    }
    return true;
}

} // namespace

QString addSlideSounds(const slides::SlideStore &store, int fps, SoundBed &bed, const std::atomic<bool> *cancel)
{
    const qint64 length = soundLength(store, fps);
    // The earliest start of each file: decoding it from there to the end covers every slide that starts it.
    QHash<QByteArray, qint64> earliest;
    forEachSound(store, fps, [&](const slides::SlideSound &s, qint64 start) {
        if (!earliest.contains(s.clip->hash))
            earliest.insert(s.clip->hash, start);
        return true;
    });
    QHash<QByteArray, const sound::Pcm *> decoded;
    QString error;
    forEachSound(store, fps, [&](const slides::SlideSound &s, qint64 start) {
        if (const sound::Pcm *pcm = decoded.value(s.clip->hash)) {
            bed.placed.push_back({pcm, start, s.volume});
            return true;
        }
        sound::Decoded d = sound::decode(s.clip->bytes, s.clip->name, length - earliest.value(s.clip->hash), cancel);
        if (cancel && cancel->load())
            return false;
        if (!d.ok()) {
            error = d.error;
            return false;
        }
        bed.add(std::move(d.pcm), start, s.volume);
        decoded.insert(s.clip->hash, bed.pcm.back().get());
        return true;
    });
    return error;
}

int placeDecodedSounds(const slides::SlideStore &store, int fps, SoundBed &bed,
                       const std::function<std::shared_ptr<const sound::Decoded>(const slides::SoundClip &)> &decoded)
{
    int missing = 0;
    forEachSound(store, fps, [&](const slides::SlideSound &s, qint64 start) {
        std::shared_ptr<const sound::Decoded> d = decoded(*s.clip);
        if (!d || !d->ok()) {
            ++missing;
            return true;
        }
        bed.placed.push_back({&d->pcm, start, s.volume});
        bed.held.push_back(std::move(d));
        return true;
    });
    return missing;
}

} // namespace exporting
