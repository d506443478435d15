#include "ui/qt/form1.h"

#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QString>

#include "card/read_command.h"
#include "card/service_dump.h"
#include "ui/form1_controls.h"
#include "ui/qt/dump_box.h"
#include "ui/qt/fonts.h"
#include "ui/qt/layout.h"

namespace ui {

namespace {

QString from_utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QRect pixel_rect(const Form1Control& control) {
    return twips_rect(control.left, control.top, control.width, control.height);
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
    setWindowTitle(from_utf8(kForm1Caption));
    setWindowIcon(QIcon(QStringLiteral(":/virude/virude.png")));
    setFixedSize(twips_to_pixels(kClientWidthTwips), twips_to_pixels(kClientHeightTwips));

    std::array<QWidget*, kForm1Controls.size()> by_tab_index{};
    for (const Form1Control& control : kForm1Controls) {
        QWidget* widget = nullptr;
        const QString text = from_utf8(control.text);
        switch (control.kind) {
            case ControlKind::label: {
                auto* label = new QLabel(text, this);
                label->setTextFormat(Qt::PlainText);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                widget = label;
                break;
            }
            case ControlKind::box: {
                auto* box = new DumpBox(this);
                box->set_dump_text(text);
                boxes_[static_cast<std::size_t>(*control.box)] = box;
                widget = box;
                break;
            }
            case ControlKind::button:
                widget = new QPushButton(text, this);
                break;
        }
        widget->setObjectName(from_utf8(control.name));
        widget->setGeometry(pixel_rect(control));
        if (control.font == ControlFont::gothic) {
            widget->setFont(gothic_font());
        } else if (control.font == ControlFont::title) {
            widget->setFont(title_font());
        }
        by_tab_index[static_cast<std::size_t>(control.tab_index)] = widget;
    }
    message_ = findChild<QLabel*>(QStringLiteral("Message"));
    command_ = findChild<QPushButton*>(QStringLiteral("Command"));

    for (std::size_t i = 1; i < by_tab_index.size(); ++i) {
        QWidget::setTabOrder(by_tab_index[i - 1], by_tab_index[i]);
    }

    connect(command_, &QPushButton::clicked, this, &Form1::Command_Click);
}

Form1::~Form1() = default;

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
