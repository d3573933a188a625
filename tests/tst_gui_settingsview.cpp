#include "localhttpserver.h"
#include "logger.h"
#include "settings.h"
#include "settingsview.h"
#include "testenv.h"
#include "updater.h"
#include "version.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLayout>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>

#include <memory>

// Receives QDesktopServices::openUrl instead of a browser or file manager.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
    Q_INVOKABLE void open(const QUrl &url) { urls.append(url); }
};

class TestSettingsView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &m_opened, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_opened, "open");
    }
    void init() { m_opened.urls.clear(); }

    void toggles_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("safe");
        QTest::addColumn<QString>("full");
        QTest::newRow("mode absent") << QByteArray("{}") << "true"
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
        QCOMPARE(button(QStringLiteral("Safe Edit"))->property("active").toString(), safe);
        QCOMPARE(button(QStringLiteral("Full Control"))->property("active").toString(), full);
    }

    // Every click, also on the active toggle, stores, signals, toasts and redraws.
    void toggleClicks()
    {
        makeView("{}");
        QSignalSpy modes(m_view.get(), &SettingsView::permissionModeChanged);
        QSignalSpy toasts(m_view.get(), &SettingsView::showToast);
        QPushButton *before = button(QStringLiteral("Full Control"));
        for (int i = 0; i < 2; ++i)
            QTest::mouseClick(button(QStringLiteral("Full Control")), Qt::LeftButton);

        QCOMPARE(modes.count(), 2);
        QCOMPARE(modes.first().first().toString(), QStringLiteral("full_control"));
        QCOMPARE(toasts.count(), 2);
        QCOMPARE(toasts.first(), QVariantList({QStringLiteral("Permission mode: full_control"), 0}));
        QCOMPARE(QJsonDocument::fromJson(TestEnv::readFile(Settings::filePath()))["permission_mode"].toString(),
                 QStringLiteral("full_control"));
        QVERIFY(button(QStringLiteral("Full Control")) != before); // rebuilt
        QCOMPARE(button(QStringLiteral("Full Control"))->property("active").toString(), QStringLiteral("true"));
        QCOMPARE(button(QStringLiteral("Safe Edit"))->property("active").toString(), QStringLiteral("false"));
    }

    // Building, also again on refresh, leaves the settings file as it was; the user's toggle
    // writes it.
    void checkBoxWrittenOnlyByUser_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::newRow("on") << true;
        QTest::newRow("off") << false;
    }
    void checkBoxWrittenOnlyByUser()
    {
        QFETCH(bool, enabled);
        const QByteArray file = enabled ? R"({"check_updates":true})" : R"({"check_updates":false})";
        makeView(file);
        m_view->refresh();
        QCOMPARE(TestEnv::readFile(Settings::filePath()), file);

        auto *box = current()->findChild<QCheckBox *>();
        QCOMPARE(box->isChecked(), enabled);
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2)); // on the indicator
        QCOMPARE(QJsonDocument::fromJson(TestEnv::readFile(Settings::filePath()))["check_updates"].toBool(), !enabled);
    }

    // "Check Now" toasts, then asks the updater, whose query reaches the release host.
    void checkNow()
    {
        LocalHttp::Server server;
        QVERIFY(server.start());
        server.route("/latest", {200, {}, R"({"tag_name":"v0.1.0"})"});
        makeView("{}");
        m_updater->setReleaseUrl(server.url("/latest"));
        QSignalSpy toasts(m_view.get(), &SettingsView::showToast);
        QSignalSpy checked(m_updater.get(), &Updater::updateChecked);

        QTest::mouseClick(button(QStringLiteral("Check Now")), Qt::LeftButton);
        QCOMPARE(toasts.count(), 1);
        QCOMPARE(toasts.first(), QVariantList({QStringLiteral("Checking for updates..."), 0}));
        QTRY_COMPARE_WITH_TIMEOUT(checked.count(), 1, 10000);
        QCOMPARE(server.requests.size(), 1);
        QCOMPARE(toasts.count(), 1); // the outcome is the main window's to report
    }

    void opensAddresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("logExists");
        QTest::addColumn<QUrl>("url");
        const QString log = Logger::logFilePath();
        QTest::newRow("website") << "Website" << false << QUrl(QString::fromLatin1(Tavrin::WebsiteUrl));
        QTest::newRow("github") << "GitHub" << false << QUrl(QString::fromLatin1(Tavrin::GitHubUrl));
        QTest::newRow("docs") << "Documentation" << false << QUrl(QString::fromLatin1(Tavrin::DocsUrl));
        QTest::newRow("log file") << "Open Log File" << true << QUrl::fromLocalFile(log);
        QTest::newRow("no log yet: its folder")
            << "Open Log File" << false << QUrl::fromLocalFile(QFileInfo(log).absolutePath());
    }
    void opensAddresses()
    {
        QFETCH(QString, text);
        QFETCH(bool, logExists);
        QFETCH(QUrl, url);
        QFile::remove(Logger::logFilePath());
        if (logExists)
            QVERIFY(TestEnv::writeFile(Logger::logFilePath(), "line\n"));
        makeView("{}");
        QTest::mouseClick(button(text), Qt::LeftButton);
        QCOMPARE(m_opened.urls, QList<QUrl>({url}));
    }

private:
    void makeView(const QByteArray &settingsFile)
    {
        QVERIFY(TestEnv::writeFile(Settings::filePath(), settingsFile));
        m_view.reset();
        m_settings = std::make_unique<Settings>();
        m_updater = std::make_unique<Updater>(&m_nam, QLatin1String(Tavrin::Version));
        m_view = std::make_unique<SettingsView>(m_settings.get(), m_updater.get());
    }
    // The current build: a rebuild drops the old scroll area from the page's layout at once.
    QScrollArea *current() const { return qobject_cast<QScrollArea *>(m_view->layout()->itemAt(0)->widget()); }
    QPushButton *button(const QString &text) const
    {
        for (QPushButton *b : current()->findChildren<QPushButton *>()) {
            if (b->text() == text)
                return b;
        }
        return nullptr;
    }

    QNetworkAccessManager m_nam;
    UrlCatcher m_opened;
    std::unique_ptr<Settings> m_settings;
    std::unique_ptr<Updater> m_updater;
    std::unique_ptr<SettingsView> m_view;
};

TAVRIN_TEST_MAIN(TestSettingsView)
#include "tst_gui_settingsview.moc"
