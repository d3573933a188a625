#pragma once

#include "core/clients.h"

#include <QFrame>

class QBoxLayout;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QToolButton;

// One AI client on the Setup page: icon and name, a badge that tells what its "tavrin" entry
// holds, the action buttons and the "⋯" menu button. Built once per catalogue row; setInfo()
// updates it in place.
class ClientCard : public QFrame
{
    Q_OBJECT
public:
    explicit ClientCard(const ClientCatalogue::Client &client, QWidget *parent = nullptr);

    // `permissionMode` is the mode in the settings now; `busy` shows "Working..." in place of the
    // buttons and disables the "⋯" menu.
    void setInfo(const ClientInfo &info, const QString &permissionMode, bool busy);

    [[nodiscard]] QString clientId() const { return m_id; }

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
    [[nodiscard]] QList<QPushButton *> shownActions() const;
    void placeActions();

    QString m_id;
    QString m_name;
    QHBoxLayout *m_header = nullptr;
    QToolButton *m_more = nullptr;
    QLabel *m_badge = nullptr;
    QLabel *m_mode = nullptr; // the entry's permission mode, under the badge
    QLabel *m_hint = nullptr;
    QBoxLayout *m_actions = nullptr;
    QPushButton *m_write = nullptr; // Configure, or Update
    QPushButton *m_remove = nullptr;
};
