// The window as it starts (controls, places, texts, fonts, tab order, caption, size, icon),
// and its output boxes showing whole dumps: every line, every digit, inside the box's frame.
#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

#include "ui/qt/dump_box.h"
#include "ui/qt/fonts.h"
#include "ui/qt/form1.h"
#include "ui_test_support.h"
#include "ui_tests.h"

namespace ui_test {
namespace {

// True when the font the widget got covers Japanese and every character of the text.
bool shows_japanese(const QWidget* widget, const QString& text) {
    const QFontInfo info(widget->font());
    if (!QFontDatabase::writingSystems(info.family()).contains(QFontDatabase::Japanese)) {
        return false;
    }
    const QFontMetrics metrics(widget->font());
    for (const char32_t c : text.toUcs4()) {
        if (!metrics.inFontUcs4(c)) {
            return false;
        }
    }
    return true;
}

class Form1LayoutTest : public QObject {
    Q_OBJECT

  private slots:
    void controls_have_their_kind_place_and_start_text_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QRect>("geometry");  // pixels: the designed twips divided by 15
        QTest::addColumn<QString>("text");
        QTest::newRow("Label1") << "label" << QRect(8, 8, 233, 25) << "ゆるかの Virude";
        QTest::newRow("Label2") << "label" << QRect(256, 16, 57, 17) << "Var 0.01α";
        QTest::newRow("Label3") << "label" << QRect(320, 16, 129, 17) << "Virude developers";
        QTest::newRow("Label008B") << "label" << QRect(8, 40, 81, 17) << "0x008Bの内容";
        QTest::newRow("Text008B") << "box" << QRect(8, 56, 249, 25) << "";
        QTest::newRow("Label108F") << "label" << QRect(8, 88, 73, 17) << "0x108Fの内容";
        QTest::newRow("Text108F") << "box" << QRect(8, 104, 249, 49) << "";
        QTest::newRow("Label10CB") << "label" << QRect(8, 160, 73, 17) << "0x10CBの内容";
        QTest::newRow("Text10CB") << "box" << QRect(8, 176, 249, 33) << "";
        QTest::newRow("Label090F") << "label" << QRect(264, 40, 81, 17) << "0x090Fの内容";
        QTest::newRow("Text090F") << "box" << QRect(264, 56, 249, 249) << "";
        QTest::newRow("Message") << "label" << QRect(8, 328, 441, 25) << "";
        QTest::newRow("Command") << "button" << QRect(456, 328, 57, 25) << "READ";
    }

    void controls_have_their_kind_place_and_start_text() {
        QFETCH(QString, kind);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        TestReader reader;
        ui::Form1 form(reader.library());
        auto* widget = form.findChild<QWidget*>(QTest::currentDataTag());
        QVERIFY(widget != nullptr);
        QCOMPARE(widget->parentWidget(), &form);
        QCOMPARE(widget->geometry(), geometry);
        if (auto* label = qobject_cast<QLabel*>(widget); kind == "label") {
            QVERIFY(label != nullptr);
            QCOMPARE(label->text(), text);
        } else if (auto* edit = qobject_cast<QTextEdit*>(widget); kind == "box") {
            QVERIFY(edit != nullptr);
            QCOMPARE(edit->toPlainText(), text);
            QVERIFY(!edit->isReadOnly());
            QCOMPARE(edit->lineWrapMode(), QTextEdit::NoWrap);
            QCOMPARE(edit->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
            QCOMPARE(edit->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        } else {
            auto* button = qobject_cast<QPushButton*>(widget);
            QVERIFY(button != nullptr);
            QCOMPARE(button->text(), text);
        }
    }

    void window_has_caption_fixed_client_size_and_icon() {
        TestReader reader;
        ui::Form1 form(reader.library());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.objectName(), QStringLiteral("Form1"));
        QCOMPARE(form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 13);
        QCOMPARE(form.windowTitle(), QStringLiteral("ゆるかの Virude"));
        QCOMPARE(form.size(), QSize(519, 358));
        form.resize(800, 600);
        QCOMPARE(form.size(), QSize(519, 358));
        const QImage icon(QStringLiteral(":/virude/virude.png"));
        QCOMPARE(icon.size(), QSize(32, 32));
        QCOMPARE(form.windowIcon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_RGB32),
                 icon.convertToFormat(QImage::Format_RGB32));
    }

    // Focus moves with TAB through the controls that take it, in the order of their tab
    // indices: Text008B 4, Text090F 5, Text10CB 6, Text108F 7, Command 8.
    void tab_moves_focus_in_tab_index_order() {
        TestReader reader;
        ui::Form1 form(reader.library());
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        box(form, "Text008B")->setFocus();
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Text008B"));
        for (const char* next : {"Text090F", "Text10CB", "Text108F", "Command", "Text008B"}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), QString(next));
        }
        // TAB moved the focus; it did not go into the boxes as text.
        QCOMPARE(box_text(form, "Text008B"), QString());
        QCOMPARE(box_text(form, "Text090F"), QString());
    }

    // 9 pt (12 pixels at 15 twips a pixel) Japanese gothic; the title 18 pt, bold, underlined.
    void fonts_resolve_to_japanese_gothic_families() {
        TestReader reader;
        ui::Form1 form(reader.library());
        for (const char* name : {"Label008B", "Label108F", "Label10CB", "Label090F", "Text008B",
                                 "Text108F", "Text10CB", "Text090F", "Message", "Label1"}) {
            const QWidget* widget = form.findChild<QWidget*>(name);
            const QFontInfo info(widget->font());
            const bool title = widget->objectName() == "Label1";
            QVERIFY2((title ? ui::title_families() : ui::gothic_families()).contains(info.family()),
                     qPrintable(widget->objectName() + ": " + info.family()));
            QCOMPARE(info.pixelSize(), title ? 24 : 12);
            QCOMPARE(info.bold(), title);
            QCOMPARE(info.underline(), title);
            QVERIFY2(shows_japanese(
                         widget, QStringLiteral("0x090Fの内容ゆるかのをパソリにおいてください。")),
                     qPrintable(widget->objectName() + ": " + info.family()));
        }
    }

    void dump_fits_its_box_data() {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("first");
        // The plan's line counts; the single line is numbered 19, the widest number.
        QTest::newRow("Text008B") << 1 << 19;
        QTest::newRow("Text108F") << 3 << 0;
        QTest::newRow("Text10CB") << 2 << 0;
        QTest::newRow("Text090F") << 20 << 0;
    }

    // Lays a CR LF dump out in the window's own box: each line starts its digits at the
    // Windows tab stop (8 average character widths, not Qt's 80 pixels), and no line, nor
    // any character of one, falls outside the visible area.
    void dump_fits_its_box() {
        QFETCH(int, lines);
        QFETCH(int, first);
        TestReader reader;
        ui::Form1 form(reader.library());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto* edit = qobject_cast<ui::DumpBox*>(box(form, QTest::currentDataTag()));
        QVERIFY(edit != nullptr);
        QStringList dump;
        for (int i = first; i < first + lines; ++i) {
            dump << QStringLiteral(" %1:\t0123456789ABCDEFFEDCBA9876543210").arg(i);
        }
        edit->set_dump_text(dump.join(QStringLiteral("\r\n")));
        QCoreApplication::processEvents();

        QTextDocument* document = edit->document();
        QCOMPARE(document->blockCount(), lines);
        QVERIFY(!edit->toPlainText().contains(QLatin1Char('\r')));
        const qreal tab_stop = 8 * QFontMetrics(edit->font()).averageCharWidth();
        const QRectF visible = edit->viewport()->rect();
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
            QCOMPARE(block.layout()->lineCount(), 1);  // no wrapping
            const QTextLine line = block.layout()->lineAt(0);
            QCOMPARE(line.cursorToX(static_cast<int>(block.text().indexOf('\t')) + 1), tab_stop);
            const QPointF at = document->documentLayout()->blockBoundingRect(block).topLeft();
            const QRectF ink(at.x() + line.x(), at.y() + line.y(), line.naturalTextWidth(),
                             edit->line_pitch());
            QVERIFY2(
                visible.contains(ink),
                qPrintable(QStringLiteral("line %1 outside the box").arg(block.blockNumber())));
        }
        // Nothing is left to scroll to either way.
        QCOMPARE(edit->horizontalScrollBar()->maximum(), 0);
        QCOMPARE(edit->verticalScrollBar()->maximum(), 0);
    }

    // Lines the user adds keep the box's line pitch.
    void typed_lines_keep_the_line_pitch() {
        TestReader reader;
        ui::Form1 form(reader.library());
        auto* edit = qobject_cast<ui::DumpBox*>(box(form, "Text10CB"));
        edit->set_dump_text(QStringLiteral(" 0:\t00"));
        edit->moveCursor(QTextCursor::End);
        QTest::keyClick(edit, Qt::Key_Return);
        QTest::keyClicks(edit, QStringLiteral("typed"));
        const QTextBlockFormat typed = edit->document()->lastBlock().blockFormat();
        QCOMPARE(edit->document()->blockCount(), 2);
        QCOMPARE(typed.lineHeightType(), int(QTextBlockFormat::FixedHeight));
        QCOMPARE(typed.lineHeight(), qreal(edit->line_pitch()));
    }
};

}  // namespace

std::unique_ptr<QObject> make_form1_layout_test() {
    return std::make_unique<Form1LayoutTest>();
}

}  // namespace ui_test

#include "form1_layout_test.moc"
