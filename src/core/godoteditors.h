#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>

// A Godot version as `godot --version` prints it: "4.3.stable.official.77dcf97d8".
struct GodotVersion
{
    int major = 0;
    int minor = 0;
    int patch = 0;
    QString build; // "official", "arch_linux", "custom_build"; empty when not given
    bool mono = false;
    QString status; // "stable", "rc1", "dev3"; empty when not given

    // Our addon is written for Godot 4's API; Godot 3 is too old for it.
    [[nodiscard]] bool tooOld() const { return major < 4; }
    // "4.3", "4.2.2", "4.4-rc1": for people.
    [[nodiscard]] QString text() const;
};

// A Godot that can be started: `program` with `arguments` before the editor's own ("flatpak" with
// "run org.godotengine.Godot", or the executable with none).
struct GodotInstall
{
    QString program;
    QStringList arguments;
    GodotVersion version;
};

// A project from Godot's own project list.
struct GodotListedProject
{
    QString path;
    QString name;
    bool favorite = false;
};

// Godot itself on this machine: its editors running on a project, the installed copies, and the
// project list its project manager keeps. Stateless; finding and probing run programs and wait for
// them, so callers keep them off the GUI thread.
class GodotEditors
{
public:
    // How long a `--version` probe may take before it is killed.
    static constexpr int ProbeLimitMs = 5000;
    static constexpr int ListedProjectsLimit = 10;

    // The processes of Godot editors that have the project open. On Linux, from every process's
    // command line and working directory (`--path <dir>` or `<dir>/project.godot`, with --editor or
    // -e; a project.godot path opens the editor by itself); a game started from the editor carries
    // --editor-pid and is no editor. Everywhere, the process named by our addon's record
    // (GodotProject::loadedIn), which is all other systems have.
    [[nodiscard]] static QList<qint64> editorsFor(const QString &folder);
    // The process is alive and (where the system tells) runs a program whose name starts with
    // "godot", in any case.
    [[nodiscard]] static bool isGodotProcess(qint64 pid);

    // Every Godot found (PATH, downloads, Flatpak, winget, Scoop, /Applications) that answers
    // `--version`, each copy once, in that order. Godot 3 copies are included, marked by tooOld().
    [[nodiscard]] static QList<GodotInstall> find();
    // Runs `program arguments... --version` (ProbeLimitMs at most).
    [[nodiscard]] static std::optional<GodotInstall> probe(const QString &program, const QStringList &arguments = {});
    // Reads the first line of `output` that starts with a version: "4.3", "4.2.2.stable.arch_linux",
    // "4.4.1.stable.mono.official.49a5bc7b6", "4.3-stable (official)".
    [[nodiscard]] static std::optional<GodotVersion> parseVersion(const QString &output);
    // The newest Godot 4 of a list (a stable release before a preview of the same number; the
    // first found on a tie).
    [[nodiscard]] static std::optional<GodotInstall> best(const QList<GodotInstall> &found);
    // The program a chosen path stands for: the editor inside a macOS .app, else the path itself.
    [[nodiscard]] static QString programOf(const QString &chosenPath);
    // The Godot editor in use: the user's choice (a program path, or a macOS .app) when it answers
    // as Godot 4, else the best one found.
    [[nodiscard]] static std::optional<GodotInstall> inUse(const QString &chosenPath);
    // Starts the editor on the project, detached: `<godot> --path <folder> --editor`.
    static bool open(const std::optional<GodotInstall> &godot, const QString &folder, QString *error);

    // Where Godot keeps its project list (projects.cfg) on this system, the Flatpak's included.
    [[nodiscard]] static QStringList projectListFiles();
    // Godot 4 projects of that list that exist, favourites first, none of `exclude`, at most `limit`.
    // Read only; a file that is not Godot's config text is skipped.
    [[nodiscard]] static QList<GodotListedProject> listedProjects(const QStringList &exclude,
                                                                  int limit = ListedProjectsLimit);
};
