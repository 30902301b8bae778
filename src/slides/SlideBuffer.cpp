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
    m_history.push(recordCommand(*this));
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

bool SlideBuffer::onSlides(std::vector<int> numbers, QUndoCommand *(*make)(SlideBuffer &, std::vector<int>, bool *))
{
    normalise(numbers);
    if (numbers.empty() || numbers.front() < 1 || numbers.back() > count())
        return false;
    // The command says through `ok` whether its first doing worked; one that failed is dropped by the stack.
    bool ok = false;
    pushStep(make(*this, std::move(numbers), &ok));
    return ok;
}

bool SlideBuffer::remove(std::vector<int> numbers) { return onSlides(std::move(numbers), removeCommand); }

bool SlideBuffer::duplicate(std::vector<int> numbers) { return onSlides(std::move(numbers), duplicateCommand); }

bool SlideBuffer::clear()
{
    if (count() == 0)
        return false;
    pushStep(clearCommand(*this));
    return true;
}

bool SlideBuffer::move(std::vector<int> numbers, int before)
{
    normalise(numbers);
    if (numbers.empty() || numbers.front() < 1 || numbers.back() > count() || before < 1 || before > count() + 1)
        return false;
    try {
        if (moveOrder(count(), numbers, before).empty())
            return false;
        bool ok = false;
        pushStep(moveCommand(*this, std::move(numbers), before, &ok));
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
    pushStep(addSeriesCommand(*this, std::move(slides), at, &ok));
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
        pushStep(durationCommand(*this, std::move(changing), std::move(before), std::move(after), std::move(record)));
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
        pushStep(soundCommand(*this, std::move(changing), std::move(before), std::move(after)));
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

} // namespace slides
