#pragma once

#include "core/godoteditors.h"

#include <QObject>
#include <QString>

#include <optional>

class QThreadPool;
class Settings;

// The Godot editor the app opens projects with: the program chosen in Settings (godot_path) while
// it answers as Godot 4, else the newest Godot 4 found. Finding and probing start programs and wait
// for them, so they run on a worker pool; the answer is kept here, for the pages to read at once.
// Lives on the GUI thread.
class GodotLocator : public QObject
{
    Q_OBJECT
public:
    GodotLocator(Settings *settings, QThreadPool *pool, QObject *parent = nullptr);

    [[nodiscard]] const std::optional<GodotInstall> &current() const { return m_current; }
    // Not known yet: looking for Godot, or not yet started to.
    [[nodiscard]] bool isSearching() const { return m_searching || !m_started; }
    // A program given to choose() is being asked for its version.
    [[nodiscard]] bool isChecking() const { return m_checking; }
    // The editor in use is the one chosen in Settings, not one found.
    [[nodiscard]] bool isChosen() const;
    // Why no project can be opened in Godot now; empty when one can.
    [[nodiscard]] QString unavailableReason() const;

    // Looks for the editor in use, once: later calls do nothing.
    void start();
    // Forgets the chosen program and looks again.
    void detectAgain();
    // Asks the program for its version: a Godot 4 becomes the choice, anything else is refused
    // with the reason (chooseFinished).
    void choose(const QString &path);
    // Starts the editor in use on the project, detached.
    bool open(const QString &folder, QString *error) const;

signals:
    // The editor in use, or the search for it, changed.
    void changed();
    void chooseFinished(bool ok, const QString &message);

private:
    void detect();

    Settings *m_settings;
    QThreadPool *m_pool;
    std::optional<GodotInstall> m_current;
    bool m_started = false;
    bool m_searching = false;
    bool m_checking = false;
    // +1 at every search and choice: an answer that arrives after a newer question is dropped.
    int m_generation = 0;
};
