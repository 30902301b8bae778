#pragma once
// Shared drawing helpers of the asset generator: the common cartoon palette,
// outlined shapes, and the steps that turn painted frames into clean GIFs.

#include <QColor>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <functional>

namespace assetgen {

// One palette for every picture, so that characters, things and backgrounds
// look like they belong to the same cartoon.
namespace pal {
inline const QColor ink(58, 46, 57);          // outlines
inline const QColor white(255, 255, 255);
inline const QColor skyTop(126, 198, 240);
inline const QColor skyLow(214, 240, 251);
inline const QColor grass(124, 200, 74);
inline const QColor grassDark(90, 168, 58);
inline const QColor grassFar(170, 220, 120);
inline const QColor leaf(84, 180, 70);
inline const QColor leafDark(58, 140, 60);
inline const QColor sand(241, 217, 160);
inline const QColor sandDark(217, 183, 120);
inline const QColor wood(200, 130, 70);
inline const QColor woodDark(150, 92, 52);
inline const QColor red(232, 80, 84);
inline const QColor orange(245, 160, 64);
inline const QColor yellow(255, 210, 63);
inline const QColor cream(253, 234, 196);
inline const QColor pink(242, 143, 160);
inline const QColor blue(79, 160, 232);
inline const QColor violet(150, 110, 200);
inline const QColor stone(170, 172, 184);
inline const QColor stoneDark(128, 130, 146);
inline const QColor steel(184, 199, 217);
inline const QColor steelDark(130, 148, 172);
inline const QColor cloud(250, 252, 255);
inline const QColor cloudShade(214, 228, 242);
} // namespace pal

// A transparent ARGB canvas with an antialiasing painter-friendly format.
QImage blankImage(int w, int h);

// Sets the pen to the cartoon outline of the given width.
void inkPen(QPainter &p, double width = 2.0, const QColor &c = pal::ink);

// Fills and outlines a path in one call, the pattern used everywhere.
void shape(QPainter &p, const QPainterPath &path, const QColor &fill,
           double outline = 2.0, const QColor &ink = pal::ink);
void ellipse(QPainter &p, QPointF c, double rx, double ry, const QColor &fill,
             double outline = 2.0);
void roundRect(QPainter &p, QRectF r, double radius, const QColor &fill,
               double outline = 2.0);
// A five-pointed star centred at c.
QPainterPath starPath(QPointF c, double outer, double inner, double rotationDeg = -90);
// A limb: a rounded bar from the origin downwards by len, turned by angleDeg
// (0 = straight down, positive = towards +x), drawn at pivot.
void limb(QPainter &p, QPointF pivot, double angleDeg, double len, double width,
          const QColor &fill, const std::function<void(QPainter &)> &tip = {});

// Makes sprite edges crisp: pixels at least half covered become opaque with
// their own colour, the rest fully transparent, so no dark or light fringe
// appears whatever background the sprite is later put on.
void hardenAlpha(QImage &img);

// Reduces all frames together to at most maxColours opaque colours (median
// cut), maps every pixel to its nearest palette entry and returns the palette.
// Transparent pixels stay transparent.
QList<QRgb> quantize(QList<QImage> &frames, int maxColours);

// Writes frames of equal size as a looping GIF whose every frame covers the
// whole canvas and is cleared before the next (disposal to background), so
// moving parts leave no trails. delays are in hundredths of a second; one
// entry is used for all frames.
void writeAnimation(const QString &path, QList<QImage> frames, const QList<int> &delaysCs);
void writeStill(const QString &path, QImage image);

// Saves a picture, creating folders; stops the program on failure, since a
// half-made asset set must not be committed.
void saveImage(const QImage &img, const QString &path, const char *format, int quality = -1);
void ensureDirFor(const QString &path);
[[noreturn]] void fail(const QString &what);

// A small deterministic generator (LCG) for scattering flowers and stars the
// same way on every run.
class FixedRandom {
public:
    explicit FixedRandom(quint32 start) : state_(start) {}
    quint32 next() { state_ = state_ * 1664525u + 1013904223u; return state_ >> 8; }
    double unit() { return (next() & 0xFFFF) / 65536.0; }
    double range(double a, double b) { return a + (b - a) * unit(); }
private:
    quint32 state_;
};

// Linear blend of two colours, t in 0..1.
QColor mix(const QColor &a, const QColor &b, double t);

} // namespace assetgen
