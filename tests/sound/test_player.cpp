// The player's clock against a real sound output (skipped where the machine has none): it moves on at the
// output's rate, never backwards, goes on through the loop of a short mix, and a stop ends it.

#include <QElapsedTimer>
#include <QTest>

#include "sound/Player.h"

class TestPlayer : public QObject {
    Q_OBJECT
private slots:
    void clockFollowsTheOutput()
    {
        if (!sound::Player::available())
            QSKIP("no sound output on this machine");
        auto pcm = std::make_shared<sound::Pcm>();
        pcm->samples.assign(sound::Rate / 2 * sound::Channels, 0);  // half a second, played round and round
        sound::Player player;
        player.play(pcm, sound::Rate / 4);
        QVERIFY(player.playing());
        QElapsedTimer wall;
        wall.start();
        qint64 last = 0;
        qint64 firstHeardAt = -1;
        while (wall.elapsed() < 2500) {
            QTest::qWait(5);
            const qint64 h = player.heard();
            QVERIFY2(h >= last, qPrintable(QStringLiteral("went back from %1 to %2").arg(last).arg(h)));
            if (h > 0 && firstHeardAt < 0)
                firstHeardAt = wall.elapsed();
            last = h;
        }
        QVERIFY(firstHeardAt >= 0);
        // Once sound is heard it runs at the output's rate, five loops past the mix's end.
        const double seconds = (wall.elapsed() - firstHeardAt) / 1000.0;
        QVERIFY2(std::abs(last / double(sound::Rate) - seconds) < 0.05,
                 qPrintable(QStringLiteral("%1 frames in %2 s").arg(last).arg(seconds)));
        player.stop();
        QVERIFY(!player.playing());
        QCOMPARE(player.heard(), 0);
    }
};

QTEST_MAIN(TestPlayer)
#include "test_player.moc"
