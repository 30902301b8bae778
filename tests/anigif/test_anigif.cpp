#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>

#include "TestCommon.h"
#include "anigif/GifWriter.h"

using namespace anigif;

class TestAniGif : public QObject {
    Q_OBJECT
private slots:
    void writtenGifReadsBackInQt()
    {
        QTemporaryDir dir;
        const QString path = testcommon::writeSimpleGif(dir.path(), "a.gif", QSize(8, 6), 3);
        QImageReader reader(path);
        QCOMPARE(reader.imageCount(), 3);
        const QImage first = reader.read();
        QCOMPARE(first.size(), QSize(8, 6));
        QCOMPARE(first.pixel(3, 3), testcommon::frameColour(0).rgb());
    }
};

QTEST_MAIN(TestAniGif)
#include "test_anigif.moc"
