// The slide buffer's journal: what a save writes down, the journal kept in
// step with every change, and recovery from a journal left by a run that
// ended without saving.
#include "slides/SlideBuffer.h"
#include "slides/SlideBufferParts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QUndoCommand>

#include <algorithm>

namespace slides {

namespace {

// In a slide's journal record: the slide had not been saved when the record was written.
constexpr quint8 UnsavedBit = 0x80;

// How long a save waits for the journal to say, on the disk, that the folder is about to be emptied.
constexpr int SaveBeginWaitMs = 15000;

// Renames a journal that is not to be read again so that it is no longer looked for; returns the new
// name, or an empty one when it went instead. Only the newest of each kind stays, so that leftovers
// never fill a disk: those kept aside at earlier starts go, and since one start meets journals newest
// first, a later one of a kind already kept (listed in `kept`) is removed.
QString keepAside(const QString &path, const QString &suffix, QStringList &kept)
{
    for (const QString &earlier : std::as_const(kept)) {
        if (earlier.endsWith(suffix)) {
            QFile::remove(path);
            return QString();
        }
    }
    const QDir folder = QFileInfo(path).absoluteDir();
    for (const QString &name : folder.entryList({QStringLiteral("journal-*") + suffix}, QDir::Files))
        QFile::remove(folder.filePath(name));
    const QString target = path + suffix;
    QFile::rename(path, target);
    kept << target;
    return target;
}

} // namespace

void SlideBuffer::saveBegins()
{
    std::fill(m_unsaved.begin(), m_unsaved.end(), 1);
    if (count() == 0 || !startJournal() || !journalling())
        return;
    m_writer->write(journal::record(journal::Type::SaveBegun, QByteArrayView()));
    // Bounded: a disk that hangs must not hang the save; the record still goes out when it can.
    m_writer->sync(SaveBeginWaitMs);
    checkJournal(true);
}

void SlideBuffer::saved()
{
    std::fill(m_unsaved.begin(), m_unsaved.end(), 0);
    m_history.clear();
    setPoint(0);
    // The journal goes on: nothing written after a save waits behind a copy of what was saved.
    journalRecord(journal::record(journal::Type::Saved, QByteArrayView()));
}

void SlideBuffer::projectSaved(const QString &project)
{
    std::fill(m_unsaved.begin(), m_unsaved.end(), 0);
    m_sceneUnsaved = false;
    setPoint(0);
    // Whatever the stage says next is a change since the save, even if it says what was written before.
    m_lastScene.clear();
    journalRecord(journal::record(journal::Type::ProjectSaved, project.toUtf8()));
}

void SlideBuffer::journalScene(const QByteArray &scene, const QList<QByteArray> &pictureKeys,
                               const std::function<QByteArray(const QByteArray &key)> &pictureBytes,
                               const QString &project)
{
    m_sceneUnsaved = true;
    if (!startJournal() || !journalling())
        return;
    QByteArray payload = journal::scenePayload(project, pictureKeys, scene);
    if (payload == m_lastScene)
        return;
    // Each picture goes into a journal file once, before the first stage that names it, so that a file
    // cut anywhere holds every picture of each stage it holds whole.
    using Pictures = std::vector<std::pair<QByteArray, QByteArray>>;
    auto missing = std::make_shared<Pictures>();
    for (const QByteArray &key : pictureKeys) {
        if (key.isEmpty() || m_journalKeys.contains(key))
            continue;
        QByteArray bytes = pictureBytes ? pictureBytes(key) : QByteArray();
        // A picture not to be had is left out; the stage names it all the same, and is recovered without it.
        if (bytes.isEmpty())
            continue;
        m_journalKeys.insert(key);
        missing->emplace_back(key, std::move(bytes));
    }
    m_lastScene = payload;
    journalFrom([missing, payload = std::move(payload), next = size_t(0)](QByteArray &record) mutable {
        if (next < missing->size()) {
            auto &[key, bytes] = (*missing)[next++];
            record = journal::pictureRecord(key, bytes);
            bytes = QByteArray(); // written: its share is let go at once
            return true;
        }
        if (next++ == missing->size()) {
            record = journal::record(journal::Type::Scene, payload);
            return true;
        }
        return false;
    });
}

int SlideBuffer::unsavedCount() const { return int(std::count(m_unsaved.begin(), m_unsaved.end(), 1)); }

void SlideBuffer::ending()
{
    if (!m_writer)
        return;
    if (unsavedCount() == 0) {
        m_writer->remove();
        m_writer.reset();
    } else {
        // Bounded: a disk that hangs must not keep the program from ending.
        m_writer->flush(1000);
    }
}

QString SlideBuffer::journalPath() const { return m_writer ? m_writer->path() : QString(); }

bool SlideBuffer::startJournal()
{
    if (m_writer || m_journalOff || m_replaying || m_journalFolder.isEmpty())
        return bool(m_writer);
    QString why;
    m_writer = journal::Writer::create(m_journalFolder, &why);
    // A new file holds no picture yet.
    m_journalKeys.clear();
    m_journalSounds.clear();
    m_lastScene.clear();
    if (!m_writer) {
        m_journalOff = true;
        if (m_warn)
            m_warn(why);
        return false;
    }
    // Slides held from before (a save emptied the last journal) are written first, so that the journal
    // alone gives the buffer back. The journal's thread frames them from shares of the store's blocks:
    // thousands of slides cost this thread no copy.
    if (count() > 0) {
        auto held = std::make_shared<std::vector<SlideStore::PackedShare>>(m_store.shareAll());
        auto unsaved = std::make_shared<std::vector<quint8>>(m_unsaved);
        m_writer->writeFrom([held, unsaved, next = size_t(0)](QByteArray &record) mutable {
            if (next == held->size()) {
                // Then how long each lasts, when any lasts more than a frame.
                ++next;
                QByteArray frames(qsizetype(held->size()), Qt::Uninitialized);
                bool longer = false;
                for (size_t k = 0; k < held->size(); ++k) {
                    frames[qsizetype(k)] = char((*held)[k].duration);
                    longer = longer || (*held)[k].duration != 1;
                }
                if (!longer)
                    return false;
                record = journal::record(journal::Type::Durations, frames);
                return true;
            }
            if (next > held->size())
                return false;
            const SlideStore::PackedShare &p = (*held)[next];
            const quint8 flags = p.flags | ((*unsaved)[next] ? UnsavedBit : 0);
            record = journal::record(journal::Type::Base, flags, QByteArrayView(p.data, p.size));
            ++next;
            return true;
        });
        // Then the sounds they carry, queued after them.
        std::vector<int> with;
        std::vector<SlideSound> sounds;
        for (int i = 1; i <= count(); ++i) {
            if (SlideSound s = m_store.sound(i)) {
                with.push_back(i);
                sounds.push_back(std::move(s));
            }
        }
        if (!with.empty())
            journalSounds(with, sounds, true);
    }
    watchJournal();
    return true;
}

void SlideBuffer::journalSounds(const std::vector<int> &numbers, const std::vector<SlideSound> &sounds, bool held)
{
    if (!journalling())
        return;
    std::vector<journal::SoundEntry> entries;
    entries.reserve(numbers.size());
    for (size_t k = 0; k < numbers.size() && k < sounds.size(); ++k) {
        const SlideSound &s = sounds[k];
        if (s && !m_journalSounds.contains(s.clip->hash)) {
            for (QByteArray &record : journal::soundClipRecords(s.clip->hash, s.clip->name, s.clip->bytes))
                m_writer->write(std::move(record));
            m_journalSounds.insert(s.clip->hash);
        }
        entries.push_back({numbers[k], s.volume, s ? s.clip->hash : QByteArray()});
    }
    m_writer->write(journal::record(journal::Type::Sound, journal::soundPayload(held, entries)));
}

void SlideBuffer::watchJournal()
{
    // A write that fails on the journal's thread is told on this one, also while nothing is recorded.
    if (findChild<QTimer *>(QStringLiteral("journalCheck")))
        return;
    auto *poll = new QTimer(this);
    poll->setObjectName(QStringLiteral("journalCheck"));
    // Whether the file is still there is asked here only: a look at the disk on every recording would
    // cost more than the recording's own work, and what was written meanwhile is copied all the same.
    connect(poll, &QTimer::timeout, this, [this] { checkJournal(true); });
    poll->start(500);
}

void SlideBuffer::journalRecord(const QByteArray &record)
{
    if (journalling())
        m_writer->write(record);
}

void SlideBuffer::journalRecord(journal::Type type, quint8 flags, QByteArrayView bytes)
{
    if (journalling())
        m_writer->write(type, flags, bytes);
}

bool SlideBuffer::journalling() const { return m_writer && !m_replaying && !m_journalOff; }

void SlideBuffer::journalFrom(std::function<bool(QByteArray &record)> next)
{
    if (journalling())
        m_writer->writeFrom(std::move(next));
}

void SlideBuffer::checkJournal(bool name)
{
    if (!m_writer || m_journalOff)
        return;
    if (const int error = m_writer->error()) {
        // Told once; the slides stay in memory and recording goes on.
        m_journalOff = true;
        if (m_warn)
            m_warn(journal::describeError(error, m_journalFolder));
        return;
    }
    // Removed or replaced by another program: what was written is copied to a journal of this
    // program's own, while the file it was written to is still open here.
    if (name && !m_writer->named())
        m_writer->renew();
}

bool SlideBuffer::replay(const std::vector<journal::Record> &records,
                         const std::function<void(const char *reached)> &reached)
{
    m_replaying = true;
    bool ok = true;
    size_t replayed = 0;
    qsizetype bytesSince = 0; // payload replayed since `reached` was last told
    SlideStore added; // the slides of a series until its closing record
    // The stage: pictures by key and the newest Scene record, pointing into the records until the end.
    QHash<QByteArray, QByteArrayView> pictures;
    QByteArrayView newestScene;
    Recovered stage;
    QHash<QByteArray, std::shared_ptr<const SoundClip>> clips; // by SHA-256
    QHash<QByteArray, std::pair<QString, QByteArray>> clipBytes; // read so far, made into clips when first named
    for (const journal::Record &r : records) {
        switch (r.type) {
        case journal::Type::Added:
            if (r.payload.isEmpty()) {
                ok = false;
                break;
            }
            ok = added.appendPacked(quint8(r.payload[0]) & (SlideStore::Key | SlideStore::Compressed),
                                    r.payload.sliced(1));
            break;
        case journal::Type::AddedEnd: {
            // Where the series went and each slide's duration; none said: at the end, one frame each.
            int at = 0;
            if (!r.payload.isEmpty()) {
                const std::vector<int> head = r.payload.size() >= 4 ? journal::readNumbers(r.payload.first(4))
                                                                    : std::vector<int>();
                ok = !head.empty() && r.payload.size() - 4 == added.count();
                for (int i = 1; ok && i <= added.count(); ++i)
                    ok = added.setDuration(i, quint8(r.payload[3 + i]));
                at = ok ? head.front() : -1;
            }
            ok = ok && addSeries(std::move(added), at);
            added.clear();
            break;
        }
        case journal::Type::Base:
        case journal::Type::Append: {
            if (r.payload.isEmpty()) {
                ok = false;
                break;
            }
            const auto flags = quint8(r.payload[0]);
            try {
                makeRoom(m_unsaved, 1);
                makeRoom(m_thumbs, 1);
            } catch (const std::bad_alloc &) {
                ok = false;
                break;
            }
            if (!m_store.appendPacked(flags & (SlideStore::Key | SlideStore::Compressed), r.payload.sliced(1))) {
                ok = false;
                break;
            }
            m_unsaved.push_back(r.type == journal::Type::Append || (flags & UnsavedBit) ? 1 : 0);
            m_thumbs.emplace_back();
            if (r.type == journal::Type::Append)
                m_history.push(recordCommand(*this));
            break;
        }
        case journal::Type::RecordAt:
        case journal::Type::Replace: {
            int number = 0;
            quint8 flags = 0;
            QByteArrayView bytes;
            ok = journal::readPlaced(r.payload, number, flags, bytes) && number <= count() + 1 &&
                 (r.type == journal::Type::RecordAt || number <= count());
            if (ok) {
                SlideStore::Packed slide{quint8(flags & (SlideStore::Key | SlideStore::Compressed)),
                                         bytes.toByteArray()};
                ok = pushPlaced(r.type == journal::Type::RecordAt ? recordAtCommand : replaceCommand, number,
                                std::move(slide));
            }
            break;
        }
        case journal::Type::Remove:
            ok = remove(journal::readNumbers(r.payload));
            break;
        case journal::Type::Duplicate:
            ok = duplicate(journal::readNumbers(r.payload));
            break;
        case journal::Type::Move: {
            int before = 0;
            std::vector<int> numbers;
            ok = journal::readMove(r.payload, before, numbers) && move(std::move(numbers), before);
            break;
        }
        case journal::Type::Clear:
            ok = clear();
            break;
        case journal::Type::Duration: {
            bool relative = false;
            int frames = 0;
            std::vector<int> numbers;
            ok = journal::readDuration(r.payload, relative, frames, numbers) &&
                 (relative ? changeDuration(std::move(numbers), frames) : setDuration(std::move(numbers), frames));
            break;
        }
        case journal::Type::Durations:
            // The slides held when the journal began: no step of the history.
            ok = r.payload.size() <= count();
            for (qsizetype k = 0; ok && k < r.payload.size(); ++k)
                ok = m_store.setDuration(int(k) + 1, quint8(r.payload[k]));
            break;
        case journal::Type::SoundClip: {
            QByteArray hash;
            QString name;
            QByteArrayView bytes;
            ok = journal::readSoundClip(r.payload, hash, name, bytes);
            // Its own copy: the journal's mapping goes once recovery is over.
            if (ok && !clips.contains(hash))
                clipBytes.insert(hash, {name, bytes.toByteArray()});
            break;
        }
        case journal::Type::SoundMore: {
            const auto it = r.payload.size() > 32 ? clipBytes.find(r.payload.first(32).toByteArray()) : clipBytes.end();
            ok = it != clipBytes.end();
            if (ok)
                it->second.append(r.payload.sliced(32));
            break;
        }
        case journal::Type::Sound: {
            bool held = false;
            std::vector<journal::SoundEntry> entries;
            ok = journal::readSound(r.payload, held, entries);
            std::vector<int> numbers;
            std::vector<SlideSound> sounds;
            for (const journal::SoundEntry &e : entries) {
                SlideSound s;
                if (!e.hash.isEmpty()) {
                    if (const auto it = clipBytes.find(e.hash); it != clipBytes.end()) {
                        // Whole now: checked against the hash it was written under.
                        auto clip = SoundClip::make(std::move(it->second), it->first);
                        clipBytes.erase(it);
                        if (clip->hash == e.hash)
                            clips.insert(e.hash, std::move(clip));
                    }
                    s.clip = clips.value(e.hash);
                    ok = ok && s.clip;
                }
                s.volume = quint8(std::min(e.volume, SlideSound::MaxVolume));
                numbers.push_back(e.number);
                sounds.push_back(std::move(s));
            }
            if (!ok)
                break;
            if (held) {
                // Sounds that came with their slides: no step of the history.
                for (size_t k = 0; ok && k < numbers.size(); ++k)
                    ok = m_store.setSound(numbers[k], sounds[k]);
            } else {
                ok = soundStep(std::move(numbers), std::move(sounds));
            }
            break;
        }
        case journal::Type::Undo:
            ok = undo();
            break;
        case journal::Type::Redo:
            ok = redo();
            break;
        case journal::Type::SaveBegun:
            std::fill(m_unsaved.begin(), m_unsaved.end(), 1);
            break;
        case journal::Type::Saved:
            std::fill(m_unsaved.begin(), m_unsaved.end(), 0);
            m_history.clear();
            break;
        case journal::Type::Picture: {
            QByteArrayView key, bytes;
            ok = journal::readPicture(r.payload, key, bytes);
            if (ok)
                pictures.insert(key.toByteArray(), bytes);
            break;
        }
        case journal::Type::Scene: {
            journal::SceneRecord scene;
            ok = journal::readScene(r.payload, scene);
            if (ok) {
                newestScene = r.payload;
                stage.project = scene.project;
                stage.sceneUnsaved = true;
            }
            break;
        }
        case journal::Type::ProjectSaved:
            std::fill(m_unsaved.begin(), m_unsaved.end(), 0);
            stage.project = QString::fromUtf8(r.payload);
            stage.sceneUnsaved = false;
            break;
        }
        if (!ok)
            break;
        // Where writing may go on if this journal is taken over: after the last record that fitted and
        // closed its step, so that a series cut short is not taken into the next one.
        if (m_leftOver.fd >= 0 && added.count() == 0)
            m_leftOverValid = r.payload.data() + r.payload.size() + journal::ChecksumSize - m_leftOver.bytes.constData();
        bytesSince += r.payload.size();
        if (reached && (++replayed % 256 == 0 || bytesSince >= (qsizetype(8) << 20))) {
            reached(r.payload.data() + r.payload.size());
            bytesSince = 0;
        }
    }
    // Copied out while the records are still there to read: only the pictures the newest stage names.
    journal::SceneRecord scene;
    if (!newestScene.isEmpty() && journal::readScene(newestScene, scene)) {
        stage.scene = scene.scene.toByteArray();
        stage.lastScene = newestScene.toByteArray();
        for (const QByteArray &key : std::as_const(scene.keys)) {
            if (const auto at = pictures.constFind(key); at != pictures.cend())
                stage.pictures.insert(key, at->toByteArray());
        }
    }
    for (auto at = pictures.cbegin(); at != pictures.cend(); ++at)
        stage.keys.insert(at.key());
    m_recovered = std::move(stage);
    m_replaying = false;
    emit changed();
    return ok;
}

SlideBuffer::Found SlideBuffer::findLeftOver(const std::function<void(qint64 done, qint64 total)> &progress)
{
    Found found;
    if (m_journalFolder.isEmpty())
        return found;
    QStringList kept;
    std::vector<journal::Orphan> list = journal::orphans(m_journalFolder);
    for (journal::Orphan &o : list) {
        if (found.unsaved > 0 || found.sceneUnsaved) {
            // One question per start: the others wait for the next.
            journal::closeOrphan(o);
            continue;
        }
        const journal::Parsed parsed = journal::parse(o.bytes);
        if (parsed.status == journal::Parsed::FutureVersion) {
            const QString aside = keepAside(o.path, QStringLiteral(".kept"), kept);
            if (!aside.isEmpty())
                found.keptAside = QStringList{aside};
            journal::closeOrphan(o);
            continue;
        }
        if (parsed.status != journal::Parsed::Ok) {
            // Not even a header to read: nothing can come of it, but it is kept rather than destroyed.
            if (const QString aside = keepAside(o.path, QStringLiteral(".damaged"), kept); !aside.isEmpty())
                found.damaged = aside;
            journal::closeOrphan(o);
            continue;
        }
        m_leftOver = std::move(o);
        o.fd = -1;
        m_leftOverValid = journal::HeaderSize;
        // Checking the records read every page of the file once; they are let go, and read again and let go
        // as the records are replayed, so that the journal is never held in memory beside its slides.
        m_leftOver.map.release(m_leftOver.bytes.size());
        replay(parsed.records, [this, &progress](const char *reached) {
            const qsizetype done = reached - m_leftOver.bytes.constData();
            m_leftOver.map.release(done);
            if (progress)
                progress(done, m_leftOver.bytes.size());
        });
        found.unsaved = unsavedCount();
        found.slides = count();
        found.sceneUnsaved = m_recovered.sceneUnsaved;
        if (found.unsaved > 0 || found.sceneUnsaved) {
            found.scene = m_recovered.scene;
            found.pictures = m_recovered.pictures;
            found.project = m_recovered.project;
        }
        if (found.unsaved == 0 && parsed.damaged && parsed.records.empty()) {
            // Damaged before its first record: kept aside rather than destroyed, and not read again.
            if (const QString aside = keepAside(m_leftOver.path, QStringLiteral(".damaged"), kept); !aside.isEmpty())
                found.damaged = aside;
            journal::closeOrphan(m_leftOver);
        }
        if (found.unsaved == 0 && !found.sceneUnsaved)
            declineLeftOver();
    }
    return found;
}

void SlideBuffer::acceptLeftOver()
{
    if (m_leftOver.fd < 0)
        return;
    QString why;
    m_writer = journal::Writer::adopt(std::move(m_leftOver), m_journalFolder, m_leftOverValid, &why);
    journal::closeOrphan(m_leftOver);
    // The journal goes on with the pictures and the stage it holds; the stage is as unsaved as it was.
    m_sceneUnsaved = m_recovered.sceneUnsaved;
    m_journalKeys = std::move(m_recovered.keys);
    m_lastScene = std::move(m_recovered.lastScene);
    m_recovered = Recovered();
    if (!m_writer) {
        m_journalOff = true;
        if (m_warn)
            m_warn(why);
        return;
    }
    watchJournal();
}

void SlideBuffer::declineLeftOver()
{
    m_recovered = Recovered();
    m_history.clear();
    m_after = 0;
    m_store.clear();
    m_unsaved.clear();
    m_thumbs.clear();
    if (m_leftOver.fd >= 0)
        QFile::remove(m_leftOver.path);
    journal::closeOrphan(m_leftOver);
    emit changed();
}

} // namespace slides
