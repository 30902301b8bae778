// The project file: a scene built through the main window comes back whole
// in a fresh program with an empty library, a second save rewrites only what
// changed, and every kind of bad file is refused with a message naming it.
#include <QBuffer>
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

#include <sqlite3.h>
#include <unistd.h>

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

} // namespace

class TestProject : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void aSceneComesBackWholeInAFreshProgram();
    void aSecondSaveRewritesOnlyWhatChanged();
    void badFilesAreRefusedAndNamed();
    void damagedPartsAreLeftOutAndNamed();
    void aFailedSaveLeavesThePreviousVersion();
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
    QVERIFY(ProjectFile::save(path, scene, store).ok());
    const QByteArray first = readAll(path);
    // The picture used three times is stored once.
    QVERIFY(first.count(scene.background.mid(200, 64)) == 1);

    appendSlides(store, 200, 203);
    scene.previewRate = 20;
    QVERIFY(ProjectFile::save(path, scene, store).ok());
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
    QVERIFY(ProjectFile::save(path, scene, store).ok());
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
}

void TestProject::badFilesAreRefusedAndNamed()
{
    using S = ProjectResult::Status;
    QTemporaryDir dir;
    const QByteArray good = readAll(smallProject(dir.path(), 20));
    QVERIFY(good.size() > 8192);
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
    struct Case {
        const char *name;
        QByteArray bytes;
        S status;
    };
    const QList<Case> cases = {
        {"empty", QByteArray(), S::NotAProject},
        {"a PNG", png, S::NotAProject},
        {"another program's database", patched(68, 0x12345678), S::NotAProject},
        {"a newer version", patched(60, ProjectFile::FormatVersion + 1), S::NewerVersion},
        {"cut inside the magic", good.left(9), S::Damaged},
        {"cut inside the header", good.left(60), S::Damaged},
        {"cut after the first page", good.left(4096), S::Damaged},
        {"cut in the middle", good.left(good.size() / 2 + 100), S::Damaged},
        {"one byte short", good.left(good.size() - 1), S::Damaged},
        {"a crafted scene", craftedScene(good, dir.filePath("crafted")), S::Damaged},
    };
    for (const Case &c : cases) {
        const QString path = dir.filePath(QString("Плохой файл %1.vellumo").arg(c.name));
        writeAll(path, c.bytes);
        project::SceneSnapshot scene;
        scene.previewRate = 3;
        slides::SlideStore store;
        store.append(testcommon::stageSlide(0));
        const ProjectResult r = ProjectFile::open(path, scene, store);
        QVERIFY2(r.status == c.status, c.name);
        QVERIFY2(r.message.contains(QDir::toNativeSeparators(path)), c.name);
        // The work on screen stays as it was.
        QVERIFY2(scene.previewRate == 3 && store.count() == 1, c.name);
    }
    project::SceneSnapshot scene;
    slides::SlideStore store;
    const ProjectResult missing = ProjectFile::open(dir.filePath("нет такого.vellumo"), scene, store);
    QCOMPARE(missing.status, S::CannotRead);
    QVERIFY(missing.message.contains("нет такого.vellumo"));

    // Random bytes over the middle: refused as damaged, or opened with what was lost named, never with
    // a wrong slide.
    slides::SlideStore original;
    appendSlides(original, 0, 20);
    QRandomGenerator random(23);
    for (int round = 0; round < 12; ++round) {
        QByteArray bytes = good;
        const qsizetype at = 4096 + random.bounded(good.size() - 4096 - 256);
        for (int i = 0; i < 200; ++i)
            bytes[at + i] = char(random.bounded(256));
        const QString path = dir.filePath("шум.vellumo");
        writeAll(path, bytes);
        slides::SlideStore read;
        const ProjectResult r = ProjectFile::open(path, scene, read);
        QVERIFY2(r.status == S::Damaged || (r.ok() && (!r.lost.isEmpty() || read.count() == 20)),
                 qPrintable(QString::number(at)));
        if (r.ok() && read.count() == 20 && r.lost.isEmpty())
            for (int i = 1; i <= 20; ++i)
                QVERIFY(testcommon::samePixels(read.slide(i), original.slide(i)));
    }
}

void TestProject::damagedPartsAreLeftOutAndNamed()
{
    QTemporaryDir dir;
    const QString path = smallProject(dir.path(), 20);
    QByteArray bytes = readAll(path);
    slides::SlideStore original;
    appendSlides(original, 0, 20);

    // One byte of the background and one of slide 10's packed bytes turned over.
    const QByteArray picture = readAll(dir.filePath("bg.png"));
    const qsizetype inPicture = bytes.indexOf(picture.mid(300, 64));
    quint8 flags = 0;
    const QByteArray slide10 = original.packedView(10, flags).toByteArray();
    const qsizetype inSlide = bytes.indexOf(slide10.mid(slide10.size() / 2, 32));
    QVERIFY(inPicture > 0 && inSlide > 0);
    bytes[inPicture] = char(~bytes[inPicture]);
    bytes[inSlide] = char(~bytes[inSlide]);
    writeAll(path, bytes);

    project::SceneSnapshot scene;
    slides::SlideStore read;
    const ProjectResult r = ProjectFile::open(path, scene, read);
    QVERIFY2(r.ok(), qPrintable(r.message));
    QCOMPARE(r.lost, QStringList({"картинка фона", "слайды 10–20"}));
    QVERIFY(r.message.contains(QDir::toNativeSeparators(path)) && r.message.contains("слайды 10–20"));
    QVERIFY(scene.background.isEmpty());
    QCOMPARE(scene.entries, QStringList{"персонаж (кот) индекс > 1"});
    QCOMPARE(read.count(), 9);
    for (int i = 1; i <= 9; ++i)
        QVERIFY(testcommon::samePixels(read.slide(i), original.slide(i)));
}

void TestProject::aFailedSaveLeavesThePreviousVersion()
{
    QTemporaryDir dir;
    const QString path = smallProject(dir.path(), 5);
    project::SceneSnapshot scene;
    slides::SlideStore store;
    store.append(testcommon::stageSlide(7));
    struct Case {
        const char *name;
        QString path;
    };
    // Root writes into any folder whatever its mode; a folder of the kernel's own takes nothing from anyone.
    const QString readOnly = geteuid() == 0 ? QString("/proc/Мой мульт.vellumo") : path;
    for (const Case &c : QList<Case>{{"a read-only folder", readOnly},
                                     {"a vanished folder", dir.filePath("флешка/Мой мульт.vellumo")}}) {
        if (geteuid() != 0)
            QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
        const ProjectResult r = ProjectFile::save(c.path, scene, store);
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY2(r.status == ProjectResult::Status::CannotWrite, c.name);
        QVERIFY2(r.message.contains(QDir::toNativeSeparators(c.path)), c.name);
    }
    slides::SlideStore read;
    QVERIFY(ProjectFile::open(path, scene, read).ok());
    QCOMPARE(read.count(), 5);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({"bg.png", "small.vellumo"}));
}

QTEST_MAIN(TestProject)
#include "test_project.moc"
