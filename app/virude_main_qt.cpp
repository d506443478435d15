// virude's entry point: shows the main window. The reader is the one VIRUDE_READER names
// (the built-in simulated card with VIRUDE_READER=sim), looked up anew at every click.
#include <QApplication>
#include <QIcon>

#include "felica/reader_library.h"
#include "felica/reader_selection.h"
#include "ui/qt/form1.h"
#include "ui/qt/trace_log.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("virude"));
    QGuiApplication::setDesktopFileName(QStringLiteral("virude"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/virude/virude.png")));

    felica::ReaderLibrary library(felica::reader_opener_from_environment(), &ui::log_trace_line);
    ui::Form1 window(library);
    window.show();
    return app.exec();
}
