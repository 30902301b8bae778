// The sample characters: a cat, a little bird and a robot, each with several
// actions. Every action of one character uses the same canvas and the same
// ground line, so switching actions in the program does not make it jump.

#include "characters.h"
#include "paint.h"

#include <cmath>

namespace assetgen {

namespace {

constexpr int kFrames = 8;
constexpr double kPi = 3.14159265358979323846;

// One moment of a character's movement. Angles are in degrees, 0 = hanging
// straight down, positive = swung towards the front (the right).
struct Pose {
    double lift = 0;        // how far the whole body is above its rest place
    double squash = 1;      // < 1 crouches, > 1 stretches
    double legNear = 0, legFar = 0;
    double armNear = 0, armFar = 0;
    double tail = 0;        // tail or antenna sway
    double wingNear = 0, wingFar = 0;
    bool tucked = false;    // legs folded (a bird in the air)
    double wingScale = 1;   // wings spread wider in flight
};

// Places the painter on the character's ground point with lift and squash
// applied; everything is then drawn upwards from y = 0.
void standOn(QPainter &p, double x, double ground, const Pose &pose)
{
    p.translate(x, ground - pose.lift);
    p.scale(1.0 + (1.0 - pose.squash) * 0.6, pose.squash);
}

void eye(QPainter &p, QPointF c, double rx, double ry)
{
    p.setPen(Qt::NoPen);
    p.setBrush(pal::ink);
    p.drawEllipse(c, rx, ry);
    p.setBrush(pal::white);
    p.drawEllipse(QPointF(c.x() + rx * 0.35, c.y() - ry * 0.4), rx * 0.45, rx * 0.45);
}

void smile(QPainter &p, QPointF c, double w, double width = 1.6)
{
    inkPen(p, width);
    p.setBrush(Qt::NoBrush);
    QPainterPath m;
    m.moveTo(c.x() - w, c.y());
    m.quadTo(c.x() - w / 2, c.y() + w * 0.8, c.x(), c.y());
    m.quadTo(c.x() + w / 2, c.y() + w * 0.8, c.x() + w, c.y());
    p.drawPath(m);
}

void cheek(QPainter &p, QPointF c, double r)
{
    p.setPen(Qt::NoPen);
    QColor blush = pal::pink;
    blush.setAlpha(255);
    p.setBrush(blush);
    p.drawEllipse(c, r * 1.2, r * 0.75);
}

// ---- Cat -----------------------------------------------------------------

constexpr int kCatW = 90, kCatH = 120;
constexpr double kCatGround = 116;

void paw(QPainter &p, double r, const QColor &c)
{
    ellipse(p, QPointF(0, 0), r * 1.15, r, c);
}

void drawCat(QPainter &p, const Pose &pose)
{
    p.save();
    standOn(p, 44, kCatGround, pose);
    const QColor fur = pal::orange;
    const QColor furDark = mix(pal::orange, pal::woodDark, 0.35);
    const auto footTip = [&](QPainter &q) { q.translate(3, 0); paw(q, 4.5, pal::cream); };
    const auto handTip = [&](QPainter &q) { paw(q, 4, pal::cream); };

    // Far limbs first, in a deeper shade, so the near ones read in front.
    limb(p, QPointF(-5, -24), pose.legFar, 17, 9, furDark, footTip);
    limb(p, QPointF(-2, -44), pose.armFar, 14, 8, furDark, handTip);

    // Tail: a thick curved stroke with an outline, swaying at its root.
    p.save();
    p.translate(-13, -26);
    p.rotate(-pose.tail);
    QPainterPath tail;
    tail.moveTo(0, 0);
    tail.cubicTo(-14, -2, -22, -12, -18, -30);
    QPen pen(pal::ink, 10, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(tail);
    pen.setColor(fur);
    pen.setWidthF(6);
    p.setPen(pen);
    p.drawPath(tail);
    p.restore();

    limb(p, QPointF(6, -24), pose.legNear, 17, 9, fur, footTip);

    // Body with a cream belly.
    ellipse(p, QPointF(0, -36), 15, 17, fur);
    p.setPen(Qt::NoPen);
    p.setBrush(pal::cream);
    p.drawEllipse(QPointF(5, -33), 8, 11);

    // Head: ears, face, whiskers.
    const QPointF h(3, -62);
    QPainterPath earL, earR;
    earL.moveTo(h + QPointF(-16, -6));
    earL.lineTo(h + QPointF(-13, -26));
    earL.lineTo(h + QPointF(-2, -16));
    earL.closeSubpath();
    earR.moveTo(h + QPointF(6, -17));
    earR.lineTo(h + QPointF(16, -25));
    earR.lineTo(h + QPointF(18, -5));
    earR.closeSubpath();
    shape(p, earL, fur);
    shape(p, earR, fur);
    QPainterPath innerL, innerR;
    innerL.moveTo(h + QPointF(-13, -10));
    innerL.lineTo(h + QPointF(-12, -21));
    innerL.lineTo(h + QPointF(-6, -15));
    innerL.closeSubpath();
    innerR.moveTo(h + QPointF(9, -16));
    innerR.lineTo(h + QPointF(15, -20));
    innerR.lineTo(h + QPointF(15, -9));
    innerR.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(pal::pink);
    p.drawPath(innerL);
    p.drawPath(innerR);

    ellipse(p, h, 19, 17, fur);
    // Muzzle on the front side: the cat looks to the right.
    p.setPen(Qt::NoPen);
    p.setBrush(pal::cream);
    p.drawEllipse(h + QPointF(8, 7), 9, 6.5);
    eye(p, h + QPointF(-2, -2), 2.6, 3.6);
    eye(p, h + QPointF(11, -2), 2.6, 3.6);
    cheek(p, h + QPointF(-9, 6), 3);
    // Nose and mouth.
    QPainterPath nose;
    nose.moveTo(h + QPointF(6, 4));
    nose.lineTo(h + QPointF(11, 4));
    nose.lineTo(h + QPointF(8.5, 7));
    nose.closeSubpath();
    shape(p, nose, pal::pink, 1.2);
    smile(p, h + QPointF(8.5, 9), 3, 1.3);
    // Whiskers.
    inkPen(p, 1.1);
    p.drawLine(h + QPointF(16, 6), h + QPointF(25, 4));
    p.drawLine(h + QPointF(16, 9), h + QPointF(25, 10));
    // A stripe or two on the forehead.
    inkPen(p, 1.6, furDark);
    p.drawLine(h + QPointF(2, -16), h + QPointF(3, -11));
    p.drawLine(h + QPointF(-4, -15), h + QPointF(-3, -10));

    limb(p, QPointF(10, -45), pose.armNear, 14, 8, fur, handTip);
    p.restore();
}

// ---- Bird ----------------------------------------------------------------

constexpr int kBirdW = 90, kBirdH = 90;
constexpr double kBirdGround = 86;

QPainterPath wingPath()
{
    // Pivot at the origin, the wing reaching to the left/back.
    QPainterPath w;
    w.moveTo(0, 0);
    w.cubicTo(-6, -10, -22, -12, -26, -4);
    w.cubicTo(-24, 0, -20, 2, -18, 3);
    w.cubicTo(-14, 5, -6, 5, 0, 0);
    return w;
}

void drawBird(QPainter &p, const Pose &pose)
{
    p.save();
    standOn(p, 46, kBirdGround, pose);
    const QColor body = pal::yellow;
    const QColor bodyDark = mix(pal::yellow, pal::orange, 0.55);
    const QPointF c(0, -30);

    // Legs: thin orange sticks with three toes, or tucked while flying.
    QPen legPen(pal::ink, 4.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    QPen legFill(pal::orange, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    for (double lx : {-5.0, 6.0}) {
        QPainterPath leg;
        if (pose.tucked) {
            leg.moveTo(lx, -14);
            leg.lineTo(lx - 5, -8);
            leg.lineTo(lx - 1, -7);
        } else {
            leg.moveTo(lx, -14);
            leg.lineTo(lx, -2);
            leg.moveTo(lx - 4, 0);
            leg.lineTo(lx + 5, 0);
            leg.moveTo(lx, -2);
            leg.lineTo(lx + 4, -4);
        }
        p.setBrush(Qt::NoBrush);
        p.setPen(legPen);
        p.drawPath(leg);
        p.setPen(legFill);
        p.drawPath(leg);
    }

    // Far wing behind the body.
    p.save();
    p.translate(c + QPointF(-1, -6));
    p.rotate(pose.wingFar);
    p.scale(0.9 * pose.wingScale, 0.9 * pose.wingScale);
    shape(p, wingPath(), bodyDark);
    p.restore();

    // Tail feathers.
    QPainterPath tail;
    tail.moveTo(c + QPointF(-14, -2));
    tail.lineTo(c + QPointF(-30, -10));
    tail.lineTo(c + QPointF(-27, -2));
    tail.lineTo(c + QPointF(-32, 4));
    tail.lineTo(c + QPointF(-14, 8));
    tail.closeSubpath();
    shape(p, tail, bodyDark);

    // Round body with a light tummy and a little crest.
    QPainterPath crest;
    crest.moveTo(c + QPointF(2, -19));
    crest.quadTo(c + QPointF(0, -30), c + QPointF(-6, -27));
    crest.quadTo(c + QPointF(-2, -24), c + QPointF(-3, -19));
    crest.closeSubpath();
    shape(p, crest, pal::orange);
    ellipse(p, c, 19, 19, body);
    p.setPen(Qt::NoPen);
    p.setBrush(pal::cream);
    p.drawEllipse(c + QPointF(5, 8), 11, 8);

    // Face looking to the right.
    eye(p, c + QPointF(8, -6), 2.8, 3.8);
    cheek(p, c + QPointF(9, 2), 2.6);
    QPainterPath beak;
    beak.moveTo(c + QPointF(15, -5));
    beak.lineTo(c + QPointF(27, -1));
    beak.lineTo(c + QPointF(15, 3));
    beak.closeSubpath();
    shape(p, beak, pal::orange, 1.8);

    // Near wing on top.
    p.save();
    p.translate(c + QPointF(-2, -1));
    p.rotate(pose.wingNear);
    p.scale(pose.wingScale, pose.wingScale);
    shape(p, wingPath(), bodyDark);
    p.restore();
    p.restore();
}

// ---- Robot ---------------------------------------------------------------

constexpr int kRobotW = 100, kRobotH = 130;
constexpr double kRobotGround = 126;

void drawRobot(QPainter &p, const Pose &pose)
{
    p.save();
    standOn(p, 48, kRobotGround, pose);
    const QColor metal = pal::steel;
    const QColor metalDark = pal::steelDark;
    const auto boot = [&](QPainter &q) { roundRect(q, QRectF(-6, -2, 15, 7), 3, pal::blue); };
    const auto hand = [&](QPainter &q) { ellipse(q, QPointF(0, 1), 4.5, 4.5, pal::red); };

    limb(p, QPointF(-6, -26), pose.legFar, 19, 9, metalDark, boot);
    limb(p, QPointF(-2, -54), pose.armFar, 18, 7, metalDark, hand);
    limb(p, QPointF(7, -26), pose.legNear, 19, 9, metal, boot);

    // Body: a box with a panel of buttons and a heart light.
    roundRect(p, QRectF(-17, -60, 34, 36), 5, metal);
    roundRect(p, QRectF(-10, -53, 20, 14), 3, pal::white, 1.6);
    p.setPen(Qt::NoPen);
    p.setBrush(pal::red);
    p.drawEllipse(QPointF(-4, -46), 2.6, 2.6);
    p.setBrush(pal::yellow);
    p.drawEllipse(QPointF(3, -46), 2.6, 2.6);
    QPainterPath heart;
    heart.moveTo(0, -28);
    heart.cubicTo(-7, -32, -4, -38, 0, -34.5);
    heart.cubicTo(4, -38, 7, -32, 0, -28);
    shape(p, heart, pal::pink, 1.3);

    // Neck and head.
    roundRect(p, QRectF(-4, -66, 8, 8), 2, metalDark, 1.8);
    // Antenna sways a little as the robot moves.
    p.save();
    p.translate(1, -90);
    p.rotate(pose.tail);
    inkPen(p, 2.2);
    p.drawLine(QPointF(0, 0), QPointF(0, -10));
    ellipse(p, QPointF(0, -12), 4, 4, pal::red);
    p.restore();
    roundRect(p, QRectF(-16, -92, 34, 27), 7, metal);
    // Ears as bolts.
    roundRect(p, QRectF(-20, -84, 5, 11), 2, pal::red, 1.6);
    // Visor with eyes looking right.
    roundRect(p, QRectF(-9, -86, 25, 13), 5, pal::ink, 0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(120, 230, 255));
    p.drawEllipse(QPointF(1, -79.5), 3, 3.4);
    p.drawEllipse(QPointF(10, -79.5), 3, 3.4);
    p.setBrush(pal::white);
    p.drawEllipse(QPointF(2, -81), 1.2, 1.2);
    p.drawEllipse(QPointF(11, -81), 1.2, 1.2);
    smile(p, QPointF(6, -70), 3.5, 1.6);

    limb(p, QPointF(13, -55), pose.armNear, 18, 7, metal, hand);
    p.restore();
}

// ---- Movements -----------------------------------------------------------

using DrawFn = void (*)(QPainter &, const Pose &);

QList<QImage> render(int w, int h, DrawFn draw, const QList<Pose> &poses)
{
    QList<QImage> frames;
    for (const Pose &pose : poses) {
        QImage img = blankImage(w, h);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        draw(p, pose);
        p.end();
        frames.append(img);
    }
    return frames;
}

double phase(int i) { return 2 * kPi * i / kFrames; }

QList<Pose> walkPoses(double legSwing, double armSwing, double bob)
{
    QList<Pose> poses;
    for (int i = 0; i < kFrames; ++i) {
        const double s = std::sin(phase(i));
        Pose pose;
        pose.legNear = legSwing * s;
        pose.legFar = -legSwing * s;
        pose.armNear = -armSwing * s;
        pose.armFar = armSwing * s;
        // Highest when the legs pass each other, lowest at the long step.
        pose.lift = bob * std::cos(2 * phase(i)) + bob;
        pose.tail = 10 * std::sin(phase(i) + 0.8);
        poses.append(pose);
    }
    return poses;
}

QList<Pose> wavePoses(double restArm)
{
    QList<Pose> poses;
    for (int i = 0; i < kFrames; ++i) {
        const double s = std::sin(phase(i));
        Pose pose;
        pose.armNear = 122 + 24 * s;  // arm held up, swinging side to side
        pose.armFar = restArm;
        pose.legNear = 4;
        pose.legFar = -4;
        pose.lift = 0.8 + 0.8 * std::cos(2 * phase(i));
        pose.tail = 8 * std::sin(phase(i));
        poses.append(pose);
    }
    return poses;
}

QList<Pose> jumpPoses(double height)
{
    // Stand, crouch, push off, rise, top, fall, land in a crouch, stand.
    const double lift[kFrames] = {0, 0, 0.35, 0.8, 1.0, 0.6, 0, 0};
    const double squash[kFrames] = {1.0, 0.84, 1.08, 1.02, 1.0, 1.04, 0.86, 1.0};
    const double arms[kFrames] = {8, -35, 125, 135, 140, 115, -30, 8};
    const double legs[kFrames] = {4, 18, -8, 22, 28, 10, 16, 4};
    QList<Pose> poses;
    for (int i = 0; i < kFrames; ++i) {
        Pose pose;
        pose.lift = lift[i] * height;
        pose.squash = squash[i];
        pose.armNear = arms[i];
        pose.armFar = arms[i] > 90 ? arms[i] + 30 : -arms[i] * 0.6;
        pose.legNear = legs[i];
        pose.legFar = -legs[i] * 0.5;
        pose.tail = (i >= 2 && i <= 5) ? -15 : 5;
        poses.append(pose);
    }
    return poses;
}

QList<Pose> flyPoses()
{
    QList<Pose> poses;
    for (int i = 0; i < kFrames; ++i) {
        const double s = std::sin(phase(i));
        Pose pose;
        pose.tucked = true;
        // Wings beat from 75° up to 35° down; the down stroke lifts the bird.
        pose.wingNear = 20 + 55 * s;
        pose.wingFar = 32 + 55 * s;
        pose.wingScale = 1.2;
        pose.lift = 14 - 4 * std::cos(phase(i));
        poses.append(pose);
    }
    return poses;
}

QList<Pose> birdWavePoses()
{
    QList<Pose> poses;
    for (int i = 0; i < kFrames; ++i) {
        const double s = std::sin(phase(i));
        Pose pose;
        // The near wing is lifted high and waves; the far one rests.
        pose.wingNear = 75 + 28 * s;
        pose.wingFar = 0;
        pose.lift = 0.6 + 0.6 * std::cos(2 * phase(i));
        poses.append(pose);
    }
    return poses;
}

QList<Pose> birdHopPoses()
{
    const double lift[kFrames] = {0, 0, 8, 16, 18, 10, 0, 0};
    const double squash[kFrames] = {1.0, 0.86, 1.08, 1.0, 1.0, 1.04, 0.88, 1.0};
    QList<Pose> poses;
    for (int i = 0; i < kFrames; ++i) {
        Pose pose;
        pose.lift = lift[i];
        pose.squash = squash[i];
        pose.wingNear = (i >= 2 && i <= 5) ? 40 : 0;
        pose.wingFar = pose.wingNear;
        poses.append(pose);
    }
    return poses;
}

// Every action is written twice, facing right ("▸") and facing left ("◂"),
// the left one drawn here as the mirror of the right one. The pointers keep
// each pair side by side in a sorted list and read at a glance, even by a
// child who cannot yet tell "влево" from "вправо". Arrows ("←") or words
// would push the longest object-list entries ("Птица скачет", "Робот машет")
// past the list's width; the small triangles, written without a space, keep
// every entry whole with its number, and are legal in file names anywhere.
void writeBothWays(const QString &dir, const QString &name, const QList<QImage> &right, const QList<int> &delay)
{
    QList<QImage> left;
    for (const QImage &frame : right)
        left.append(frame.mirrored(true, false));
    writeAnimation(dir + name + QStringLiteral("▸.gif"), right, delay);
    writeAnimation(dir + name + QStringLiteral("◂.gif"), left, delay);
}

} // namespace

void makeCharacters(const QString &root)
{
    const QString dir = root + QStringLiteral("/library/objects/");
    const QList<int> delay{10};

    writeBothWays(dir, QStringLiteral("Кот идёт"), render(kCatW, kCatH, drawCat, walkPoses(28, 22, 1.5)), delay);
    writeBothWays(dir, QStringLiteral("Кот машет"), render(kCatW, kCatH, drawCat, wavePoses(6)), delay);
    writeBothWays(dir, QStringLiteral("Кот скачет"), render(kCatW, kCatH, drawCat, jumpPoses(26)), delay);

    writeBothWays(dir, QStringLiteral("Птица летит"), render(kBirdW, kBirdH, drawBird, flyPoses()), {8});
    writeBothWays(dir, QStringLiteral("Птица машет"), render(kBirdW, kBirdH, drawBird, birdWavePoses()), delay);
    writeBothWays(dir, QStringLiteral("Птица скачет"), render(kBirdW, kBirdH, drawBird, birdHopPoses()), delay);

    writeBothWays(dir, QStringLiteral("Робот идёт"), render(kRobotW, kRobotH, drawRobot, walkPoses(22, 25, 1.2)), delay);
    writeBothWays(dir, QStringLiteral("Робот машет"), render(kRobotW, kRobotH, drawRobot, wavePoses(4)), delay);
    writeBothWays(dir, QStringLiteral("Робот скачет"), render(kRobotW, kRobotH, drawRobot, jumpPoses(18)), delay);
}

} // namespace assetgen
