// The program's own pictures: the "cartoons start here" animation shown on
// the empty stage, the window icon in two sizes, and the desktop's icons of
// the program and of its project files.

#include "characters.h"
#include "paint.h"

#include <QDir>

#include <algorithm>
#include <cmath>

namespace assetgen {

namespace {

constexpr double kPi = 3.14159265358979323846;

const QColor kBoard(74, 66, 98);
// The folded corner of a project file's sheet.
const QColor kFold(214, 218, 230);
// Lines of writing on that sheet.
const QColor kWriting = kFold.darker(115);

// Diagonal black-and-white stripes of a clapper bar, clipped to the bar.
void stripedBar(QPainter &p, const QRectF &bar, double stripe, double outline)
{
    QPainterPath outlinePath;
    outlinePath.addRoundedRect(bar, 1.5, 1.5);
    shape(p, outlinePath, pal::white, 0);
    p.save();
    p.setClipPath(outlinePath);
    p.setPen(Qt::NoPen);
    p.setBrush(pal::ink);
    for (double x = bar.left() - bar.height(); x < bar.right() + bar.height(); x += 2 * stripe) {
        QPainterPath s;
        s.moveTo(x, bar.bottom());
        s.lineTo(x + stripe, bar.bottom());
        s.lineTo(x + stripe + bar.height(), bar.top());
        s.lineTo(x + bar.height(), bar.top());
        s.closeSubpath();
        p.drawPath(s);
    }
    p.restore();
    shape(p, outlinePath, Qt::transparent, outline);
}

// A clapperboard whose top stick is opened by openDeg around its left hinge.
// box is the whole board without the stick; the stick sits on top of it.
void clapperboard(QPainter &p, const QRectF &box, double openDeg, double outline, bool chalk)
{
    const double barH = box.height() * 0.24;
    const QRectF fixedBar(box.left(), box.top(), box.width(), barH);
    const QRectF body(box.left(), box.top() + barH, box.width(), box.height() - barH);
    roundRect(p, body, 3, kBoard, outline);
    if (chalk) {
        // Chalk lines where a scene name would be written, and a star.
        inkPen(p, outline * 0.8, QColor(235, 235, 245));
        const double lx = body.left() + body.width() * 0.12;
        for (int i = 0; i < 3; ++i) {
            const double y = body.top() + body.height() * (0.3 + i * 0.22);
            p.drawLine(QPointF(lx, y), QPointF(lx + body.width() * (i == 1 ? 0.3 : 0.42), y));
        }
        shape(p, starPath(QPointF(body.left() + body.width() * 0.76, body.top() + body.height() * 0.52),
                          body.height() * 0.3, body.height() * 0.13),
              pal::yellow, outline * 0.7);
    } else {
        shape(p, starPath(body.center() + QPointF(0, body.height() * 0.04), body.height() * 0.42,
                          body.height() * 0.19),
              pal::yellow, outline * 0.6);
    }
    stripedBar(p, fixedBar, box.width() / 9, outline);
    p.save();
    p.translate(box.left(), box.top());
    p.rotate(-openDeg);
    stripedBar(p, QRectF(0, -barH, box.width(), barH), box.width() / 9, outline);
    p.restore();
    // The hinge.
    ellipse(p, QPointF(box.left() + barH * 0.4, box.top()), barH * 0.32, barH * 0.32, pal::red, outline * 0.6);
}

QImage stageFrame(int i)
{
    QImage img = blankImage(120, 120);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    // A soft round badge so the animation reads on any background.
    ellipse(p, QPointF(60, 60), 57, 57, QColor(214, 240, 251), 2.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(190, 228, 200));
    QPainterPath badge, ground;
    badge.addEllipse(QPointF(60, 60), 55.8, 55.8);
    ground.addRect(0, 88, 120, 40);
    p.drawPath(badge.intersected(ground));
    inkPen(p, 2.5);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(60, 60), 57, 57);

    // The stick opens slowly, holds, then snaps shut; a burst of stars
    // follows the clap.
    const double open[12] = {0, 7, 14, 21, 26, 28, 28, 14, 0, 0, 0, 0};
    const double drop = (i == 8) ? 2 : (i == 9 ? 1 : 0);
    clapperboard(p, QRectF(22, 52 + drop, 64, 42), open[i], 2.2, true);
    if (i >= 8) {
        const int k = i - 8;            // 0..3
        const QPointF o(80, 48);
        const double r = 10 + k * 5;
        const double size = 7.5 - k * 1.0;
        const QColor colours[] = {pal::yellow, pal::pink, pal::orange, pal::blue, pal::yellow};
        for (int s = 0; s < 5; ++s) {
            const double a = (-165 + s * 36) * kPi / 180;
            const QPointF c = o + QPointF(r * std::cos(a), r * std::sin(a));
            shape(p, starPath(c, size, size * 0.45, -90 + k * 12), colours[s], 1.6);
        }
    } else if (i >= 5) {
        // A little sparkle waits at the tip of the open stick.
        const double a = -open[i] * kPi / 180;
        const QPointF tip(22 + 64 * std::cos(a), 52 + 64 * std::sin(a) - 6);
        shape(p, starPath(tip, 4.5, 2), pal::yellow, 1.4);
    }
    p.end();
    return img;
}

QImage icon32()
{
    QImage img = blankImage(32, 32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    clapperboard(p, QRectF(3, 12, 26, 18), 22, 1.6, false);
    p.end();
    return img;
}

// A 16-pixel picture from rows of letters, one letter a pixel: k ink,
// w white, b board, y yellow, r red, g folded corner, l writing; any other
// letter leaves the pixel transparent.
QImage pixelArt(const char *const (&rows)[16])
{
    QImage img = blankImage(16, 16).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            QColor c;
            switch (rows[y][x]) {
            case 'k': c = pal::ink; break;
            case 'w': c = pal::white; break;
            case 'b': c = kBoard; break;
            case 'y': c = pal::yellow; break;
            case 'r': c = pal::red; break;
            case 'g': c = kFold; break;
            case 'l': c = kWriting; break;
            default: continue;
            }
            img.setPixelColor(x, y, c);
        }
    return img;
}

// At 16 pixels painted stripes turn to mush, so the small icon is drawn
// pixel by pixel.
QImage icon16()
{
    static const char *const rows[16] = {
        "................",
        "...........kkk..",
        "........kkkwwk..",
        ".....kkkwwkkkk..",
        "..kkkwwkkkkwk...",
        ".kkwkkkkwwkkk...",
        ".krkkkkkkk......",
        ".kkkkkkkkkkkkkk.",
        ".kwwkkwwkkwwkkk.",
        ".kkkkkkkkkkkkkk.",
        ".kbbbbbbybbbbbk.",
        ".kbbbbbyyybbbbk.",
        ".kbbbyyyyyyybbk.",
        ".kbbbbyyyyybbbk.",
        ".kbbbbybbbybbbk.",
        ".kkkkkkkkkkkkkk.",
    };
    return pixelArt(rows);
}

// The desktop's icon at `size` pixels, drawn at that size: the board's
// outline, stripes and star keep their weight instead of blurring or
// thinning as a scaled copy of a small icon would.
QImage desktopIcon(int size)
{
    if (size <= 16)
        return icon16();
    QImage img = blankImage(size, size);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const double u = size / 32.0;
    // Thin lines would vanish at small sizes and look spindly at large ones.
    const double outline = std::clamp(1.6 * u * (size >= 128 ? 0.7 : 1.0), 1.4, 6.0);
    clapperboard(p, QRectF(3 * u, 12 * u, 26 * u, 18 * u), 22, outline, size >= 64);
    p.end();
    return img;
}

// The project file's icon at 16 pixels, drawn pixel by pixel like the
// program's: a sheet with a folded corner and a shut clapperboard on it.
QImage documentIcon16()
{
    static const char *const rows[16] = {
        "..kkkkkkkkk.....",
        "..kwwwwwwwkk....",
        "..kwllllwwkgk...",
        "..kwwwwwwwkggk..",
        "..kwllwwwwkkkkk.",
        "..kwwwwwwwwwwwk.",
        "..kwkkkkkkkkkwk.",
        "..kwkwwkwwkwkwk.",
        "..kwkwkwwkwwkwk.",
        "..kwkkkkkkkkkwk.",
        "..kwkbbbybbbkwk.",
        "..kwkbyyyyybkwk.",
        "..kwkbbybybbkwk.",
        "..kwkkkkkkkkkwk.",
        "..kwwwwwwwwwwwk.",
        "..kkkkkkkkkkkkk.",
    };
    return pixelArt(rows);
}

// The project file's icon at `size` pixels: the program's clapperboard on a
// sheet of paper, so that a file manager shows a project as a document of
// this program and not as the program itself.
QImage documentIcon(int size)
{
    if (size <= 16)
        return documentIcon16();
    QImage img = blankImage(size, size);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const double u = size / 32.0;
    const double outline = std::clamp(1.6 * u * (size >= 128 ? 0.7 : 1.0), 1.4, 6.0);
    // The sheet's straight edges lie on whole pixels, with a whole-pixel
    // outline kept inside the picture, so they stay crisp at small sizes.
    const double edge = std::round(outline);
    const QRectF page = QRectF(std::round(5 * u), std::round(1 * u), std::round(22 * u), std::round(30 * u))
                            .adjusted(edge / 2, edge / 2, -edge / 2, -edge / 2);
    const double fold = std::round(7 * u);
    QPainterPath sheet;
    sheet.moveTo(page.topLeft());
    sheet.lineTo(page.right() - fold, page.top());
    sheet.lineTo(page.right(), page.top() + fold);
    sheet.lineTo(page.bottomRight());
    sheet.lineTo(page.bottomLeft());
    sheet.closeSubpath();
    shape(p, sheet, pal::white, edge);
    QPainterPath corner;
    corner.moveTo(page.right() - fold, page.top());
    corner.lineTo(page.right() - fold, page.top() + fold);
    corner.lineTo(page.right(), page.top() + fold);
    corner.closeSubpath();
    shape(p, corner, kFold, edge);
    if (size >= 32) {
        // Lines of writing above the board, clear of its open stick.
        inkPen(p, outline * 0.8, kWriting);
        p.drawLine(QPointF(9 * u, 6 * u), QPointF(17 * u, 6 * u));
        p.drawLine(QPointF(9 * u, 9.5 * u), QPointF(15 * u, 9.5 * u));
    }
    clapperboard(p, QRectF(8.5 * u, 17 * u, 15 * u, 11 * u), 22, outline * 0.85, size >= 64);
    p.end();
    return img;
}

// A 16-colour indexed picture: 15 opaque colours and one transparent slot.
QImage sixteenColours(QImage img)
{
    hardenAlpha(img);
    QList<QImage> frames{img};
    const QList<QRgb> palette = quantize(frames, 15);
    QList<QRgb> table{qRgba(0, 0, 0, 0)};
    table.append(palette);
    return frames.first().convertToFormat(QImage::Format_Indexed8, table, Qt::ThresholdDither | Qt::AvoidDither);
}

} // namespace

void makeBadges(const QString &root)
{
    QList<QImage> frames;
    for (int i = 0; i < 12; ++i)
        frames.append(stageFrame(i));
    // Held a little longer on the open stick and after the clap.
    writeAnimation(root + QStringLiteral("/assets/stage.gif"), frames, {9, 9, 9, 9, 9, 11, 11, 8, 9, 9, 10, 12});
    saveImage(sixteenColours(icon32()), root + QStringLiteral("/assets/icon32.png"), "PNG");
    saveImage(sixteenColours(icon16()), root + QStringLiteral("/assets/icon16.png"), "PNG");
    // The desktop's icon theme, one picture per size.
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString dir = root + QStringLiteral("/data/icons/%1x%1/apps/").arg(size);
        QDir().mkpath(dir);
        saveImage(desktopIcon(size), dir + QStringLiteral("vellumo.png"), "PNG");
        const QString typeDir = root + QStringLiteral("/data/icons/%1x%1/mimetypes/").arg(size);
        QDir().mkpath(typeDir);
        saveImage(documentIcon(size), typeDir + QStringLiteral("application-x-vellumo.png"), "PNG");
    }
}

} // namespace assetgen
