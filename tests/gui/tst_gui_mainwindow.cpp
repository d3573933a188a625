#include "base/toolprocess.h"
#include "base/userfolders.h"
#include "core/clientcatalogue.h"
#include "core/settings.h"
#include "core/setupmodel.h"
#include "core/updater.h"
#include "fixtures.h"
#include "gui/downloaddialog.h"
#include "gui/guitest.h"
#include "gui/mainwindow.h"
#include "gui/projectview.h"
#include "gui/settingsview.h"
#include "gui/setup/clientcard.h"
#include "gui/setup/setupview.h"
#include "gui/updateprompt.h"
#include "gui/widgets/elidedlabel.h"
#include "gui/widgets/toast.h"
#include "localhttpserver.h"
#include "testenv.h"
#include "version.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

using GuiTest::find;
using TestEnv::row;

class TestMainWindow : public QObject
{
    Q_OBJECT

public:
    // Receives QDesktopServices::openUrl instead of a file manager.
    Q_INVOKABLE void open(const QUrl &url) { m_opened.append(url); }

private slots:
    void initTestCase()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open");
        QVERIFY(Fixtures::writeBundledAddon(m_shipped));
    }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    void cleanup() { m_window.reset(); }

    // Only the chosen button is active, with an icon of its own colour. Setup and Settings build
    // their content when first shown, then keep it. Keys reach the pages from anywhere in the window;
    // the sidebar's tool tips name them. A returning user sees no welcome. Offscreen offers no tray:
    // closing ends the event loop.
    void navigation()
    {
        makeWindow();
        QVERIFY(!m_window->findChild<QDialog *>());
        auto *stack = m_window->findChild<QStackedWidget *>();
        const auto content = [stack](int page) { return stack->widget(page)->findChild<QScrollArea *>(); };
        QVERIFY(!content(1) && !content(2));
        const auto image = [](const QPushButton *button) { return button->icon().pixmap(QSize(18, 18)).toImage(); };
        const QImage inactive = image(nav().at(1));
        QList<QScrollArea *> built{nullptr, nullptr, nullptr};
        for (int current : {0, 1, 1, 2, 0, 1}) {
            QTest::mouseClick(nav().at(current), Qt::LeftButton);
            QCOMPARE(stack->currentIndex(), current);
            if (current && !built[current])
                built[current] = content(current);
            QVERIFY(!current || (built[current] && content(current) == built[current]));
            for (int i = 0; i < 3; ++i)
                QCOMPARE(nav().at(i)->property("active").toString(), QLatin1String(i == current ? "true" : "false"));
            QCOMPARE(image(nav().at(1)) == inactive, current != 1);
        }
        QApplication::setActiveWindow(m_window.get());
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        const std::pair<QKeyCombination, int> keys[] = {
            {Qt::CTRL | Qt::Key_3, 2}, {Qt::CTRL | Qt::Key_2, 1}, {Qt::CTRL | Qt::Key_1, 0}, {Qt::Key_F5, 1}};
        for (const auto &[key, page] : keys) {
            QTest::keyClick(m_window.get(), key.key(), key.keyboardModifiers());
            QCOMPARE(stack->currentIndex(), page);
        }
        QCOMPARE(nav().at(1)->toolTip(), "Setup (Ctrl+2)");
        QVERIFY(m_window->findChild<QPushButton *>("setupRefresh")->toolTip().endsWith("(F5)"));
        QVERIFY(!m_window->findChild<QSystemTrayIcon *>());
        QTimer::singleShot(0, m_window.get(), [this] { m_window->close(); });
        QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(1); }); // only if closing did not end it
        QCOMPARE(QApplication::exec(), 0);
    }

    // A first run shows the welcome once the window is up, centred on it; only "Get Started" marks
    // the first run done, Escape does not.
    void welcome()
    {
        makeWindow({{"first_run_done", QJsonValue()}}); // absent: a first run
        for (bool viaButton : {false, true}) {
            QPointer<QDialog> dialog;
            QTRY_VERIFY((dialog = m_window->findChild<QDialog *>()) && dialog->isVisible());
            const QPoint off = dialog->frameGeometry().center() - m_window->frameGeometry().center();
            QVERIFY(qAbs(off.x()) <= 2 && qAbs(off.y()) <= 2 && dialog->windowTitle() == "Welcome to Tavrin");
            // Without a server test there is no tool count to tell.
            QCOMPARE(dialog->findChild<QLabel *>("welcomeSubtitle")->text(),
                     viaButton ? "MCP server for Godot 4.x — 12 tools for AI-powered development"
                               : "MCP server for Godot 4.x — tools for AI-powered development");
            if (viaButton)
                QTest::mouseClick(find(dialog, QStringLiteral("Get Started")), Qt::LeftButton);
            else
                QTest::keyClick(dialog, Qt::Key_Escape);
            QTRY_VERIFY(dialog.isNull());
            QCOMPARE(QJsonDocument::fromJson(TestEnv::readFile(Settings::filePath()))["first_run_done"].toBool(),
                     viaButton);
            m_window->findChild<Settings *>()->setServerToolCount(12); // as a server test records it
            m_window->showWelcome();
        }
    }

    // Opening a project lands on Setup and toasts, naming the project, only when its addon is older
    // than the shipped one. Back on Projects, the card shows what the addon is now.
    void addonToastOnSelection_data()
    {
        QTest::addColumn<QString>("installed");
        row("older addon", "0.9.0");
        row("newer addon", "99.0.0");
    }
    void addonToastOnSelection()
    {
        QFETCH(QString, installed);
        const QString project = TestEnv::home() + QLatin1String("/projects/") + QLatin1String(QTest::currentDataTag());
        QVERIFY(
            TestEnv::writeFile(project + "/addons/tavrin_mcp/plugin.cfg", "version=\"" + installed.toUtf8() + "\"\n"));
        makeWindowFor({project});
        QTest::mouseClick(find(m_window->findChild<ProjectView *>(), QStringLiteral("Open")), Qt::LeftButton);
        QCOMPARE(m_window->findChild<QStackedWidget *>()->currentIndex(), 1);
        QCOMPARE(toasts(), installed == "0.9.0" ? QStringList("Addon update available for older addon: v" + m_shipped)
                                                : QStringList());
        QVERIFY(TestEnv::writeFile(project + QLatin1String("/addons/tavrin_mcp/plugin.cfg"),
                                   "version=\"" + m_shipped.toUtf8() + "\"\n")); // as an install would
        QTest::mouseClick(nav().at(0), Qt::LeftButton);
        QTRY_VERIFY(find<QLabel>(m_window->findChild<ProjectView *>(), "Addon v" + m_shipped));
    }

    // The active project is marked; × takes a project off the list with a toast whose Undo puts it
    // back in its place.
    void removeWithUndo()
    {
        const QString first = TestEnv::home() + "/projects/first";
        makeWindowFor({first, TestEnv::home() + "/projects/second"});
        auto *projects = m_window->findChild<ProjectView *>();
        const auto listed = [projects] {
            QMap<int, QString> cards; // top to bottom
            for (QFrame *card : projects->findChildren<QFrame *>()) {
                if (card->property("class") == "project-card" && !card->isHidden())
                    cards.insert(card->y(),
                                 card->property("projectName").toString() + (find<QLabel>(card, "Active") ? "*" : ""));
            }
            return cards.values().join(' ');
        };
        QCOMPARE(listed(), "first second*");
        QTest::mouseClick(find(projects, "Remove from recent projects"), Qt::LeftButton);
        QTRY_COMPARE(listed(), "second*");
        QCOMPARE(toasts().filter("Removed “first” from recent projects").size(), 1);
        Toast *toast = m_window->centralWidget()->findChild<Toast *>();
        QTest::mouseClick(toast, Qt::LeftButton); // beside the link: the toast stays
        QVERIFY(toast->isVisible());
        emit toast->linkActivated("action");
        QTRY_COMPARE(listed(), "first second*");
        QCOMPARE(Settings().recentProjects().at(0).toObject().value("path").toString(), first);
    }

    // A mode chosen on the Settings page with Setup never opened: the configured client gets it,
    // and the window says so as well as what was chosen.
    void modeChangeReachesClients()
    {
        const QString cursor = ClientCatalogue::configPath(QStringLiteral("cursor"));
        QVERIFY(TestEnv::writeFile(cursor, R"({"mcpServers":{"tavrin":{"command":"uvx","args":["tavrin"],)"
                                           R"("env":{"GODOT_MCP_PERMISSION_MODE":"safe_edit"}}}})"));
        const auto gone = qScopeGuard([cursor] { QFile::remove(cursor); });
        makeWindow();
        QTest::mouseClick(nav().at(2), Qt::LeftButton);
        QTest::mouseClick(find(m_window->findChild<SettingsView *>(), "Full Control"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(
            toasts(), QStringList({"Permission mode: Full Control", "Full Control applied to Cursor"}), 20000);
        QVERIFY(TestEnv::readFile(cursor).contains("full_control"));
    }

    // A config edited by hand and a mode set from the terminal while the window was away show when
    // it comes back; the window's own next write keeps the terminal's mode.
    void outsideChangesShowOnActivation()
    {
        const QString cursor = ClientCatalogue::configPath(QStringLiteral("cursor"));
        QVERIFY(QDir().mkpath(QFileInfo(cursor).absolutePath()));
        const auto gone = qScopeGuard([cursor] { QDir(QFileInfo(cursor).absolutePath()).removeRecursively(); });
        makeWindowFor({TestEnv::home() + "/projects/outside"});
        m_window->findChild<SetupModel *>()->setOutsideChangeMs(0); // any scan counts as old
        QTest::mouseClick(nav().at(1), Qt::LeftButton);
        auto *setup = m_window->findChild<SetupView *>();
        const auto card = [setup] {
            for (ClientCard *c : setup->findChildren<ClientCard *>()) {
                if (c->clientId() == QLatin1String("cursor"))
                    return GuiTest::text(c).section('|', 1);
            }
            return QString();
        };
        QTRY_COMPARE_WITH_TIMEOUT(card(), QStringLiteral("Detected|[Configure]"), 20000);

        QWidget elsewhere; // the terminal
        elsewhere.show();
        QApplication::setActiveWindow(&elsewhere);
        QVERIFY(TestEnv::writeFile(cursor, R"({"mcpServers":{"tavrin":{"command":"uvx","args":["tavrin"],)"
                                           R"("env":{"GODOT_MCP_PERMISSION_MODE":"full_control"}}}})"));
        Settings().setPermissionMode(QStringLiteral("full_control"));
        QCOMPARE(card(), QStringLiteral("Detected|[Configure]"));
        QApplication::setActiveWindow(m_window.get());
        QTRY_COMPARE_WITH_TIMEOUT(card(), QStringLiteral("Configured|Full Control|[Remove]"), 20000);
        m_window->close(); // writes the window's place
        QCOMPARE(Settings().permissionMode(), QStringLiteral("full_control"));
        QVERIFY(toasts().filter(QStringLiteral("Full Control")).isEmpty()); // nothing re-applied
    }

    // The smallest window fits the screen (scaled or not: see tests/CMakeLists.txt); there a card with a
    // 200-character path and a long name elides both, nothing scrolls sideways, icons match the scale.
    void smallestWindow()
    {
        const QString project =
            (TestEnv::home() + "/projects" + QString("/a-rather-deeply-nested-folder").repeated(9)).left(200);
        QVERIFY(TestEnv::writeFile(project + "/addons/tavrin_mcp/plugin.cfg", "version=\"0.9.0\"\n"));
        makeWindowFor({project}, "[application]\nconfig/name=\"A project whose name goes on and on and on and on\"\n");
        const QRect available = m_window->screen()->availableGeometry();
        QCOMPARE(m_window->minimumSize(), QSize(960, 640).boundedTo(available.size() - QSize(16, 48)));
        QVERIFY(available.size().expandedTo(m_window->size()) == available.size());
        m_window->resize(m_window->minimumSize());
        QTRY_COMPARE(m_window->size(), m_window->minimumSize());

        auto *scroll = m_window->findChild<ProjectView *>()->findChild<QScrollArea *>();
        QWidget *card = nullptr;
        for (QWidget *w : scroll->widget()->findChildren<QWidget *>())
            card = !card && w->property("class") == "project-card" ? w : card;
        QVERIFY(card);
        QTRY_VERIFY(card->width() <= scroll->viewport()->width());
        for (ElidedLabel *label : card->findChildren<ElidedLabel *>())
            QVERIFY(label->isElided() && label->toolTip() == label->fullText());
        const QString shown = card->findChildren<ElidedLabel *>().at(1)->text();
        QVERIFY(shown.startsWith(project.left(4)) && shown.contains(QChar(0x2026)) && shown.endsWith(project.right(4)));
        // Nothing on either page reaches past the right edge: each card's buttons are in view.
        QTest::mouseClick(nav().at(2), Qt::LeftButton);
        auto *settings = m_window->findChild<SettingsView *>()->findChild<QScrollArea *>();
        QTRY_VERIFY(settings->isVisible());
        // Built when first shown, the Settings page is laid out from the event loop.
        const auto outOfView = [&] {
            QStringList out;
            for (QScrollArea *area : {scroll, settings}) {
                if (area->horizontalScrollBar()->isVisible())
                    out << "horizontal scroll bar";
                for (QWidget *w : area->widget()->findChildren<QWidget *>()) {
                    const QRect r(w->mapTo(area->viewport(), QPoint()), w->size());
                    if (w->isVisibleTo(area) && (r.left() < 0 || r.right() >= area->viewport()->width()))
                        out << QString::fromLatin1(w->metaObject()->className()) + ' ' + GuiTest::nameOf(w);
                }
            }
            return out;
        };
        QTRY_COMPARE(outOfView(), QStringList());

        // Sharp icons: drawn at the window's device pixel ratio, not scaled up from 1x.
        const qreal dpr = m_window->devicePixelRatio();
        QCOMPARE(nav().at(0)->icon().availableSizes(), QList<QSize>({QSize(18, 18) * dpr}));
        auto *folder = card->findChildren<QLabel *>().at(0);
        QCOMPARE(folder->pixmap().devicePixelRatio(), dpr);
        QCOMPARE(folder->pixmap().size(), QSize(22, 22) * dpr);
    }

    // The window comes back where it was closed if that fits a screen (the offscreen 800 x 800: at
    // least 784 x 640, at first 784 x 720); else only its size, if that fits.
    void rememberedGeometry_data()
    {
        QTest::addColumn<QRect>("saved");
        QTest::addColumn<QRect>("expected"); // null position: any place on the screen
        row("on the screen", QRect(10, 20, 785, 660), QRect(10, 20, 785, 660));
        row("off every screen", QRect(5000, 20, 784, 700), QRect(QPoint(), QSize(784, 700)));
        row("larger than the screen", QRect(0, 0, 3000, 2000), QRect(QPoint(), QSize(784, 720)));
    }
    void rememberedGeometry()
    {
        QFETCH(QRect, saved);
        QFETCH(QRect, expected);
        if (QGuiApplication::primaryScreen()->availableGeometry() != QRect(0, 0, 800, 800))
            QSKIP("written for the default offscreen screen");
        const auto json = [](const QRect &r) {
            return QJsonObject{{"x", r.x()}, {"y", r.y()}, {"width", r.width()}, {"height", r.height()}};
        };
        makeWindow({{"window_geometry", json(saved)}});
        QCOMPARE(m_window->size(), expected.size());
        QVERIFY(expected.topLeft().isNull() ? QRect(0, 0, 800, 800).intersects(m_window->geometry())
                                            : m_window->geometry() == expected);
        const QRect moved(12, 24, 790, 660);
        m_window->setGeometry(moved);
        QTRY_COMPARE(m_window->geometry(), moved);
        m_window->close();
        QJsonObject stored = json(moved);
        stored.insert("maximized", false);
        QCOMPARE(QJsonDocument::fromJson(TestEnv::readFile(Settings::filePath()))["window_geometry"].toObject(),
                 stored);
    }

    // A check the user asked for always ends in a toast; an automatic one is silent when it fails,
    // but logs it. Either way the Settings page tells when the last check ran and how it went.
    void updateChecks_data()
    {
        QTest::addColumn<bool>("manual");
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<QString>("toasts"); // pattern of the toasts shown, joined by "|"
        QTest::addColumn<QString>("line");   // pattern of the Settings page's line
        // The answer takes the place of "Checking for updates...".
        row("manual, fails", true, false, "Update check failed: .+", " — failed: .+");
        row("automatic, fails", false, false, "", " — failed: .+");
        row("manual, up to date", true, true, "You're up to date!", " — up to date");
        row("automatic, up to date", false, true, "You're up to date!", " — up to date");
    }
    void updateChecks()
    {
        QFETCH(bool, manual);
        QFETCH(bool, reachable);
        QFETCH(QString, toasts);
        QFETCH(QString, line);
        LocalHttp::Server server;
        QVERIFY(server.start());
        server.route("/latest", reachable ? LocalHttp::Response{200, {}, R"({"tag_name":"v0.0.1"})"}
                                          : LocalHttp::Response{503, {}, "down"});
        if (!reachable)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Update check failed: .+"));
        makeWindow({{"check_updates", !manual}}, server.url("/latest"));
        QTest::mouseClick(nav().at(2), Qt::LeftButton);
        if (manual) {
            QTest::mouseClick(find(m_window->findChild<SettingsView *>(), "Check Now"), Qt::LeftButton);
            QCOMPARE(this->toasts(), QStringList("Checking for updates..."));
        }
        QTRY_VERIFY_WITH_TIMEOUT(!Settings().lastUpdateCheck().isEmpty(), 10000);
        QTRY_VERIFY(QRegularExpression('^' + toasts + '$').match(this->toasts().join('|')).hasMatch());
        const auto *lastCheck = m_window->findChild<QLabel *>("lastUpdateCheck");
        QTRY_VERIFY(QRegularExpression(line + '$').match(lastCheck->text()).hasMatch());
        QCOMPARE(server.requests.size(), 1);
    }

    // Tab goes through the sidebar, then the current page in reading order, with no stop on
    // anything that cannot be seen or used.
    void tabOrder_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QStringList>("stops"); // GuiTest::nameOf, after the three page buttons
        row("projects", 0, QStringList{"  Select Project Folder", "Remove from recent projects", "Open tabbing"});
        row("settings", 2,
            QStringList{"Safe Edit", "Full Control", "Check for updates automatically", "Include pre-releases",
                        "Check Now", "Open Backups Folder", "Website", "GitHub", "Documentation", "Log file",
                        "Open Log File"});
    }
    void tabOrder()
    {
        QFETCH(int, page);
        QFETCH(QStringList, stops);
        makeWindowFor({TestEnv::home() + "/projects/tabbing"});
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        QTest::mouseClick(nav().at(page), Qt::LeftButton);
        QWidget *current = m_window->findChild<QStackedWidget *>()->currentWidget();
        const auto shown = [current] {
            const QList<QWidget *> stops = GuiTest::tabStops(current);
            return std::all_of(stops.cbegin(), stops.cend(), [](QWidget *w) { return w->isVisible(); });
        };
        QTRY_VERIFY(shown());
        nav().at(0)->setFocus();
        QStringList seen;
        for (int i = 0; i < 30 && (i == 0 || QApplication::focusWidget() != nav().at(0)); ++i) {
            QWidget *focused = QApplication::focusWidget();
            QVERIFY(focused && focused->isVisible() && !focused->inherits("QAbstractScrollArea"));
            seen << GuiTest::nameOf(focused);
            QTest::keyClick(focused, Qt::Key_Tab);
        }
        QCOMPARE(seen, QStringList({"  Projects", "  Setup", "  Settings"}) + stops);
    }

    // A newer release asks without blocking the window. "Download" fetches what fits this machine
    // in a non-modal progress window whose Cancel keeps nothing; a Debian package ends with the
    // command that installs it. Without a fitting asset the release page opens; a skipped version
    // is stored.
    void updatePrompt_data()
    {
        QTest::addColumn<QString>("asset");
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("click");
        QTest::addColumn<bool>("cancel");
        const QString exe = QStringLiteral("Tavrin-9.9.9-win64.exe");
        const QString deb = QStringLiteral("tavrin-desktop_9.9.9_") + Installation::debianArchitecture() + ".deb";
        row("download", exe, "windows", "Download", false);
        row("download, then cancel", exe, "windows", "Download", true);
        row("later", exe, "windows", "Later", false);
        row("our package", deb, "linux", "Download", false);
        row("nothing fits", exe, "linux", "Open Release Page", false);
        row("skip", exe, "windows", "Skip This Version", false);
    }
    void updatePrompt()
    {
        QFETCH(QString, asset);
        QFETCH(QString, platform);
        QFETCH(QString, click);
        QFETCH(bool, cancel);
        LocalHttp::Server server;
        QVERIFY(server.start());
        // Cancelled: a large installer that pauses after every 256 KiB.
        const LocalHttp::Response slow{200, {}, {}, 64 << 20, -1, -1, false, 500};
        server.route("/dl/" + asset.toUtf8(), cancel ? slow : LocalHttp::Response{200, {}, "MZ installer"});
        const QString page = QStringLiteral("https://example.com/releases/v9.9.9");
        const QString release = QStringLiteral(R"({"tag_name":"v9.9.9","html_url":"%3","assets":[{"name":"%1",)"
                                               R"("browser_download_url":"%2"}]})")
                                    .arg(asset, server.url("/dl/" + asset.toUtf8()).toString(), page);
        server.route("/latest", {200, {}, release.toUtf8()});
        makeWindow({}, server.url("/latest"));
        m_opened.clear();
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
        const QString folder = UserFolders::downloads();
        QVERIFY(QDir(folder).removeRecursively());
        QTemporaryDir dpkg; // dpkg installed this test's executable as our package
        QVERIFY(TestEnv::writeFile(dpkg.path() + "/tavrin-desktop.list",
                                   QCoreApplication::applicationFilePath().toUtf8() + '\n'));
        auto *updater = m_window->findChild<Updater *>();
        updater->setPlatform(platform);
        updater->setDpkgInfoDir(dpkg.path());
        updater->checkForUpdates();
        QPointer<UpdatePrompt> prompt;
        QTRY_VERIFY_WITH_TIMEOUT((prompt = m_window->findChild<UpdatePrompt *>()) && prompt->isVisible(), 10000);
        QCOMPARE(prompt->windowModality(), Qt::NonModal);
        QVERIFY(find<QLabel>(prompt, QStringLiteral("Tavrin Desktop 9.9.9 is available")));
        QAbstractButton *button = find(prompt, click);
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        const bool downloads = click == QLatin1String("Download");
        QPointer<DownloadDialog> progress = m_window->findChild<DownloadDialog *>();
        QCOMPARE(progress && progress->isVisible() && progress->windowModality() == Qt::NonModal, downloads);
        QTRY_VERIFY(prompt.isNull());
        QCOMPARE(Settings().skippedVersion(), click == QLatin1String("Skip This Version") ? "9.9.9" : "");
        if (cancel) {
            QTRY_VERIFY_WITH_TIMEOUT(progress->labelText().contains(QLatin1String(" MB")), 10000);
            QTest::mouseClick(progress->findChild<QPushButton *>(), Qt::LeftButton);
            QVERIFY(!updater->isDownloading());
            QTRY_VERIFY(progress.isNull());
            QTRY_COMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList());
            QCOMPARE(toasts(), QStringList());
        }
        if (!downloads || cancel) {
            QCOMPARE(m_opened, click == QLatin1String("Open Release Page") ? QList<QUrl>{QUrl(page)} : QList<QUrl>());
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_opened, QList<QUrl>({QUrl::fromLocalFile(folder)}), 10000);
        QCOMPARE(TestEnv::readFile(folder + '/' + asset), QByteArray("MZ installer"));
        QTRY_VERIFY(progress.isNull());
        auto *command = m_window->findChild<QLineEdit *>(QStringLiteral("installCommand"));
        QCOMPARE(command && command->isVisible(), asset.endsWith(QLatin1String(".deb")));
        if (command)
            QCOMPARE(command->text(), "sudo apt install " + folder + '/' + asset);
    }

    // Quitting while a scan waits on a hanging "claude" ends it and all it started, starts no further
    // tool (uv would hang too) and ends at once. Runs itself as a child process to quit for real.
    void quitEndsRunningTools()
    {
#ifdef Q_OS_WIN
        QSKIP("the hanging tools write down their process ids as shell scripts do ($$, $!); on Windows "
              "tst_toolprocess ends a tool's whole tree through its job object, as quitting does");
#endif
        const QString childDir = qEnvironmentVariable("TAVRIN_QUIT_CHILD");
        if (!childDir.isEmpty())
            return quitDuringScan(childDir);
        const QString dir = TestEnv::root().path() + QLatin1String("/quit");
        QVERIFY(QDir().mkpath(dir));
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TAVRIN_QUIT_CHILD"), dir);
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("quitEndsRunningTools")});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir + QLatin1String("/quitting")), 30000);
        QElapsedTimer clock;
        clock.start();
        // The wait above runs the event loop, so the child may already have been reaped.
        QVERIFY(child.state() == QProcess::NotRunning || child.waitForFinished(20000));
        const qint64 ms = clock.elapsed();
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, child.readAll().constData());
        QVERIFY2(ms < 2500, qPrintable(QStringLiteral("%1 ms from closing to the end").arg(ms)));
        for (const char *name : {"/claude.pid", "/grandchild.pid"}) {
            const qint64 pid = TestEnv::readFile(dir + QLatin1String(name)).trimmed().toLongLong();
            QVERIFY(pid > 0);
            QTRY_VERIFY_WITH_TIMEOUT(!TestEnv::processAlive(pid), 5000);
        }
        QVERIFY(!QFile::exists(dir + QLatin1String("/uv.pid")));
    }

    void progressText_data()
    {
        QTest::addColumn<qint64>("received");
        QTest::addColumn<qint64>("total"); // -1: not announced
        QTest::addColumn<QString>("text");
        row("nothing yet", qint64(0), qint64(-1), "Downloading update…");
        row("size known", qint64(12100000), qint64(28800000), "Downloading update… 42 % (12.1 of 28.8 MB)");
        row("size unknown", qint64(5049999), qint64(-1), "Downloading update… 5.0 MB");
        row("done, past the int range", qint64(3000000000), qint64(3000000000),
            "Downloading update… 100 % (3000.0 of 3000.0 MB)");
    }
    void progressText()
    {
        QFETCH(qint64, received);
        QFETCH(qint64, total);
        QTEST(DownloadDialog::progressText(received, total), "text");
    }

private:
    // The child's part: hanging tools record their process ids in dir; the window closes (no tray
    // offscreen, so the application quits) once claude's grandchild runs.
    void quitDuringScan(const QString &dir)
    {
        ToolProcess::endAllWhenQuitting(); // as the application's start-up does
        const QByteArray folder = dir.toUtf8();
        // claude also starts the grandchild the parent waits for. The Windows body never runs: the
        // test skips there.
        for (const QByteArray tool : {"claude", "uv"}) {
            const QByteArray grandchild = tool == "claude" ? "echo $! > '" + folder + "/grandchild.pid'\n" : "";
            const QByteArray hang = "echo $$ > '" + folder + '/' + tool + ".pid'\nsleep 300 &\n" + grandchild + "wait";
            QVERIFY(!TestEnv::writeScript(tool, hang, "ping -n 301 127.0.0.1 >nul").isEmpty());
        }
        makeWindowFor({TestEnv::home() + "/projects/quit"});
        QTest::mouseClick(nav().at(1), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir + QLatin1String("/grandchild.pid")), 20000);
        QTimer::singleShot(0, m_window.get(), [this, dir] {
            QVERIFY(TestEnv::writeFile(dir + QLatin1String("/quitting"), ""));
            m_window->close();
        });
        QCOMPARE(QApplication::exec(), 0);
    }

    // A shown window on the settings of a returning user who checks for updates only when asked,
    // as changed by `settings` (a null value leaves its key out); its update checks ask `releaseUrl`
    // when one is given.
    void makeWindow(const QJsonObject &settings = {}, const QUrl &releaseUrl = {})
    {
        QJsonObject file{{"check_updates", false}, {"first_run_done", true}};
        for (auto it = settings.begin(); it != settings.end(); ++it)
            file.insert(it.key(), it->isNull() ? QJsonValue(QJsonValue::Undefined) : *it); // undefined removes
        QVERIFY(TestEnv::writeFile(Settings::filePath(), QJsonDocument(file).toJson()));
        m_window = std::make_unique<MainWindow>();
        if (!releaseUrl.isEmpty()) // before showing, which schedules the automatic check
            m_window->findChild<Updater *>()->setReleaseUrl(releaseUrl);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    // A window whose settings list the projects as recent, the last one active.
    void makeWindowFor(const QStringList &projects, const QByteArray &godot = "config_version=5\n")
    {
        QJsonArray recent;
        for (const QString &project : projects) {
            QVERIFY(TestEnv::writeFile(project + "/project.godot", godot));
            recent.append(QJsonObject{{"name", QDir(project).dirName()}, {"path", project}});
        }
        makeWindow({{"active_project", projects.last()}, {"recent_projects", recent}});
    }
    // The sidebar's only buttons are the three page buttons.
    QList<QPushButton *> nav() const
    {
        return m_window->findChild<QWidget *>("sidebar")->findChildren<QPushButton *>();
    }
    QStringList toasts() const
    {
        QStringList texts;
        for (Toast *toast : m_window->centralWidget()->findChildren<Toast *>()) {
            if (!toast->isHidden()) // a replaced one is hidden until it is deleted
                texts.append(toast->text());
        }
        return texts;
    }

    QList<QUrl> m_opened;
    const QString m_shipped = QStringLiteral("9.8.7");
    std::unique_ptr<MainWindow> m_window;
};

TAVRIN_TEST_MAIN(TestMainWindow)
#include "tst_gui_mainwindow.moc"
