#include "core/updater.h"
#include "gui/guitest.h"
#include "gui/updateprompt.h"
#include "testenv.h"

#include <QtTest>
#include <QtWidgets>

using TestEnv::row;

namespace {

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
    // installed. The release page opens in the browser, or an error toast names it; "Skip This
    // Version" hands on the version. Every answer closes the prompt.
    void offer_data()
    {
        QTest::addColumn<QString>("downloadUrl");
        QTest::addColumn<int>("installation");
        QTest::addColumn<QString>("how"); // empty: no line
        QTest::addColumn<QString>("notes");
        QTest::addColumn<QString>("click");
        QTest::addColumn<QString>("outcome"); // "toast <type>: ...": no browser (type 2: an error)
        using Kind = Installation::Kind;
        const QString url = "https://example.com/T-4.0.0-win64.exe", page = "https://example.com/releases/v4.0.0";
        const QString none, notes = "# Fixed\n\n- the **tray**", open = "Open Release Page";
        row("an asset fits", url, int(Kind::WindowsInstaller), none, notes, QString("Download"), "download " + url);
        row("built from source", none, int(Kind::SourceBuild), QString("Built from source"), notes, open,
            "opened " + page);
        row("someone else's package", none, int(Kind::OtherPackage), QString("Installed from a package we do not ship"),
            notes, open, "opened " + page);
        row("no browser", none, int(Kind::SourceBuild), QString("Built from source"), notes, open,
            "toast 2: Could not open " + page + ": no program to open it was found");
        row("skipped, no notes", url, int(Kind::WindowsInstaller), none, none, QString("Skip This Version"),
            QString("skipped 4.0.0"));
    }
    void offer()
    {
        QFETCH(QString, downloadUrl);
        QFETCH(int, installation);
        QFETCH(QString, notes);
        QFETCH(QString, click);
        QFETCH(QString, outcome);
        UpdateInfo info = newer(notes, downloadUrl);
        info.installation = Installation::Kind(installation);
        QPointer<UpdatePrompt> prompt = new UpdatePrompt(info);
        prompt->show();
        QVERIFY(QTest::qWaitForWindowExposed(prompt));
        auto *label = prompt->findChild<QLabel *>(QStringLiteral("installedHow"));
        QTEST(label ? label->text() : QString(), "how");
        QVERIFY(!GuiTest::find(prompt, downloadUrl.isEmpty() ? "Download" : "Open Release Page"));
        auto *shown = prompt->findChild<QTextBrowser *>(QStringLiteral("releaseNotes"));
        QVERIFY(shown->isReadOnly());
        // Rendered, not shown as Markdown.
        QCOMPARE(shown->toPlainText(), notes.isEmpty() ? "This release has no notes." : "Fixed\nthe tray");

        QStringList happened;
        connect(prompt, &UpdatePrompt::downloadRequested, prompt,
                [&](const QString &u) { happened << "download " + u; });
        connect(prompt, &UpdatePrompt::versionSkipped, prompt, [&](const QString &v) { happened << "skipped " + v; });
        connect(prompt, &UpdatePrompt::showToast, prompt,
                [&](const QString &text, int type) { happened << QStringLiteral("toast %1: %2").arg(type).arg(text); });
        m_opened.clear();
        if (outcome.startsWith("toast"))
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("does not support"));
        else
            QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
        QTest::mouseClick(GuiTest::find(prompt, click), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        for (const QUrl &page : std::as_const(m_opened))
            happened << "opened " + page.toString();
        QCOMPARE(happened, QStringList(outcome));
        QTRY_VERIFY(prompt.isNull()); // closed and deleted
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
        row("short, whole", "one\ntwo", "one\ntwo");
        row("cut at a line's end", "aaaa\nbbbb\ncccc", "aaaa\nbbbb+");
        row("one long line, cut inside", QString(30, 'x'), QString(12, 'x') + '+');
        row("an open code block is closed", "```\ncode\nmore code\nend", "```\ncode\n```+");
        row("a closed code block stays", "```\nc\n```\ntext text", "```\nc\n```+");
        row("a surrogate pair is not split", QString(11, 'x') + QString::fromUcs4(U"\U0001F600") + "yyyy",
            QString(11, 'x') + '+');
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
        const QString apt = "sudo apt install ";
        row("plain", "/home/ana/Downloads/t_1.0.2_amd64.deb", apt + "/home/ana/Downloads/t_1.0.2_amd64.deb");
        row("a space", "/home/ana/My Downloads/t_1_amd64.deb", apt + "'/home/ana/My Downloads/t_1_amd64.deb'");
        row("a quote and a dollar", "/home/o'neil/$x/t.deb", apt + "'/home/o'\\''neil/$x/t.deb'");
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
        QTest::mouseClick(GuiTest::find(prompt, "Copy"), Qt::LeftButton);
        QCOMPARE(QApplication::clipboard()->text(), command->text());
        QVERIFY(GuiTest::find(prompt, "Copied"));
        QTest::mouseClick(GuiTest::find(prompt, "Close"), Qt::LeftButton);
        QTRY_VERIFY(prompt.isNull());
    }

private:
    QList<QUrl> m_opened;
};

TAVRIN_TEST_MAIN(TestUpdatePrompt)
#include "tst_gui_updateprompt.moc"
