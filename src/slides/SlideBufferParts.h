#pragma once
// What the slide buffer's source files share: the buffer's own business,
// not for other parts of the program.

#include <algorithm>
#include <vector>

#include "slides/SlideStore.h"

class QUndoCommand;

namespace slides {

class SlideBuffer;

// Room for `extra` more entries, grown by doubling: reserving exactly one more each time would copy
// the whole vector at every slide.
template<typename T>
void makeRoom(std::vector<T> &v, size_t extra)
{
    if (v.size() + extra > v.capacity())
        v.reserve(std::max(v.size() + extra, std::max<size_t>(64, v.capacity() * 2)));
}

// The history's step for a slide recorded (or replayed from the journal) as the newest.
QUndoCommand *recordCommand(SlideBuffer &buffer);
// The steps for a slide recorded at `at` and for slide n recorded again, from a slide packed against the
// slide before that place; `ok` is told whether the first doing worked.
QUndoCommand *recordAtCommand(SlideBuffer &buffer, int at, SlideStore::Packed &&slide, bool *ok);
QUndoCommand *replaceCommand(SlideBuffer &buffer, int n, SlideStore::Packed &&slide, bool *ok);
// The steps for the other changes, each done at once when pushed; `ok` is
// told whether that worked. `numbers` are ascending, without repeats.
QUndoCommand *removeCommand(SlideBuffer &buffer, std::vector<int> numbers, bool *ok);
QUndoCommand *duplicateCommand(SlideBuffer &buffer, std::vector<int> numbers, bool *ok);
QUndoCommand *clearCommand(SlideBuffer &buffer);
// The slides' order after moving `numbers` before slide `before`; empty when nothing would move.
std::vector<int> moveOrder(int count, const std::vector<int> &numbers, int before);
QUndoCommand *moveCommand(SlideBuffer &buffer, std::vector<int> numbers, int before, bool *ok);
QUndoCommand *addSeriesCommand(SlideBuffer &buffer, SlideStore &&slides, int at, bool *ok);
// Durations and sounds of the slides `numbers`, from `before` to `after`; the
// duration's journal `record` is written at the first doing.
QUndoCommand *durationCommand(SlideBuffer &buffer, std::vector<int> numbers, std::vector<quint8> before,
                              std::vector<quint8> after, QByteArray record);
QUndoCommand *soundCommand(SlideBuffer &buffer, std::vector<int> numbers, std::vector<SlideSound> before,
                           std::vector<SlideSound> after);

} // namespace slides
