// Bjøntegaard deltas between two rate–quality curves (VCEG-M33): how much
// more rate, in per cent, the test curve spends than the reference for the
// same PSNR, averaged over the PSNR range both curves cover (the BD-rate);
// and the mirror figure, the PSNR difference at the same rate (BD-PSNR).
//
// Each curve is log10(rate) as a function of PSNR, either one cubic fitted
// by least squares through all its points (the original method, which with
// exactly four points passes through them) or piecewise-cubic Hermite
// interpolation with Fritsch–Carlson slopes (the later VCEG practice, which
// never overshoots between points). A cubic is integrated exactly by
// Simpson's rule.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

namespace bjontegaard {

struct Point {
    double rate = 0; // any unit, the same for both curves
    double psnr = 0; // dB
};

enum class Fit { Cubic, PiecewiseCubic };

namespace detail {

// y as a function of x, through points sorted by x with distinct x.
class Curve {
public:
    Curve(std::vector<std::pair<double, double>> xy, Fit fit) : xy_(std::move(xy)), fit_(fit) {
        if (fit_ == Fit::Cubic) FitCubic();
        else Slopes();
    }

    double Low() const { return xy_.front().first; }
    double High() const { return xy_.back().first; }

    double operator()(double x) const {
        if (fit_ == Fit::Cubic) {
            const double t = x - centre_;
            return c_[0] + t * (c_[1] + t * (c_[2] + t * c_[3]));
        }
        std::size_t k = 0;
        while (k + 2 < xy_.size() && x > xy_[k + 1].first) ++k;
        const auto [x0, y0] = xy_[k];
        const auto [x1, y1] = xy_[k + 1];
        const double h = x1 - x0, s = (x - x0) / h;
        const double h00 = (1 + 2 * s) * (1 - s) * (1 - s), h10 = s * (1 - s) * (1 - s);
        const double h01 = s * s * (3 - 2 * s), h11 = s * s * (s - 1);
        return h00 * y0 + h10 * h * d_[k] + h01 * y1 + h11 * h * d_[k + 1];
    }

    // The integral from a to b: Simpson's rule, exact on each cubic piece.
    double Integral(double a, double b) const {
        std::vector<double> cuts{a};
        if (fit_ == Fit::PiecewiseCubic)
            for (const auto& [x, y] : xy_)
                if (x > a && x < b) cuts.push_back(x);
        cuts.push_back(b);
        double sum = 0;
        for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
            const double l = cuts[i], r = cuts[i + 1];
            sum += (r - l) / 6 * ((*this)(l) + 4 * (*this)((l + r) / 2) + (*this)(r));
        }
        return sum;
    }

private:
    // Least squares by the normal equations, x taken about its mean so that
    // powers of PSNRs near 40 dB do not swamp the solution.
    void FitCubic() {
        centre_ = 0;
        for (const auto& [x, y] : xy_) centre_ += x / static_cast<double>(xy_.size());
        std::array<std::array<double, 5>, 4> m{};
        for (const auto& [x, y] : xy_) {
            double p[4] = {1, x - centre_, 0, 0};
            p[2] = p[1] * p[1];
            p[3] = p[2] * p[1];
            for (int r = 0; r < 4; ++r) {
                for (int c = 0; c < 4; ++c) m[r][c] += p[r] * p[c];
                m[r][4] += p[r] * y;
            }
        }
        for (int col = 0; col < 4; ++col) { // Gauss–Jordan with partial pivoting
            int pivot = col;
            for (int r = col + 1; r < 4; ++r)
                if (std::abs(m[r][col]) > std::abs(m[pivot][col])) pivot = r;
            std::swap(m[col], m[pivot]);
            for (int r = 0; r < 4; ++r) {
                if (r == col || m[col][col] == 0) continue;
                const double f = m[r][col] / m[col][col];
                for (int c = col; c < 5; ++c) m[r][c] -= f * m[col][c];
            }
        }
        for (int r = 0; r < 4; ++r) c_[r] = m[r][r] == 0 ? 0 : m[r][4] / m[r][r];
    }

    // Fritsch–Carlson: a weighted harmonic mean of the neighbouring secants
    // inside, zero at a turn; shape-preserving three-point ends.
    void Slopes() {
        const std::size_t n = xy_.size();
        std::vector<double> h(n - 1), delta(n - 1);
        for (std::size_t k = 0; k + 1 < n; ++k) {
            h[k] = xy_[k + 1].first - xy_[k].first;
            delta[k] = (xy_[k + 1].second - xy_[k].second) / h[k];
        }
        d_.assign(n, 0);
        if (n == 2) {
            d_[0] = d_[1] = delta[0];
            return;
        }
        for (std::size_t k = 1; k + 1 < n; ++k) {
            if (delta[k - 1] * delta[k] <= 0) continue;
            const double w1 = 2 * h[k] + h[k - 1], w2 = h[k] + 2 * h[k - 1];
            d_[k] = (w1 + w2) / (w1 / delta[k - 1] + w2 / delta[k]);
        }
        const auto end = [](double h0, double h1, double d0, double d1) {
            double d = ((2 * h0 + h1) * d0 - h0 * d1) / (h0 + h1);
            if (d * d0 <= 0) d = 0;
            else if (d0 * d1 <= 0 && std::abs(d) > std::abs(3 * d0)) d = 3 * d0;
            return d;
        };
        d_[0] = end(h[0], h[1], delta[0], delta[1]);
        d_[n - 1] = end(h[n - 2], h[n - 3], delta[n - 2], delta[n - 3]);
    }

    std::vector<std::pair<double, double>> xy_;
    Fit fit_;
    double centre_ = 0;
    std::array<double, 4> c_{};
    std::vector<double> d_;
};

// Points as (x, y) sorted by x; points of equal x averaged into one.
inline std::vector<std::pair<double, double>> Sorted(std::vector<std::pair<double, double>> xy) {
    std::sort(xy.begin(), xy.end());
    std::vector<std::pair<double, double>> out;
    std::vector<int> count;
    for (const auto& p : xy) {
        if (!out.empty() && out.back().first == p.first) {
            out.back().second += p.second;
            ++count.back();
        } else {
            out.push_back(p);
            count.push_back(1);
        }
    }
    for (std::size_t i = 0; i < out.size(); ++i) out[i].second /= count[i];
    return out;
}

// The mean difference test − reference of y over the x range both cover;
// nothing when a curve has too few points or the ranges do not overlap.
inline std::optional<double> MeanDifference(std::vector<std::pair<double, double>> reference,
                                            std::vector<std::pair<double, double>> test, Fit fit) {
    reference = Sorted(std::move(reference));
    test = Sorted(std::move(test));
    const std::size_t least = fit == Fit::Cubic ? 4 : 2;
    if (reference.size() < least || test.size() < least) return std::nullopt;
    const Curve a(std::move(reference), fit), b(std::move(test), fit);
    const double low = std::max(a.Low(), b.Low()), high = std::min(a.High(), b.High());
    if (!(high > low)) return std::nullopt;
    return (b.Integral(low, high) - a.Integral(low, high)) / (high - low);
}

} // namespace detail

// Per cent more rate the test curve needs for equal PSNR (negative: less).
inline std::optional<double> DeltaRate(const std::vector<Point>& reference, const std::vector<Point>& test, Fit fit) {
    const auto curve = [](const std::vector<Point>& points) {
        std::vector<std::pair<double, double>> xy;
        for (const Point& p : points) xy.emplace_back(p.psnr, std::log10(p.rate));
        return xy;
    };
    const auto d = detail::MeanDifference(curve(reference), curve(test), fit);
    if (!d) return std::nullopt;
    return (std::pow(10.0, *d) - 1) * 100;
}

// dB the test curve gains at equal rate (negative: loses).
inline std::optional<double> DeltaPsnr(const std::vector<Point>& reference, const std::vector<Point>& test, Fit fit) {
    const auto curve = [](const std::vector<Point>& points) {
        std::vector<std::pair<double, double>> xy;
        for (const Point& p : points) xy.emplace_back(std::log10(p.rate), p.psnr);
        return xy;
    };
    return detail::MeanDifference(curve(reference), curve(test), fit);
}

} // namespace bjontegaard
