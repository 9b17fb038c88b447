#include "wire/PeriodRecords.h"

#include "common/Format.h"

namespace vextal {

void WritePeriodRecord(std::vector<std::string>& out, int kind, const PeriodRecord& r)
{
    out.push_back(r.Date.Format(kind == kPeriodEstimate ? 0 : 3));
    out.push_back(FormatFixed(r.Value, 4));
    out.push_back("0");
    out.push_back(FormatFixed(r.Companion, 2));
    out.push_back("0");
}

bool ReadPeriodRecords(const std::vector<std::string>& f, int kind, int statistic, const std::string& fundId,
                       std::vector<CFundValue>& out)
{
    out.clear();
    if (f.size() % 5) return false;
    const bool turningPoints = kind == kPeriodRange || kind == kPeriodBand;
    for (size_t i = 0; i < f.size(); i += 5) {
        CFundValue v;
        v.FundID = fundId;
        double zero1 = 0, zero2 = 0;
        if (!ReadWireDate(f[i], v.ValueDate) || !ReadWireFloat(f[i + 1], v.TodayValue) ||
            !ReadWireFloat(f[i + 2], zero1) || !ReadWireFloat(f[i + 3], v.VarPercent) ||
            !ReadWireFloat(f[i + 4], zero2))
            return out.clear(), false;
        if (turningPoints) {
            switch (statistic) {
            case 1: v.TotalValue = v.TodayValue; break;
            case 2: v.VarValue = v.TodayValue; break;
            case 3: v.VarPercent = v.TodayValue; break;
            default: break;
            }
        }
        out.push_back(std::move(v));
    }
    return true;
}

}  // namespace vextal
