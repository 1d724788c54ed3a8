#pragma once
// A small least-squares fit for the validation of the physics.

#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

namespace kwd::test {

// The p that minimises sum_r (y_r - sum_k p_k rows_r,k)^2, by the normal
// equations (Gauss-Jordan with partial pivoting): for a handful of
// well-conditioned terms.
inline std::vector<double> leastSquares(const std::vector<std::vector<double>>& rows,
                                        const std::vector<double>& y) {
    const size_t n = rows[0].size();
    std::vector<std::vector<double>> a(n, std::vector<double>(n + 1, 0.0));
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t i = 0; i < n; ++i) {
            for (size_t j = 0; j < n; ++j) a[i][j] += rows[r][i] * rows[r][j];
            a[i][n] += rows[r][i] * y[r];
        }
    for (size_t c = 0; c < n; ++c) {
        size_t pivot = c;
        for (size_t r = c + 1; r < n; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
        std::swap(a[c], a[pivot]);
        for (size_t r = 0; r < n; ++r) {
            if (r == c) continue;
            const double f = a[r][c] / a[c][c];
            for (size_t j = c; j <= n; ++j) a[r][j] -= f * a[c][j];
        }
    }
    std::vector<double> p(n);
    for (size_t i = 0; i < n; ++i) p[i] = a[i][n] / a[i][i];
    return p;
}

}  // namespace kwd::test
