// The READ button against the simulated reader: the dumps, each failure's message, what
// stays in the boxes, the wait cursor and where trace lines go.
#include <QCursor>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTest>
#include <array>
#include <optional>
#include <vector>

#include "card/messages.h"
#include "felica/reader_selection.h"
#include "ui/form1.h"
#include "ui/trace_log.h"
#include "ui_test_support.h"
#include "ui_tests.h"

namespace ui_test {
namespace {

constexpr std::array<const char*, 4> kBoxes = {"Text008B", "Text090F", "Text108F", "Text10CB"};

QString message(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

struct Dumps {
    QString t008B, t090F, t108F, t10CB;
};

Dumps demo_dumps() {
    const felica::CardImage card = felica::demo_card();
    return {expected_dump(card, 0x008B, 1), expected_dump(card, 0x090F, 20),
            expected_dump(card, 0x108F, 3), expected_dump(card, 0x10CB, 2)};
}

void put_into_boxes(ui::Form1& form, const QString& text) {
    for (const char* name : kBoxes) {
        box(form, name)->setPlainText(text);
    }
}

// Passes every call to the library and notes the cursor the application showed meanwhile.
class CursorWatchingLibrary final : public felica::Library {
  public:
    explicit CursorWatchingLibrary(felica::Library& inner) : inner_(inner) {}

    std::vector<std::optional<Qt::CursorShape>> cursors;

    bool initialize_library() override { return note(inner_.initialize_library()); }
    bool open_reader_writer_auto() override { return note(inner_.open_reader_writer_auto()); }
    bool polling_and_get_card_information(const felica::PollingRecord& polling,
                                          felica::Byte& number_of_cards,
                                          const felica::CardInformationRecord& card) override {
        return note(inner_.polling_and_get_card_information(polling, number_of_cards, card));
    }
    bool read_block_without_encryption(const felica::ReadRequestRecord& request,
                                       const felica::ReadResultRecord& result) override {
        return note(inner_.read_block_without_encryption(request, result));
    }
    bool get_last_error_types(std::int32_t& felica_error, std::int32_t& rw_error) override {
        return note(inner_.get_last_error_types(felica_error, rw_error));
    }
    bool close_reader_writer() override { return note(inner_.close_reader_writer()); }
    bool dispose_library() override { return note(inner_.dispose_library()); }

  private:
    bool note(bool result) {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        cursors.push_back(cursor ? std::optional(cursor->shape()) : std::nullopt);
        return result;
    }
    felica::Library& inner_;
};

// Collects the lines logged to "virude.trace" while it exists.
class TraceCapture {
  public:
    TraceCapture() {
        lines().clear();
        previous_ = qInstallMessageHandler(&TraceCapture::handle);
    }
    ~TraceCapture() { qInstallMessageHandler(previous_); }
    static QStringList& lines() {
        static QStringList captured;
        return captured;
    }

  private:
    static void handle(QtMsgType, const QMessageLogContext& context, const QString& text) {
        if (context.category != nullptr && qstrcmp(context.category, "virude.trace") == 0) {
            lines() << text;
        }
    }
    QtMessageHandler previous_ = nullptr;
};

class Form1ReadTest : public QObject {
    Q_OBJECT

  private slots:
    void click_fills_the_four_boxes_and_clears_the_message() {
        TestReader reader;
        ui::Form1 form(reader.library());
        form.show();
        form.set_message("前の結果");
        click_read(form);

        const Dumps dumps = demo_dumps();
        QCOMPARE(box_text(form, "Text008B"), dumps.t008B);
        QCOMPARE(box_text(form, "Text090F"), dumps.t090F);
        QCOMPARE(box_text(form, "Text108F"), dumps.t108F);
        QCOMPARE(box_text(form, "Text10CB"), dumps.t10CB);
        QCOMPARE(message_text(form), QString());
        // One polling and five reads: 1, 15 + 5, 3 and 2 blocks.
        QCOMPARE(reader.card().exchanges(), 6);
    }

    void next_read_replaces_typed_text() {
        TestReader reader;
        ui::Form1 form(reader.library());
        form.show();
        click_read(form);
        for (const char* name : kBoxes) {
            QTextEdit* edit = box(form, name);
            edit->moveCursor(QTextCursor::End);
            QTest::keyClick(edit, Qt::Key_Return);
            QTest::keyClicks(edit, QStringLiteral("memo"));
            QVERIFY(edit->toPlainText().endsWith(QStringLiteral("\nmemo")));
        }
        QTest::keyClicks(box(form, "Text108F"), QStringLiteral("more"));

        click_read(form);
        const Dumps dumps = demo_dumps();
        QCOMPARE(box_text(form, "Text008B"), dumps.t008B);
        QCOMPARE(box_text(form, "Text090F"), dumps.t090F);
        QCOMPARE(box_text(form, "Text108F"), dumps.t108F);
        QCOMPARE(box_text(form, "Text10CB"), dumps.t10CB);
    }

    void no_card_asks_for_the_card_and_keeps_the_boxes() {
        TestReader reader;
        ui::Form1 form(reader.library());
        form.show();
        click_read(form);
        reader.card().faults().silent = true;

        click_read(form);
        QCOMPARE(message_text(form), message(card::kMessageNoCard));
        const Dumps dumps = demo_dumps();
        QCOMPARE(box_text(form, "Text008B"), dumps.t008B);
        QCOMPARE(box_text(form, "Text090F"), dumps.t090F);
        QCOMPARE(box_text(form, "Text108F"), dumps.t108F);
        QCOMPARE(box_text(form, "Text10CB"), dumps.t10CB);

        // The card back on the reader: the next click reads again and clears the message.
        reader.card().faults().silent = false;
        put_into_boxes(form, QStringLiteral("old"));
        click_read(form);
        QCOMPARE(message_text(form), QString());
        QCOMPARE(box_text(form, "Text10CB"), dumps.t10CB);
    }

    // The card leaves after polling, the 0x008B read and the first 15 blocks of 0x090F.
    void card_taken_away_shows_read_error_and_keeps_unread_boxes() {
        felica::CardFaults faults;
        faults.removed_after = 3;
        TestReader reader(felica::demo_card(), faults);
        ui::Form1 form(reader.library());
        form.show();
        put_into_boxes(form, QStringLiteral("before"));

        click_read(form);
        QCOMPARE(message_text(form), message(card::kMessageReadError));
        QCOMPARE(box_text(form, "Text008B"), demo_dumps().t008B);
        QCOMPARE(box_text(form, "Text090F"), QStringLiteral("before"));
        QCOMPARE(box_text(form, "Text108F"), QStringLiteral("before"));
        QCOMPARE(box_text(form, "Text10CB"), QStringLiteral("before"));
    }

    void no_reader_asks_to_connect_it_and_keeps_the_boxes() {
        TestReader reader;
        ui::Form1 form(reader.library());
        form.show();
        click_read(form);
        reader.unplug();

        click_read(form);
        QCOMPARE(message_text(form), message(card::kMessageNoReader));
        const Dumps dumps = demo_dumps();
        QCOMPARE(box_text(form, "Text008B"), dumps.t008B);
        QCOMPARE(box_text(form, "Text090F"), dumps.t090F);
        QCOMPARE(box_text(form, "Text108F"), dumps.t108F);
        QCOMPARE(box_text(form, "Text10CB"), dumps.t10CB);
    }

    // The program's own set-up: VIRUDE_READER=sim picks the built-in demo card.
    void reader_from_environment_reads_the_demo_card() {
        const QByteArray saved = qgetenv(felica::kReaderVariable);
        const bool was_set = qEnvironmentVariableIsSet(felica::kReaderVariable);
        qputenv(felica::kReaderVariable, "sim");
        felica::ReaderLibrary library(felica::reader_opener_from_environment());
        ui::Form1 form(library);
        form.show();
        click_read(form);
        QCOMPARE(box_text(form, "Text090F"), demo_dumps().t090F);
        QCOMPARE(message_text(form), QString());

        qputenv(felica::kReaderVariable, "no-such-reader");
        click_read(form);
        QCOMPARE(message_text(form), message(card::kMessageNoReader));
        if (was_set) {
            qputenv(felica::kReaderVariable, saved);
        } else {
            qunsetenv(felica::kReaderVariable);
        }
    }

    void click_runs_under_the_wait_cursor() {
        TestReader reader;
        CursorWatchingLibrary library(reader.library());
        ui::Form1 form(library);
        form.show();
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        click_read(form);
        // initialize, open, poll, four reads, close, dispose
        QCOMPARE(library.cursors.size(), std::size_t(9));
        for (const auto& cursor : library.cursors) {
            QCOMPARE(cursor, std::optional(Qt::WaitCursor));
        }
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);

        // Also restored after a failed click.
        reader.unplug();
        click_read(form);
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    }

    void trace_lines_go_to_the_log_category_when_turned_on() {
        if (qEnvironmentVariableIsSet("QT_LOGGING_RULES")) {
            QSKIP("QT_LOGGING_RULES is set; the default cannot be checked");
        }
        QVERIFY(!ui::lcTrace().isDebugEnabled());

        TestReader reader;
        reader.card().faults().silent = true;
        TraceCapture capture;
        {
            ui::Form1 form(reader.library());
            click_read(form);
            QCOMPARE(TraceCapture::lines(), QStringList());  // off by default

            QLoggingCategory::setFilterRules(QStringLiteral("virude.trace.debug=true"));
            click_read(form);
            QLoggingCategory::setFilterRules(QString());
        }
        QVERIFY2(TraceCapture::lines().size() >= 2, qPrintable(TraceCapture::lines().join('|')));
        QVERIFY(TraceCapture::lines()
                    .filter(QRegularExpression("^felica error type: -?\\d+$"))
                    .size() == 1);
        QVERIFY(
            TraceCapture::lines().filter(QRegularExpression("^rw error type: -?\\d+$")).size() ==
            1);

        // With the window gone its sink is gone too.
        const qsizetype before = TraceCapture::lines().size();
        QLoggingCategory::setFilterRules(QStringLiteral("virude.trace.debug=true"));
        card::TraceLine("after the window");
        QLoggingCategory::setFilterRules(QString());
        QCOMPARE(TraceCapture::lines().size(), before);
    }

    // The window's public service dump, inside a session the test opens itself.
    void TULMNorv_writes_the_box_its_target_names() {
        TestReader reader;
        ui::Form1 form(reader.library());
        put_into_boxes(form, QStringLiteral("unchanged"));
        felica::Library& library = reader.library();
        QVERIFY(library.initialize_library());
        QVERIFY(library.open_reader_writer_auto());
        const std::array<felica::Byte, 2> system_code = {0x80, 0x2B};
        std::array<felica::Byte, 8> idm{};
        std::array<felica::Byte, 8> pmm{};
        felica::Byte cards = 0;
        QVERIFY(library.polling_and_get_card_information({system_code, 0}, cards, {idm, pmm}));

        const std::array<std::uint8_t, 2> service_108F = {0x8F, 0x10};
        QVERIFY(form.TULMNorv(idm, service_108F, 3, "Text108F"));
        QCOMPARE(box_text(form, "Text108F"), demo_dumps().t108F);
        // A name that selects no box: read, but nothing shown.
        QVERIFY(form.TULMNorv(idm, service_108F, 3, "text108F"));
        for (const char* name : {"Text008B", "Text090F", "Text10CB"}) {
            QCOMPARE(box_text(form, name), QStringLiteral("unchanged"));
        }
        QCOMPARE(message_text(form), QString());
        QVERIFY(library.close_reader_writer());
        QVERIFY(library.dispose_library());
    }
};

}  // namespace

std::unique_ptr<QObject> make_form1_read_test() {
    return std::make_unique<Form1ReadTest>();
}

}  // namespace ui_test

#include "form1_read_test.moc"
