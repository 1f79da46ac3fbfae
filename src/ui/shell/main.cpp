// Kerbilo's desktop program: start-up, the window, the event loop.

#include <QtWidgets/QApplication>
#include <cstdio>
#include <cstdlib>

#include "runtime/file_services.h"
#include "runtime/program_directory.h"
#include "ui/shell/lifecycle.h"
#include "ui/shell/main_window.h"
#include "ui/shell/program.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kerbilo"));
    QApplication::setDesktopFileName(QStringLiteral("kerbilo"));
    kerbilo::installChineseQtTexts();

    const kerbilo::Text programDir = kerbilo::programDirectory();
    kerbilo::enterDirectory(programDir);
    kerbilo::PosixFileServices files(programDir);
    kerbilo::Program program(files);

    kerbilo::MainWindow window(program.commands(), kerbilo::Program::renderers());
    program.attach(window);
    window.show();
    window.activateWindow();
    window.created();
    const int status = QApplication::exec();
    // The window is gone and every write happened on this thread, so nothing is left to
    // lose: the process ends now instead of waiting for a picture worker to finish decoding
    // or for the toolkit's goodbyes to the display and the session bus, which took over a
    // second under some window managers.
    std::fflush(nullptr);
    std::_Exit(status);
}
