#pragma once
// Frames made larger by a whole factor for sharing: each pixel becomes a
// square block of factor × factor pixels, so edges stay as crisp as on the
// stage. It sits between any source and the writer, so every format gets
// the same larger frames, and what changed grows with them.

#include <vector>

#include "export/FrameSource.h"

namespace exporting {

// The sizes the program offers: ×1, ×2 and ×3.
constexpr int MinScale = 1;
constexpr int MaxScale = 3;

class ScaledFrames : public FrameSource {
public:
    // `factor` 1 passes the frames through untouched.
    ScaledFrames(FrameSource &inner, int factor);
    int count() const override { return m_inner.count(); }
    bool read(int i, Frame &frame, QString &error) override;
    int duration(int i) const override { return m_inner.duration(i); }
    bool costlyToReread() const override { return m_inner.costlyToReread(); }

private:
    FrameSource &m_inner;
    int m_factor;
    std::vector<uchar> m_rows; // the frame before, scaled: only its changed part is redone
    QSize m_size;
    bool m_held = false;
};

} // namespace exporting
