#pragma once

#include <QList>
#include <QWidget>

// Keeps the keyboard focus inside a card while its controls change in place. Qt hands the focus of
// a control that is hidden or disabled to the next control of the window, so a keyboard user would
// land on another card whenever an action goes busy:
//
//     QWidget *focused = CardFocus::take(this); // before controls are hidden or disabled
//     ... change the controls ...
//     CardFocus::settle(this, focused, {first, second});
//
// The card must accept focus (Qt::ClickFocus keeps it out of the Tab chain).
namespace CardFocus {

// The control of `card` that has the focus, or null; with one, the card holds the focus meanwhile.
inline QWidget *take(QWidget *card)
{
    QWidget *focused = card->window()->focusWidget();
    if (!focused || (focused != card && !card->isAncestorOf(focused)))
        return nullptr;
    if (focused != card)
        card->setFocus(Qt::OtherFocusReason);
    return focused;
}

// Back to the control that had it, where it can still take it; else to the first of `controls` that
// can; while none can (they are busy), the card keeps it.
inline void settle(QWidget *card, QWidget *focused, const QList<QWidget *> &controls)
{
    if (!focused)
        return;
    const auto usable = [card](QWidget *w) { return w && w != card && w->isEnabled() && w->isVisibleTo(card); };
    QWidget *target = controls.contains(focused) && usable(focused) ? focused : nullptr;
    for (QWidget *control : controls)
        target = target ? target : (usable(control) ? control : nullptr);
    if (target)
        target->setFocus(Qt::OtherFocusReason);
}

} // namespace CardFocus
