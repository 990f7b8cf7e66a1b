#include "algorithms/pareto.hpp"

#include <cmath>
#include <limits>

#include "algorithms/ordering.hpp"
#include "core/numeric.hpp"

namespace hivekit {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

enum class Relation { Neither, FirstDominates, SecondDominates };

// Both directions of dominance in one pass over the shorter length.
Relation relate(std::span<const double> a, std::span<const double> b) {
    const std::size_t k = a.size() < b.size() ? a.size() : b.size();
    // Accumulated without branches: the outcome of each comparison is close to
    // a coin toss on a spread-out front, which defeats branch prediction.
    bool a_less = false, b_less = false;
    for (std::size_t m = 0; m < k; ++m) {
        a_less |= a[m] < b[m];
        b_less |= b[m] < a[m];
    }
    if (a_less == b_less) return Relation::Neither;
    return a_less ? Relation::FirstDominates : Relation::SecondDominates;
}

}  // namespace

bool dominates(std::span<const double> a, std::span<const double> b) {
    return relate(a, b) == Relation::FirstDominates;
}

std::vector<Front> non_dominated_sort(std::span<const Individual> individuals, WorkMeter& meter) {
    const std::size_t count = individuals.size();
    std::vector<Front> fronts;
    if (count == 0) return fronts;
    // Each pair is compared once. Visiting pairs (p, q) with p < q in
    // lexicographic order still appends to every dominated list in ascending
    // index order, as comparing each p with every q in turn would.
    std::vector<Front> dominated(count);
    std::vector<std::size_t> dominators(count, 0);
    for (std::size_t p = 0; p < count; ++p) {
        const auto& fp = individuals[p].objectives;
        meter.spend((count - p) * (fp.size() + 1));
        for (std::size_t q = p + 1; q < count; ++q) {
            switch (relate(fp, individuals[q].objectives)) {
                case Relation::FirstDominates:
                    dominated[p].push_back(q);
                    ++dominators[q];
                    break;
                case Relation::SecondDominates:
                    dominated[q].push_back(p);
                    ++dominators[p];
                    break;
                case Relation::Neither:
                    break;
            }
        }
    }
    Front first;
    meter.spend(count);
    for (std::size_t p = 0; p < count; ++p)
        if (dominators[p] == 0) first.push_back(p);
    // Only a dominance cycle (NaN values) can leave no member undominated.
    if (first.empty()) return fronts;
    fronts.push_back(std::move(first));
    for (std::size_t i = 0; i < fronts.size(); ++i) {
        Front next;
        for (std::size_t p : fronts[i]) {
            meter.spend(dominated[p].size() + 1);
            for (std::size_t q : dominated[p])
                if (--dominators[q] == 0) next.push_back(q);
        }
        if (!next.empty()) fronts.push_back(std::move(next));
    }
    return fronts;
}

std::vector<Crowding> crowding_distance(std::span<const Individual> individuals, std::span<const std::size_t> front,
                                        WorkMeter& meter) {
    const std::size_t size = front.size();
    meter.spend(size);
    std::vector<Crowding> result(size);
    for (std::size_t k = 0; k < size; ++k) result[k] = {front[k], 0.0};
    if (size == 0) return result;
    if (size == 1) {
        result[0].distance = kInfinity;
        return result;
    }
    const std::size_t objectives = individuals[front[0]].objectives.size();
    std::vector<std::size_t> order(size);
    for (std::size_t m = 0; m < objectives; ++m) {
        auto value = [&](std::size_t place) {
            const auto& f = individuals[front[place]].objectives;
            return m < f.size() ? f[m] : kInfinity;
        };
        meter.spend(2 * size);
        for (std::size_t k = 0; k < size; ++k) order[k] = k;
        sort_nan_tied_by_widths(
            std::span<std::size_t>(order), [&](std::size_t a, std::size_t b) { return value(a) < value(b); }, meter);
        result[order.front()].distance = kInfinity;
        result[order.back()].distance = kInfinity;
        if (size < 3) continue;
        const double range = max_num(value(order.back()) - value(order.front()), 1e-12);
        for (std::size_t i = 1; i + 1 < size; ++i) {
            double& distance = result[order[i]].distance;
            const double d = (value(order[i + 1]) - value(order[i - 1])) / range;
            if (std::isfinite(distance)) distance = std::fabs(d) + distance;
        }
    }
    return result;
}

std::vector<std::size_t> select_indices_by_fronts(std::span<const Individual> individuals, std::size_t limit,
                                                  WorkMeter& meter) {
    std::vector<std::size_t> chosen;
    for (const Front& front : non_dominated_sort(individuals, meter)) {
        if (chosen.size() == limit) break;
        meter.spend(front.size());
        if (front.size() <= limit - chosen.size()) {
            chosen.insert(chosen.end(), front.begin(), front.end());
            continue;
        }
        auto crowding = crowding_distance(individuals, front, meter);
        sort_nan_tied_by_widths(
            std::span<Crowding>(crowding), [](const Crowding& a, const Crowding& b) { return a.distance > b.distance; },
            meter);
        for (std::size_t k = 0; chosen.size() < limit; ++k) chosen.push_back(crowding[k].index);
        break;
    }
    return chosen;
}

std::vector<Individual> select_by_fronts(std::span<const Individual> individuals, std::size_t limit,
                                         WorkMeter& meter) {
    std::vector<Individual> result;
    for (std::size_t index : select_indices_by_fronts(individuals, limit, meter)) {
        const Individual& chosen = individuals[index];
        meter.spend(chosen.position.size() + chosen.objectives.size());
        result.push_back(chosen);
    }
    return result;
}

double hypervolume_2d(const std::vector<std::vector<double>>& objectives) {
    struct Point {
        double x, y;
    };
    std::vector<Point> points;
    for (const auto& f : objectives)
        if (f.size() >= 2) points.push_back({f[0], f[1]});
    WorkMeter unstoppable;  // read by score(), which has no run to stop
    sort_nan_tied_by_widths(
        std::span<Point>(points), [](const Point& a, const Point& b) { return a.x < b.x; }, unstoppable);
    double volume = 0.0;
    double prev = 1.0;
    for (const Point& p : points) {
        if (!(p.y < prev)) continue;
        volume += max_num(prev - p.y, 0.0) * max_num(1.0 - p.x, 0.0);
        prev = p.y;
    }
    return volume;
}

}  // namespace hivekit
