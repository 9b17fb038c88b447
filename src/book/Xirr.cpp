#include "book/Xirr.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace vextal {

namespace {

struct YearFlow {
    double years;
    double amount;
};

// The present value at x = ln(1 + r): sum of a * exp(-x * t). Solving in x
// keeps every r above -100 % and makes the function smooth and defined for
// any x, so bracketing never steps out of the domain.
double PresentValue(const std::vector<YearFlow>& flows, double x)
{
    double sum = 0;
    for (const YearFlow& f : flows) sum += f.amount * std::exp(-x * f.years);
    return sum;
}

// Brent's method on [a, b] where fa and fb differ in sign.
double Brent(const std::vector<YearFlow>& flows, double a, double b, double fa, double fb)
{
    if (std::fabs(fa) < std::fabs(fb)) {
        std::swap(a, b);
        std::swap(fa, fb);
    }
    double c = a, fc = fa, d = b - a;
    bool bisected = true;
    for (int i = 0; i < 200 && fb != 0 && std::fabs(b - a) > 1e-13; ++i) {
        double s;
        if (fa != fc && fb != fc)  // inverse quadratic interpolation
            s = a * fb * fc / ((fa - fb) * (fa - fc)) + b * fa * fc / ((fb - fa) * (fb - fc)) +
                c * fa * fb / ((fc - fa) * (fc - fb));
        else  // secant
            s = b - fb * (b - a) / (fb - fa);
        const double m = (3 * a + b) / 4;
        const bool outside = !((s > std::min(m, b) && s < std::max(m, b)));
        if (outside || (bisected && std::fabs(s - b) >= std::fabs(b - c) / 2) ||
            (!bisected && std::fabs(s - b) >= std::fabs(c - d) / 2)) {
            s = (a + b) / 2;
            bisected = true;
        } else {
            bisected = false;
        }
        const double fs = PresentValue(flows, s);
        d = c;
        c = b;
        fc = fb;
        if ((fa < 0) != (fs < 0)) {
            b = s;
            fb = fs;
        } else {
            a = s;
            fa = fs;
        }
        if (std::fabs(fa) < std::fabs(fb)) {
            std::swap(a, b);
            std::swap(fa, fb);
        }
    }
    return b;
}

}  // namespace

std::optional<double> Xirr(std::vector<CashFlow> flows)
{
    // Flows of one day are one flow; days count from the first.
    std::vector<std::pair<long, double>> days;
    days.reserve(flows.size());
    for (const CashFlow& f : flows)
        if (std::isfinite(f.Amount) && f.Amount != 0) days.emplace_back(static_cast<long>(std::floor(f.Date.dt)), f.Amount);
    std::sort(days.begin(), days.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<YearFlow> years;
    for (const auto& [day, amount] : days) {
        const double t = (day - (days.empty() ? 0 : days.front().first)) / 365.0;
        if (!years.empty() && years.back().years == t)
            years.back().amount += amount;
        else
            years.push_back({t, amount});
    }
    bool paid = false, received = false;
    for (const YearFlow& f : years) {
        if (f.amount < 0) paid = true;
        if (f.amount > 0) received = true;
    }
    if (!paid || !received) return std::nullopt;

    // Bracket outward from x = 0 (r = 0 %), in steps that double, on both
    // sides alternately, so the root nearest to 0 % is found first.
    constexpr double kLimit = 10.0;  // |ln(1 + r)| <= 10
    const double f0 = PresentValue(years, 0);
    if (f0 == 0) return 0.0;
    // The first step a little beyond Newton's from 0, so a plain
    // investment brackets its root at once.
    double slope = 0;
    for (const YearFlow& f : years) slope -= f.amount * f.years;
    double first = slope != 0 ? std::fabs(f0 / slope) * 1.25 : 0.01;
    first = std::clamp(std::isfinite(first) ? first : 0.01, 1e-6, 1.0);
    double upX = 0, upF = f0, downX = 0, downF = f0;
    for (double step = first; step <= 4 * kLimit; step *= 2) {
        const double nextUp = std::min(upX + step, kLimit);
        const double fUp = PresentValue(years, nextUp);
        if (std::isfinite(fUp) && (fUp == 0 || (fUp < 0) != (upF < 0))) {
            const double x = fUp == 0 ? nextUp : Brent(years, upX, nextUp, upF, fUp);
            return std::expm1(x);
        }
        const double nextDown = std::max(downX - step, -kLimit);
        const double fDown = PresentValue(years, nextDown);
        if (std::isfinite(fDown) && (fDown == 0 || (fDown < 0) != (downF < 0))) {
            const double x = fDown == 0 ? nextDown : Brent(years, nextDown, downX, fDown, downF);
            return std::expm1(x);
        }
        if (std::isfinite(fUp)) upX = nextUp, upF = fUp;
        if (std::isfinite(fDown)) downX = nextDown, downF = fDown;
        if (upX >= kLimit && downX <= -kLimit) break;
    }
    return std::nullopt;
}

}  // namespace vextal
