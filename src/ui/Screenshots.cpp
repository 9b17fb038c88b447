#include "ui/Screenshots.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>

#include "ui/MainFrame.h"

namespace vextal {

bool SaveScreenshots(CMainFrame& frame, const QString& dir)
{
    QDir().mkpath(dir);
    struct Shot {
        int command;
        const char* name;
    } shots[] = {
        {cmd::GroupAccounts, "accounts"},      {cmd::ValuesOpen, "values-open"},
        {cmd::ValuesMoney, "values-money"},    {cmd::ValuesClosed, "values-closed"},
        {cmd::ValuesEtf, "values-etf"},        {cmd::ValuesCollective, "values-collective"},
        {cmd::DailyTrend, "curves"},
    };
    bool ok = true;
    for (const Shot& s : shots) {
        frame.RunCommand(s.command);
        for (int i = 0; i < 5; ++i) QApplication::processEvents();
        ok = frame.grab().save(QDir(dir).filePath(QString::fromUtf8(s.name) + ".png")) && ok;
    }
    return ok;
}

}  // namespace vextal
