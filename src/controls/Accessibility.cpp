#include "controls/Accessibility.h"

#include <QAccessibleWidget>
#include <QWidget>

namespace controls {

namespace {

constexpr char DecorativeProperty[] = "vellumoDecorative";

// An interface that says it cannot be seen and has nothing to say, which is
// how assistive technologies learn to skip an object.
class DecorativeInterface : public QAccessibleWidget {
public:
    explicit DecorativeInterface(QWidget *w) : QAccessibleWidget(w, QAccessible::NoRole) {}
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.invisible = true;
        s.focusable = false;
        return s;
    }
    QString text(QAccessible::Text) const override { return QString(); }
};

QAccessibleInterface *decorativeFactory(const QString &, QObject *object)
{
    if (object && object->isWidgetType() && object->property(DecorativeProperty).toBool())
        return new DecorativeInterface(static_cast<QWidget *>(object));
    return nullptr;
}

} // namespace

void setDecorative(QWidget *widget)
{
    // Installed once for the whole process: Qt keeps its factories in one list.
    static const bool installed = [] {
        QAccessible::installFactory(decorativeFactory);
        return true;
    }();
    Q_UNUSED(installed);
    widget->setProperty(DecorativeProperty, true);
}

bool isDecorative(const QWidget *widget)
{
    return widget->property(DecorativeProperty).toBool();
}

} // namespace controls
