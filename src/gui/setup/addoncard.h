#pragma once

#include "gui/widgets/actioncard.h"

class QLabel;
class QPushButton;
struct AddonStatus;

// The Setup page's addon card: what the active project holds of the editor addon against the
// copy this app ships, and Install, Update and Uninstall; "Working..." in their place while an
// operation runs. Built once; setStatus() updates it in place. Another line of state goes below
// the status line in textColumn(), another button into actions().
class AddonCard : public ActionCard
{
    Q_OBJECT
public:
    explicit AddonCard(QWidget *parent = nullptr);

    void setStatus(const AddonStatus &status, bool busy);

    // The status line for people.
    [[nodiscard]] static QString statusText(const AddonStatus &status);

signals:
    // Install, or Update (an update installs over the old copy).
    void installRequested();
    void uninstallRequested();

private:
    QLabel *m_status = nullptr;
    QLabel *m_working = nullptr;
    QPushButton *m_update = nullptr;
    QPushButton *m_uninstall = nullptr;
    QPushButton *m_install = nullptr;
};
