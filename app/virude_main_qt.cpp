// virude's entry point: shows the main window. The reader is the one --reader names, else the
// one VIRUDE_READER names (the built-in simulated card with VIRUDE_READER=sim), looked up anew
// at every click.
#include <QApplication>
#include <QIcon>
#include <iostream>

#include "app/standard_streams.h"
#include "app/virude_cli.h"
#include "card/trace.h"
#include "felica/reader_library.h"
#include "felica/reader_selection.h"
#include "ui/qt/form1.h"
#include "ui/qt/trace_log.h"

int main(int argc, char** argv) {
    // The command line is handled before Qt starts: --help and --version need no display.
    const std::vector<std::string> given = standard_streams::arguments(argc, argv);
    const std::vector<std::string_view> arguments(given.begin(), given.end());
    const auto started = virude_cli::start(arguments);
    if (const auto* end = std::get_if<virude_cli::EndNow>(&started)) {
        std::cout << end->out << std::flush;
        std::cerr << end->err << std::flush;
        return std::cout ? end->code : 1;
    }
    const auto& show = std::get<virude_cli::ShowWindow>(started);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("virude"));
    QGuiApplication::setDesktopFileName(QStringLiteral("virude"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/virude/virude.png")));

    const card::TraceSinkScope trace(&ui::log_trace_line);
    felica::ReaderLibrary library(felica::reader_opener(show.reader), &ui::log_trace_line);
    ui::Form1 window(library);
    window.show();
    return app.exec();
}
