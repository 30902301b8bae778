// The project file: a scene built through the main window comes back whole
// in a fresh program with an empty library, a second save rewrites only what
// changed, and every kind of bad file is refused with a message naming it.
#include <QBuffer>
#include <fcntl.h>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTest>
#include <QToolButton>
#include <QtEndian>

#include <linux/fs.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <thread>

#include "../picker/PickerTestKit.h"
#include "Program.h"
#include "ProjectTestKit.h"
#include "TestCommon.h"
#include "controls/Twips.h"
#include "picker/Placing.h"
#include "project/ProjectFile.h"
#include "project/SceneSnapshot.h"
#include "slides/StageCapture.h"
#include "slides/SlideStore.h"
#include "slides/frmBuffer.h"

using namespace pickerkit;
using project::ProjectResult;
using testcommon::Program;
using testcommon::Unwritable;
namespace ProjectFile = project::ProjectFile;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// Slides `from` to `to` - 1 of a changing stage.
void appendSlides(slides::SlideStore &store, int from, int to)
{
    for (int t = from; t < to; ++t)
        QVERIFY(store.append(testcommon::stageSlide(t)));
}

// A project of a picture and `slides` slides of a changing stage.
QString smallProject(const QString &dir, int slides)
{
    project::SceneSnapshot scene;
    testcommon::stageSlide(1).save(QDir(dir).filePath("bg.png"), "PNG");
    scene.background = readAll(QDir(dir).filePath("bg.png"));
    scene.entries = {"персонаж (кот) индекс > 1"};
    slides::SlideStore store;
    appendSlides(store, 0, slides);
    const QString path = QDir(dir).filePath("small.vellumo");
    return ProjectFile::save(path, scene, store).ok() ? path : QString();
}

// A project whose scene row carries its right hash but sizes the background a billion pixels wide.
QByteArray craftedScene(const QByteArray &good, const QString &path)
{
    writeAll(path, good);
    sqlite3 *db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    sqlite3_stmt *get = nullptr;
    sqlite3_prepare_v2(db, "SELECT data FROM scene", -1, &get, nullptr);
    sqlite3_step(get);
    QByteArray data(static_cast<const char *>(sqlite3_column_blob(get, 0)), sqlite3_column_bytes(get, 0));
    sqlite3_finalize(get);
    // After the layout and the background's hash come its rectangle's x, y, width and height.
    qToBigEndian(1.5e13, data.data() + 4 + 4 + 32 + 16);
    sqlite3_stmt *put = nullptr;
    sqlite3_prepare_v2(db, "UPDATE scene SET hash = ?1, data = ?2", -1, &put, nullptr);
    const QByteArray hash = QCryptographicHash::hash(data, QCryptographicHash::Sha256);
    sqlite3_bind_blob(put, 1, hash.constData(), int(hash.size()), SQLITE_STATIC);
    sqlite3_bind_blob(put, 2, data.constData(), int(data.size()), SQLITE_STATIC);
    const bool done = sqlite3_step(put) == SQLITE_DONE;
    sqlite3_finalize(put);
    sqlite3_close(db);
    return done ? readAll(path) : QByteArray();
}

int differingPages(const QByteArray &a, const QByteArray &b)
{
    int n = 0;
    for (qsizetype at = 0; at < a.size(); at += 4096)
        n += a.mid(at, 4096) != b.mid(at, 4096);
    return n;
}

// Files grow no further than `bytes` while it lives: the disk is full for this process.
struct FullDisk {
    rlimit before{};
    explicit FullDisk(qint64 bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &before);
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit now{rlim_t(bytes), before.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &now);
    }
    ~FullDisk() { ::setrlimit(RLIMIT_FSIZE, &before), ::signal(SIGXFSZ, SIG_DFL); }
};

} // namespace

class TestProject : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void aSceneComesBackWholeInAFreshProgram();
    void aSecondSaveRewritesOnlyWhatChanged();
    void aCopyIsSavedOnAWorkerWhileRecordingGoesOn();
    void badInputAndFaultsEndInAClearMessage();
    void soundsComeBackExactAndADamagedOneIsNamed();
};

void TestProject::aSceneComesBackWholeInAFreshProgram()
{
    Program before;
    buildScene(before);
    frmMain &a = *before.main;
    const QImage shot = stage(before);
    const project::SceneSnapshot scene = project::takeSnapshot(a);
    QCOMPARE(scene.objects.size(), 4);
    // The raised character lies on top; the deleted one is gone but still counted.
    QCOMPARE(scene.objects.last().number, 1);
    QCOMPARE(scene.characterCount, 3);
    const slides::SlideStore &store = a.Buffer()->store();
    QCOMPARE(store.count(), 3);

    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("Мои мультики"));
    const QString path = dir.filePath("Мои мультики/Кот и пёс 1.vellumo");
    const ProjectResult saved = ProjectFile::save(path, scene, store);
    QVERIFY2(saved.ok(), qPrintable(saved.message));
    // The file alone is the project.
    QCOMPARE(QDir(dir.filePath("Мои мультики")).entryList(QDir::Files), QStringList{"Кот и пёс 1.vellumo"});
    const QByteArray header = readAll(path).left(100);
    QCOMPARE(qFromBigEndian<qint32>(header.constData() + 68), ProjectFile::ApplicationId);
    QCOMPARE(qFromBigEndian<qint32>(header.constData() + 60), ProjectFile::FormatVersion);

    Program after;   // its program folder holds no library at all
    project::SceneSnapshot read;
    slides::SlideStore readSlides;
    const ProjectResult opened = ProjectFile::open(path, read, readSlides);
    QVERIFY2(opened.ok(), qPrintable(opened.message));
    QVERIFY(opened.lost.isEmpty());
    QVERIFY(read == scene);
    project::applySnapshot(*after.main, read);
    frmMain &b = *after.main;
    QVERIFY(testcommon::samePixels(stage(after), shot));
    QCOMPARE(after.entries(), before.entries());
    QCOMPARE(b.Combo1->currentText(), QString("400"));
    QCOMPARE(b.UpDown5->increment(), 400);
    QVERIFY(b.Check3->isChecked() && b.AniGIF1.at(2)->Playing());
    // Read back from the window, the scene is the one saved, down to the labels and the buttons.
    QVERIFY(project::takeSnapshot(b) == scene);
    QCOMPARE(readSlides.count(), store.count());
    for (int i = 1; i <= store.count(); ++i)
        QVERIFY2(testcommon::samePixels(readSlides.slide(i), store.slide(i)), qPrintable(QString::number(i)));

    // A new character continues the numbering and stands where it would have; the next frame step and
    // slide match on both sides.
    const QString objects = assetFolder(after, "objects");
    testcommon::writeSimpleGif(objects, "cat.gif", QSize(60, 50), 6);
    for (Program *p : {&before, &after})
        QCOMPARE(picker::placeAsset(*p->main, "person", p->folder("objects"), "cat.gif"), picker::Placed::Character);
    QVERIFY(after.entries().last().endsWith("> 4"));
    a.DoPicture();
    b.DoPicture();
    QVERIFY(a.SaveBuffer() && b.SaveBuffer());
    QVERIFY(testcommon::samePixels(b.Buffer()->lastSlide(), a.Buffer()->lastSlide()));
}

void TestProject::aSecondSaveRewritesOnlyWhatChanged()
{
    QTemporaryDir dir;
    project::SceneSnapshot scene;
    testcommon::stageSlide(2).save(dir.filePath("bg.png"), "PNG");
    scene.background = readAll(dir.filePath("bg.png"));
    scene.objects = {{project::StageObject::Kind::Prop, 1, scene.background, QRectF(0, 0, 300, 300)},
                     {project::StageObject::Kind::Prop, 2, scene.background, QRectF(15, 0, 300, 300)}};
    slides::SlideStore store;
    appendSlides(store, 0, 200);
    const QString path = dir.filePath("p.vellumo");
    ProjectFile::WrittenState written;
    // The progress told runs up to its total and never back.
    QList<std::pair<qint64, qint64>> told;
    const auto tell = [&told](qint64 done, qint64 total) { told.append({done, total}); };
    QVERIFY(ProjectFile::save(path, scene, store, &written, tell).ok());
    QVERIFY(told.size() > 2 && told.first().first == 0 && told.last().first == told.last().second);
    for (int i = 1; i < told.size(); ++i)
        QVERIFY(told[i].first >= told[i - 1].first && told[i].second == told[0].second);
    const QByteArray first = readAll(path);
    // The picture used three times is stored once.
    QVERIFY(first.count(scene.background.mid(200, 64)) == 1);

    appendSlides(store, 200, 203);
    scene.previewRate = 20;
    QVERIFY(ProjectFile::save(path, scene, store, &written).ok());
    const QByteArray second = readAll(path);
    // The pages already there stay, but for a few of the tables' own; the file grows by the new slides.
    const int pages = int(first.size() / 4096);
    const int rewritten = differingPages(first, second.left(first.size()));
    QVERIFY2(rewritten * 20 < pages, qPrintable(QString("%1 of %2 pages").arg(rewritten).arg(pages)));
    qint64 added = 0;
    for (int i = 201; i <= 203; ++i) {
        quint8 flags = 0;
        added += store.packedView(i, flags).size();
    }
    QVERIFY(second.size() - first.size() <= added + 8 * 4096);

    // Slides taken out, one object fewer: the file follows.
    std::vector<slides::SlideStore::Packed> taken;
    QVERIFY(store.take(50, 100, taken));
    scene.objects.removeLast();
    QVERIFY(ProjectFile::save(path, scene, store, &written).ok());
    // Their room is given back.
    QVERIFY(QFileInfo(path).size() < second.size() * 3 / 4);
    project::SceneSnapshot read;
    slides::SlideStore readSlides;
    QVERIFY(ProjectFile::open(path, read, readSlides).ok());
    QVERIFY(read == scene);
    QCOMPARE(readSlides.count(), 103);
    for (int i : {1, 49, 50, 51, 103})
        QVERIFY(testcommon::samePixels(readSlides.slide(i), store.slide(i)));
    QVERIFY(!QFile::exists(path + "-journal") && !QFile::exists(path + "-wal"));
    // Only a duration changed: the slide is written again all the same.
    QVERIFY(store.setDuration(2, 99) && ProjectFile::save(path, scene, store, &written).ok());
    QVERIFY(ProjectFile::open(path, read, readSlides).ok());
    QVERIFY(readSlides.duration(2) == 99 && readSlides.duration(103) == 1);

    // Another program writes the file meanwhile: what this one remembers of it no longer holds, and the
    // next save writes it whole.
    slides::SlideStore other;
    appendSlides(other, 500, 530);
    QVERIFY(ProjectFile::save(path, project::SceneSnapshot(), other).ok());
    appendSlides(store, 203, 204);
    QVERIFY(ProjectFile::save(path, scene, store, &written).ok());
    QVERIFY(ProjectFile::open(path, read, readSlides).ok());
    QCOMPARE(readSlides.count(), 104);
    for (int i : {1, 2, 30, 31, 104})
        QVERIFY(testcommon::samePixels(readSlides.slide(i), store.slide(i)));
}

void TestProject::aCopyIsSavedOnAWorkerWhileRecordingGoesOn()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("p.vellumo");
    slides::SlideStore store;
    appendSlides(store, 0, 40);
    const slides::SlideStore copy = store;
    ProjectResult saved;
    std::thread worker([&] { saved = ProjectFile::save(path, project::SceneSnapshot(), copy); });
    appendSlides(store, 40, 80);
    worker.join();
    QVERIFY(saved.ok());
    // The copy can take slides of its own without touching the original's.
    slides::SlideStore grown = copy;
    appendSlides(grown, 100, 120);
    slides::SlideStore read;
    project::SceneSnapshot scene;
    QVERIFY(ProjectFile::open(path, scene, read).ok());
    QCOMPARE(read.count(), 40);
    for (int i = 1; i <= 80; ++i)
        QVERIFY(testcommon::samePixels(store.slide(i), testcommon::stageSlide(i - 1)) &&
                (i > 40 || testcommon::samePixels(read.slide(i), testcommon::stageSlide(i - 1))) &&
                (i > 60 || testcommon::samePixels(grown.slide(i), testcommon::stageSlide(i <= 40 ? i - 1 : i + 59))));
}

void TestProject::badInputAndFaultsEndInAClearMessage()
{
    using S = ProjectResult::Status;
    QTemporaryDir dir;
    const QString goodPath = smallProject(dir.path(), 20);
    const QByteArray good = readAll(goodPath);
    QVERIFY(good.size() > 3 * 16384);
    slides::SlideStore original;
    appendSlides(original, 0, 20);
    auto patched = [&good](int at, quint32 value) {
        QByteArray b = good;
        qToBigEndian(value, b.data() + at);
        return b;
    };
    QByteArray png;
    {
        QBuffer out(&png);
        out.open(QIODevice::WriteOnly);
        testcommon::stageSlide(3).save(&out, "PNG");
    }
    // One byte turned over inside the background picture, or inside slide 10's packed bytes.
    auto flipped = [&good](const QByteArray &part) {
        QByteArray b = good;
        const qsizetype at = b.indexOf(part.mid(part.size() / 2, 32));
        if (at > 0)
            b[at] = char(~b[at]);
        return at > 0 ? b : QByteArray();
    };
    quint8 flags = 0;
    const QByteArray slide10 = original.packedView(10, flags).toByteArray();
    QRandomGenerator random(23);
    auto noise = [&](qsizetype at, int n) {
        QByteArray b = good;
        for (int i = 0; i < n; ++i)
            b[at + i] = char(random.bounded(256));
        return b;
    };

    // A project of more slides than the disk has room for, saved over the small one.
    slides::SlideStore big;
    appendSlides(big, 0, 60);
    QVERIFY(QDir(dir.path()).mkpath("Папка без права записи"));
    QVERIFY(QDir(dir.path()).mkpath("Мои мультики"));
    writeAll(dir.filePath("файл, а не папка"), "x");

    enum Action { Open, Save, SaveOnFullDisk };
    struct Case {
        const char *name;
        Action action;
        QByteArray bytes;   // laid down at the path first, to be opened
        QString file;       // relative to the folder
        S status;
        QStringList lost;   // opened with these parts left out; "*": with some part, wherever the damage fell
    };
    const QString bad = QStringLiteral("Плохой файл.vellumo");
    const QList<Case> cases = {
        {"empty", Open, {}, bad, S::NotAProject, {}},
        {"a PNG renamed", Open, png, bad, S::NotAProject, {}},
        {"another program's database", Open, patched(68, 0x12345678), bad, S::NotAProject, {}},
        {"a newer version", Open, patched(60, ProjectFile::FormatVersion + 1), bad, S::NewerVersion, {}},
        {"cut inside the magic", Open, good.left(9), bad, S::Damaged, {}},
        {"cut inside the header", Open, good.left(60), bad, S::Damaged, {}},
        {"cut after the first page", Open, good.left(16384), bad, S::Damaged, {}},
        {"cut in the middle", Open, good.left(good.size() / 2 + 100), bad, S::Damaged, {}},
        {"one byte short", Open, good.left(good.size() - 1), bad, S::Damaged, {}},
        {"a crafted scene", Open, craftedScene(good, dir.filePath("crafted")), bad, S::Damaged, {}},
        {"random bytes over the tables' first pages", Open, noise(2 * 16384, 5 * 16384), bad, S::Damaged, {}},
        {"random bytes in the middle", Open, noise(good.size() / 2, 4096), bad, S::Ok, {"*"}},
        {"a damaged picture", Open, flipped(readAll(dir.filePath("bg.png"))), bad, S::Ok, {"картинка фона"}},
        {"a damaged slide", Open, flipped(slide10), bad, S::Ok, {"слайды 10–20"}},
        {"a missing file", Open, {}, "нет такого.vellumo", S::CannotRead, {}},  // laid down by nobody
        {"a read-only file in a read-only folder", Open, good, "Папка без права записи/Мой мульт.vellumo", S::Ok, {}},
        {"a full disk", SaveOnFullDisk, {}, "small.vellumo", S::CannotWrite, {}},
        {"a folder without write rights", Save, {}, "Папка без права записи/Новый.vellumo", S::CannotWrite, {}},
        {"a folder that is a file", Save, {}, "файл, а не папка/Новый.vellumo", S::CannotWrite, {}},
        {"a vanished folder", Save, {}, "флешка/Мой мульт.vellumo", S::CannotWrite, {}},
        {"a name with Cyrillic letters and spaces", Save, {}, "Мои мультики/Кот и пёс 2.vellumo", S::Ok, {}},
    };
    for (const Case &c : cases) {
        const QString path = dir.filePath(c.file);
        if (c.action == Open && c.status != S::CannotRead)
            writeAll(path, c.bytes);
        project::SceneSnapshot scene;
        scene.previewRate = 3;
        slides::SlideStore store;
        store.append(testcommon::stageSlide(0));
        const QStringList before = QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files);
        ProjectResult r;
        {
            Unwritable locked;
            if (c.file.startsWith("Папка без права записи")) {
                if (QFile::exists(path))
                    locked.add(path);
                locked.add(QFileInfo(path).absolutePath());
            }
            ProjectFile::WrittenState written;
            if (c.action == SaveOnFullDisk) {
                // Brought up to date in place, the file would grow: the disk takes 64 KB more.
                QVERIFY(ProjectFile::open(path, scene, store, &written).ok());
                FullDisk full(QFileInfo(path).size() + 65536);
                r = ProjectFile::save(path, {}, big, &written);
                QVERIFY2(written.isEmpty(), c.name);
            } else if (c.action == Open) {
                r = ProjectFile::open(path, scene, store);
            } else {
                r = ProjectFile::save(path, {}, big, &written);
            }
        }
        QVERIFY2(r.status == c.status, qPrintable(QString("%1: %2").arg(c.name, r.message)));
        QVERIFY2(c.lost == QStringList{"*"} ? !r.lost.isEmpty() : r.lost == c.lost,
                 qPrintable(QString("%1: %2").arg(c.name, r.lost.join("; "))));
        QVERIFY2(r.ok() && r.lost.isEmpty() ? r.message.isEmpty() : r.message.contains(r.lost.join("; ")), c.name);
        if (!r.ok() || !c.lost.isEmpty())
            QVERIFY2(r.message.contains(QDir::toNativeSeparators(path)), c.name);
        // Nothing is left beside the file: no journal, no half-written copy.
        const QStringList after = QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files);
        QVERIFY2(after == (c.action == Open || !r.ok() ? before : before + QStringList{c.file.section('/', -1)}), c.name);
        if (c.action == Open && !r.ok()) {
            // The work on screen stays as it was.
            QVERIFY2(scene.previewRate == 3 && store.count() == 1, c.name);
        } else if (c.action == Open) {
            // Slides are left out, never read wrong: a loss runs from a slide to the last one.
            const QStringList slidesLost = r.lost.filter("слайд");
            const int kept = slidesLost.isEmpty() ? 20 : slidesLost.first().section(' ', 1).section("–", 0, 0).toInt() - 1;
            QVERIFY2(store.count() == kept, c.name);
            for (int i = 1; i <= store.count(); ++i)
                QVERIFY2(testcommon::samePixels(store.slide(i), original.slide(i)), c.name);
        } else if (r.ok() || QFile::exists(path)) {
            // After a failed save the previous version opens as it was; after a good one, the new.
            slides::SlideStore read;
            QVERIFY2(ProjectFile::open(path, scene, read).ok(), c.name);
            const slides::SlideStore &expected = r.ok() ? big : original;
            QCOMPARE(read.count(), expected.count());
            for (int i = 1; i <= read.count(); i += 7)
                QVERIFY2(testcommon::samePixels(read.slide(i), expected.slide(i)), c.name);
        }
    }
}

void TestProject::soundsComeBackExactAndADamagedOneIsNamed()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("sounds.vellumo");
    project::SceneSnapshot scene;
    slides::SlideStore store;
    appendSlides(store, 0, 5);
    const auto music = slides::SoundClip::make(QByteArray(70000, 'm') + "end", QStringLiteral("песня.mp3"));
    const auto voice = slides::SoundClip::make(QByteArray("voice"), QStringLiteral("голос.wav"));
    QVERIFY(store.setSound(2, {music, 100}));
    QVERIFY(store.setSound(3, {music, 40}));
    QVERIFY(store.setSound(5, {voice, 200}));
    QVERIFY(ProjectFile::save(path, scene, store).ok());
    // A sound taken off before the next save is gone from the file too.
    QVERIFY(store.setSound(3, {}));
    QVERIFY(ProjectFile::save(path, scene, store).ok());
    const auto volumes = [](const slides::SlideStore &s) {
        QList<int> out;
        for (int i = 1; i <= s.count(); ++i)
            out << (s.sound(i) ? s.sound(i).volume : -1);
        return out;
    };
    {
        slides::SlideStore back;
        const ProjectResult r = ProjectFile::open(path, scene, back);
        QVERIFY2(r.ok() && r.lost.isEmpty(), qPrintable(r.message));
        QCOMPARE(volumes(back), (QList<int>{-1, 100, -1, -1, 200}));
        QCOMPARE(back.sound(2).clip->bytes, music->bytes);
        QCOMPARE(back.sound(2).clip->name, music->name);
        QCOMPARE(back.sound(5).clip->bytes, voice->bytes);
    }
    // The song's bytes damaged in the file: the project opens, every slide and the voice with it.
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    QCOMPARE(sqlite3_exec(db, "UPDATE sounds SET bytes = zeroblob(70003) WHERE name = 'песня.mp3'", nullptr, nullptr,
                          nullptr),
             SQLITE_OK);
    QCOMPARE(sqlite3_changes(db), 1);
    sqlite3_close(db);
    slides::SlideStore back;
    const ProjectResult r = ProjectFile::open(path, scene, back);
    QCOMPARE(back.count(), 5);
    QCOMPARE(r.lost, QStringList{QStringLiteral("звук «песня.mp3» слайда 2")});
    QVERIFY(r.message.contains(QStringLiteral("песня.mp3")));
    QCOMPARE(volumes(back), (QList<int>{-1, -1, -1, -1, 200}));
}

QTEST_MAIN(TestProject)
#include "test_project.moc"
