#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

// Keeps keyboard focus in its place while a page throws its content away and builds it anew.
// Without it, hiding the focused control hands focus to the next one in the window (the sidebar)
// and a keyboard user loses their place after every action.
//
//     const FocusKeeper focus(this); // before the old content is hidden or deleted
//     ... hide the old content, build the new ...
//     focus.restore();
//
// The new control is found by key: the one set with setKey(), else the object name, else a
// button's text. Where several controls share a text (one "Open" per card), the page sets keys,
// and groups for the controls of one card. restore() picks, in this order: the control with the
// same key; the first control of the same group; the control at the same place in the Tab order
// (the nearest one when a card went away). Nothing happens when focus was outside the page.
class FocusKeeper
{
public:
    explicit FocusKeeper(QWidget *page);

    void restore() const;

    static void setKey(QWidget *widget, const QString &key, const QString &group = QString());
    [[nodiscard]] static QString keyOf(const QWidget *widget);
    [[nodiscard]] static QString groupOf(const QWidget *widget);
    // The page's controls that Tab reaches, in Tab order: old content that was hidden is left out,
    // new content that has not been shown yet is counted.
    [[nodiscard]] static QList<QWidget *> tabStops(QWidget *page);

private:
    QPointer<QWidget> m_page;
    QString m_key;
    QString m_group;
    qsizetype m_index = -1;
};
