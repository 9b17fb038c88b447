#include "ui/Screenshots.h"

#include <QDir>
#include <QPixmap>
#include <memory>

#include "ui/BookkeepingUi.h"
#include "ui/ExportOptionsPages.h"
#include "ui/BookDialogsInstall.h"
#include "ui/FundForecastView.h"
#include "ui/FundCurveView.h"
#include "ui/LookThroughUi.h"
#include "ui/MainFrame.h"
#include "ui/MessagePrompt.h"
#include "ui/TaskRunner.h"
#include "ui/WebViews.h"

namespace vextal {

namespace {

struct Shot {
    int command;
    const char* name;
};
// The curve pages have their own pictures (curve-*.png), taken once their
// series are loaded.
const Shot kShots[] = {
    {cmd::GroupAccounts, "accounts"},      {cmd::ValuesOpen, "values-open"},
    {cmd::ValuesMoney, "values-money"},    {cmd::ValuesClosed, "values-closed"},
    {cmd::ValuesEtf, "values-etf"},        {cmd::ValuesCollective, "values-collective"},
    {cmd::History, "history"},
};

struct ShotRun {
    CMainFrame& frame;
    CTaskRunner& runner;
    QString dir;
    std::function<void(bool)> done;
    size_t next = 0;
    bool ok = true;
};

void TakeNext(const std::shared_ptr<ShotRun>& run)
{
    if (run->next == std::size(kShots)) {
        // The bookkeeping pictures book example accounts; the other dialogs use them.
        SaveBookkeepingScreenshots(run->frame, run->dir, [run](bool ok) {
            run->ok = SaveBookDialogShots(run->dir) && ok && run->ok;
            SaveForecastScreenshot(run->frame, run->dir, [run](bool ok) {
                run->ok = run->ok && ok;
                SaveCurveScreenshots(run->frame, run->dir, [run](bool ok) {
                    run->ok = run->ok && ok;
                    SaveLookThroughScreenshots(run->frame, run->dir, [run](bool ok) { run->done(run->ok && ok); });
                });
            });
        });
        return;
    }
    const Shot& s = kShots[run->next++];
    run->frame.RunCommand(s.command);
    // The picture once the page's download has been stored and the page laid out.
    run->runner.WhenIdle([run, name = s.name] {
        run->ok = run->frame.grab().save(QDir(run->dir).filePath(QString::fromUtf8(name) + ".png")) && run->ok;
        TakeNext(run);
    });
}

}  // namespace

void SaveScreenshots(CMainFrame& frame, CTaskRunner& runner, const QString& dir, std::function<void(bool ok)> done)
{
    QDir().mkpath(dir);
    SaveExportOptionsScreenshots(frame, dir);
    SaveMessageBoxShots(dir, &frame);
    done = WithWebScreenshots(frame, dir, std::move(done));
    TakeNext(std::make_shared<ShotRun>(ShotRun{frame, runner, dir, std::move(done)}));
}

}  // namespace vextal
