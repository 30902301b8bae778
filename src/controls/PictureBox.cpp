#include "controls/PictureBox.h"

#include <QPainter>
#include <qdrawutil.h>

#include "controls/Twips.h"

namespace controls {

namespace {

// The client area paints the picture over the back colour.
class PictureClient : public QWidget {
public:
    explicit PictureClient(PictureBox *box) : QWidget(box), m_box(box)
    {
        setObjectName(QStringLiteral("client"));
        setAutoFillBackground(true);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (m_box->picture().isNull())
            return;
        QPainter p(this);
        p.drawImage(0, 0, m_box->picture());
    }

private:
    PictureBox *m_box;
};

} // namespace

PictureBox::PictureBox(QWidget *parent, Border border)
    : QWidget(parent), m_border(border), m_client(new PictureClient(this))
{
    // Opaque, so that repainting the inside never repaints what lies behind the box.
    setAutoFillBackground(true);
}

int PictureBox::borderWidth() const
{
    switch (m_border) {
    case FlatBorder:
        return 1;
    case SunkenBorder:
        return 2;
    default:
        return 0;
    }
}

void PictureBox::setPicture(const QImage &picture, const QByteArray &source)
{
    m_picture = picture;
    m_source = source;
    if (m_autoSize && !picture.isNull()) {
        const int b = borderWidth();
        twips::resize(this, twips::fromPixels(picture.width() + 2 * b),
                      twips::fromPixels(picture.height() + 2 * b));
    }
    m_client->update();
}

void PictureBox::setBackColor(const QColor &colour)
{
    QPalette pal = m_client->palette();
    pal.setColor(QPalette::Window, colour);
    m_client->setPalette(pal);
}

QColor PictureBox::backColor() const
{
    return m_client->palette().color(QPalette::Window);
}

double PictureBox::scaleWidth() const
{
    return twips::fromPixels(m_client->width());
}

double PictureBox::scaleHeight() const
{
    return twips::fromPixels(m_client->height());
}

void PictureBox::resizeEvent(QResizeEvent *)
{
    const int b = borderWidth();
    m_client->setGeometry(b, b, std::max(0, width() - 2 * b), std::max(0, height() - 2 * b));
}

void PictureBox::paintEvent(QPaintEvent *)
{
    if (m_border == NoBorder)
        return;
    QPainter p(this);
    if (m_border == FlatBorder) {
        p.setPen(palette().color(QPalette::WindowText));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    } else {
        qDrawWinPanel(&p, rect(), palette(), true);
    }
}

} // namespace controls
