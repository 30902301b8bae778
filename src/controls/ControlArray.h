#pragma once
// A control array: elements addressed by index, element 0 a template that
// belongs to the window and is never removed. A new element n is a copy of
// element 0 (same container, twips geometry, font, colours and the control's
// own settings), hidden until the caller shows it. Every element carries the
// array's name as objectName and its index in the property "index".

#include <QPointer>
#include <QString>
#include <QWidget>

#include <map>

#include "controls/Twips.h"

namespace controls {

template <class T>
class ControlArray {
public:
    ControlArray() = default;
    ControlArray(const QString &name, T *templ) { reset(name, templ); }

    void reset(const QString &name, T *templ)
    {
        setName(name);
        adopt(0, templ);
    }

    // Names an empty array whose elements, the template included, are adopted later.
    void setName(const QString &name)
    {
        m_name = name;
        m_elements.clear();
    }

    // Puts an element made elsewhere (a design-time element) under index n.
    void adopt(int n, T *w)
    {
        w->setObjectName(m_name);
        w->setProperty("index", n);
        m_elements[n] = w;
    }

    // Creates element n as a copy of the template. Fails (nullptr) when n is
    // not positive, is taken, or the template is gone.
    T *create(int n)
    {
        T *templ = at(0);
        if (n <= 0 || exists(n) || !templ)
            return nullptr;
        T *w = new T(templ->parentWidget());
        w->hide();
        w->setFont(templ->font());
        w->setPalette(templ->palette());
        w->setAutoFillBackground(templ->autoFillBackground());
        w->setEnabled(templ->isEnabled());
        w->setToolTip(templ->toolTip());
        w->setCursor(templ->cursor());
        if constexpr (requires(T &a, const T &b) { a.copySettingsFrom(b); })
            w->copySettingsFrom(*templ);
        twips::setGeometry(w, twips::geometry(templ));
        adopt(n, w);
        return w;
    }

    // Destroys element n at once; the template cannot be destroyed.
    bool destroy(int n)
    {
        auto it = m_elements.find(n);
        if (n == 0 || it == m_elements.end())
            return false;
        delete it->second.data();
        m_elements.erase(it);
        return true;
    }

    T *at(int n) const
    {
        auto it = m_elements.find(n);
        return it == m_elements.end() ? nullptr : it->second.data();
    }
    bool exists(int n) const { return at(n) != nullptr; }

    // Number of elements, the template included.
    int count() const
    {
        int c = 0;
        for (const auto &[index, w] : m_elements)
            c += w ? 1 : 0;
        return c;
    }

    // Indices of the living elements, ascending.
    QList<int> indices() const
    {
        QList<int> out;
        for (const auto &[index, w] : m_elements)
            if (w)
                out.append(index);
        return out;
    }

    const QString &name() const { return m_name; }

private:
    QString m_name;
    std::map<int, QPointer<T>> m_elements;
};

} // namespace controls
