#include "controls/ProgressBar.h"

#include <QPainter>
#include <QStyleOptionProgressBar>

#include <algorithm>

namespace controls {

namespace {
constexpr int FrameMs = 16;
}

ProgressBar::ProgressBar(QWidget *parent) : QWidget(parent)
{
    m_repaint.setSingleShot(true);
    connect(&m_repaint, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

void ProgressBar::setRange(int min, int max)
{
    m_min = min;
    m_max = std::max(min, max);
    setValue(std::clamp(m_value, m_min, m_max));
    scheduleRepaint();
}

void ProgressBar::setValue(int value)
{
    value = std::clamp(value, m_min, m_max);
    if (value == m_value)
        return;
    m_value = value;
    emit valueChanged(value);
    scheduleRepaint();
}

void ProgressBar::scheduleRepaint()
{
    if (!m_lastPaint.isValid() || m_lastPaint.elapsed() >= FrameMs)
        update();
    else if (!m_repaint.isActive())
        m_repaint.start(int(FrameMs - m_lastPaint.elapsed()));
}

void ProgressBar::paintEvent(QPaintEvent *)
{
    m_lastPaint.start();
    QPainter p(this);
    QStyleOptionProgressBar option;
    option.initFrom(this);
    // A bar fills from left to right; without this flag the style draws it filling upwards.
    option.state |= QStyle::State_Horizontal;
    option.minimum = m_min;
    option.maximum = m_max;
    option.progress = m_value;
    option.textVisible = false;
    style()->drawControl(QStyle::CE_ProgressBar, &option, &p, this);
}

} // namespace controls
