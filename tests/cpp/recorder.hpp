// An objective that records every position it is asked about, and helpers for
// boxes, fits of the registry's classes and results.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "algorithms/registry.hpp"
#include "algorithms/result.hpp"
#include "core/bounds.hpp"
#include "core/error.hpp"
#include "core/problem.hpp"

namespace hivekit::test_support {

inline constexpr double kNaN = NAN, kInf = INFINITY;
using Rows = std::vector<std::vector<double>>;

// The value is a function of the call number (from 0) and the position. Two
// objectives are (value, (x0 - 2)^2), or the single +infinity of a failed
// evaluation when the value is NaN, unless `objectives` answers by call number.
// Evaluation number `abort_at` throws, so `seen` keeps exactly those before it;
// with `stop_when_asked` the first look for an interrupt stops the run. When it
// evaluates `together`, a batch is written down whole, then valued last row
// first; `events` has one entry a call: a batch's size, or 0 for one position.
class Recorder final : public Problem {
public:
    using Function = std::function<double(std::size_t, std::span<const double>)>;
    Recorder(std::size_t dimension, Function f) : dimension_(dimension), f_(std::move(f)) {}

    double evaluate(std::span<const double> x) override {
        if (seen.size() == abort_at) throw EvaluationAborted();
        events.push_back(0);
        seen.emplace_back(x.begin(), x.end());
        values.push_back(f_(seen.size() - 1, x));
        return values.back();
    }
    void evaluate_objectives(std::span<const double> x, std::vector<double>& out) override {
        const double v = evaluate(x);
        out = objectives_of(seen.size(), v);
    }
    void evaluate_batch(std::span<const double> rows, std::span<double> out) override {
        if (!together) return Problem::evaluate_batch(rows, out);
        const std::size_t first = record(rows, out.size());
        for (std::size_t i = out.size(); i-- > 0;) out[i] = values[first + i] = f_(first + i, seen[first + i]);
    }
    void evaluate_objectives_batch(std::span<const double> rows, std::span<std::vector<double>> out) override {
        if (!together) return Problem::evaluate_objectives_batch(rows, out);
        const std::size_t first = record(rows, out.size());
        for (std::size_t i = out.size(); i-- > 0;)
            out[i] = objectives_of(first + i + 1, values[first + i] = f_(first + i, seen[first + i]));
    }
    void check_interrupt() override {
        if (stop_when_asked) throw EvaluationAborted();
    }
    bool evaluates_together() const override { return together; }
    std::size_t dimension() const override { return dimension_; }
    bool is_discrete() const override { return false; }
    std::string_view name() const override { return "recorded"; }
    const DistanceMatrix* distance_matrix() const override { return nullptr; }

    Rows seen;
    std::vector<double> values;
    std::size_t abort_at = SIZE_MAX;
    bool stop_when_asked = false;
    bool together = false;  // what evaluates_together() answers
    std::function<std::vector<double>(std::size_t)> objectives;
    std::vector<long> events;

private:
    // The objectives of the position that makes `count` seen, of value v.
    std::vector<double> objectives_of(std::size_t count, double v) const {
        if (objectives) return objectives(count - 1);
        const double x0 = seen[count - 1][0];
        return v == v ? std::vector<double>{v, (x0 - 2.0) * (x0 - 2.0)} : std::vector<double>{kInf};
    }
    std::size_t record(std::span<const double> rows, std::size_t count) {
        events.push_back(static_cast<long>(count));
        const std::size_t first = seen.size(), d = rows.size() / count;
        for (std::size_t i = 0; i < count; ++i) seen.emplace_back(&rows[i * d], &rows[(i + 1) * d]);
        values.resize(seen.size());
        return first;
    }

    std::size_t dimension_;
    Function f_;
};

inline Bounds box(std::vector<double> lower, std::vector<double> upper) {
    return std::get<Bounds>(Bounds::make(std::move(lower), std::move(upper)));
}

// A fit of a registry class: the defaults, with the population size (a first
// parameter that is a size other than the iterations) and the iterations given.
struct Fit {
    const ClassSpec& cls;
    std::vector<ParamValue> params;

    Fit(const ClassSpec& s, std::uint64_t n, std::uint64_t t) : cls(s) {
        for (const ParamSpec& p : s.params) params.push_back(p.fallback);
        if (has_size()) params[0].size = n;
        at("n_iterations").size = t;
    }
    bool has_size() const {
        return cls.params[0].kind == ParamKind::Size && std::string_view(cls.params[0].name) != "n_iterations";
    }
    ParamValue& at(std::string_view name) {
        for (std::size_t i = 0; i < params.size(); ++i)
            if (cls.params[i].name == name) return params[i];
        throw std::logic_error("no parameter " + std::string(name));
    }
    Outcome run(Problem& p, Seed seed, const Bounds& b) const {
        return cls.run({p, cls.surface.input == FitInput::Box ? &b : nullptr, params, seed});
    }
    // The objective calls the registry states for this run.
    Evaluations count() const { return cls.evaluations(params); }
};

// The result of a run that must succeed; a refusal fails the test with its text.
inline RunResult result_of(Outcome outcome) {
    if (auto* error = std::get_if<OptimizerError>(&outcome)) throw std::runtime_error(error->display());
    return std::get<RunResult>(std::move(outcome));
}

}  // namespace hivekit::test_support
