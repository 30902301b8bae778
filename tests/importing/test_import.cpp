// Importing a person's own pictures: a numbered series, a sprite sheet, a still picture and an animated
// GIF come out frame for frame as the pictures they came from, pictures much larger than the stage are
// scaled by its rule, and every kind of bad input or fault ends in a message naming the file.
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include "../picker/PickerTestKit.h"
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
    QDir().mkpath(QFileInfo(path).path());
    image.save(path, "PNG");
    return path;
}

QByteArray pngBytes(const QImage &image)
{
    QByteArray png;
    QBuffer buffer(&png);
    image.save(&buffer, "PNG");
    return png;
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

// The GIF's frames are `expected`, frame by frame.
bool framesAre(const QString &path, const QList<QImage> &expected)
{
    const anigif::DecodedGif gif = readGif(path);
    bool ok = gif.frames.size() == expected.size();
    for (int i = 0; ok && i < expected.size(); ++i)
        ok = same(gif.frames[i], expected[i]);
    return ok;
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

// A PNG whose header claims 30000 x 30000 pixels over one row of them: a decompression bomb.
QByteArray bomb()
{
    const QByteArray idat = "IDAT" + qCompress(QByteArray(4 * 30000 + 1, 0)).mid(4);
    QByteArray chunk;
    QDataStream(&chunk, QIODevice::WriteOnly) << quint32(idat.size() - 4);
    chunk += idat;
    QDataStream(&chunk, QIODevice::Append) << pickerkit::crc32(idat);
    return pickerkit::hugePngHeader(30000).insert(33, chunk); // after the signature and IHDR
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
    for (int n : {10, 1, 2, 5})
        paths << savePng(dir.path(), n == 5 ? QStringLiteral("alone.png") : QStringLiteral("кот %1.png").arg(n),
                         sprite(s, n));
    const QList<Candidate> found = candidatesFor(paths);
    QCOMPARE(found.size(), 2);
    const Candidate &series = found[0];
    QCOMPARE(series.name, QStringLiteral("кот"));
    QVERIFY(series.series && series.guess == Kind::Character && series.frames == 3 && series.size == s);
    const Options character{Kind::Character, 10}, prop, background{Kind::Background}, grid{Kind::Character, 10, 3, 2};
    Written w = importInto(series, character, lib);
    QVERIFY2(w.error.isEmpty(), qPrintable(w.error));
    QCOMPARE(w.path, lib + QStringLiteral("/objects/кот.gif"));
    QVERIFY(framesAre(w.path, {sprite(s, 1), sprite(s, 2), sprite(s, 10)}));
    QCOMPARE(readGif(w.path).delaysMs, QList<int>({100, 100, 100}));
    QCOMPARE(testcommon::readGifFrames(w.path).loopCount, 0);

    // A lone picture is a prop by guess, written as a still GIF of its pixels; as a background its file is kept.
    const Candidate &alone = found[1];
    QVERIFY(!alone.series && alone.guess == Kind::Prop);
    w = importInto(alone, prop, lib);
    QCOMPARE(w.path, lib + QStringLiteral("/articles/alone.gif"));
    QVERIFY(framesAre(w.path, {sprite(s, 5)}));
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
    QList<QImage> cells;
    for (int i = 0; i < 6; ++i) {
        cells << sprite(s, i);
        QPainter(&sheet).drawImage(QPoint(i % 3 * s.width(), i / 3 * s.height()), cells.back());
    }
    w = importInto(candidatesFor({savePng(dir.path(), QStringLiteral("sheet.png"), sheet)}).front(), grid, lib);
    QVERIFY(framesAre(w.path, cells));

    // Sprites moving on a transparent canvas, each cleared away: every frame shows its own alone.
    anigif::GifDocument moving;
    moving.screen = QSize(60, 60);
    QList<QImage> alone3;
    for (int i = 0; i < 3; ++i) {
        const QRect r(i * 20, i * 20, 20, 20);
        moving.frames.append({testcommon::solid(r.size(), testcommon::frameColour(i)), r.topLeft(), 10,
                              anigif::Disposal::Background, false, {}});
        alone3 << QImage(60, 60, QImage::Format_ARGB32);
        alone3.back().fill(Qt::transparent);
        QPainter(&alone3.back()).fillRect(r, testcommon::frameColour(i));
    }
    anigif::writeGif(dir.filePath(QStringLiteral("moving.gif")), moving);
    const Frames composed = makeFrames(candidatesFor({dir.filePath(QStringLiteral("moving.gif"))}).front(), character);
    QCOMPARE(composed.images.size(), 3);
    for (int i = 0; i < 3; ++i)
        QVERIFY(same(composed.images[i], alone3[i]));

    // An animated GIF is a character by guess and kept byte for byte.
    const QString run = testcommon::writeSimpleGif(dir.path(), QStringLiteral("run.gif"), QSize(30, 20), 4, 7);
    const Candidate animated = candidatesFor({run}).front();
    QVERIFY(animated.animated && animated.frames == 4 && animated.guess == Kind::Character);
    w = importInto(animated, character, lib);
    QCOMPARE(fileBytes(w.path), fileBytes(run));

    // More colours than a GIF holds: a palette close to them, the transparent pixels exactly as they were.
    const QImage many = gradient(QSize(64, 64));
    w = importInto(candidatesFor({savePng(dir.path(), QStringLiteral("many.png"), many)}).front(), character, lib);
    const anigif::DecodedGif gif = readGif(w.path);
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
    const QString path = savePng(dir.path(), QStringLiteral("big.png"), gradient(QSize(1000, 800)));
    const Candidate big = candidatesFor({path}).front();
    QCOMPARE(big.guess, Kind::Background);
    const Written w = importInto(big, Options(), dir.path());
    QCOMPARE(readGif(w.path).frames.value(0).size(), QSize(400, 320));
}

void TestImport::badInputAndFaultsEndInAMessage()
{
    using namespace Qt::StringLiterals;
    enum Fault { NoFault, Locked, Full };
    // Pictures of 10 x 10 by name, "name:12" for 12 pixels wide; those under "lib/" are there before, not chosen.
    auto pictures = [](const QStringList &names) {
        return [names](const QString &d) {
            QStringList chosen;
            for (int i = 0; i < names.size(); ++i) {
                const QStringList parts = names[i].split(u':');
                const QString path = savePng(d, parts[0], sprite(QSize(parts.value(1, u"10"_s).toInt(), 10), i));
                if (!parts[0].startsWith(u"lib/"_s))
                    chosen << path;
            }
            return chosen;
        };
    };
    auto bytes = [](const QString &name, const QByteArray &data) {
        return [=](const QString &d) { return QStringList{testcommon::writeBytes(d, name, data)}; };
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
        {"no picture under a picture's name", bytes(u"cat.png"_s, "hello"), {}, NoFault,
         {u"«cat.png»"_s, u"не картинка"_s}},
        {"a truncated PNG", bytes(u"cut.png"_s, pngBytes(gradient({300, 300})).first(1000)), {}, NoFault,
         {u"«cut.png»"_s, u"обрезана"_s}},
        {"a 30000 x 30000 PNG, refused from its header", bytes(u"bomb.png"_s, bomb()), {}, NoFault,
         {u"«bomb.png»"_s, u"30000 × 30000"_s, u"слишком велика"_s}},
        {"a FIFO under a picture's name",
         [](const QString &d) { return QStringList{hostile::fifoLink(d, d, u"pipe.png"_s)}; }, {}, NoFault, {u"«pipe.png»"_s, u"не обычный файл"_s}},
        {"a numbered series with a gap imports in order", pictures({u"walk_03.png"_s, u"walk_01.png"_s}),
         {Kind::Character}, NoFault, {}, {}, u"objects/walk.gif"_s},
        {"a numbered series with a picture of another size",
         pictures({u"walk_1.png"_s, u"walk_2.png:12"_s, u"walk_3.png"_s}), {Kind::Character}, NoFault,
         {u"«walk_2.png»"_s, u"12 × 10"_s}},
        {"a sheet whose size does not divide by the grid", pictures({u"sheet.png"_s}), {Kind::Character, 12, 3, 1},
         NoFault, {u"«sheet.png»"_s, u"10 × 10"_s, u"нельзя разрезать"_s}},
        {"a name with Cyrillic letters, quotes and slashes, taken already",
         pictures({u"a.png"_s, u"lib/objects/Кот \"Барсик\"-шапка.gif"_s}), {Kind::Character}, NoFault, {},
         u"..Кот \"Барсик\"/шапка\n"_s, u"objects/Кот \"Барсик\"-шапка (2).gif"_s},
        {"a library folder without write rights", pictures({u"a.png"_s}), {Kind::Character}, Locked,
         {u"«a.gif»"_s, u"objects"_s}},
        {"a full disk", bytes(u"many.png"_s, pngBytes(gradient({200, 200}))), {Kind::Character}, Full,
         {u"«many.gif»"_s, controls::systemReason(EFBIG)}},
    };
    for (const Row &row : rows) {
        QTemporaryDir dir;
        const QString lib = dir.filePath(u"lib"_s), objects = lib + u"/objects"_s;
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
            if (row.fault == Locked && QDir().mkpath(objects))
                locked.add(objects);
            w = importInto(c, row.options, lib);
            message = w.error;
        }
        if (row.expected.isEmpty()) {
            QVERIFY2(message.isEmpty(), qPrintable(u"%1: %2"_s.arg(row.what, message)));
            QCOMPARE(w.path, lib + u'/' + row.written);
            QCOMPARE(readGif(w.path).frames.size(), c.frames);
            continue;
        }
        for (const QString &word : row.expected)
            QVERIFY2(message.contains(word), qPrintable(u"%1: %2"_s.arg(row.what, message)));
        // Nothing is left behind, not even a temporary file.
        QVERIFY2(w.path.isEmpty() && QDir(objects).entryList(QDir::Files | QDir::Hidden).isEmpty(), row.what);
    }
}

QTEST_MAIN(TestImport)
#include "test_import.moc"
