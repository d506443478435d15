// The READ button against the simulated reader: the dumps, each failure's message, what
// stays in the boxes, the wait cursor and where trace lines go.
#include <QCursor>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTest>
#include <array>

#include "card/messages.h"
#include "card/trace.h"
#include "felica/libnfc/libnfc_reader.h"
#include "felica/sim/sim_reader.h"
#include "tools/pn532_emulator/pn532_emulator.h"
#include "ui/qt/form1.h"
#include "ui/qt/trace_log.h"
#include "ui_test_support.h"

namespace ui_test {
namespace {

void put_into_boxes(ui::Form1& form, const QString& text) {
    for (const QString& name : kBoxNames) {
        box(form, name)->setPlainText(text);
    }
}

QStringList trace_lines;
void capture_trace(QtMsgType, const QMessageLogContext& context, const QString& message) {
    if (context.category != nullptr && qstrcmp(context.category, "virude.trace") == 0) {
        trace_lines << message;
    }
}

class Form1ReadTest : public QObject {
    Q_OBJECT

  private slots:
    // A click fills the four boxes and clears the message; the text typed into a box is
    // replaced by the next read; a click that finds no card or no reader says so and keeps
    // the boxes as they were.
    void clicks_fill_the_boxes_or_say_what_is_missing() {
        TestReader reader;
        ui::Form1 form(reader.library());
        form.show();
        form.set_message("前の結果");
        click_read(form);
        QCOMPARE(box_texts(form), demo_dumps());
        QCOMPARE(message_text(form), QString());

        reader.card().faults().silent = true;
        click_read(form);
        QCOMPARE(message_text(form), qstring(card::kMessageNoCard));
        QCOMPARE(box_texts(form), demo_dumps());

        // The card back on the reader: the next click replaces what the user typed.
        reader.card().faults().silent = false;
        for (const QString& name : kBoxNames) {
            QTextEdit* edit = box(form, name);
            edit->moveCursor(QTextCursor::End);
            QTest::keyClick(edit, Qt::Key_Return);
            QTest::keyClicks(edit, QStringLiteral("memo"));
            QVERIFY(edit->toPlainText().endsWith(QStringLiteral("\nmemo")));
        }
        click_read(form);
        QCOMPARE(message_text(form), QString());
        QCOMPARE(box_texts(form), demo_dumps());

        reader.unplug();
        click_read(form);
        QCOMPARE(message_text(form), qstring(card::kMessageNoReader));
        QCOMPARE(box_texts(form), demo_dumps());
    }

    // libnfc abort()s on this reader's answer to the second read, in its helper process: the
    // window shows the read error and keeps the boxes it did not read.
    void reader_that_makes_libnfc_abort_leaves_the_window_alive() {
        pn532::EmulatorSetup setup;
        setup.card = std::make_shared<felica::SimulatedCard>(felica::demo_card());
        setup.faults = {{pn532::Fault::nad_status, pn532::kInDataExchange, 2}};
        pn532::Emulator emulator(setup);
        felica::ReaderLibrary library([&emulator](const felica::Deadline& deadline) {
            return felica::open_libnfc_reader(emulator.connstring(), deadline,
                                              VIRUDE_LIBNFC_HELPER_PATH);
        });
        ui::Form1 form(library);
        form.show();
        put_into_boxes(form, QStringLiteral("before"));
        click_read(form);
        QCOMPARE(message_text(form), qstring(card::kMessageReadError));
        QCOMPARE(box_texts(form), QStringList({demo_dumps()[0], "before", "before", "before"}));
        click_read(form);  // the fault came once: the next click reads the card
        QCOMPARE(message_text(form), QString());
        QCOMPARE(box_texts(form), demo_dumps());
    }

    void click_runs_under_the_wait_cursor() {
        // The reader is opened in the middle of the click; note the cursor then.
        int opened = 0;
        bool waiting = true;
        auto card = std::make_shared<felica::SimulatedCard>(felica::demo_card());
        felica::ReaderLibrary library([&](const felica::Deadline&) -> felica::OpenedReader {
            ++opened;
            const QCursor* cursor = QGuiApplication::overrideCursor();
            waiting = waiting && cursor != nullptr && cursor->shape() == Qt::WaitCursor;
            return {std::make_unique<felica::SimReader>(card), felica::RwError::none, ""};
        });
        ui::Form1 form(library);
        click_read(form);
        QCOMPARE(opened, 1);
        QVERIFY(waiting);
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        QCOMPARE(box_texts(form), demo_dumps());
    }

    void trace_lines_go_to_the_log_category_when_turned_on() {
        if (qEnvironmentVariableIsSet("QT_LOGGING_RULES")) {
            QSKIP("QT_LOGGING_RULES is set; the default cannot be checked");
        }
        TestReader reader;
        reader.card().faults().silent = true;
        trace_lines.clear();
        const QtMessageHandler previous = qInstallMessageHandler(&capture_trace);
        {
            const card::TraceSinkScope sink(&ui::log_trace_line);  // as the program's main does
            ui::Form1 form(reader.library());
            click_read(form);  // off by default
            QLoggingCategory::setFilterRules(QStringLiteral("virude.trace.debug=true"));
            click_read(form);
        }
        card::TraceLine("after the program");  // the sink was taken away again
        QLoggingCategory::setFilterRules(QString());
        qInstallMessageHandler(previous);

        QCOMPARE(trace_lines.size(), 2);
        QVERIFY(trace_lines[0].contains(QRegularExpression("^felica error type: -?\\d+$")));
        QVERIFY(trace_lines[1].contains(QRegularExpression("^rw error type: -?\\d+$")));
    }

    // The window's public service dump, inside a session the test opens itself.
    void TULMNorv_writes_the_box_its_target_names() {
        TestReader reader;
        ui::Form1 form(reader.library());
        put_into_boxes(form, QStringLiteral("unchanged"));
        felica::Library& library = reader.library();
        QVERIFY(library.initialize_library() && library.open_reader_writer_auto());
        const std::array<felica::Byte, 2> system_code = {0x80, 0x2B};
        std::array<felica::Byte, 8> idm{}, pmm{};
        felica::Byte cards = 0;
        QVERIFY(library.polling_and_get_card_information({system_code, 0}, cards, {idm, pmm}));

        const std::array<std::uint8_t, 2> service_108F = {0x8F, 0x10};
        QVERIFY(form.TULMNorv(idm, service_108F, 3, "Text108F"));
        QVERIFY(form.TULMNorv(idm, service_108F, 3, "text108F"));  // names no box
        QCOMPARE(box_texts(form),
                 QStringList({"unchanged", "unchanged", demo_dumps()[2], "unchanged"}));
        QCOMPARE(message_text(form), QString());
        QVERIFY(library.close_reader_writer() && library.dispose_library());
    }
};

}  // namespace
}  // namespace ui_test

QTEST_MAIN(ui_test::Form1ReadTest)
#include "form1_read_test.moc"
