#include "card/service_dump.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "card/error_report.h"
#include "card/messages.h"
#include "fake_library.h"

namespace {

using card_test::Bytes;
using card_test::FakeLibrary;
using card_test::RecordingView;
using card_test::TraceCapture;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const Bytes kIdm = {0x01, 0x2E, 0x4C, 0xD3, 0xA1, 0xB2, 0xC3, 0xD4};
const Bytes kService090F = {0x0F, 0x09};

std::vector<std::string> split_crlf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2) {
        lines.push_back(text.substr(start, at - start));
    }
    lines.push_back(text.substr(start));
    return lines;
}

TEST(RenderDump, OneLinePerBlockWithUpperCaseDigitsJoinedByCrLf) {
    const Bytes block = {0x00, 0x0A, 0xAB, 0xFF, 0x10, 0x01, 0xF0, 0x9C,
                         0xC9, 0x0F, 0xE0, 0x5A, 0xA5, 0x7E, 0x80, 0x08};
    EXPECT_EQ(card::render_dump(block, 1), " 0:\t000AABFF1001F09CC90FE05AA57E8008");

    Bytes data(20 * 16);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i / 16);  // each block filled with its number
    }
    const std::string text = card::render_dump(data, 20);
    const auto lines = split_crlf(text);
    ASSERT_EQ(lines.size(), 20u);
    EXPECT_EQ(lines[9], " 9:\t09090909090909090909090909090909");
    EXPECT_EQ(lines[10], " 10:\t0A0A0A0A0A0A0A0A0A0A0A0A0A0A0A0A");
    EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1);  // no lone LF
    EXPECT_NE(text.back(), '\n');
    // Never past the data it is given.
    EXPECT_EQ(card::render_dump(block, 2), card::render_dump(block, 1));
}

TEST(Tulmnorv, ReadsTheRequestedBlocksIntoTheNamedBoxOnly) {
    FakeLibrary library;
    RecordingView view;
    const Bytes service_list = {0x8F, 0x10, 0xCB, 0x10};  // only the first service is read
    EXPECT_TRUE(card::TULMNorv(library, view, kIdm, service_list, 3, "Text108F"));
    ASSERT_EQ(library.reads.size(), 1u);
    const auto& read = library.reads[0];
    EXPECT_EQ(read.idm, kIdm);
    EXPECT_EQ(read.number_of_services, 1);
    EXPECT_THAT(read.service_code_list, ElementsAre(0x8F, 0x10));
    EXPECT_EQ(read.number_of_blocks, 3);
    Bytes block_list;
    for (int k = 0; k < 20; ++k) {
        block_list.insert(block_list.end(), {0x80, static_cast<std::uint8_t>(k)});
    }
    EXPECT_EQ(read.block_list, block_list);
    EXPECT_EQ(read.block_data_size, 20u * 16u);
    EXPECT_THAT(view.messages, IsEmpty());
    EXPECT_THAT(view.box_writes, ElementsAre(card::OutputBox::Text108F));
    EXPECT_EQ(view.boxes[card::OutputBox::Text108F], card_test::expected_dump(0x108F, 3));

    // A name that is not a box's, exactly: the card is read, no box is written.
    for (const char* target : {"text090F", "Text090f", ""}) {
        FakeLibrary other;
        RecordingView untouched;
        EXPECT_TRUE(card::TULMNorv(other, untouched, kIdm, kService090F, 20, target)) << target;
        EXPECT_THAT(other.calls, ElementsAre("read 090F")) << target;
        EXPECT_THAT(untouched.box_writes, IsEmpty()) << target;
    }
}

TEST(Tulmnorv, FailedReadShowsReadErrorAndEndsTheSession) {
    FakeLibrary library;
    library.failing_reads = {0};
    library.rw_error_type = 6;
    RecordingView view;
    TraceCapture trace;
    EXPECT_FALSE(card::TULMNorv(library, view, kIdm, kService090F, 20, "Text090F"));
    EXPECT_THAT(library.calls, ElementsAre("read 090F", "errors", "close", "dispose"));
    EXPECT_THAT(view.messages, ElementsAre(card::kMessageReadError));
    EXPECT_THAT(view.box_writes, IsEmpty());
    EXPECT_THAT(trace.lines, ElementsAre("felica error type: 0", "rw error type: 6"));
}

TEST(Tulmnorv, RefusesArgumentsItCannotUseWithoutTouchingLibraryOrView) {
    const struct {
        Bytes idm;
        Bytes service_list;
        std::int16_t blocks;
        const char* trace_line;
    } cases[] = {
        {kIdm, kService090F, 0, "Block number out of range: 0"},
        {kIdm, kService090F, 21, "Block number out of range: 21"},
        {Bytes(7, 1), kService090F, 1, "Card IDm must be 8 bytes, got: 7"},
        {kIdm, {0x0F}, 1, "Service code list too short: 1"},
    };
    for (const auto& c : cases) {
        FakeLibrary library;
        RecordingView view;
        TraceCapture trace;
        EXPECT_TRUE(card::TULMNorv(library, view, c.idm, c.service_list, c.blocks, "Text090F"));
        EXPECT_THAT(library.calls, IsEmpty());
        EXPECT_THAT(view.messages, IsEmpty());
        EXPECT_THAT(view.box_writes, IsEmpty());
        EXPECT_THAT(trace.lines, ElementsAre(c.trace_line));
    }
}

TEST(ReportLastError, EndsTheSessionWhateverEachCallReturns) {
    FakeLibrary library;
    library.error_types_result = false;  // and leaves the cells alone
    library.felica_error_type = 3;
    library.rw_error_type = 4;
    library.close_result = false;
    library.dispose_result = false;
    TraceCapture trace;
    card::ReportLastError(library);
    EXPECT_THAT(library.calls, ElementsAre("errors", "close", "dispose"));
    EXPECT_THAT(trace.lines, ElementsAre("felica error type: 0", "rw error type: 0"));
}

}  // namespace
