#include "controls/Contrast.h"

#include <QEvent>
#include <QWidget>

#include <cmath>

namespace controls {

namespace {

double linear(double channel)
{
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

QColor backgroundOf(const QWidget *widget)
{
    const QWidget *behind = widget->parentWidget() ? widget->parentWidget() : widget;
    return behind->palette().color(QPalette::Window);
}

void apply(QWidget *widget, QPalette::ColorRole role, const QColor &wanted)
{
    QPalette pal = widget->palette();
    pal.setColor(role, readableOn(wanted, backgroundOf(widget)));
    // An equal palette is not set again, so the change this causes ends here.
    widget->setPalette(pal);
}

// Chooses the colour again when a new theme reaches the widget.
class ReadableColour : public QObject {
public:
    ReadableColour(QWidget *widget, QPalette::ColorRole role, const QColor &wanted)
        : QObject(widget), m_role(role), m_wanted(wanted)
    {
        widget->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange)
            apply(static_cast<QWidget *>(watched), m_role, m_wanted);
        return false;
    }

private:
    QPalette::ColorRole m_role;
    QColor m_wanted;
};

} // namespace

double luminance(const QColor &colour)
{
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readableOn(const QColor &wanted, const QColor &background, double ratio)
{
    if (contrastRatio(wanted, background) >= ratio)
        return wanted;
    // Below this luminance white stands out more than black does.
    const bool lightBackground = luminance(background) > 0.179;
    const QColor hsl = wanted.toHsl();
    const auto at = [&hsl](double lightness) {
        // Judged as it will be drawn: eight bits a channel.
        return QColor(QColor::fromHslF(hsl.hslHueF(), hsl.hslSaturationF(), lightness).rgb());
    };
    // Contrast grows steadily as the lightness moves away from the
    // background's, so halving finds the nearest lightness that keeps it.
    double near = hsl.lightnessF();
    double far = lightBackground ? 0.0 : 1.0;
    for (int step = 0; step < 20; ++step) {
        const double mid = (near + far) / 2;
        (contrastRatio(at(mid), background) >= ratio ? far : near) = mid;
    }
    return at(far);
}

void keepReadable(QWidget *widget, QPalette::ColorRole role, const QColor &wanted)
{
    apply(widget, role, wanted);
    new ReadableColour(widget, role, wanted);
}

} // namespace controls
