#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QList>
#include <QPushButton>
#include <QWidget>

// What the widget tests share: finding controls as a user sees them, and the Tab order.
namespace GuiTest {

// Shown now, or when `root` is: hidden widgets are not there for the user.
inline bool shownIn(const QWidget *widget, const QWidget *root)
{
    return widget == root || widget->isVisibleTo(root);
}

// The first control of type T under `root` that is shown and whose accessible name, or text, is
// `name`; null when there is none.
template<typename T = QAbstractButton> T *find(QWidget *root, const QString &name)
{
    for (T *widget : root->findChildren<T *>()) {
        if (shownIn(widget, root) && (widget->accessibleName() == name || widget->text() == name))
            return widget;
    }
    return nullptr;
}

// How a control is known in a test: its accessible name, else its object name, else its text.
inline QString nameOf(const QWidget *widget)
{
    if (!widget->accessibleName().isEmpty())
        return widget->accessibleName();
    if (!widget->objectName().isEmpty())
        return widget->objectName();
    if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    return {};
}

// The controls under `root` that Tab reaches, in Tab order.
inline QList<QWidget *> tabStops(QWidget *root)
{
    QList<QWidget *> stops;
    for (QWidget *w = root->nextInFocusChain(); w && w != root; w = w->nextInFocusChain()) {
        if (root->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && shownIn(w, root))
            stops.append(w);
    }
    return stops;
}

// What `root` shows, in order: labels (whole where they elide; a badge's tool tip in <>), and push
// buttons in brackets ("/off" when disabled). Hidden widgets and empty labels are left out.
inline QString text(QWidget *root)
{
    QStringList parts;
    for (QWidget *w : root->findChildren<QWidget *>()) {
        if (!shownIn(w, root))
            continue;
        if (auto *label = qobject_cast<QLabel *>(w); label && !label->text().isEmpty()) {
            const QString full =
                label->property("fullText").isValid() ? label->property("fullText").toString() : label->text();
            const bool badge = label->property("class").toString().startsWith(QLatin1String("badge"));
            parts << full + (badge && !label->toolTip().isEmpty() ? '<' + label->toolTip() + '>' : QString());
        } else if (auto *button = qobject_cast<QPushButton *>(w); button && !button->text().isEmpty()) {
            parts << '[' + button->text() + (button->isEnabled() ? "]" : "/off]");
        }
    }
    return parts.join('|');
}

// The shown top-level window of type T, or null.
template<typename T> T *shownWindow()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<T *>(w); window && window->isVisible())
            return window;
    }
    return nullptr;
}

} // namespace GuiTest
