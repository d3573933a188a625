#include "settingsview.h"

#include "logger.h"
#include "settings.h"
#include "theme.h"
#include "updater.h"
#include "version.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
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
    auto *checkNow = classedButton(tr("Check Now"), "secondary");
    connect(checkNow, &QPushButton::clicked, this, [this] {
        emit showToast(tr("Checking for updates..."), 0);
        m_updater->checkForUpdates();
    });
    updatesLayout->addWidget(checkNow, 0, Qt::AlignLeft); // natural width, like the buttons beside it

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
        connect(button, &QPushButton::clicked, this, [target] { QDesktopServices::openUrl(target); });
        linkRow->addWidget(button);
    }
    linkRow->addStretch();
    aboutLayout->addLayout(linkRow);

    auto *openLog = classedButton(tr("Open Log File"), "ghost");
    connect(openLog, &QPushButton::clicked, this, [] {
        const QFileInfo log(Logger::logFilePath());
        QDesktopServices::openUrl(QUrl::fromLocalFile(log.exists() ? log.absoluteFilePath() : log.absolutePath()));
    });
    aboutLayout->addWidget(openLog, 0, Qt::AlignLeft);

    layout->addStretch();
}
