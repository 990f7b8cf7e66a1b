// The 2-opt search in its plainest form, the reference the fast search must
// match bit for bit: every candidate is a full copy with the segment reversed,
// measured from scratch in position order; every accepted move restarts the scan.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "core/distance_matrix.hpp"

namespace hivekit::test_support {

using Tour = std::vector<std::size_t>;

inline double plain_length(const Tour& t, const DistanceMatrix& d) {
    double total = 0.0;
    for (std::size_t k = 0; k < t.size(); ++k) total += d(t[k], t[(k + 1) % t.size()]);
    return total;
}

// Each step to the nearest unvisited city (NaN never nearer): a tour whose
// edges are mostly short, as the neighbour lists of the search are meant for.
inline Tour nearest_neighbour_tour(const DistanceMatrix& d, std::size_t start) {
    const std::size_t n = d.size();
    std::vector<bool> seen(n, false);
    Tour tour{start};
    seen[start] = true;
    while (tour.size() < n) {
        std::size_t best = n;
        for (std::size_t c = 0; c < n; ++c)
            if (!seen[c] && (best == n || d(tour.back(), c) < d(tour.back(), best))) best = c;
        seen[best] = true;
        tour.push_back(best);
    }
    return tour;
}

inline std::pair<Tour, double> plain_two_opt(Tour cur, const DistanceMatrix& d) {
    const std::size_t m = cur.size();
    double length = plain_length(cur, d);  // a tour of fewer than four cities has no move
    for (bool restart = true; restart;) {
        restart = false;
        for (std::size_t i = 1; i + 3 <= m && !restart; ++i) {
            for (std::size_t j = i + 2; j <= m; ++j) {
                Tour candidate = cur;
                std::reverse(candidate.begin() + static_cast<std::ptrdiff_t>(i),
                             candidate.begin() + static_cast<std::ptrdiff_t>(j));
                double lc = plain_length(candidate, d);
                if (lc + 1e-12 < length) {
                    cur = std::move(candidate);
                    length = lc;
                    restart = true;
                    break;
                }
            }
        }
    }
    return {cur, length};
}

}  // namespace hivekit::test_support
