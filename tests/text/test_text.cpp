// Captions and title cards: what the renderer draws (against pictures kept in
// golden/, and on hostile texts), their kept form, the object list's first
// words, and the windows that edit them.

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTest>

#include "TestCommon.h"
#include "text/Caption.h"
#include "text/Fields.h"
#include "text/frmCaption.h"
#include "text/frmTitle.h"

using namespace text;
using testcommon::whenShown;

namespace {

Caption sample(Shape shape, Tail tail)
{
    Caption c;
    c.lettering = {QStringLiteral("Привет!\nКак дела?"), QStringLiteral("Liberation Sans"), 24, Qt::darkBlue,
                   Qt::yellow, 2};
    c.shape = shape;
    c.tail = tail;
    c.fill = QColor(255, 250, 220);
    c.border = Qt::darkRed;
    return c;
}

// The share of pixels that differ by more than 48 in some channel; 1 when the sizes differ.
double differing(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return 1;
    const QImage x = a.convertToFormat(QImage::Format_ARGB32), y = b.convertToFormat(QImage::Format_ARGB32);
    qint64 off = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            off += std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                             std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))}) > 48;
        }
    return double(off) / (x.width() * x.height());
}

int opaque(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 128;
    return count;
}

struct Recorder {
    QList<controls::Message> seen;
    controls::MessageFn fn() { return [this](QWidget *, const controls::Message &m) { return seen << m, controls::MsgResult::Ok; }; }
};

} // namespace

class TextTest : public QObject {
    Q_OBJECT
private slots:
    void shapesMatchTheirGoldenPictures_data();
    void shapesMatchTheirGoldenPictures();
    void hostileTextsDrawWithinBounds_data();
    void hostileTextsDrawWithinBounds();
    void keptFormsRoundTripAndRefuseDamage();
    void firstWordsEndAtAWordNearTwentyCharacters();
    void captionWindowRefusesAnEmptyTextAndAcceptsOnCtrlEnter();
    void captionWindowGivesBackTheEditedValuesOrLeavesThemOnEscape();
    void titleWindowGivesBackItsGradient();
};

void TextTest::shapesMatchTheirGoldenPictures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QImage>("picture");
    TitleCard card;
    card.lettering = sample(Shape::None, Tail::BottomLeft).lettering;
    card.lettering.size = 40;
    card.bottom = QColor(200, 90, 30);
    QTest::newRow("letters alone") << "none" << render(sample(Shape::None, Tail::BottomLeft));
    QTest::newRow("box") << "box" << render(sample(Shape::Box, Tail::BottomLeft));
    QTest::newRow("speech, tail bottom right") << "speech" << render(sample(Shape::Speech, Tail::BottomRight));
    QTest::newRow("thought, trail top left") << "thought" << render(sample(Shape::Thought, Tail::TopLeft));
    QTest::newRow("title card, gradient") << "title" << render(card, QSize(396, 346));
}

void TextTest::shapesMatchTheirGoldenPictures()
{
    QFETCH(QString, name);
    QFETCH(QImage, picture);
    const QString path = QFINDTESTDATA("golden/" + name + ".png");
    if (qEnvironmentVariableIsSet("VELLUMO_WRITE_GOLDENS"))
        QVERIFY(picture.save(QFileInfo(QFINDTESTDATA("golden")).filePath() + "/" + name + ".png"));
    const QImage golden(path);
    QVERIFY2(!golden.isNull(), qPrintable(path));
    QVERIFY2(differing(picture, golden) <= 0.02, qPrintable(name));
    if (name == "speech") // the tail's tip is the picture's bottom right corner
        QVERIFY(qAlpha(picture.pixel(picture.width() - 3, picture.height() - 3)) > 0);
}

void TextTest::hostileTextsDrawWithinBounds_data()
{
    QTest::addColumn<QString>("words");
    QTest::addColumn<int>("size");
    QTest::addColumn<Shape>("shape");
    QTest::addColumn<int>("widest"); // the picture's width may not pass this
    QString many;
    for (int i = 0; i < 625; ++i)
        many += QStringLiteral("слово ба");
    QTest::newRow("empty: the shape alone") << QString() << 28 << Shape::Speech << 200;
    QTest::newRow("5,000 characters") << many << 28 << Shape::Thought << 4000;
    QTest::newRow("a word longer than a line wraps anywhere") << QString(300, QChar(0x0428)) << 28 << Shape::None << 420;
    QTest::newRow("right to left") << QStringLiteral("שלום עולם مرحبا بالعالم") << 28 << Shape::Box << 500;
    QTest::newRow("combining marks stacked") << QStringLiteral("e\u0301\u0301\u0301\u0301 a\u0308\u0323") << 28
                                             << Shape::Speech << 400;
    QTest::newRow("emoji") << QStringLiteral("😀🎉👩‍👩‍👧 ok") << 28 << Shape::Thought << 500;
    QTest::newRow("size 1") << QStringLiteral("крошка") << 1 << Shape::Speech << 100;
    QTest::newRow("size 400") << QStringLiteral("ОГО") << 400 << Shape::Box << 4000;
    QTest::newRow("far larger than the stage") << many << 400 << Shape::Speech << 4000;
    QTest::newRow("size out of range") << QStringLiteral("ой") << -5 << Shape::Box << 100;
}

void TextTest::hostileTextsDrawWithinBounds()
{
    QFETCH(QString, words);
    QFETCH(int, size);
    QFETCH(Shape, shape);
    QFETCH(int, widest);
    Caption c = sample(shape, Tail::TopRight);
    c.lettering.text = words;
    c.lettering.size = size;
    c.lettering.outlineWidth = 20;
    QElapsedTimer clock;
    clock.start();
    const QImage picture = render(c);
    QVERIFY2(clock.elapsed() < 20000, "drawing took too long");
    QVERIFY(!picture.isNull());
    QVERIFY2(picture.width() <= widest && picture.height() <= 4000, qPrintable(QString::number(picture.width())));
    QVERIFY(opaque(picture) > 0);
    TitleCard card;
    card.lettering = c.lettering;
    QCOMPARE(render(card, QSize(396, 346)).size(), QSize(396, 346));
}

void TextTest::keptFormsRoundTripAndRefuseDamage()
{
    Caption c = sample(Shape::Thought, Tail::TopRight);
    c.lettering.colour = QColor::fromRgba64(1, 2, 65535, 30000);
    c.lettering.text = QStringLiteral("Строка\nשלום 😀");
    QCOMPARE(decodeCaption(encode(c)), std::optional(c));
    TitleCard card;
    card.lettering = c.lettering;
    card.bottom = Qt::magenta;
    QCOMPARE(decodeTitleCard(encode(card)), std::optional(card));

    // Sizes out of range come back clamped, not refused.
    c.lettering.size = 9000;
    c.lettering.outlineWidth = -3;
    const auto clamped = decodeCaption(encode(c));
    QVERIFY(clamped && clamped->lettering.size == 400 && clamped->lettering.outlineWidth == 0);

    QByteArray unknownShape = encode(sample(Shape::Box, Tail::TopLeft));
    const qsizetype shapeAt = unknownShape.size() - 2 * 8 - 2;
    QCOMPARE(quint8(unknownShape[shapeAt]), quint8(Shape::Box));
    unknownShape[shapeAt] = 9;
    QByteArray newer = encode(c);
    newer[4] = 2;
    const QByteArray whole = encode(c);
    for (const QByteArray &bad : {QByteArray(), QByteArray("garbage, not a caption"), whole.left(whole.size() - 1),
                                  whole.left(12), encode(card), unknownShape, newer, QByteArray(64, '\xff')})
        QVERIFY(!decodeCaption(bad));
    QVERIFY(!decodeTitleCard(encode(c)));
}

void TextTest::firstWordsEndAtAWordNearTwentyCharacters()
{
    const QString cut = QString(QChar(0x2026));
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("Привет!"), QStringLiteral("Привет!")},
        {QStringLiteral("Как\nдела,   друг?"), QStringLiteral("Как дела, друг?")},
        {QStringLiteral("Однажды в студёную зимнюю пору"), QStringLiteral("Однажды в студёную") + cut},
        {QString(30, QChar(0x0416)), QString(20, QChar(0x0416)) + cut},
        {QString(19, 'a') + QStringLiteral("e\u0301bc"), QString(19, 'a') + cut}, // never between a letter and its accent
        {QString(), QString()},
    };
    for (const auto &[text, entry] : cases)
        QCOMPARE(firstWords(text), entry);
}

void TextTest::captionWindowRefusesAnEmptyTextAndAcceptsOnCtrlEnter()
{
    Recorder messages;
    Caption c = sample(Shape::Speech, Tail::BottomLeft);
    c.lettering.text = QStringLiteral("  \n ");
    frmCaption window(messages.fn(), c);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    window.ok->click();
    QCOMPARE(messages.seen.size(), 1);
    QCOMPARE(messages.seen[0].text, QStringLiteral("Введите текст надписи."));
    QVERIFY(window.isVisible() && window.result() != QDialog::Accepted);

    window.letters->text->setFocus();
    QTest::keyClicks(window.letters->text, QStringLiteral("Hooray"));
    QTest::keyClick(window.letters->text, Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(window.result(), int(QDialog::Accepted));
    QCOMPARE(window.caption().lettering.text.trimmed(), QStringLiteral("Hooray"));
}

void TextTest::captionWindowGivesBackTheEditedValuesOrLeavesThemOnEscape()
{
    Recorder messages;
    const Caption start = sample(Shape::Speech, Tail::BottomLeft);
    Caption c = start;
    QImage before, after;
    whenShown<frmCaption>([&](frmCaption *w) {
        QVERIFY(w->tail->isEnabled());
        before = w->preview->pixmap().toImage();
        w->letters->text->setPlainText(QStringLiteral("Новые\nслова"));
        w->letters->font->setCurrentIndex(w->letters->font->findText(QStringLiteral("Comfortaa")));
        w->letters->size->setValue(40);
        w->letters->colour->setColour(Qt::red);
        w->letters->outlineWidth->setValue(3);
        w->shape->setCurrentIndex(w->shape->findData(int(Shape::Box)));
        w->fill->setColour(Qt::green);
        QCoreApplication::processEvents();
        after = w->preview->pixmap().toImage();
        QVERIFY(!w->tail->isEnabled());
        w->ok->click();
    });
    QVERIFY(editCaption(nullptr, messages.fn(), c));
    QVERIFY(before != after);
    Caption want = start;
    want.lettering.text = QStringLiteral("Новые\nслова");
    want.lettering.family = QStringLiteral("Comfortaa");
    want.lettering.size = 40;
    want.lettering.colour = Qt::red;
    want.lettering.outlineWidth = 3;
    want.shape = Shape::Box;
    want.fill = Qt::green;
    QCOMPARE(c, want);

    whenShown<frmCaption>([](frmCaption *w) {
        w->letters->text->setPlainText(QStringLiteral("не то"));
        QTest::keyClick(w->letters->text, Qt::Key_Escape);
    });
    QVERIFY(!editCaption(nullptr, messages.fn(), c));
    QCOMPARE(c, want);
    QVERIFY(messages.seen.isEmpty());
}

void TextTest::titleWindowGivesBackItsGradient()
{
    Recorder messages;
    TitleCard card;
    card.lettering.text = QStringLiteral("Конец");
    whenShown<frmTitle>([](frmTitle *w) {
        // The preview is the whole stage shrunk to fit, the stage's shape kept.
        QCOMPARE(w->preview->pixmap().size(), QSize(396, 346).scaled(w->preview->size(), Qt::KeepAspectRatio));
        w->bottom->setColour(Qt::black);
        w->ok->click();
    });
    QVERIFY(editTitleCard(nullptr, messages.fn(), card, QSize(396, 346)));
    QCOMPARE(card.bottom, QColor(Qt::black));
    const QImage stage = render(card, QSize(396, 346));
    QVERIFY(std::abs(stage.pixelColor(2, 0).blue() - card.top.blue()) <= 2);
    QVERIFY(stage.pixelColor(2, 344).value() < 10);
}

QTEST_MAIN(TextTest)
#include "test_text.moc"
