// The slide buffer's "Экспорт…" button and the export window: what a person
// sees and what the window does with the answers of the save dialog.

#include <QComboBox>
#include <QImageReader>
#include <QLabel>
#include <QElapsedTimer>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "ExportTestKit.h"
#include "TestCommon.h"
#include "controls/Button.h"
#include "controls/ProgressBar.h"
#include "controls/Twips.h"
#include "export/SizeEstimate.h"
#include "export/frmExport.h"
#include "slides/frmBuffer.h"

using namespace exporting;

namespace {

struct Harness {
    QTemporaryDir dir;
    AppState state;
    QList<controls::Message> messages;
    slides::SlideStore store;
    QStringList asked; // suggested paths the save dialog was opened with
    QString answer;
    controls::MsgResult reply = controls::MsgResult::Ok; // what every message is answered with
    QStringList shownInFolder;

    Harness()
    {
        state.programFolder = dir.path();
        state.AnimationsFolder = dir.filePath(QStringLiteral("Animations/"));
        QDir().mkpath(state.AnimationsFolder);
        state.message = [this](QWidget *, const controls::Message &m) {
            messages << m;
            return reply;
        };
        state.showInFolder = [this](const QString &file) { shownInFolder << file; };
    }
    void answerWith(frmExport &w, const QString &path)
    {
        answer = path;
        w.askSaveFile = [this](QWidget *, const QString &, const QString &suggested, const QString &) {
            asked << suggested;
            return answer;
        };
    }
};

bool waitEnded(frmExport &w, int ms = 20000)
{
    QSignalSpy ended(&w, &frmExport::exportEnded);
    return ended.wait(ms);
}

} // namespace

class TestExportWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void bufferOffersExport();
    void exportsThroughTheWindow();
    void slideFolderIsRefused();
    void failureNamesFileAndReason();
    void cancelStopsAtOnceAndLeavesNothing();
    void largerSizeWithItsEstimateThenOpenFolder();
    void theSlidesSoundsGoUnderTheVideo();
};

void TestExportWindow::theSlidesSoundsGoUnderTheVideo()
{
    Harness h;
    kit::fill(h.store, 24);
    QVERIFY(h.store.setDuration(2, 3)); // slide 13 starts at frame 14: 14/12 s
    QVERIFY(h.store.setSound(13, {slides::SoundClip::make(testcommon::squareWav(2400), "щелчок.wav"), 100}));
    h.state.PreviewRate = 12;
    frmExport w(h.state, h.store);
    w.show();
    // A GIF takes no sound, and the window says so while GIF is chosen.
    QVERIFY(w.Label5->isVisible());
    w.Combo1->setCurrentIndex(1);
    QVERIFY(!w.Label5->isVisible());
    h.answerWith(w, h.dir.filePath(QStringLiteral("звук.mp4")));
    w.Command1_Click();
    QVERIFY(waitEnded(w, 60000));
    const std::vector<qint16> heard = testcommon::soundOf(h.dir.filePath(QStringLiteral("звук.mp4")));
    const QList<double> onsets = testcommon::onsetsMs(heard);
    QVERIFY(onsets.size() == 1 && qAbs(onsets[0] - 14 * 1000 / 12.0) < 5);
    // As long as the cartoon's 26 frame times, give or take the encoder's last block.
    QVERIFY(heard.size() >= 26 * 4000 && heard.size() < 26 * 4000 + 1024);
}

void TestExportWindow::bufferOffersExport()
{
    Harness h;
    frmBuffer buffer(h.state);
    controls::Button *b = buffer.findChild<controls::Button *>(QStringLiteral("Command3"));
    QVERIFY(b);
    QCOMPARE(b->text(), QStringLiteral("Экспорт…"));
    QVERIFY(b->font().bold());
    QCOMPARE(b->geometry(), QRect(twips::toPixels(5745), twips::toPixels(6795), twips::toPixels(1455),
                                  twips::toPixels(420)));
    QCOMPARE(buffer.Command2->nextInFocusChain(), b);
    // The neighbours keep their places.
    QCOMPARE(buffer.Command2->geometry().left(), twips::toPixels(7290));
    QVERIFY(!b->geometry().intersects(buffer.Command2->geometry()) && !b->geometry().intersects(buffer.Label1->geometry()));

    QSignalSpy asked(&buffer, &frmBuffer::exportRequested);
    b->click();
    QCOMPARE(asked.count(), 0);
    QCOMPARE(h.messages.size(), 1);
    QCOMPARE(h.messages[0].text, QStringLiteral("Нет слайдов для экспорта"));
    buffer.append(kit::cartoon(1));
    b->click();
    QCOMPARE(asked.count(), 1);
}

void TestExportWindow::exportsThroughTheWindow()
{
    Harness h;
    kit::fill(h.store, 12);
    h.state.PreviewRate = 5;
    frmExport w(h.state, h.store);
    w.show();
    QCOMPARE(w.Spin1->value(), 5);
    QCOMPARE(w.Combo1->count(), 3);
    QCOMPARE(w.Combo1->itemText(1), QStringLiteral("Видео MP4 (H.264)"));

    // A name typed without its extension gets the format's.
    h.answerWith(w, h.dir.filePath(QStringLiteral("мой мультфильм")));
    w.Command1_Click();
    QVERIFY(waitEnded(w));
    const QString gif = h.dir.filePath(QStringLiteral("мой мультфильм.gif"));
    QVERIFY(QFileInfo::exists(gif));
    QCOMPARE(h.asked.size(), 1);
    QCOMPARE(QFileInfo(h.asked[0]).fileName(), QStringLiteral("Мультфильм.gif"));
    QCOMPARE(h.messages.size(), 1);
    QCOMPARE(h.messages[0].text, QStringLiteral("Мультфильм сохранён в файл «%1».").arg(QDir::toNativeSeparators(gif)));
    QVERIFY(!w.isVisible());
    QCOMPARE(kit::leftIn(h.dir.path()), QStringList{QStringLiteral("мой мультфильм.gif")});

    // The next export offers the same folder, with the chosen format's extension.
    w.show();
    w.Combo1->setCurrentIndex(1);
    h.answerWith(w, QString()); // the user changed their mind
    w.Command1_Click();
    QCOMPARE(h.asked.last(), h.dir.filePath(QStringLiteral("Мультфильм.mp4")));
    QVERIFY(!w.running());
    QCOMPARE(h.messages.size(), 1);
}

void TestExportWindow::slideFolderIsRefused()
{
    Harness h;
    kit::fill(h.store, 3);
    frmExport w(h.state, h.store);
    w.show();
    h.answerWith(w, h.state.AnimationsFolder + QStringLiteral("кино.gif"));
    w.Command1_Click();
    QVERIFY(!w.running());
    QCOMPARE(h.messages.size(), 1);
    QVERIFY2(h.messages[0].text.contains(QStringLiteral("папку слайдов"))
                 && h.messages[0].text.contains(QStringLiteral("удаляются")),
             qPrintable(h.messages[0].text));
    QCOMPARE(kit::leftIn(h.state.AnimationsFolder), QStringList());

    slides::SlideStore empty;
    frmExport none(h.state, empty);
    none.Command1_Click();
    QCOMPARE(h.messages.last().text, QStringLiteral("Нет слайдов для экспорта"));
}

void TestExportWindow::failureNamesFileAndReason()
{
    Harness h;
    kit::fill(h.store, 3);
    frmExport w(h.state, h.store);
    w.show();
    const QString path = h.dir.filePath(QStringLiteral("убрана/кино.gif"));
    h.answerWith(w, path);
    w.Command1_Click();
    QVERIFY(waitEnded(w));
    QCOMPARE(h.messages.size(), 1);
    QCOMPARE(h.messages[0].icon, controls::MsgIcon::Error);
    QCOMPARE(h.messages[0].text, QStringLiteral("Не удалось записать файл «%1»: Нет такого файла или каталога")
                                     .arg(QDir::toNativeSeparators(path)));
    // The window stays for another try, and the slides are all there.
    QVERIFY(w.isVisible());
    QVERIFY(w.Command1->isEnabled());
    QCOMPARE(h.store.count(), 3);
}

void TestExportWindow::cancelStopsAtOnceAndLeavesNothing()
{
    Harness h;
    kit::fill(h.store, 400, true);
    frmExport w(h.state, h.store);
    w.show();
    w.Combo1->setCurrentIndex(2); // WebM, the slowest to write
    h.answerWith(w, h.dir.filePath(QStringLiteral("долго.webm")));
    QSignalSpy ended(&w, &frmExport::exportEnded);
    w.Command1_Click();
    QVERIFY(w.running());
    QVERIFY(!w.Command1->isEnabled() && w.Command2->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(w.ProgressBar1->value() >= 5, 20000);
    QElapsedTimer t;
    t.start();
    w.Command2_Click();
    QVERIFY(ended.wait(5000));
    QVERIFY2(t.elapsed() < 200, qPrintable(QStringLiteral("%1 ms").arg(t.elapsed())));
    QCOMPARE(ended.first().first().value<Outcome::Status>(), Outcome::Cancelled);
    QCOMPARE(h.messages.size(), 0);
    QCOMPARE(kit::leftIn(h.dir.path()), QStringList());
    QVERIFY(w.isVisible());
}

void TestExportWindow::largerSizeWithItsEstimateThenOpenFolder()
{
    Harness h;
    kit::fill(h.store, 20, true);
    frmExport w(h.state, h.store);
    const QRect rate = w.Spin1->geometry(), status = w.Label3->geometry();
    w.show();
    QCOMPARE(w.Combo2->count(), 3);
    QCOMPARE(w.Combo2->currentText(), QStringLiteral("×1"));
    // The size shares the rate's row; nothing else moved for it.
    QCOMPARE(w.Spin1->geometry(), rate);
    QCOMPARE(w.Label3->geometry(), status);
    for (QWidget *other : {static_cast<QWidget *>(w.Combo1), static_cast<QWidget *>(w.Spin1), static_cast<QWidget *>(w.Label3)})
        QVERIFY(!w.Combo2->geometry().intersects(other->geometry()) && !w.Label4->geometry().intersects(other->geometry()));
    QSignalSpy estimated(&w, &frmExport::estimated);
    QVERIFY(estimated.wait(20000));
    QVERIFY2(w.Label3->text().startsWith(QStringLiteral("396 × 346 пикселей, файл ≈ ")), qPrintable(w.Label3->text()));

    // Settings changed while estimates run: only the last one's answer is shown.
    w.Combo1->setCurrentIndex(1);
    w.Combo2->setCurrentIndex(2);
    QTest::qWait(300);
    w.Combo1->setCurrentIndex(0);
    w.Combo2->setCurrentIndex(1);
    QVERIFY(w.Label3->text().startsWith(QStringLiteral("792 × 692 пикселей, размер файла оценивается")));
    estimated.clear();
    QTRY_VERIFY_WITH_TIMEOUT(!estimated.isEmpty() && !w.estimating(), 30000);
    QCOMPARE(estimated.size(), 1);
    QCOMPARE(w.Label3->text(), QStringLiteral("792 × 692 пикселей, файл %1").arg(approximateSize(w.estimate())));

    h.reply = controls::MsgResult::OpenFolder;
    const QString gif = h.dir.filePath(QStringLiteral("большой.gif"));
    h.answerWith(w, gif);
    w.Command1_Click();
    QVERIFY(waitEnded(w));
    QCOMPARE(QImageReader(gif).size(), QSize(792, 692));
    // So few slides are encoded whole: the estimate is the file's size.
    QCOMPARE(w.estimate(), QFileInfo(gif).size());
    QCOMPARE(h.messages.size(), 1);
    QCOMPARE(h.messages[0].buttons, controls::MsgButtons::OkOpenFolder);
    QCOMPARE(h.shownInFolder, QStringList{gif});
}

QTEST_MAIN(TestExportWindow)
#include "test_export_window.moc"
