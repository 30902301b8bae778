#pragma once
// The slides of the slide buffer and every change to them. Each change
// (recording, deleting, duplicating, clearing) is a command on an undo
// stack, and each command is written to the journal as it is first done,
// as is every undo and redo: bringing slides back after a crash replays the
// journal through the same commands.

#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QUndoStack>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "slides/Journal.h"
#include "slides/SlideSource.h"
#include "slides/SlideStore.h"

namespace slides {

class SlideBuffer : public QObject, public SlideSource {
    Q_OBJECT
public:
    explicit SlideBuffer(QObject *parent = nullptr);
    ~SlideBuffer() override;

    // Where journals go; empty (the default) keeps no journal. `warn` tells
    // the user, once, that the journal could not be written.
    void setJournal(const QString &folder, std::function<void(const QString &)> warn);

    // ---- SlideSource ----
    int slideCount() const override { return m_store.count(); }
    QImage slide(int i) const override { return m_store.slide(i); }
    int slideDuration(int i) const override { return std::max(1, m_store.duration(i)); }

    int count() const { return m_store.count(); }
    // Slide i at thumbnail size, made the first time it is asked for.
    QImage thumb(int i) const;
    // Makes the thumbnails of recorded slides that still wait for theirs.
    void makeWaitingThumbs() const;
    SlideStore &store() { return m_store; }
    const SlideStore &store() const { return m_store; }

    // ---- Where recording goes ----
    // The slide that recording goes after, moving on with each slide recorded there; 0 when
    // recording goes to the end, as it does at first and after every save, clearing or opening.
    int insertionPoint() const { return m_after; }
    // Recording goes after slide n from now on; a number outside 1..count() - 1 sends it to the end.
    void recordAfter(int n);

    // ---- Changes; each false, with the slides as they were, when it could not be done ----
    bool record(const QImage &image);
    bool remove(std::vector<int> numbers);     // slide numbers, in any order
    bool duplicate(std::vector<int> numbers);  // copies go after the last of them
    bool clear();
    // Moves the slides `numbers` (in any order) together before the slide numbered `before` now
    // (count() + 1: to the end), keeping their order, as one step. False when that leaves every
    // slide where it was. Recording keeps following the slide it followed.
    bool move(std::vector<int> numbers, int before);
    // How many frame times the slides `numbers` last: set to `frames` (1 to SlideStore::MaxDuration), or
    // changed by `delta` and kept within that range. One step; false when no slide's duration changed.
    bool setDuration(std::vector<int> numbers, int frames);
    bool changeDuration(std::vector<int> numbers, int delta);
    // The change being told by `changed` left every slide where it was and only set durations.
    bool onlyDurationsChanged() const { return m_onlyDurations; }
    // ---- Sounds: each change one step of the history, journaled ----
    // Slide n's sound becomes `clip`, at full volume (or the volume its sound had). False when n is out of range.
    bool setSound(int n, std::shared_ptr<const SoundClip> clip);
    // The volume (per cent, 0 to SlideSound::MaxVolume) of the sounds of the slides `numbers`; false when none changed.
    bool setVolume(std::vector<int> numbers, int percent);
    // The slides `numbers` lose their sounds; false when none had one.
    bool removeSound(std::vector<int> numbers);
    bool hasSounds() const { return m_store.hasSounds(); }
    // Records `image` in place of slide n, as one step.
    bool replace(int n, const QImage &image);
    bool undo();
    bool redo();
    QUndoStack &history() { return m_history; }

    // A save is about to empty the slide folder: from now on no slide held
    // is saved, and the journal says so (on the disk) before this returns.
    void saveBegins();
    // A save wrote every slide: nothing held is unsaved any more, the history
    // is emptied, and the journal says so; it stays, and only what follows
    // is offered after a crash.
    void saved();
    // Slides held that were added since the last completed save.
    int unsavedCount() const;
    // ---- The stage, kept in the journal beside the slides ----
    // The stage changed: `scene` is its encoding (opaque here), `pictureKeys` the pictures it uses,
    // `project` the project file it belongs to (empty when none). The pictures this journal file does
    // not hold yet are asked of `pictureBytes`, on this thread (a share of bytes already held is
    // expected, not work); framing them and the stage is done on the journal's thread. A stage that
    // says the same as the one last written is not written again.
    void journalScene(const QByteArray &scene, const QList<QByteArray> &pictureKeys,
                      const std::function<QByteArray(const QByteArray &key)> &pictureBytes, const QString &project);
    // The project was saved to `project`: the slides and the stage are saved as they are now. Unlike
    // saved(), the history stays: a project save empties no slide folder.
    void projectSaved(const QString &project);
    // The stage changed since the last project save (or since the start, when none).
    bool sceneUnsaved() const { return m_sceneUnsaved; }
    // The program ends: the journal goes when no unsaved slide is held (a stage left unsaved on the way
    // out was given up by the person, who was asked about a named project's);
    // otherwise what is queued is given a moment to reach the disk.
    void ending();

    // ---- Recovery ----
    struct Found {
        int slides = 0;            // slides offered, saved ones among them
        int unsaved = 0;           // of those, the ones never saved; nothing is offered when 0
        QStringList keptAside;     // a journal of a newer format, renamed so that it stays (the newest only)
        QString damaged;           // a journal that could not be read, renamed so that it stays
        // The newest stage in the journal offered (empty when it holds none), the pictures it names that
        // the journal holds (by key), and the project it belonged to.
        QByteArray scene;
        QHash<QByteArray, QByteArray> pictures;
        QString project;
        bool sceneUnsaved = false; // the stage changed after the last project save: offered even with no slide unsaved
    };
    // Looks for a journal left by a program that ended without saving, and
    // replays the newest into this (empty) buffer. Nothing is offered when
    // `unsaved` is 0 and `sceneUnsaved` false; journals with nothing unsaved
    // in them are removed.
    // `progress(done, total)`, in bytes of the journal, is called now and
    // then while it is replayed.
    Found findLeftOver(const std::function<void(qint64 done, qint64 total)> &progress = {});
    // The user's answer: keep the replayed slides (the journal becomes this
    // program's own) or drop them and the journal.
    void acceptLeftOver();
    void declineLeftOver();

    // Replays journal records into this buffer without writing them; false
    // at the first one that does not fit. Exposed for tests and measuring.
    // `reached` is given the end of a record read now and then.
    bool replay(const std::vector<journal::Record> &records,
                const std::function<void(const char *reached)> &reached = {});

    QString journalPath() const;
    // Waits at most `ms` for what is queued to reach the journal's file.
    bool flushJournal(int ms) { return m_writer && m_writer->flush(ms); }
    bool journalFailed() const { return m_journalOff; }

    // ---- Used by the commands ----
    struct Taken {
        std::vector<SlideStore::Packed> packed;
        std::vector<quint8> unsaved;
    };
    bool take(int first, int n, Taken &out);
    // Puts slides packed elsewhere (a series read back from its files, slides pasted) before slide `at`
    // (0 or count() + 1: after the last), as one step, with the durations they carry; at the end the
    // store that holds them is taken over. Its first slide must be a key.
    bool addSeries(SlideStore &&slides, int at = 0);
    bool putAll(SlideStore &&slides);
    // Puts `slides` in place of everything held, all of them saved, with no history before them (an
    // opened project, a new one). The journal of what was held goes: the next change starts one afresh.
    void replaceAll(SlideStore &&slides);
    bool put(int at, Taken &&taken);
    // Puts the slides in the order `order` names (see SlideStore::reorder); the slides that changed
    // place are unsaved from then on, since the saved files hold them in another order.
    bool reorder(const std::vector<int> &order);
    // Puts recording after slide n (0, or past the last slide: at the end) without telling anyone:
    // a command that takes a slide out and puts another in its place keeps the point where it was.
    void keepPoint(int n) { m_after = n >= 1 && n < count() ? n : 0; }
    struct Everything;
    void swapAll(Everything &other);
    void journalRecord(const QByteArray &record);
    void journalRecord(journal::Type type, quint8 flags, QByteArrayView bytes);
    // Queues records that the journal's thread makes, as journal::Writer::writeFrom does.
    void journalFrom(std::function<bool(QByteArray &record)> next);
    bool journalling() const;
    bool replaying() const { return m_replaying; }
    void changedNow() { emit changed(); }
    // Gives each of the slides `numbers` the duration at the same place in `frames`.
    void putDurations(const std::vector<int> &numbers, const std::vector<quint8> &frames);
    void putSounds(const std::vector<int> &numbers, const std::vector<SlideSound> &sounds);
    // Writes a sound step to the journal, with the files of the sounds it names that the journal lacks.
    void journalSounds(const std::vector<int> &numbers, const std::vector<SlideSound> &sounds, bool held = false);

signals:
    // The slides changed: their number, their order or their pictures.
    void changed();
    // Recording was sent elsewhere without the slides changing.
    void insertionPointMoved();

private:
    // Pushes the step `make` gives for the slides `numbers`.
    bool onSlides(std::vector<int> numbers, QUndoCommand *(*make)(SlideBuffer &, std::vector<int>, bool *));
    bool step(bool back);  // an undo (back) or a redo
    bool durationStep(std::vector<int> numbers, bool relative, int frames);
    // Gives the slides `numbers` the sounds `sounds` as one step; false when that changes nothing.
    bool soundStep(std::vector<int> numbers, std::vector<SlideSound> sounds);
    bool startJournal();
    // Does a slide change as one step of the history, journaled.
    void pushStep(QUndoCommand *command);
    // Tells a failed journal once; with `name`, also writes the journal anew when its file is gone.
    void checkJournal(bool name = false);
    void watchJournal();

    // Pushes the step `make` gives for a slide packed to go at `number`; whether its first doing worked.
    using PlacedCommand = QUndoCommand *(*)(SlideBuffer &, int, SlideStore::Packed &&, bool *);
    bool pushPlaced(PlacedCommand make, int number, SlideStore::Packed &&slide);
    // Sends recording after slide n (see recordAfter) and says so when that moved it.
    void setPoint(int n);

    SlideStore m_store;
    int m_after = 0;                          // insertionPoint()
    std::vector<quint8> m_unsaved;            // per slide: added since the last completed save
    // Per slide: null until first painted. A slide just recorded holds its whole picture here until its
    // thumbnail is made, off the recording's path: WaitingThumbs at a time on a thread of Qt's pool, or
    // here once the recordings pause. Each picture held is half a megabyte: when more than
    // ThumbsAtMost wait or are on their way, the thumbnails are made at once.
    mutable std::vector<QImage> m_thumbs;
    static constexpr int WaitingThumbs = 3;
    static constexpr int ThumbsAtMost = 8;
    mutable int m_waitingThumbs = 0;
    mutable std::vector<QImage> m_unsent; // recorded pictures whose thumbnails are not asked for yet
    mutable int m_sentThumbs = 0;         // asked for on the pool's thread, not come back
    struct MadeThumbs;                    // what comes back, shared with that thread
    std::shared_ptr<MadeThumbs> m_made;
    // Sends the waiting pictures to be made into thumbnails on the pool's thread.
    void sendWaitingThumbs() const;
    // Puts the thumbnails made there in their slides' places.
    void takeMadeThumbs() const;
    QTimer *m_thumbTimer = nullptr;
    QUndoStack m_history;

    QString m_journalFolder;
    std::function<void(const QString &)> m_warn;
    std::unique_ptr<journal::Writer> m_writer;
    bool m_journalOff = false;
    bool m_replaying = false;
    bool m_onlyDurations = false;
    journal::Orphan m_leftOver;
    qsizetype m_leftOverValid = 0;

    bool m_sceneUnsaved = false;
    QSet<QByteArray> m_journalKeys; // the pictures the journal file being written holds
    QSet<QByteArray> m_journalSounds; // the sounds' files it holds, by SHA-256
    QByteArray m_lastScene;         // the Scene payload last written to it
    // What a replay found of the stage; taken over with the journal when it is accepted.
    struct Recovered {
        QByteArray scene;
        QHash<QByteArray, QByteArray> pictures;
        QString project;
        bool sceneUnsaved = false;
        QSet<QByteArray> keys;  // every picture the journal holds
        QByteArray lastScene;   // its newest Scene payload
    } m_recovered;
};

struct SlideBuffer::Everything {
    SlideStore store;
    std::vector<quint8> unsaved;
    std::vector<QImage> thumbs;
};

} // namespace slides
