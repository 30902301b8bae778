#pragma once
// The pixels of every recorded slide, kept compact and exact. A slide is
// held as 24-bit rows (blue, green, red, as a BMP file wants them); most
// slides are stored as runs of the bytes that changed since the slide
// before, XORed, so that a scene where only the characters move costs a few
// kilobytes per slide and reading on applies them where they lie, without
// unpacking anything. A whole key slide is kept every KeyInterval slides,
// and a zlib-packed one whenever the difference stops paying off, so that
// reading any slide takes one key and at most KeyInterval - 1 differences.

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QString>

#include <memory>
#include <vector>

namespace slides {

// A sound as it was brought: its file's bytes, kept whole so that a project or a journal holds exactly
// what the person chose, and never changed once made, so that slides, undo steps and copies share it.
struct SoundClip {
    QByteArray bytes;
    QString name;    // the file's name, shown to the person
    QByteArray hash; // SHA-256 of the bytes: names the sound in the journal and the project file
    static std::shared_ptr<const SoundClip> make(QByteArray bytes, QString name);
};

// The sound that starts when a slide shows, with its loudness.
struct SlideSound {
    std::shared_ptr<const SoundClip> clip; // none: the slide has no sound
    quint8 volume = 100;                   // per cent, 0 to MaxVolume
    static constexpr int MaxVolume = 200;
    explicit operator bool() const { return bool(clip); }
    bool operator==(const SlideSound &o) const { return clip == o.clip && volume == o.volume; }
};

class SlideStore {
public:
    SlideStore() = default;
    // A copy is cheap: it shares the blocks that hold the packed slides,
    // whose bytes are never written over, and copies only the list of where
    // each slide lies (some bytes per slide). The copy and the original may
    // then each change on their own thread; the copy puts slides it gains
    // into blocks of its own.
    SlideStore(const SlideStore &other);
    SlideStore &operator=(const SlideStore &other);
    SlideStore(SlideStore &&) noexcept = default;
    SlideStore &operator=(SlideStore &&) noexcept = default;

    int count() const { return int(m_entries.size()); }

    // Adds a copy of `image` (any format, 396 x 346) as the newest slide.
    // False, with the store unchanged, when the image is of another size or
    // memory (or the byte limit) does not allow it.
    bool append(const QImage &image);

    // Adds the slide whose 346 rows of 1188 bytes (blue, green, red) lie
    // `stride` bytes apart from `first`, a negative stride running bottom-up
    // as a BMP file holds them: a saved slide is added straight from its
    // file's bytes, with nothing to decode or turn over.
    bool appendRows(const char *first, qsizetype stride);

    // Appends every slide of `other`, whose first slide is a key, by taking
    // over the blocks that hold them: nothing is copied, and they hold the
    // same bytes here as there. `other` is left empty. False, with both
    // stores unchanged, when the first is no key, the byte limit does not
    // allow them or memory runs out.
    bool appendAll(SlideStore &&other);

    // Slide i (1-based) as a Format_BGR888 image; null when i is out of range
    // or memory runs out.
    QImage slide(int i) const;

    // Unpacks slide i straight into 346 rows of 1188 bytes that lie `stride`
    // bytes apart from `first` (a negative stride writes bottom-up, as BMP
    // files hold their rows). False when i is out of range or memory runs out.
    bool readRows(int i, char *first, qsizetype stride) const;

    int keyCount() const { return m_keys; }

    // Unpacks slide i into 346 rows of 1188 bytes `stride` bytes apart from
    // `first`, which hold slide `held` (0: nothing yet). Reading the slides in
    // order applies each one's difference where it lies, touching only the
    // pixels that changed. `held` is i afterwards, 0 when it failed.
    bool readOnInto(int i, char *first, qsizetype stride, int &held) const;

    // The pixels (x, y in slide pixels) outside which slide i equals slide
    // i - 1, read from the runs the store already holds: empty when the two
    // are equal, the whole slide for the first slide and for a key slide,
    // whose change was not written down. Never smaller than the change.
    QRect changedRect(int i) const;

    void clear();

    // Exchanges every slide with `other`: emptying the store into a kept
    // object and bringing it back cost no copy.
    void swap(SlideStore &other) noexcept;

    // One slide as the store holds it: its packed bytes, which make sense
    // only after the slide before it (unless it is a key), and how to read them.
    enum PackedFlag : quint8 { Key = 1, Compressed = 2 };
    struct Packed {
        quint8 flags = 0;
        QByteArray bytes;
        quint8 duration = 1; // frame times the slide lasts; goes with it wherever it is put
        SlideSound sound{};  // goes with it too: deleting a slide takes its sound, putting it back brings it
    };

    // Slide i's packed bytes, valid until the store next changes; empty with
    // flags 0 when i is out of range.
    QByteArrayView packedView(int i, quint8 &flags) const;

    // A number that names slide i's packed bytes and duration: it changes whenever they
    // are made anew (a slide added or put back, or told again after the
    // slides before it were taken, or its duration set) and stays when they only move, in this
    // store, its copies or a store it is appended to. Never reused within a
    // run of the program, so a saver can tell which slides it wrote already.
    // 0 when i is out of range.
    quint64 serial(int i) const;

    // A 64-bit check of slide i's packed bytes, taken as they were stored
    // (while they were in the processor's cache), so that a saver need not
    // read them once more to take it. 0 when i is out of range.
    quint64 check(int i) const;

    // The check of any bytes: four independent lanes of words, each step a
    // one-to-one mixing, so any change of one word is found and other
    // damage is missed once in 2^64, at about the speed of reading memory.
    // The recovery journal checks its records with it too, each started from its own length.
    static quint64 checksum(QByteArrayView bytes, quint64 start = 0);

    // Every slide's packed bytes with a share of the block that holds them:
    // bytes once stored are never written over, so they stay valid and
    // unchanged for as long as the share is kept, on any thread, whatever
    // the store does meanwhile.
    struct PackedShare {
        std::shared_ptr<const char[]> block;
        const char *data;
        qint32 size;
        quint8 flags;
        quint64 serial;
        quint64 check;
        quint8 duration;
    };
    std::vector<PackedShare> shareAll() const { return share(1, count()); }
    // The same for the `n` slides from `first` (1-based); empty when the range is wrong.
    std::vector<PackedShare> share(int first, int n) const;

    // Appends a slide given as packed bytes told against the newest slide
    // (or a key). False, with the store unchanged, when a difference has no
    // slide before it, a whole key is of the wrong size or, when `check` is
    // given, the bytes' check differs from it.
    bool appendPacked(quint8 flags, QByteArrayView bytes, const quint64 *check = nullptr, int duration = 1);

    // How many frame times slide i lasts in playback and export: 1 (the default) to MaxDuration; 0 when
    // i is out of range. Setting it gives the slide a new serial, so that a save writes it again.
    int duration(int i) const { return i < 1 || i > count() ? 0 : m_entries[size_t(i - 1)].duration; }
    // False, with nothing changed, when i or `frames` is out of range.
    bool setDuration(int i, int frames);
    // The cartoon's length in frame times: the sum of every slide's duration, at no cost.
    qint64 totalFrames() const;
    static constexpr int MaxDuration = 99;

    // The sound that starts at slide i; none when i is out of range or the slide has none.
    SlideSound sound(int i) const { return i < 1 || i > count() ? SlideSound{} : m_entries[size_t(i - 1)].sound; }
    // False when i is out of range. Unlike a duration, a sound leaves the slide's serial: the slide
    // folder's files do not hold sounds, and a project writes its sounds apart from the slides.
    bool setSound(int i, SlideSound sound);
    bool hasSounds() const;

    // Removes `n` slides from `first` (1-based) and hands back their packed
    // bytes; the slide after the gap is told again against the one before
    // it, so every other slide keeps its bytes. False, with the store
    // unchanged, when the range is wrong or memory runs out.
    bool take(int first, int n, std::vector<Packed> &out);

    // Puts slides taken out of this place back, so that the first of them is
    // slide `at` again (1-based), and tells the slide after them against the
    // last of them. False, with the store unchanged, when they cannot go there.
    bool insert(int at, std::vector<Packed> &&slides);

    // Puts the slides in a new order: slide k (1-based) afterwards is the slide numbered order[k - 1] now.
    // Only a slide that is no key and follows another slide than before is told again (against its new
    // neighbour), so every other slide keeps its bytes, its serial and its duration. False, with the
    // store unchanged, when `order` is no such order of all slides or memory runs out.
    bool reorder(const std::vector<int> &order);

    // Packs copies of the slides `numbers`, told one after the other, the
    // first against slide `after`, ready to be inserted at after + 1.
    bool packCopies(int after, const std::vector<int> &numbers, std::vector<Packed> &out) const;

    // Packs `image` (396 x 346) told against slide `after` (0: as a key), ready to be inserted at
    // after + 1: a slide recorded in the middle. False when it is of another size, memory runs out
    // or the byte limit would not allow it.
    bool packImage(int after, const QImage &image, Packed &out) const;

    // Bytes held by the packed slides.
    qint64 packedBytes() const { return m_packedBytes; }

    // Refuses slides once the packed slides would exceed `bytes` (< 0: no limit).
    void setByteLimit(qint64 bytes) { m_byteLimit = bytes; }

    static constexpr int RowBytes = 396 * 3;
    static constexpr int RawBytes = RowBytes * 346;
    static constexpr int KeyInterval = 128;

private:
    struct Entry {
        qint64 at;   // where the packed bytes start in the pool
        qint32 size;
        qint32 key;  // 0-based index of the key slide this one is XORed against; its own index for a key
        bool compressed; // keys are; differences are kept as their runs, which pack poorly
        bool isKey;
        quint8 duration = 1; // in the padding before the serial: a slide costs no more memory for it
        quint64 serial = nextSerial(); // a new entry's bytes are new; a copied entry keeps it
        quint64 check = 0;             // of the packed bytes, set where they are stored
        SlideSound sound{};
    };
    static quint64 nextSerial();

    quint8 flagsOf(const Entry &e) const { return quint8((e.isKey ? Key : 0) | (e.compressed ? Compressed : 0)); }
    int newestKey() const { return m_entries.empty() ? -1 : m_entries.back().key; }
    // Sets the key of every entry from `from` (0-based) on: the nearest key at or before it.
    void relink(int from);
    // Packs `raw` as the slide after `before` (nullptr: as a key), the
    // `chainLength`th slide after the newest key.
    static Packed encode(const char *raw, const char *before, int chainLength, QByteArray &scratch);
    // Tells the slide in rows `stride` apart from `first` against `before` into `scratch`; false when
    // the difference is too large to be worth keeping.
    static bool tellDifference(const char *first, qsizetype stride, const char *before, QByteArray &scratch);
    // A key of `raw`: packed when a large change forced it, whole when it came by the count.
    static Packed packKey(const char *raw, bool forced);
    // Reads slide i (1-based) into `raw` (RowBytes apart); false when it cannot.
    bool readRaw(int i, char *raw) const;
    void compactIfWasteful();

    static bool toRaw(const QImage &image, char *raw);
    QByteArray unpack(const Entry &e) const;
    const char *packedData(const Entry &e) const;
    bool storePacked(const QByteArray &packed, Entry &e);
    // Stores `packed` as the slide after the newest; false, with nothing changed, when it cannot.
    bool keep(Packed &&packed);

    // The packed slides lie back to back in large blocks: thousands of small
    // allocations of odd sizes would leave the heap full of holes that the
    // process keeps resident. Shared, so that the journal can write from them.
    static constexpr qint64 BlockBytes = 8 << 20;
    static std::shared_ptr<char[]> newBlock();
    // Bytes from..to of `block` are about to be written: the pages after them are made ready in the background.
    static void prepareAhead(char *block, qint64 from, qint64 to);
    std::vector<std::shared_ptr<char[]>> m_blocks;
    qint64 m_used = 0; // bytes taken in the last block

    std::vector<Entry> m_entries;
    qint64 m_packedBytes = 0;
    int m_keys = 0;
    // What the slides last beyond one frame time each, kept as they change: the buffer window shows the
    // cartoon's length after every recording, which must not cost a pass over every slide.
    qint64 m_extraFrames = 0;
    qint64 m_byteLimit = -1;
    qint64 m_garbage = 0;      // bytes in the blocks that no slide uses any more
    // Kept from append to append: allocating and freeing three buffers of
    // 400 KB per slide would hand the pages back to the system and fault them in again.
    QByteArray m_raw;
    QByteArray m_diff;         // the runs of the newest difference, before packing
    QByteArray m_prevRaw;      // pixels of the newest slide, that the next one is told against
    // The newest slide is at hand, in m_prevRaw or, while m_prevRawBehind, in m_prevPicture; false after
    // taking or inserting.
    bool m_prevValid = false;
    // The newest slide as recorded, when it came as a 32-bit picture (shared, not copied); while
    // m_prevRawBehind, m_prevRaw has not been brought up to it.
    QImage m_prevPicture;
    bool m_prevRawBehind = false;
    mutable QByteArray m_readRaw; // the slide that the last read unpacked: reading on from it is cheap
    mutable int m_readIndex = 0;
};

} // namespace slides
