// Measures opening a 256 MiB file with 100,000 resources in the window against
// kerbilo-cli list on the same file: the tree must be complete within twice the CLI's
// time, and a 10 ms timer must keep firing throughout. Prints the figures; exit code 1
// when a target is missed.  Usage: kerbilo_window_perf PATH/TO/kerbilo-cli [SCRATCH_DIR]

#include <QtCore/QElapsedTimer>
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "runtime/file_services.h"
#include "runtime/gbk.h"
#include "ui/shell/main_window.h"
#include "ui/shell/program.h"

namespace {

constexpr std::size_t kSize = std::size_t{256} << 20;
constexpr int kResources = 100000;

// Filler that starts no default kind (PNG 0x89, JPG 0xFF, GIF 'G'), so exactly the
// planted resources are found.
void makeFile(const std::string& path) {
    const std::string head("\x89PNG\r\n\x1a\n\0\0\0\x0d", 12);
    const std::string tail("\0\0\0\0IEND\xae\x42\x60\x82", 12);
    std::string data(kSize, '\0');
    std::mt19937 rng(7);
    for (char& c : data) {
        unsigned char b = static_cast<unsigned char>(rng());
        if (b == 0x89 || b == 0xFF || b == 'G') b = 0x20;
        c = static_cast<char>(b);
    }
    const std::size_t step = kSize / kResources;
    for (int i = 0; i < kResources; ++i) {
        const std::size_t at = static_cast<std::size_t>(i) * step;
        data.replace(at, head.size(), head);
        data.replace(at + 100, tail.size(), tail);
    }
    std::ofstream(path, std::ios::binary)
        .write(data.data(), static_cast<std::streamsize>(data.size()));
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s KERBILO_CLI [SCRATCH_DIR]\n", argv[0]);
        return 2;
    }
    ::unsetenv("QT_QPA_PLATFORMTHEME");
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const std::string dir = argc > 2 ? argv[2] : "/tmp";
    const std::string file = dir + "/kerbilo_perf_256m.bin";
    makeFile(file);

    auto start = std::chrono::steady_clock::now();
    const std::string cli = std::string(argv[1]) + " list '" + file + "' > /dev/null";
    if (std::system(cli.c_str()) != 0) {
        std::fprintf(stderr, "kerbilo-cli list failed\n");
        return 1;
    }
    const double cliSeconds = seconds(start);

    kerbilo::PosixFileServices files(kerbilo::utf8ToGbk(dir));
    kerbilo::Program program(files);
    kerbilo::MainWindow window(program.commands(), kerbilo::Program::renderers());
    program.attach(window);
    window.show();
    window.created();

    int ticks = 0;
    double longestGap = 0;
    QElapsedTimer sinceTick;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (ticks++ > 0) longestGap = std::max(longestGap, sinceTick.nsecsElapsed() / 1e9);
        sinceTick.start();
    });
    timer.start();
    start = std::chrono::steady_clock::now();
    window.openDropped(kerbilo::utf8ToGbk(file));
    const double windowSeconds = seconds(start);
    const int items = window.ui().treeItemCount();
    std::remove(file.c_str());

    const bool complete = items == kResources + 1;
    const bool fast = windowSeconds <= 2 * cliSeconds;
    const bool responsive = ticks > 0 && longestGap < 0.25;
    std::printf("kerbilo-cli list:       %.2f s\n", cliSeconds);
    std::printf("window open and list:   %.2f s (%.2fx the CLI, target <= 2x) %s\n", windowSeconds,
                windowSeconds / cliSeconds, fast ? "ok" : "MISSED");
    std::printf("tree items:             %d (want %d) %s\n", items, kResources + 1,
                complete ? "ok" : "MISSED");
    std::printf("10 ms timer during it:  %d ticks, longest gap %.0f ms %s\n", ticks,
                longestGap * 1000, responsive ? "ok" : "MISSED");
    return complete && fast && responsive ? 0 : 1;
}
