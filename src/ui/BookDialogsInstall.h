#pragma once
// Wires the bookkeeping dialogs of this folder to their commands, and
// pictures them for the screenshot mode.
#include <QString>

namespace vextal {

class CMainFrame;
class CMarketData;
class CTaskRunner;
class CVextalDoc;
class IUserPrompt;
struct BookDialogContext;
struct HoldingKey;
struct HistoryDialogContext;

void InstallBookDialogs(CMainFrame& frame, CVextalDoc& doc, CMarketData& market, CTaskRunner& runner,
                        IUserPrompt& prompt);
// 基金分红设置 on `key` (an empty fund: the panel's choice), over the dialog
// that asks for it.
void OpenDividendModeFor(CMainFrame& frame, const HoldingKey& key);
// Every dialog filled with example values, one PNG each (after InstallBookDialogs).
bool SaveBookDialogShots(const QString& dir);

}  // namespace vextal
