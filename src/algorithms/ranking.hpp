// Stable orderings of a population by objective value.
//
// A NaN value has to compare as equal to every value, which is not a strict
// weak ordering, so std::stable_sort is not allowed to see it. The merge sort
// below only ever asks "is the right-hand element strictly before the
// left-hand one?" and otherwise keeps the left-hand element first, so its
// result is fully determined by that single test even when NaN values are
// present, and it coincides with every stable sort when they are not.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <vector>

namespace hivekit {

namespace detail {

// Sorts items[0, n) with scratch room for at least n / 2 elements. The left
// run holds the first n / 2 elements; the merge takes from the right run only
// when before(right, left) holds.
template <class T, class Before>
void merge_sort(T* items, T* scratch, std::size_t n, Before& before) {
    if (n < 2) return;
    const std::size_t half = n / 2;
    merge_sort(items, scratch, half, before);
    merge_sort(items + half, scratch, n - half, before);
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

// Stable sort driven by a strict "comes before" test; elements for which the
// test fails both ways keep their relative order.
template <class T, class Before>
void stable_sort_by(std::span<T> items, Before before) {
    std::vector<T> scratch(items.size() / 2);
    detail::merge_sort(items.data(), scratch.data(), items.size(), before);
}

// Indices 0 .. n-1 of a population ordered by value, reusing its buffers from
// one iteration to the next. Equal values keep ascending index order; a NaN
// value is never before or after anything, so where it lands is whatever the
// merges above make of that. The returned order lives in the ranking and is
// valid until its next use.
class ValueRanking {
public:
    explicit ValueRanking(std::size_t n) : order_(n), scratch_(n / 2) {}

    // Smallest value first.
    std::span<const std::size_t> ascending(std::span<const double> values) {
        return rank(values, [&values](std::size_t a, std::size_t b) { return values[a] < values[b]; });
    }

    // Largest value first.
    std::span<const std::size_t> descending(std::span<const double> values) {
        return rank(values, [&values](std::size_t a, std::size_t b) { return values[a] > values[b]; });
    }

private:
    template <class Before>
    std::span<const std::size_t> rank(std::span<const double> values, Before before) {
        order_.resize(values.size());
        scratch_.resize(values.size() / 2);
        for (std::size_t i = 0; i < order_.size(); ++i) order_[i] = i;
        detail::merge_sort(order_.data(), scratch_.data(), order_.size(), before);
        return order_;
    }

    std::vector<std::size_t> order_;
    std::vector<std::size_t> scratch_;
};

}  // namespace hivekit
