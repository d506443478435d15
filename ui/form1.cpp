#include "ui/form1.h"

#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <algorithm>
#include <optional>
#include <vector>

#include "card/read_command.h"
#include "card/service_dump.h"
#include "ui/dump_box.h"
#include "ui/fonts.h"
#include "ui/layout.h"
#include "ui/trace_log.h"

namespace ui {

namespace {

// Client area: 7785 × 5370 twips.
constexpr int kClientWidth = 7785;
constexpr int kClientHeight = 5370;

enum class Kind { label, box, button };
enum class FontKind { window_default, gothic, title };

struct Control {
    const char* name;
    Kind kind;
    int left, top, width, height;  // twips, inside the client area
    int tab_index;
    const char* text;
    FontKind font;
    std::optional<card::OutputBox> box = std::nullopt;
};

// clang-format off
const std::array<Control, 13> kControls = {{
    {"Label1",    Kind::label,  120,  120,  3495, 375,  9,  "ゆるかの Virude",   FontKind::title},
    {"Label2",    Kind::label,  3840, 240,  855,  255,  10, "Var 0.01α",        FontKind::window_default},
    {"Label3",    Kind::label,  4800, 240,  1935, 255,  11, "Virude developers", FontKind::window_default},
    {"Label008B", Kind::label,  120,  600,  1215, 255,  0,  "0x008Bの内容",     FontKind::gothic},
    {"Text008B",  Kind::box,    120,  840,  3735, 375,  4,  "",                 FontKind::gothic, card::OutputBox::Text008B},
    {"Label108F", Kind::label,  120,  1320, 1095, 255,  3,  "0x108Fの内容",     FontKind::gothic},
    {"Text108F",  Kind::box,    120,  1560, 3735, 735,  7,  "",                 FontKind::gothic, card::OutputBox::Text108F},
    {"Label10CB", Kind::label,  120,  2400, 1095, 255,  2,  "0x10CBの内容",     FontKind::gothic},
    {"Text10CB",  Kind::box,    120,  2640, 3735, 495,  6,  "",                 FontKind::gothic, card::OutputBox::Text10CB},
    {"Label090F", Kind::label,  3960, 600,  1215, 255,  1,  "0x090Fの内容",     FontKind::gothic},
    {"Text090F",  Kind::box,    3960, 840,  3735, 3735, 5,  "",                 FontKind::gothic, card::OutputBox::Text090F},
    {"Message",   Kind::label,  120,  4920, 6615, 375,  12, "",                 FontKind::gothic},
    {"Command",   Kind::button, 6840, 4920, 855,  375,  8,  "READ",             FontKind::window_default},
}};
// clang-format on

QString from_utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The wait cursor, for as long as a click runs.
class WaitCursor {
  public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

Form1::Form1(felica::Library& library, QWidget* parent) : QWidget(parent), library_(library) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("ゆるかの Virude"));
    setWindowIcon(QIcon(QStringLiteral(":/virude/virude.png")));
    setFixedSize(twips_to_pixels(kClientWidth), twips_to_pixels(kClientHeight));

    std::vector<std::pair<int, QWidget*>> tab_order;
    for (const Control& control : kControls) {
        QWidget* widget = nullptr;
        const QString text = QString::fromUtf8(control.text);
        switch (control.kind) {
            case Kind::label: {
                auto* label = new QLabel(text, this);
                label->setTextFormat(Qt::PlainText);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                widget = label;
                break;
            }
            case Kind::box: {
                auto* box = new DumpBox(this);
                box->set_dump_text(text);
                boxes_[static_cast<std::size_t>(*control.box)] = box;
                widget = box;
                break;
            }
            case Kind::button:
                widget = new QPushButton(text, this);
                break;
        }
        widget->setObjectName(QString::fromLatin1(control.name));
        widget->setGeometry(twips_rect(control.left, control.top, control.width, control.height));
        if (control.font == FontKind::gothic) {
            widget->setFont(gothic_font());
        } else if (control.font == FontKind::title) {
            widget->setFont(title_font());
        }
        tab_order.emplace_back(control.tab_index, widget);
    }
    message_ = findChild<QLabel*>(QStringLiteral("Message"));
    command_ = findChild<QPushButton*>(QStringLiteral("Command"));

    std::sort(tab_order.begin(), tab_order.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < tab_order.size(); ++i) {
        QWidget::setTabOrder(tab_order[i - 1].second, tab_order[i].second);
    }

    connect(command_, &QPushButton::clicked, this, &Form1::Command_Click);
    previous_trace_sink_ = card::set_trace_sink(&log_trace_line);
}

Form1::~Form1() {
    card::set_trace_sink(std::move(previous_trace_sink_));
}

bool Form1::TULMNorv(std::span<const std::uint8_t> bytCardIdm,
                     std::span<const std::uint8_t> bytServiceCodeList, std::int16_t intBlocknumber,
                     std::string_view strTarget) {
    return card::TULMNorv(library_, *this, bytCardIdm, bytServiceCodeList, intBlocknumber,
                          strTarget);
}

void Form1::set_message(std::string_view text) {
    message_->setText(from_utf8(text));
}

void Form1::set_box_text(card::OutputBox box, std::string_view text) {
    boxes_[static_cast<std::size_t>(box)]->set_dump_text(from_utf8(text));
}

void Form1::Command_Click() {
    WaitCursor wait;
    card::Command_Click(library_, *this);
}

}  // namespace ui
