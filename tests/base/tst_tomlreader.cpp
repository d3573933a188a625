#include "base/tomlreader.h"
#include "testenv.h"

#include <QJsonArray>
#include <QJsonDocument>

class TestTomlReader : public QObject
{
    Q_OBJECT

    static QByteArray repeated(const QByteArray &piece, int count) { return piece.repeated(count); }

private slots:
    // Tables built from headers, dotted keys and inline tables meet in one tree; an array of
    // tables continues in its last element.
    void reads_data()
    {
        QTest::addColumn<QByteArray>("toml");
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("array of tables with sub-tables")
            << QByteArray("[[s]]\nx = 1\n[s.sub]\ny = 2\n[[s]]\nx = 3\n[[s.list]]\nz = 4\n")
            << QByteArray(R"({"s":[{"sub":{"y":2},"x":1},{"list":[{"z":4}],"x":3}]})");
        QTest::newRow("dotted keys below a header")
            << QByteArray("[mcp_servers.tavrin]\ncommand = \"uvx\"\nenv.MODE = 'safe'\n[mcp_servers.other]\n")
            << QByteArray(R"({"mcp_servers":{"other":{},"tavrin":{"command":"uvx","env":{"MODE":"safe"}}}})");
        QTest::newRow("inline tables and arrays") << QByteArray("a = {b = [1, {c = true}], d.e = \"f\"}\n")
                                                  << QByteArray(R"({"a":{"b":[1,{"c":true}],"d":{"e":"f"}}})");
        QTest::newRow("a super-table after its sub-table")
            << QByteArray("[a.b]\nx = 1\n[a]\ny = 2\n") << QByteArray(R"({"a":{"b":{"x":1},"y":2}})");
        QTest::newRow("nesting just inside the limit") << "a = " + repeated("[", 500) + repeated("]", 500) + "\n"
                                                       << "{\"a\":" + repeated("[", 500) + repeated("]", 500) + "}";
    }
    void reads()
    {
        QFETCH(QByteArray, toml);
        QFETCH(QByteArray, json);
        QJsonObject document;
        QString error;
        QVERIFY2(TomlReader::parse(toml, &document, &error), qPrintable(error));
        QCOMPARE(QJsonDocument(document).toJson(QJsonDocument::Compact), json);
    }

    // Refused with the line, and deep nesting of any kind is refused before it can exhaust a
    // thread's stack.
    void refuses_data()
    {
        QTest::addColumn<QByteArray>("toml");
        QTest::addColumn<QString>("error");
        QTest::newRow("20,000 nested inline tables")
            << "a = " + repeated("{b = ", 20000) + "1" + repeated("}", 20000) + "\n"
            << "line 1: nested too deeply";
        QTest::newRow("500,000 nested arrays") << "\na = " + repeated("[", 500000) + repeated("]", 500000) + "\n"
                                               << "line 2: nested too deeply";
        QTest::newRow("inline tables inside arrays")
            << "a = " + repeated("[{b = ", 300) + "1" + repeated("}]", 300) + "\n"
            << "line 1: nested too deeply";
        QTest::newRow("dotted key of 300,000 parts") << "a" + repeated(".a", 300000) + " = 1\n"
                                                     << "line 1: nested too deeply";
        QTest::newRow("header of 300,000 parts") << "[a" + repeated(".a", 300000) + "]\n"
                                                 << "line 1: nested too deeply";
        QTest::newRow("deep header, then deep dotted key")
            << "[a" + repeated(".a", 400) + "]\nb" + repeated(".b", 200) + " = 1\n"
            << "line 2: nested too deeply";
        QTest::newRow("key defined twice") << QByteArray("[t]\nk = 1\nk = 2\n") << "line 3: key \"k\" defined twice";
        QTest::newRow("dotted key through a value")
            << QByteArray("a = 1\na.b = 2\n") << "line 2: key \"a.b\" defined twice";
        QTest::newRow("header through a value")
            << QByteArray("a = 1\n[a.b]\n") << "line 2: table \"a.b\" clashes with a value";
        QTest::newRow("array of tables over a table's value")
            << QByteArray("[t]\nk = 1\n[[t.k]]\n") << "line 3: table \"t.k\" clashes with a value";
    }
    void refuses()
    {
        QFETCH(QByteArray, toml);
        QFETCH(QString, error);
        QJsonObject document;
        QString message;
        QVERIFY(!TomlReader::parse(toml, &document, &message));
        QCOMPARE(message, error);
    }

    // Large documents come out whole (their time is measured by bench_tomlreader).
    void readsManyTables_data()
    {
        QTest::addColumn<bool>("arrayOfTables");
        QTest::newRow("100,000 [[t]]") << true;
        QTest::newRow("100,000 [tN]") << false;
    }
    void readsManyTables()
    {
        QFETCH(bool, arrayOfTables);
        constexpr int count = 100000;
        QByteArray toml;
        for (int i = 0; i < count; ++i)
            toml += (arrayOfTables ? QByteArray("[[t]]") : "[t" + QByteArray::number(i) + ']') +
                    "\nk = " + QByteArray::number(i) + '\n';
        QJsonObject document;
        QString error;
        QVERIFY2(TomlReader::parse(toml, &document, &error), qPrintable(error));
        if (arrayOfTables) {
            const QJsonArray tables = document.value("t").toArray();
            QCOMPARE(tables.size(), count);
            QCOMPARE(tables.at(0).toObject().value("k").toInt(), 0);
            QCOMPARE(tables.at(count - 1).toObject().value("k").toInt(), count - 1);
        } else {
            QCOMPARE(document.size(), count);
            QCOMPARE(document.value("t0").toObject().value("k").toInt(), 0);
            QCOMPARE(document.value("t99999").toObject().value("k").toInt(), count - 1);
        }
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestTomlReader)
#include "tst_tomlreader.moc"
