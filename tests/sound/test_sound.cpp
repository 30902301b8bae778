// Sounds decoded into the program's one form from the files people bring, and mixed under a cartoon: placed at
// their slides, added up, cut at the cartoon's end with a fade.
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "controls/Button.h"
#include "slides/frmVoice.h"
#include "sound/Microphone.h"
#include "sound/Player.h"
#include "sound/Sound.h"

using sound::Pcm;

namespace {

// A sound of `frames` frames whose every sample is `value`.
Pcm constant(qint64 frames, qint16 value)
{
    Pcm p;
    p.samples.assign(size_t(frames) * sound::Channels, value);
    return p;
}

qint16 at(const Pcm &p, qint64 frame) { return p.samples[size_t(frame) * sound::Channels]; }

// A sound file made by the ffmpeg program from one of its generated sources.
QByteArray made(const QTemporaryDir &dir, const QString &file, const QStringList &arguments)
{
    const QString path = dir.filePath(file);
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-y"} + arguments + QStringList{path});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0)
        return {};
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A microphone the system refuses.
struct RefusedMicrophone : sound::Microphone {
    bool start(QString &error) override
    {
        error = QStringLiteral("Не удалось включить микрофон: доступ запрещён.");
        return false;
    }
    void stop() override {}
};

} // namespace

class TestSound : public QObject {
    Q_OBJECT
private slots:
    void theMixAddsUpAndEndsWithTheCartoon();
    void soundFilesOfEveryKind_data();
    void soundFilesOfEveryKind();
    void aTakeIsKeptAsAWavOfTheProgramsForm();
    void thePlayedClockFollowsAStallButNotALaggingReport();
};

void TestSound::theMixAddsUpAndEndsWithTheCartoon()
{
    const qint64 length = sound::frameStart(24, 12);   // two seconds at 12 frames a second
    QCOMPARE(length, 2 * sound::Rate);
    QCOMPARE(sound::frameStart(1, 7), qint64(6857));   // rounded to the nearest frame
    const Pcm music = constant(10 * sound::Rate, 1000);   // longer than the cartoon
    const Pcm voice = constant(sound::Rate / 2, 30000);
    const Pcm late = constant(100, 5);
    const Pcm mixed = sound::mix({{&music, 0, 100},
                                  {&voice, sound::frameStart(6, 12), 200},
                                  {&voice, -sound::Rate / 4, 50},
                                  {&late, length, 100}},
                                 length);
    QCOMPARE(mixed.frames(), length);
    QCOMPARE(at(mixed, 0), qint16(1000 + 15000));                  // the half that was begun before the start
    QCOMPARE(at(mixed, sound::Rate / 4), qint16(1000));
    QCOMPARE(at(mixed, sound::frameStart(6, 12)), qint16(32767));   // clipped, not wrapped
    QCOMPARE(at(mixed, sound::frameStart(12, 12)), qint16(1000));
    // The music runs past the end: it fades to nothing over the last quarter second.
    QCOMPARE(at(mixed, length - sound::FadeFrames - 1), qint16(1000));
    QCOMPARE(at(mixed, length - sound::FadeFrames / 2), qint16(500));
    QVERIFY(at(mixed, length - 1) < 10);
    QVERIFY(sound::mix({{&music, 0, 100}}, 0).samples.empty());
}

void TestSound::soundFilesOfEveryKind_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("make");   // the ffmpeg program's arguments; empty: the bytes below
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("frames");      // expected at 48 kHz; 0 when refused
    QTest::addColumn<bool>("cut");
    QTest::addColumn<bool>("halved");        // only the first half of the file's bytes is given
    QTest::addColumn<QString>("microphone"); // instead of a file: a voice recorded from "none" or a "refused" one
    const QStringList sine{"-f", "lavfi", "-i", "sine=frequency=440:duration=1"};
    QTest::newRow("WAV, 44.1 kHz stereo") << "a.wav" << sine + QStringList{"-ar", "44100", "-ac", "2"} << QByteArray()
                                          << qint64(48000) << false << false << QString();
    QTest::newRow("WAV, 8-bit mono 8 kHz") << "b.wav" << sine + QStringList{"-ar", "8000", "-ac", "1", "-c:a", "pcm_u8"}
                                           << QByteArray() << qint64(48000) << false << false << QString();
    QTest::newRow("FLAC, 96 kHz 6 channels") << "c.flac" << sine + QStringList{"-ar", "96000", "-ac", "6"}
                                             << QByteArray() << qint64(48000) << false << false << QString();
    QTest::newRow("MP3") << "d.mp3" << sine << QByteArray() << qint64(48000) << false << false << QString();
    QTest::newRow("a truncated MP3") << "t.mp3" << QStringList{"-f", "lavfi", "-i", "sine=frequency=440:duration=2"}
                                     << QByteArray() << qint64(48000) << false << true << QString();
    QTest::newRow("Ogg Opus") << "e.ogg" << sine + QStringList{"-c:a", "libopus"} << QByteArray() << qint64(48000)
                              << false << false << QString();
    QTest::newRow("a 3-hour sound, decoded no further than asked")
        << "f.flac" << QStringList{"-f", "lavfi", "-i", "anullsrc=r=8000:cl=mono", "-t", "10800"} << QByteArray()
        << qint64(5 * sound::Rate) << true << false << QString();
    QTest::newRow("a sound of zero length") << "g.wav" << sine + QStringList{"-t", "0"} << QByteArray() << qint64(0)
                                            << false << false << QString();
    QTest::newRow("a picture") << "h.wav" << QStringList{"-f", "lavfi", "-i", "color=red:s=16x16", "-frames:v", "1",
                                                         "-f", "image2", "-c:v", "png"}
                               << QByteArray() << qint64(0) << false << false << QString();
    QTest::newRow("no microphone") << "" << QStringList() << QByteArray() << qint64(0) << false << false << "none";
    QTest::newRow("a refused microphone") << "" << QStringList() << QByteArray() << qint64(0) << false << false
                                          << "refused";
    QTest::newRow("random bytes") << "" << QStringList() << QByteArray(5000, '\x5a') << qint64(0) << false << false << QString();
}

void TestSound::soundFilesOfEveryKind()
{
    QFETCH(QString, file);
    QFETCH(QStringList, make);
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, frames);
    QFETCH(bool, cut);
    QFETCH(bool, halved);
    QFETCH(QString, microphone);
    if (!microphone.isEmpty()) {
        // The voice window says what is wrong in itself, keeps nothing and offers no "ОК".
        const bool none = microphone == QLatin1String("none");
        frmVoice w(none ? nullptr : std::make_unique<RefusedMicrophone>());
        w.Command1->click();
        QVERIFY(!w.recording() && !w.Command2->isEnabled());
        QCOMPARE(w.Command1->isEnabled(), !none);
        QVERIFY(w.Label1->text().startsWith(none ? QStringLiteral("Микрофон не найден") : QStringLiteral("Не удалось")));
        return;
    }
    QTemporaryDir dir;
    if (!make.isEmpty()) {
        bytes = made(dir, file, make);
        if (bytes.isEmpty() && frames > 0)
            QFAIL("the ffmpeg program could not make the sound");
    }
    if (halved)
        bytes.truncate(bytes.size() / 2);
    const sound::Decoded d = sound::decode(bytes, QStringLiteral("Песня.mp3"), 5 * sound::Rate);
    QCOMPARE(d.ok(), frames > 0);
    QCOMPARE(d.cut, cut);
    if (frames == 0) {
        QVERIFY2(d.error.contains(QStringLiteral("«Песня.mp3»")), qPrintable(d.error));
        return;
    }
    // Resampling may add or drop the odd frame at the ends; encoders add a little silence.
    QVERIFY2(qAbs(d.pcm.frames() - frames) < frames / 20, qPrintable(QString::number(d.pcm.frames())));
    // A sine is there, not silence (a file cut short gives what it holds).
    if (!cut)
        QVERIFY(*std::max_element(d.pcm.samples.begin(), d.pcm.samples.end()) > 1000);
}

void TestSound::aTakeIsKeptAsAWavOfTheProgramsForm()
{
    // A device of another form: mono floats at 24 kHz, given in pieces that split a frame.
    QAudioFormat format;
    format.setSampleRate(24000);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Float);
    std::vector<float> input(2400);
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = i % 2 ? 0.5f : -1.0f;
    const QByteArray raw(reinterpret_cast<const char *>(input.data()), qsizetype(input.size() * sizeof(float)));
    sound::InputConverter converter(format);
    QByteArray out = converter.convert(raw.first(1001));
    out += converter.convert(raw.sliced(1001));
    Pcm heard;
    heard.samples.resize(size_t(out.size()) / 2);
    std::memcpy(heard.samples.data(), out.constData(), size_t(out.size()));
    QCOMPARE(heard.frames(), qint64(4800)); // a tenth of a second at 48 kHz
    QCOMPARE(heard.samples[0], qint16(-32767));
    QCOMPARE(heard.samples[1], qint16(-32767)); // both sides
    QCOMPARE(heard.samples[4], qint16(16384));  // each input frame twice

    // Kept as a WAV file, it decodes back to the very samples.
    const sound::Decoded back = sound::decode(sound::wavBytes(heard), QStringLiteral("Голос 1.wav"), sound::Rate);
    QVERIFY(back.ok());
    QVERIFY(back.pcm.samples == heard.samples);
}

void TestSound::thePlayedClockFollowsAStallButNotALaggingReport()
{
    sound::PlayedClock clock;
    qint64 last = 0;
    for (qint64 t = 100000; t < 2000000; t += 10000) {
        // Played 20 ms behind the clock, every third report lagging 15 ms more; at 1 s the sound stands still for 60 ms.
        const qint64 played = t < 1000000 ? t - 20000 : std::max<qint64>(980000, t - 80000);
        const qint64 guess = clock.at(played - (t % 30000 ? 0 : 15000), t);
        QVERIFY(guess >= last);
        last = guess;
        if (t < 1000000 || t >= 1060000 + sound::PlayedClock::WindowUs)
            QCOMPARE(guess, played);
    }
}

QTEST_MAIN(TestSound)
#include "test_sound.moc"
