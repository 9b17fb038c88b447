// From program start to the logged-in main window with a large catalogue
// already stored locally, and from there to the open-end latest-value page
// with about 10,000 rows, against the real plindo-serve.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <fstream>
#include <functional>

#include "BenchUtil.h"
#include "BenchService.h"
#include "common/Clock.h"
#include "net/HttpTransport.h"
#include "ui/CommandTable.h"
#include "ui/FundValueNewView.h"
#include "ui/MainFrame.h"
#include "ui/TaskRunner.h"
#include "ui/VextalApp.h"

using namespace vextal;

namespace {
double Ms(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// Runs the event loop until the program's background work has ended.
void WaitIdle(CVextalApp& app)
{
    QEventLoop loop;
    app.Runner()->WhenIdle([&loop] { loop.quit(); });
    loop.exec();
}
}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("VEXTAL_NO_WEBENGINE", "1");
    QApplication qapp(argc, argv);
    // The largest market the service makes; its open-end class is some 9,000 funds.
    bench::Service service("ui_startup", {"--funds", "20000", "--now", "2026-12-04 21:00:00", "--quiet"});
    Clock::Fix(OleDate::FromParts(2026, 12, 4, 21, 0, 0));
    bench::ScratchDir home;
    {
        std::ofstream ini(home.File("Vextal.ini"));
        ini << "[Login]\nServerURL=" << service.Base() << "\nDataServerURL=" << service.Base() << "\n";
    }
    AppOptions options;
    options.args = {"--home", home.File("")};
    options.user = "demo";
    options.password = "demo123";
    options.autoLogin = true;

    // First start: catalogue and latest values come from the service (not timed).
    {
        CVextalApp first(options);
        if (!first.Start()) return 1;
        // The longest wait of the GUI thread (a 10 ms timer's largest delay
        // between runs) while the catalogue of 20,000 funds arrives after
        // login, and then the whole open-end class.
        QElapsedTimer clock;
        qint64 last = 0, worst = 0;
        QTimer timer;
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            worst = std::max(worst, clock.elapsed() - last);
            last = clock.elapsed();
        });
        auto measure = [&](const char* name, const std::function<void()>& start) {
            clock.start();
            last = worst = 0;
            timer.start();
            start();
            WaitIdle(first);
            worst = std::max(worst, clock.elapsed() - last);
            timer.stop();
            bench::ReportTarget(name, static_cast<double>(worst), "ms", 100);
        };
        measure("first_login_catalogue_longest_gui_gap", [] {});
        measure("open_end_class_download_longest_gui_gap", [&] { first.Frame()->RunCommand(cmd::ValuesOpen); });
        first.Shutdown();
    }

    auto t0 = std::chrono::steady_clock::now();
    CVextalApp app(options);
    if (!app.Start()) return 1;
    WaitIdle(app);
    auto t1 = std::chrono::steady_clock::now();
    app.Frame()->RunCommand(cmd::ValuesOpen);
    WaitIdle(app);
    auto t2 = std::chrono::steady_clock::now();
    const int rows = app.ValuesView()->RowCount();
    bench::ReportTarget("start_to_logged_in_main_window", Ms(t0, t1), "ms", 1500);
    bench::ReportTarget("open_end_values_page", Ms(t1, t2), "ms", 500);
    std::printf("open_end_values_page rows: %d\n", rows);
    app.Shutdown();
    return 0;
}
