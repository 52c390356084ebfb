// bench-window-scan: the window's time from Open (Browse with a chosen store) to the end of the
// scan, on the offscreen platform; bench/run sets it beside `edb2eml STORE` on the same store.
//
//   bench-window-scan STORE [--runs N]     prints one line per run: "window-scan SECONDS"
#include "app/main_dialog.h"
#include "tests/platform/fake_platform.h"
#include "catalog/catalog.h"

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::string store;
    int runs = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (store.empty() && !arg.empty() && arg[0] != '-') {
            store = arg;
        } else {
            std::fprintf(stderr, "usage: bench-window-scan STORE [--runs N]\n");
            return 2;
        }
    }
    if (store.empty() || runs < 1) {
        std::fprintf(stderr, "usage: bench-window-scan STORE [--runs N]\n");
        return 2;
    }
    for (int r = 0; r < runs; ++r) {
        edb::FakePlatform fake;
        edb::ScopedPlatform use(fake);
        auto catalog = std::make_unique<edb::StoreCatalog>();
        auto dialog = std::make_unique<edbapp::MainDialog>(*catalog);
        dialog->show();
        QApplication::processEvents();
        fake.openFileAnswers.push_back(QString::fromStdString(store));

        // The end is seen by a check every millisecond on the window thread, as a user would
        // see the progress bar go.
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (!dialog->scanRunning()) {
                loop.quit();
            }
        });
        const auto started = std::chrono::steady_clock::now();
        dialog->browseButton()->click();
        poll.start(1);
        loop.exec();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
        const auto outcome = dialog->lastScanResult().outcome;
        std::printf("window-scan %.3f%s\n", took.count(),
                    outcome == edb::ScanOutcome::Complete ? "" : " (scan not complete)");
        std::fflush(stdout);
        // Leave the workers to finish before the dialog goes.
        while (dialog->workersRunning() != 0) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        dialog.reset();
        catalog.reset(); // closes the store, which the next run opens exclusively
    }
    return 0;
}
