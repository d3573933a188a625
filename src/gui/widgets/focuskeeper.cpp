#include "gui/widgets/focuskeeper.h"

#include <QAbstractButton>

namespace {

const char *const s_keyProperty = "focusKey";
const char *const s_groupProperty = "focusGroup";

// Shown now, or about to be: a layout shows new children from the event loop, while a rebuild
// hides the old content explicitly before deleting it.
bool willBeVisible(const QWidget *widget, const QWidget *page)
{
    for (const QWidget *w = widget; w && w != page; w = w->parentWidget()) {
        if (w->isHidden() && w->testAttribute(Qt::WA_WState_ExplicitShowHide))
            return false;
    }
    return true;
}

} // namespace

FocusKeeper::FocusKeeper(QWidget *page) : m_page(page)
{
    // The window's focus widget is remembered also while another application is active.
    QWidget *focused = page->window()->focusWidget();
    if (!focused || !page->isAncestorOf(focused))
        return;
    m_key = keyOf(focused);
    m_group = groupOf(focused);
    m_index = tabStops(page).indexOf(focused);
}

void FocusKeeper::restore() const
{
    if (!m_page || m_index < 0)
        return;
    const QList<QWidget *> stops = tabStops(m_page);
    if (stops.isEmpty())
        return;
    QWidget *target = nullptr;
    for (QWidget *stop : stops) {
        if (!m_key.isEmpty() && keyOf(stop) == m_key) {
            target = stop;
            break;
        }
        if (!target && !m_group.isEmpty() && groupOf(stop) == m_group)
            target = stop;
    }
    if (!target)
        target = stops.at(qMin(m_index, stops.size() - 1));
    // A control not shown yet takes the focus as soon as it is.
    target->setFocus(Qt::OtherFocusReason);
}

void FocusKeeper::setKey(QWidget *widget, const QString &key, const QString &group)
{
    widget->setProperty(s_keyProperty, key);
    if (!group.isEmpty())
        widget->setProperty(s_groupProperty, group);
}

QString FocusKeeper::keyOf(const QWidget *widget)
{
    QString key = widget->property(s_keyProperty).toString();
    if (!key.isEmpty())
        return key;
    if (!widget->objectName().isEmpty())
        return widget->objectName();
    if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    return {};
}

QString FocusKeeper::groupOf(const QWidget *widget)
{
    return widget->property(s_groupProperty).toString();
}

QList<QWidget *> FocusKeeper::tabStops(QWidget *page)
{
    QList<QWidget *> stops;
    for (QWidget *w = page->nextInFocusChain(); w && w != page; w = w->nextInFocusChain()) {
        if (page->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && willBeVisible(w, page))
            stops.append(w);
    }
    return stops;
}
