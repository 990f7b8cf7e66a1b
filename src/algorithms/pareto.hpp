// Pareto machinery shared by the multi-objective optimisers.
//
// Objective vectors are compared with IEEE semantics: a NaN value is neither
// less nor greater than anything, so in dominance it behaves as equal. Vectors
// of different lengths are compared over the shorter length.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "core/problem.hpp"

namespace hivekit {

// A position with its objective vector (as long as the objective returned).
struct Individual {
    std::vector<double> position;
    std::vector<double> objectives;
};

// Whether a dominates b over their first min(|a|, |b|) values: nowhere greater
// and somewhere less. Nothing dominates across an empty comparison.
bool dominates(std::span<const double> a, std::span<const double> b);

// A front lists indices into the sorted list.
using Front = std::vector<std::size_t>;

// Fronts of successive non-domination. The first front lists its members in
// index order, each later one in the order its members were released by the
// front before it. Members of a dominance cycle (possible only with NaN values)
// belong to no front. Like the other long operations here, it reports its
// work to `meter`, which may stop it by throwing.
std::vector<Front> non_dominated_sort(std::span<const Individual> individuals, WorkMeter& meter);

struct Crowding {
    std::size_t index;
    double distance;
};

// Crowding distance of each member of `front`, in front order. A member that
// lacks a value the front's first member has counts it as +infinity.
std::vector<Crowding> crowding_distance(std::span<const Individual> individuals, std::span<const std::size_t> front,
                                        WorkMeter& meter);

// Indices of at most `limit` individuals: whole fronts in order while they fit,
// then the members of the first front that does not fit by crowding distance,
// largest first (equal distances in front order).
std::vector<std::size_t> select_indices_by_fronts(std::span<const Individual> individuals, std::size_t limit,
                                                  WorkMeter& meter);

// Copies of the individuals chosen by select_indices_by_fronts, in its order.
std::vector<Individual> select_by_fronts(std::span<const Individual> individuals, std::size_t limit,
                                         WorkMeter& meter);

// Area dominated by the objective vectors (first two values of each) inside
// the box bounded by the reference point (1, 1), for minimisation.
double hypervolume_2d(const std::vector<std::vector<double>>& objectives);

}  // namespace hivekit
