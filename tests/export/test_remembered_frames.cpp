// Frames read once for a writer's two passes: both passes see every frame
// and what changed exactly as the source gives them, whatever part of them
// memory holds, and the source is read again only past the bound.

#include <QtTest>

#include "export/RememberedFrames.h"

using namespace exporting;

namespace {

constexpr int W = 40, H = 30;

std::vector<uchar> pixels(int i) // a block moving over a gradient
{
    std::vector<uchar> rows(size_t(W) * H * 3);
    for (int at = 0; at < W * H; ++at) {
        const int x = at % W, y = at / W;
        const bool block = x >= i % 30 && x < i % 30 + 6 && y >= 10 && y < 16;
        rows[size_t(at) * 3] = uchar(block ? 200 : x * 6);
        rows[size_t(at) * 3 + 1] = uchar(block ? i : y * 8);
    }
    return rows;
}

// What changed is found against the frame read before, as a folder does.
class Moving : public FrameSource {
public:
    explicit Moving(int count, int failAt = 0) : m_count(count), m_failAt(failAt) {}
    int count() const override { return m_count; }
    int duration(int i) const override { return 1 + i % 3; }
    bool read(int i, Frame &frame, QString &error) override
    {
        ++reads;
        error = QStringLiteral("broken %1").arg(i);
        if (i == m_failAt)
            return false;
        const std::vector<uchar> before = std::exchange(m_rows, pixels(i));
        frame = {m_rows.data(), W * 3, QSize(W, H), QRect(0, 0, W, H)};
        if (i > 1 && m_last == i - 1)
            frame.changed = differingRect(m_rows.data(), before.data(), W * 3, frame.size);
        m_last = i;
        return true;
    }
    int reads = 0;

private:
    int m_count, m_failAt, m_last = 0;
    std::vector<uchar> m_rows;
};

} // namespace

class TestRememberedFrames : public QObject {
    Q_OBJECT
private slots:
    void twoPassesSeeTheSourcesFrames_data()
    {
        QTest::addColumn<size_t>("bound");
        QTest::addColumn<int>("kept");
        QTest::addColumn<int>("reads"); // of the source, both passes together
        const size_t whole = size_t(W) * H * 3, moved = 7 * 6 * 3;
        QTest::newRow("all held") << RememberedFrames::DefaultBound << 40 << 40;
        // Past the bound the frames are read again, after the one before
        // them, against which the source tells what changed.
        QTest::newRow("some held") << whole + 10 * moved << 11 << 40 + 1 + 29;
        QTest::newRow("none held") << size_t(0) << 0 << 80;
    }
    void twoPassesSeeTheSourcesFrames()
    {
        QFETCH(size_t, bound);
        QFETCH(int, kept);
        QFETCH(int, reads);
        Moving source(40), reference(40);
        RememberedFrames frames(source, bound);
        for (int pass = 1; pass <= 2; ++pass) {
            for (int i = 1; i <= 40; ++i) {
                Frame got, want;
                QString error;
                QVERIFY2(frames.read(i, got, error), qPrintable(error));
                QVERIFY(reference.read(i, want, error));
                QCOMPARE(got.changed, want.changed);
                QCOMPARE(frames.duration(i), reference.duration(i));
                QVERIFY2(std::equal(got.bgr, got.bgr + W * H * 3, want.bgr), qPrintable(QString::number(i)));
            }
            QCOMPARE(frames.kept(), kept);
        }
        QCOMPARE(source.reads, reads);
    }
    void failuresOutOfOrderReadsAndCancelling()
    {
        Moving broken(20, 6), source(20), many(200);
        RememberedFrames failing(broken), frames(source);
        Frame frame;
        QString error;
        for (int i = 1; i <= 5; ++i)
            QVERIFY(failing.read(i, frame, error));
        QVERIFY(!failing.read(6, frame, error));
        QCOMPARE(error, QStringLiteral("broken 6"));
        // Out of turn, a frame comes whole: the source has read ahead.
        QVERIFY(frames.read(1, frame, error) && frames.read(2, frame, error) && frames.read(9, frame, error));
        QCOMPARE(frame.changed, QRect(0, 0, W, H));
        QVERIFY(std::equal(frame.bgr, frame.bgr + W * H * 3, pixels(9).data()));
        {
            // Left part way, as a cancelled export leaves it, the reader ends with it.
            RememberedFrames cancelled(many);
            QVERIFY(cancelled.read(1, frame, error));
            QTest::qWait(20);
        }
        QVERIFY(many.reads < 200);
    }
};

QTEST_MAIN(TestRememberedFrames)
#include "test_remembered_frames.moc"
