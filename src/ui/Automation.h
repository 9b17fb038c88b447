#pragma once
// A line channel that lets a test drive the running program as a user would:
// the same commands (CMainFrame::RunCommand), the same dialog fields and
// buttons. Off unless the program is started with `--automation PATH`; the
// socket is created readable and writable by its owner only, and a peer of
// another user is refused.
//
// One request a line, one answer a line ("ok ..." or "error ..."); answers
// with rows send "ok N" and then N lines. Requests:
//   ping                      ok
//   command ID                runs the command (after the answer: it may open a dialog)
//   dialog                    ok TITLE<TAB>TEXT of the front dialog, or "ok -" when none
//   set KEY VALUE             a field of the front dialog (or else of the page shown): KEY is
//                             its objectName, its form label (without the colon) or, for a
//                             check box, its text; VALUE is the rest of the line
//   get KEY                   ok VALUE of that field, as `set` finds it
//   click TEXT                clicks the button of that text of the front dialog (or else of
//                             the page shown), after the answer
//   accept                    clicks the front dialog's default button (after the answer)
//   busy                      ok 1 while background work runs or is queued, else ok 0
//   page                      ok ID of the page shown
//   rows [N]                  the rows of the page's N-th list (0: the top one), cells tab-separated
//   pick N ROW                makes ROW the current row of the page's N-th list (a click)
//   tree                      the account panel: ACCOUNT<TAB>FUND<TAB>TEXT per item
//   select ACCOUNT [FUND]     chooses an account, or a holding, in the account panel
//   status                    ok TEXT of the status bar
//   shot FILE                 saves a picture of the front window
//   quit                      closes the main window (the normal shutdown)
#include <QByteArray>
#include <QObject>
#include <QString>
#include <map>

class QSocketNotifier;

namespace vextal {

class CVextalApp;

class CAutomation : public QObject {
public:
    CAutomation(CVextalApp& app, QObject* parent = nullptr);
    ~CAutomation() override;
    // Listens on `path` (an old socket there is replaced, any other file is
    // left alone and refused); false with a reason on failure.
    bool Listen(const QString& path, QString* error);

private:
    struct Peer {
        QSocketNotifier* notifier;
        QByteArray pending;  // bytes of a line not yet complete
    };
    void Accept();
    void Read(int fd);
    void Drop(int fd);
    QString Answer(const QString& line);

    CVextalApp& m_app;
    int m_listen = -1;
    QString m_path;
    QSocketNotifier* m_accept = nullptr;
    std::map<int, Peer> m_peers;
};

}  // namespace vextal
