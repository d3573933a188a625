#pragma once

#include "core/installation.h"

#include <QDialog>
#include <QString>

struct UpdateInfo;

// The offer of a newer release: what changed, and what fits this machine. "Download" where the
// release has our installer or Debian package for it, "Open Release Page" (with how this copy was
// installed) everywhere else, and "Skip This Version". Its second form follows a downloaded Debian
// package and shows the command that installs it.
class UpdatePrompt : public QDialog
{
    Q_OBJECT
public:
    // The notes shown at most; GitHub allows 125,000 characters, a window shows a few hundred lines.
    static constexpr qsizetype MaxNotes = 20000;

    UpdatePrompt(const UpdateInfo &info, QWidget *parent = nullptr);
    // The second form: the command that installs a downloaded Debian package.
    [[nodiscard]] static UpdatePrompt *forDownloadedPackage(const QString &packagePath, QWidget *parent = nullptr);

    // The notes as shown: cut at a line's end before maxChars, an open code block closed, and a
    // line saying that the release page has the rest.
    [[nodiscard]] static QString notesExcerpt(const QString &notes, qsizetype maxChars = MaxNotes);
    // "sudo apt install /path/to/tavrin-desktop_1.0.2_amd64.deb", quoted for the shell where needed.
    [[nodiscard]] static QString installCommand(const QString &packagePath);
    // How this copy was installed, for a release with nothing that fits it.
    [[nodiscard]] static QString installationText(Installation::Kind kind);

signals:
    void downloadRequested(const QString &url);
    void versionSkipped(const QString &version);
    void showToast(const QString &msg, int type);

private:
    explicit UpdatePrompt(QWidget *parent);
    void openReleasePage(const QString &page);
};
