#include "localhttpserver.h"
#include "settings.h"
#include "settingsview.h"
#include "testenv.h"
#include "updater.h"

#include <QtNetwork>
#include <QtTest>
#include <QtWidgets>

#include <memory>

class TestSettingsView : public QObject
{
    Q_OBJECT

private slots:
    // The stored mode lights its toggle; every click, also on the active one, stores, signals,
    // toasts and redraws.
    void toggles_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("active"); // of Safe Edit and Full Control
        QTest::newRow("mode absent") << QByteArray("{}") << "true false";
        QTest::newRow("full_control") << QByteArray(R"({"permission_mode":"full_control"})") << "false true";
        QTest::newRow("unknown mode") << QByteArray(R"({"permission_mode":"Full_Control"})") << "false false";
    }
    void toggles()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, active);
        makeView(file);
        QCOMPARE(states(), active);
        QSignalSpy modes(m_view.get(), &SettingsView::permissionModeChanged);
        QSignalSpy toasts(m_view.get(), &SettingsView::showToast);
        for (int i = 0; i < 2; ++i)
            QTest::mouseClick(button("Full Control"), Qt::LeftButton);
        QCOMPARE(modes, QList<QVariantList>(2, {QStringLiteral("full_control")}));
        QCOMPARE(toasts, QList<QVariantList>(2, {QStringLiteral("Permission mode: full_control"), 0}));
        QCOMPARE(QJsonDocument::fromJson(TestEnv::readFile(Settings::filePath()))["permission_mode"].toString(),
                 QStringLiteral("full_control"));
        QCOMPARE(states(), QStringLiteral("false true"));
    }

    // Building, also again on refresh, leaves the file as it was; the user's toggle writes it.
    // "Check Now" toasts, then asks the updater: the outcome is the main window's to report.
    void updatesCard()
    {
        LocalHttp::Server server;
        QVERIFY(server.start());
        server.route("/latest", {200, {}, R"({"tag_name":"v0.1.0"})"});
        makeView(R"({"check_updates":true})");
        m_view->refresh();
        QCOMPARE(TestEnv::readFile(Settings::filePath()), QByteArray(R"({"check_updates":true})"));
        auto *box = current()->findChild<QCheckBox *>();
        QVERIFY(box->isChecked());
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2)); // on the indicator
        QCOMPARE(QJsonDocument::fromJson(TestEnv::readFile(Settings::filePath()))["check_updates"], false);

        m_updater->setReleaseUrl(server.url("/latest"));
        QSignalSpy toasts(m_view.get(), &SettingsView::showToast);
        QSignalSpy checked(m_updater.get(), &Updater::updateChecked);
        QTest::mouseClick(button("Check Now"), Qt::LeftButton);
        QCOMPARE(toasts, QList<QVariantList>({{QStringLiteral("Checking for updates..."), 0}}));
        QTRY_COMPARE_WITH_TIMEOUT(checked.count(), 1, 10000);
        QCOMPARE(server.requests.size(), 1);
        QCOMPARE(toasts.count(), 1);
    }

private:
    void makeView(const QByteArray &settingsFile)
    {
        QVERIFY(TestEnv::writeFile(Settings::filePath(), settingsFile));
        m_view.reset();
        m_settings = std::make_unique<Settings>();
        m_updater = std::make_unique<Updater>(&m_nam, QStringLiteral("1.0.0"));
        m_view = std::make_unique<SettingsView>(m_settings.get(), m_updater.get());
    }
    // The current build: a rebuild takes the old scroll area out of the page's layout at once.
    QScrollArea *current() const { return qobject_cast<QScrollArea *>(m_view->layout()->itemAt(0)->widget()); }
    QPushButton *button(const QString &text) const
    {
        for (QPushButton *b : current()->findChildren<QPushButton *>()) {
            if (b->text() == text)
                return b;
        }
        return nullptr;
    }
    QString states() const
    {
        return button("Safe Edit")->property("active").toString() + ' ' +
               button("Full Control")->property("active").toString();
    }

    QNetworkAccessManager m_nam;
    std::unique_ptr<Settings> m_settings;
    std::unique_ptr<Updater> m_updater;
    std::unique_ptr<SettingsView> m_view;
};

TAVRIN_TEST_MAIN(TestSettingsView)
#include "tst_gui_settingsview.moc"
