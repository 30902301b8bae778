#pragma once
// A picture box: an optional border around a client area that holds a
// picture drawn at its own size from the top-left corner and clips the
// controls placed inside it. Child controls go into client(), so their
// positions are relative to the inside of the border, as twips.

#include <QColor>
#include <QImage>
#include <QWidget>

namespace controls {

class PictureBox : public QWidget {
    Q_OBJECT
public:
    enum Border { NoBorder, FlatBorder, SunkenBorder };

    explicit PictureBox(QWidget *parent = nullptr, Border border = NoBorder);

    QWidget *client() const { return m_client; }
    int borderWidth() const;

    // `source` is the file the picture was read from, kept so that a saved scene carries it whole.
    void setPicture(const QImage &picture, const QByteArray &source = QByteArray());
    const QImage &picture() const { return m_picture; }
    const QByteArray &source() const { return m_source; }
    void clearPicture() { setPicture(QImage()); }

    // When on, a new picture resizes the box so that its client area is the
    // picture's size; the top-left corner stays in place.
    void setAutoSize(bool on) { m_autoSize = on; }
    bool autoSize() const { return m_autoSize; }

    void setBackColor(const QColor &colour);
    QColor backColor() const;

    // Inner width and height in twips.
    double scaleWidth() const;
    double scaleHeight() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    Border m_border;
    bool m_autoSize = false;
    QImage m_picture;
    QByteArray m_source;
    QWidget *m_client;
};

} // namespace controls
