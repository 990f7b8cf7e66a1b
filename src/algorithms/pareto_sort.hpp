// A stable sort for keys that may hold NaN.
#pragma once

#include <cstddef>
#include <span>
#include <utility>
#include <vector>

namespace hivekit {

// Bottom-up merge sort driven only by `less(a, b)` ("a must come before b").
// An element moves ahead of an earlier one only when `less` says so, which
// keeps ties in input order. Unlike std::stable_sort it needs no strict weak
// ordering: a key that compares neither way with anything (NaN) can shift
// where it lands, but the sort stays inside its range and always yields a
// permutation, with the same result on every platform.
template <class T, class Less>
void stable_sort_by(std::span<T> items, Less less) {
    const std::size_t n = items.size();
    if (n < 2) return;
    std::vector<T> buffer(items.begin(), items.end());
    std::span<T> from = items;
    std::span<T> to(buffer);
    for (std::size_t width = 1; width < n; width *= 2) {
        for (std::size_t lo = 0; lo < n; lo += 2 * width) {
            const std::size_t mid = lo + width < n ? lo + width : n;
            const std::size_t hi = mid + width < n ? mid + width : n;
            std::size_t i = lo, j = mid, k = lo;
            while (i < mid && j < hi) to[k++] = less(from[j], from[i]) ? from[j++] : from[i++];
            while (i < mid) to[k++] = from[i++];
            while (j < hi) to[k++] = from[j++];
        }
        std::swap(from, to);
    }
    if (from.data() != items.data())
        for (std::size_t k = 0; k < n; ++k) items[k] = std::move(from[k]);
}

}  // namespace hivekit
