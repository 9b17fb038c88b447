#pragma once
// The numbered strings of the program, keyed by their resource numbers.
#include <string>

namespace vextal {

// The text of string `id`, or the empty text when the table has none.
const std::string& LoadResString(int id);
bool HasResString(int id);

namespace str {
constexpr int AppTitle = 57344;
constexpr int OnlyTwelveFunds = 59147;
constexpr int SelectFundFirst = 59151;
constexpr int ConfirmServerDownload = 59152;
constexpr int OfflineUnavailable = 59153;
constexpr int OfflineNotYet = 59154;
constexpr int ConfirmLocalFetch = 59155;
constexpr int ConfirmIncrementalDownload = 59156;
constexpr int VipOnly = 59163;
constexpr int FundCountLimit = 59164;
constexpr int NoLocalDatabase = 59173;
constexpr int VipTimeWindow = 59174;
constexpr int AccountColumns = 59175;
constexpr int HoldingColumns = 59176;
constexpr int NewValueColumns = 59177;
}  // namespace str

}  // namespace vextal
