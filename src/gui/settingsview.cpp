#include "gui/settingsview.h"

#include "base/logger.h"
#include "core/backups.h"
#include "core/godotlocator.h"
#include "core/mcpserver.h"
#include "core/settings.h"
#include "gui/widgets/elidedlabel.h"
#include "gui/widgets/theme.h"
#include "gui/widgets/toast.h"
#include "version.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QUrl>
#include <QVBoxLayout>

namespace {

using Theme::classedButton;
using Theme::classedLabel;

QFrame *card(int spacing, QVBoxLayout **layout)
{
    auto *frame = new QFrame;
    Theme::setClass(frame, "card");
    *layout = new QVBoxLayout(frame);
    (*layout)->setSpacing(spacing);
    return frame;
}

// "Last checked: <when> — <outcome>", from the record the main window keeps of each check.
QString lastCheckText(const QJsonObject &check)
{
    const QDateTime when = QDateTime::fromString(check.value(QLatin1String("time")).toString(), Qt::ISODate);
    if (!when.isValid())
        return QObject::tr("Not checked yet.");
    const QString result = check.value(QLatin1String("result")).toString();
    const QString detail = check.value(QLatin1String("detail")).toString();
    QString outcome;
    if (result == QLatin1String("up_to_date"))
        outcome = QObject::tr("up to date");
    else if (result == QLatin1String("available"))
        outcome = QObject::tr("v%1 available").arg(detail);
    else
        outcome = QObject::tr("failed: %1").arg(detail);
    return QObject::tr("Last checked: %1 — %2").arg(QLocale().toString(when, QLocale::ShortFormat), outcome);
}

// What the server is, with the number of tools the last server test found, where one ran.
QString aboutText(int tools)
{
    if (tools < 0)
        return QObject::tr("MCP server for Godot 4.x.");
    return tools == 1 ? QObject::tr("MCP server for Godot 4.x with 1 tool.")
                      : QObject::tr("MCP server for Godot 4.x with %1 tools.").arg(tools);
}

} // namespace

SettingsView::SettingsView(Settings *settings, QWidget *parent)
    : QWidget(parent), m_settings(settings), m_chooseFile([](QWidget *dialogParent, const QString &start) {
          return QFileDialog::getOpenFileName(dialogParent, tr("Choose the Godot Editor"), start);
      })
{
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
}

void SettingsView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    build();
}

void SettingsView::refresh()
{
    build();
    showMode();
    // The handlers write only a value that differs from the settings, so showing them never writes.
    m_autoCheck->setChecked(m_settings->checkUpdates());
    m_prereleases->setChecked(m_settings->includePrereleases());
    m_lastCheck->setText(lastCheckText(m_settings->lastUpdateCheck()));
    m_about->setText(aboutText(m_settings->serverToolCount()));
}

void SettingsView::build()
{
    if (m_scroll)
        return;
    // The content is attached before it is filled: widgets then get their style once, where they
    // end up, instead of again when a finished tree is moved into the page.
    m_scroll = new QScrollArea(this);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff); // everything wraps or elides
    m_scroll->setFocusPolicy(Qt::NoFocus);                          // its controls are the Tab stops
    auto *content = new QWidget;
    m_scroll->setWidget(content);
    layout()->addWidget(m_scroll);
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(40, 32, 40, 32);
    layout->setSpacing(24);

    layout->addWidget(classedLabel(tr("Settings"), "title"));

    // Permission mode
    layout->addWidget(classedLabel(tr("PERMISSION MODE"), "section-title"));
    QVBoxLayout *permissionLayout = nullptr;
    layout->addWidget(card(12, &permissionLayout));
    QLabel *permissionText =
        classedLabel(tr("Controls what the MCP server is allowed to do in your Godot project."), "dim");
    permissionText->setWordWrap(true);
    permissionLayout->addWidget(permissionText);

    auto *toggleRow = new QHBoxLayout;
    for (const McpServer::Mode &mode : McpServer::modes()) {
        QPushButton *toggle = classedButton(mode.name, "toggle");
        connect(toggle, &QPushButton::clicked, this, [this, mode] {
            // The Setup model hears of it from the settings and re-registers the clients.
            m_settings->setPermissionMode(mode.value);
            emit showToast(tr("Permission mode: %1").arg(mode.name), Toast::Info);
        });
        toggleRow->addWidget(toggle);
        m_toggles << toggle;
    }
    permissionLayout->addLayout(toggleRow);
    // What each mode allows, beside the switch rather than behind a dialog: switching stays one click.
    for (const McpServer::Mode &mode : McpServer::modes()) {
        QLabel *about =
            classedLabel(tr("<b>%1</b>: %2").arg(mode.name.toHtmlEscaped(), mode.description.toHtmlEscaped()), "dim");
        about->setObjectName(QStringLiteral("modeDescription"));
        about->setTextFormat(Qt::RichText);
        about->setWordWrap(true);
        permissionLayout->addWidget(about);
    }
    connect(m_settings, &Settings::permissionModeChanged, this, &SettingsView::showMode);
    // Set from a terminal while the window was open.
    connect(m_settings, &Settings::changedElsewhere, this, &SettingsView::refresh);

    buildGodotSection(layout);

    // Updates
    layout->addWidget(classedLabel(tr("UPDATES"), "section-title"));
    QVBoxLayout *updatesLayout = nullptr;
    layout->addWidget(card(12, &updatesLayout));
    m_autoCheck = new QCheckBox(tr("Check for updates automatically"));
    m_autoCheck->setChecked(m_settings->checkUpdates()); // before connecting: building never writes the file
    connect(m_autoCheck, &QCheckBox::toggled, this, [this](bool on) {
        if (on != m_settings->checkUpdates())
            m_settings->setCheckUpdates(on);
    });
    updatesLayout->addWidget(m_autoCheck);
    m_prereleases = new QCheckBox(tr("Include pre-releases"));
    m_prereleases->setChecked(m_settings->includePrereleases());
    connect(m_prereleases, &QCheckBox::toggled, this, [this](bool on) {
        if (on != m_settings->includePrereleases())
            m_settings->setIncludePrereleases(on);
    });
    updatesLayout->addWidget(m_prereleases);
    QPushButton *checkNow = classedButton(tr("Check Now"), "secondary");
    // The main window says "Checking for updates..." and replaces it with the answer.
    connect(checkNow, &QPushButton::clicked, this, &SettingsView::updateCheckRequested);
    updatesLayout->addWidget(checkNow, 0, Qt::AlignLeft); // natural width, like the buttons beside it
    m_lastCheck = classedLabel(QString(), "dim");
    m_lastCheck->setObjectName(QStringLiteral("lastUpdateCheck"));
    m_lastCheck->setWordWrap(true); // a failure's reason can be long
    updatesLayout->addWidget(m_lastCheck);

    // Backups
    layout->addWidget(classedLabel(tr("BACKUPS"), "section-title"));
    QVBoxLayout *backupsLayout = nullptr;
    layout->addWidget(card(10, &backupsLayout));
    QLabel *backupsText = classedLabel(tr("Before every change to an AI client's configuration, Tavrin keeps a copy "
                                          "of the file: the newest %1 per client and the one from before its first "
                                          "change, readable by you only. Restore one "
                                          "from the client's \u22ef menu on the Setup page.")
                                           .arg(Backups::KeptPerClient),
                                       "dim");
    backupsText->setWordWrap(true);
    backupsLayout->addWidget(backupsText);
    QLabel *backupsPath = classedLabel(Backups::backupsFolder(), "mono");
    backupsPath->setObjectName(QStringLiteral("backupsFolder"));
    backupsPath->setTextInteractionFlags(Qt::TextSelectableByMouse);
    backupsLayout->addWidget(backupsPath);
    QPushButton *openBackups = classedButton(tr("Open Backups Folder"), "secondary");
    connect(openBackups, &QPushButton::clicked, this, [this] {
        const QString folder = Backups::backupsFolder();
        if (!QFileInfo(folder).isDir())
            emit showToast(tr("No backups yet: Tavrin makes the first before it changes a client's configuration."),
                           Toast::Info);
        else
            openUrl(QUrl::fromLocalFile(folder), QDir::toNativeSeparators(folder));
    });
    backupsLayout->addWidget(openBackups, 0, Qt::AlignLeft);

    // About
    layout->addWidget(classedLabel(tr("ABOUT"), "section-title"));
    QVBoxLayout *aboutLayout = nullptr;
    layout->addWidget(card(8, &aboutLayout));
    aboutLayout->addWidget(classedLabel(
        tr("%1 v%2").arg(QLatin1String(Tavrin::DisplayName), QLatin1String(Tavrin::Version)), "item-name"));
    m_about = classedLabel(QString(), "dim");
    m_about->setObjectName(QStringLiteral("aboutServer"));
    aboutLayout->addWidget(m_about);
    connect(m_settings, &Settings::serverToolCountChanged, m_about,
            [this](int tools) { m_about->setText(aboutText(tools)); });

    auto *linkRow = new QHBoxLayout;
    const std::pair<QString, const char *> links[] = {
        {tr("Website"), Tavrin::WebsiteUrl}, {tr("GitHub"), Tavrin::GitHubUrl}, {tr("Documentation"), Tavrin::DocsUrl}};
    for (const auto &[label, url] : links) {
        QPushButton *button = classedButton(label, "ghost");
        const QUrl target(QString::fromLatin1(url));
        connect(button, &QPushButton::clicked, this, [this, target] { openUrl(target, target.toString()); });
        linkRow->addWidget(button);
    }
    linkRow->addStretch();
    aboutLayout->addLayout(linkRow);

    // The log's place, selectable for a bug report, and a button to open it.
    auto *logRow = new QHBoxLayout;
    auto *logPath = new QLineEdit(QDir::toNativeSeparators(Logger::logFilePath()));
    logPath->setObjectName(QStringLiteral("logPath"));
    logPath->setReadOnly(true);
    logPath->setAccessibleName(tr("Log file"));
    logPath->setCursorPosition(0);
    logRow->addWidget(logPath, 1);
    QPushButton *openLog = classedButton(tr("Open Log File"), "ghost");
    connect(openLog, &QPushButton::clicked, this, [this] {
        const QFileInfo log(Logger::logFilePath());
        const QString target = log.exists() ? log.absoluteFilePath() : log.absolutePath();
        openUrl(QUrl::fromLocalFile(target), QDir::toNativeSeparators(target));
    });
    logRow->addWidget(openLog);
    aboutLayout->addLayout(logRow);

    layout->addStretch();
    refresh();
    // At once and whole, also when built while the page is being shown.
    m_scroll->show();
}

void SettingsView::showMode()
{
    const QString current = m_settings->permissionMode();
    const QList<McpServer::Mode> &modes = McpServer::modes();
    for (int i = 0; i < m_toggles.size(); ++i) {
        QPushButton *toggle = m_toggles.at(i);
        const QString active = modes.at(i).value == current ? QStringLiteral("true") : QStringLiteral("false");
        if (toggle->property("active").toString() == active)
            continue;
        toggle->setProperty("active", active);
        toggle->style()->unpolish(toggle);
        toggle->style()->polish(toggle);
    }
}

void SettingsView::openUrl(const QUrl &url, const QString &what)
{
    if (!QDesktopServices::openUrl(url))
        emit showToast(tr("Could not open %1: no program to open it was found").arg(what), Toast::Error);
}

void SettingsView::setGodot(GodotLocator *godot)
{
    m_godot = godot;
}

void SettingsView::setFileChooser(FileChooser chooser)
{
    m_chooseFile = std::move(chooser);
}

void SettingsView::buildGodotSection(QVBoxLayout *layout)
{
    if (!m_godot)
        return;
    layout->addWidget(classedLabel(tr("GODOT EDITOR"), "section-title"));
    QVBoxLayout *godotLayout = nullptr;
    layout->addWidget(card(8, &godotLayout));
    m_godotName = classedLabel(QString(), "item-name");
    m_godotName->setObjectName(QStringLiteral("godotName"));
    godotLayout->addWidget(m_godotName);
    m_godotProgram = new ElidedLabel;
    m_godotProgram->setObjectName(QStringLiteral("godotProgram"));
    Theme::setClass(m_godotProgram, "mono");
    godotLayout->addWidget(m_godotProgram);
    m_godotNote = classedLabel(QString(), "dim");
    m_godotNote->setObjectName(QStringLiteral("godotNote"));
    m_godotNote->setWordWrap(true);
    godotLayout->addWidget(m_godotNote);

    auto *row = new QHBoxLayout;
    m_chooseGodot = classedButton(tr("Choose…"), "secondary");
    m_chooseGodot->setAccessibleName(tr("Choose the Godot editor"));
    connect(m_chooseGodot, &QPushButton::clicked, this, &SettingsView::chooseGodot);
    row->addWidget(m_chooseGodot);
    m_detectGodot = classedButton(tr("Detect again"), "ghost");
    m_detectGodot->setToolTip(tr("Forget the chosen program and use the newest Godot 4 found"));
    connect(m_detectGodot, &QPushButton::clicked, m_godot, &GodotLocator::detectAgain);
    row->addWidget(m_detectGodot);
    row->addStretch();
    godotLayout->addLayout(row);

    connect(m_godot, &GodotLocator::changed, this, &SettingsView::showGodot);
    connect(m_godot, &GodotLocator::chooseFinished, this, [this](bool ok, const QString &message) {
        if (ok) {
            emit showToast(message, Toast::Success);
            return;
        }
        auto *box = new QMessageBox(QMessageBox::Warning, tr("Not a Godot 4 editor"), message, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    });
    m_godot->start();
    showGodot();
}

void SettingsView::showGodot()
{
    const std::optional<GodotInstall> &godot = m_godot->current();
    const bool busy = m_godot->isSearching() || m_godot->isChecking();
    QString name;
    QString note;
    if (m_godot->isChecking()) {
        name = tr("Asking the chosen program for its version…");
    } else if (m_godot->isSearching()) {
        name = tr("Looking for Godot 4…");
    } else if (godot) {
        name = godot->version.mono ? tr("Godot %1 (.NET)").arg(godot->version.text())
                                   : tr("Godot %1").arg(godot->version.text());
        note = m_godot->isChosen() ? tr("Chosen by you. “Open in Godot” starts it on a project.")
                                   : tr("The newest Godot 4 found on this computer. “Open in Godot” starts it on a "
                                        "project.");
    } else {
        name = tr("No Godot 4 found");
        note = tr("Install Godot 4, or choose its program if it is already here.");
    }
    m_godotName->setText(name);
    const bool shown = godot && !busy;
    m_godotProgram->setFullText(
        shown ? (QStringList{QDir::toNativeSeparators(godot->program)} + godot->arguments).join(QLatin1Char(' '))
              : QString());
    m_godotProgram->setVisible(shown);
    m_godotNote->setText(note);
    m_godotNote->setVisible(!note.isEmpty());
    m_chooseGodot->setEnabled(!busy);
    m_detectGodot->setEnabled(!busy);
}

void SettingsView::chooseGodot()
{
    const std::optional<GodotInstall> &godot = m_godot->current();
    const QString start = godot ? QFileInfo(godot->program).absolutePath() : QDir::homePath();
    const QString path = m_chooseFile(this, start);
    if (!path.isEmpty())
        m_godot->choose(QDir::fromNativeSeparators(path));
}
