#include "localhttp.h"
#include "logger.h"
#include "settings.h"
#include "settingsview.h"
#include "testenv.h"
#include "updater.h"
#include "version.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QJsonDocument>
#include <QLayout>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

// Receives QDesktopServices::openUrl instead of a browser or file manager.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
    Q_INVOKABLE void open(const QUrl &url) { urls.append(url); }
};

namespace {

// Buttons of the current build only: a rebuild drops the old scroll area from the page's layout
// at once, while its deletion waits for the event loop.
QList<QPushButton *> currentButtons(SettingsView *view)
{
    QLayout *root = view->layout();
    for (int i = 0; root && i < root->count(); ++i) {
        if (auto *scroll = qobject_cast<QScrollArea *>(root->itemAt(i)->widget()))
            return scroll->findChildren<QPushButton *>();
    }
    return {};
}

QPushButton *button(SettingsView *view, const QString &text)
{
    for (QPushButton *b : currentButtons(view)) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

QString active(SettingsView *view, const QString &text)
{
    QPushButton *b = button(view, text);
    return b ? b->property("active").toString() : QStringLiteral("missing");
}

} // namespace

class TestSettingsView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &m_web, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_files, "open");
    }
    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    }
    void init()
    {
        QFile::remove(Settings::filePath());
        m_web.urls.clear();
        m_files.urls.clear();
    }
    void cleanup()
    {
        m_view.reset();
        m_updater.reset();
        m_settings.reset();
    }

    void toggles_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("safe");
        QTest::addColumn<QString>("full");
        QTest::newRow("mode absent") << QByteArray("{}") << "true"
                                     << "false";
        QTest::newRow("safe_edit") << QByteArray(R"({"permission_mode":"safe_edit"})") << "true"
                                   << "false";
        QTest::newRow("full_control") << QByteArray(R"({"permission_mode":"full_control"})") << "false"
                                      << "true";
        QTest::newRow("unknown mode") << QByteArray(R"({"permission_mode":"Full_Control"})") << "false"
                                      << "false";
    }
    void toggles()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, safe);
        QFETCH(QString, full);
        makeView(file);
        QCOMPARE(active(m_view.get(), QStringLiteral("Safe Edit")), safe);
        QCOMPARE(active(m_view.get(), QStringLiteral("Full Control")), full);
        QCOMPARE(button(m_view.get(), QStringLiteral("Full Control"))->property("class").toString(),
                 QStringLiteral("toggle"));
    }

    // Every click, also on the active toggle, stores, signals, toasts and redraws.
    void toggleClicks()
    {
        makeView(R"({"permission_mode":"safe_edit"})");
        QSignalSpy modes(m_view.get(), &SettingsView::permissionModeChanged);
        QSignalSpy toasts(m_view.get(), &SettingsView::showToast);
        QPushButton *fullBefore = button(m_view.get(), QStringLiteral("Full Control"));

        QTest::mouseClick(fullBefore, Qt::LeftButton);
        QCOMPARE(modes.count(), 1);
        QCOMPARE(modes.first().first().toString(), QStringLiteral("full_control"));
        QCOMPARE(toasts.count(), 1);
        QCOMPARE(toasts.first().at(0).toString(), QStringLiteral("Permission mode: full_control"));
        QCOMPARE(toasts.first().at(1).toInt(), 0);
        QCOMPARE(QJsonDocument::fromJson(TestEnv::readFile(Settings::filePath()))["permission_mode"].toString(),
                 QStringLiteral("full_control"));
        QVERIFY(button(m_view.get(), QStringLiteral("Full Control")) != fullBefore); // rebuilt
        QCOMPARE(active(m_view.get(), QStringLiteral("Full Control")), QStringLiteral("true"));
        QCOMPARE(active(m_view.get(), QStringLiteral("Safe Edit")), QStringLiteral("false"));

        QTest::mouseClick(button(m_view.get(), QStringLiteral("Full Control")), Qt::LeftButton);
        QCOMPARE(modes.count(), 2);
        QCOMPARE(toasts.count(), 2);
        QTest::mouseClick(button(m_view.get(), QStringLiteral("Safe Edit")), Qt::LeftButton);
        QCOMPARE(modes.last().first().toString(), QStringLiteral("safe_edit"));
        QCOMPARE(active(m_view.get(), QStringLiteral("Safe Edit")), QStringLiteral("true"));
        QCOMPARE(m_settings->permissionMode(), QStringLiteral("safe_edit"));
    }

    // The box is set before its signal is connected: building, also again on refresh, leaves the
    // file as it was; only the user's toggle writes it.
    void checkBoxNotWrittenByBuild_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::newRow("on") << true;
        QTest::newRow("off") << false;
    }
    void checkBoxNotWrittenByBuild()
    {
        QFETCH(bool, enabled);
        const QByteArray file = enabled ? R"({"check_updates":true,"keep":1})" : R"({"check_updates":false,"keep":1})";
        makeView(file);
        m_view->refresh();
        QCOMPARE(TestEnv::readFile(Settings::filePath()), file);

        QCheckBox *box = nullptr;
        QLayout *root = m_view->layout();
        box = qobject_cast<QScrollArea *>(root->itemAt(0)->widget())->findChild<QCheckBox *>();
        QVERIFY(box);
        QCOMPARE(box->text(), QStringLiteral("Check for updates automatically"));
        QCOMPARE(box->isChecked(), enabled);
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2)); // on the indicator
        const QJsonObject written = QJsonDocument::fromJson(TestEnv::readFile(Settings::filePath())).object();
        QCOMPARE(written.value(QLatin1String("check_updates")).toBool(), !enabled);
        QCOMPARE(written.value(QLatin1String("keep")).toInt(), 1);
    }

    // "Check Now" toasts, then asks the updater, whose query reaches the release host.
    void checkNow()
    {
        LocalHttp server;
        server.setResponse("/latest", {200, R"({"tag_name":"v0.1.0"})"});
        makeView("{}");
        m_updater->setReleaseUrl(server.url(QStringLiteral("/latest")));
        QSignalSpy toasts(m_view.get(), &SettingsView::showToast);
        QSignalSpy checked(m_updater.get(), &Updater::updateChecked);

        QTest::mouseClick(button(m_view.get(), QStringLiteral("Check Now")), Qt::LeftButton);
        QCOMPARE(toasts.count(), 1);
        QCOMPARE(toasts.first().at(0).toString(), QStringLiteral("Checking for updates..."));
        QCOMPARE(toasts.first().at(1).toInt(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(checked.count(), 1, 10000);
        QCOMPARE(server.requests(), QList<QByteArray>({"/latest"}));
        QCOMPARE(toasts.count(), 1); // the outcome is the main window's to report
    }

    void links_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("url");
        QTest::newRow("website") << "Website" << QString::fromLatin1(Tavrin::WebsiteUrl);
        QTest::newRow("github") << "GitHub" << QString::fromLatin1(Tavrin::GitHubUrl);
        QTest::newRow("docs") << "Documentation" << QString::fromLatin1(Tavrin::DocsUrl);
    }
    void links()
    {
        QFETCH(QString, text);
        QFETCH(QString, url);
        makeView("{}");
        QCOMPARE(button(m_view.get(), text)->property("class").toString(), QStringLiteral("ghost"));
        QTest::mouseClick(button(m_view.get(), text), Qt::LeftButton);
        QCOMPARE(m_web.urls, QList<QUrl>({QUrl(url)}));
        QVERIFY(url.startsWith(QLatin1String("https://")));
    }

    void openLogFile_data()
    {
        QTest::addColumn<bool>("logExists");
        QTest::newRow("no log yet: its folder") << false;
        QTest::newRow("log exists: the file") << true;
    }
    void openLogFile()
    {
        QFETCH(bool, logExists);
        const QString log = Logger::logFilePath();
        QFile::remove(log);
        if (logExists)
            QVERIFY(TestEnv::writeFile(log, "line\n"));
        makeView("{}");
        QTest::mouseClick(button(m_view.get(), QStringLiteral("Open Log File")), Qt::LeftButton);
        QCOMPARE(m_files.urls.size(), 1);
        QCOMPARE(m_files.urls.first().toLocalFile(), logExists ? log : QFileInfo(log).absolutePath());
        QVERIFY(m_web.urls.isEmpty());
    }

private:
    void makeView(const QByteArray &settingsFile)
    {
        QVERIFY(TestEnv::writeFile(Settings::filePath(), settingsFile));
        m_settings = std::make_unique<Settings>();
        m_updater = std::make_unique<Updater>(&m_nam, QLatin1String(Tavrin::Version));
        m_view = std::make_unique<SettingsView>(m_settings.get(), m_updater.get());
    }

    QNetworkAccessManager m_nam;
    UrlCatcher m_web;
    UrlCatcher m_files;
    std::unique_ptr<Settings> m_settings;
    std::unique_ptr<Updater> m_updater;
    std::unique_ptr<SettingsView> m_view;
};

TAVRIN_TEST_MAIN(TestSettingsView)
#include "tst_gui_settingsview.moc"
