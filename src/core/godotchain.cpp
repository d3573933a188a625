#include "core/godotchain.h"

#include "core/addon.h"
#include "core/godoteditors.h"

GodotChain GodotChain::read(const QString &folder)
{
    GodotChain chain;
    chain.known = true;
    chain.folder = folder;
    chain.info = GodotProject::read(folder);
    chain.plugin = GodotProject::pluginState(folder);
    chain.problem = GodotProject::pluginProblem(folder);
    chain.editors = GodotEditors::editorsFor(folder);
    chain.session = GodotProject::loadedIn(folder);
    return chain;
}

GodotChain::Step GodotChain::step(const AddonStatus &addon) const
{
    using State = GodotProject::PluginState;
    if (!known)
        return Step::Unknown;
    if (GodotProject::isBeforeGodot4(info))
        return Step::NeedsGodot4;
    if (!info.readable)
        return Step::Unreadable;
    // What runs now comes first: a loaded addon stays loaded until the editor closes, whatever the
    // files say meanwhile.
    if (session && addon.installed) {
        const bool older = !addon.installedVersion.isEmpty() && session->addonVersion != addon.installedVersion;
        return older ? Step::Reload : Step::Loaded;
    }
    switch (plugin) {
    case State::NotInstalled:
        return Step::None;
    case State::EnabledMissing:
        return Step::ListedMissing;
    case State::Broken:
        return Step::Broken;
    case State::Disabled:
        return editors.isEmpty() ? Step::Enable : Step::TickInEditor;
    case State::Enabled:
        break;
    }
    return editors.isEmpty() ? Step::Open : Step::Reopen;
}

QString GodotChain::loadedGodot() const
{
    if (!session)
        return {};
    const std::optional<GodotVersion> version = GodotEditors::parseVersion(session->godotVersion);
    return version ? version->text() : session->godotVersion;
}

QString GodotChain::inProject(const QString &message) const
{
    if (folder.isEmpty())
        return message;
    QString text = message;
    return text.replace(folder + QLatin1Char('/'), QLatin1String("res://"));
}
