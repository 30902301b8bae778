// How long starting the preview holds the window when a slide carries a 5-minute MP3: the mix made by
// decoding the sound there and then, against the mix made from sounds the buffer's cache decoded
// beforehand (and against one whose sound is still being decoded, which is left out of that run).
//
//   QT_QPA_PLATFORM=offscreen bench_preview_sound

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

#include "export/SlideSounds.h"
#include "slides/SlideSource.h"
#include "slides/SlideStore.h"
#include "sound/PcmCache.h"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString mp3 = dir.filePath(QStringLiteral("song.mp3"));
    if (QProcess::execute(QStringLiteral("ffmpeg"), {"-v", "error", "-f", "lavfi", "-i",
                                                     "sine=frequency=440:duration=300", "-ac", "2", mp3}) != 0) {
        std::puts("no ffmpeg program to make the song with");
        return 1;
    }
    QFile f(mp3);
    f.open(QIODevice::ReadOnly);
    const auto clip = slides::SoundClip::make(f.readAll(), QStringLiteral("song.mp3"));
    const qint64 ahead = qint64(sound::Rate) * 60 * 30;
    constexpr int Fps = 12;
    QImage slide(slides::SlideWidth, slides::SlideHeight, QImage::Format_RGB888);
    slide.fill(Qt::darkGreen);
    // The song under a cartoon of 10 seconds and under one as long as the song, from slide 1.
    for (const int slideCount : {10 * Fps, 300 * Fps}) {
        slides::SlideStore store;
        for (int i = 0; i < slideCount; ++i)
            store.append(slide);
        store.setSound(1, {clip, 100});
        const qint64 length = exporting::soundLength(store, Fps);

        QElapsedTimer t;
        t.start();
        exporting::SoundBed decodedHere;
        exporting::addSlideSounds(store, Fps, decodedHere);
        decodedHere.mix(length);
        const double before = double(t.nsecsElapsed()) / 1e6;

        sound::PcmCache cache;
        const auto fromCache = [&](const slides::SoundClip &c) { return cache.get(c.hash, c.bytes, c.name, ahead); };
        t.restart();
        exporting::SoundBed notYet;
        const int left = exporting::placeDecodedSounds(store, Fps, notYet, fromCache);
        const double decoding = double(t.nsecsElapsed()) / 1e6;
        cache.wait(clip->hash, clip->bytes, clip->name, ahead);
        t.restart();
        exporting::SoundBed ready;
        exporting::placeDecodedSounds(store, Fps, ready, fromCache);
        ready.mix(length);
        const double after = double(t.nsecsElapsed()) / 1e6;

        std::printf("preview start with a 5-minute MP3 under %d s of cartoon:\n"
                    "  decoded at the start   %8.1f ms (baseline)\n"
                    "  from the cache, ready  %8.1f ms  ratio %.3f\n"
                    "  still decoding         %8.1f ms  ratio %.3f (%d sound left out of that run)\n",
                    slideCount / Fps, before, after, after / before, decoding, decoding / before, left);
    }
    return 0;
}
