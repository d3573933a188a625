#pragma once

#include <QHash>
#include <QList>
#include <QWidget>

class AddonCard;
class CardGrid;
class ClientCard;
class ElidedLabel;
class QFrame;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class ServerCard;
class SetupModel;
struct ResyncSummary;
struct SetupOutcome;

// The Setup page: the active project's addon card, the AI client cards, the MCP server test and the
// prerequisite rows, showing what the Setup model knows and handing the user's clicks to it. Its
// content is built when the page is first shown, once; afterwards every change of the model
// updates the widgets it concerns in place. It reports outcomes as toasts (and failures also in a
// box), also while it was never shown.
class SetupView : public QWidget
{
    Q_OBJECT
public:
    explicit SetupView(SetupModel *model, QWidget *parent = nullptr);

    // Builds the content if it is not yet built, and asks the model to read what may have changed.
    void refresh();

    // The tool tip of the Refresh button, which names the window's shortcut for it.
    void setRefreshShortcut(const QString &shortcut);

signals:
    void showToast(const QString &msg, int type);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void build();
    void buildAddonSection(QVBoxLayout *layout);
    void buildClientsSection(QVBoxLayout *layout);
    void buildServerSection(QVBoxLayout *layout);
    void buildPrereqsSection(QVBoxLayout *layout);
    void showAddon();
    void showClient(const QString &id);
    void showPrerequisites();
    void showScanning();
    void buildUvHelp(QVBoxLayout *layout);
    void confirmUninstall();
    void closeGodotFirst();
    void openInGodot();
    void openClientMenu(const QString &clientId, QWidget *button);
    void reportOutcome(const SetupOutcome &outcome);
    void reportResync(const ResyncSummary &summary);
    void showFailure(const QString &title, const QString &error, const QString &clientId = {});

    SetupModel *m_model;
    QScrollArea *m_scroll = nullptr; // null until built
    QPushButton *m_refresh = nullptr;
    QString m_refreshShortcut;
    QString m_shownProject; // the project the page was last scrolled for
    ElidedLabel *m_projectLine = nullptr;
    QLabel *m_noProject = nullptr;
    QWidget *m_sections = nullptr;
    AddonCard *m_addonCard = nullptr;
    QLabel *m_checkingClients = nullptr;
    CardGrid *m_grid = nullptr;
    QHash<QString, ClientCard *> m_cards;
    QLabel *m_absent = nullptr;
    ServerCard *m_serverCard = nullptr;
    QLabel *m_checkingPrereqs = nullptr;
    QWidget *m_prereqList = nullptr;
    QFrame *m_uvHelp = nullptr; // how to install uv, while it or uvx is missing
    QPushButton *m_checkAgain = nullptr;
    QList<QFrame *> m_prereqRows;
};
