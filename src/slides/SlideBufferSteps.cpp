// The slide buffer's steps in its history: each change to the slides, done,
// undone and done again, and written to the journal at its first doing.

#include "slides/SlideBuffer.h"
#include "slides/SlideBufferParts.h"

#include <QUndoCommand>

#include <algorithm>
#include <utility>

namespace slides {

namespace {

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

QUndoCommand *recordCommand(SlideBuffer &buffer) { return new RecordCommand(buffer); }

QUndoCommand *recordAtCommand(SlideBuffer &buffer, int at, SlideStore::Packed &&slide, bool *ok)
{
    return new RecordAtCommand(buffer, at, std::move(slide), ok);
}

QUndoCommand *replaceCommand(SlideBuffer &buffer, int n, SlideStore::Packed &&slide, bool *ok)
{
    return new ReplaceCommand(buffer, n, std::move(slide), ok);
}

QUndoCommand *removeCommand(SlideBuffer &buffer, std::vector<int> numbers, bool *ok)
{
    return new RemoveCommand(buffer, std::move(numbers), ok);
}

QUndoCommand *duplicateCommand(SlideBuffer &buffer, std::vector<int> numbers, bool *ok)
{
    return new DuplicateCommand(buffer, std::move(numbers), ok);
}

QUndoCommand *clearCommand(SlideBuffer &buffer) { return new ClearCommand(buffer); }

std::vector<int> moveOrder(int count, const std::vector<int> &numbers, int before)
{
    return MoveCommand::orderOf(count, numbers, before, false);
}

QUndoCommand *moveCommand(SlideBuffer &buffer, std::vector<int> numbers, int before, bool *ok)
{
    return new MoveCommand(buffer, std::move(numbers), before, ok);
}

QUndoCommand *addSeriesCommand(SlideBuffer &buffer, SlideStore &&slides, int at, bool *ok)
{
    return new AddSeriesCommand(buffer, std::move(slides), at, ok);
}

QUndoCommand *durationCommand(SlideBuffer &buffer, std::vector<int> numbers, std::vector<quint8> before,
                              std::vector<quint8> after, QByteArray record)
{
    return new DurationCommand(std::move(numbers), std::move(before), std::move(after), std::move(record), buffer);
}

QUndoCommand *soundCommand(SlideBuffer &buffer, std::vector<int> numbers, std::vector<SlideSound> before,
                           std::vector<SlideSound> after)
{
    return new SoundCommand(std::move(numbers), std::move(before), std::move(after), buffer);
}

} // namespace slides
