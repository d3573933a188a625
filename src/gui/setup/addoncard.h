#pragma once

#include "core/godotchain.h"
#include "gui/widgets/actioncard.h"

class ElidedLabel;
class QLabel;
class QPushButton;
struct AddonStatus;
class GodotLocator;

// The Setup page's addon card: what the active project holds of the editor addon against the
// copy this app ships, and Install, Update, Reinstall (a broken copy) and Uninstall; "Working..."
// in their place while an operation runs. Below the status, how far the addon has got into a Godot
// editor, with the next step as a button beside the card's own (Enable, Open in Godot), and the
// Godot editor in use.
// Built once; setStatus() and setGodot() update it in place.
class AddonCard : public ActionCard
{
    Q_OBJECT
public:
    explicit AddonCard(QWidget *parent = nullptr);

    void setStatus(const AddonStatus &status, const GodotChain &chain, bool busy);
    // The editor in use, or why there is none.
    void setGodot(const GodotLocator &godot);

    // The status line for people.
    [[nodiscard]] static QString statusText(const AddonStatus &status);

    // The chain line: its text, its style class and a tool tip; no text for no line.
    struct ChainLine
    {
        QString text;
        const char *cls = "dim";
        QString toolTip;
    };
    [[nodiscard]] static ChainLine chainLine(const AddonStatus &status, const GodotChain &chain);

signals:
    // Install, Update or Reinstall (each installs over the old copy).
    void installRequested();
    void uninstallRequested();
    void enableRequested();
    void openInGodotRequested();

private:
    void showGodotLine();

    QLabel *m_status = nullptr;
    QLabel *m_chain = nullptr;
    ElidedLabel *m_godot = nullptr;
    QLabel *m_working = nullptr;
    QPushButton *m_enable = nullptr;
    QPushButton *m_openInGodot = nullptr;
    QPushButton *m_reinstall = nullptr;
    QPushButton *m_update = nullptr;
    QPushButton *m_uninstall = nullptr;
    QPushButton *m_install = nullptr;
    bool m_godotShown = false; // the project is one the editor line concerns
    QString m_godotText;
    const char *m_godotClass = "faint";
};
