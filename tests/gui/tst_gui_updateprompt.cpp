#include "core/updater.h"
#include "gui/updateprompt.h"
#include "gui/widgets/toast.h"
#include "testenv.h"

#include <QtTest>
#include <QtWidgets>

namespace {

template<typename T = QPushButton> T *withText(QObject *parent, const QString &text)
{
    for (T *widget : parent->findChildren<T *>())
        if (widget->text() == text)
            return widget;
    return nullptr;
}

UpdateInfo newer(const QString &notes, const QString &downloadUrl = {})
{
    UpdateInfo info;
    info.updateAvailable = true;
    info.latestVersion = QStringLiteral("4.0.0");
    info.currentVersion = QStringLiteral("3.2.1");
    info.releaseNotes = notes;
    info.downloadUrl = downloadUrl;
    info.releasePage = QStringLiteral("https://example.com/releases/v4.0.0");
    return info;
}

} // namespace

class TestUpdatePrompt : public QObject
{
    Q_OBJECT

public:
    Q_INVOKABLE void open(const QUrl &url) { m_opened.append(url); }

private slots:
    // What fits this machine decides the main button; without it the prompt says how this copy was
    // installed.
    void offer_data()
    {
        QTest::addColumn<QString>("downloadUrl");
        QTest::addColumn<int>("installation");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("how"); // empty: no line
        using Kind = Installation::Kind;
        const QString url = QStringLiteral("https://example.com/T-4.0.0-win64.exe");
        QTest::newRow("an asset fits") << url << int(Kind::WindowsInstaller) << "Download"
                                       << "";
        QTest::newRow("built from source") << "" << int(Kind::SourceBuild) << "Open Release Page"
                                           << "Built from source";
        QTest::newRow("someone else's package") << "" << int(Kind::OtherPackage) << "Open Release Page"
                                                << "Installed from a package we do not ship";
    }
    void offer()
    {
        QFETCH(QString, downloadUrl);
        QFETCH(int, installation);
        QFETCH(QString, button);
        QFETCH(QString, how);
        UpdateInfo info = newer(QStringLiteral("# Fixed\n\n- the **tray**"), downloadUrl);
        info.installation = Installation::Kind(installation);
        auto *prompt = new UpdatePrompt(info);
        QPointer<UpdatePrompt> alive = prompt;
        prompt->show();
        QVERIFY(QTest::qWaitForWindowExposed(prompt));
        auto *label = prompt->findChild<QLabel *>(QStringLiteral("installedHow"));
        QCOMPARE(label ? label->text() : QString(), how);
        QVERIFY(!withText(prompt, button == "Download" ? "Open Release Page" : "Download"));
        auto *notes = prompt->findChild<QTextBrowser *>(QStringLiteral("releaseNotes"));
        QVERIFY(notes->isReadOnly());
        QCOMPARE(notes->toPlainText(), QStringLiteral("Fixed\nthe tray")); // rendered, not shown as Markdown

        QSignalSpy downloads(prompt, &UpdatePrompt::downloadRequested);
        QSignalSpy toasts(prompt, &UpdatePrompt::showToast);
        QSignalSpy skipped(prompt, &UpdatePrompt::versionSkipped);
        m_opened.clear();
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
        QTest::mouseClick(withText(prompt, button), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(downloads, downloadUrl.isEmpty() ? QList<QVariantList>() : QList<QVariantList>{{downloadUrl}});
        QCOMPARE(m_opened, downloadUrl.isEmpty() ? QList<QUrl>{QUrl(info.releasePage)} : QList<QUrl>());
        QCOMPARE(toasts.count() + skipped.count(), 0);
        QTRY_VERIFY(alive.isNull()); // closed and deleted
    }

    // No browser: an error toast names the page. "Skip This Version" hands on the version.
    void noBrowserAndSkip()
    {
        auto *prompt = new UpdatePrompt(newer(QString()));
        prompt->show();
        QSignalSpy toasts(prompt, &UpdatePrompt::showToast);
        QSignalSpy skipped(prompt, &UpdatePrompt::versionSkipped);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("does not support"));
        QTest::mouseClick(withText(prompt, "Open Release Page"), Qt::LeftButton);
        QCOMPARE(toasts, QList<QVariantList>({{"Could not open https://example.com/releases/v4.0.0: no program to open "
                                               "it was found",
                                               int(Toast::Error)}}));

        prompt = new UpdatePrompt(newer(QString()));
        QPointer<UpdatePrompt> alive = prompt;
        prompt->show();
        QCOMPARE(prompt->findChild<QTextBrowser *>()->toPlainText(), QStringLiteral("This release has no notes."));
        QSignalSpy skips(prompt, &UpdatePrompt::versionSkipped);
        QTest::mouseClick(withText(prompt, "Skip This Version"), Qt::LeftButton);
        QCOMPARE(skips, QList<QVariantList>({{QStringLiteral("4.0.0")}}));
        QTRY_VERIFY(alive.isNull());
    }

    // A release's notes are shown cut to a window's worth, and nothing in them reaches the disk: an
    // image or a style sheet naming an endless device would hang the prompt.
    void notesAreBounded()
    {
        QString huge = QStringLiteral("![pic](/dev/zero)\n<link rel=\"stylesheet\" href=\"/dev/zero\">\n"
                                      "<img src=\"file:///dev/zero\">\n\n");
        while (huge.size() < 1024 * 1024)
            huge += QStringLiteral("- a line of the change log, long enough to wrap once or twice\n");
        QElapsedTimer clock;
        clock.start();
        auto *prompt = new UpdatePrompt(newer(huge, QStringLiteral("https://example.com/x.deb")));
        prompt->show();
        QVERIFY(QTest::qWaitForWindowExposed(prompt));
        const QString shown = prompt->findChild<QTextBrowser *>()->toPlainText();
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(shown.size() < UpdatePrompt::MaxNotes, qPrintable(QString::number(shown.size())));
        QVERIFY(shown.endsWith(QStringLiteral("The notes go on; the release page has all of them.")));
        QVERIFY(shown.contains(QStringLiteral("<link rel=\"stylesheet\""))); // shown as text, not applied
        prompt->close();
    }

    void notesExcerpt_data()
    {
        QTest::addColumn<QString>("notes");
        QTest::addColumn<QString>("expected"); // "+": the line about the release page follows
        QTest::newRow("short, whole") << "one\ntwo"
                                      << "one\ntwo";
        QTest::newRow("cut at a line's end") << "aaaa\nbbbb\ncccc"
                                             << "aaaa\nbbbb+";
        QTest::newRow("one long line, cut inside") << QString(30, 'x') << QString(12, 'x') + '+';
        QTest::newRow("an open code block is closed") << "```\ncode\nmore code\nend"
                                                      << "```\ncode\n```+";
        QTest::newRow("a closed code block stays") << "```\nc\n```\ntext text"
                                                   << "```\nc\n```+";
        QTest::newRow("a surrogate pair is not split")
            << QString(11, 'x') + QString::fromUcs4(U"\U0001F600") + "yyyy" << QString(11, 'x') + '+';
    }
    void notesExcerpt()
    {
        QFETCH(QString, notes);
        QFETCH(QString, expected);
        expected.replace('+', "\n\n*The notes go on; the release page has all of them.*");
        QCOMPARE(UpdatePrompt::notesExcerpt(notes, 12), expected);
    }

    void installCommand_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("command");
        QTest::newRow("plain") << "/home/ana/Downloads/tavrin-desktop_1.0.2_amd64.deb"
                               << "sudo apt install /home/ana/Downloads/tavrin-desktop_1.0.2_amd64.deb";
        QTest::newRow("a space") << "/home/ana/My Downloads/t_1_amd64.deb"
                                 << "sudo apt install '/home/ana/My Downloads/t_1_amd64.deb'";
        QTest::newRow("a quote and a dollar") << "/home/o'neil/$x/t.deb"
                                              << "sudo apt install '/home/o'\\''neil/$x/t.deb'";
    }
    void installCommand()
    {
        QFETCH(QString, path);
        QTEST(UpdatePrompt::installCommand(path), "command");
    }

    // After a package download: the command, selectable but not editable, and "Copy".
    void downloadedPackage()
    {
        const QString path = TestEnv::home() + QStringLiteral("/Downloads/tavrin-desktop_4.0.0_amd64.deb");
        QPointer<UpdatePrompt> prompt = UpdatePrompt::forDownloadedPackage(path);
        prompt->show();
        QVERIFY(QTest::qWaitForWindowExposed(prompt));
        auto *command = prompt->findChild<QLineEdit *>(QStringLiteral("installCommand"));
        QCOMPARE(command->text(), "sudo apt install " + path);
        QVERIFY(command->isReadOnly());
        QApplication::clipboard()->clear();
        QTest::mouseClick(withText(prompt, "Copy"), Qt::LeftButton);
        QCOMPARE(QApplication::clipboard()->text(), command->text());
        QVERIFY(withText(prompt, "Copied"));
        QTest::mouseClick(withText(prompt, "Close"), Qt::LeftButton);
        QTRY_VERIFY(prompt.isNull());
    }

private:
    QList<QUrl> m_opened;
};

TAVRIN_TEST_MAIN(TestUpdatePrompt)
#include "tst_gui_updateprompt.moc"
