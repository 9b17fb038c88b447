#pragma once
// The application object: runs the start-up order (document, database,
// main window, login, post-login initialisation), builds the pages over the
// document's data, and shuts down in order.
#include <QObject>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "ui/MessagePrompt.h"

class QSocketNotifier;

namespace vextal {

class CStartupSequence;
class CMarketData;
class CMainFrame;
class CFundValueNewView;
class CFundForecastView;
class CVextalDoc;
class CTaskRunner;
class CBookkeepingUi;

struct AppOptions {
    std::vector<std::string> args;  // without the program path
    QString screenshotDir;          // non-empty: picture every page and exit
    std::string user;               // with autoLogin (and screenshots): logs in with these
    std::string password;
    bool offline = false;
    bool autoLogin = false;         // no login dialog (benchmarks, screenshots)
};

// Qt's own texts (standard buttons, the file dialog) in Chinese, as the
// rest of the program, whatever the desktop's language. False when Qt's
// translation is not installed (the texts then stay English).
bool LoadQtChineseTexts();

class CVextalApp {
public:
    explicit CVextalApp(AppOptions options);
    ~CVextalApp();
    // The program's exit code: 0 after a normal run, 1 when start-up ended it.
    int Run();
    // Start-up up to the logged-in main window, without the event loop. The
    // post-login initialisation then goes on in the task runner; the panels
    // fill when it ends (Runner()->WhenIdle).
    bool Start();
    void Shutdown();
    // The end of the desktop session (the session manager's request, or
    // SIGTERM / SIGHUP) closes the window like any other way out.
    void WatchSessionEnd();

    CMainFrame* Frame() const { return m_frame.get(); }
    CFundValueNewView* ValuesView() const { return m_values; }
    CFundValueNewView* MoneyView() const { return m_money; }
    CBookkeepingUi* Bookkeeping() const { return m_book; }
    CTaskRunner* Runner() const { return m_runner.get(); }
    CMarketData* Market() const { return m_market.get(); }
    CVextalDoc* Document() const { return m_doc; }

private:
    bool RunLoginDialog(CVextalDoc& doc);
    void ShowMainFrame(CVextalDoc& doc);
    void RefillPanels(CVextalDoc& doc);
    // The end after the frame closed, once no dialog's event loop runs.
    void EndOnceUnwound();

    // Receives the frame's queued close; gone with the application object,
    // so a close still queued then is dropped with it.
    QObject m_receiver;
    AppOptions m_options;
    CMessagePrompt m_prompt;
    std::unique_ptr<CTaskRunner> m_runner;
    std::unique_ptr<CStartupSequence> m_sequence;
    std::unique_ptr<CMarketData> m_market;
    std::unique_ptr<CMainFrame> m_frame;
    CFundValueNewView* m_values = nullptr;
    CFundValueNewView* m_money = nullptr;
    CBookkeepingUi* m_book = nullptr;  // owned by the frame
    CFundForecastView* m_forecast = nullptr;  // owned by the frame
    CVextalDoc* m_doc = nullptr;
    std::unique_ptr<QSocketNotifier> m_sessionEnd;
};

}  // namespace vextal
