#pragma once

#include "core/clients.h"

#include <QFrame>

class QBoxLayout;
class QHBoxLayout;
class QLabel;

// One AI client on the Setup page: icon and name, a badge that tells what its "tavrin" entry
// holds, and the action buttons. Built whole from a detection record; the page builds a new card
// on every change. The header row ends in a stretch, so a small button added there with
// headerLayout()->addWidget() sits at the card's top right.
class ClientCard : public QFrame
{
    Q_OBJECT
public:
    // `permissionMode` is the mode in the settings now; `busy` shows "Working..." on the buttons.
    ClientCard(const ClientInfo &info, const QString &permissionMode, bool busy, QWidget *parent = nullptr);

    [[nodiscard]] QString clientId() const { return m_id; }
    [[nodiscard]] QHBoxLayout *headerLayout() const { return m_header; }
    [[nodiscard]] QLabel *badge() const { return m_badge; }

    // What keeps a configured entry from being exactly "uvx tavrin" in `permissionMode`, one
    // reason a line; empty when it is up to date (or there is no entry).
    [[nodiscard]] static QString entryProblems(const ClientInfo &info, const QString &permissionMode);
    // A permission mode as users know it: "Safe Edit", "Full Control", or the raw value quoted.
    [[nodiscard]] static QString modeName(const QString &mode);

    // As narrow as the card gets with its buttons one above the other.
    [[nodiscard]] QSize minimumSizeHint() const override;

signals:
    // Configure or Update (remove false), or Remove (remove true).
    void actionRequested(const QString &clientId, bool remove);
    // The "⋯" button of an installed or configured client was pressed; its menu opens below it.
    void menuRequested(const QString &clientId, QWidget *button);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QString m_id;
    QHBoxLayout *m_header = nullptr;
    QLabel *m_badge = nullptr;
    QBoxLayout *m_actions = nullptr;
};
