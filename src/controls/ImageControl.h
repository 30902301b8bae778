#pragma once
// An image control: shows a picture, either stretched to the control or at
// its own size (the control then takes the picture's size). It has no
// background of its own, so transparent pixels show what lies behind it.
// Mouse presses, moves and double-clicks are reported with the buttons held
// and the pointer position inside the control in twips.

#include <QImage>
#include <QWidget>

namespace controls {

class ImageControl : public QWidget {
    Q_OBJECT
public:
    explicit ImageControl(QWidget *parent = nullptr);

    // `source` is the file the picture was read from, kept so that a saved scene carries it whole.
    void setPicture(const QImage &picture, const QByteArray &source = QByteArray());
    const QImage &picture() const { return m_picture; }
    const QByteArray &source() const { return m_source; }

    void setStretch(bool on);
    bool stretch() const { return m_stretch; }

    // A text drawn when there is no picture (a placeholder naming the file).
    void setPlaceholder(const QString &text);

    void copySettingsFrom(const ImageControl &other);

signals:
    void MouseDown(Qt::MouseButton button, Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, double x, double y);
    void MouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, double x, double y);
    void DblClick();

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    bool exposed() const;      // false when the containers clip the control away wholly
    void repaintIfExposed();
    QImage m_picture;
    QByteArray m_source;
    QString m_placeholder;
    bool m_stretch = false;
};

} // namespace controls
