#include "ui_test_support.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "felica/sim/sim_reader.h"

namespace ui_test {

TestReader::TestReader(felica::CardImage image, felica::CardFaults faults)
    : card_(std::make_shared<felica::SimulatedCard>(std::move(image), faults)),
      library_([this](const felica::Deadline&) -> felica::OpenedReader {
          if (!plugged_) {
              return {nullptr, felica::RwError::no_reader, "test reader unplugged"};
          }
          return {std::make_unique<felica::SimReader>(card_), felica::RwError::none, ""};
      }) {}

namespace {

QString expected_dump(const felica::CardImage& image, std::uint16_t service_code, int blocks) {
    const auto& service = image.services.at(service_code);
    QStringList lines;
    for (int b = 0; b < blocks; ++b) {
        QString line = QStringLiteral(" %1:\t").arg(b);
        for (std::uint8_t byte : service.at(static_cast<std::size_t>(b))) {
            line += QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
        }
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

}  // namespace

QStringList demo_dumps() {
    const felica::CardImage card = felica::demo_card();
    return {expected_dump(card, 0x008B, 1), expected_dump(card, 0x090F, 20),
            expected_dump(card, 0x108F, 3), expected_dump(card, 0x10CB, 2)};
}

QString qstring(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QTextEdit* box(const ui::Form1& form, const QString& name) {
    return form.findChild<QTextEdit*>(name);
}

QString box_text(const ui::Form1& form, const QString& name) {
    return box(form, name)->toPlainText();
}

QStringList box_texts(const ui::Form1& form) {
    QStringList texts;
    for (const QString& name : kBoxNames) {
        texts << box_text(form, name);
    }
    return texts;
}

QString message_text(const ui::Form1& form) {
    return form.findChild<QLabel*>(QStringLiteral("Message"))->text();
}

void click_read(ui::Form1& form) {
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command")), Qt::LeftButton);
}

}  // namespace ui_test
