#include "controls/SpinControl.h"

#include <QKeyEvent>
#include <QToolButton>

#include <algorithm>

namespace controls {

SpinControl::SpinControl(Qt::Orientation orientation, QWidget *parent)
    : QWidget(parent), m_orientation(orientation), m_up(new QToolButton(this)), m_down(new QToolButton(this))
{
    setFocusPolicy(Qt::StrongFocus);
    const bool horizontal = orientation == Qt::Horizontal;
    m_up->setArrowType(horizontal ? Qt::RightArrow : Qt::UpArrow);
    m_down->setArrowType(horizontal ? Qt::LeftArrow : Qt::DownArrow);
    m_up->setObjectName(QStringLiteral("up"));
    m_down->setObjectName(QStringLiteral("down"));
    for (QToolButton *b : {m_up, m_down}) {
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRepeat(true);
        connect(b, &QToolButton::pressed, this, [this] { setFocus(Qt::MouseFocusReason); });
    }
    setRepeat(400, 80);
    // Every click and every auto-repeat of a held arrow is one step.
    connect(m_up, &QToolButton::clicked, this, &SpinControl::stepUp);
    connect(m_down, &QToolButton::clicked, this, &SpinControl::stepDown);
}

void SpinControl::setRepeat(int delayMs, int intervalMs)
{
    for (QToolButton *b : {m_up, m_down}) {
        b->setAutoRepeatDelay(delayMs);
        b->setAutoRepeatInterval(intervalMs);
    }
}

int SpinControl::clamp(int v) const
{
    return std::clamp(v, std::min(m_min, m_max), std::max(m_min, m_max));
}

bool SpinControl::setValue(int value)
{
    if (value != clamp(value))
        return false;
    m_value = value;
    return true;
}

void SpinControl::setIncrement(int step)
{
    m_increment = std::max(1, step);
}

void SpinControl::setMinimum(int min)
{
    setRange(min, m_max);
}

void SpinControl::setMaximum(int max)
{
    setRange(m_min, max);
}

void SpinControl::setRange(int min, int max)
{
    m_min = min;
    m_max = max;
    m_value = clamp(m_value);
}

void SpinControl::step(int direction)
{
    // "Up" heads for the maximum whichever way the range runs.
    const int towardsMax = m_max >= m_min ? 1 : -1;
    const qint64 wanted = qint64(m_value) + qint64(direction) * towardsMax * m_increment;
    const int lo = std::min(m_min, m_max);
    const int hi = std::max(m_min, m_max);
    const int next = int(std::clamp<qint64>(wanted, lo, hi));
    if (next != m_value) {
        m_value = next;
        emit Change(m_value);
    }
    if (direction > 0)
        emit UpClick();
    else
        emit DownClick();
}

void SpinControl::setAccessibleNames(const QString &control, const QString &down, const QString &up)
{
    setAccessibleName(control);
    m_down->setAccessibleName(down);
    m_up->setAccessibleName(up);
}

void SpinControl::stepUp()
{
    step(+1);
}

void SpinControl::stepDown()
{
    step(-1);
}

void SpinControl::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Right:
        stepUp();
        break;
    case Qt::Key_Down:
    case Qt::Key_Left:
        stepDown();
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

void SpinControl::resizeEvent(QResizeEvent *)
{
    const int w = width();
    const int h = height();
    if (m_orientation == Qt::Horizontal) {
        m_down->setGeometry(0, 0, w / 2, h);
        m_up->setGeometry(w / 2, 0, w - w / 2, h);
    } else {
        m_up->setGeometry(0, 0, w, h / 2);
        m_down->setGeometry(0, h / 2, w, h - h / 2);
    }
}

} // namespace controls
