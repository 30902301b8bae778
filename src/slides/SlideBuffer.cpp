#include "slides/SlideBuffer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QUndoCommand>

#include <algorithm>

namespace slides {

namespace {

// How many changes can be undone. A recording kept in the history costs a
// few bytes until it is undone; what an undone or cleared slide costs is
// its packed bytes, which leave the buffer for the history.
constexpr int HistoryLimit = 500;

constexpr quint8 UnsavedBit = 0x80;

// Runs of consecutive numbers, as (first, count), ascending.
std::vector<std::pair<int, int>> runsOf(const std::vector<int> &ascending)
{
    std::vector<std::pair<int, int>> runs;
    for (int i : ascending) {
        if (!runs.empty() && runs.back().first + runs.back().second == i)
            ++runs.back().second;
        else
            runs.emplace_back(i, 1);
    }
    return runs;
}

// Room for `extra` more entries, grown by doubling: reserving exactly one more each time would copy
// the whole vector at every slide.
template<typename T>
void makeRoom(std::vector<T> &v, size_t extra)
{
    if (v.size() + extra > v.capacity())
        v.reserve(std::max(v.size() + extra, std::max<size_t>(64, v.capacity() * 2)));
}

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

QImage thumbnailOf(const QImage &slide)
{
    return slide.scaled(75, 63, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_RGB888);
}

void normalise(std::vector<int> &numbers)
{
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
}

class RecordCommand : public QUndoCommand {
public:
    explicit RecordCommand(SlideBuffer &b) : m_b(b) {}
    void redo() override
    {
        if (m_first) {
            // The slide went in before the command was pushed; what remains is writing it down.
            m_first = false;
            quint8 flags = 0;
            const QByteArrayView bytes = m_b.store().packedView(m_b.count(), flags);
            m_b.journalRecord(journal::record(journal::Type::Append, flags, bytes));
            return;
        }
        m_b.put(m_b.count() + 1, std::move(m_taken));
    }
    void undo() override { m_b.take(m_b.count(), 1, m_taken); }

private:
    SlideBuffer &m_b;
    SlideBuffer::Taken m_taken;
    bool m_first = true;
};

class RemoveCommand : public QUndoCommand {
public:
    RemoveCommand(SlideBuffer &b, std::vector<int> numbers, bool *ok) : m_b(b), m_numbers(std::move(numbers)), m_ok(ok)
    {
    }
    void redo() override
    {
        const auto runs = runsOf(m_numbers);
        m_taken.assign(runs.size(), {});
        // From the back, so that the numbers of the runs before stay as they were.
        for (size_t k = runs.size(); k-- > 0;) {
            if (!m_b.take(runs[k].first, runs[k].second, m_taken[k])) {
                for (size_t j = k + 1; j < runs.size(); ++j)
                    m_b.put(runs[j].first, std::move(m_taken[j]));
                setObsolete(true);
                return;
            }
        }
        if (m_ok) {
            *m_ok = true;
            m_ok = nullptr;
            m_b.journalRecord(journal::record(journal::Type::Remove, journal::numbers(m_numbers)));
        }
    }
    void undo() override
    {
        const auto runs = runsOf(m_numbers);
        for (size_t k = 0; k < runs.size() && k < m_taken.size(); ++k)
            m_b.put(runs[k].first, std::move(m_taken[k]));
    }

private:
    SlideBuffer &m_b;
    std::vector<int> m_numbers;
    std::vector<SlideBuffer::Taken> m_taken;
    bool *m_ok;
};

class DuplicateCommand : public QUndoCommand {
public:
    DuplicateCommand(SlideBuffer &b, std::vector<int> numbers, bool *ok) : m_b(b), m_numbers(std::move(numbers)), m_ok(ok)
    {
    }
    void redo() override
    {
        const int after = m_numbers.back();
        if (m_ok) {
            if (!m_b.store().packCopies(after, m_numbers, m_taken.packed)) {
                setObsolete(true);
                return;
            }
            m_taken.unsaved.assign(m_numbers.size(), 1);
        }
        if (!m_b.put(after + 1, std::move(m_taken))) {
            setObsolete(m_ok != nullptr);
            return;
        }
        if (m_ok) {
            *m_ok = true;
            m_ok = nullptr;
            m_b.journalRecord(journal::record(journal::Type::Duplicate, journal::numbers(m_numbers)));
        }
    }
    void undo() override { m_b.take(m_numbers.back() + 1, int(m_numbers.size()), m_taken); }

private:
    SlideBuffer &m_b;
    std::vector<int> m_numbers;
    SlideBuffer::Taken m_taken;
    bool *m_ok;
};

class AddSeriesCommand : public QUndoCommand {
public:
    AddSeriesCommand(SlideBuffer &b, SlideStore &&slides, bool *ok)
        : m_b(b), m_at(b.count() + 1), m_n(slides.count()), m_ok(ok)
    {
        m_first.swap(slides);
    }
    void redo() override
    {
        if (m_ok) {
            // The first time the buffer takes over the blocks the slides were read into: no copy.
            if (!m_b.putAll(std::move(m_first))) {
                setObsolete(true);
                return;
            }
            *m_ok = true;
            m_ok = nullptr;
            journal();
            return;
        }
        m_b.put(m_at, std::move(m_taken));
    }
    void undo() override { m_b.take(m_at, m_n, m_taken); }

private:
    // Written slide by slide as they now lie in the store, then closed: recovery that stops short of
    // the closing record adds none of them, as the step was never whole on disk. The journal's thread
    // frames them from shares of the store's blocks, so thousands of slides cost this thread no copy.
    void journal()
    {
        if (!m_b.journalling())
            return;
        auto held = std::make_shared<std::vector<SlideStore::PackedShare>>(m_b.store().share(m_at, m_n));
        m_b.journalFrom([held, next = size_t(0)](QByteArray &record) mutable {
            if (next > held->size())
                return false;
            if (next == held->size())
                record = journal::record(journal::Type::AddedEnd, QByteArrayView());
            else
                record = journal::record(journal::Type::Added, (*held)[next].flags,
                                         QByteArrayView((*held)[next].data, (*held)[next].size));
            ++next;
            return true;
        });
    }

    SlideBuffer &m_b;
    int m_at;
    int m_n;
    SlideStore m_first;         // the slides as read, until the first doing
    SlideBuffer::Taken m_taken; // after an undo
    bool *m_ok;
};

class ClearCommand : public QUndoCommand {
public:
    explicit ClearCommand(SlideBuffer &b) : m_b(b) {}
    // The slides themselves move into the command and back: no copy, whatever their number.
    void redo() override
    {
        m_b.swapAll(m_kept);
        if (m_first) {
            m_first = false;
            m_b.journalRecord(journal::record(journal::Type::Clear, QByteArrayView()));
        }
    }
    void undo() override { m_b.swapAll(m_kept); }

private:
    SlideBuffer &m_b;
    SlideBuffer::Everything m_kept;
    bool m_first = true;
};

} // namespace

SlideBuffer::SlideBuffer(QObject *parent) : QObject(parent)
{
    m_history.setUndoLimit(HistoryLimit);
}

SlideBuffer::~SlideBuffer()
{
    // The history goes first: its commands refer to this buffer.
    m_history.clear();
    journal::closeOrphan(m_leftOver);
}

void SlideBuffer::setJournal(const QString &folder, std::function<void(const QString &)> warn)
{
    m_journalFolder = folder;
    m_warn = std::move(warn);
}

QImage SlideBuffer::thumb(int i) const
{
    if (i < 1 || i > count())
        return QImage();
    QImage &t = m_thumbs[size_t(i - 1)];
    if (t.isNull())
        t = thumbnailOf(m_store.slide(i));
    return t;
}

bool SlideBuffer::record(const QImage &image)
{
    startJournal();
    // A recorded slide's thumbnail is made at once, from the picture at hand, so that scrolling the
    // buffer costs no unpacking; slides that come back by undo or recovery get theirs when first painted.
    QImage thumb;
    try {
        makeRoom(m_unsaved, 1);
        makeRoom(m_thumbs, 1);
        thumb = thumbnailOf(image);
    } catch (const std::bad_alloc &) {
        return false;
    }
    if (!m_store.append(image))
        return false;
    m_unsaved.push_back(1);
    m_thumbs.push_back(std::move(thumb));
    m_history.push(new RecordCommand(*this));
    checkJournal();
    emit changed();
    return true;
}

void SlideBuffer::pushStep(QUndoCommand *command)
{
    // The journal begins with the first change, which it then writes; a write that failed is told.
    startJournal();
    m_history.push(command);
    checkJournal();
}

template<typename Command>
bool SlideBuffer::onSlides(std::vector<int> numbers)
{
    normalise(numbers);
    if (numbers.empty() || numbers.front() < 1 || numbers.back() > count())
        return false;
    // The command says through `ok` whether its first doing worked; one that failed is dropped by the stack.
    bool ok = false;
    pushStep(new Command(*this, std::move(numbers), &ok));
    return ok;
}

bool SlideBuffer::remove(std::vector<int> numbers) { return onSlides<RemoveCommand>(std::move(numbers)); }

bool SlideBuffer::duplicate(std::vector<int> numbers) { return onSlides<DuplicateCommand>(std::move(numbers)); }

bool SlideBuffer::clear()
{
    if (count() == 0)
        return false;
    pushStep(new ClearCommand(*this));
    return true;
}

bool SlideBuffer::addSeries(SlideStore &&slides)
{
    if (slides.count() == 0)
        return false;
    bool ok = false;
    pushStep(new AddSeriesCommand(*this, std::move(slides), &ok));
    return ok;
}

bool SlideBuffer::putAll(SlideStore &&slides)
{
    const size_t n = size_t(slides.count());
    try {
        makeRoom(m_unsaved, n);
        makeRoom(m_thumbs, n);
    } catch (const std::bad_alloc &) {
        return false;
    }
    if (!m_store.appendAll(std::move(slides)))
        return false;
    m_unsaved.insert(m_unsaved.end(), n, 1);
    m_thumbs.insert(m_thumbs.end(), n, QImage());
    emit changed();
    return true;
}

bool SlideBuffer::undo() { return step(true); }

bool SlideBuffer::redo() { return step(false); }

bool SlideBuffer::step(bool back)
{
    if (back ? !m_history.canUndo() : !m_history.canRedo())
        return false;
    back ? m_history.undo() : m_history.redo();
    // Written as the step, not as what it did: replaying walks the same history the same way.
    journalRecord(journal::record(back ? journal::Type::Undo : journal::Type::Redo, QByteArrayView()));
    checkJournal();
    return true;
}

bool SlideBuffer::take(int first, int n, Taken &out)
{
    std::vector<SlideStore::Packed> packed;
    if (!m_store.take(first, n, packed))
        return false;
    const auto from = m_unsaved.begin() + (first - 1);
    out.unsaved.assign(from, from + n);
    out.packed = std::move(packed);
    m_unsaved.erase(from, from + n);
    m_thumbs.erase(m_thumbs.begin() + (first - 1), m_thumbs.begin() + (first - 1 + n));
    emit changed();
    return true;
}

bool SlideBuffer::put(int at, Taken &&taken)
{
    const size_t n = taken.packed.size();
    if (n == 0 || taken.unsaved.size() != n)
        return false;
    try {
        makeRoom(m_unsaved, n);
        makeRoom(m_thumbs, n);
    } catch (const std::bad_alloc &) {
        return false;
    }
    if (!m_store.insert(at, std::move(taken.packed)))
        return false;
    m_unsaved.insert(m_unsaved.begin() + (at - 1), taken.unsaved.begin(), taken.unsaved.end());
    m_thumbs.insert(m_thumbs.begin() + (at - 1), n, QImage());
    taken = Taken();
    emit changed();
    return true;
}

void SlideBuffer::swapAll(Everything &other)
{
    m_store.swap(other.store);
    m_unsaved.swap(other.unsaved);
    m_thumbs.swap(other.thumbs);
    emit changed();
}

void SlideBuffer::saveBegins()
{
    std::fill(m_unsaved.begin(), m_unsaved.end(), 1);
    if (count() == 0 || !startJournal() || !journalling())
        return;
    m_writer->write(journal::record(journal::Type::SaveBegun, QByteArrayView()));
    // Bounded: a disk that hangs must not hang the save; the record still goes out when it can.
    m_writer->sync(SaveBeginWaitMs);
    checkJournal();
}

void SlideBuffer::saved()
{
    std::fill(m_unsaved.begin(), m_unsaved.end(), 0);
    m_history.clear();
    // The journal goes on: nothing written after a save waits behind a copy of what was saved.
    journalRecord(journal::record(journal::Type::Saved, QByteArrayView()));
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
            if (next >= held->size())
                return false;
            const SlideStore::PackedShare &p = (*held)[next];
            const quint8 flags = p.flags | ((*unsaved)[next] ? UnsavedBit : 0);
            record = journal::record(journal::Type::Base, flags, QByteArrayView(p.data, p.size));
            ++next;
            return true;
        });
    }
    watchJournal();
    return true;
}

void SlideBuffer::watchJournal()
{
    // A write that fails on the journal's thread is told on this one, also while nothing is recorded.
    if (findChild<QTimer *>(QStringLiteral("journalCheck")))
        return;
    auto *poll = new QTimer(this);
    poll->setObjectName(QStringLiteral("journalCheck"));
    connect(poll, &QTimer::timeout, this, &SlideBuffer::checkJournal);
    poll->start(500);
}

void SlideBuffer::journalRecord(const QByteArray &record)
{
    if (journalling())
        m_writer->write(record);
}

bool SlideBuffer::journalling() const { return m_writer && !m_replaying && !m_journalOff; }

void SlideBuffer::journalFrom(std::function<bool(QByteArray &record)> next)
{
    if (journalling())
        m_writer->writeFrom(std::move(next));
}

void SlideBuffer::checkJournal()
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
    if (!m_writer->named())
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
        case journal::Type::AddedEnd:
            ok = addSeries(std::move(added));
            added.clear();
            break;
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
                m_history.push(new RecordCommand(*this));
            break;
        }
        case journal::Type::Remove:
            ok = remove(journal::readNumbers(r.payload));
            break;
        case journal::Type::Duplicate:
            ok = duplicate(journal::readNumbers(r.payload));
            break;
        case journal::Type::Clear:
            ok = clear();
            break;
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
        if (found.unsaved > 0) {
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
        if (found.unsaved == 0 && parsed.damaged && parsed.records.empty()) {
            // Damaged before its first record: kept aside rather than destroyed, and not read again.
            if (const QString aside = keepAside(m_leftOver.path, QStringLiteral(".damaged"), kept); !aside.isEmpty())
                found.damaged = aside;
            journal::closeOrphan(m_leftOver);
        }
        if (found.unsaved == 0)
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
    m_history.clear();
    m_store.clear();
    m_unsaved.clear();
    m_thumbs.clear();
    if (m_leftOver.fd >= 0)
        QFile::remove(m_leftOver.path);
    journal::closeOrphan(m_leftOver);
    emit changed();
}

} // namespace slides
