// Moving, cutting, copying and pasting slides: exact with their durations, each one step of the history and of
// the journal; foreign clipboard contents are made into a slide or refused, and the person is told.

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <numeric>

#include "TestCommon.h"
#include "app/AppState.h"
#include "slides/ThumbLayout.h"
#include "slides/frmBuffer.h"

using namespace slides;

namespace {

QImage slideOf(int t) { return testcommon::stageSlide(t).convertToFormat(QImage::Format_BGR888); }

struct Buffer {
    AppState state;
    QList<controls::Message> messages;
    std::unique_ptr<frmBuffer> buffer;
    explicit Buffer(const QString &stateFolder = QString())
    {
        state.stateFolder = stateFolder;
        state.message = [this](QWidget *, const controls::Message &m) { return messages << m, controls::MsgResult::Ok; };
        buffer = std::make_unique<frmBuffer>(state);
    }
    SlideBuffer &slides() { return buffer->slides(); }
    // Slide `first` alone, or through `last`.
    void choose(int first, int last = 0) { buffer->choose(first, {}), buffer->choose(last ? last : first, Qt::ShiftModifier); }
    // Drags from the middle of slide `slide` to `to` on the strip's canvas, as a mouse does.
    void drag(int slide, QPoint to)
    {
        QTest::mousePress(buffer->Picture1, Qt::LeftButton, {}, layout::thumbRect(slide).center());
        QTest::mouseMove(buffer->Picture1, to);
        QTest::mouseRelease(buffer->Picture1, Qt::LeftButton, {}, to);
    }
};

} // namespace

class TestClipboard : public QObject {
    Q_OBJECT
private slots:
    void badInputChangesNothingOrIsToldOf();
    void movesCutsAndPastesKeepSlidesAndDurationsThroughACrash();
};

void TestClipboard::badInputChangesNothingOrIsToldOf()
{
    QClipboard *clip = QGuiApplication::clipboard();
    // Five slides, slide 3 chosen; what is done and checked, the slides held afterwards, whether a message told of it.
    const std::vector<std::tuple<const char *, std::function<bool(Buffer &)>, int, bool>> cases{
        {"slides moved onto themselves", [](Buffer &b) { return !b.slides().move({2, 3}, 4); }, 5, false},
        {"a slide dropped outside the strip",
         [](Buffer &b) { return b.drag(3, {-40, 30}), b.slides().slide(3) == slideOf(2); }, 5, false},
        {"text pasted", [clip](Buffer &b) { return clip->setText("слайд"), b.buffer->Paste(), true; }, 5, true},
        {"a slide-sized picture pasted by Ctrl+М under a Russian layout",
         [clip](Buffer &b) {
             clip->setImage(testcommon::stageSlide(77));
             QKeyEvent key(QEvent::KeyPress, 0x041C, Qt::ControlModifier, QStringLiteral("м"));
             return QCoreApplication::sendEvent(b.buffer.get(), &key), b.slides().slide(4) == slideOf(77);
         },
         6, false},
        {"a wide picture pasted: fitted on black",
         [clip](Buffer &b) {
             clip->setImage(testcommon::stageSlide(0).scaled(792, 173));
             b.buffer->Paste();
             const QImage s = b.slides().slide(4);
             return s.pixelColor(198, 173) != Qt::black && s.pixelColor(198, 10) == Qt::black &&
                    s.pixelColor(198, 335) == Qt::black && b.messages.value(0).text.contains("вписана");
         },
         6, true},
    };
    for (const auto &[name, act, count, told] : cases) {
        Buffer b;
        for (int t = 0; t < 5; ++t)
            QVERIFY(b.buffer->append(testcommon::stageSlide(t)));
        b.choose(3);
        QVERIFY2(act(b) && b.slides().count() == count && b.messages.isEmpty() != told, name);
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
    b.choose(1, 10000);
    QVERIFY(b.buffer->CopyChosen());
    b.choose(10000);
    b.buffer->Paste();
    QCOMPARE(b.slides().count(), 20000);
    for (int i : {1, 129, 5000, 10000})
        QVERIFY(b.slides().slide(10000 + i) == b.slides().slide(i));
    QVERIFY(b.slides().undo() && b.slides().count() == 10000 && b.messages.isEmpty());
}

void TestClipboard::movesCutsAndPastesKeepSlidesAndDurationsThroughACrash()
{
    // 260 slides hold keys by the count (1, 129, 257) and forced by a changed background (every 40), each
    // lasting its own number of frames; slides moved, cut and pasted across keys.
    QTemporaryDir dir;
    Buffer b(dir.filePath(QStringLiteral("s")));
    std::vector<int> model(260);
    std::iota(model.begin(), model.end(), 0);
    for (int t : model) {
        QVERIFY(b.buffer->append(testcommon::stageSlide(t)));
        QVERIFY(t % 5 == 0 || b.slides().setDuration({t + 1}, 1 + t % 5));
    }
    const auto matches = [](SlideBuffer &s, const std::vector<int> &m) {
        for (int i = 1; i <= s.count(); ++i)
            if (s.slide(i) != slideOf(m[size_t(i - 1)]) || s.slideDuration(i) != 1 + m[size_t(i - 1)] % 5)
                return false;
        return s.count() == int(m.size());
    };
    std::vector<std::vector<int>> steps{model};
    std::vector<int> moved{39, 40, 128, 129, 249}; // slides 40, 41, ... : scattered, over keys both ways
    QVERIFY(b.slides().move({40, 41, 129, 130, 250}, 100));
    std::erase_if(model, [&](int t) { return std::count(moved.begin(), moved.end(), t); });
    model.insert(model.begin() + 97, moved.begin(), moved.end());
    steps.push_back(model);
    b.choose(127, 130);
    b.buffer->CutChosen();
    moved.assign(model.begin() + 126, model.begin() + 130);
    model.erase(model.begin() + 126, model.begin() + 130);
    steps.push_back(model);
    b.choose(1);
    b.buffer->Paste();
    model.insert(model.begin() + 1, moved.begin(), moved.end());
    steps.push_back(model);
    b.choose(1);
    b.buffer->CopyChosen();
    b.buffer->choose(1, Qt::ControlModifier); // nothing chosen: pasted at the end
    b.buffer->Paste();
    model.push_back(0);
    QVERIFY(matches(b.slides(), model) && b.messages.isEmpty());

    // A crash now: the journal gives back the same slides, and the history undoes each step.
    QVERIFY(b.slides().flushJournal(5000));
    QFile journal(b.slides().journalPath());
    QVERIFY(QDir().mkpath(dir.filePath("t")) && journal.copy(dir.filePath("t/journal-1-1.vlj")));
    SlideBuffer again;
    again.setJournal(dir.filePath(QStringLiteral("t")), {});
    QCOMPARE(again.findLeftOver().slides, int(model.size()));
    QVERIFY(matches(again, model));
    for (size_t k = steps.size(); k-- > 0;)
        QVERIFY(again.undo() && matches(again, steps[k]));
}

QTEST_MAIN(TestClipboard)
#include "test_clipboard.moc"
