#pragma once
// Decoded sounds kept by the hash of their file's bytes, so that a slide's sound is decoded once however
// often the preview plays it or a film is made of it. Decoding runs on worker threads: asking never waits
// (unless asked to), and a slide shows its mark long before a long song is decoded. What is kept is
// bounded: past the bound, the sounds used least recently go, to be decoded again when next asked for.

#include <QByteArray>
#include <QString>

#include <memory>

#include "sound/Sound.h"

namespace sound {

class PcmCache {
public:
    explicit PcmCache(qint64 maxBytes = qint64(1) << 30);
    // Stops the decodings under way and waits for them.
    ~PcmCache();
    PcmCache(const PcmCache &) = delete;
    PcmCache &operator=(const PcmCache &) = delete;

    // The sound of `bytes` (named `key`, its SHA-256) decoded to at most `maxFrames` frames; null while it is
    // being decoded, which asking starts when it is not under way yet.
    std::shared_ptr<const Decoded> get(const QByteArray &key, const QByteArray &bytes, const QString &name,
                                       qint64 maxFrames);
    // The same, waiting for the decoding.
    std::shared_ptr<const Decoded> wait(const QByteArray &key, const QByteArray &bytes, const QString &name,
                                        qint64 maxFrames);
    // Bytes of decoded sound kept.
    qint64 heldBytes() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace sound
