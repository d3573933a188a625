#include "addon.h"
#include "downloaddialog.h"
#include "icons.h"
#include "localhttpserver.h"
#include "mainwindow.h"
#include "projectview.h"
#include "settings.h"
#include "settingsview.h"
#include "setupview.h"
#include "testenv.h"
#include "toast.h"
#include "toolprocess.h"
#include "updater.h"
#include "version.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

namespace {

const QByteArray s_returningUser = R"({"check_updates":false,"first_run_done":true})";

template<typename T = QPushButton> T *withText(QObject *parent, const QString &text)
{
    for (T *widget : parent->findChildren<T *>()) {
        if (widget->text() == text)
            return widget;
    }
    return nullptr;
}

} // namespace

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
        const QString bundled = QCoreApplication::applicationDirPath() + QLatin1String("/bundled_addon");
        QDir(bundled).removeRecursively();
        QVERIFY(Addon().copyDir(qEnvironmentVariable("TAVRIN_ADDON_SOURCE"), bundled));
        m_shipped = Addon::readVersionFromCfg(bundled);
        QVERIFY(!m_shipped.isEmpty());
    }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    void cleanup() { m_window.reset(); }

    // Only the chosen button is active and has the accent icon; choosing Setup, also again, rebuilds
    // it. A returning user sees no welcome. Offscreen offers no tray: closing ends the event loop.
    void navigation()
    {
        makeWindow(s_returningUser);
        QVERIFY(!m_window->findChild<QDialog *>());
        const auto setupContent = [this] { return m_window->findChild<SetupView *>()->layout()->itemAt(0)->widget(); };
        const auto image = [](const QPixmap &pixmap) {
            return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
        };
        const QByteArray svgs[] = {Icons::FOLDER, Icons::WRENCH, Icons::GEAR};
        for (int current : {0, 1, 1, 2, 0}) {
            setupContent()->setProperty("seen", true);
            QTest::mouseClick(nav().at(current), Qt::LeftButton);
            QCOMPARE(setupContent()->property("seen").isValid(), current != 1);
            QCOMPARE(m_window->findChild<QStackedWidget *>()->currentIndex(), current);
            for (int i = 0; i < 3; ++i) {
                QCOMPARE(nav().at(i)->property("active").toString(), QLatin1String(i == current ? "true" : "false"));
                QCOMPARE(image(nav().at(i)->icon().pixmap(QSize(18, 18))),
                         image(Icons::icon(svgs[i], i == current ? "#6ba3e0" : "#8892a0", 18)));
            }
        }
        QVERIFY(!m_window->findChild<QSystemTrayIcon *>());
        QTimer::singleShot(0, m_window.get(), [this] { m_window->close(); });
        QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(1); }); // only if closing did not end it
        QCOMPARE(QApplication::exec(), 0);
    }

    // A first run shows the welcome; only "Get Started" marks the first run done, Escape does not.
    void welcome()
    {
        makeWindow(R"({"check_updates":false})");
        for (bool viaButton : {false, true}) {
            QPointer<QDialog> dialog = m_window->findChild<QDialog *>();
            QVERIFY(dialog && dialog->isVisible());
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Welcome to Tavrin"));
            if (viaButton)
                QTest::mouseClick(withText(dialog, QStringLiteral("Get Started")), Qt::LeftButton);
            else
                QTest::keyClick(dialog, Qt::Key_Escape);
            QTRY_VERIFY(dialog.isNull());
            QCOMPARE(QJsonDocument::fromJson(TestEnv::readFile(Settings::filePath()))["first_run_done"].toBool(),
                     viaButton);
            m_window->showWelcome();
        }
    }

    // Opening a project lands on Setup and toasts only when its addon is older than the shipped one.
    void addonToastOnSelection_data()
    {
        QTest::addColumn<QString>("installed");
        QTest::newRow("older addon") << "0.9.0";
        QTest::newRow("no addon") << QString();
        QTest::newRow("same version") << "shipped";
    }
    void addonToastOnSelection()
    {
        QFETCH(QString, installed);
        const QString project = TestEnv::home() + QLatin1String("/projects/") + QLatin1String(QTest::currentDataTag());
        const QString cfg =
            QStringLiteral("[plugin]\nversion=\"%1\"\n").arg(installed == "shipped" ? m_shipped : installed);
        if (!installed.isNull())
            QVERIFY(TestEnv::writeFile(project + QLatin1String("/addons/tavrin_mcp/plugin.cfg"), cfg.toUtf8()));
        makeWindowFor(project);
        QTest::mouseClick(withText(m_window->findChild<ProjectView *>(), QStringLiteral("Open")), Qt::LeftButton);
        QCOMPARE(m_window->findChild<QStackedWidget *>()->currentIndex(), 1);
        QCOMPARE(toasts(), installed == "0.9.0" ? QStringList("Addon update available: v" + m_shipped) : QStringList());
    }

    // A permission-mode click on Settings re-registers configured clients through the Setup page.
    void permissionModeReachesClients()
    {
        const QString cursorConfig = TestEnv::home() + QLatin1String("/.cursor/mcp.json");
        QVERIFY(TestEnv::writeFile(cursorConfig, R"({"mcpServers":{"tavrin":{"command":"uvx","args":["tavrin"],)"
                                                 R"("env":{"GODOT_MCP_PERMISSION_MODE":"safe_edit"}}}})"));
        makeWindowFor(TestEnv::home() + QLatin1String("/projects/sync"));
        QTest::mouseClick(nav().at(1), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(withText<QLabel>(m_window->findChild<SetupView *>(), "Configured"), 20000);
        QTest::mouseClick(nav().at(2), Qt::LeftButton);
        QTest::mouseClick(withText(m_window->findChild<SettingsView *>(), "Full Control"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(QJsonDocument::fromJson(TestEnv::readFile(
                                      cursorConfig))["mcpServers"]["tavrin"]["env"]["GODOT_MCP_PERMISSION_MODE"],
                                  QStringLiteral("full_control"), 20000);
        QFile::remove(cursorConfig);
    }

    // A newer release asks without blocking the window; only Yes with an installer downloads, in a
    // non-modal progress window whose Cancel keeps nothing.
    void updatePrompt_data()
    {
        QTest::addColumn<QString>("asset");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("cancel");
        QTest::newRow("yes downloads") << "Tavrin-9.9.9-win64.exe" << int(QMessageBox::Yes) << false;
        QTest::newRow("yes, then cancel") << "Tavrin-9.9.9-win64.exe" << int(QMessageBox::Yes) << true;
        QTest::newRow("no") << "Tavrin-9.9.9-win64.exe" << int(QMessageBox::No) << false;
        QTest::newRow("yes without installer") << "Tavrin-9.9.9-linux.tar.gz" << int(QMessageBox::Yes) << false;
    }
    void updatePrompt()
    {
        QFETCH(QString, asset);
        QFETCH(int, answer);
        QFETCH(bool, cancel);
        LocalHttp::Server server;
        QVERIFY(server.start());
        // Cancelled: a large installer that pauses after every 256 KiB.
        server.route("/dl/Tavrin-9.9.9-win64.exe", cancel
                                                       ? LocalHttp::Response{200, {}, {}, 64 << 20, -1, -1, false, 500}
                                                       : LocalHttp::Response{200, {}, "MZ installer"});
        const QString release = QStringLiteral(R"({"tag_name":"v9.9.9","assets":[{"name":"%1",)"
                                               R"("browser_download_url":"%2"}]})")
                                    .arg(asset, server.url("/dl/" + asset.toUtf8()).toString());
        server.route("/latest", {200, {}, release.toUtf8()});
        makeWindow(s_returningUser);
        m_opened.clear();
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
        QVERIFY(QDir(folder).removeRecursively());
        auto *updater = m_window->findChild<Updater *>();
        updater->setReleaseUrl(server.url("/latest"));
        updater->checkForUpdates();
        QPointer<QMessageBox> box;
        QTRY_VERIFY_WITH_TIMEOUT((box = m_window->findChild<QMessageBox *>()) && box->isVisible(), 10000);
        QCOMPARE(box->windowTitle(), QStringLiteral("Update Available"));
        QCOMPARE(box->text(), QStringLiteral("A new version (v9.9.9) is available.\nCurrent version: v") +
                                  QLatin1String(Tavrin::Version) + QLatin1String("\n\nWould you like to download it?"));
        QCOMPARE(box->windowModality(), Qt::NonModal);
        box->button(QMessageBox::StandardButton(answer))->click();
        const bool downloads = answer == QMessageBox::Yes && asset.endsWith(QLatin1String("-win64.exe"));
        QPointer<DownloadDialog> progress = m_window->findChild<DownloadDialog *>();
        QCOMPARE(progress && progress->isVisible() && progress->windowModality() == Qt::NonModal, downloads);
        QTRY_VERIFY(box.isNull());
        if (cancel) {
            QTRY_VERIFY_WITH_TIMEOUT(progress->labelText().contains(QLatin1String(" MB")), 10000);
            QTest::mouseClick(progress->findChild<QPushButton *>(), Qt::LeftButton);
            QTRY_VERIFY(progress.isNull());
            QVERIFY(!updater->isDownloading());
            QTRY_COMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList());
            QCOMPARE(toasts(), QStringList());
        }
        if (!downloads || cancel) {
            QCOMPARE(m_opened, QList<QUrl>());
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_opened, QList<QUrl>({QUrl::fromLocalFile(folder)}), 10000);
        QCOMPARE(TestEnv::readFile(folder + QLatin1String("/Tavrin-9.9.9-win64.exe")), QByteArray("MZ installer"));
        QTRY_VERIFY(progress.isNull());
    }

    // Quitting while a worker waits on a hanging tool ends the tool with everything it started,
    // starts no further tool and lets the process end at once. The test runs itself as a child
    // process to quit for real: its Setup scan hangs in "claude", and uv would hang as well.
    void quitEndsRunningTools()
    {
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
        QTest::newRow("nothing yet") << qint64(0) << qint64(-1) << "Downloading update…";
        QTest::newRow("size known") << qint64(12100000) << qint64(28800000)
                                    << "Downloading update… 42 % (12.1 of 28.8 MB)";
        QTest::newRow("size unknown") << qint64(5049999) << qint64(-1) << "Downloading update… 5.0 MB";
        QTest::newRow("done, past the int range")
            << qint64(3000000000) << qint64(3000000000) << "Downloading update… 100 % (3000.0 of 3000.0 MB)";
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
        const QByteArray hang = "echo $$ > '" + dir.toUtf8() + "/%1.pid'\nsleep 300 &\n";
        QVERIFY(!TestEnv::writeTool(QStringLiteral("claude"), QByteArray(hang).replace("%1", "claude") + "echo $! > '" +
                                                                  dir.toUtf8() + "/grandchild.pid'\nwait")
                     .isEmpty());
        QVERIFY(!TestEnv::writeTool(QStringLiteral("uv"), QByteArray(hang).replace("%1", "uv") + "wait").isEmpty());
        makeWindowFor(TestEnv::home() + QLatin1String("/projects/quit"));
        QTest::mouseClick(nav().at(1), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir + QLatin1String("/grandchild.pid")), 20000);
        QTimer::singleShot(0, m_window.get(), [this, dir] {
            QVERIFY(TestEnv::writeFile(dir + QLatin1String("/quitting"), ""));
            m_window->close();
        });
        QCOMPARE(QApplication::exec(), 0);
    }

    void makeWindow(const QByteArray &settingsFile)
    {
        QVERIFY(TestEnv::writeFile(Settings::filePath(), settingsFile));
        m_window = std::make_unique<MainWindow>();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    // A window whose settings list the project as recent and active.
    void makeWindowFor(const QString &project)
    {
        QVERIFY(TestEnv::writeFile(project + QLatin1String("/project.godot"), "config_version=5\n"));
        makeWindow(QStringLiteral(R"({"check_updates":false,"first_run_done":true,"active_project":"%1",)"
                                  R"("recent_projects":[{"name":"game","path":"%1"}]})")
                       .arg(project)
                       .toUtf8());
    }
    // The sidebar's only buttons are the three page buttons.
    QList<QPushButton *> nav() const
    {
        return m_window->findChild<QWidget *>("sidebar")->findChildren<QPushButton *>();
    }
    QStringList toasts() const
    {
        QStringList texts;
        for (Toast *toast : m_window->centralWidget()->findChildren<Toast *>())
            texts.append(toast->text());
        return texts;
    }

    QList<QUrl> m_opened;
    QString m_shipped;
    std::unique_ptr<MainWindow> m_window;
};

TAVRIN_TEST_MAIN(TestMainWindow)
#include "tst_gui_mainwindow.moc"
