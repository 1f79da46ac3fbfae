// Kerbilo's desktop program: start-up, the window, the event loop.

#include <QtCore/QTimer>
#include <QtWidgets/QApplication>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/file_services.h"
#include "runtime/gbk.h"
#include "runtime/program_directory.h"
#include "ui/shell/lifecycle.h"
#include "ui/shell/main_window.h"
#include "ui/shell/program.h"

namespace {

// Qt formats sizes, dates and numbers by the system locale it reads from the environment
// when it starts. The window's texts are Chinese, so its dialogs must not say "277 bytes"
// or "8 Dec 2026" in a column made for Chinese: every category Qt reads is made Chinese,
// and the encoding the user chose with LC_ALL stays as LC_CTYPE. The fonts are those
// fontconfig prefers for Chinese, so the digits are as wide as the columns expect.
void speakChineseWhateverTheLocale() {
    if (const char* all = std::getenv("LC_ALL"); all && *all) {
        ::setenv("LC_CTYPE", all, 0);
        ::unsetenv("LC_ALL");
    }
    for (const char* category :
         {"LC_NUMERIC", "LC_TIME", "LC_MONETARY", "LC_MEASUREMENT", "LC_MESSAGES", "LC_COLLATE"})
        ::setenv(category, "zh_CN.UTF-8", 1);
    ::setenv("FC_LANG", "zh-cn", 0);
}

}  // namespace

int main(int argc, char** argv) {
    speakChineseWhateverTheLocale();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kerbilo"));
    QApplication::setDesktopFileName(QStringLiteral("kerbilo"));
    kerbilo::installChineseQtTexts();

    // A file named on the command line (as a file manager's "Open with" gives it) is opened
    // as File > Open opens it; a relative name is the current folder's, taken before the
    // program makes its own folder the current one.
    std::string given = argc > 1 ? argv[1] : "";
    if (!given.empty() && given.front() != '/') {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd)) given = std::string(cwd) + "/" + given;
    }

    const kerbilo::Text programDir = kerbilo::programDirectory();
    kerbilo::enterDirectory(programDir);
    kerbilo::PosixFileServices files(programDir);
    kerbilo::Program program(files);

    kerbilo::MainWindow window(program.commands(), kerbilo::Program::renderers());
    program.attach(window);
    window.show();
    window.activateWindow();
    window.created();
    if (!given.empty())
        QTimer::singleShot(0, &window, [&window, path = kerbilo::utf8ToGbk(given)] {
            window.openDropped({path});
        });
    const int status = QApplication::exec();
    // The window is gone and every write happened on this thread, so nothing is left to
    // lose: the process ends now instead of waiting for a picture worker to finish decoding
    // or for the toolkit's goodbyes to the display and the session bus, which took over a
    // second under some window managers.
    std::fflush(nullptr);
    std::_Exit(status);
}
