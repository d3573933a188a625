#include "base/tomlreader.h"
#include "testenv.h"

#include <QJsonArray>
#include <QJsonDocument>

using TestEnv::row;

class TestTomlReader : public QObject
{
    Q_OBJECT

    static QByteArray repeated(const QByteArray &piece, int count) { return piece.repeated(count); }

private slots:
    // Tables built from headers, dotted keys and inline tables meet in one tree; an array of
    // tables continues in its last element. What is refused is refused with its line, and deep
    // nesting of any kind before it can exhaust a thread's stack.
    void parse_data()
    {
        QTest::addColumn<QByteArray>("toml");
        QTest::addColumn<QString>("outcome"); // the document as compact JSON, or the error
        row("array of tables with sub-tables",
            QByteArray("[[s]]\nx = 1\n[s.sub]\ny = 2\n[[s]]\nx = 3\n[[s.list]]\nz = 4\n"),
            R"({"s":[{"sub":{"y":2},"x":1},{"list":[{"z":4}],"x":3}]})");
        row("dotted keys below a header",
            QByteArray("[mcp_servers.tavrin]\ncommand = \"uvx\"\nenv.MODE = 'safe'\n[mcp_servers.other]\n"),
            R"({"mcp_servers":{"other":{},"tavrin":{"command":"uvx","env":{"MODE":"safe"}}}})");
        row("inline tables and arrays", QByteArray("a = {b = [1, {c = true}], d.e = \"f\"}\n"),
            R"({"a":{"b":[1,{"c":true}],"d":{"e":"f"}}})");
        row("a super-table after its sub-table", QByteArray("[a.b]\nx = 1\n[a]\ny = 2\n"),
            R"({"a":{"b":{"x":1},"y":2}})");
        row("nesting just inside the limit", "a = " + repeated("[", 500) + repeated("]", 500) + "\n",
            QString("{\"a\":" + repeated("[", 500) + repeated("]", 500) + "}"));
        row("20,000 nested inline tables", "a = " + repeated("{b = ", 20000) + "1" + repeated("}", 20000) + "\n",
            "line 1: nested too deeply");
        row("500,000 nested arrays", "\na = " + repeated("[", 500000) + repeated("]", 500000) + "\n",
            "line 2: nested too deeply");
        row("inline tables inside arrays", "a = " + repeated("[{b = ", 300) + "1" + repeated("}]", 300) + "\n",
            "line 1: nested too deeply");
        row("dotted key of 300,000 parts", "a" + repeated(".a", 300000) + " = 1\n", "line 1: nested too deeply");
        row("header of 300,000 parts", "[a" + repeated(".a", 300000) + "]\n", "line 1: nested too deeply");
        row("deep header, then deep dotted key", "[a" + repeated(".a", 400) + "]\nb" + repeated(".b", 200) + " = 1\n",
            "line 2: nested too deeply");
        row("key defined twice", QByteArray("[t]\nk = 1\nk = 2\n"), "line 3: key \"k\" defined twice");
        row("dotted key through a value", QByteArray("a = 1\na.b = 2\n"), "line 2: key \"a.b\" defined twice");
        row("header through a value", QByteArray("a = 1\n[a.b]\n"), "line 2: table \"a.b\" clashes with a value");
        row("array of tables over a table's value", QByteArray("[t]\nk = 1\n[[t.k]]\n"),
            "line 3: table \"t.k\" clashes with a value");
    }
    void parse()
    {
        QFETCH(QByteArray, toml);
        QJsonObject document;
        QString error;
        const bool read = TomlReader::parse(toml, &document, &error);
        QTEST(read ? QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Compact)) : error, "outcome");
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
        const QJsonArray tables = document.value("t").toArray();
        const auto k = [&](int i) {
            return (arrayOfTables ? tables.at(i) : document.value("t" + QString::number(i))).toObject().value("k");
        };
        QCOMPARE(arrayOfTables ? tables.size() : document.size(), count);
        QCOMPARE(k(0).toInt(-1), 0);
        QCOMPARE(k(count - 1).toInt(), count - 1);
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestTomlReader)
#include "tst_tomlreader.moc"
