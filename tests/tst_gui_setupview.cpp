#include "testenv.h"

#include "addon.h"
#include "clients.h"
#include "icons.h"
#include "prereqs.h"
#include "settings.h"
#include "setupview.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QThreadPool>

#include <memory>

// Drives the real Setup page against fake client tools and prerequisite programs on a temporary
// PATH. The fakes log every call and can be held at a marker file, so that a scan or an
// operation stays in flight exactly as long as a test needs.
class TestSetupView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void placeholdersUntilFirstScan();
    void clientCardsAndPrereqRows();
    void refreshWithinAMinuteDoesNotRescan();
    void noProjectShowsOnlyTheHint();
    void addonInstallUpdateUninstall();
    void failureShowsBoxThenErrorToast_data();
    void failureShowsBoxThenErrorToast();
    void clientOperationDiscardsRunningScan();
    void twoClientOperationsGiveOneRescan();
    void permissionChangeRewritesConfiguredClients();
    void permissionChangeSkipsBusyClient();
    void scrollPositionSurvivesRebuild();
    void destroyingPageWhileWorkersRun();

private:
    struct Fixture
    {
        Settings settings;
        Addon addon;
        Clients clients;
        Prereqs prereqs;
        std::unique_ptr<SetupView> view;
        std::unique_ptr<QSignalSpy> toasts;
        Fixture()
        {
            view = std::make_unique<SetupView>(&settings, &addon, &clients, &prereqs);
            toasts = std::make_unique<QSignalSpy>(view.get(), &SetupView::showToast);
        }
    };

    QString state(const QString &name) const { return m_state + QLatin1Char('/') + name; }
    void touch(const QString &name) const { QVERIFY(TestEnv::writeFile(state(name), {})); }
    void release(const QString &name) const { QFile::remove(state(name)); }
    int count(const QString &word) const;
    void writeJsonClientConfig(const QString &id, const QString &mode) const;
    QString modeIn(const QString &id) const;
    static QWidget *content(SetupView *view);
    static QStringList labelTexts(SetupView *view);
    static QLabel *label(SetupView *view, const QString &text);
    static QPushButton *button(SetupView *view, const QString &name);
    static QFrame *clientCard(SetupView *view, const QString &name);
    static QString badgeOf(QFrame *card);
    static QList<QMessageBox *> boxes();
    static QList<QPushButton *> addonButtons(SetupView *view);
    void waitForScans(int scans);

    QString m_state;
    QString m_project;
    QString m_bundledVersion;
};

int TestSetupView::count(const QString &word) const
{
    const QList<QByteArray> lines = TestEnv::readFile(state(QStringLiteral("calls.log"))).split('\n');
    return int(std::count_if(lines.begin(), lines.end(),
                             [&](const QByteArray &line) { return line.split(' ').value(0) == word.toUtf8(); }));
}

void TestSetupView::writeJsonClientConfig(const QString &id, const QString &mode) const
{
    const QByteArray json = R"({"other": 1, "mcpServers": {"tavrin": {"command": "uvx", "args": ["tavrin"], )"
                            R"("env": {"GODOT_MCP_PERMISSION_MODE": ")" +
                            mode.toUtf8() + "\"}}}}";
    QVERIFY(TestEnv::writeFile(Clients::configPathFor(id), json));
}

QString TestSetupView::modeIn(const QString &id) const
{
    const QJsonObject root = QJsonDocument::fromJson(TestEnv::readFile(Clients::configPathFor(id))).object();
    return root.value(QLatin1String("mcpServers"))
        .toObject()
        .value(QLatin1String("tavrin"))
        .toObject()
        .value(QLatin1String("env"))
        .toObject()
        .value(QLatin1String("GODOT_MCP_PERMISSION_MODE"))
        .toString();
}

QWidget *TestSetupView::content(SetupView *view)
{
    auto *area = qobject_cast<QScrollArea *>(view->layout()->itemAt(0)->widget());
    return area ? area->widget() : nullptr;
}

QStringList TestSetupView::labelTexts(SetupView *view)
{
    QStringList texts;
    for (QLabel *label : content(view)->findChildren<QLabel *>()) {
        if (label->pixmap().isNull())
            texts << label->text();
    }
    return texts;
}

QLabel *TestSetupView::label(SetupView *view, const QString &text)
{
    for (QLabel *label : content(view)->findChildren<QLabel *>()) {
        if (label->text() == text)
            return label;
    }
    return nullptr;
}

// By accessible name (client buttons) or by text (addon buttons).
QPushButton *TestSetupView::button(SetupView *view, const QString &name)
{
    for (QPushButton *button : content(view)->findChildren<QPushButton *>()) {
        if (button->accessibleName() == name || button->text() == name)
            return button;
    }
    return nullptr;
}

QFrame *TestSetupView::clientCard(SetupView *view, const QString &name)
{
    for (QFrame *card : content(view)->findChildren<QFrame *>()) {
        if (card->property("class").toString() != QLatin1String("client-card"))
            continue;
        for (QLabel *label : card->findChildren<QLabel *>()) {
            if (label->text() == name)
                return card;
        }
    }
    return nullptr;
}

QString TestSetupView::badgeOf(QFrame *card)
{
    for (QLabel *label : card->findChildren<QLabel *>()) {
        if (label->property("class").toString().startsWith(QLatin1String("badge-")))
            return label->text() + QLatin1Char('/') + label->property("class").toString();
    }
    return {};
}

QList<QPushButton *> TestSetupView::addonButtons(SetupView *view)
{
    for (QFrame *card : content(view)->findChildren<QFrame *>()) {
        if (card->property("class").toString() == QLatin1String("card"))
            return card->findChildren<QPushButton *>();
    }
    return {};
}

QList<QMessageBox *> TestSetupView::boxes()
{
    QList<QMessageBox *> result;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(widget))
            result << box;
    }
    return result;
}

// Waits until `scans` scans have run their client detection and every worker has returned.
void TestSetupView::waitForScans(int scans)
{
    QTRY_COMPARE_WITH_TIMEOUT(count(QStringLiteral("get")), scans, 20000);
    QVERIFY(QThreadPool::globalInstance()->waitForDone(30000));
    QCoreApplication::processEvents();
}

void TestSetupView::initTestCase()
{
    m_state = TestEnv::root().path() + QLatin1String("/state");
    m_project = TestEnv::root().path() + QLatin1String("/project");
    QVERIFY(QDir().mkpath(m_state));

    // Beside the executable, in the layout the application ships.
    const QString bundled = QCoreApplication::applicationDirPath() + QLatin1String("/bundled_addon");
    QDir(bundled).removeRecursively();
    const QString source = qEnvironmentVariable("TAVRIN_ADDON_SOURCE");
    if (!source.isEmpty() && QFile::exists(source + QLatin1String("/plugin.cfg"))) {
        QDir().mkpath(bundled);
        for (const QFileInfo &entry : QDir(source).entryInfoList(QDir::Files))
            QVERIFY(QFile::copy(entry.absoluteFilePath(), bundled + QLatin1Char('/') + entry.fileName()));
    } else {
        QVERIFY(TestEnv::writeFile(bundled + QLatin1String("/plugin.cfg"),
                                   "[plugin]\nname=\"Tavrin MCP\"\nversion=\"9.8.7\"\n"));
        QVERIFY(TestEnv::writeFile(bundled + QLatin1String("/plugin.gd"), "@tool\nextends EditorPlugin\n"));
    }
    m_bundledVersion = Addon::readVersionFromCfg(bundled);
    QVERIFY(!m_bundledVersion.isEmpty());

    const QByteArray st = m_state.toUtf8();
    // hold <name>: waits while the marker file exists (bounded below the callers' time limits).
    const QByteArray common =
        "S=" + st +
        "\nL=$S/calls.log\n"
        "hold() { i=0; while [ -e \"$S/$1\" ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done; }\n"
        "busy() { ls $S/*-running >/dev/null 2>&1 && echo busy || echo idle; }\n";
    // The n-th client detection can be held with hold-get-<n>; codex runs last in a detection.
    QVERIFY(!TestEnv::writeTool(
                 QStringLiteral("codex"),
                 common +
                     "case \"$1 $2\" in\n"
                     "'mcp get') echo \"get $(busy)\" >> $L; n=$(grep -c '^get' $L); hold hold-get-$n\n"
                     "  if [ -e $S/codex-configured ]; then echo '{\"name\":\"tavrin\",\"transport\":{}}'; exit 0; fi\n"
                     "  echo \"No MCP server named 'tavrin' found.\"; exit 1;;\n"
                     "'mcp add') echo \"codex-add $*\" >> $L; touch $S/codex-add-running; hold hold-codex-add\n"
                     "  rm -f $S/codex-add-running\n"
                     "  if [ -e $S/codex-fail ]; then echo '  codex: boom  '; exit 1; fi\n"
                     "  touch $S/codex-configured; exit 0;;\n"
                     "'mcp remove') echo codex-remove >> $L; touch $S/codex-remove-running; hold hold-codex-remove\n"
                     "  rm -f $S/codex-remove-running\n"
                     "  if [ -e $S/codex-fail ]; then echo 'codex: cannot remove'; exit 1; fi\n"
                     "  rm -f $S/codex-configured; exit 0;;\n"
                     "esac\nexit 2")
                 .isEmpty());
    // Keeps both a query answer and ~/.claude.json in step, whichever detection reads.
    QVERIFY(!TestEnv::writeTool(
                 QStringLiteral("claude"),
                 common +
                     "case \"$1 $2\" in\n"
                     "'mcp get') echo \"claude-get $(busy)\" >> $L\n"
                     "  if [ -e $S/claude-configured ]; then printf 'tavrin:\\n  Scope: User config (available in all "
                     "your projects)\\n  Type: stdio\\n  Command: uvx\\n'; exit 0; fi\n"
                     "  echo 'No MCP server found with name: tavrin'; exit 1;;\n"
                     "'mcp add') echo \"claude-add $*\" >> $L; touch $S/claude-add-running; hold hold-claude-add\n"
                     "  rm -f $S/claude-add-running; touch $S/claude-configured\n"
                     "  echo "
                     "'{\"mcpServers\":{\"tavrin\":{\"type\":\"stdio\",\"command\":\"uvx\",\"args\":[\"tavrin\"]}}}' "
                     "> \"$HOME/.claude.json\"; exit 0;;\n"
                     "'mcp remove') echo claude-remove >> $L; rm -f $S/claude-configured\n"
                     "  echo '{\"mcpServers\":{}}' > \"$HOME/.claude.json\"; exit 0;;\n"
                     "esac\nexit 2")
                 .isEmpty());
    QVERIFY(!TestEnv::writeTool(QStringLiteral("python"),
                                "echo \"python $*\" >> " + st + "/calls.log\necho 'Python 3.12.1'")
                 .isEmpty());
    QVERIFY(!TestEnv::writeTool(QStringLiteral("uv"), "echo 'uv 0.5.1'").isEmpty());
}

void TestSetupView::init()
{
    QDir(m_state).removeRecursively();
    QVERIFY(QDir().mkpath(m_state));
    QDir(m_project).removeRecursively();
    QVERIFY(TestEnv::writeFile(m_project + QLatin1String("/project.godot"), "config_version=5\n"));
    // Every place a JSON-file client may keep its configuration, so that each test starts bare.
    const QStringList clientFolders = {
        TestEnv::home() + QLatin1String("/.cursor"),   TestEnv::home() + QLatin1String("/.codeium"),
        TestEnv::home() + QLatin1String("/.cline"),    TestEnv::dataHome() + QLatin1String("/Claude"),
        TestEnv::dataHome() + QLatin1String("/Code"),  TestEnv::configHome() + QLatin1String("/Claude"),
        TestEnv::configHome() + QLatin1String("/Code")};
    for (const QString &dir : clientFolders)
        QDir(dir).removeRecursively();
    QFile::remove(TestEnv::home() + QLatin1String("/.claude.json"));
    QFile::remove(Settings::filePath());
    TestEnv::removeTool(QStringLiteral("uvx"));
    QVERIFY(!TestEnv::writeTool(QStringLiteral("uvx"), "echo 'uvx 0.5.1'").isEmpty());
    // Claude Desktop and Cursor present; Windsurf and Cline absent.
    QVERIFY(QDir().mkpath(QFileInfo(Clients::configPathFor(QStringLiteral("claude-desktop"))).absolutePath()));
    QVERIFY(QDir().mkpath(QFileInfo(Clients::configPathFor(QStringLiteral("cursor"))).absolutePath()));
}

void TestSetupView::cleanup()
{
    QDir(m_state).removeRecursively(); // releases every hold
    QVERIFY(QThreadPool::globalInstance()->waitForDone(30000));
    QCoreApplication::processEvents();
    qDeleteAll(boxes());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestSetupView::placeholdersUntilFirstScan()
{
    touch(QStringLiteral("hold-get-1"));
    Fixture f;
    f.settings.setActiveProject(m_project);
    f.view->refresh();
    const QStringList before = {QStringLiteral("Setup"),
                                QStringLiteral("Project: ") + m_project,
                                QStringLiteral("ADDON"),
                                QStringLiteral("Tavrin Addon"),
                                QStringLiteral("Not installed"),
                                QStringLiteral("AI CLIENTS"),
                                QStringLiteral("Checking AI clients..."),
                                QStringLiteral("PREREQUISITES"),
                                QStringLiteral("Checking prerequisites...")};
    QCOMPARE(labelTexts(f.view.get()), before);
    QCOMPARE(label(f.view.get(), QStringLiteral("Checking AI clients..."))->property("class").toString(),
             QStringLiteral("dim"));
    QVERIFY(button(f.view.get(), QStringLiteral("Install")));

    // The scan is in flight and held; the page keeps its placeholders.
    QTRY_COMPARE_WITH_TIMEOUT(count(QStringLiteral("get")), 1, 20000);
    QCoreApplication::processEvents();
    QCOMPARE(labelTexts(f.view.get()), before);

    release(QStringLiteral("hold-get-1"));
    QTRY_VERIFY_WITH_TIMEOUT(clientCard(f.view.get(), QStringLiteral("Codex")), 20000);
    QVERIFY(!label(f.view.get(), QStringLiteral("Checking AI clients...")));
    QVERIFY(!label(f.view.get(), QStringLiteral("Checking prerequisites...")));
    QCOMPARE(f.toasts->count(), 0);
}

void TestSetupView::clientCardsAndPrereqRows()
{
    TestEnv::removeTool(QStringLiteral("uvx"));
    touch(QStringLiteral("codex-configured"));
    writeJsonClientConfig(QStringLiteral("cursor"), QStringLiteral("safe_edit"));
    Fixture f;
    f.settings.setActiveProject(m_project);
    f.view->refresh();
    waitForScans(1);
    QVERIFY(clientCard(f.view.get(), QStringLiteral("Codex")));

    struct Expected
    {
        QString id, name, badge, action, buttonClass;
        const QByteArray *icon;
    };
    const QList<Expected> expected = {
        {"claude-code", "Claude Code", "Detected/badge-neutral", "Configure", "primary", &Icons::TERMINAL},
        {"claude-desktop", "Claude Desktop", "Detected/badge-neutral", "Configure", "primary", &Icons::MONITOR},
        {"cursor", "Cursor", "Configured/badge-ok", "Remove", "secondary", &Icons::CODE},
        {"windsurf", "Windsurf", "Not installed/badge-neutral-muted", "", "", &Icons::WIND},
        {"cline", "Cline", "Not installed/badge-neutral-muted", "", "", &Icons::ZAP},
        {"codex", "Codex", "Configured/badge-ok", "Remove", "secondary", &Icons::BOX},
    };
    auto *grid = content(f.view.get())->findChild<QGridLayout *>();
    QVERIFY(grid);
    QCOMPARE(grid->count(), 6);
    for (int i = 0; i < expected.size(); ++i) {
        const Expected &e = expected.at(i);
        QFrame *card = clientCard(f.view.get(), e.name);
        QVERIFY2(card, qPrintable(e.name));
        int row = -1, column = -1, rowSpan = 0, columnSpan = 0;
        grid->getItemPosition(grid->indexOf(card), &row, &column, &rowSpan, &columnSpan);
        QCOMPARE(row, i / 3);
        QCOMPARE(column, i % 3);
        QCOMPARE(card->minimumHeight(), 158);
        QCOMPARE(badgeOf(card), e.badge);

        QLabel *icon = nullptr;
        for (QLabel *candidate : card->findChildren<QLabel *>()) {
            if (!candidate->pixmap().isNull())
                icon = candidate;
        }
        QVERIFY(icon);
        QCOMPARE(icon->size(), QSize(24, 24));
        QCOMPARE(icon->pixmap().toImage(), Icons::icon(*e.icon, QStringLiteral("#4d8fd1"), 20).toImage());

        auto *action = card->findChild<QPushButton *>();
        if (e.action.isEmpty()) {
            QVERIFY(!action);
            QLabel *hint = label(f.view.get(), QStringLiteral("Install the client to configure."));
            QVERIFY(hint);
            QCOMPARE(hint->property("class").toString(), QStringLiteral("faint"));
        } else {
            QVERIFY(action);
            QCOMPARE(action->text(), e.action);
            QCOMPARE(action->accessibleName(), e.action + QLatin1Char(' ') + e.name);
            QCOMPARE(action->property("class").toString(), e.buttonClass);
            QVERIFY(action->isEnabled());
            QCOMPARE(action->cursor().shape(), Qt::PointingHandCursor);
        }
        // Where the registration lives.
        if (e.id == QLatin1String("claude-code"))
            QCOMPARE(card->toolTip(), QStringLiteral("Registered with: claude mcp add tavrin --scope user"));
        else if (e.id == QLatin1String("codex"))
            QCOMPARE(card->toolTip(), QStringLiteral("Registered with: codex mcp add tavrin"));
        else
            QCOMPARE(card->toolTip(), QStringLiteral("Configuration file: ") + Clients::configPathFor(e.id));
    }

    // Prerequisites: two found with their versions, uvx missing with its hint.
    const QStringList texts = labelTexts(f.view.get());
    const int at = int(texts.indexOf(QStringLiteral("PREREQUISITES")));
    QVERIFY(at > 0);
    QCOMPARE(texts.mid(at),
             (QStringList{"PREREQUISITES", "Python", "Python 3.12.1", "uv", "0.5.1", "uvx", "Comes with uv"}));
    QCOMPARE(label(f.view.get(), QStringLiteral("Python 3.12.1"))->property("class").toString(), QStringLiteral("dim"));
    QCOMPARE(label(f.view.get(), QStringLiteral("Comes with uv"))->property("class").toString(),
             QStringLiteral("faint"));
    const QImage found = Icons::icon(Icons::CHECK_CIRCLE, QStringLiteral("#2dbe78"), 18).toImage();
    const QImage missing = Icons::icon(Icons::X_CIRCLE, QStringLiteral("#e5534b"), 18).toImage();
    QList<QImage> rowIcons;
    for (QFrame *item : content(f.view.get())->findChildren<QFrame *>()) {
        if (item->property("class").toString() == QLatin1String("prereq-item"))
            rowIcons << item->findChild<QLabel *>()->pixmap().toImage();
    }
    QCOMPARE(rowIcons, (QList<QImage>{found, found, missing}));
}

void TestSetupView::refreshWithinAMinuteDoesNotRescan()
{
    Fixture f;
    f.settings.setActiveProject(m_project);
    f.view->refresh();
    waitForScans(1);
    f.view->refresh();
    f.view->refresh();
    QVERIFY(QThreadPool::globalInstance()->waitForDone(30000));
    QCOMPARE(count(QStringLiteral("get")), 1);
}

void TestSetupView::noProjectShowsOnlyTheHint()
{
    Fixture f;
    QCOMPARE(labelTexts(f.view.get()), (QStringList{"Setup", "Select a project first from the Projects tab."}));
    QCOMPARE(label(f.view.get(), QStringLiteral("Setup"))->property("class").toString(), QStringLiteral("title"));
    QVERIFY(content(f.view.get())->findChildren<QPushButton *>().isEmpty());

    // The scan runs without a project and its result is kept for later.
    f.view->refresh();
    waitForScans(1);
    QCOMPARE(labelTexts(f.view.get()), (QStringList{"Setup", "Select a project first from the Projects tab."}));
    f.settings.setActiveProject(m_project);
    f.view->refresh();
    QVERIFY(clientCard(f.view.get(), QStringLiteral("Cursor")));
    QVERIFY(QThreadPool::globalInstance()->waitForDone(30000));
    QCOMPARE(count(QStringLiteral("get")), 1);
}

void TestSetupView::addonInstallUpdateUninstall()
{
    Fixture f;
    f.settings.setActiveProject(m_project);
    f.view->refresh();
    const QString target = m_project + QLatin1String("/addons/tavrin_mcp");

    QPushButton *install = button(f.view.get(), QStringLiteral("Install"));
    QVERIFY(install);
    QCOMPARE(install->property("class").toString(), QStringLiteral("primary"));
    QTest::mouseClick(install, Qt::LeftButton);
    // Rebuilt at once: "Working..." instead of any button, until the worker reports back.
    QVERIFY(label(f.view.get(), QStringLiteral("Working...")));
    QVERIFY(addonButtons(f.view.get()).isEmpty());
    QVERIFY(label(f.view.get(), QStringLiteral("Not installed")));
    QTRY_COMPARE_WITH_TIMEOUT(f.toasts->count(), 1, 20000);
    QCOMPARE(f.toasts->at(0), (QList<QVariant>{QStringLiteral("Addon installed / updated"), 1}));
    QVERIFY(QFile::exists(target + QLatin1String("/plugin.cfg")));
    QVERIFY(label(f.view.get(), QStringLiteral("Installed v") + m_bundledVersion));
    QVERIFY(!button(f.view.get(), QStringLiteral("Update")));
    QVERIFY(!button(f.view.get(), QStringLiteral("Install")));
    QCOMPARE(button(f.view.get(), QStringLiteral("Uninstall"))->property("class").toString(), QStringLiteral("danger"));

    // An older copy in the project: "Update" then "Uninstall", in this order.
    QVERIFY(TestEnv::writeFile(target + QLatin1String("/plugin.cfg"), "[plugin]\nversion=\"0.0.1\"\n"));
    f.view->refresh();
    QVERIFY(label(f.view.get(),
                  QStringLiteral("Installed v0.0.1 (update available: v") + m_bundledVersion + QLatin1Char(')')));
    const QList<QPushButton *> buttons = addonButtons(f.view.get());
    QCOMPARE(buttons.size(), 2);
    QCOMPARE(buttons.at(0)->text(), QStringLiteral("Update"));
    QCOMPARE(buttons.at(1)->text(), QStringLiteral("Uninstall"));
    QTest::mouseClick(buttons.at(0), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(f.toasts->count(), 2, 20000);
    QCOMPARE(f.toasts->at(1), (QList<QVariant>{QStringLiteral("Addon installed / updated"), 1}));
    QVERIFY(label(f.view.get(), QStringLiteral("Installed v") + m_bundledVersion));

    QTest::mouseClick(button(f.view.get(), QStringLiteral("Uninstall")), Qt::LeftButton);
    QVERIFY(label(f.view.get(), QStringLiteral("Working...")));
    QVERIFY(addonButtons(f.view.get()).isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(f.toasts->count(), 3, 20000);
    QCOMPARE(f.toasts->at(2), (QList<QVariant>{QStringLiteral("Addon uninstalled"), 1}));
    QVERIFY(!QFileInfo::exists(target));
    QVERIFY(label(f.view.get(), QStringLiteral("Not installed")));
    QVERIFY(button(f.view.get(), QStringLiteral("Install")));
    // Addon work never scans: only the refresh did.
    QVERIFY(QThreadPool::globalInstance()->waitForDone(30000));
    QCOMPARE(count(QStringLiteral("get")), 1);
    QVERIFY(boxes().isEmpty());
}

void TestSetupView::failureShowsBoxThenErrorToast_data()
{
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("toast");
    QTest::newRow("write") << "Configure Codex"
                           << "Configuration failed"
                           << "codex: boom"
                           << "Configuration failed";
    QTest::newRow("remove") << "Remove Codex"
                            << "Remove configuration failed"
                            << "codex: cannot remove"
                            << "Remove failed";
    QTest::newRow("addon") << "Install"
                           << "Addon operation failed"
                           << "Godot project not found: %1"
                           << "Addon operation failed";
}

void TestSetupView::failureShowsBoxThenErrorToast()
{
    QFETCH(QString, trigger);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QString, toast);
    touch(QStringLiteral("codex-fail"));
    if (trigger.startsWith(QLatin1String("Remove")))
        touch(QStringLiteral("codex-configured"));
    QFile::remove(m_project + QLatin1String("/project.godot"));

    Fixture f;
    f.settings.setActiveProject(m_project);
    f.view->refresh();
    waitForScans(1);
    QPushButton *start = button(f.view.get(), trigger);
    QVERIFY(start);
    QTest::mouseClick(start, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(f.toasts->count(), 1, 20000);
    QCOMPARE(f.toasts->at(0), (QList<QVariant>{toast, 2}));

    const QList<QMessageBox *> shown = boxes();
    QCOMPARE(shown.size(), 1);
    QMessageBox *box = shown.first();
    QCOMPARE(box->parent(), f.view.get());
    QCOMPARE(box->windowTitle(), title);
    QCOMPARE(box->text(), text.contains(QLatin1String("%1")) ? text.arg(m_project) : text);
    QCOMPARE(box->icon(), QMessageBox::Warning);
    QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box->windowModality(), Qt::NonModal);
    QVERIFY(box->testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(box->isVisible());

    // The card is usable again and keeps its state; a client failure still rescans.
    QVERIFY(button(f.view.get(), trigger));
    QVERIFY(!label(f.view.get(), QStringLiteral("Working...")));
    if (trigger != QLatin1String("Install"))
        waitForScans(2);
    QVERIFY(QThreadPool::globalInstance()->waitForDone(30000));
    QVERIFY(button(f.view.get(), trigger));

    QPointer<QMessageBox> guard(box);
    box->button(QMessageBox::Ok)->click();
    QTRY_VERIFY(guard.isNull());
}

void TestSetupView::clientOperationDiscardsRunningScan()
{
    Fixture f;
    f.settings.setActiveProject(m_project);
    f.view->refresh();
    waitForScans(1);

    // A finished client operation starts the second scan; hold it after it has read Cursor's folder.
    touch(QStringLiteral("hold-get-2"));
    touch(QStringLiteral("hold-get-3"));
    QTest::mouseClick(button(f.view.get(), QStringLiteral("Configure Claude Desktop")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(count(QStringLiteral("get")), 2, 20000);
    QCOMPARE(f.toasts->count(), 1);

    // Configuring Cursor now makes the held scan stale: it saw Cursor unconfigured.
    QTest::mouseClick(button(f.view.get(), QStringLiteral("Configure Cursor")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(f.toasts->count(), 2, 20000);
    QCOMPARE(badgeOf(clientCard(f.view.get(), QStringLiteral("Cursor"))), QStringLiteral("Configured/badge-ok"));

    // Released, the stale scan is thrown away and a fresh one starts at once.
    release(QStringLiteral("hold-get-2"));
    QTRY_COMPARE_WITH_TIMEOUT(count(QStringLiteral("get")), 3, 20000);
    QCoreApplication::processEvents();
    QCOMPARE(badgeOf(clientCard(f.view.get(), QStringLiteral("Cursor"))), QStringLiteral("Configured/badge-ok"));
    QCOMPARE(badgeOf(clientCard(f.view.get(), QStringLiteral("Claude Desktop"))),
             QStringLiteral("Configured/badge-ok"));

    release(QStringLiteral("hold-get-3"));
    waitForScans(3);
    QCOMPARE(badgeOf(clientCard(f.view.get(), QStringLiteral("Cursor"))), QStringLiteral("Configured/badge-ok"));
    QCOMPARE(modeIn(QStringLiteral("cursor")), QStringLiteral("safe_edit"));
}

void TestSetupView::twoClientOperationsGiveOneRescan()
{
    Fixture f;
    f.settings.setActiveProject(m_project);
    f.view->refresh();
    waitForScans(1);

    touch(QStringLiteral("hold-claude-add"));
    touch(QStringLiteral("hold-codex-add"));
    QTest::mouseClick(button(f.view.get(), QStringLiteral("Configure Claude Code")), Qt::LeftButton);
    QTest::mouseClick(button(f.view.get(), QStringLiteral("Configure Codex")), Qt::LeftButton);
    QPushButton *claude = button(f.view.get(), QStringLiteral("Configure Claude Code"));
    QPushButton *codex = button(f.view.get(), QStringLiteral("Configure Codex"));
    QCOMPARE(claude->text(), QStringLiteral("Working..."));
    QVERIFY(!claude->isEnabled());
    QCOMPARE(codex->text(), QStringLiteral("Working..."));
    QVERIFY(!codex->isEnabled());
    QVERIFY(button(f.view.get(), QStringLiteral("Configure Cursor"))->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(state(QStringLiteral("claude-add-running"))) &&
                                 QFile::exists(state(QStringLiteral("codex-add-running"))),
                             20000);

    release(QStringLiteral("hold-claude-add"));
    QTRY_COMPARE_WITH_TIMEOUT(f.toasts->count(), 1, 20000);
    QCOMPARE(f.toasts->at(0), (QList<QVariant>{QStringLiteral("Configured!"), 1}));
    QCOMPARE(badgeOf(clientCard(f.view.get(), QStringLiteral("Claude Code"))), QStringLiteral("Configured/badge-ok"));
    QCOMPARE(button(f.view.get(), QStringLiteral("Configure Codex"))->text(), QStringLiteral("Working..."));
    // Not synchronisation: gives a wrongly started scan time to reach the fakes while Codex works.
    QTest::qWait(300);
    QCOMPARE(count(QStringLiteral("get")), 1);

    release(QStringLiteral("hold-codex-add"));
    QTRY_COMPARE_WITH_TIMEOUT(f.toasts->count(), 2, 20000);
    QCOMPARE(f.toasts->at(1), (QList<QVariant>{QStringLiteral("Configured!"), 1}));
    waitForScans(2);
    QCOMPARE(count(QStringLiteral("get")), 2);
    const QByteArray log = TestEnv::readFile(state(QStringLiteral("calls.log")));
    QVERIFY2(!log.contains("busy"), log.constData());
    QCOMPARE(badgeOf(clientCard(f.view.get(), QStringLiteral("Codex"))), QStringLiteral("Configured/badge-ok"));
    QCOMPARE(button(f.view.get(), QStringLiteral("Remove Codex"))->text(), QStringLiteral("Remove"));
}

void TestSetupView::permissionChangeRewritesConfiguredClients()
{
    writeJsonClientConfig(QStringLiteral("claude-desktop"), QStringLiteral("safe_edit"));
    writeJsonClientConfig(QStringLiteral("cursor"), QStringLiteral("safe_edit"));
    QVERIFY(QDir().mkpath(QFileInfo(Clients::configPathFor(QStringLiteral("windsurf"))).absolutePath()));
    writeJsonClientConfig(QStringLiteral("windsurf"), QStringLiteral("safe_edit"));
    Fixture f;
    f.settings.setActiveProject(m_project);
    f.settings.setPermissionMode(QStringLiteral("full_control"));

    // Nothing is known before the first scan: nothing happens.
    f.view->syncPermissionMode(QStringLiteral("full_control"));
    QCOMPARE(QThreadPool::globalInstance()->activeThreadCount(), 0);
    QVERIFY(!label(f.view.get(), QStringLiteral("Working...")));
    QCOMPARE(f.toasts->count(), 0);

    f.view->refresh();
    waitForScans(1);
    QCOMPARE(modeIn(QStringLiteral("cursor")), QStringLiteral("safe_edit"));
    f.view->syncPermissionMode(QStringLiteral("full_control"));
    QTRY_COMPARE_WITH_TIMEOUT(f.toasts->count(), 3, 20000);
    for (const QList<QVariant> &toast : std::as_const(*f.toasts))
        QCOMPARE(toast, (QList<QVariant>{QStringLiteral("Configured!"), 1}));
    waitForScans(2);
    for (const char *id : {"claude-desktop", "cursor", "windsurf"})
        QCOMPARE(modeIn(QLatin1String(id)), QStringLiteral("full_control"));
    // Unconfigured clients are left alone.
    QCOMPARE(count(QStringLiteral("claude-add")) + count(QStringLiteral("codex-add")), 0);
    QVERIFY(!QFile::exists(Clients::configPathFor(QStringLiteral("cline"))));
}

void TestSetupView::permissionChangeSkipsBusyClient()
{
    touch(QStringLiteral("codex-configured"));
    writeJsonClientConfig(QStringLiteral("cursor"), QStringLiteral("safe_edit"));
    Fixture f;
    f.settings.setActiveProject(m_project);
    f.view->refresh();
    waitForScans(1);

    touch(QStringLiteral("hold-codex-remove"));
    QTest::mouseClick(button(f.view.get(), QStringLiteral("Remove Codex")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(state(QStringLiteral("codex-remove-running"))), 20000);
    // Busy: its button is disabled and reads "Working..."; clicking it again does nothing.
    QPushButton *working = button(f.view.get(), QStringLiteral("Remove Codex"));
    QCOMPARE(working->text(), QStringLiteral("Working..."));
    QVERIFY(!working->isEnabled());
    QTest::mouseClick(working, Qt::LeftButton);
    f.settings.setPermissionMode(QStringLiteral("full_control"));
    f.view->syncPermissionMode(QStringLiteral("full_control"));
    QTRY_COMPARE_WITH_TIMEOUT(f.toasts->count(), 1, 20000);
    QCOMPARE(f.toasts->at(0), (QList<QVariant>{QStringLiteral("Configured!"), 1}));
    QCOMPARE(modeIn(QStringLiteral("cursor")), QStringLiteral("full_control"));

    release(QStringLiteral("hold-codex-remove"));
    QTRY_COMPARE_WITH_TIMEOUT(f.toasts->count(), 2, 20000);
    QCOMPARE(f.toasts->at(1), (QList<QVariant>{QStringLiteral("Removed"), 0}));
    waitForScans(2);
    QCOMPARE(count(QStringLiteral("codex-add")), 0);
    QCOMPARE(count(QStringLiteral("codex-remove")), 1);
    QCOMPARE(f.toasts->count(), 2);
    QCOMPARE(badgeOf(clientCard(f.view.get(), QStringLiteral("Codex"))), QStringLiteral("Detected/badge-neutral"));
    QCOMPARE(badgeOf(clientCard(f.view.get(), QStringLiteral("Cursor"))), QStringLiteral("Configured/badge-ok"));
}

void TestSetupView::scrollPositionSurvivesRebuild()
{
    Fixture f;
    f.settings.setActiveProject(m_project);
    f.view->resize(700, 200);
    f.view->show();
    f.view->refresh();
    waitForScans(1);
    auto area = [&] { return qobject_cast<QScrollArea *>(f.view->layout()->itemAt(0)->widget()); };
    // Scrolled to the very bottom of a short window: further down than a fresh, not yet laid out
    // scroll area can go.
    QTRY_VERIFY(area()->verticalScrollBar()->maximum() > 500);
    const int bottom = area()->verticalScrollBar()->maximum();
    area()->verticalScrollBar()->setValue(bottom);

    QScrollArea *before = area();
    QTest::mouseClick(button(f.view.get(), QStringLiteral("Configure Cursor")), Qt::LeftButton);
    QVERIFY(area() != before);
    QTRY_COMPARE(area()->verticalScrollBar()->value(), bottom);
    QTRY_COMPARE_WITH_TIMEOUT(f.toasts->count(), 1, 20000);
    waitForScans(2);
    QTRY_COMPARE(area()->verticalScrollBar()->value(), bottom);
    QCOMPARE(badgeOf(clientCard(f.view.get(), QStringLiteral("Cursor"))), QStringLiteral("Configured/badge-ok"));
}

void TestSetupView::destroyingPageWhileWorkersRun()
{
    touch(QStringLiteral("codex-fail"));
    touch(QStringLiteral("hold-codex-add"));
    auto f = std::make_unique<Fixture>();
    f->settings.setActiveProject(m_project);
    f->view->refresh();
    waitForScans(1);

    // A failing client write, a scan held in detection, and an addon install, all in flight.
    touch(QStringLiteral("hold-get-2"));
    QTest::mouseClick(button(f->view.get(), QStringLiteral("Configure Codex")), Qt::LeftButton);
    QTest::mouseClick(button(f->view.get(), QStringLiteral("Configure Cursor")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(f->toasts->count(), 1, 20000); // Cursor done; the rescan waits for Codex
    QTest::mouseClick(button(f->view.get(), QStringLiteral("Install")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(state(QStringLiteral("codex-add-running"))), 20000);

    const int before = f->toasts->count();
    f->view.reset();
    QCOMPARE(f->toasts->count(), before);
    release(QStringLiteral("hold-codex-add"));
    release(QStringLiteral("hold-get-2"));
    QVERIFY(QThreadPool::globalInstance()->waitForDone(30000));
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(f->toasts->count(), before);
    QVERIFY(boxes().isEmpty());
    QCOMPARE(count(QStringLiteral("codex-add")), 1);
}

TAVRIN_TEST_MAIN(TestSetupView)
#include "tst_gui_setupview.moc"
