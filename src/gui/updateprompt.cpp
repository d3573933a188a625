#include "gui/updateprompt.h"

#include "core/updater.h"
#include "gui/widgets/theme.h"
#include "gui/widgets/toast.h"
#include "version.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>

namespace {

bool isWebAddress(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return (scheme == QLatin1String("https") || scheme == QLatin1String("http")) && !url.host().isEmpty();
}

// Images in the notes are never fetched: a local path in a release's Markdown would otherwise be
// read from disk (a FIFO or /dev/zero included) when the document is laid out. Each one gets an
// empty picture in the document's cache first.
void keepImagesOut(QTextDocument *document)
{
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
            const QTextCharFormat format = fragment.fragment().charFormat();
            if (format.isImageFormat())
                document->addResource(QTextDocument::ImageResource, QUrl(format.toImageFormat().name()), QImage());
        }
    }
}

QHBoxLayout *buttonRow(QVBoxLayout *layout)
{
    auto *row = new QHBoxLayout;
    row->setSpacing(8);
    layout->addLayout(row);
    return row;
}

} // namespace

UpdatePrompt::UpdatePrompt(QWidget *parent) : QDialog(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::NonModal); // the user may go on working while it is open
}

UpdatePrompt::UpdatePrompt(const UpdateInfo &info, QWidget *parent) : UpdatePrompt(parent)
{
    setWindowTitle(tr("Update Available"));
    resize(560, 480);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(10);
    layout->addWidget(Theme::classedLabel(
        tr("%1 %2 is available").arg(QLatin1String(Tavrin::DisplayName), info.latestVersion), "dialog-title"));
    layout->addWidget(Theme::classedLabel(tr("You have version %1.").arg(info.currentVersion), "dim"));
    if (info.downloadUrl.isEmpty()) {
        QLabel *how = Theme::classedLabel(installationText(info.installation), "dim");
        how->setObjectName(QStringLiteral("installedHow"));
        how->setWordWrap(true);
        layout->addWidget(how);
    }

    layout->addWidget(Theme::classedLabel(tr("What's new"), "section-title"));
    auto *notes = new QTextBrowser;
    notes->setObjectName(QStringLiteral("releaseNotes"));
    // Links go to the browser, and only web addresses: a file link must not be opened, nor loaded
    // into the view.
    notes->setOpenLinks(false);
    connect(notes, &QTextBrowser::anchorClicked, this, [](const QUrl &url) {
        if (isWebAddress(url))
            QDesktopServices::openUrl(url);
    });
    auto *document = new QTextDocument(notes);
    if (info.releaseNotes.trimmed().isEmpty()) {
        document->setPlainText(tr("This release has no notes."));
    } else {
        // Raw HTML stays text: it could pull in style sheets from anywhere.
        document->setMarkdown(
            notesExcerpt(info.releaseNotes),
            QTextDocument::MarkdownFeatures(QTextDocument::MarkdownDialectGitHub | QTextDocument::MarkdownNoHTML));
        keepImagesOut(document);
    }
    notes->setDocument(document); // laid out only now, with the images already in its cache
    layout->addWidget(notes, 1);

    QHBoxLayout *row = buttonRow(layout);
    QPushButton *skip = Theme::classedButton(tr("Skip This Version"), "ghost");
    connect(skip, &QPushButton::clicked, this, [this, version = info.latestVersion] {
        emit versionSkipped(version);
        reject();
    });
    row->addWidget(skip);
    row->addStretch();
    QPushButton *later = Theme::classedButton(tr("Later"), "secondary");
    connect(later, &QPushButton::clicked, this, &QDialog::reject);
    row->addWidget(later);
    QPushButton *main = nullptr;
    if (!info.downloadUrl.isEmpty()) {
        main = Theme::classedButton(tr("Download"), "primary");
        connect(main, &QPushButton::clicked, this, [this, url = info.downloadUrl] {
            emit downloadRequested(url);
            accept();
        });
    } else {
        main = Theme::classedButton(tr("Open Release Page"), "primary");
        connect(main, &QPushButton::clicked, this, [this, page = info.releasePage] {
            openReleasePage(page);
            accept();
        });
    }
    main->setDefault(true);
    row->addWidget(main);
    for (QPushButton *button : {skip, later, main})
        button->setCursor(Qt::PointingHandCursor);
}

UpdatePrompt *UpdatePrompt::forDownloadedPackage(const QString &packagePath, QWidget *parent)
{
    auto *prompt = new UpdatePrompt(parent);
    prompt->setWindowTitle(tr("Install the Update"));
    prompt->resize(600, 0);
    auto *layout = new QVBoxLayout(prompt);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(10);
    layout->addWidget(
        Theme::classedLabel(tr("%1 is downloaded").arg(QFileInfo(packagePath).fileName()), "dialog-title"));
    QLabel *hint =
        Theme::classedLabel(tr("Install it with this command in a terminal; it asks for your password:"), "dim");
    hint->setWordWrap(true);
    layout->addWidget(hint);
    auto *command = new QLineEdit(installCommand(packagePath));
    command->setObjectName(QStringLiteral("installCommand"));
    command->setReadOnly(true); // selectable, not editable
    command->setCursorPosition(0);
    layout->addWidget(command);

    QHBoxLayout *row = buttonRow(layout);
    row->addStretch();
    QPushButton *copy = Theme::classedButton(tr("Copy"), "secondary");
    connect(copy, &QPushButton::clicked, prompt, [copy, command] {
        QGuiApplication::clipboard()->setText(command->text());
        copy->setText(tr("Copied"));
    });
    row->addWidget(copy);
    QPushButton *close = Theme::classedButton(tr("Close"), "primary");
    connect(close, &QPushButton::clicked, prompt, &QDialog::accept);
    close->setDefault(true);
    row->addWidget(close);
    return prompt;
}

QString UpdatePrompt::notesExcerpt(const QString &notes, qsizetype maxChars)
{
    if (notes.size() <= maxChars)
        return notes;
    qsizetype cut = notes.lastIndexOf(QLatin1Char('\n'), maxChars - 1);
    if (cut < maxChars / 2) // one endless line: cut inside it, never between a surrogate pair's halves
        cut = maxChars - (notes.at(maxChars - 1).isHighSurrogate() ? 1 : 0);
    QString excerpt = notes.left(cut);
    static const QRegularExpression s_fence(QStringLiteral("^ {0,3}(```|~~~)"), QRegularExpression::MultilineOption);
    qsizetype fences = 0;
    for (auto it = s_fence.globalMatch(excerpt); it.hasNext(); it.next())
        ++fences;
    if (fences % 2 != 0)
        excerpt += QLatin1String("\n```");
    return excerpt + QLatin1String("\n\n*") + tr("The notes go on; the release page has all of them.") +
           QLatin1Char('*');
}

QString UpdatePrompt::installCommand(const QString &packagePath)
{
    // apt takes a path with a slash in it as a file, from any folder.
    static const QRegularExpression s_plain(QStringLiteral("^[A-Za-z0-9_./+:@%=,-]+$"));
    QString path = packagePath;
    if (!s_plain.match(path).hasMatch())
        path = QLatin1Char('\'') + path.replace(QLatin1String("'"), QLatin1String("'\\''")) + QLatin1Char('\'');
    return QLatin1String("sudo apt install ") + path;
}

QString UpdatePrompt::installationText(Installation::Kind kind)
{
    switch (kind) {
    case Installation::Kind::WindowsInstaller:
        return tr("This release has no Windows installer.");
    case Installation::Kind::DebianPackage:
        return tr("Installed from our Debian package, but this release has none for this machine.");
    case Installation::Kind::OtherPackage:
        return tr("Installed from a package we do not ship");
    case Installation::Kind::SourceBuild:
        break;
    }
    return tr("Built from source");
}

void UpdatePrompt::openReleasePage(const QString &page)
{
    if (!QDesktopServices::openUrl(QUrl(page)))
        emit showToast(tr("Could not open %1: no program to open it was found").arg(page), Toast::Error);
}
