// Kerbilo's desktop program: start-up, the window, the event loop.

#include <QtWidgets/QApplication>

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
    app.exec();
    return 0;
}
