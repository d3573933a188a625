#include "gui/mainwindow.h"

#include "core/godotlocator.h"
#include "core/godotproject.h"
#include "core/settings.h"
#include "core/setupmodel.h"
#include "core/updater.h"
#include "gui/downloaddialog.h"
#include "gui/projectview.h"
#include "gui/settingsview.h"
#include "gui/setup/setupview.h"
#include "gui/updateprompt.h"
#include "gui/widgets/icons.h"
#include "gui/widgets/theme.h"
#include "gui/widgets/toast.h"
#include "version.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <functional>
#include <utility>

namespace {

const QString s_logo = QStringLiteral(":/branding/tavrin.ico");
const QLatin1String s_navColour(Theme::Palette::TextDim);
const QLatin1String s_navActiveColour(Theme::Palette::AccentLight);
constexpr int s_navIconSize = 18;
constexpr int s_toastMs = 3000;
constexpr int s_undoMs = 6000; // time enough to find the link after noticing the mistake
constexpr int s_startupCheckDelayMs = 1000;
constexpr QSize s_minimumSize(960, 640);
constexpr QSize s_initialSize(1060, 720);
// Room left around the window for its frame and title bar when it is fitted to a screen.
constexpr QSize s_frameAllowance(16, 48);

enum Page { ProjectsPage = 0, SetupPage = 1, SettingsPage = 2 };

// A manual update check's toasts share this key: the answer replaces "Checking for updates...".
const QString s_updateToast = QStringLiteral("update-check");

// A shortcut as the platform writes it, for tool tips.
QString shortcutText(const QKeySequence &keys)
{
    return keys.toString(QKeySequence::NativeText);
}

const QKeySequence s_refreshKeys(Qt::Key_F5);
const QKeySequence s_pageKeys[] = {QKeySequence(Qt::CTRL | Qt::Key_1), QKeySequence(Qt::CTRL | Qt::Key_2),
                                   QKeySequence(Qt::CTRL | Qt::Key_3)};

// The application's icon as main() set it: decoding the .ico reads all seven of its sizes, which
// the first frame should pay for once.
QIcon appIcon()
{
    const QIcon icon = QGuiApplication::windowIcon();
    return icon.isNull() ? QIcon(s_logo) : icon;
}

// The sidebar's icons, in page order.
const QByteArray &navIcon(int index)
{
    switch (index) {
    case SetupPage:
        return Icons::WRENCH;
    case SettingsPage:
        return Icons::GEAR;
    default:
        return Icons::FOLDER;
    }
}

} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(QLatin1String(Tavrin::AppName));

    m_nam = new QNetworkAccessManager(this);
    m_settings = new Settings(this);
    placeWindow();
    m_setupModel = new SetupModel(m_settings, this);
    m_updater = new Updater(m_nam, QLatin1String(Tavrin::Version), this);
    m_updater->setSettings(m_settings); // its schedule, ETag, skipped version and channel

    // Parented from the start, so that the pages' widgets get their final style once instead of
    // again at every move of the tree they sit in.
    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("central"));
    auto *centralLayout = new QHBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    centralLayout->setSpacing(0);

    auto *sidebar = new QWidget(central);
    sidebar->setObjectName(QStringLiteral("sidebar"));
    sidebar->setFixedWidth(220);
    buildSidebar(sidebar);
    centralLayout->addWidget(sidebar);

    auto *content = new QWidget(central);
    content->setObjectName(QStringLiteral("content"));
    auto *contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    m_stack = new QStackedWidget(content);
    contentLayout->addWidget(m_stack);

    m_projectView = new ProjectView(m_settings, m_stack);
    m_setupView = new SetupView(m_setupModel, m_stack);
    m_settingsView = new SettingsView(m_settings, m_stack);
    // One Godot editor for every page that opens a project in it, looked for once the window is up.
    m_projectView->setGodot(m_setupModel->godot());
    m_settingsView->setGodot(m_setupModel->godot());
    m_stack->addWidget(m_projectView);
    m_stack->addWidget(m_setupView);
    m_stack->addWidget(m_settingsView);

    centralLayout->addWidget(content, 1);
    setCentralWidget(central);
    // The window starts with the focus here rather than on the first button, whose focus ring
    // would then greet every mouse user; the first Tab goes to the current page.
    content->setFocusPolicy(Qt::ClickFocus);
    content->setFocus();

    connect(m_projectView, &ProjectView::projectSelected, this, &MainWindow::onProjectSelected);
    connect(m_projectView, &ProjectView::recentProjectRemoved, this, [this](const QJsonObject &entry, int index) {
        const QString name = entry.value(QLatin1String("name")).toString();
        Toast::showWithAction(centralWidget(), tr("Removed “%1” from recent projects").arg(name), Toast::Info, s_undoMs,
                              tr("Undo"), [this, entry, index] {
                                  m_settings->restoreRecentProject(entry, index);
                                  m_projectView->refresh();
                              });
    });
    connect(m_setupView, &SetupView::showToast, this, &MainWindow::toast);
    connect(m_settingsView, &SettingsView::showToast, this, &MainWindow::toast);
    connect(m_settingsView, &SettingsView::updateCheckRequested, this, [this] { checkForUpdates(true); });
    connect(m_updater, &Updater::updateChecked, this, &MainWindow::onUpdateChecked);
    connect(m_updater, &Updater::checkFailed, this, &MainWindow::onUpdateCheckFailed);
    connect(m_updater, &Updater::downloadFinished, this, [this](const QString &filePath) {
        const QFileInfo file(filePath);
        toast(tr("Update downloaded: %1").arg(file.fileName()), Toast::Success);
        if (file.suffix() == QLatin1String("deb")) // installing it takes a command, which we show
            UpdatePrompt::forDownloadedPackage(file.absoluteFilePath(), this)->show();
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(file.absolutePath())))
            toast(tr("Could not open %1: no program to open it was found")
                      .arg(QDir::toNativeSeparators(file.absolutePath())),
                  Toast::Error);
    });
    connect(m_updater, &Updater::downloadFailed, this,
            [this](const QString &error) { toast(tr("Update download failed: %1").arg(error), Toast::Error); });

    setupShortcuts();
    setupTray();
    switchView(ProjectsPage);
    // The welcome box and the start-up update query wait for the window's first expose (eventFilter).
}

// The usual sizes where they fit; otherwise no larger than the screen's free area, so that the whole
// window can always be seen (a 960 x 640 minimum is 1920 x 1280 device pixels at 200 %). The last
// size and place are restored where they still fit a present screen.
void MainWindow::placeWindow()
{
    QScreen *primary = QGuiApplication::primaryScreen();
    const QSize room = primary ? primary->availableGeometry().size() - s_frameAllowance : s_initialSize;
    setMinimumSize(s_minimumSize.boundedTo(room));
    resize(s_initialSize.boundedTo(room));

    const QRect saved = m_settings->windowGeometry();
    if (saved.isValid()) {
        const QList<QScreen *> screens = QGuiApplication::screens();
        const bool placeFits = std::any_of(screens.cbegin(), screens.cend(), [&saved](const QScreen *screen) {
            return screen->availableGeometry().contains(saved);
        });
        if (placeFits)
            setGeometry(saved);
        else if (saved.width() <= room.width() && saved.height() <= room.height())
            resize(saved.size()); // the screen it was on is gone: keep the size, let the system place it
    }
    if (m_settings->windowMaximized())
        setWindowState(windowState() | Qt::WindowMaximized);
}

void MainWindow::toast(const QString &message, int type)
{
    keyedToast(message, type, QString());
}

void MainWindow::keyedToast(const QString &message, int type, const QString &key)
{
    // Pages send the type as a plain int; anything unknown shows as information.
    const Toast::Type toastType =
        type == Toast::Success ? Toast::Success : (type == Toast::Error ? Toast::Error : Toast::Info);
    Toast::show(centralWidget(), message, toastType, s_toastMs, key);
}

void MainWindow::setupShortcuts()
{
    // Actions of the window, so that they work on every page; the tray menu shows Quit's too.
    const auto add = [this](const QKeySequence &keys, const std::function<void()> &run) {
        auto *action = new QAction(this);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, [run] { run(); });
        addAction(action);
        return action;
    };
    for (int i = 0; i < 3; ++i)
        add(s_pageKeys[i], [this, i] { switchView(i); });
    add(QKeySequence::Open, [this] {
        switchView(ProjectsPage);
        m_projectView->selectProject();
    });
    // The Setup page is what can go stale behind the user's back; F5 reads it again from any page.
    add(s_refreshKeys, [this] {
        if (m_stack->currentIndex() != SetupPage)
            switchView(SetupPage);
        m_setupModel->rescan();
    });
    m_quit = add(QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { quit(); });
    m_quit->setText(tr("Quit"));
    m_setupView->setRefreshShortcut(shortcutText(s_refreshKeys));
}

void MainWindow::quit()
{
    // The tray icon goes first, so the close request that quitting sends is accepted, not turned
    // into hiding.
    if (m_tray)
        m_tray->hide();
    QCoreApplication::quit();
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        onActivated();
}

// Back in front after a while away: files may have changed meanwhile, by hand, by another program
// or by tavrin-cli. What is shown is read again; a scan of the last few seconds is trusted.
void MainWindow::onActivated()
{
    if (!std::exchange(m_activatedBefore, true))
        return; // the first time: everything was just read
    m_settings->reload();
    m_setupModel->expireScan();
    switch (m_stack->currentIndex()) {
    case SetupPage:
        m_setupView->refresh();
        break;
    case SettingsPage:
        m_settingsView->refresh();
        break;
    default:
        m_projectView->refresh(); // projects opened from the terminal, addons changed there
        break;
    }
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_shownBefore)
        return;
    m_shownBefore = true;
    // The first expose comes once the window manager has placed and mapped the window.
    windowHandle()->installEventFilter(this);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == windowHandle() && event->type() == QEvent::Expose && windowHandle()->isExposed()) {
        windowHandle()->removeEventFilter(this);
        // From the event loop, once the window is on screen: the welcome box centres on where the
        // window really is.
        if (m_settings->isFirstRun())
            QTimer::singleShot(0, this, &MainWindow::showWelcome);
        // The update query loads the network and TLS libraries (about 90 ms of CPU and 7 MB); a
        // moment after the first paint it no longer competes with the window coming up.
        if (m_settings->checkUpdates())
            QTimer::singleShot(s_startupCheckDelayMs, this, [this] { checkForUpdates(false); });
        // Looking for Godot asks each copy found for its version: after the first paint too.
        QTimer::singleShot(0, m_setupModel->godot(), &GodotLocator::start);
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::bringToFront()
{
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void MainWindow::checkForUpdates(bool manual)
{
    m_manualCheck = m_manualCheck || manual;
    if (manual) {
        keyedToast(tr("Checking for updates..."), Toast::Info, s_updateToast);
        m_updater->checkForUpdates();
    } else
        (void)m_updater->checkAutomatically(); // at most once a day, and never while GitHub asks us to wait
}

void MainWindow::buildSidebar(QWidget *sidebar)
{
    auto *layout = new QVBoxLayout(sidebar);
    layout->setContentsMargins(12, 16, 12, 12);
    layout->setSpacing(4);

    auto *brandRow = new QHBoxLayout;
    brandRow->setSpacing(10);
    auto *logo = new QLabel(sidebar);
    logo->setPixmap(appIcon().pixmap(QSize(30, 30), devicePixelRatio()));
    logo->setFixedSize(30, 30);
    Theme::setClass(logo, "icon");
    brandRow->addWidget(logo);
    auto *brand = new QLabel(QLatin1String(Tavrin::AppName), sidebar);
    brand->setObjectName(QStringLiteral("sidebarBrand"));
    brandRow->addWidget(brand);
    brandRow->addStretch();
    layout->addLayout(brandRow);
    layout->addSpacing(16);

    const QString labels[] = {tr("Projects"), tr("Setup"), tr("Settings")};
    for (int i = 0; i < 3; ++i) {
        auto *button = new QPushButton(QLatin1String("  ") + labels[i], sidebar);
        Theme::setClass(button, "nav");
        button->setIcon(QIcon(Icons::icon(navIcon(i), s_navColour, s_navIconSize, devicePixelRatio())));
        button->setIconSize(QSize(s_navIconSize, s_navIconSize));
        button->setCursor(Qt::PointingHandCursor);
        button->setToolTip(tr("%1 (%2)").arg(labels[i], shortcutText(s_pageKeys[i])));
        connect(button, &QPushButton::clicked, this, [this, i] { switchView(i); });
        layout->addWidget(button);
        m_navButtons.append(button);
    }

    layout->addStretch();
    auto *footer = new QLabel(QLatin1Char('v') + QLatin1String(Tavrin::Version), sidebar);
    footer->setObjectName(QStringLiteral("sidebarFooter"));
    layout->addWidget(footer);
}

void MainWindow::switchView(int index)
{
    m_stack->setCurrentIndex(index);
    for (int i = 0; i < m_navButtons.size(); ++i) {
        QPushButton *button = m_navButtons.at(i);
        const bool active = i == index;
        button->setProperty("active", active ? QLatin1String("true") : QLatin1String("false"));
        button->setIcon(QIcon(
            Icons::icon(navIcon(i), active ? s_navActiveColour : s_navColour, s_navIconSize, devicePixelRatio())));
        button->style()->unpolish(button);
        button->style()->polish(button);
    }
    // The Projects page was filled with the window; later it is refreshed each time it is shown,
    // so that its badges follow what the Setup page installed or removed.
    if (index == ProjectsPage && isVisible())
        m_projectView->refresh();
    else if (index == SetupPage)
        m_setupView->refresh();
    else if (index == SettingsPage)
        m_settingsView->refresh();
}

void MainWindow::onProjectSelected(const QString &path)
{
    // Only an older addon is announced: a newer one than this app ships is left alone. The model
    // has read the project's addon: the project became the active one before this was called.
    const AddonStatus &status = m_setupModel->addon();
    if (m_setupModel->project() == path && status.installed && status.updateAvailable)
        toast(tr("Addon update available for %1: v%2").arg(GodotProject::displayName(path), status.bundledVersion),
              Toast::Info);
    switchView(SetupPage);
}

void MainWindow::onUpdateChecked(const UpdateInfo &info)
{
    m_manualCheck = false;
    m_settings->setLastUpdateCheck(info.updateAvailable ? QStringLiteral("available") : QStringLiteral("up_to_date"),
                                   info.latestVersion);
    if (m_stack->currentWidget() == m_settingsView)
        m_settingsView->refresh(); // its "Last checked" line
    if (!info.updateAvailable) {
        keyedToast(tr("You're up to date!"), Toast::Success, s_updateToast);
        return;
    }
    Toast::dismiss(centralWidget(), s_updateToast); // the box is the answer
    if (!info.worthTelling())
        return; // a version the user skipped, found by an automatic check
    auto *prompt = new UpdatePrompt(info, this);
    connect(prompt, &UpdatePrompt::showToast, this, &MainWindow::toast);
    connect(prompt, &UpdatePrompt::versionSkipped, m_updater, &Updater::skipVersion);
    connect(prompt, &UpdatePrompt::downloadRequested, this, [this](const QString &url) {
        // The progress window stands for the download: a second "Download" brings it back to the front.
        auto *progress = findChild<DownloadDialog *>();
        const bool running = progress && m_updater->isDownloading();
        if (!running)
            progress = new DownloadDialog(m_updater, this);
        progress->show();
        progress->raise();
        progress->activateWindow();
        if (!running) // after show(): a download refused at once closes the window again
            m_updater->downloadUpdate(url);
    });
    prompt->show();
}

void MainWindow::onUpdateCheckFailed(const QString &error)
{
    const bool manual = std::exchange(m_manualCheck, false);
    qWarning("Update check failed: %s", qPrintable(error));
    m_settings->setLastUpdateCheck(QStringLiteral("failed"), error);
    if (m_stack->currentWidget() == m_settingsView)
        m_settingsView->refresh();
    // Offline at start-up is no news; an answer the user asked for is.
    if (manual)
        keyedToast(tr("Update check failed: %1").arg(error), Toast::Error, s_updateToast);
    else
        Toast::dismiss(centralWidget(), s_updateToast);
}

void MainWindow::setupTray()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_tray = new QSystemTrayIcon(appIcon(), this);
    m_tray->setToolTip(QLatin1String(Tavrin::AppName));

    auto *menu = new QMenu(this);
    connect(menu->addAction(tr("Show %1").arg(QLatin1String(Tavrin::AppName))), &QAction::triggered, this,
            &MainWindow::bringToFront);
    menu->addSeparator();
    menu->addAction(m_quit); // Ctrl+Q, shown beside it
    m_tray->setContextMenu(menu);

    // A single click too, as in most tray applications; the context menu opens on its own.
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            bringToFront();
    });
    m_tray->setVisible(true);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    m_settings->setWindowGeometry(normalGeometry(), isMaximized());
    if (m_tray && m_tray->isVisible()) {
        hide();
        event->ignore();
        if (!m_settings->trayNoticeShown()) {
            m_tray->showMessage(tr("%1 is still running").arg(QLatin1String(Tavrin::AppName)),
                                tr("%1 keeps running in the system tray. To quit, right-click its icon "
                                   "and choose Quit.")
                                    .arg(QLatin1String(Tavrin::AppName)),
                                QSystemTrayIcon::Information);
            m_settings->markTrayNoticeShown();
        }
        return;
    }
    event->accept();
}

void MainWindow::showWelcome()
{
    auto *dialog = new QDialog(this);
    dialog->setWindowTitle(tr("Welcome to %1").arg(QLatin1String(Tavrin::AppName)));
    dialog->setFixedSize(480, 340);
    dialog->setAttribute(Qt::WA_DeleteOnClose);

    auto *layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(32, 28, 32, 24);
    layout->setSpacing(16);

    auto *logoRow = new QHBoxLayout;
    auto *logo = new QLabel;
    logo->setPixmap(appIcon().pixmap(QSize(48, 48), devicePixelRatio()));
    logo->setFixedSize(48, 48);
    Theme::setClass(logo, "icon");
    logoRow->addStretch();
    logoRow->addWidget(logo);
    logoRow->addStretch();
    layout->addLayout(logoRow);

    QLabel *title = Theme::classedLabel(dialog->windowTitle(), "welcome-title");
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);

    // With the number of tools the last server test found, where one ran.
    const int tools = m_settings->serverToolCount();
    QLabel *subtitle = Theme::classedLabel(tools < 0 ? tr("MCP server for Godot 4.x — tools for AI-powered development")
                                                     : tr("MCP server for Godot 4.x — %1 for AI-powered development")
                                                           .arg(tools == 1 ? tr("1 tool") : tr("%1 tools").arg(tools)),
                                           "welcome-subtitle");
    subtitle->setObjectName(QStringLiteral("welcomeSubtitle"));
    subtitle->setAlignment(Qt::AlignCenter);
    subtitle->setWordWrap(true);
    layout->addWidget(subtitle);
    layout->addSpacing(8);

    const QString steps[] = {tr("Select your Godot project folder"),
                             tr("Install the addon and configure your AI clients")};
    for (int i = 0; i < 2; ++i) {
        auto *row = new QHBoxLayout;
        row->setSpacing(12);
        QLabel *number = Theme::classedLabel(QString::number(i + 1), "step-number");
        number->setFixedSize(28, 28);
        number->setAlignment(Qt::AlignCenter);
        row->addWidget(number);
        QLabel *text = Theme::classedLabel(steps[i], "step-text");
        text->setWordWrap(true);
        row->addWidget(text, 1);
        layout->addLayout(row);
    }

    layout->addStretch();
    QPushButton *start = Theme::classedButton(tr("Get Started"), "primary");
    start->setMinimumHeight(40);
    connect(start, &QPushButton::clicked, dialog, [this, dialog] {
        m_settings->markFirstRunDone();
        dialog->accept();
    });
    layout->addWidget(start);

    dialog->setStyleSheet(Theme::styleSheet());
    dialog->open();
}
