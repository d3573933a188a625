#include "core/godotlocator.h"

#include "core/asynctask.h"
#include "core/settings.h"

#include <QDir>

GodotLocator::GodotLocator(Settings *settings, QThreadPool *pool, QObject *parent)
    : QObject(parent), m_settings(settings), m_pool(pool)
{}

bool GodotLocator::isChosen() const
{
    const QString chosen = m_settings->godotPath();
    return m_current && !chosen.isEmpty() && m_current->arguments.isEmpty() &&
           m_current->program == GodotEditors::programOf(chosen);
}

QString GodotLocator::unavailableReason() const
{
    if (m_current)
        return {};
    if (isSearching())
        return tr("Looking for Godot 4…");
    return tr("No Godot 4 found: choose it in Settings");
}

void GodotLocator::start()
{
    if (m_started)
        return;
    detect();
}

void GodotLocator::detectAgain()
{
    m_settings->setGodotPath(QString());
    detect();
}

void GodotLocator::detect()
{
    m_started = true;
    m_searching = true;
    m_checking = false;
    const int generation = ++m_generation;
    const QString chosen = m_settings->godotPath();
    emit changed();
    AsyncTask::runThenCallback(
        m_pool, this, [chosen] { return GodotEditors::inUse(chosen); },
        [this, generation](const std::optional<GodotInstall> &found) {
            if (generation != m_generation)
                return;
            m_searching = false;
            m_current = found;
            emit changed();
        });
}

void GodotLocator::choose(const QString &path)
{
    m_started = true;
    m_searching = false;
    m_checking = true;
    const int generation = ++m_generation;
    emit changed();
    AsyncTask::runThenCallback(
        m_pool, this, [path] { return GodotEditors::probe(GodotEditors::programOf(path)); },
        [this, generation, path](const std::optional<GodotInstall> &answer) {
            if (generation != m_generation)
                return;
            m_checking = false;
            const QString shown = QDir::toNativeSeparators(path);
            if (!answer) {
                emit changed();
                emit chooseFinished(false, tr("%1 is not a Godot editor: asked for its version (--version), it gave "
                                              "no Godot version.")
                                               .arg(shown));
                return;
            }
            if (answer->version.tooOld()) {
                emit changed();
                emit chooseFinished(false, tr("%1 is Godot %2. Tavrin MCP needs Godot 4: choose a Godot 4 editor.")
                                               .arg(shown, answer->version.text()));
                return;
            }
            m_settings->setGodotPath(path);
            m_current = answer;
            emit changed();
            emit chooseFinished(true, tr("Godot %1 will open your projects").arg(answer->version.text()));
        });
}

bool GodotLocator::open(const QString &folder, QString *error) const
{
    if (!m_current) {
        if (error)
            *error = unavailableReason();
        return false;
    }
    return GodotEditors::open(m_current, folder, error);
}
