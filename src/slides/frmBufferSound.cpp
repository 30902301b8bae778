// Sounds on slides from the buffer window: adding a sound file, recording a voice, listening to a
// slide's sound alone, its volume and taking it away.
#include "slides/frmBuffer.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QRegularExpression>

#include "slides/frmVoice.h"
#include "sound/Sound.h"

namespace {
// How much of a sound is decoded ahead of being played: half an hour, the length of the longest cartoons.
constexpr qint64 PrefetchFrames = qint64(sound::Rate) * 60 * 30;
constexpr qint64 MaxSoundBytes = qint64(512) << 20;
} // namespace

void frmBuffer::AddSoundChosen()
{
    if (m_chosen.size() != 1 || !askSound)
        return;
    const QString path = askSound(this, m_state.AnimationsFolder);
    if (!path.isEmpty())
        attachSound(*m_chosen.begin(), path);
}

bool frmBuffer::attachSound(int n, const QString &path)
{
    if (n < 1 || n > slideCount())
        return false;
    const QString name = QFileInfo(path).fileName();
    const auto refuse = [&](const QString &why) {
        m_state.message(this, {why, QString(), controls::MsgIcon::Error, controls::MsgButtons::Ok});
        return false;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(QStringLiteral("Не удалось прочитать файл «%1».").arg(QDir::toNativeSeparators(path)));
    // The file is kept whole in memory, the journal and the project, whose database takes no larger value.
    if (file.size() > MaxSoundBytes)
        return refuse(QStringLiteral("Звук «%1» слишком велик: файл больше %2 МБ.").arg(name).arg(MaxSoundBytes >> 20));
    QByteArray bytes;
    try {
        bytes = file.readAll();
    } catch (const std::bad_alloc &) {
        return refuse(QStringLiteral("Не удалось добавить звук «%1»: недостаточно памяти.").arg(name));
    }
    // Its first moment is decoded now, so that a file that is no sound is refused at once; the whole of
    // it is decoded off this thread by whoever plays or exports it.
    const sound::Decoded start = sound::decode(bytes, name, sound::Rate / 10);
    if (!start.ok())
        return refuse(start.error);
    if (start.pcm.frames() == 0)
        return refuse(QStringLiteral("В файле «%1» нет звука.").arg(name));
    auto clip = slides::SoundClip::make(std::move(bytes), name);
    if (!m_slides.setSound(n, clip))
        return false;
    // Decoded meanwhile, so that the preview finds it ready; the mark does not wait for it.
    m_sounds->get(clip->hash, clip->bytes, clip->name, PrefetchFrames);
    return true;
}

std::shared_ptr<const sound::Decoded> frmBuffer::decodedSound(const slides::SoundClip &clip)
{
    return m_sounds->get(clip.hash, clip.bytes, clip.name, PrefetchFrames);
}

void frmBuffer::VoiceChosen()
{
    if (m_chosen.size() != 1 || !askVoice)
        return;
    const int n = *m_chosen.begin();
    stopListening(); // the microphone would hear it
    const sound::Pcm take = askVoice(this);
    if (take.frames() > 0)
        attachTake(n, take);
}

bool frmBuffer::attachTake(int n, const sound::Pcm &take)
{
    // Named after the takes already held, so that each voice can be told apart in the project.
    int last = 0;
    static const QRegularExpression named(QStringLiteral("^Голос (\\d+)\\.wav$"));
    for (int i = 1; i <= slideCount(); ++i)
        if (const slides::SlideSound s = m_slides.store().sound(i))
            if (const auto m = named.match(s.clip->name); m.hasMatch())
                last = std::max(last, m.captured(1).toInt());
    QByteArray bytes;
    try {
        bytes = sound::wavBytes(take);
    } catch (const std::bad_alloc &) {
        m_state.message(this, {QStringLiteral("Не удалось добавить голос: недостаточно памяти."), QString(),
                               controls::MsgIcon::Error, controls::MsgButtons::Ok});
        return false;
    }
    auto clip = slides::SoundClip::make(std::move(bytes), QStringLiteral("Голос %1.wav").arg(last + 1));
    if (!m_slides.setSound(n, clip))
        return false;
    decodedSound(*clip);
    return true;
}

void frmBuffer::ListenChosen()
{
    if (listening()) {
        stopListening();
        return;
    }
    slides::SlideSound s;
    for (auto it = m_chosen.begin(); !s && it != m_chosen.end(); ++it)
        s = m_slides.store().sound(*it);
    if (!s)
        return;
    if (!sound::Player::available()) {
        if (!std::exchange(m_toldNoSound, true))
            m_state.message(this, {QStringLiteral("Звук недоступен: на компьютере не найдено устройство вывода звука."),
                                   QString(), controls::MsgIcon::Information, controls::MsgButtons::Ok});
        return;
    }
    m_listenTo = s;
    playListened();
}

void frmBuffer::playListened()
{
    // A sound just given to a slide may still be decoding: it is played as soon as it is ready.
    const std::shared_ptr<const sound::Decoded> decoded = decodedSound(*m_listenTo.clip);
    if (!decoded) {
        m_listenWait.start();
        return;
    }
    m_listenWait.stop();
    const int volume = std::exchange(m_listenTo, {}).volume;
    if (!decoded->ok()) {
        m_state.message(this, {decoded->error, QString(), controls::MsgIcon::Error, controls::MsgButtons::Ok});
        return;
    }
    // At full volume the decoded sound is played as it is kept; otherwise a copy at its volume.
    std::shared_ptr<const sound::Pcm> pcm(decoded, &decoded->pcm);
    if (volume != 100)
        pcm = std::make_shared<const sound::Pcm>(sound::mix({{&decoded->pcm, 0, volume}}, decoded->pcm.frames()));
    m_listen.play(std::move(pcm), 0, false);
}

void frmBuffer::stopListening()
{
    m_listenWait.stop();
    m_listenTo = {};
    m_listen.stop();
}

void frmBuffer::hideEvent(QHideEvent *e)
{
    stopListening();
    QDialog::hideEvent(e);
}

void frmBuffer::VolumeChosen()
{
    if (m_chosen.empty() || !askVolume)
        return;
    int start = 100;
    for (int n : m_chosen)
        if (const slides::SlideSound s = m_slides.store().sound(n)) {
            start = s.volume;
            break;
        }
    const int percent = askVolume(this, start);
    if (percent >= 0)
        m_slides.setVolume(std::vector<int>(m_chosen.begin(), m_chosen.end()), percent);
}

void frmBuffer::RemoveSoundChosen()
{
    if (!m_chosen.empty())
        m_slides.removeSound(std::vector<int>(m_chosen.begin(), m_chosen.end()));
}

