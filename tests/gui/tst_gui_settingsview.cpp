#include "base/logger.h"
#include "core/backups.h"
#include "core/settings.h"
#include "gui/guitest.h"
#include "gui/settingsview.h"
#include "testenv.h"
#include "version.h"

#include <QtNetwork>
#include <QtTest>
#include <QtWidgets>

using GuiTest::find;
using TestEnv::row;

namespace {

QString states(SettingsView &view)
{
    return find(&view, "Safe Edit")->property("active").toString() + ' ' +
           find(&view, "Full Control")->property("active").toString();
}

} // namespace

class TestSettingsView : public QObject
{
    Q_OBJECT

private slots:

    // The content waits for the page to be shown. The stored mode lights its toggle; every click, also
    // on the active one, stores the mode (which signals the change) and toasts; a mode stored
    // elsewhere lights its toggle too.
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
        QVERIFY(TestEnv::writeFile(Settings::filePath(), file));
        Settings settings;
        SettingsView view(&settings);
        QVERIFY(view.findChildren<QPushButton *>().isEmpty());
        view.show();
        QTEST(states(view), "active");
        QSignalSpy modes(&settings, &Settings::permissionModeChanged);
        QSignalSpy toasts(&view, &SettingsView::showToast);
        for (int i = 0; i < 2; ++i)
            QTest::mouseClick(find(&view, "Full Control"), Qt::LeftButton);
        QCOMPARE(modes, QList<QVariantList>(2, {QStringLiteral("full_control")}));
        QCOMPARE(toasts, QList<QVariantList>(2, {QStringLiteral("Permission mode: Full Control"), 0}));
        QCOMPARE(QJsonDocument::fromJson(TestEnv::readFile(Settings::filePath()))["permission_mode"], "full_control");
        QCOMPARE(states(view), QStringLiteral("false true"));
        settings.setPermissionMode("safe_edit");
        QCOMPARE(states(view), QStringLiteral("true false"));
    }

    // Building, also again on refresh, leaves the file as it was; the user's toggle writes it, and a
    // change written elsewhere shows.
    // "Check Now" asks the main window to check: the outcome is the window's to report. The about
    // box tells how many tools the server offered at its last test, once one has run.
    void updatesAndAbout()
    {
        const QByteArray file = R"({"check_updates":true})";
        QVERIFY(TestEnv::writeFile(Settings::filePath(), file));
        Settings settings;
        SettingsView view(&settings);
        view.refresh();
        view.refresh();
        QCOMPARE(TestEnv::readFile(Settings::filePath()), file);
        auto *box = view.findChild<QCheckBox *>();
        QVERIFY(box->isChecked());
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2)); // on the indicator
        QCOMPARE(QJsonDocument::fromJson(TestEnv::readFile(Settings::filePath()))["check_updates"], false);
        auto *prereleases = find<QCheckBox>(&view, "Include pre-releases");
        QVERIFY(prereleases && !prereleases->isChecked());
        QTest::mouseClick(prereleases, Qt::LeftButton, {}, QPoint(8, prereleases->height() / 2));
        QVERIFY(settings.includePrereleases());
        QCOMPARE(QJsonDocument::fromJson(TestEnv::readFile(Settings::filePath()))["include_prereleases"], true);
        // What the command line writes shows on the page as it is taken over.
        QVERIFY(TestEnv::writeFile(Settings::filePath(), file));
        settings.reload();
        QVERIFY(box->isChecked() && !prereleases->isChecked());
        QCOMPARE(TestEnv::readFile(Settings::filePath()), file);

        QSignalSpy toasts(&view, &SettingsView::showToast);
        QSignalSpy requested(&view, &SettingsView::updateCheckRequested);
        QTest::mouseClick(find(&view, "Check Now"), Qt::LeftButton);
        QCOMPARE(toasts.count(), 0); // the main window says it is checking, then the answer
        QCOMPARE(requested.count(), 1);

        auto *about = view.findChild<QLabel *>("aboutServer");
        QCOMPARE(about->text(), "MCP server for Godot 4.x.");
        settings.setServerToolCount(345);
        QCOMPARE(about->text(), "MCP server for Godot 4.x with 345 tools.");
    }

    // Links and the log open through the desktop; where nothing handles them, an error toast says
    // which. The log's path is shown, selectable.
    void opening_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("what");
        const QString log = QFileInfo(Logger::logFilePath()).absolutePath(); // no log file yet: its folder
        row("website", "Website", "https", QString::fromLatin1(Tavrin::WebsiteUrl));
        row("log", "Open Log File", "file", QDir::toNativeSeparators(log));
        row("backups", "Open Backups Folder", "file", QDir::toNativeSeparators(Backups::backupsFolder()));
    }
    void opening()
    {
        QFETCH(QString, label);
        QFETCH(QString, scheme);
        QFETCH(QString, what);
        Settings settings;
        SettingsView view(&settings);
        view.refresh();
        auto *logPath = view.findChild<QLineEdit *>("logPath");
        QVERIFY(logPath->isReadOnly());
        QCOMPARE(logPath->text(), QDir::toNativeSeparators(Logger::logFilePath()));
        QCOMPARE(view.findChild<QLabel *>("backupsFolder")->text(), Backups::backupsFolder());
        QSignalSpy toasts(&view, &SettingsView::showToast);
        if (label == "Open Backups Folder") { // nothing to open before the first backup
            QVERIFY(QDir(Backups::backupsFolder()).removeRecursively());
            QTest::mouseClick(find(&view, label), Qt::LeftButton);
            QCOMPARE(toasts.takeFirst().first().toString(),
                     "No backups yet: Tavrin makes the first before it changes a client's configuration.");
            QVERIFY(QDir().mkpath(Backups::backupsFolder()));
        }
        for (bool handled : {true, false}) {
            m_opened.clear();
            if (handled)
                QDesktopServices::setUrlHandler(scheme, this, "open");
            else
                QDesktopServices::unsetUrlHandler(scheme);
            if (!handled && scheme == "https")
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression("does not support"));
            QTest::mouseClick(find(&view, label), Qt::LeftButton);
            QCOMPARE(m_opened.size(), int(handled));
        }
        QCOMPARE(toasts, QList<QVariantList>({{"Could not open " + what + ": no program to open it was found", 2}}));
    }

public:
    Q_INVOKABLE void open(const QUrl &url) { m_opened.append(url); }

private:
    QList<QUrl> m_opened;
};

TAVRIN_TEST_MAIN(TestSettingsView)
#include "tst_gui_settingsview.moc"
