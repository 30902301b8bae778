// Where the program reads and writes: a portable copy keeps everything beside
// itself; an installed one reads the shipped library from share/vellumo and
// writes only into the user's own folders. Qt's own texts speak Russian.

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "app/AppState.h"
#include "app/frmMain.h"
#include "app/Folders.h"
#include "app/Translations.h"

class TestFolders : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void aFolderHoldingTheLibraryRunsPortable();
    void elsewhereTheProgramRunsInstalledAndWritesOnlyForTheUser();
    void qtsOwnTextsAreRussian();
};

void TestFolders::aFolderHoldingTheLibraryRunsPortable()
{
    QTemporaryDir dir;
    for (const char *kind : {"objects", "articles", "fones"})
        QVERIFY(QDir(dir.path()).mkdir(kind));
    const app::Folders f = app::resolveFolders(dir.path(), "/home/u/.local/share/vellumo", "/home/u/Pictures");
    QVERIFY(f.portable);
    QCOMPARE(f.programFolder, dir.path());
    QCOMPARE(f.slidesParent, dir.path());
    QVERIFY(f.userAssets.isEmpty());

    // Any one of the three folders is a library (a copy unpacked without the others); files of those names are not.
    QVERIFY(QDir(dir.path()).rmdir("fones") && QDir(dir.path()).rmdir("objects"));
    QVERIFY(app::resolveFolders(dir.path(), "/d", "/p").portable);
    QVERIFY(QDir(dir.path()).rmdir("articles") && QFile(dir.filePath("fones")).open(QIODevice::WriteOnly));
    QVERIFY(!app::resolveFolders(dir.path(), "/d", "/p").portable);
}

void TestFolders::elsewhereTheProgramRunsInstalledAndWritesOnlyForTheUser()
{
    QTemporaryDir prefix;
    QTemporaryDir home;
    QVERIFY(QDir(prefix.path()).mkpath("bin"));
    for (const char *kind : {"objects", "articles", "fones"})
        QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("share/vellumo/") + kind));
    const QString pictures = home.filePath("Изображения"); // as a Russian desktop names it
    const app::Folders f = app::resolveFolders(prefix.filePath("bin"), home.filePath(".local/share/vellumo"), pictures);
    QVERIFY(!f.portable);
    QCOMPARE(f.programFolder, prefix.filePath("share/vellumo"));
    QCOMPARE(f.userAssets, home.filePath(".local/share/vellumo"));
    QCOMPARE(f.slidesParent, pictures + "/Vellumo");

    // Start-up makes the slide folder and the user's empty asset folders, and nothing under the prefix.
    AppState state;
    state.programFolder = f.programFolder;
    state.userAssets = f.userAssets;
    state.slidesParent = f.slidesParent;
    state.endProgram = [] {};
    frmMain main(state);
    QCOMPARE(state.AnimationsFolder, pictures + "/Vellumo/Animations/");
    QVERIFY(QFileInfo(state.AnimationsFolder).isDir());
    for (const char *kind : {"objects", "articles", "fones"}) {
        QVERIFY(QFileInfo(f.userAssets + "/" + kind).isDir());
        QVERIFY(QDir(f.programFolder + "/" + kind).isEmpty());
    }
    QVERIFY(!QFileInfo::exists(f.programFolder + "/Animations"));
}

void TestFolders::qtsOwnTextsAreRussian()
{
    if (!app::installQtTranslations(*QCoreApplication::instance()))
        QFAIL("Qt's Russian translations are not installed (qt6-translations-l10n)");
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Отмена"));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Перейти к:"));
}

QTEST_MAIN(TestFolders)
#include "test_folders.moc"
