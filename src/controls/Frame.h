#pragma once
// A frame around a group of controls: an etched line with the caption set
// into its top edge, on an opaque, flat background, so that captions and
// labels inside it repaint only themselves.

#include <QGroupBox>

namespace controls {

class Frame : public QGroupBox {
    Q_OBJECT
public:
    explicit Frame(const QString &caption, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace controls
