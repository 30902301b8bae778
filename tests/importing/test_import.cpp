// Importing a person's own pictures: a numbered series, a sprite sheet, a still picture and an animated
// GIF come out frame for frame as the pictures they came from, pictures much larger than the stage are
// scaled by its rule, and every kind of bad input or fault ends in a message naming the file.
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include <zlib.h>

#include "GifFrames.h"
#include "HostileFiles.h"
#include "TestCommon.h"
#include "anigif/GifDecoder.h"
#include "controls/SystemError.h"
#include "importing/Import.h"

using namespace importing;

namespace {

// A transparent frame with a small square of frame i's colour at a place of its own.
QImage sprite(QSize size, int i)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter(&image).fillRect(QRect((i * 3) % (size.width() - 4), 2 + i % 5, 4, 4), testcommon::frameColour(i));
    return image;
}

QString savePng(const QString &dir, const QString &name, const QImage &image)
{
    const QString path = QDir(dir).filePath(name);
    image.save(path, "PNG");
    return path;
}

anigif::DecodedGif readGif(const QString &path)
{
    QFile file(path);
    anigif::DecodedGif gif;
    if (file.open(QIODevice::ReadOnly))
        anigif::decodeGif(file.readAll(), &gif);
    for (QImage &frame : gif.frames)
        frame = frame.convertToFormat(QImage::Format_ARGB32);
    return gif;
}

bool same(const QImage &a, const QImage &b)
{
    return a.convertToFormat(QImage::Format_ARGB32) == b.convertToFormat(QImage::Format_ARGB32);
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A picture of more colours than a GIF holds, transparent on its left.
QImage gradient(QSize size)
{
    QImage image(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, x < 8 ? 0u : qRgb(x * 4 % 256, y * 4 % 256, (x + y) * 2 % 256));
    return image;
}

// A PNG whose header claims `size` over a few bytes of pixels: a decompression bomb.
QByteArray pngClaiming(QSize size)
{
    auto chunk = [](const QByteArray &type, const QByteArray &data) {
        QByteArray out;
        const quint32 length = quint32(data.size());
        out.append(char(length >> 24)).append(char(length >> 16)).append(char(length >> 8)).append(char(length));
        const QByteArray body = type + data;
        const uLong crc = crc32(0, reinterpret_cast<const Bytef *>(body.constData()), uInt(body.size()));
        out.append(body).append(char(crc >> 24)).append(char(crc >> 16)).append(char(crc >> 8)).append(char(crc));
        return out;
    };
    QByteArray header;
    for (int side : {size.width(), size.height()})
        header.append(char(side >> 24)).append(char(side >> 16)).append(char(side >> 8)).append(char(side));
    header.append("\x08\x06\x00\x00\x00", 5);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) +
           chunk("IDAT", qCompress(QByteArray(4 * size.width() + 1, 0)).mid(4)) + chunk("IEND", {});
}

} // namespace

class TestImport : public QObject {
    Q_OBJECT
private slots:
    void conversionsKeepEveryFrame();
    void largePicturesAreScaledToTheStage();
    void badInputAndFaultsEndInAMessage();
};

void TestImport::conversionsKeepEveryFrame()
{
    QTemporaryDir dir;
    const QString lib = dir.filePath(QStringLiteral("lib"));
    const QSize s(24, 20);
    // Chosen out of order and numbered without padding: 1, 2, 10 play in that order, not in the text's.
    QStringList paths;
    for (int n : {10, 1, 2})
        paths << savePng(dir.path(), QStringLiteral("кот %1.png").arg(n), sprite(s, n));
    paths << savePng(dir.path(), QStringLiteral("alone.png"), sprite(s, 5));
    const QList<Candidate> found = candidatesFor(paths);
    QCOMPARE(found.size(), 2);
    const Candidate &series = found[0];
    QCOMPARE(series.name, QStringLiteral("кот"));
    QVERIFY(series.series && series.guess == Kind::Character && series.frames == 3 && series.size == s);
    Options character;
    character.kind = Kind::Character;
    character.rate = 10;
    Written w = importInto(series, character, lib);
    QVERIFY2(w.error.isEmpty(), qPrintable(w.error));
    QCOMPARE(w.path, lib + QStringLiteral("/objects/кот.gif"));
    anigif::DecodedGif gif = readGif(w.path);
    QCOMPARE(gif.frames.size(), 3);
    const int order[] = {1, 2, 10};
    for (int i = 0; i < 3; ++i) {
        QVERIFY2(same(gif.frames[i], sprite(s, order[i])), qPrintable(QString::number(i)));
        QCOMPARE(gif.delaysMs[i], 100);
    }
    QCOMPARE(testcommon::readGifFrames(w.path).loopCount, 0);

    // A lone picture is a prop by guess, written as a still GIF of its pixels; as a background its file is kept.
    const Candidate &alone = found[1];
    QVERIFY(!alone.series && alone.guess == Kind::Prop);
    Options prop;
    w = importInto(alone, prop, lib);
    QCOMPARE(w.path, lib + QStringLiteral("/articles/alone.gif"));
    gif = readGif(w.path);
    QVERIFY(gif.frames.size() == 1 && same(gif.frames[0], sprite(s, 5)));
    Options background;
    background.kind = Kind::Background;
    w = importInto(alone, background, lib);
    QCOMPARE(w.path, lib + QStringLiteral("/fones/alone.png"));
    QCOMPARE(fileBytes(w.path), fileBytes(paths.back()));

    // WebP, which the library does not list, becomes a PNG of the same pixels.
    QImageWriter webp(dir.filePath(QStringLiteral("leaf.webp")), "webp");
    webp.setQuality(100);
    QVERIFY2(webp.write(sprite(s, 3)), "Qt's image format plugins are needed for WebP");
    w = importInto(candidatesFor({webp.fileName()}).front(), background, lib);
    QCOMPARE(w.path, lib + QStringLiteral("/fones/leaf.png"));
    QVERIFY(same(QImage(w.path), sprite(s, 3)));

    // A sheet of 3 x 2 is cut row by row.
    QImage sheet(s.width() * 3, s.height() * 2, QImage::Format_ARGB32);
    sheet.fill(Qt::transparent);
    QPainter painter(&sheet);
    for (int i = 0; i < 6; ++i)
        painter.drawImage(QPoint(i % 3 * s.width(), i / 3 * s.height()), sprite(s, i));
    painter.end();
    const Candidate cut = candidatesFor({savePng(dir.path(), QStringLiteral("sheet.png"), sheet)}).front();
    Options grid = character;
    grid.columns = 3;
    grid.rows = 2;
    w = importInto(cut, grid, lib);
    gif = readGif(w.path);
    QCOMPARE(gif.frames.size(), 6);
    for (int i = 0; i < 6; ++i)
        QVERIFY2(same(gif.frames[i], sprite(s, i)), qPrintable(QString::number(i)));

    // An animated GIF is a character by guess and kept byte for byte.
    const QString run = testcommon::writeSimpleGif(dir.path(), QStringLiteral("run.gif"), QSize(30, 20), 4, 7);
    const Candidate animated = candidatesFor({run}).front();
    QVERIFY(animated.animated && animated.frames == 4 && animated.guess == Kind::Character);
    w = importInto(animated, character, lib);
    QCOMPARE(fileBytes(w.path), fileBytes(run));

    // More colours than a GIF holds: a palette close to them, the transparent pixels exactly as they were.
    const QImage many = gradient(QSize(64, 64));
    w = importInto(candidatesFor({savePng(dir.path(), QStringLiteral("many.png"), many)}).front(), character, lib);
    gif = readGif(w.path);
    QCOMPARE(gif.frames.size(), 1);
    qint64 error = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const QRgb a = many.pixel(x, y), b = gif.frames[0].pixel(x, y);
            QCOMPARE(qAlpha(b), qAlpha(a));
            error += qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b)) + qAbs(qBlue(a) - qBlue(b));
        }
    QVERIFY2(error / (64 * 64 * 3) < 6, qPrintable(QString::number(error / (64 * 64 * 3))));
}

void TestImport::largePicturesAreScaledToTheStage()
{
    const struct {
        QSize size;
        Kind kind;
        bool keep;
        QSize expected;
    } rows[] = {
        {{4000, 3000}, Kind::Prop, false, {400, 300}},          // a phone photo fits within the stage
        {{3000, 4000}, Kind::Character, false, {263, 350}},
        {{4000, 3000}, Kind::Background, false, {467, 350}},    // a background gets the stage's height
        {{4000, 3000}, Kind::Prop, true, {4000, 3000}},         // unless the person keeps its size
        {{801, 100}, Kind::Prop, false, {400, 50}},
        {{800, 700}, Kind::Prop, false, {800, 700}},            // twice the stage is not much larger yet
        {{5000, 700}, Kind::Background, false, {5000, 700}},    // a panorama as high as twice the stage stays
    };
    for (const auto &row : rows) {
        QCOMPARE(importedSize(row.size, row.kind, row.keep), row.expected);
        QCOMPARE(isScaledDown(row.size, row.kind), row.keep || row.expected != row.size);
    }
    // Through the import: wider than the stage is a background by guess; as a prop it is scaled.
    QTemporaryDir dir;
    const Candidate big = candidatesFor({savePng(dir.path(), QStringLiteral("big.png"), gradient(QSize(1000, 800)))}).front();
    QCOMPARE(big.guess, Kind::Background);
    const Written w = importInto(big, Options(), dir.path());
    QCOMPARE(readGif(w.path).frames.value(0).size(), QSize(400, 320));
}

void TestImport::badInputAndFaultsEndInAMessage()
{
    enum Fault { NoFault, Locked, Full };
    const QSize s(10, 10);
    auto pictures = [s](const QString &dir, const QStringList &names, QSize odd = {}, const QString &oddName = {}) {
        QStringList paths;
        for (const QString &name : names)
            paths << savePng(dir, name, sprite(name == oddName ? odd : s, int(paths.size())));
        return paths;
    };
    const struct Row {
        const char *what;
        std::function<QStringList(const QString &dir)> files;
        Options options;
        Fault fault;
        QStringList expected;     // words of the message; empty when it imports
        QString name = {};        // the name the person gave
        QString written = {};     // the file made when it imports
    } rows[] = {
        {"no picture under a picture's name",
         [](const QString &d) { return QStringList{testcommon::writeBytes(d, QStringLiteral("cat.png"), "hello")}; },
         {}, NoFault, {QStringLiteral("«cat.png»"), QStringLiteral("не картинка")}},
        {"a truncated PNG",
         [](const QString &d) {
             const QByteArray whole = fileBytes(savePng(d, QStringLiteral("whole.png"), gradient(QSize(64, 64))));
             return QStringList{testcommon::writeBytes(d, QStringLiteral("cut.png"), whole.left(whole.size() / 2))};
         },
         {}, NoFault, {QStringLiteral("«cut.png»"), QStringLiteral("обрезана")}},
        {"a 30000 x 30000 PNG, refused from its header",
         [](const QString &d) {
             return QStringList{testcommon::writeBytes(d, QStringLiteral("bomb.png"), pngClaiming(QSize(30000, 30000)))};
         },
         {}, NoFault, {QStringLiteral("«bomb.png»"), QStringLiteral("30000 × 30000"), QStringLiteral("слишком велика")}},
        {"a FIFO under a picture's name",
         [](const QString &d) { return QStringList{hostile::fifoLink(d, d, QStringLiteral("pipe.png"))}; }, {},
         NoFault, {QStringLiteral("«pipe.png»"), QStringLiteral("не обычный файл")}},
        {"a numbered series with a gap imports in order",
         [&](const QString &d) { return pictures(d, {QStringLiteral("walk_03.png"), QStringLiteral("walk_01.png")}); },
         {Kind::Character}, NoFault, {}, {}, QStringLiteral("objects/walk.gif")},
        {"a numbered series with a picture of another size",
         [&](const QString &d) {
             return pictures(d, {QStringLiteral("walk_1.png"), QStringLiteral("walk_2.png"), QStringLiteral("walk_3.png")},
                             QSize(12, 10), QStringLiteral("walk_2.png"));
         },
         {Kind::Character}, NoFault, {QStringLiteral("«walk_2.png»"), QStringLiteral("12 × 10")}},
        {"a sheet whose size does not divide by the grid",
         [&](const QString &d) { return pictures(d, {QStringLiteral("sheet.png")}); },
         {Kind::Character, 12, 3, 1}, NoFault,
         {QStringLiteral("«sheet.png»"), QStringLiteral("10 × 10"), QStringLiteral("нельзя разрезать")}},
        {"a name with Cyrillic letters, quotes and slashes, taken already",
         [&](const QString &d) {
             QDir().mkpath(d + QStringLiteral("/lib/objects"));
             testcommon::writeBytes(d + QStringLiteral("/lib/objects"), QStringLiteral("Кот \"Барсик\"-шапка.gif"), "x");
             return pictures(d, {QStringLiteral("a.png")});
         },
         {Kind::Character}, NoFault, {}, QStringLiteral("..Кот \"Барсик\"/шапка\n"),
         QStringLiteral("objects/Кот \"Барсик\"-шапка (2).gif")},
        {"a library folder without write rights",
         [&](const QString &d) {
             QDir().mkpath(d + QStringLiteral("/lib/objects"));
             return pictures(d, {QStringLiteral("a.png")});
         },
         {Kind::Character}, Locked, {QStringLiteral("«a.gif»"), QStringLiteral("objects")}},
        {"a full disk",
         [](const QString &d) { return QStringList{savePng(d, QStringLiteral("many.png"), gradient(QSize(200, 200)))}; },
         {Kind::Character}, Full, {QStringLiteral("«many.gif»"), controls::systemReason(EFBIG)}},
    };
    for (const Row &row : rows) {
        QTemporaryDir dir;
        const QString lib = dir.filePath(QStringLiteral("lib"));
        const QList<Candidate> found = candidatesFor(row.files(dir.path()));
        QVERIFY2(found.size() == 1, row.what);
        Candidate c = found.front();
        if (!row.name.isEmpty())
            c.name = row.name;
        QString message = c.problem;
        Written w;
        if (message.isEmpty()) {
            testcommon::Unwritable locked;
            testcommon::FileSizeLimit full(row.fault == Full ? 4096 : RLIM_INFINITY);
            if (row.fault == Locked)
                locked.add(lib + QStringLiteral("/objects"));
            w = importInto(c, row.options, lib);
            message = w.error;
        }
        if (row.expected.isEmpty()) {
            QVERIFY2(message.isEmpty(), qPrintable(QStringLiteral("%1: %2").arg(row.what, message)));
            QCOMPARE(w.path, lib + QLatin1Char('/') + row.written);
            QCOMPARE(readGif(w.path).frames.size(), c.frames);
            continue;
        }
        for (const QString &word : row.expected)
            QVERIFY2(message.contains(word), qPrintable(QStringLiteral("%1: %2").arg(row.what, message)));
        // Nothing is left behind, not even a temporary file.
        QVERIFY2(w.path.isEmpty(), row.what);
        QVERIFY2(QDir(lib + QStringLiteral("/objects")).entryList(QDir::Files | QDir::Hidden).isEmpty(), row.what);
    }
}

QTEST_MAIN(TestImport)
#include "test_import.moc"
