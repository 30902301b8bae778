#include "slides/SlideBuffer.h"
#include "slides/SlideBufferParts.h"

#include <QThreadPool>
#include <QUndoCommand>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

namespace slides {

namespace {

// How many changes can be undone. A recording kept in the history costs a
// few bytes until it is undone; what an undone or cleared slide costs is
// its packed bytes, which leave the buffer for the history.
constexpr int HistoryLimit = 500;

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

constexpr QSize ThumbSize(75, 63);

QImage thumbnailOf(const QImage &slide)
{
    return slide.scaled(ThumbSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_RGB888);
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
            m_b.journalRecord(journal::Type::Append, flags, bytes);
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

// A slide recorded at `at`, just after the slide the insertion point named; putting it there moves the point on.
class RecordAtCommand : public QUndoCommand {
public:
    RecordAtCommand(SlideBuffer &b, int at, SlideStore::Packed &&slide, bool *ok) : m_b(b), m_at(at), m_ok(ok)
    {
        m_taken.packed.push_back(std::move(slide));
        m_taken.unsaved.push_back(1);
    }
    void redo() override
    {
        // Shares of the bytes, for the journal: putting them in hands the packed slide over to the store.
        const SlideStore::Packed slide = m_taken.packed.empty() ? SlideStore::Packed() : m_taken.packed.front();
        if (!m_b.put(m_at, std::move(m_taken))) {
            setObsolete(m_ok != nullptr);
            return;
        }
        if (m_ok) {
            *m_ok = true;
            m_ok = nullptr;
            m_b.journalRecord(journal::placedRecord(journal::Type::RecordAt, m_at, slide.flags, slide.bytes));
        }
    }
    void undo() override { m_b.take(m_at, 1, m_taken); }

private:
    SlideBuffer &m_b;
    int m_at;
    SlideBuffer::Taken m_taken;
    bool *m_ok;
};

// Slide n recorded again: the slide held and its new picture change places at each doing and undoing.
class ReplaceCommand : public QUndoCommand {
public:
    ReplaceCommand(SlideBuffer &b, int n, SlideStore::Packed &&slide, bool *ok) : m_b(b), m_n(n), m_ok(ok)
    {
        m_other.packed.push_back(std::move(slide));
        m_other.unsaved.push_back(1);
    }
    void redo() override
    {
        const SlideStore::Packed slide = m_other.packed.empty() ? SlideStore::Packed() : m_other.packed.front();
        if (!swap()) {
            setObsolete(m_ok != nullptr);
            return;
        }
        if (m_ok) {
            *m_ok = true;
            m_ok = nullptr;
            m_b.journalRecord(journal::placedRecord(journal::Type::Replace, m_n, slide.flags, slide.bytes));
        }
    }
    void undo() override { swap(); }

private:
    // Takes slide n out and puts the other in its place; false, with the slides as they were, when it cannot.
    bool swap()
    {
        const int point = m_b.insertionPoint();
        SlideBuffer::Taken held;
        if (!m_b.take(m_n, 1, held))
            return false;
        // A new picture for the slide: the sound that starts there stays.
        if (!m_other.packed.empty() && !held.packed.empty())
            m_other.packed.front().sound = held.packed.front().sound;
        if (!m_b.put(m_n, std::move(m_other))) {
            m_b.put(m_n, std::move(held));
            m_b.keepPoint(point);
            return false;
        }
        m_other = std::move(held);
        m_b.keepPoint(point);
        m_b.changedNow();
        return true;
    }

    SlideBuffer &m_b;
    int m_n;
    SlideBuffer::Taken m_other; // the slide that is not in the buffer now
    bool *m_ok;
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

// Slides moved together: the new order and its reverse are worked out from the numbers at each doing,
// so that a step of the history holds no list of every slide.
class MoveCommand : public QUndoCommand {
public:
    MoveCommand(SlideBuffer &b, std::vector<int> numbers, int before, bool *ok)
        : m_b(b), m_numbers(std::move(numbers)), m_before(before), m_ok(ok)
    {
    }
    void redo() override
    {
        if (!m_b.reorder(order(false))) {
            setObsolete(m_ok != nullptr);
            return;
        }
        if (m_ok) {
            *m_ok = true;
            m_ok = nullptr;
            m_b.journalRecord(journal::record(journal::Type::Move, journal::movePayload(m_before, m_numbers)));
        }
    }
    void undo() override { m_b.reorder(order(true)); }

    // The order after the move, or (back) the order that undoes it; empty when it moves nothing.
    static std::vector<int> orderOf(int count, const std::vector<int> &numbers, int before, bool back)
    {
        std::vector<int> order;
        order.reserve(size_t(count));
        size_t next = 0;
        for (int i = 1; i <= count + 1; ++i) {
            if (i == before)
                order.insert(order.end(), numbers.begin(), numbers.end());
            if (i > count)
                break;
            if (next < numbers.size() && numbers[next] == i)
                ++next;
            else
                order.push_back(i);
        }
        bool still = true;
        for (int k = 0; still && k < count; ++k)
            still = order[size_t(k)] == k + 1;
        if (still)
            return {};
        if (back) {
            std::vector<int> inverse(static_cast<size_t>(count));
            for (int k = 0; k < count; ++k)
                inverse[size_t(order[size_t(k)] - 1)] = k + 1;
            return inverse;
        }
        return order;
    }

private:
    std::vector<int> order(bool back) const { return orderOf(m_b.count(), m_numbers, m_before, back); }

    SlideBuffer &m_b;
    std::vector<int> m_numbers;
    int m_before;
    bool *m_ok;
};

class AddSeriesCommand : public QUndoCommand {
public:
    AddSeriesCommand(SlideBuffer &b, SlideStore &&slides, int at, bool *ok)
        : m_b(b), m_at(at), m_n(slides.count()), m_ok(ok)
    {
        m_first.swap(slides);
    }
    void redo() override
    {
        if (m_ok) {
            // The first time at the end the buffer takes over the blocks the slides were read into: no copy.
            // Elsewhere they are told into the place they go.
            bool put = false;
            if (m_at == m_b.count() + 1) {
                put = m_b.putAll(std::move(m_first));
            } else {
                SlideBuffer::Taken taken;
                put = m_first.take(1, m_n, taken.packed);
                taken.unsaved.assign(size_t(m_n), 1);
                put = put && m_b.put(m_at, std::move(taken));
            }
            if (!put) {
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
        m_b.journalFrom([held, at = m_at, next = size_t(0)](QByteArray &record) mutable {
            if (next > held->size())
                return false;
            if (next == held->size()) {
                // Where the slides go and how long each lasts.
                QByteArray end = journal::numbers({at});
                end.reserve(end.size() + qsizetype(held->size()));
                for (const SlideStore::PackedShare &p : *held)
                    end.append(char(p.duration));
                record = journal::record(journal::Type::AddedEnd, end);
            } else {
                record = journal::record(journal::Type::Added, (*held)[next].flags,
                                         QByteArrayView((*held)[next].data, (*held)[next].size));
            }
            ++next;
            return true;
        });    // Then the sounds they brought (pasted slides keep theirs), set with the slides, not as a step.
        std::vector<int> with;
        std::vector<SlideSound> sounds;
        for (int i = m_at; i < m_at + m_n; ++i) {
            if (SlideSound s = m_b.store().sound(i)) {
                with.push_back(i);
                sounds.push_back(std::move(s));
            }
        }
        if (!with.empty())
            m_b.journalSounds(with, sounds, true);
    }

    SlideBuffer &m_b;
    int m_at;
    int m_n;
    SlideStore m_first;         // the slides as read, until the first doing
    SlideBuffer::Taken m_taken; // after an undo
    bool *m_ok;
};

class DurationCommand : public QUndoCommand {
public:
    DurationCommand(std::vector<int> numbers, std::vector<quint8> before, std::vector<quint8> after,
                    QByteArray record, SlideBuffer &b)
        : m_b(b), m_numbers(std::move(numbers)), m_before(std::move(before)), m_after(std::move(after)),
          m_record(std::move(record))
    {
    }
    void redo() override
    {
        m_b.putDurations(m_numbers, m_after);
        if (!m_record.isEmpty())
            m_b.journalRecord(std::exchange(m_record, QByteArray()));
    }
    void undo() override { m_b.putDurations(m_numbers, m_before); }

private:
    SlideBuffer &m_b;
    std::vector<int> m_numbers;
    std::vector<quint8> m_before, m_after;
    QByteArray m_record; // written at the first doing; undo and redo are journaled as such
};

class SoundCommand : public QUndoCommand {
public:
    SoundCommand(std::vector<int> numbers, std::vector<SlideSound> before, std::vector<SlideSound> after,
                 SlideBuffer &b)
        : m_b(b), m_numbers(std::move(numbers)), m_before(std::move(before)), m_after(std::move(after))
    {
    }
    void redo() override
    {
        m_b.putSounds(m_numbers, m_after);
        if (std::exchange(m_first, false))
            m_b.journalSounds(m_numbers, m_after);
    }
    void undo() override { m_b.putSounds(m_numbers, m_before); }

private:
    SlideBuffer &m_b;
    std::vector<int> m_numbers;
    std::vector<SlideSound> m_before, m_after;
    bool m_first = true; // undo and redo are journaled as such
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

struct SlideBuffer::MadeThumbs {
    std::mutex mutex;
    std::vector<std::pair<qint64, QImage>> made; // the picture's cache key, its thumbnail
};

SlideBuffer::SlideBuffer(QObject *parent)
    : QObject(parent), m_made(std::make_shared<MadeThumbs>()), m_thumbTimer(new QTimer(this))
{
    m_history.setUndoLimit(HistoryLimit);
    // Not a zero delay: recording lets events run, and the thumbnails are to be made between recordings.
    // Those sent are looked for again until all have come back.
    m_thumbTimer->setSingleShot(true);
    m_thumbTimer->setInterval(5);
    connect(m_thumbTimer, &QTimer::timeout, this, [this] {
        takeMadeThumbs();
        sendWaitingThumbs();
        if (m_sentThumbs > 0)
            m_thumbTimer->start();
    });
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
    takeMadeThumbs();
    QImage &t = m_thumbs[size_t(i - 1)];
    if (t.isNull())
        t = thumbnailOf(m_store.slide(i));
    else if (t.width() == SlideWidth)
        t = thumbnailOf(t);
    return t;
}

void SlideBuffer::makeWaitingThumbs() const
{
    takeMadeThumbs();
    if (m_waitingThumbs == 0 && m_sentThumbs == 0)
        return;
    m_waitingThumbs = 0;
    m_unsent.clear();
    m_thumbTimer->stop();
    // Edits since they were recorded may have moved them anywhere; a look at every slide costs microseconds.
    // Those still on their way are made here too; what comes back for them later finds no picture to replace.
    for (QImage &t : m_thumbs) {
        if (t.width() == SlideWidth)
            t = thumbnailOf(t);
    }
}

void SlideBuffer::sendWaitingThumbs() const
{
    if (m_unsent.empty())
        return;
    m_sentThumbs += int(m_unsent.size());
    m_waitingThumbs = 0;
    // The thumbnails' memory is taken here: taken on the pool's thread, ten thousand of them would stay
    // in that thread's own heap, megabytes apart from the rest.
    std::vector<QImage> thumbs;
    thumbs.reserve(m_unsent.size());
    for (size_t k = 0; k < m_unsent.size(); ++k)
        thumbs.emplace_back(ThumbSize, QImage::Format_RGB888);
    QThreadPool::globalInstance()->start(
        [made = m_made, pictures = std::exchange(m_unsent, {}), thumbs = std::move(thumbs)]() mutable {
            for (size_t k = 0; k < pictures.size(); ++k) {
                // Short of memory, a null one comes back: the slide's thumbnail is then made when painted.
                const QImage thumb = thumbnailOf(pictures[k]);
                if (thumb.size() != thumbs[k].size() || thumb.format() != thumbs[k].format())
                    thumbs[k] = QImage();
                else
                    for (int y = 0; y < thumb.height(); ++y)
                        std::memcpy(thumbs[k].scanLine(y), thumb.constScanLine(y), size_t(thumb.bytesPerLine()));
                const std::lock_guard lock(made->mutex);
                made->made.emplace_back(pictures[k].cacheKey(), std::move(thumbs[k]));
            }
        });
}

void SlideBuffer::takeMadeThumbs() const
{
    if (m_sentThumbs == 0)
        return;
    std::vector<std::pair<qint64, QImage>> made;
    {
        const std::lock_guard lock(m_made->mutex);
        made.swap(m_made->made);
    }
    for (auto &[key, thumb] : made) {
        --m_sentThumbs;
        if (thumb.isNull())
            continue;
        // Most likely among the newest slides; one taken away meanwhile is not found.
        for (auto t = m_thumbs.rbegin(); t != m_thumbs.rend(); ++t)
            if (t->width() == SlideWidth && t->cacheKey() == key) {
                *t = std::move(thumb);
                break;
            }
    }
}

bool SlideBuffer::record(const QImage &image)
{
    if (m_after > 0) {
        SlideStore::Packed packed;
        if (!m_store.packImage(m_after, image, packed))
            return false;
        return pushPlaced(recordAtCommand, m_after + 1, std::move(packed));
    }
    startJournal();
    // A recorded slide's thumbnail is made from the picture at hand, so that scrolling the buffer costs no
    // unpacking, but shortly after rather than now; slides that come back by undo or recovery get theirs
    // when first painted.
    try {
        makeRoom(m_unsaved, 1);
        makeRoom(m_thumbs, 1);
    } catch (const std::bad_alloc &) {
        return false;
    }
    takeMadeThumbs();
    if (m_waitingThumbs + m_sentThumbs >= ThumbsAtMost)
        makeWaitingThumbs();
    else if (m_waitingThumbs >= WaitingThumbs)
        sendWaitingThumbs();
    if (!m_store.append(image))
        return false;
    m_unsaved.push_back(1);
    m_thumbs.push_back(image.width() == SlideWidth ? image : thumbnailOf(image));
    if (image.width() == SlideWidth) {
        m_unsent.push_back(image);
        ++m_waitingThumbs;
    }
    if (!m_thumbTimer->isActive())
        m_thumbTimer->start();
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

bool SlideBuffer::move(std::vector<int> numbers, int before)
{
    normalise(numbers);
    if (numbers.empty() || numbers.front() < 1 || numbers.back() > count() || before < 1 || before > count() + 1)
        return false;
    try {
        if (MoveCommand::orderOf(count(), numbers, before, false).empty())
            return false;
        bool ok = false;
        pushStep(new MoveCommand(*this, std::move(numbers), before, &ok));
        return ok;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

bool SlideBuffer::reorder(const std::vector<int> &order)
{
    const size_t n = size_t(count());
    if (order.empty() || !m_store.reorder(order))
        return false;
    // The store checked that `order` names every slide once: nothing below can go out of range.
    std::vector<quint8> unsaved(n);
    std::vector<QImage> thumbs(n);
    int point = 0;
    for (size_t k = 0; k < n; ++k) {
        const size_t was = size_t(order[k] - 1);
        unsaved[k] = was == k ? m_unsaved[was] : 1;
        thumbs[k] = std::move(m_thumbs[was]);
        if (int(was) + 1 == m_after)
            point = int(k) + 1;
    }
    m_unsaved.swap(unsaved);
    m_thumbs.swap(thumbs);
    keepPoint(point);
    emit changed();
    return true;
}

bool SlideBuffer::replace(int n, const QImage &image)
{
    SlideStore::Packed packed;
    if (n < 1 || n > count() || !m_store.packImage(n - 1, image, packed))
        return false;
    return pushPlaced(replaceCommand, n, std::move(packed));
}

bool SlideBuffer::pushPlaced(PlacedCommand make, int number, SlideStore::Packed &&slide)
{
    bool ok = false;
    pushStep(make(*this, number, std::move(slide), &ok));
    return ok;
}

void SlideBuffer::recordAfter(int n) { setPoint(n); }

void SlideBuffer::setPoint(int n)
{
    const int was = m_after;
    keepPoint(n);
    if (m_after != was)
        emit insertionPointMoved();
}

bool SlideBuffer::addSeries(SlideStore &&slides, int at)
{
    if (at == 0)
        at = count() + 1;
    if (slides.count() == 0 || at < 1 || at > count() + 1)
        return false;
    bool ok = false;
    pushStep(new AddSeriesCommand(*this, std::move(slides), at, &ok));
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

bool SlideBuffer::setDuration(std::vector<int> numbers, int frames)
{
    if (frames < 1 || frames > SlideStore::MaxDuration)
        return false;
    return durationStep(std::move(numbers), false, frames);
}

bool SlideBuffer::changeDuration(std::vector<int> numbers, int delta)
{
    if (delta == 0 || std::abs(delta) >= SlideStore::MaxDuration)
        return false;
    return durationStep(std::move(numbers), true, delta);
}

bool SlideBuffer::durationStep(std::vector<int> numbers, bool relative, int frames)
{
    normalise(numbers);
    if (numbers.empty() || numbers.front() < 1 || numbers.back() > count())
        return false;
    std::vector<quint8> before, after;
    try {
        before.reserve(numbers.size());
        after.reserve(numbers.size());
        // Only the slides whose duration changes are kept in the step.
        std::vector<int> changing;
        changing.reserve(numbers.size());
        for (int i : numbers) {
            const int was = m_store.duration(i);
            const int now = relative ? std::clamp(was + frames, 1, SlideStore::MaxDuration) : frames;
            if (now == was)
                continue;
            changing.push_back(i);
            before.push_back(quint8(was));
            after.push_back(quint8(now));
        }
        if (changing.empty())
            return false;
        // Written as asked, so that replaying it walks through the same clamping.
        QByteArray record =
            journal::record(journal::Type::Duration, journal::durationPayload(relative, frames, numbers));
        pushStep(new DurationCommand(std::move(changing), std::move(before), std::move(after), std::move(record),
                                     *this));
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

void SlideBuffer::putDurations(const std::vector<int> &numbers, const std::vector<quint8> &frames)
{
    for (size_t k = 0; k < numbers.size() && k < frames.size(); ++k) {
        m_store.setDuration(numbers[k], frames[k]);
        // Its saved files no longer say how long it lasts: after a crash it is offered again.
        m_unsaved[size_t(numbers[k] - 1)] = 1;
    }
    m_onlyDurations = true;
    emit changed();
    m_onlyDurations = false;
}

bool SlideBuffer::setSound(int n, std::shared_ptr<const SoundClip> clip)
{
    if (n < 1 || n > count() || !clip)
        return false;
    SlideSound now{std::move(clip), m_store.sound(n) ? m_store.sound(n).volume : quint8(100)};
    return soundStep({n}, {now});
}

bool SlideBuffer::setVolume(std::vector<int> numbers, int percent)
{
    if (percent < 0 || percent > SlideSound::MaxVolume)
        return false;
    normalise(numbers);
    std::vector<int> with;
    std::vector<SlideSound> sounds;
    for (int i : numbers) {
        SlideSound s = m_store.sound(i);
        if (!s)
            continue;
        s.volume = quint8(percent);
        with.push_back(i);
        sounds.push_back(std::move(s));
    }
    return soundStep(std::move(with), std::move(sounds));
}

bool SlideBuffer::removeSound(std::vector<int> numbers)
{
    normalise(numbers);
    std::vector<int> with;
    for (int i : numbers)
        if (m_store.sound(i))
            with.push_back(i);
    const size_t n = with.size();
    return soundStep(std::move(with), std::vector<SlideSound>(n));
}

bool SlideBuffer::soundStep(std::vector<int> numbers, std::vector<SlideSound> sounds)
{
    if (numbers.empty() || numbers.size() != sounds.size())
        return false;
    try {
        std::vector<int> changing;
        std::vector<SlideSound> before, after;
        for (size_t k = 0; k < numbers.size(); ++k) {
            const int i = numbers[k];
            if (i < 1 || i > count())
                return false;
            const SlideSound was = m_store.sound(i);
            if (was == sounds[k])
                continue;
            changing.push_back(i);
            before.push_back(was);
            after.push_back(std::move(sounds[k]));
        }
        if (changing.empty())
            return false;
        pushStep(new SoundCommand(std::move(changing), std::move(before), std::move(after), *this));
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

void SlideBuffer::putSounds(const std::vector<int> &numbers, const std::vector<SlideSound> &sounds)
{
    for (size_t k = 0; k < numbers.size() && k < sounds.size(); ++k) {
        m_store.setSound(numbers[k], sounds[k]);
        // A sound is work the person would miss: after a crash the slide is offered again.
        m_unsaved[size_t(numbers[k] - 1)] = 1;
    }
    // Like a duration, a sound leaves every slide's picture and place as it was.
    m_onlyDurations = true;
    emit changed();
    m_onlyDurations = false;
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
    // Slides taken before the point move it back; when the slide it follows goes, it follows the one
    // before the gap, or recording goes to the end when there is none.
    if (m_after >= first + n)
        keepPoint(m_after - n);
    else if (m_after >= first)
        keepPoint(first - 1);
    else
        keepPoint(m_after);
    emit changed();
    return true;
}

void SlideBuffer::replaceAll(SlideStore &&slides)
{
    if (m_writer) {
        m_writer->remove();
        m_writer.reset();
    }
    m_history.clear();
    m_after = 0;
    m_store.swap(slides);
    m_unsaved.assign(size_t(m_store.count()), 0);
    m_thumbs.assign(size_t(m_store.count()), QImage());
    emit changed();
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
    // Slides put in before the point, or just after it, move it on: a recording there, or slides given
    // back by an undo, land before it as they were.
    if (m_after > 0 && m_after >= at - 1)
        keepPoint(m_after + int(n));
    emit changed();
    return true;
}

void SlideBuffer::swapAll(Everything &other)
{
    m_store.swap(other.store);
    m_unsaved.swap(other.unsaved);
    m_thumbs.swap(other.thumbs);
    m_after = 0;
    emit changed();
}

QUndoCommand *recordCommand(SlideBuffer &buffer) { return new RecordCommand(buffer); }

QUndoCommand *recordAtCommand(SlideBuffer &buffer, int at, SlideStore::Packed &&slide, bool *ok)
{
    return new RecordAtCommand(buffer, at, std::move(slide), ok);
}

QUndoCommand *replaceCommand(SlideBuffer &buffer, int n, SlideStore::Packed &&slide, bool *ok)
{
    return new ReplaceCommand(buffer, n, std::move(slide), ok);
}

} // namespace slides
