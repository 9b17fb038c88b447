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

std::span<const CommandSpec> CommandCatalogue() { return kCatalogue; }

const CommandSpec* FindCommand(int cmdtype, int cmdid)
{
    for (const CommandSpec& spec : kCatalogue)
        if (spec.cmdtype == cmdtype && spec.cmdid == cmdid) return &spec;
    return nullptr;
}

}  // namespace vextal
