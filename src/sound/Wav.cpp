#include <QtEndian>

#include "sound/Sound.h"

namespace sound {

QByteArray wavBytes(const Pcm &pcm)
{
    const quint32 data = quint32(pcm.samples.size() * sizeof(qint16));
    QByteArray out;
    out.reserve(44 + int(data));
    const auto u32 = [&](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        out.append(b, 4);
    };
    const auto u16 = [&](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        out.append(b, 2);
    };
    out.append("RIFF", 4);
    u32(36 + data);
    out.append("WAVEfmt ", 8);
    u32(16);
    u16(1); // integer samples
    u16(Channels);
    u32(Rate);
    u32(Rate * Channels * 2);
    u16(Channels * 2);
    u16(16);
    out.append("data", 4);
    u32(data);
    for (qint16 s : pcm.samples)
        u16(quint16(s));
    return out;
}

} // namespace sound
