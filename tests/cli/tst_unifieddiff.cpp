// The diffs --dry-run shows, held against patch(1): applied to the old text, each gives the new one.
#include "cli/unifieddiff.h"
#include "testenv.h"

#include <QProcess>
#include <QStandardPaths>

static const QStringList s_realPath = QString::fromLocal8Bit(qgetenv("PATH")).split(':');

class TestUnifiedDiff : public QObject
{
    Q_OBJECT

private slots:
    void patchGivesTheNewText_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<int>("hunks");

        QByteArray long1;
        for (int i = 1; i <= 40; ++i)
            long1 += "line " + QByteArray::number(i) + '\n';
        const QByteArray five = QByteArray(long1).replace("line 5\n", "line 5!\n");
        QTest::newRow("changes far apart") << long1 << QByteArray(five).replace("line 35\n", "line 35!\n") << 2;
        QTest::newRow("changes close together") << long1 << QByteArray(five).replace("line 10\n", "line 10!\n") << 1;
        QTest::newRow("inserted at the top") << long1 << "new\n" + long1 << 1;
        QTest::newRow("member added before the end")
            << QByteArray("{\n  \"a\": 1\n}\n") << QByteArray("{\n  \"a\": 1,\n  \"tavrin\": {}\n}\n") << 1;
        QTest::newRow("new file") << QByteArray() << QByteArray("{\n}\n") << 1;
        QTest::newRow("everything removed") << QByteArray("a\nb\nc\n") << QByteArray() << 1;
        QTest::newRow("last line without newline, appended to") << QByteArray("a\nb") << QByteArray("a\nb\nc\n") << 1;
        QTest::newRow("newline at the end removed") << QByteArray("a\nb\n") << QByteArray("a\nb") << 1;
        QTest::newRow("line endings changed") << QByteArray("a\r\nb\r\n") << QByteArray("a\nb\n") << 1;
        QTest::newRow("repeated lines") << QByteArray("}\n}\n}\n") << QByteArray("}\n},\nx\n}\n}\n") << 1;
    }

    void patchGivesTheNewText()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);

        const QString diff = UnifiedDiff::make(before, after, "a/file", "b/file");
        QVERIFY(diff.startsWith("--- a/file\n+++ b/file\n@@ -"));
        QTEST(int(diff.count(QRegularExpression("^@@ ", QRegularExpression::MultilineOption))), "hunks");

        const QString patch = QStandardPaths::findExecutable("patch", s_realPath);
        if (patch.isEmpty())
            QSKIP("patch is not installed");
        const QString folder = TestEnv::root().path() + '/' + QTest::currentDataTag();
        QVERIFY(TestEnv::writeFile(folder + "/file", before));
        QProcess process;
        process.setWorkingDirectory(folder);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(patch, {"--quiet", "--force", "--binary", "-o", "patched", "file"});
        process.write(diff.toUtf8());
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(30000));
        QVERIFY2(process.exitCode() == 0, process.readAll().constData());
        QCOMPARE(TestEnv::readFile(folder + "/patched"), after);
    }

    void sameTextNoDiff() { QVERIFY(UnifiedDiff::make("a\nb\nc\n", "a\nb\nc\n", "a", "b").isEmpty()); }
};

TAVRIN_TEST_GUILESS_MAIN(TestUnifiedDiff)
#include "tst_unifieddiff.moc"
