#include "localhttpserver.h"
#include "settings.h"
#include "settingsview.h"
#include "testenv.h"
#include "updater.h"

#include <QtNetwork>
#include <QtTest>
#include <QtWidgets>

namespace {

// The current build: a rebuild takes the old scroll area out of the page's layout at once.
QWidget *current(SettingsView &view)
{
    return view.layout()->itemAt(0)->widget();
}

QPushButton *button(SettingsView &view, const QString &text)
{
    for (QPushButton *b : current(view)->findChildren<QPushButton *>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

QString states(SettingsView &view)
{
    return button(view, "Safe Edit")->property("active").toString() + ' ' +
           button(view, "Full Control")->property("active").toString();
}

} // namespace

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
        QVERIFY(TestEnv::writeFile(Settings::filePath(), file));
        Settings settings;
        SettingsView view(&settings, &m_updater);
        QCOMPARE(states(view), active);
        QSignalSpy modes(&view, &SettingsView::permissionModeChanged);
        QSignalSpy toasts(&view, &SettingsView::showToast);
        for (int i = 0; i < 2; ++i)
            QTest::mouseClick(button(view, "Full Control"), Qt::LeftButton);
        QCOMPARE(modes, QList<QVariantList>(2, {QStringLiteral("full_control")}));
        QCOMPARE(toasts, QList<QVariantList>(2, {QStringLiteral("Permission mode: Full Control"), 0}));
        QCOMPARE(QJsonDocument::fromJson(TestEnv::readFile(Settings::filePath()))["permission_mode"], "full_control");
        QCOMPARE(states(view), QStringLiteral("false true"));
    }

    // Building, also again on refresh, leaves the file as it was; the user's toggle writes it.
    // "Check Now" toasts, then asks the updater: the outcome is the main window's to report.
    void updatesCard()
    {
        const QByteArray file = R"({"check_updates":true})";
        QVERIFY(TestEnv::writeFile(Settings::filePath(), file));
        Settings settings;
        SettingsView view(&settings, &m_updater);
        view.refresh();
        QCOMPARE(TestEnv::readFile(Settings::filePath()), file);
        auto *box = current(view)->findChild<QCheckBox *>();
        QVERIFY(box->isChecked());
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2)); // on the indicator
        QCOMPARE(QJsonDocument::fromJson(TestEnv::readFile(Settings::filePath()))["check_updates"], false);

        LocalHttp::Server server;
        QVERIFY(server.start());
        server.route("/latest", {200, {}, R"({"tag_name":"v0.1.0"})"});
        m_updater.setReleaseUrl(server.url("/latest"));
        QSignalSpy toasts(&view, &SettingsView::showToast);
        QSignalSpy checked(&m_updater, &Updater::updateChecked);
        QTest::mouseClick(button(view, "Check Now"), Qt::LeftButton);
        QCOMPARE(toasts, QList<QVariantList>({{QStringLiteral("Checking for updates..."), 0}}));
        QTRY_COMPARE_WITH_TIMEOUT(checked.count(), 1, 10000);
        QCOMPARE(server.requests.size(), 1);
        QCOMPARE(toasts.count(), 1);
    }

private:
    QNetworkAccessManager m_nam;
    Updater m_updater{&m_nam, QStringLiteral("1.0.0")};
};

TAVRIN_TEST_MAIN(TestSettingsView)
#include "tst_gui_settingsview.moc"
