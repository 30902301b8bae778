#pragma once
// A progress bar that shows Value between Min and Max. Its value follows
// every step at once, but it repaints at most about sixty times a second, so
// that a loop stepping it for every small file is not slowed by drawing.

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

namespace controls {

class ProgressBar : public QWidget {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget *parent = nullptr);

    int minimum() const { return m_min; }
    int maximum() const { return m_max; }
    int value() const { return m_value; }
    void setRange(int min, int max);
    void setMaximum(int max) { setRange(m_min, max); }
    void setValue(int value);

signals:
    void valueChanged(int value);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void scheduleRepaint();

    int m_min = 0;
    int m_max = 100;
    int m_value = 0;
    QElapsedTimer m_lastPaint;
    QTimer m_repaint;
};

} // namespace controls
