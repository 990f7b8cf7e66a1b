// Stable orderings for keys that may be NaN.
//
// A NaN key compares neither before nor after any key, which is not a strict
// weak ordering, so std::stable_sort is not allowed to see it. The merge sorts
// below only ever ask "is the right-hand element strictly before the left-hand
// one?" and otherwise keep the left-hand element first: elements for which the
// test fails both ways are treated as ties, a NaN key thus ties with every
// key. Without NaN keys both coincide with every stable sort. With them, where
// a NaN lands depends on which runs get merged, so the two merge patterns give
// different orders; each caller keeps the one its results were produced with.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <utility>
#include <vector>

#include "core/problem.hpp"

namespace hivekit {

namespace detail {

// Sorts items[0, n) with scratch room for at least n / 2 elements. The left
// run holds the first n / 2 elements; the merge takes from the right run only
// when before(right, left) holds.
template <class T, class Before>
void merge_halves(T* items, T* scratch, std::size_t n, Before& before, WorkMeter& meter) {
    if (n < 2) return;
    const std::size_t half = n / 2;
    merge_halves(items, scratch, half, before, meter);
    merge_halves(items + half, scratch, n - half, before, meter);
    meter.spend(n);
    std::copy(items, items + half, scratch);
    std::size_t left = 0, right = half, out = 0;
    while (left < half && right < n) {
        if (before(items[right], scratch[left]))
            items[out++] = items[right++];
        else
            items[out++] = scratch[left++];
    }
    while (left < half) items[out++] = scratch[left++];
}

}  // namespace detail

// Stable sort by a strict "comes before" test, NaN keys tying with everything,
// merging the two halves of each range (the left one the smaller) top-down.
template <class T, class Before>
void sort_nan_tied_by_halves(std::span<T> items, Before before, WorkMeter& meter) {
    std::vector<T> scratch(items.size() / 2);
    detail::merge_halves(items.data(), scratch.data(), items.size(), before, meter);
}

// Stable sort by a strict "comes before" test, NaN keys tying with everything,
// merging bottom-up runs of 1, 2, 4, ... elements that start at multiples of
// their width.
template <class T, class Before>
void sort_nan_tied_by_widths(std::span<T> items, Before before, WorkMeter& meter) {
    const std::size_t n = items.size();
    if (n < 2) return;
    std::vector<T> buffer(items.begin(), items.end());
    std::span<T> from = items;
    std::span<T> to(buffer);
    for (std::size_t width = 1; width < n; width *= 2) {
        for (std::size_t lo = 0; lo < n; lo += 2 * width) {
            const std::size_t mid = lo + width < n ? lo + width : n;
            const std::size_t hi = mid + width < n ? mid + width : n;
            meter.spend(hi - lo);
            std::size_t i = lo, j = mid, k = lo;
            while (i < mid && j < hi) to[k++] = before(from[j], from[i]) ? from[j++] : from[i++];
            while (i < mid) to[k++] = from[i++];
            while (j < hi) to[k++] = from[j++];
        }
        std::swap(from, to);
    }
    if (from.data() != items.data())
        for (std::size_t k = 0; k < n; ++k) items[k] = std::move(from[k]);
}

// Indices 0 .. n-1 of a population ordered by value, sorted by halves and
// reusing its buffers from one iteration to the next. Equal values keep
// ascending index order; a NaN value ties with every value. The returned order
// lives in the ranking and is valid until its next use.
class ValueRanking {
public:
    explicit ValueRanking(std::size_t n) : order_(n), scratch_(n / 2) {}

    // Smallest value first.
    std::span<const std::size_t> ascending(std::span<const double> values, WorkMeter& meter) {
        return rank(values, [&values](std::size_t a, std::size_t b) { return values[a] < values[b]; }, meter);
    }

    // Largest value first.
    std::span<const std::size_t> descending(std::span<const double> values, WorkMeter& meter) {
        return rank(values, [&values](std::size_t a, std::size_t b) { return values[a] > values[b]; }, meter);
    }

private:
    template <class Before>
    std::span<const std::size_t> rank(std::span<const double> values, Before before, WorkMeter& meter) {
        order_.resize(values.size());
        scratch_.resize(values.size() / 2);
        for (std::size_t i = 0; i < order_.size(); ++i) order_[i] = i;
        meter.spend(order_.size());
        detail::merge_halves(order_.data(), scratch_.data(), order_.size(), before, meter);
        return order_;
    }

    std::vector<std::size_t> order_;
    std::vector<std::size_t> scratch_;
};

}  // namespace hivekit
