#pragma once
// A spin control: two arrow buttons that step a whole-number value by a fixed
// increment between a minimum and a maximum. The up arrow (right arrow in the
// horizontal form) moves the value towards the maximum, also when the
// maximum is below the minimum. Values set by the program are applied
// quietly; each step made by the user (a click, each auto-repeat while an
// arrow is held, an arrow key while the control has the focus) raises Change
// once when the value moved, and UpClick or DownClick for every step, even at
// a limit.

#include <QWidget>

class QToolButton;

namespace controls {

class SpinControl : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int Value READ value WRITE setValue)
    Q_PROPERTY(int Increment READ increment WRITE setIncrement)
    Q_PROPERTY(int Min READ minimum WRITE setMinimum)
    Q_PROPERTY(int Max READ maximum WRITE setMaximum)
public:
    explicit SpinControl(Qt::Orientation orientation, QWidget *parent = nullptr);

    int value() const { return m_value; }
    // Refused (the value stays) when outside the range; returns whether it was taken.
    bool setValue(int value);
    int increment() const { return m_increment; }
    void setIncrement(int step);
    int minimum() const { return m_min; }
    int maximum() const { return m_max; }
    // A new range pulls the value inside it, quietly.
    void setMinimum(int min);
    void setMaximum(int max);
    void setRange(int min, int max);
    Qt::Orientation orientation() const { return m_orientation; }

    // Auto-repeat timing of a held arrow, milliseconds.
    void setRepeat(int delayMs, int intervalMs);

    // One step as the user makes it with an arrow.
    void stepUp();
    void stepDown();

    // What a screen reader calls the control and its two arrows.
    void setAccessibleNames(const QString &control, const QString &down, const QString &up);

    QToolButton *upButton() const { return m_up; }
    QToolButton *downButton() const { return m_down; }

signals:
    void Change(int value);
    void UpClick();
    void DownClick();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void step(int direction);
    int clamp(int v) const;

    Qt::Orientation m_orientation;
    int m_value = 0;
    int m_increment = 1;
    int m_min = 0;
    int m_max = 10;
    QToolButton *m_up;
    QToolButton *m_down;
};

} // namespace controls
