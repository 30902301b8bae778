#pragma once
// What the slide buffer's two source files share: the buffer's own business,
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

} // namespace slides
