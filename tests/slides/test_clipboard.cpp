// Cutting, copying and pasting slides in the slide buffer, through the clipboard: slides come back
// exact with their durations, as one step of the history and of the journal; foreign contents are
// made into a slide or refused, and the person is told.

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <numeric>
#include <vector>

#include "TestCommon.h"
#include "app/AppState.h"
#include "slides/SlideBuffer.h"
#include "slides/ThumbLayout.h"
#include "slides/frmBuffer.h"

using namespace slides;

namespace {

QImage bgr(const QImage &i) { return i.convertToFormat(QImage::Format_BGR888); }

struct Buffer {
    AppState state;
    QList<controls::Message> messages;
    std::unique_ptr<frmBuffer> buffer;
    explicit Buffer(const QString &stateFolder = QString())
    {
        state.stateFolder = stateFolder;
        state.message = [this](QWidget *, const controls::Message &m) {
            messages << m;
            return controls::MsgResult::Ok;
        };
        buffer = std::make_unique<frmBuffer>(state);
    }
    SlideBuffer &slides() { return buffer->slides(); }
    void chooseRange(int first, int last)
    {
        buffer->choose(first, Qt::NoModifier);
        buffer->choose(last, Qt::ShiftModifier);
    }
};

// Drags from the middle of slide `slide` to `to` on the strip (pixels on its canvas), as a mouse does.
void drag(Buffer &b, int slide, QPoint to)
{
    QWidget *canvas = b.buffer->Picture1;
    const QPoint from = slides::layout::thumbRect(slide).center();
    const auto send = [canvas](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent e(type, at, canvas->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(canvas, &e);
    };
    send(QEvent::MouseButtonPress, from, Qt::LeftButton);
    send(QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
    send(QEvent::MouseMove, to, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, to, Qt::NoButton);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestClipboard : public QObject {
    Q_OBJECT
private slots:
    void badInputChangesNothingOrIsToldOf();
    void cutAndPasteKeepSlidesAndDurationsThroughACrash();
};

void TestClipboard::badInputChangesNothingOrIsToldOf()
{
    QClipboard *clip = QGuiApplication::clipboard();
    // Five slides, slide 3 chosen; what is done, the slides held afterwards, and whether a message told of it.
    const std::vector<std::tuple<const char *, std::function<bool(Buffer &)>, int, bool>> cases{
        {"slides moved onto themselves", [](Buffer &b) { return !b.slides().move({2, 3}, 4); }, 5, false},
        {"chosen slide dropped outside the strip",
         [](Buffer &b) {
             drag(b, 3, QPoint(-40, 30));
             return b.slides().slide(3) == bgr(testcommon::stageSlide(2)) && b.slides().history().count() == 5;
         },
         5, false},
        {"chosen slide dragged to the front",
         [](Buffer &b) {
             drag(b, 3, slides::layout::thumbRect(1).topLeft() + QPoint(5, 5));
             return b.slides().slide(1) == bgr(testcommon::stageSlide(2)) && b.buffer->chosen() == std::set<int>{1};
         },
         5, false},
        {"text pasted",
         [clip](Buffer &b) { return clip->setText(QStringLiteral("слайд")), b.buffer->Paste(), true; }, 5, true},
        {"damaged slides pasted",
         [clip](Buffer &b) {
             auto *data = new QMimeData;
             data->setData(QString::fromLatin1(frmBuffer::SlidesMime), QByteArray("VELSLDS1\x01\0\0\0\x01", 13));
             clip->setMimeData(data);
             b.buffer->Paste();
             return true;
         },
         5, true},
        {"a picture of the slide's size pasted",
         [clip](Buffer &b) {
             clip->setImage(testcommon::stageSlide(77));
             b.buffer->Paste();
             return b.slides().slide(4) == bgr(testcommon::stageSlide(77));
         },
         6, false},
        {"a wide picture pasted: fitted on black",
         [clip](Buffer &b) {
             QImage wide(792, 173, QImage::Format_RGB32);
             wide.fill(Qt::red);
             clip->setImage(wide);
             b.buffer->Paste();
             const QImage s = b.slides().slide(4);
             return s.pixelColor(198, 173) == QColor(Qt::red) && s.pixelColor(198, 10) == QColor(Qt::black) &&
                    s.pixelColor(198, 335) == QColor(Qt::black) && b.messages.value(0).text.contains("вписана");
         },
         6, true},
    };
    for (const auto &[name, act, count, told] : cases) {
        Buffer b;
        for (int t = 0; t < 5; ++t)
            QVERIFY(b.buffer->append(testcommon::stageSlide(t)));
        b.buffer->choose(3, Qt::NoModifier);
        QVERIFY2(act(b), name);
        QVERIFY2(b.slides().count() == count, name);
        QVERIFY2(b.messages.isEmpty() != told, name);
    }

    // Ten thousand slides copied and pasted at once: one step, undone at once.
    Buffer b;
    SlideStore many;
    QImage frame = testcommon::stageSlide(0);
    for (int k = 0; k < 10000; ++k) {
        frame.setPixel(k % SlideWidth, k / SlideWidth, qRgb(k & 255, 0, 255));
        QVERIFY(many.append(frame));
    }
    QVERIFY(b.slides().addSeries(std::move(many)));
    b.chooseRange(1, 10000);
    QVERIFY(b.buffer->CopyChosen());
    b.buffer->choose(10000, Qt::NoModifier);
    b.buffer->Paste();
    QCOMPARE(b.slides().count(), 20000);
    QCOMPARE(b.buffer->chosen().size(), size_t(10000));
    for (int i : {1, 129, 5000, 10000})
        QVERIFY(b.slides().slide(10000 + i) == b.slides().slide(i));
    QVERIFY(b.slides().undo());
    QCOMPARE(b.slides().count(), 10000);
    QVERIFY(b.messages.isEmpty());
}

void TestClipboard::cutAndPasteKeepSlidesAndDurationsThroughACrash()
{
    // 260 slides hold keys by the count and forced by a changed background (every 40); slides cut from
    // before keys and pasted after others, each lasting its own number of frames.
    QTemporaryDir dir;
    Buffer b(dir.filePath(QStringLiteral("s")));
    std::vector<int> model(260);
    std::iota(model.begin(), model.end(), 0);
    for (int t : model) {
        QVERIFY(b.buffer->append(testcommon::stageSlide(t)));
        QVERIFY(t % 5 == 0 || b.slides().setDuration({t + 1}, 1 + t % 5));
    }
    const std::vector<int> original = model;
    const auto matches = [](SlideBuffer &s, const std::vector<int> &m) {
        if (s.count() != int(m.size()))
            return false;
        for (int i = 1; i <= s.count(); ++i)
            if (s.slide(i) != bgr(testcommon::stageSlide(m[size_t(i - 1)])) ||
                s.slideDuration(i) != 1 + m[size_t(i - 1)] % 5)
                return false;
        return true;
    };
    b.chooseRange(127, 130);
    b.buffer->CutChosen();
    model.erase(model.begin() + 126, model.begin() + 130);
    b.buffer->choose(38, Qt::NoModifier);
    b.buffer->Paste();
    model.insert(model.begin() + 38, {126, 127, 128, 129});
    b.buffer->choose(1, Qt::NoModifier);
    b.buffer->CopyChosen();
    b.buffer->choose(1, Qt::ControlModifier); // nothing chosen: pasted at the end
    b.buffer->Paste();
    model.push_back(0);
    QVERIFY(matches(b.slides(), model));
    QVERIFY(b.messages.isEmpty());

    // A crash now: the journal gives back the same slides, and the history undoes the three steps.
    QVERIFY(b.slides().flushJournal(5000));
    QTemporaryDir other;
    QDir().mkpath(other.filePath(QStringLiteral("t")));
    QFile copy(other.filePath(QStringLiteral("t/journal-1-1.vlj")));
    QVERIFY(copy.open(QIODevice::WriteOnly));
    copy.write(readAll(b.slides().journalPath()));
    copy.close();
    SlideBuffer again;
    again.setJournal(other.filePath(QStringLiteral("t")), {});
    QCOMPARE(again.findLeftOver().slides, int(model.size()));
    QVERIFY(matches(again, model));
    for (int k = 0; k < 3; ++k)
        QVERIFY(again.undo());
    QVERIFY(matches(again, original));
}

QTEST_MAIN(TestClipboard)
#include "test_clipboard.moc"
