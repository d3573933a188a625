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
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
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

// Counts widgets that become children of a page: every rebuild of a page adds new ones.
class ChildCounter : public QObject
{
public:
    int count = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ChildAdded && static_cast<QChildEvent *>(event)->child()->isWidgetType())
            ++count;
        return QObject::eventFilter(watched, event);
    }
};

namespace {

const QByteArray s_returningUser = R"({"check_updates":false,"first_run_done":true})";

QList<QPushButton *> navButtons(MainWindow *window)
{
    QList<QPushButton *> result;
    for (QPushButton *button : window->findChildren<QPushButton *>()) {
        if (button->property("class").toString() == QLatin1String("nav"))
            result.append(button);
    }
    std::sort(result.begin(), result.end(), [](QPushButton *a, QPushButton *b) { return a->y() < b->y(); });
    return result;
}

QStringList toastTexts(MainWindow *window)
{
    QStringList texts;
    for (Toast *toast : window->centralWidget()->findChildren<Toast *>())
        texts.append(toast->text());
    return texts;
}

Toast *toastWithText(MainWindow *window, const QString &text)
{
    const QList<Toast *> toasts = window->centralWidget()->findChildren<Toast *>();
    const auto found = std::find_if(toasts.begin(), toasts.end(), [&](Toast *t) { return t->text() == text; });
    return found == toasts.end() ? nullptr : *found;
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

bool near(QRgb actual, QRgb expected)
{
    return qAbs(qRed(actual) - qRed(expected)) <= 3 && qAbs(qGreen(actual) - qGreen(expected)) <= 3 &&
           qAbs(qBlue(actual) - qBlue(expected)) <= 3;
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
        const QString source = qEnvironmentVariable("TAVRIN_ADDON_SOURCE");
        QVERIFY2(!source.isEmpty(), "TAVRIN_ADDON_SOURCE names the addon to ship beside the test");
        const QString bundled = QCoreApplication::applicationDirPath() + QLatin1String("/bundled_addon");
        QDir(bundled).removeRecursively();
        QVERIFY(Addon().copyDir(source, bundled));
    }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    void init() { m_files.urls.clear(); }
    void cleanup() { m_window.reset(); }

    // The chosen button is active with the light accent icon and tinted background; the others
    // are not. Choosing the current page again changes nothing visible.
    void navigation_data()
    {
        QTest::addColumn<QList<int>>("clicks");
        QTest::newRow("projects at start") << QList<int>();
        QTest::newRow("setup") << QList<int>{1};
        QTest::newRow("settings") << QList<int>{2};
        QTest::newRow("settings then projects") << QList<int>{2, 0};
        QTest::newRow("setup twice") << QList<int>{1, 1};
    }
    void navigation()
    {
        QFETCH(QList<int>, clicks);
        makeWindow(s_returningUser);
        const QList<QPushButton *> buttons = navButtons(m_window.get());
        QCOMPARE(buttons.size(), 3);
        QCOMPARE(buttons.at(0)->text(), QStringLiteral("  Projects"));
        QCOMPARE(buttons.at(1)->text(), QStringLiteral("  Setup"));
        QCOMPARE(buttons.at(2)->text(), QStringLiteral("  Settings"));
        for (int index : clicks)
            QTest::mouseClick(buttons.at(index), Qt::LeftButton);
        const int current = clicks.isEmpty() ? 0 : clicks.last();

        auto *stack = m_window->findChild<QStackedWidget *>();
        QCOMPARE(stack->currentIndex(), current);
        const char *pageClass[] = {"ProjectView", "SetupView", "SettingsView"};
        QCOMPARE(stack->currentWidget()->metaObject()->className(), pageClass[current]);

        const QByteArray svgs[] = {Icons::FOLDER, Icons::WRENCH, Icons::GEAR};
        QWidget *sidebar = m_window->findChild<QWidget *>(QStringLiteral("sidebar"));
        const QImage sidebarImage = sidebar->grab().toImage();
        for (int i = 0; i < 3; ++i) {
            const bool active = i == current;
            QCOMPARE(buttons.at(i)->property("active").toString(),
                     active ? QStringLiteral("true") : QStringLiteral("false"));
            const QImage shown = argb(buttons.at(i)->icon().pixmap(QSize(18, 18)));
            QCOMPARE(shown, argb(Icons::icon(svgs[i], active ? "#6ba3e0" : "#8892a0", 18)));
            QVERIFY(shown != argb(Icons::icon(svgs[i], active ? "#8892a0" : "#6ba3e0", 18)));
            // The style has been re-applied: accent tint over the sidebar for the active button.
            const QRect geometry = buttons.at(i)->geometry();
            const QRgb pixel = sidebarImage.pixel(geometry.left() + 4, geometry.center().y());
            QVERIFY2(near(pixel, active ? qRgb(29, 41, 55) : qRgb(0x16, 0x1b, 0x22)),
                     qPrintable(QStringLiteral("button %1: %2").arg(i).arg(QColor(pixel).name())));
        }
    }

    // Offscreen offers no tray: no icon, and closing the window ends a running event loop.
    void closeWithoutTrayEnds()
    {
        makeWindow(s_returningUser);
        QCOMPARE(m_window->findChild<QLabel *>(QStringLiteral("sidebarFooter"))->text(),
                 QLatin1Char('v') + QLatin1String(Tavrin::Version));
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        QVERIFY(!m_window->findChild<QSystemTrayIcon *>());
        bool closed = false;
        QTimer::singleShot(0, m_window.get(), [&] { closed = m_window->close(); });
        QTimer guard; // fires only when closing did not end the loop
        connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
        guard.start(10000);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(closed);
    }

    // Choosing a page again runs its refresh again: each rebuild adds fresh widgets to the page.
    void pagesRefreshWhenChosen_data()
    {
        QTest::addColumn<int>("index");
        QTest::newRow("setup") << 1;
        QTest::newRow("settings") << 2;
    }
    void pagesRefreshWhenChosen()
    {
        QFETCH(int, index);
        makeWindow(s_returningUser);
        QWidget *page = m_window->findChild<QStackedWidget *>()->widget(index);
        ChildCounter counter;
        page->installEventFilter(&counter);
        const QList<QPushButton *> buttons = navButtons(m_window.get());
        QTest::mouseClick(buttons.at(index), Qt::LeftButton);
        const int afterFirst = counter.count;
        QVERIFY(afterFirst > 0);
        QTest::mouseClick(buttons.at(index), Qt::LeftButton);
        QVERIFY(counter.count > afterFirst);
        page->removeEventFilter(&counter);
    }

    void welcome_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("dismiss");
        QTest::addColumn<bool>("marked");
        QTest::newRow("get started") << QByteArray(R"({"check_updates":false})") << "button" << true;
        QTest::newRow("escape") << QByteArray(R"({"check_updates":false})") << "escape" << false;
        QTest::newRow("closed") << QByteArray(R"({"check_updates":false})") << "close" << false;
        QTest::newRow("returning user") << s_returningUser << QString() << true;
    }
    void welcome()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, dismiss);
        QFETCH(bool, marked);
        makeWindow(file);
        QCOMPARE(m_window->findChild<QStackedWidget *>()->currentIndex(), 0);
        auto *dialog = visibleTopLevel<QDialog>(QStringLiteral("Welcome to Tavrin"));
        if (dismiss.isEmpty()) {
            QVERIFY(!dialog);
            QCOMPARE(TestEnv::readFile(Settings::filePath()), file);
            return;
        }
        QVERIFY(dialog);
        QPointer<QDialog> guard(dialog);
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        QPushButton *start = nullptr;
        for (QPushButton *button : dialog->findChildren<QPushButton *>()) {
            if (button->text() == QLatin1String("Get Started"))
                start = button;
        }
        QVERIFY(start);
        if (dismiss == QLatin1String("button"))
            QTest::mouseClick(start, Qt::LeftButton);
        else if (dismiss == QLatin1String("escape"))
            QTest::keyClick(dialog, Qt::Key_Escape);
        else
            dialog->close();
        QTRY_VERIFY(guard.isNull()); // deleted once closed
        const QJsonObject stored = QJsonDocument::fromJson(TestEnv::readFile(Settings::filePath())).object();
        QCOMPARE(stored.value(QLatin1String("first_run_done")).toBool(), marked);
    }

    // Opening a project toasts only when its addon differs from the shipped one, and always lands
    // on the Setup page.
    void addonToastOnSelection_data()
    {
        QTest::addColumn<QByteArray>("installedCfg");
        QTest::addColumn<bool>("toast");
        QTest::newRow("older addon") << QByteArray("[plugin]\nversion=\"0.9.0\"\n") << true;
        QTest::newRow("no addon") << QByteArray() << false;
        QTest::newRow("same version") << QByteArray("shipped") << false;
    }
    void addonToastOnSelection()
    {
        QFETCH(QByteArray, installedCfg);
        QFETCH(bool, toast);
        const QString project = TestEnv::home() + QLatin1String("/projects/") + QLatin1String(QTest::currentDataTag());
        QDir(project).removeRecursively();
        QVERIFY(TestEnv::writeFile(project + QLatin1String("/project.godot"), "config_version=5\n"));
        const QString bundled = QCoreApplication::applicationDirPath() + QLatin1String("/bundled_addon");
        if (installedCfg == "shipped")
            installedCfg = TestEnv::readFile(bundled + QLatin1String("/plugin.cfg"));
        if (!installedCfg.isNull())
            QVERIFY(TestEnv::writeFile(project + QLatin1String("/addons/tavrin_mcp/plugin.cfg"), installedCfg));
        makeWindow(
            QStringLiteral(
                R"({"check_updates":false,"first_run_done":true,"recent_projects":[{"path":"%1","name":"game"}]})")
                .arg(project)
                .toUtf8());

        auto *projects = m_window->findChild<ProjectView *>();
        QPushButton *open = nullptr;
        for (QPushButton *button : projects->findChildren<QPushButton *>()) {
            if (button->text() == QLatin1String("Open"))
                open = button;
        }
        QVERIFY(open);
        QTest::mouseClick(open, Qt::LeftButton);

        QCOMPARE(m_window->findChild<QStackedWidget *>()->currentIndex(), 1);
        QCOMPARE(navButtons(m_window.get()).at(1)->property("active").toString(), QStringLiteral("true"));
        const QString expected = QLatin1String("Addon update available: v") + Addon::readVersionFromCfg(bundled);
        QVERIFY(!Addon::readVersionFromCfg(bundled).isEmpty());
        QCOMPARE(toastTexts(m_window.get()), toast ? QStringList(expected) : QStringList());
    }

    // Page signals become toasts on the central widget; an unknown type shows as information.
    void pageToasts()
    {
        makeWindow(s_returningUser);
        auto *settingsPage = m_window->findChild<SettingsView *>();
        emit settingsPage->showToast(QStringLiteral("odd"), 5);
        emit settingsPage->showToast(QStringLiteral("bad"), Toast::Error);
        Toast *odd = toastWithText(m_window.get(), QStringLiteral("odd"));
        Toast *bad = toastWithText(m_window.get(), QStringLiteral("bad"));
        QVERIFY(odd && bad);
        QVERIFY(odd->styleSheet().contains(QLatin1String("rgba(22,27,34,0.95)")));
        QVERIFY(bad->styleSheet().contains(QLatin1String("rgba(229,83,75,0.95)")));
        emit m_window->findChild<SetupView *>()->showToast(QStringLiteral("from setup"), Toast::Success);
        QVERIFY(toastWithText(m_window.get(), QStringLiteral("from setup")));
    }

    // A permission-mode click on the Settings page re-registers configured clients through the
    // Setup page.
    void permissionModeReachesClients()
    {
        const QString cursorConfig = TestEnv::home() + QLatin1String("/.cursor/mcp.json");
        QVERIFY(TestEnv::writeFile(
            cursorConfig,
            R"({"mcpServers":{"tavrin":{"command":"uvx","args":["tavrin"],"env":{"GODOT_MCP_PERMISSION_MODE":"safe_edit"}}}})"));
        const QString project = TestEnv::home() + QLatin1String("/projects/sync");
        QVERIFY(TestEnv::writeFile(project + QLatin1String("/project.godot"), "config_version=5\n"));
        makeWindow(QStringLiteral(R"({"check_updates":false,"first_run_done":true,"active_project":"%1"})")
                       .arg(project)
                       .toUtf8());
        const QList<QPushButton *> buttons = navButtons(m_window.get());
        QTest::mouseClick(buttons.at(1), Qt::LeftButton);
        auto *setupPage = m_window->findChild<SetupView *>();
        // The scan has been accepted once Cursor's card shows it configured.
        QTRY_VERIFY_WITH_TIMEOUT(
            [setupPage] {
                for (QLabel *label : setupPage->findChildren<QLabel *>()) {
                    if (label->text() == QLatin1String("Configured"))
                        return true;
                }
                return false;
            }(),
            20000);
        QTest::mouseClick(buttons.at(2), Qt::LeftButton);
        QPushButton *full = nullptr;
        for (QPushButton *button : m_window->findChild<SettingsView *>()->findChildren<QPushButton *>()) {
            if (button->text() == QLatin1String("Full Control"))
                full = button;
        }
        QTest::mouseClick(full, Qt::LeftButton);
        QVERIFY(toastWithText(m_window.get(), QStringLiteral("Permission mode: full_control")));
        const auto storedMode = [&cursorConfig] {
            const QJsonObject root = QJsonDocument::fromJson(TestEnv::readFile(cursorConfig)).object();
            return root.value(QLatin1String("mcpServers"))
                .toObject()
                .value(QLatin1String("tavrin"))
                .toObject()
                .value(QLatin1String("env"))
                .toObject()
                .value(QLatin1String("GODOT_MCP_PERMISSION_MODE"))
                .toString();
        };
        QTRY_COMPARE_WITH_TIMEOUT(storedMode(), QStringLiteral("full_control"), 20000);
        QFile::remove(cursorConfig);
    }

    void updatePrompt_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("asset");
        QTest::addColumn<QByteArray>("assetPath");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("outcome");
        const int yes = QMessageBox::Yes;
        const int no = QMessageBox::No;
        QTest::newRow("yes downloads") << "v9.9.9"
                                       << "Tavrin-9.9.9-win64.exe" << QByteArray("/dl/Tavrin-9.9.9-win64.exe") << yes
                                       << "Update downloaded!";
        QTest::newRow("no") << "v9.9.9"
                            << "Tavrin-9.9.9-win64.exe" << QByteArray("/dl/Tavrin-9.9.9-win64.exe") << no << "";
        QTest::newRow("yes without installer")
            << "v9.9.9"
            << "Tavrin-9.9.9-linux.tar.gz" << QByteArray("/dl/x.tar.gz") << yes << "";
        QTest::newRow("download fails") << "v9.9.9"
                                        << "Tavrin-9.9.9-win64.exe" << QByteArray("/dl/missing-win64.exe") << yes
                                        << "Download failed: ";
        QTest::newRow("up to date") << QStringLiteral("v") + QLatin1String(Tavrin::Version) << "Tavrin-win64.exe"
                                    << QByteArray("/dl/Tavrin-win64.exe") << 0 << "You're up to date!";
    }
    void updatePrompt()
    {
        QFETCH(QString, tag);
        QFETCH(QString, asset);
        QFETCH(QByteArray, assetPath);
        QFETCH(int, answer);
        QFETCH(QString, outcome);
        const QByteArray installer = "MZ fake installer bytes";
        LocalHttp::Server server;
        QVERIFY(server.start());
        server.route("/dl/Tavrin-9.9.9-win64.exe", {200, {}, installer});
        const QString release =
            QStringLiteral(R"({"tag_name":"%1","assets":[{"name":"%2","browser_download_url":"%3"}]})");
        server.route("/latest", {200, {}, release.arg(tag, asset, server.url(assetPath).toString()).toUtf8()});
        makeWindow(s_returningUser);
        auto *updater = m_window->findChild<Updater *>();
        updater->setReleaseUrl(server.url("/latest"));
        updater->checkForUpdates();

        if (answer == 0) {
            QTRY_VERIFY_WITH_TIMEOUT(toastWithText(m_window.get(), outcome), 10000);
            QVERIFY(toastWithText(m_window.get(), outcome)->styleSheet().contains(QLatin1String("45,190,120")));
            QVERIFY(!visibleTopLevel<QMessageBox>(QStringLiteral("Update Available")));
            return;
        }
        QMessageBox *box = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((box = visibleTopLevel<QMessageBox>(QStringLiteral("Update Available"))), 10000);
        QCOMPARE(box->text(), QStringLiteral("A new version (v9.9.9) is available.\nCurrent version: v") +
                                  QLatin1String(Tavrin::Version) + QLatin1String("\n\nWould you like to download it?"));
        QCOMPARE(box->windowModality(), Qt::NonModal); // the window stays usable
        QPointer<QMessageBox> guard(box);
        box->button(QMessageBox::StandardButton(answer))->click();
        QTRY_VERIFY(guard.isNull());

        const bool downloads = answer == QMessageBox::Yes && asset.contains(QLatin1String("-win64.exe"));
        QCOMPARE(toastTexts(m_window.get()).contains(QStringLiteral("Downloading update...")), downloads);
        if (!downloads) {
            QCOMPARE(server.requests.size(), 1);
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const QString &text : toastTexts(m_window.get())) {
                    if (text.startsWith(outcome))
                        return true;
                }
                return false;
            }(),
            10000);
        QCOMPARE(server.requests.size(), 2);
        QCOMPARE(server.requests.last().path, assetPath);
        if (outcome == QLatin1String("Download failed: ")) {
            QVERIFY(m_files.urls.isEmpty());
            return;
        }
        const QString folder = TestEnv::home() + QLatin1String("/Downloads");
        QCOMPARE(TestEnv::readFile(folder + QLatin1String("/Tavrin-9.9.9-win64.exe")), installer);
        QCOMPARE(m_files.urls, QList<QUrl>({QUrl::fromLocalFile(folder)}));
        QVERIFY(m_window->isVisible()); // the application stays open
    }

private:
    void makeWindow(const QByteArray &settingsFile)
    {
        QFile::remove(Settings::filePath());
        QVERIFY(TestEnv::writeFile(Settings::filePath(), settingsFile));
        m_window = std::make_unique<MainWindow>();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    UrlCatcher m_files;
    std::unique_ptr<MainWindow> m_window;
};

TAVRIN_TEST_MAIN(TestMainWindow)
#include "tst_gui_mainwindow.moc"
