#include "icons.h"
#include "testenv.h"
#include "theme.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QStringList s_warnings;
void collectWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    // The offscreen platform has its own chatter; only style sheet trouble counts here.
    if (type != QtDebugMsg && type != QtInfoMsg && !message.contains(QLatin1String("propagateSizeHints")))
        s_warnings << message;
}

} // namespace

class TestTheme : public QObject
{
    Q_OBJECT

private slots:
    void styleSheetParsesWithoutWarnings()
    {
        s_warnings.clear();
        QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
        qApp->setStyleSheet(Theme::STYLE_SHEET);
        // Parsing happens when widgets are polished: build one of every styled kind.
        QWidget root;
        auto *layout = new QVBoxLayout(&root);
        const auto styled = [layout](QWidget *w, const char *cls) {
            w->setProperty("class", QString::fromLatin1(cls));
            w->setProperty("active", QStringLiteral("true"));
            layout->addWidget(w);
        };
        for (const char *cls : {"nav", "primary", "secondary", "ghost", "icon-button", "danger", "toggle"})
            styled(new QPushButton(QStringLiteral("b")), cls);
        for (const char *cls : {"title", "subtitle", "section-title", "dim", "faint", "mono", "badge-ok",
                                "badge-neutral-muted", "badge-error", "badge-neutral", "badge-warn"})
            styled(new QLabel(QStringLiteral("l")), cls);
        for (const char *cls : {"card", "project-card", "client-card", "prereq-item"})
            styled(new QFrame, cls);
        for (const char *cls : {"dialog-title", "error-text"})
            styled(new QLabel(QStringLiteral("l")), cls);
        styled(new QToolButton, "more-button");
        styled(new QPlainTextEdit(QStringLiteral("p")), "code");
        auto *list = new QTreeWidget;
        list->setHeaderLabels({QStringLiteral("h")});
        new QTreeWidgetItem(list, {QStringLiteral("i")});
        styled(list, "backup-list");
        auto *menu = new QMenu(&root);
        menu->setProperty("class", QStringLiteral("card-menu"));
        menu->addAction(QStringLiteral("a"))->setEnabled(false);
        menu->addSeparator();
        menu->ensurePolished();
        layout->addWidget(new QLineEdit);
        layout->addWidget(new QCheckBox(QStringLiteral("c")));
        layout->addWidget(new QScrollArea);
        root.show();
        QVERIFY(QTest::qWaitForWindowExposed(&root));
        qInstallMessageHandler(previous);
        QVERIFY2(s_warnings.isEmpty(), qPrintable(s_warnings.join(QLatin1Char('\n'))));
        QVERIFY(Theme::STYLE_SHEET.startsWith(QLatin1Char('\n')));
    }

    void iconIsRecolouredOnTransparent_data()
    {
        QTest::addColumn<QByteArray>("svg");
        QTest::addColumn<QString>("colour");
        QTest::addColumn<int>("size");
        const QList<QPair<const char *, QByteArray>> icons = {{"FOLDER", Icons::FOLDER},
                                                              {"FOLDER_PLUS", Icons::FOLDER_PLUS},
                                                              {"CHECK_CIRCLE", Icons::CHECK_CIRCLE},
                                                              {"X_CIRCLE", Icons::X_CIRCLE},
                                                              {"BOX", Icons::BOX},
                                                              {"CODE", Icons::CODE},
                                                              {"MONITOR", Icons::MONITOR},
                                                              {"TERMINAL", Icons::TERMINAL},
                                                              {"WIND", Icons::WIND},
                                                              {"ZAP", Icons::ZAP},
                                                              {"PUZZLE", Icons::PUZZLE},
                                                              {"GEAR", Icons::GEAR},
                                                              {"WRENCH", Icons::WRENCH},
                                                              {"CLOSE", Icons::CLOSE}};
        for (const auto &[name, svg] : icons)
            QTest::newRow(name) << svg << "#6ba3e0" << 18;
        QTest::newRow("close white 64") << Icons::CLOSE << "#ffffff" << 64;
    }
    void iconIsRecolouredOnTransparent()
    {
        QFETCH(QByteArray, svg);
        QFETCH(QString, colour);
        QFETCH(int, size);
        const QImage image = Icons::icon(svg, colour, size).toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(image.size(), QSize(size, size));
        const QColor wanted(colour);
        int opaque = 0;
        int clear = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.alpha() == 0) {
                    ++clear;
                    continue;
                }
                // Anti-aliased edges only lose alpha; the hue is the requested colour (unpremultiplying a
                // nearly clear pixel is too coarse to compare).
                if (c.alpha() < 128)
                    continue;
                QVERIFY2(qAbs(c.red() - wanted.red()) <= 3 && qAbs(c.green() - wanted.green()) <= 3 &&
                             qAbs(c.blue() - wanted.blue()) <= 3,
                         qPrintable(QStringLiteral("%1,%2 is %3").arg(x).arg(y).arg(c.name(QColor::HexArgb))));
                if (c.alpha() == 255)
                    ++opaque;
            }
        }
        QVERIFY(opaque > 0);
        QVERIFY(clear > size * size / 4);
        QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
    }

    void brandingResources()
    {
        const QIcon icon(QStringLiteral(":/branding/tavrin.ico"));
        QList<int> edges;
        for (const QSize &s : icon.availableSizes())
            edges << s.width();
        std::sort(edges.begin(), edges.end());
        QCOMPARE(edges, QList<int>({16, 24, 32, 48, 64, 128, 256}));
        const QPixmap logo = icon.pixmap(QSize(30, 30), 2.0);
        QCOMPARE(logo.deviceIndependentSize().toSize(), QSize(30, 30));
        QVERIFY(logo.width() >= 60);

        const QImage png(QStringLiteral(":/branding/tavrin.png"));
        QCOMPARE(png.size(), QSize(1254, 1254));
        QVERIFY(png.hasAlphaChannel());
        QCOMPARE(png.pixelColor(0, 0).alpha(), 0);
    }
};

TAVRIN_TEST_MAIN(TestTheme)
#include "tst_gui_theme.moc"
