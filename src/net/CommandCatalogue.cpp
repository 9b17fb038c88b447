#include "net/CommandCatalogue.h"

#include <array>

namespace vextal {

namespace {

using namespace command;

constexpr std::array kCatalogue = {
    CompanyList,     FundList,      GroupList,       IndexHistory,  ClassValues[0], ClassValues[1],
    ClassValues[2],  ClassValues[3], SelectedValues, FundHistory,   PeriodRecords,  DividendQuery,
    TradeValue,      LatestValue,   IntervalFigures, RealtimeValue, ValueCache,     Login,
    Logout,          Register,      UserUpdate,      BookDownload,  PlanList,       BookUploadReplace,
    BookUploadNew,   TradeCancel,   PlanSave,
};

}  // namespace

std::span<const CommandEntry> CommandCatalogue() { return kCatalogue; }

const CommandEntry* FindCommand(int cmdtype, int cmdid)
{
    for (const CommandEntry& entry : kCatalogue)
        if (entry.cmdtype == cmdtype && entry.cmdid == cmdid) return &entry;
    return nullptr;
}

}  // namespace vextal
