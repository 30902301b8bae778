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

QString addSlideSounds(const slides::SlideStore &store, int fps, SoundBed &bed, const std::atomic<bool> *cancel)
{
    const qint64 length = soundLength(store, fps);
    // The earliest start of each file: decoding it from there to the end covers every slide that starts it.
    QHash<QByteArray, qint64> earliest;
    qint64 frame = 0;
    for (int i = 1; i <= store.count(); ++i) {
        if (const slides::SlideSound s = store.sound(i); s && !earliest.contains(s.clip->hash))
            earliest.insert(s.clip->hash, sound::frameStart(frame, fps));
        frame += std::max(1, store.duration(i));
    }
    QHash<QByteArray, const sound::Pcm *> decoded;
    frame = 0;
    for (int i = 1; i <= store.count(); ++i) {
        const slides::SlideSound s = store.sound(i);
        const qint64 start = sound::frameStart(frame, fps);
        frame += std::max(1, store.duration(i));
        if (!s)
            continue;
        const sound::Pcm *pcm = decoded.value(s.clip->hash);
        if (!pcm) {
            sound::Decoded d = sound::decode(s.clip->bytes, s.clip->name, length - earliest.value(s.clip->hash), cancel);
            if (cancel && cancel->load())
                return QString();
            if (!d.ok())
                return d.error;
            bed.add(std::move(d.pcm), start, s.volume);
            decoded.insert(s.clip->hash, bed.pcm.back().get());
            continue;
        }
        bed.placed.push_back({pcm, start, s.volume});
    }
    return QString();
}

int placeDecodedSounds(const slides::SlideStore &store, int fps, SoundBed &bed,
                       const std::function<std::shared_ptr<const sound::Decoded>(const slides::SoundClip &)> &decoded)
{
    int missing = 0;
    qint64 frame = 0;
    for (int i = 1; i <= store.count(); ++i) {
        const slides::SlideSound s = store.sound(i);
        const qint64 start = sound::frameStart(frame, fps);
        frame += std::max(1, store.duration(i));
        if (!s)
            continue;
        std::shared_ptr<const sound::Decoded> d = decoded(*s.clip);
        if (!d || !d->ok()) {
            ++missing;
            continue;
        }
        bed.placed.push_back({&d->pcm, start, s.volume});
        bed.held.push_back(std::move(d));
    }
    return missing;
}

} // namespace exporting
