#include "gui/settingsview.h"

#include "base/logger.h"
#include "core/backups.h"
#include "core/settings.h"
#include "core/updater.h"
#include "gui/widgets/focuskeeper.h"
#include "gui/widgets/theme.h"
#include "version.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScrollArea>
#include <QUrl>
#include <QVBoxLayout>

namespace {

using Theme::classedLabel;

QFrame *card(int spacing, QVBoxLayout **layout)
{
    auto *frame = new QFrame;
    Theme::setClass(frame, "card");
    *layout = new QVBoxLayout(frame);
    (*layout)->setSpacing(spacing);
    return frame;
}

QPushButton *classedButton(const QString &text, const char *cls)
{
    auto *button = new QPushButton(text);
    Theme::setClass(button, cls);
    button->setCursor(Qt::PointingHandCursor);
    return button;
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

} // namespace

SettingsView::SettingsView(Settings *settings, Updater *updater, QWidget *parent)
    : QWidget(parent), m_settings(settings), m_updater(updater)
{
    m_rootLayout = new QVBoxLayout(this);
    m_rootLayout->setContentsMargins(0, 0, 0, 0);
    buildUI();
}

void SettingsView::refresh()
{
    buildUI();
}

void SettingsView::buildUI()
{
    const FocusKeeper focus(this);
    if (m_scroll) {
        m_rootLayout->removeWidget(m_scroll);
        m_scroll->hide();
        m_scroll->deleteLater();
        m_scroll = nullptr;
    }

    // The content is attached before it is filled: widgets then get their style once, where they
    // end up, instead of again when a finished tree is moved into the page.
    m_scroll = new QScrollArea;
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff); // everything wraps or elides
    m_scroll->setFocusPolicy(Qt::NoFocus);                          // its controls are the Tab stops
    auto *content = new QWidget;
    m_scroll->setWidget(content);
    m_rootLayout->addWidget(m_scroll);
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
    const QString currentMode = m_settings->permissionMode();
    const std::pair<QString, QString> modes[] = {{QStringLiteral("safe_edit"), tr("Safe Edit")},
                                                 {QStringLiteral("full_control"), tr("Full Control")}};
    for (const auto &[mode, label] : modes) {
        auto *toggle = classedButton(label, "toggle");
        toggle->setProperty("active", mode == currentMode ? QLatin1String("true") : QLatin1String("false"));
        connect(toggle, &QPushButton::clicked, this, [this, mode = mode, label = label] {
            m_settings->setPermissionMode(mode);
            emit permissionModeChanged(mode);
            emit showToast(tr("Permission mode: %1").arg(label), 0);
            buildUI();
        });
        toggleRow->addWidget(toggle);
    }
    permissionLayout->addLayout(toggleRow);

    // Updates
    layout->addWidget(classedLabel(tr("UPDATES"), "section-title"));
    QVBoxLayout *updatesLayout = nullptr;
    layout->addWidget(card(12, &updatesLayout));
    auto *autoCheck = new QCheckBox(tr("Check for updates automatically"));
    autoCheck->setChecked(m_settings->checkUpdates()); // before connecting: building never writes the file
    connect(autoCheck, &QCheckBox::toggled, this, [this](bool on) { m_settings->setCheckUpdates(on); });
    updatesLayout->addWidget(autoCheck);
    auto *prereleases = new QCheckBox(tr("Include pre-releases"));
    prereleases->setChecked(m_settings->includePrereleases());
    connect(prereleases, &QCheckBox::toggled, this, [this](bool on) { m_settings->setIncludePrereleases(on); });
    updatesLayout->addWidget(prereleases);
    auto *checkNow = classedButton(tr("Check Now"), "secondary");
    connect(checkNow, &QPushButton::clicked, this, [this] {
        emit showToast(tr("Checking for updates..."), 0);
        emit updateCheckRequested();
    });
    updatesLayout->addWidget(checkNow, 0, Qt::AlignLeft); // natural width, like the buttons beside it
    QLabel *lastCheck = classedLabel(lastCheckText(m_settings->lastUpdateCheck()), "dim");
    lastCheck->setObjectName(QStringLiteral("lastUpdateCheck"));
    lastCheck->setWordWrap(true); // a failure's reason can be long
    updatesLayout->addWidget(lastCheck);

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
    auto *openBackups = classedButton(tr("Open Backups Folder"), "secondary");
    connect(openBackups, &QPushButton::clicked, this, [this] {
        const QString folder = Backups::backupsFolder();
        if (!QFileInfo(folder).isDir())
            emit showToast(tr("No backups yet: Tavrin makes the first before it changes a client's configuration."), 0);
        else
            openUrl(QUrl::fromLocalFile(folder), QDir::toNativeSeparators(folder));
    });
    backupsLayout->addWidget(openBackups, 0, Qt::AlignLeft);

    // About
    layout->addWidget(classedLabel(tr("ABOUT"), "section-title"));
    QVBoxLayout *aboutLayout = nullptr;
    layout->addWidget(card(8, &aboutLayout));
    auto *versionLabel =
        new QLabel(tr("%1 v%2").arg(QLatin1String(Tavrin::DisplayName), QLatin1String(Tavrin::Version)));
    versionLabel->setStyleSheet(QStringLiteral("font-weight: 600; background: transparent;"));
    aboutLayout->addWidget(versionLabel);
    aboutLayout->addWidget(classedLabel(tr("MCP server for Godot 4.x with 345 tools."), "dim"));

    auto *linkRow = new QHBoxLayout;
    const std::pair<QString, const char *> links[] = {
        {tr("Website"), Tavrin::WebsiteUrl}, {tr("GitHub"), Tavrin::GitHubUrl}, {tr("Documentation"), Tavrin::DocsUrl}};
    for (const auto &[label, url] : links) {
        auto *button = classedButton(label, "ghost");
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
    auto *openLog = classedButton(tr("Open Log File"), "ghost");
    connect(openLog, &QPushButton::clicked, this, [this] {
        const QFileInfo log(Logger::logFilePath());
        const QString target = log.exists() ? log.absoluteFilePath() : log.absolutePath();
        openUrl(QUrl::fromLocalFile(target), QDir::toNativeSeparators(target));
    });
    logRow->addWidget(openLog);
    aboutLayout->addLayout(logRow);

    layout->addStretch();
    focus.restore();
}

void SettingsView::openUrl(const QUrl &url, const QString &what)
{
    if (!QDesktopServices::openUrl(url))
        emit showToast(tr("Could not open %1: no program to open it was found").arg(what), 2);
}
