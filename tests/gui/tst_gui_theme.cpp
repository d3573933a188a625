#include "gui/widgets/icons.h"
#include "gui/widgets/theme.h"
#include "testenv.h"

#include <QtTest>
#include <QtWidgets>

#include <cmath>

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
        // Every colour of the rules is named in the palette.
        QVERIFY2(!Theme::styleSheet().contains('%'), qPrintable(Theme::styleSheet().section('%', 1, 1)));
        qApp->setStyleSheet(Theme::styleSheet());
        // Parsing happens when widgets are polished: build one of each kind and class the rules name.
        const QMap<QString, std::function<QWidget *()>> make{
            {"QPushButton", [] { return new QPushButton(QStringLiteral("b")); }},
            {"QLabel", [] { return new QLabel(QStringLiteral("l")); }},
            {"QFrame", [] { return new QFrame; }},
            {"QToolButton", [] { return new QToolButton; }},
            {"QPlainTextEdit", [] { return new QPlainTextEdit(QStringLiteral("p")); }},
            {"QTreeWidget", [] { return new QTreeWidget; }},
            {"QMenu", [] { return new QMenu; }}}; // shown in the layout, so that its items are drawn
        QWidget root;
        auto *layout = new QVBoxLayout(&root);
        const QRegularExpression selector(QStringLiteral(R"re((\w+)\[class="([\w-]+)"\])re"));
        for (const QRegularExpressionMatch &m : selector.globalMatch(Theme::styleSheet())) {
            QVERIFY2(make.contains(m.captured(1)), qPrintable(m.captured(0)));
            QWidget *w = make[m.captured(1)]();
            w->setProperty("class", m.captured(2));
            w->setProperty("active", QStringLiteral("true"));
            layout->addWidget(w);
            if (auto *list = qobject_cast<QTreeWidget *>(w))
                new QTreeWidgetItem(list, {QStringLiteral("i")});
            if (auto *menu = qobject_cast<QMenu *>(w)) {
                menu->addAction(QStringLiteral("a"))->setEnabled(false);
                menu->addSeparator();
            }
        }
        // Each rule's selector was seen.
        QCOMPARE(layout->count(), int(Theme::styleSheet().count(QStringLiteral("[class"))));
        layout->addWidget(new QLineEdit);
        layout->addWidget(new QCheckBox(QStringLiteral("c")));
        layout->addWidget(new QScrollArea);
        root.show();
        QVERIFY(QTest::qWaitForWindowExposed(&root));
        qInstallMessageHandler(previous);
        QVERIFY2(s_warnings.isEmpty(), qPrintable(s_warnings.join(QLatin1Char('\n'))));
    }

    // Every focusable control looks different with keyboard focus, and keeps its size. Unfocused,
    // the unchecked box's border stands out from the card at 3:1 or more (WCAG contrast ratio).
    void focusIsVisible_data()
    {
        QTest::addColumn<QString>("cls"); // "checkbox", "checked checkbox" or a button class
        for (const char *cls : {"nav", "primary", "secondary", "ghost", "icon-button", "danger", "toggle", "checkbox",
                                "checked checkbox"})
            QTest::newRow(cls) << QString::fromLatin1(cls);
    }
    void focusIsVisible()
    {
        QFETCH(QString, cls);
        qApp->setStyleSheet(Theme::styleSheet());
        QFrame card; // as on a page: on a card, beside another control that can take the focus
        Theme::setClass(&card, "card");
        auto *layout = new QVBoxLayout(&card);
        QAbstractButton *control = nullptr;
        if (cls.endsWith("checkbox")) {
            control = new QCheckBox(QStringLiteral("Check for updates automatically"));
            control->setChecked(cls == "checked checkbox");
        } else {
            control = new QPushButton(QStringLiteral("Check Now"));
            Theme::setClass(control, cls.toLatin1().constData());
        }
        layout->addWidget(control);
        auto *other = new QPushButton(QStringLiteral("Other"));
        layout->addWidget(other);
        card.show();
        card.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&card));
        other->setFocus();
        QTRY_VERIFY(other->hasFocus());
        const QRect area = control->geometry();
        const QImage plain = card.grab(area).toImage();
        control->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(control->hasFocus());
        QVERIFY(card.grab(area).toImage() != plain);
        QCOMPARE(control->geometry(), area);
        if (cls != "checkbox")
            return;
        // Along the middle row from the left, the first pixel that is not the card is the border.
        const QColor surface = plain.pixelColor(plain.width() - 1, 0);
        QColor border = surface;
        for (int x = 0; x < plain.width() && border == surface; ++x)
            border = plain.pixelColor(x, plain.height() / 2);
        const auto luminance = [](const QColor &c) {
            const auto channel = [](qreal v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
            return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF()) + 0.05;
        };
        const qreal ratio = luminance(border) / luminance(surface);
        QVERIFY2(surface == QColor(Theme::Palette::Surface) && ratio >= 3.0,
                 qPrintable(border.name() + ' ' + QString::number(ratio)));
    }

    // Each drawing renders in the requested colour on a transparent ground, at the screen's pixel
    // ratio (as many device pixels as the scale asks for, not a 1x image blown up).
    void iconIsRecolouredOnTransparent_data()
    {
        QTest::addColumn<QByteArray>("svg");
        QTest::addColumn<QString>("colour");
        QTest::addColumn<int>("size");
        QTest::addColumn<qreal>("dpr");
        for (const auto &[name, svg] : Icons::all())
            QTest::newRow(name) << *svg << "#6ba3e0" << 18 << 1.0;
        QTest::newRow("close white 64") << Icons::CLOSE << "#ffffff" << 64 << 1.0;
        QTest::newRow("folder at 2x") << Icons::FOLDER << "#4d8fd1" << 22 << 2.0;
        QTest::newRow("gear at 1.5x") << Icons::GEAR << "#8892a0" << 18 << 1.5;
    }
    void iconIsRecolouredOnTransparent()
    {
        QFETCH(QByteArray, svg);
        QFETCH(QString, colour);
        QFETCH(int, size);
        QFETCH(qreal, dpr);
        const QPixmap pixmap = Icons::icon(svg, colour, size, dpr);
        QCOMPARE(pixmap.devicePixelRatio(), dpr);
        QCOMPARE(pixmap.deviceIndependentSize(), QSizeF(size, size));
        const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
        const QColor wanted(colour);
        int opaque = 0, clear = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                clear += c.alpha() == 0;
                // Anti-aliased edges only lose alpha; the hue is the requested colour (unpremultiplying a
                // nearly clear pixel is too coarse to compare).
                if (c.alpha() < 128)
                    continue;
                QVERIFY2(qAbs(c.red() - wanted.red()) <= 3 && qAbs(c.green() - wanted.green()) <= 3 &&
                             qAbs(c.blue() - wanted.blue()) <= 3,
                         qPrintable(QStringLiteral("%1,%2 is %3").arg(x).arg(y).arg(c.name(QColor::HexArgb))));
                opaque += c.alpha() == 255;
            }
        }
        QVERIFY(opaque > 0 && clear > image.width() * image.height() / 4);
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
        QVERIFY(logo.deviceIndependentSize().toSize() == QSize(30, 30) && logo.width() >= 60);
        const QImage png(QStringLiteral(":/branding/tavrin.png"));
        QVERIFY(png.size() == QSize(1254, 1254) && png.hasAlphaChannel() && png.pixelColor(0, 0).alpha() == 0);
    }
};

TAVRIN_TEST_MAIN(TestTheme)
#include "tst_gui_theme.moc"
