// The output boxes show whole dumps: every line, every digit, inside the box's frame.
#include <QAbstractTextDocumentLayout>
#include <QFontMetrics>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include "ui/dump_box.h"
#include "ui/fonts.h"
#include "ui/form1.h"
#include "ui_test_support.h"
#include "ui_tests.h"

namespace ui_test {
namespace {

// A dump of `lines` lines with CR LF between them, numbered from `first`, each with the
// widest digits a line can hold.
QString crlf_dump(int lines, int first = 0) {
    QStringList out;
    for (int i = 0; i < lines; ++i) {
        out << QStringLiteral(" %1:\t0123456789ABCDEFFEDCBA9876543210").arg(first + i);
    }
    return out.join(QStringLiteral("\r\n"));
}

class DumpBoxTest : public QObject {
    Q_OBJECT

  private slots:
    void dump_fits_its_box_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("first");
        // The plan's line counts; the single line is numbered 19 to test the widest number.
        QTest::newRow("Text008B") << "Text008B" << 1 << 19;
        QTest::newRow("Text108F") << "Text108F" << 3 << 0;
        QTest::newRow("Text10CB") << "Text10CB" << 2 << 0;
        QTest::newRow("Text090F") << "Text090F" << 20 << 0;
    }

    // Lays the dump out in the window's own box and checks that no line, and no character
    // of a line, falls outside the visible area.
    void dump_fits_its_box() {
        QFETCH(QString, name);
        QFETCH(int, lines);
        QFETCH(int, first);
        TestReader reader;
        ui::Form1 form(reader.library());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto* edit = qobject_cast<ui::DumpBox*>(box(form, name.toLatin1().constData()));
        QVERIFY(edit != nullptr);
        edit->set_dump_text(crlf_dump(lines, first));
        QCoreApplication::processEvents();

        QTextDocument* document = edit->document();
        QCOMPARE(document->blockCount(), lines);
        const QRect visible = edit->viewport()->rect();
        const QPoint origin(edit->horizontalScrollBar()->value(),
                            edit->verticalScrollBar()->value());
        QCOMPARE(origin, QPoint(0, 0));
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
            QTextLayout* layout = block.layout();
            QCOMPARE(layout->lineCount(), 1);  // no wrapping
            const QTextLine line = layout->lineAt(0);
            const QPointF top_left =
                document->documentLayout()->blockBoundingRect(block).topLeft() - origin;
            const QRectF ink(top_left.x() + line.x(), top_left.y() + line.y(),
                             line.naturalTextWidth(), edit->line_pitch());
            QVERIFY2(QRectF(visible).contains(ink),
                     qPrintable(QStringLiteral("line %1 at (%2,%3 %4x%5) outside %6x%7")
                                    .arg(block.blockNumber())
                                    .arg(ink.x())
                                    .arg(ink.y())
                                    .arg(ink.width())
                                    .arg(ink.height())
                                    .arg(visible.width())
                                    .arg(visible.height())));
        }
        // Nothing is left to scroll to either way.
        QCOMPARE(edit->horizontalScrollBar()->maximum(), 0);
        QCOMPARE(edit->verticalScrollBar()->maximum(), 0);
    }

    // The digits start at the first tab stop, 8 average character widths in (as a Windows
    // edit box has it), not at Qt's default of 80 pixels.
    void digits_start_at_the_windows_tab_stop() {
        TestReader reader;
        ui::Form1 form(reader.library());
        auto* edit = qobject_cast<ui::DumpBox*>(box(form, "Text090F"));
        edit->set_dump_text(crlf_dump(20));
        const int stop = 8 * QFontMetrics(edit->font()).averageCharWidth();
        QCOMPARE(edit->tabStopDistance(), qreal(stop));
        for (const int number : {0, 19}) {
            const QTextBlock block = edit->document()->findBlockByNumber(number);
            const QTextLine line = block.layout()->lineAt(0);
            const int tab = static_cast<int>(block.text().indexOf(QLatin1Char('\t')));
            QCOMPARE(tab, number < 10 ? 3 : 4);
            QCOMPARE(line.cursorToX(tab + 1), qreal(stop));
        }
    }

    void crlf_and_lone_breaks_end_lines_and_tabs_stay() {
        ui::DumpBox edit;
        edit.set_dump_text(QStringLiteral(" 0:\tAB\r\n 1:\tCD\n 2:\tEF\r 3:\t01"));
        QCOMPARE(edit.document()->blockCount(), 4);
        QCOMPARE(edit.toPlainText(), QStringLiteral(" 0:\tAB\n 1:\tCD\n 2:\tEF\n 3:\t01"));
        edit.set_dump_text(QStringLiteral(" 0:\t00"));
        QCOMPARE(edit.document()->blockCount(), 1);
        QCOMPARE(edit.toPlainText(), QStringLiteral(" 0:\t00"));
    }

    // Lines the user adds keep the box's line pitch, so typed text lines up as dumps do.
    void typed_lines_keep_the_line_pitch() {
        ui::DumpBox edit;
        edit.setFont(ui::gothic_font());
        edit.set_dump_text(crlf_dump(2));
        edit.moveCursor(QTextCursor::End);
        QTest::keyClick(&edit, Qt::Key_Return);
        QTest::keyClicks(&edit, QStringLiteral("typed"));
        QCOMPARE(edit.document()->blockCount(), 3);
        const QTextBlock typed = edit.document()->lastBlock();
        QCOMPARE(typed.text(), QStringLiteral("typed"));
        QCOMPARE(typed.blockFormat().lineHeightType(), int(QTextBlockFormat::FixedHeight));
        QCOMPARE(typed.blockFormat().lineHeight(), qreal(edit.line_pitch()));
    }
};

}  // namespace

std::unique_ptr<QObject> make_dump_box_test() {
    return std::make_unique<DumpBoxTest>();
}

}  // namespace ui_test

#include "dump_box_test.moc"
