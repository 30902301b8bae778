// Changes to the slide buffer: taking slides out of the middle and putting
// them back keeps every slide exact, undo and redo walk the history, and the
// journal gives the slides back after a crash, also when it is damaged.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <numeric>
#include <vector>

#include <sys/resource.h>

#include "TestCommon.h"
#include "slides/Journal.h"
#include "slides/SlideBuffer.h"
#include "slides/SlideStore.h"

using namespace slides;

namespace {

QImage scene(int t) { return testcommon::stageSlide(t); }

QImage bgr(const QImage &i) { return i.convertToFormat(QImage::Format_BGR888); }

// Checks the buffer against the model, slide by slide, naming the first that differs.
#define COMPARE_SLIDES(buffer, model)                                                                                 \
    do {                                                                                                              \
        QCOMPARE((buffer).count(), int((model).size()));                                                              \
        for (int i_ = 1; i_ <= (buffer).count(); ++i_)                                                                \
            QVERIFY2((buffer).slide(i_) == bgr(scene((model)[size_t(i_ - 1)])),                                       \
                     qPrintable(QStringLiteral("slide %1 differs").arg(i_)));                                         \
    } while (0)

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Puts journal bytes into `folder` as a journal left by a program that has ended.
QString leaveJournal(const QString &folder, const QByteArray &bytes, const QString &name = QStringLiteral("journal-1-1.vlj"))
{
    QDir().mkpath(folder);
    const QString path = folder + QLatin1Char('/') + name;
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
    return path;
}

struct Recorder {
    SlideBuffer buffer;
    QStringList warnings;
    explicit Recorder(const QString &folder)
    {
        buffer.setJournal(folder, [this](const QString &why) { warnings << why; });
    }
};

} // namespace

class TestHistory : public QObject {
    Q_OBJECT
private slots:
    // First, while the process has held little memory yet.
    void aLargeJournalIsNeverHeldBesideItsSlides();
    void takingAndPuttingBackKeepsEverySlideExact();
    void duplicatesAreExactCopiesAfterTheLastChosen();
    void undoAndRedoWalkTheHistory();
    void deletingEverySlideAndBringingThemBack();
    void aClearKeepsTheSlidesThemselvesNotCopies();
    void theJournalGivesBackWhatTheCommandsMade();
    void aJournalCutAnywhereInItsLastSlideGivesEveryWholeSlide();
    void randomBytesInTheMiddleGiveTheSlidesBeforeThem();
    void aJournalOfANewerFormatIsKeptAsideNotOffered();
    void aJournalWhoseProgramRunsIsNeverOffered();
    void eachProgramFolderIsOfferedItsOwnJournals();
    void anUnwritableFolderOrAFullDiskNeverStopsRecording();
    void aSaveIsWrittenDownAndOnlyWhatFollowsIsOffered();
    void theStageComesBackWithExactlyItsPicturesAlsoWhenTorn();
    void aProjectSaveDecidesWhatIsOffered_data();
    void aProjectSaveDecidesWhatIsOffered();
    void recordingInPlaceKeepsEverySlideExact_data();
    void recordingInPlaceKeepsEverySlideExact();
    void theInsertionPointFollowsTheSlides();
};

void TestHistory::takingAndPuttingBackKeepsEverySlideExact()
{
    // 300 slides span keys by the count (every 128) and keys forced by a changed background (every 40).
    SlideStore store;
    std::vector<int> model;
    for (int t = 0; t < 300; ++t) {
        QVERIFY(store.append(scene(t)));
        model.push_back(t);
    }
    QVERIFY(store.keyCount() > 3);
    QRandomGenerator rng(11);
    std::vector<std::pair<int, std::vector<SlideStore::Packed>>> taken;
    // The first slide (a key), a range across a key, the last, and random runs.
    const std::vector<std::pair<int, int>> fixed{{1, 1}, {126, 5}, {0, 1}}; // 0: the last
    for (int round = 0; round < 12; ++round) {
        int first, n;
        if (round < int(fixed.size())) {
            std::tie(first, n) = fixed[size_t(round)];
            if (first == 0)
                first = store.count();
        } else {
            n = 1 + int(rng.bounded(20));
            first = 1 + int(rng.bounded(quint32(store.count() - n + 1)));
        }
        std::vector<SlideStore::Packed> out;
        QVERIFY2(store.take(first, n, out), qPrintable(QStringLiteral("take %1 from %2 of %3").arg(n).arg(first).arg(store.count())));
        QCOMPARE(int(out.size()), n);
        model.erase(model.begin() + (first - 1), model.begin() + (first - 1 + n));
        taken.emplace_back(first, std::move(out));
        COMPARE_SLIDES(store, model);
    }
    // Put back in reverse order, as undo does: every slide comes back where it was.
    std::vector<int> full(300);
    std::iota(full.begin(), full.end(), 0);
    while (!taken.empty()) {
        auto [first, slides] = std::move(taken.back());
        taken.pop_back();
        QVERIFY(store.insert(first, std::move(slides)));
    }
    COMPARE_SLIDES(store, full);
    // Recording goes on after the last slide as it stands now.
    QVERIFY(store.append(scene(300)));
    QCOMPARE(store.slide(301), bgr(scene(300)));
    std::vector<SlideStore::Packed> bad;
    QVERIFY(!store.take(0, 1, bad));
    QVERIFY(!store.take(300, 5, bad));

    // Taking the first slide and putting it back over and over makes its neighbour a whole key each
    // time: the blocks fill with bytes nothing uses until they are copied out, and no slide may suffer.
    const qint64 packed = store.packedBytes();
    for (int round = 0; round < 120; ++round) {
        std::vector<SlideStore::Packed> first;
        QVERIFY(store.take(1, 1, first));
        QVERIFY(store.insert(1, std::move(first)));
    }
    QCOMPARE(store.packedBytes(), packed);
    full.push_back(300);
    COMPARE_SLIDES(store, full);
}

void TestHistory::duplicatesAreExactCopiesAfterTheLastChosen()
{
    SlideBuffer b;
    for (int t = 0; t < 10; ++t)
        QVERIFY(b.record(scene(t)));
    QVERIFY(b.duplicate({7, 3, 4}));
    std::vector<int> model{0, 1, 2, 3, 4, 5, 6, 2, 3, 6, 7, 8, 9};
    COMPARE_SLIDES(b, model);
    QVERIFY(b.undo());
    COMPARE_SLIDES(b, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    QVERIFY(b.redo());
    COMPARE_SLIDES(b, model);
    QVERIFY(!b.duplicate({11, 40}));
}

void TestHistory::undoAndRedoWalkTheHistory()
{
    SlideBuffer b;
    QVERIFY(!b.undo());
    QVERIFY(!b.redo());
    for (int t = 0; t < 150; ++t)
        QVERIFY(b.record(scene(t)));
    // At least a hundred changes can be undone.
    for (int k = 0; k < 120; ++k)
        QVERIFY(b.undo());
    QCOMPARE(b.count(), 30);
    for (int k = 0; k < 20; ++k)
        QVERIFY(b.redo());
    QCOMPARE(b.count(), 50);
    QCOMPARE(b.slide(50), bgr(scene(49)));
    // A new recording drops what could have been redone.
    QVERIFY(b.record(scene(500)));
    QVERIFY(!b.redo());
    QCOMPARE(b.count(), 51);
    QCOMPARE(b.slide(51), bgr(scene(500)));
    QVERIFY(b.remove({2, 3, 10}));
    QCOMPARE(b.count(), 48);
    QVERIFY(b.undo());
    std::vector<int> model(50);
    std::iota(model.begin(), model.end(), 0);
    model.push_back(500);
    COMPARE_SLIDES(b, model);
    // Undo past the start: everything is gone, and one more undo does nothing.
    while (b.undo()) {
    }
    QCOMPARE(b.count(), 0);
    QVERIFY(!b.undo());
    QVERIFY(b.redo());
    QCOMPARE(b.count(), 1);
    QCOMPARE(b.slide(1), bgr(scene(0)));
}

void TestHistory::deletingEverySlideAndBringingThemBack()
{
    SlideBuffer b;
    for (int t = 0; t < 20; ++t)
        QVERIFY(b.record(scene(t)));
    std::vector<int> all(20);
    std::iota(all.begin(), all.end(), 1);
    QVERIFY(b.remove(all));
    QCOMPARE(b.count(), 0);
    QVERIFY(b.slide(1).isNull());
    // Recording into the emptied buffer starts afresh.
    QVERIFY(b.record(scene(99)));
    QCOMPARE(b.slide(1), bgr(scene(99)));
    QVERIFY(b.undo());
    QVERIFY(b.undo());
    std::iota(all.begin(), all.end(), 0);
    COMPARE_SLIDES(b, all);
}

void TestHistory::aClearKeepsTheSlidesThemselvesNotCopies()
{
    SlideBuffer b;
    for (int t = 0; t < 60; ++t)
        QVERIFY(b.record(scene(t)));
    const qint64 packed = b.store().packedBytes();
    QVERIFY(b.clear());
    QCOMPARE(b.count(), 0);
    QCOMPARE(b.store().packedBytes(), 0);
    QVERIFY(!b.clear());
    QVERIFY(b.undo());
    QCOMPARE(b.store().packedBytes(), packed);
    std::vector<int> model(60);
    std::iota(model.begin(), model.end(), 0);
    COMPARE_SLIDES(b, model);
}

void TestHistory::theJournalGivesBackWhatTheCommandsMade()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("state"));
    QByteArray bytes;
    {
        Recorder r(folder);
        SlideBuffer &b = r.buffer;
        for (int t = 0; t < 90; ++t)
            QVERIFY(b.record(scene(t)));
        QVERIFY(b.remove({5, 6, 7, 50}));
        QVERIFY(b.duplicate({10}));
        QVERIFY(b.clear());
        QVERIFY(b.undo());
        QVERIFY(b.undo());
        QVERIFY(b.redo());
        // A recording reaches the file by itself, soon after, even when nothing follows it and the
        // journal's thread had gone to sleep (past its wait for more and its sync).
        QVERIFY(b.flushJournal(5000));
        QTest::qWait(700);
        const qint64 before = QFileInfo(b.journalPath()).size();
        QVERIFY(b.record(scene(1000)));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(b.journalPath()).size() > before, 1000);
        QVERIFY(b.flushJournal(5000));
        QVERIFY(r.warnings.isEmpty());
        bytes = readAll(b.journalPath());
        // The journal as the program left it when it "crashed".
        QTemporaryDir other;
        const QString copy = leaveJournal(other.filePath(QStringLiteral("s")), bytes);
        Recorder again(other.filePath(QStringLiteral("s")));
        const SlideBuffer::Found found = again.buffer.findLeftOver();
        QCOMPARE(found.unsaved, b.count());
        QCOMPARE(again.buffer.count(), b.count());
        for (int i = 1; i <= b.count(); ++i)
            QVERIFY2(again.buffer.slide(i) == b.slide(i), qPrintable(QStringLiteral("slide %1").arg(i)));
        // The history came back too: the last recording can be undone.
        QVERIFY(again.buffer.undo());
        QCOMPARE(again.buffer.count(), b.count() - 1);
        QVERIFY(again.buffer.redo());
        // Taken over, the journal goes on under this program's name; the old name is gone.
        again.buffer.acceptLeftOver();
        QVERIFY(!QFile::exists(copy));
        QVERIFY(again.buffer.record(scene(2000)));
        QVERIFY(again.buffer.flushJournal(5000));
        const journal::Parsed p = journal::parse(readAll(again.buffer.journalPath()));
        QCOMPARE(p.status, journal::Parsed::Ok);
        QVERIFY(!p.damaged);
        QCOMPARE(p.records.back().type, journal::Type::Append);
    }
}

void TestHistory::aJournalCutAnywhereInItsLastSlideGivesEveryWholeSlide()
{
    QTemporaryDir dir;
    QByteArray bytes;
    qsizetype lastStart = 0;
    {
        Recorder r(dir.filePath(QStringLiteral("a")));
        for (int t = 0; t < 6; ++t) {
            if (t == 5) {
                QVERIFY(r.buffer.flushJournal(5000));
                lastStart = QFileInfo(r.buffer.journalPath()).size();
            }
            QVERIFY(r.buffer.record(scene(t)));
        }
        QVERIFY(r.buffer.flushJournal(5000));
        bytes = readAll(r.buffer.journalPath());
    }
    QVERIFY(bytes.size() - lastStart > 100);
    const QString folder = dir.filePath(QStringLiteral("b"));
    for (qsizetype cut = lastStart; cut < bytes.size(); ++cut) {
        // Every cut is read as far as the whole records go ...
        const journal::Parsed p = journal::parse(QByteArrayView(bytes).first(cut));
        if (p.records.size() != 5 || p.validBytes != lastStart || p.damaged != (cut > lastStart))
            QFAIL(qPrintable(QStringLiteral("cut at byte %1 of %2 read %3 records").arg(cut).arg(bytes.size()).arg(p.records.size())));
        // ... and, for a spread of cuts, recovered whole through the start-up path.
        if ((cut - lastStart) % 61 && cut != bytes.size() - 1)
            continue;
        leaveJournal(folder, bytes.left(cut));
        SlideBuffer b;
        b.setJournal(folder, {});
        const SlideBuffer::Found found = b.findLeftOver();
        if (found.unsaved != 5 || b.slide(5) != bgr(scene(4)))
            QFAIL(qPrintable(QStringLiteral("cut at byte %1 of %2 gave %3 slides").arg(cut).arg(bytes.size()).arg(found.unsaved)));
        b.declineLeftOver();
    }
    QVERIFY(QDir(folder).entryList(QDir::Files).isEmpty());
}

void TestHistory::aLargeJournalIsNeverHeldBesideItsSlides()
{
    // 400 whole slides, about 165 MB, written record by record.
    QTemporaryDir dir;
    const QString path = leaveJournal(dir.path(), journal::header());
    QFile f(path);
    QVERIFY(f.open(QIODevice::Append));
    QByteArray raw(SlideStore::RawBytes, '\x40');
    for (int i = 0; i < 400; ++i) {
        raw[i] = char(i);
        f.write(journal::record(journal::Type::Append, SlideStore::Key, raw));
    }
    f.close();
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    SlideBuffer b;
    b.setJournal(dir.path(), {});
    qint64 told = 0;
    QCOMPARE(b.findLeftOver([&](qint64 done, qint64 total) { told = done == total || told < done ? done : -1; }).unsaved,
             400);
    getrusage(RUSAGE_SELF, &after);
    QVERIFY2(told > 0, "progress was told, never backwards");
    // The slides take what the journal does; reading it whole beside them would take twice that.
    const qint64 grewKb = after.ru_maxrss - before.ru_maxrss;
    QVERIFY2(grewKb < b.store().packedBytes() / 1024 * 13 / 10, qPrintable(QString::number(grewKb)));
    b.declineLeftOver();
}

void TestHistory::randomBytesInTheMiddleGiveTheSlidesBeforeThem()
{
    QTemporaryDir dir;
    QByteArray bytes;
    std::vector<qsizetype> ends;
    {
        Recorder r(dir.filePath(QStringLiteral("a")));
        for (int t = 0; t < 30; ++t) {
            QVERIFY(r.buffer.record(scene(t)));
            QVERIFY(r.buffer.flushJournal(5000));
            ends.push_back(QFileInfo(r.buffer.journalPath()).size());
        }
        bytes = readAll(r.buffer.journalPath());
    }
    QRandomGenerator rng(5);
    const QString folder = dir.filePath(QStringLiteral("b"));
    for (int round = 0; round < 20; ++round) {
        QByteArray damaged = bytes;
        const qsizetype at = journal::HeaderSize + qsizetype(rng.bounded(quint32(bytes.size() - journal::HeaderSize - 64)));
        for (int k = 0; k < 16; ++k)
            damaged[at + k] = char(rng.bounded(256));
        // The slides whose records end before the damage come back, and no more.
        int whole = 0;
        while (whole < 30 && ends[size_t(whole)] <= at)
            ++whole;
        if (damaged == bytes)
            continue;
        leaveJournal(folder, damaged);
        SlideBuffer b;
        b.setJournal(folder, {});
        const SlideBuffer::Found found = b.findLeftOver();
        QCOMPARE(found.unsaved, whole);
        for (int i = 1; i <= whole; ++i)
            QCOMPARE(b.slide(i), bgr(scene(i - 1)));
        b.declineLeftOver();
    }
    // Not a journal at all: nothing is offered, and the file is kept aside rather than read again.
    leaveJournal(folder, QByteArray(5000, 'x'));
    SlideBuffer b;
    b.setJournal(folder, {});
    QCOMPARE(b.findLeftOver().unsaved, 0);
    QCOMPARE(QDir(folder).entryList({QStringLiteral("*.vlj")}, QDir::Files), QStringList());
    QVERIFY(!QDir(folder).entryList({QStringLiteral("*.damaged")}, QDir::Files).isEmpty());
}

void TestHistory::aJournalOfANewerFormatIsKeptAsideNotOffered()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("s"));
    QByteArray future = journal::header(journal::FormatVersion + 1);
    future += journal::record(journal::Type::Clear, QByteArrayView());
    // Only the newest of each kind stays: those of an earlier start go, and older ones met in this one.
    for (const QString older : {"journal-0-0.vlj.kept", "journal-0-0.vlj.damaged", "journal-1-0.vlj", "journal-2-0.vlj"})
        leaveJournal(folder, older == "journal-1-0.vlj" ? future : QByteArray("x"), older);
    QTest::qWait(20);
    const QString path = leaveJournal(folder, future), damaged = leaveJournal(folder, "x", "journal-2-2.vlj");
    SlideBuffer b;
    b.setJournal(folder, {});
    const SlideBuffer::Found found = b.findLeftOver();
    QCOMPARE(found.unsaved, 0);
    QCOMPARE(found.keptAside, QStringList{path + QStringLiteral(".kept")});
    QCOMPARE(found.damaged, damaged + QStringLiteral(".damaged"));
    QCOMPARE(QDir(folder).entryList(QDir::Files), (QStringList{"journal-1-1.vlj.kept", "journal-2-2.vlj.damaged"}));
    QCOMPARE(readAll(path + QStringLiteral(".kept")), future);
    // Kept aside once, it is not looked at again.
    SlideBuffer again;
    again.setJournal(folder, {});
    QVERIFY(again.findLeftOver().keptAside.isEmpty());
}

void TestHistory::aJournalWhoseProgramRunsIsNeverOffered()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("s"));
    // Two programs at once: each writes its own journal and sees nothing of the other's.
    Recorder one(folder), two(folder);
    QVERIFY(one.buffer.record(scene(1)));
    QVERIFY(two.buffer.record(scene(2)));
    QVERIFY(two.buffer.record(scene(3)));
    QVERIFY(one.buffer.journalPath() != two.buffer.journalPath());
    QVERIFY(one.buffer.flushJournal(5000) && two.buffer.flushJournal(5000));
    SlideBuffer third;
    third.setJournal(folder, {});
    QCOMPARE(third.findLeftOver().unsaved, 0);
    QCOMPARE(QDir(folder).entryList({QStringLiteral("*.vlj")}, QDir::Files).size(), 2);
    // Once the second has ended, its slides are offered, and only its own.
    const QByteArray twosJournal = readAll(two.buffer.journalPath());
    const QString copy = leaveJournal(dir.filePath(QStringLiteral("t")), twosJournal);
    SlideBuffer fourth;
    fourth.setJournal(dir.filePath(QStringLiteral("t")), {});
    QCOMPARE(fourth.findLeftOver().unsaved, 2);
    QCOMPARE(fourth.slide(2), bgr(scene(3)));
    QVERIFY(QFile::exists(copy));
}

void TestHistory::eachProgramFolderIsOfferedItsOwnJournals()
{
    QTemporaryDir dir;
    const QString state = dir.filePath(QStringLiteral("state/vellumo")), one = dir.filePath(QStringLiteral("one"));
    QVERIFY(QDir().mkpath(one) && QFile::link(one, dir.filePath(QStringLiteral("link"))));
    // The same program folder by another path has the same journals; another folder, others.
    const QString ones = journal::folderFor(one, state), twos = journal::folderFor(dir.filePath("two"), state);
    QCOMPARE(journal::folderFor(dir.filePath(QStringLiteral("link")), state), ones);
    QVERIFY(ones != twos && QFileInfo(ones).path() == state && ones.contains(QStringLiteral("-one-")));
    Recorder r(dir.filePath(QStringLiteral("scratch")));
    QVERIFY(r.buffer.record(scene(1)) && r.buffer.flushJournal(5000));
    const QByteArray bytes = readAll(r.buffer.journalPath());
    leaveJournal(ones, bytes);
    SlideBuffer second;
    second.setJournal(twos, {});
    QCOMPARE(second.findLeftOver().unsaved, 0);
    // What an older version left in the shared folder goes to the first copy that starts.
    leaveJournal(state, bytes, QStringLiteral("journal-2-2.vlj"));
    QCOMPARE(journal::takeOverOlderJournals(twos), 1);
    QCOMPARE(journal::takeOverOlderJournals(ones), 0);
    QCOMPARE(second.findLeftOver().unsaved, 1);
}

void TestHistory::anUnwritableFolderOrAFullDiskNeverStopsRecording()
{
    QTemporaryDir dir;
    // A folder that cannot be made, even by root: its parent is a file.
    QFile blocker(dir.filePath(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    {
        Recorder r(dir.filePath(QStringLiteral("file/state")));
        for (int t = 0; t < 5; ++t)
            QVERIFY(r.buffer.record(scene(t)));
        QCOMPARE(r.warnings.size(), 1);
        // The system's reason for the step that failed, not a guess.
        QCOMPARE(r.warnings.first(), QStringLiteral("«%1»: это не каталог").arg(dir.filePath(QStringLiteral("file"))));
        QCOMPARE(r.buffer.count(), 5);
    }
    // A file size limit: the journal's writes fail as on a full disk.
    testcommon::FileSizeLimit limit(1 << 20);
    QVERIFY(limit.ok());
    {
        Recorder r(dir.filePath(QStringLiteral("full")));
        // Each a new background, so each is a key of hundreds of kilobytes.
        for (int t = 0; t < 6; ++t)
            QVERIFY(r.buffer.record(scene(t * 40)));
        r.buffer.flushJournal(5000);
        for (int t = 6; t < 10; ++t)
            QVERIFY(r.buffer.record(scene(t * 40)));
        limit.lift();
        QCOMPARE(r.warnings.size(), 1);
        QVERIFY2(r.warnings.first().contains(QStringLiteral("предельного размера")), qPrintable(r.warnings.first()));
        QCOMPARE(r.buffer.count(), 10);
        QCOMPARE(r.buffer.slide(10), bgr(scene(360)));
    }
}

void TestHistory::aSaveIsWrittenDownAndOnlyWhatFollowsIsOffered()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("s")), other = dir.filePath(QStringLiteral("t"));
    const auto offered = [&](const QByteArray &bytes) {
        leaveJournal(other, bytes);
        SlideBuffer b;
        b.setJournal(other, {});
        const int n = b.findLeftOver().unsaved;
        b.declineLeftOver();
        return n;
    };
    QByteArray bytes;
    {
        Recorder r(folder);
        for (int t = 0; t < 4; ++t)
            QVERIFY(r.buffer.record(scene(t)));
        // A save begun and never completed offers every slide; a completed one, nothing.
        r.buffer.saveBegins();
        QCOMPARE(offered(readAll(r.buffer.journalPath())), 4);
        r.buffer.saved();
        QVERIFY(r.buffer.flushJournal(5000));
        const size_t records = journal::parse(readAll(r.buffer.journalPath())).records.size();
        QCOMPARE(offered(readAll(r.buffer.journalPath())), 0);
        QCOMPARE(r.buffer.unsavedCount(), 0);
        QVERIFY(!r.buffer.undo());
        QVERIFY(r.buffer.record(scene(4)));
        QVERIFY(r.buffer.flushJournal(5000));
        bytes = readAll(r.buffer.journalPath());
        // The slide after a save is the one record written: nothing waits behind a copy of the saved ones.
        QCOMPARE(journal::parse(bytes).records.size(), records + 1);
        // Ending with nothing unsaved leaves no journal behind.
        r.buffer.saved();
        r.buffer.ending();
        QVERIFY(QDir(folder).entryList(QDir::Files).isEmpty());
    }
    leaveJournal(other, bytes);
    SlideBuffer b;
    b.setJournal(other, {});
    // One slide is unsaved; the saved ones come back with it, so the buffer is whole again.
    QCOMPARE(b.findLeftOver().unsaved, 1);
    QCOMPARE(b.count(), 5);
    QCOMPARE(b.slide(1), bgr(scene(0)));
    QCOMPARE(b.slide(5), bgr(scene(4)));
    // The saved slides are not in the history: one undo, then nothing.
    QVERIFY(b.undo());
    QVERIFY(!b.undo());
}

namespace {

QByteArray key(char name) { return QByteArray(32, name); }
QByteArray picture(const QByteArray &key) { return key.repeated(100) + key.toHex(); }

// Journals the stage `scene` using the pictures named by letters; the names of those asked for go to `asked`.
void stage(SlideBuffer &b, const QByteArray &scene, const QByteArray &names, const QString &project,
           QByteArray *asked = nullptr)
{
    QByteArray ignored;
    QByteArray &told = asked ? *asked : ignored;
    QList<QByteArray> keys;
    for (char n : names)
        keys << key(n);
    b.journalScene(scene, keys, [&](const QByteArray &k) { return told += k[0], picture(k); }, project);
}

SlideBuffer::Found offeredFrom(const QString &folder, const QByteArray &bytes, SlideBuffer &b)
{
    leaveJournal(folder, bytes);
    b.setJournal(folder, {});
    return b.findLeftOver();
}

} // namespace

void TestHistory::theStageComesBackWithExactlyItsPicturesAlsoWhenTorn()
{
    QTemporaryDir dir;
    const QString project = dir.filePath(QStringLiteral("Мой мультик.vellumo")), other = dir.filePath("b");
    QByteArray bytes, asked;
    qsizetype before = 0;
    { // A stage, and a second one that follows a slide; the program ends without a save.
        Recorder r(dir.filePath(QStringLiteral("a")));
        QVERIFY(r.buffer.record(scene(0)));
        stage(r.buffer, "stage one", "AB", QString(), &asked);
        QVERIFY(r.buffer.record(scene(1)) && r.buffer.flushJournal(5000));
        before = QFileInfo(r.buffer.journalPath()).size();
        // Each picture goes into the file once; a stage that says the same again is not written.
        stage(r.buffer, "stage two", "BCB", project, &asked);
        stage(r.buffer, "stage two", "BCB", project, &asked);
        QCOMPARE(asked, QByteArray("ABC"));
        QVERIFY(r.buffer.flushJournal(5000));
        bytes = readAll(r.buffer.journalPath());
        QCOMPARE(journal::parse(bytes).records.size(), size_t(2 + 3 + 2));
    }
    // Cut in C's picture or in the stage after it: the stage before, and only its pictures.
    for (qsizetype cut : {before + 1, before + 2000, bytes.size() - 30}) {
        SlideBuffer b;
        const SlideBuffer::Found found = offeredFrom(other, bytes.left(cut), b);
        QVERIFY2(found.unsaved == 2 && found.scene == "stage one" && found.project.isEmpty(), qPrintable(QString::number(cut)));
        QCOMPARE(found.pictures, (QHash<QByteArray, QByteArray>{{key('A'), picture(key('A'))}, {key('B'), picture(key('B'))}}));
        b.declineLeftOver();
    }
    Recorder again(other);
    const SlideBuffer::Found found = offeredFrom(other, bytes, again.buffer);
    QVERIFY(found.sceneUnsaved && found.scene == "stage two" && found.project == project);
    QCOMPARE(found.pictures, (QHash<QByteArray, QByteArray>{{key('B'), picture(key('B'))}, {key('C'), picture(key('C'))}}));
    // Taken over, the journal still holds its pictures: only a new one is written.
    again.buffer.acceptLeftOver();
    asked.clear();
    stage(again.buffer, "stage three", "CD", project, &asked);
    QCOMPARE(asked, QByteArray("D"));
    // A journal of the version before is read; a stage record in it is damage.
    const journal::Parsed p = journal::parse(journal::header(2) + journal::record(journal::Type::Clear, {}) +
                                             journal::record(journal::Type::ProjectSaved, "x"));
    QVERIFY(p.status == journal::Parsed::Ok && p.damaged && p.records.size() == 1);
}

void TestHistory::aProjectSaveDecidesWhatIsOffered_data()
{
    QTest::addColumn<QByteArray>("after"); // follows the save: a recorded slide, or the stage told again
    QTest::addColumn<int>("unsaved");
    QTest::addColumn<QByteArray>("offered"); // the stage offered; none when nothing is
    QTest::newRow("nothing") << QByteArray() << 0 << QByteArray();
    QTest::newRow("a slide") << QByteArray("slide") << 1 << QByteArray("saved");
    QTest::newRow("the stage") << QByteArray("changed") << 0 << QByteArray("changed");
    QTest::newRow("the same stage") << QByteArray("saved") << 0 << QByteArray("saved");
}

void TestHistory::aProjectSaveDecidesWhatIsOffered()
{
    QFETCH(QByteArray, after);
    QFETCH(int, unsaved);
    QFETCH(QByteArray, offered);
    QTemporaryDir dir;
    Recorder r(dir.filePath(QStringLiteral("a")));
    for (int t = 0; t < 3; ++t)
        QVERIFY(r.buffer.record(scene(t)));
    stage(r.buffer, "saved", "A", QString());
    r.buffer.projectSaved(QStringLiteral("/p.vellumo"));
    QCOMPARE(r.buffer.unsavedCount(), 0);
    QVERIFY(r.buffer.undo() && r.buffer.redo()); // the history stays
    if (after == "slide")
        QVERIFY(r.buffer.record(scene(3)));
    else if (!after.isEmpty())
        stage(r.buffer, after, "A", QStringLiteral("/p.vellumo"));
    QVERIFY(r.buffer.flushJournal(5000));
    SlideBuffer b;
    const SlideBuffer::Found found = offeredFrom(dir.filePath(QStringLiteral("b")), readAll(r.buffer.journalPath()), b);
    QCOMPARE(found.unsaved, unsaved);
    QCOMPARE(found.sceneUnsaved, !offered.isEmpty() && unsaved == 0);
    QCOMPARE(found.scene, offered);
    QCOMPARE(found.project, offered.isEmpty() ? QString() : QStringLiteral("/p.vellumo"));
    // Offered, the saved slides come back too; not offered, the journal goes now. A program that ends
    // keeps it for unsaved slides only: a stage left unsaved on the way out was given up.
    QCOMPARE(b.count(), offered.isEmpty() ? 0 : 3 + unsaved);
    r.buffer.ending();
    QCOMPARE(QFile::exists(r.buffer.journalPath()), unsaved > 0);
}

void TestHistory::recordingInPlaceKeepsEverySlideExact_data()
{
    QTest::addColumn<int>("after");
    QTest::addColumn<int>("recorded");
    QTest::addColumn<int>("replaced");
    // 260 slides hold keys by the count (1, 129, 257) and keys forced by a changed background (every 40).
    QTest::newRow("after the first") << 1 << 3 << 1;
    QTest::newRow("before a key by the count") << 127 << 2 << 130;
    QTest::newRow("into a forced key") << 40 << 1 << 41;
    QTest::newRow("many, past a key, to the end") << 200 << 70 << 271;
}

void TestHistory::recordingInPlaceKeepsEverySlideExact()
{
    QFETCH(int, after);
    QFETCH(int, recorded);
    QFETCH(int, replaced);
    QTemporaryDir dir;
    Recorder r(dir.filePath(QStringLiteral("s")));
    SlideBuffer &b = r.buffer;
    std::vector<int> model(260);
    std::iota(model.begin(), model.end(), 0);
    for (int t : model)
        QVERIFY(b.record(scene(t)));
    const std::vector<int> original = model;
    b.recordAfter(after);
    for (int k = 0; k < recorded; ++k) {
        QVERIFY(b.record(scene(1000 + k)));
        model.insert(model.begin() + after + k, 1000 + k);
    }
    // Moved on past each; past the last slide, recording goes to the end.
    QCOMPARE(b.insertionPoint(), after + recorded < b.count() ? after + recorded : 0);
    const std::vector<int> beforeReplacing = model;
    QVERIFY(b.replace(replaced, scene(2000)));
    model[size_t(replaced - 1)] = 2000;
    COMPARE_SLIDES(b, model);
    for (int k = 0; k <= recorded; ++k)
        QVERIFY(b.undo());
    COMPARE_SLIDES(b, original);
    for (int k = 0; k <= recorded; ++k)
        QVERIFY(b.redo());
    COMPARE_SLIDES(b, model);

    // A crash now: the journal alone gives back the same slides and history.
    QVERIFY(b.flushJournal(5000));
    Recorder again(dir.filePath(QStringLiteral("t")));
    leaveJournal(dir.filePath(QStringLiteral("t")), readAll(b.journalPath()));
    QCOMPARE(again.buffer.findLeftOver().slides, b.count());
    COMPARE_SLIDES(again.buffer, model);
    QVERIFY(again.buffer.undo());
    COMPARE_SLIDES(again.buffer, beforeReplacing);
}

void TestHistory::theInsertionPointFollowsTheSlides()
{
    // Ten slides, recording after slide 5; a change, and where recording goes then (0: the end).
    const std::vector<std::tuple<const char *, std::function<bool(SlideBuffer &)>, int>> cases{
        {"a slide before it deleted", [](SlideBuffer &b) { return b.remove({3}); }, 4},
        {"its slide deleted", [](SlideBuffer &b) { return b.remove({5, 6, 8}); }, 4},
        {"it and all before deleted", [](SlideBuffer &b) { return b.remove({1, 2, 3, 4, 5}); }, 0},
        {"its delete undone", [](SlideBuffer &b) { return b.remove({5}) && b.undo(); }, 5},
        {"a slide before duplicated", [](SlideBuffer &b) { return b.duplicate({2}); }, 6},
        {"cleared and undone", [](SlideBuffer &b) { return b.clear() && b.undo(); }, 0},
        {"saved", [](SlideBuffer &b) { return b.saved(), true; }, 0},
        {"the project saved", [](SlideBuffer &b) { return b.projectSaved(QStringLiteral("/a")), true; }, 0},
        {"a project opened", [](SlideBuffer &b) { return b.replaceAll(SlideStore()), true; }, 0},
        {"its slide replaced", [](SlideBuffer &b) { return b.replace(5, scene(99)); }, 5},
        {"a recording undone", [](SlideBuffer &b) { return b.record(scene(99)) && b.undo(); }, 5},
        {"its slide moved to the front, two after it", [](SlideBuffer &b) { return b.move({5}, 1) && b.move({6, 7}, 1); }, 3},
    };
    for (const auto &[name, change, point] : cases) {
        SlideBuffer b;
        for (int t = 0; t < 10; ++t)
            QVERIFY(b.record(scene(t)));
        b.recordAfter(5);
        QVERIFY2(change(b) && b.insertionPoint() == point, name);
    }
}

QTEST_MAIN(TestHistory)
#include "test_history.moc"
