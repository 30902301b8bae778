#include "export/ScaledFrames.h"

#include <cstring>
#include <new>

namespace exporting {

ScaledFrames::ScaledFrames(FrameSource &inner, int factor) : m_inner(inner), m_factor(factor) {}

bool ScaledFrames::read(int i, Frame &frame, QString &error)
{
    if (m_factor == 1)
        return m_inner.read(i, frame, error);
    Frame in;
    if (!m_inner.read(i, in, error)) {
        m_held = false;
        return false;
    }
    const int f = m_factor;
    const QSize size = in.size * f;
    const qsizetype stride = qsizetype(size.width()) * 3;
    const QRect whole(QPoint(0, 0), in.size);
    // Outside the changed rectangle the frame before is still in the rows.
    QRect redo = in.changed & whole;
    if (!m_held || size != m_size) {
        try {
            m_rows.resize(size_t(stride) * size_t(size.height()));
        } catch (const std::bad_alloc &) {
            m_held = false;
            error = QStringLiteral("Недостаточно памяти");
            return false;
        }
        m_size = size;
        redo = whole;
    }
    const qsizetype blockRow = qsizetype(redo.width()) * f * 3;
    for (int y = redo.top(); y <= redo.bottom(); ++y) {
        const uchar *src = in.bgr + y * in.stride + qsizetype(redo.left()) * 3;
        uchar *first = m_rows.data() + qsizetype(y) * f * stride + qsizetype(redo.left()) * f * 3;
        uchar *dst = first;
        for (int x = 0; x < redo.width(); ++x, src += 3)
            for (int k = 0; k < f; ++k, dst += 3)
                std::memcpy(dst, src, 3);
        for (int k = 1; k < f; ++k)
            std::memcpy(first + k * stride, first, size_t(blockRow));
    }
    m_held = true;
    frame.bgr = m_rows.data();
    frame.stride = stride;
    frame.size = size;
    frame.changed = in.changed.isEmpty()
                        ? QRect()
                        : QRect(in.changed.x() * f, in.changed.y() * f, in.changed.width() * f, in.changed.height() * f);
    return true;
}

} // namespace exporting
