#include "addon.h"
#include "icons.h"
#include "localhttpserver.h"
#include "mainwindow.h"
#include "projectview.h"
#include "settings.h"
#include "settingsview.h"
#include "setupview.h"
#include "testenv.h"
#include "theme.h"
#include "toast.h"
#include "updater.h"
#include "version.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QtTest>

#include <memory>

// Receives QDesktopServices::openUrl instead of a file manager.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
    Q_INVOKABLE void open(const QUrl &url) { urls.append(url); }
};

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

template<typename T> T *visibleTopLevel(const QString &title)
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *found = qobject_cast<T *>(widget);
        if (found && found->isVisible() && found->windowTitle() == title)
            return found;
    }
    return nullptr;
}

QImage argb(const QPixmap &pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qApp->setStyleSheet(Theme::STYLE_SHEET);
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_files, "open");
        QDir().mkpath(TestEnv::home() + QLatin1String("/Downloads"));
        const QString bundled = QCoreApplication::applicationDirPath() + QLatin1String("/bundled_addon");
        QDir(bundled).removeRecursively();
        QVERIFY(Addon().copyDir(qEnvironmentVariable("TAVRIN_ADDON_SOURCE"), bundled));
    }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    void cleanup() { m_window.reset(); }

    // Only the chosen button is active, with the accent icon and the re-applied tinted style.
    void navigation_data()
    {
        QTest::addColumn<QList<int>>("clicks");
        QTest::newRow("projects at start") << QList<int>();
        QTest::newRow("setup") << QList<int>{1};
        QTest::newRow("settings then projects") << QList<int>{2, 0};
    }
    void navigation()
    {
        QFETCH(QList<int>, clicks);
        makeWindow(s_returningUser);
        const QList<QPushButton *> buttons = nav();
        for (int index : clicks)
            QTest::mouseClick(buttons.at(index), Qt::LeftButton);
        const int current = clicks.isEmpty() ? 0 : clicks.last();
        QCOMPARE(m_window->findChild<QStackedWidget *>()->currentIndex(), current);
        const QByteArray svgs[] = {Icons::FOLDER, Icons::WRENCH, Icons::GEAR};
        const QImage sidebar = m_window->findChild<QWidget *>(QStringLiteral("sidebar"))->grab().toImage();
        for (int i = 0; i < 3; ++i) {
            const bool active = i == current;
            QCOMPARE(buttons.at(i)->property("active").toString(), QLatin1String(active ? "true" : "false"));
            QCOMPARE(argb(buttons.at(i)->icon().pixmap(QSize(18, 18))),
                     argb(Icons::icon(svgs[i], active ? "#6ba3e0" : "#8892a0", 18)));
            const QRect box = buttons.at(i)->geometry();
            const QColor pixel = sidebar.pixel(box.left() + 4, box.center().y()), want(active ? 0x1d2937 : 0x161b22);
            QVERIFY2(qAbs(pixel.red() - want.red()) + qAbs(pixel.green() - want.green()) +
                             qAbs(pixel.blue() - want.blue()) <=
                         6,
                     qPrintable(pixel.name()));
        }
    }

    // Choosing Setup again rebuilds it: the page shows a new content widget.
    void setupRefreshesWhenChosenAgain()
    {
        makeWindow(s_returningUser);
        QWidget *setup = m_window->findChild<SetupView *>();
        m_window->switchView(1);
        setup->layout()->itemAt(0)->widget()->setProperty("seen", true);
        m_window->switchView(1);
        QVERIFY(!setup->layout()->itemAt(0)->widget()->property("seen").isValid());
    }

    // Offscreen offers no tray: closing the window ends a running event loop.
    void closeWithoutTrayEnds()
    {
        makeWindow(s_returningUser);
        QVERIFY(!m_window->findChild<QSystemTrayIcon *>());
        QTimer::singleShot(0, m_window.get(), [this] { m_window->close(); });
        QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(1); }); // only if closing did not end it
        QCOMPARE(QApplication::exec(), 0);
    }

    // Only "Get Started" marks the first run done; Escape closes the dialog without it.
    void welcome_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("viaButton");
        QTest::addColumn<bool>("marked");
        QTest::newRow("get started") << QByteArray(R"({"check_updates":false})") << true << true;
        QTest::newRow("escape") << QByteArray(R"({"check_updates":false})") << false << false;
        QTest::newRow("returning user") << s_returningUser << false << true;
    }
    void welcome()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, viaButton);
        QFETCH(bool, marked);
        makeWindow(file);
        QPointer<QDialog> dialog = visibleTopLevel<QDialog>(QStringLiteral("Welcome to Tavrin"));
        QCOMPARE(dialog.isNull(), file == s_returningUser);
        if (dialog.isNull()) {
            QCOMPARE(TestEnv::readFile(Settings::filePath()), file); // nothing written for a returning user
            return;
        }
        if (viaButton)
            QTest::mouseClick(withText(dialog, QStringLiteral("Get Started")), Qt::LeftButton);
        else
            QTest::keyClick(dialog, Qt::Key_Escape);
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(QJsonDocument::fromJson(TestEnv::readFile(Settings::filePath()))["first_run_done"].toBool(), marked);
    }

    // Opening a project lands on Setup and toasts only when its addon is older than the shipped one.
    void addonToastOnSelection_data()
    {
        QTest::addColumn<QByteArray>("installedCfg");
        QTest::newRow("older addon") << QByteArray("[plugin]\nversion=\"0.9.0\"\n");
        QTest::newRow("no addon") << QByteArray();
        QTest::newRow("same version") << QByteArray("shipped");
    }
    void addonToastOnSelection()
    {
        QFETCH(QByteArray, installedCfg);
        const QString project = TestEnv::home() + QLatin1String("/projects/") + QLatin1String(QTest::currentDataTag());
        QVERIFY(TestEnv::writeFile(project + QLatin1String("/project.godot"), "config_version=5\n"));
        const QString bundled = QCoreApplication::applicationDirPath() + QLatin1String("/bundled_addon");
        const QString version = Addon::readVersionFromCfg(bundled);
        QVERIFY(!version.isEmpty());
        if (installedCfg == "shipped")
            installedCfg = TestEnv::readFile(bundled + QLatin1String("/plugin.cfg"));
        if (!installedCfg.isNull())
            QVERIFY(TestEnv::writeFile(project + QLatin1String("/addons/tavrin_mcp/plugin.cfg"), installedCfg));
        makeWindow(QStringLiteral(R"({"first_run_done":true,"check_updates":false,"recent_projects":[{"path":"%1",)"
                                  R"("name":"game"}]})")
                       .arg(project)
                       .toUtf8());
        QTest::mouseClick(withText(m_window->findChild<ProjectView *>(), QStringLiteral("Open")), Qt::LeftButton);
        QCOMPARE(m_window->findChild<QStackedWidget *>()->currentIndex(), 1);
        QCOMPARE(nav().at(1)->property("active").toString(), QStringLiteral("true"));
        const bool older = installedCfg.contains("0.9.0");
        QCOMPARE(toasts(), older ? QStringList(QLatin1String("Addon update available: v") + version) : QStringList());
    }

    // A permission-mode click on Settings re-registers configured clients through the Setup page.
    void permissionModeReachesClients()
    {
        const QString cursorConfig = TestEnv::home() + QLatin1String("/.cursor/mcp.json");
        QVERIFY(TestEnv::writeFile(cursorConfig, R"({"mcpServers":{"tavrin":{"command":"uvx","args":["tavrin"],)"
                                                 R"("env":{"GODOT_MCP_PERMISSION_MODE":"safe_edit"}}}})"));
        const QString project = TestEnv::home() + QLatin1String("/projects/sync");
        QVERIFY(TestEnv::writeFile(project + QLatin1String("/project.godot"), "config_version=5\n"));
        makeWindow(QStringLiteral(R"({"first_run_done":true,"check_updates":false,"active_project":"%1"})")
                       .arg(project)
                       .toUtf8());
        QTest::mouseClick(nav().at(1), Qt::LeftButton);
        auto *setup = m_window->findChild<SetupView *>();
        QTRY_VERIFY_WITH_TIMEOUT(withText<QLabel>(setup, QStringLiteral("Configured")), 20000); // scan accepted
        QTest::mouseClick(nav().at(2), Qt::LeftButton);
        QTest::mouseClick(withText(m_window->findChild<SettingsView *>(), QStringLiteral("Full Control")),
                          Qt::LeftButton);
        QVERIFY(toasts().contains(QStringLiteral("Permission mode: full_control")));
        const auto stored = [&] {
            return QJsonDocument::fromJson(
                       TestEnv::readFile(cursorConfig))["mcpServers"]["tavrin"]["env"]["GODOT_MCP_PERMISSION_MODE"]
                .toString();
        };
        QTRY_COMPARE_WITH_TIMEOUT(stored(), QStringLiteral("full_control"), 20000);
        QFile::remove(cursorConfig);
    }

    // A newer release asks, without blocking the window; only Yes with an installer downloads.
    void updatePrompt_data()
    {
        QTest::addColumn<QString>("asset");
        QTest::addColumn<int>("answer");
        QTest::newRow("yes downloads") << "Tavrin-9.9.9-win64.exe" << int(QMessageBox::Yes);
        QTest::newRow("no") << "Tavrin-9.9.9-win64.exe" << int(QMessageBox::No);
        QTest::newRow("yes without installer") << "Tavrin-9.9.9-linux.tar.gz" << int(QMessageBox::Yes);
    }
    void updatePrompt()
    {
        QFETCH(QString, asset);
        QFETCH(int, answer);
        m_files.urls.clear();
        LocalHttp::Server server;
        QVERIFY(server.start());
        server.route("/dl/Tavrin-9.9.9-win64.exe", {200, {}, "MZ installer"});
        const QString release = QStringLiteral(R"({"tag_name":"v9.9.9","assets":[{"name":"%1",)"
                                               R"("browser_download_url":"%2"}]})")
                                    .arg(asset, server.url("/dl/" + asset.toUtf8()).toString());
        server.route("/latest", {200, {}, release.toUtf8()});
        makeWindow(s_returningUser);
        m_window->findChild<Updater *>()->setReleaseUrl(server.url("/latest"));
        m_window->findChild<Updater *>()->checkForUpdates();

        QPointer<QMessageBox> box;
        QTRY_VERIFY_WITH_TIMEOUT((box = visibleTopLevel<QMessageBox>(QStringLiteral("Update Available"))), 10000);
        QCOMPARE(box->text(), QStringLiteral("A new version (v9.9.9) is available.\nCurrent version: v") +
                                  QLatin1String(Tavrin::Version) + QLatin1String("\n\nWould you like to download it?"));
        QCOMPARE(box->windowModality(), Qt::NonModal);
        box->button(QMessageBox::StandardButton(answer))->click();
        QTRY_VERIFY(box.isNull());
        const bool downloads = answer == QMessageBox::Yes && asset.endsWith(QLatin1String("-win64.exe"));
        QCOMPARE(toasts().contains(QStringLiteral("Downloading update...")), downloads);
        if (!downloads) {
            QCOMPARE(server.requests.size(), 1);
            return;
        }
        const QString folder = TestEnv::home() + QLatin1String("/Downloads");
        QTRY_COMPARE_WITH_TIMEOUT(m_files.urls, QList<QUrl>({QUrl::fromLocalFile(folder)}), 10000);
        QCOMPARE(server.requests.last().path, QByteArray("/dl/Tavrin-9.9.9-win64.exe"));
        QCOMPARE(TestEnv::readFile(folder + QLatin1String("/Tavrin-9.9.9-win64.exe")), QByteArray("MZ installer"));
    }

private:
    void makeWindow(const QByteArray &settingsFile)
    {
        QVERIFY(TestEnv::writeFile(Settings::filePath(), settingsFile));
        m_window = std::make_unique<MainWindow>();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    QList<QPushButton *> nav() const
    {
        QList<QPushButton *> buttons;
        for (QPushButton *button : m_window->findChildren<QPushButton *>()) {
            if (button->property("class").toString() == QLatin1String("nav"))
                buttons.append(button);
        }
        return buttons;
    }
    QStringList toasts() const
    {
        QStringList texts;
        for (Toast *toast : m_window->centralWidget()->findChildren<Toast *>())
            texts.append(toast->text());
        return texts;
    }

    UrlCatcher m_files;
    std::unique_ptr<MainWindow> m_window;
};

TAVRIN_TEST_MAIN(TestMainWindow)
#include "tst_gui_mainwindow.moc"
