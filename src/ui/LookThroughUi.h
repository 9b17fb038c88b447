#pragma once
// The look-through part of the window: pages 117 to 119 in the home view,
// their commands, the overlap warning line on the holdings page, and their
// pictures in screenshot mode. The pages follow the account panel's choice
// (its root: every account) and are computed again when the books change.
#include <QLabel>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>

#include "ui/LookThroughViews.h"

namespace vextal {

class CMainFrame;
class CMarketData;
class CVextalDoc;

class CLookThroughUi : public QObject {
    Q_OBJECT

public:
    CLookThroughUi(CMainFrame& frame, CVextalDoc& doc, CMarketData& market, CTaskRunner& runner, IUserPrompt& prompt,
                   std::string iniPath);
    static CLookThroughUi* Of(const CMainFrame& frame);

    CExposureView* Exposure() const { return m_exposure; }
    COverlapView* Overlap() const { return m_overlap; }
    CAccountIndexView* IndexCompare() const { return m_index; }
    // The line above the holdings list; hidden while no pair is above the threshold.
    QLabel* Warning() const { return m_warning; }
    bool IsWarningLoading() const { return m_warningPending != nullptr; }
    // The warning line again for the account the holdings page shows.
    void UpdateWarning();

    void SaveScreenshots(const QString& dir, std::function<void(bool ok)> done);

signals:
    void warningUpdated();

private:
    int PanelAccount() const;
    // The page shown, if it is one of these, for the panel's account.
    void RefreshShown();
    void OnBooksChanged();
    void AddOverlappingExample(std::function<void()> then);
    void TakeScreenshots(const QString& dir, std::function<void(bool ok)> done);

    CMainFrame& m_frame;
    BookContext m_ctx;
    CFundHoldingsSource m_holdings;
    QPointer<CExposureView> m_exposure;
    QPointer<COverlapView> m_overlap;
    QPointer<CAccountIndexView> m_index;
    QPointer<QLabel> m_warning;
    CTaskRunner::CancelFlag m_warningPending;
    int m_warningSerial = 0;
};

void InstallLookThrough(CMainFrame& frame, CVextalDoc& doc, CMarketData& market, CTaskRunner& runner,
                        IUserPrompt& prompt, const std::string& iniPath);
// Screenshot mode: look-through, fund-overlap and account-vs-index of the
// first account (the example books).
void SaveLookThroughScreenshots(CMainFrame& frame, const QString& dir, std::function<void(bool ok)> done);

}  // namespace vextal
