// Frames read once for a writer's two passes: both passes see every frame
// and what changed exactly as the source gives them, whatever part of them
// memory holds, and the source is read again only past the bound.

#include <QtTest>

#include <cstring>

#include "export/RememberedFrames.h"

using namespace exporting;

namespace {

constexpr int W = 40, H = 30;

// Frames of a block moving over a gradient; what changed is found against
// the frame read before, as the real sources do.
class Moving : public FrameSource {
public:
    explicit Moving(int count, int failAt = 0) : m_count(count), m_failAt(failAt) {}
    int count() const override { return m_count; }
    int duration(int i) const override { return 1 + i % 3; }
    bool read(int i, Frame &frame, QString &error) override
    {
        ++reads;
        if (i == m_failAt) {
            error = QStringLiteral("broken %1").arg(i);
            return false;
        }
        const std::vector<uchar> before = m_rows;
        m_rows = pixels(i);
        frame.bgr = m_rows.data();
        frame.stride = W * 3;
        frame.size = QSize(W, H);
        frame.changed = m_last == i - 1 && i > 1 ? differingRect(m_rows.data(), before.data(), W * 3, frame.size)
                                                 : QRect(0, 0, W, H);
        m_last = i;
        return true;
    }
    static std::vector<uchar> pixels(int i)
    {
        std::vector<uchar> rows(size_t(W) * H * 3);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                uchar *p = rows.data() + (y * W + x) * 3;
                const bool block = x >= i % 30 && x < i % 30 + 6 && y >= 10 && y < 16;
                p[0] = uchar(block ? 200 : x * 6);
                p[1] = uchar(block ? 30 : y * 8);
                p[2] = uchar(block ? i : 90);
            }
        return rows;
    }
    int reads = 0;

private:
    int m_count, m_failAt;
    std::vector<uchar> m_rows;
    int m_last = 0;
};

} // namespace

class TestRememberedFrames : public QObject {
    Q_OBJECT
private slots:
    void twoPassesSeeTheSourcesFrames_data();
    void twoPassesSeeTheSourcesFrames();
    void failuresAndOutOfOrderReads();
};

void TestRememberedFrames::twoPassesSeeTheSourcesFrames_data()
{
    QTest::addColumn<size_t>("bound");
    QTest::addColumn<int>("kept");
    QTest::addColumn<int>("reads"); // of the source, both passes together
    const size_t whole = size_t(W) * H * 3, block = 7 * 6 * 3; // frame 1; a moved block's rectangle
    QTest::newRow("all held") << RememberedFrames::DefaultBound << 40 << 40;
    // Past the bound: frames from the first not held are read again, after
    // the one before them, against which the source tells what changed.
    QTest::newRow("some held") << whole + 10 * block << 11 << 40 + 1 + 29;
    QTest::newRow("none held") << size_t(0) << 0 << 80;
}

void TestRememberedFrames::twoPassesSeeTheSourcesFrames()
{
    QFETCH(size_t, bound);
    QFETCH(int, kept);
    QFETCH(int, reads);
    Moving source(40), reference(40);
    RememberedFrames frames(source, bound);
    QCOMPARE(frames.count(), 40);
    for (int pass = 1; pass <= 2; ++pass) {
        for (int i = 1; i <= 40; ++i) {
            Frame got, want;
            QString error;
            QVERIFY2(frames.read(i, got, error), qPrintable(error));
            QVERIFY(reference.read(i, want, error));
            QCOMPARE(got.size, want.size);
            QCOMPARE(got.changed, want.changed);
            QCOMPARE(frames.duration(i), reference.duration(i));
            for (int y = 0; y < H; ++y)
                QVERIFY2(std::memcmp(got.bgr + y * got.stride, want.bgr + y * want.stride, W * 3) == 0,
                         qPrintable(QStringLiteral("pass %1, frame %2, row %3").arg(pass).arg(i).arg(y)));
        }
        if (pass == 1)
            QCOMPARE(frames.kept(), kept);
    }
    QCOMPARE(source.reads, reads);
}

void TestRememberedFrames::failuresAndOutOfOrderReads()
{
    // The source's own message, at the frame it failed, after the frames before it.
    Moving broken(20, 6);
    RememberedFrames failing(broken);
    Frame frame;
    QString error;
    for (int i = 1; i <= 5; ++i)
        QVERIFY(failing.read(i, frame, error));
    QVERIFY(!failing.read(6, frame, error));
    QCOMPARE(error, QStringLiteral("broken 6"));

    // A frame asked out of turn comes whole from the source.
    Moving source(20);
    RememberedFrames frames(source);
    QVERIFY(frames.read(1, frame, error));
    QVERIFY(frames.read(2, frame, error));
    QVERIFY(frames.read(9, frame, error));
    QCOMPARE(frame.changed, QRect(0, 0, W, H));
    QVERIFY(std::memcmp(frame.bgr, Moving::pixels(9).data(), size_t(W) * H * 3) == 0);
    QVERIFY(!frames.read(21, frame, error));

    // Left after a few frames, as a cancelled export leaves it: the reader,
    // waiting for room ahead, ends with it.
    Moving many(200);
    {
        RememberedFrames cancelled(many);
        for (int i = 1; i <= 3; ++i)
            QVERIFY(cancelled.read(i, frame, error));
        QTest::qWait(20);
    }
    QVERIFY(many.reads < 200);
}

QTEST_MAIN(TestRememberedFrames)
#include "test_remembered_frames.moc"
