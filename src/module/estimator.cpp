// One generic estimator type, instantiated for every class of the registry.
#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "algorithms/pareto.hpp"
#include "algorithms/registry.hpp"
#include "core/bounds.hpp"
#include "core/format.hpp"
#include "core/tour_problem.hpp"
#include "module/binding.hpp"
#include "module/callable_problem.hpp"
#include "module/convert.hpp"
#include "module/interrupt_gate.hpp"
#include "module/module.hpp"
#include "module/native_objective.hpp"

namespace hivekit::py {

namespace {


struct State {
    const ClassSpec* entry = nullptr;
    // 0: free; -1: held by fit; n > 0: n readers.
    std::atomic<int> hold{0};
    std::array<ParamValue, kMaxParams> params{};
    Seed seed;
    RunResult fitted;  // what the last successful fit left, as its family keeps it
};

struct EstimatorObject {
    PyObject_HEAD
    State state;
};

State& state_of(PyObject* self) { return reinterpret_cast<EstimatorObject*>(self)->state; }

// Shared hold for readers; fails while fit holds the estimator.
class SharedHold {
public:
    explicit SharedHold(State& s) : hold_(s.hold) {
        int current = hold_.load();
        do {
            if (current < 0) {
                PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
                return;
            }
        } while (!hold_.compare_exchange_weak(current, current + 1));
        taken_ = true;
    }
    ~SharedHold() {
        if (taken_) hold_.fetch_sub(1);
    }
    explicit operator bool() const { return taken_; }

private:
    std::atomic<int>& hold_;
    bool taken_ = false;
};

// Exclusive hold for fit; fails while anything else holds the estimator.
class ExclusiveHold {
public:
    explicit ExclusiveHold(State& s) : hold_(s.hold) {
        int expected = 0;
        taken_ = hold_.compare_exchange_strong(expected, -1);
        if (!taken_) PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
    }
    ~ExclusiveHold() {
        if (taken_) hold_.store(0);
    }
    explicit operator bool() const { return taken_; }

private:
    std::atomic<int>& hold_;
    bool taken_ = false;
};

// "Class.method", for the binding's messages, made without allocating: a
// call that fails its binding must not first need memory to say so.
class MethodName {
public:
    MethodName(const ClassSpec& entry, const char* method) {
        std::snprintf(text_, sizeof text_, "%s.%s", entry.surface.name, method);
    }
    const char* c_str() const { return text_; }

private:
    char text_[80];
};

// Type objects in registry order, to find a type's entry.
std::vector<PyTypeObject*> g_types;

const ClassSpec& entry_of_type(PyTypeObject* type) {
    auto entries = registry();
    for (std::size_t i = 0; i < g_types.size(); ++i)
        if (g_types[i] == type) return entries[i];
    return entries[0];  // unreachable: the types cannot be subclassed
}

bool convert_param(const ParamSpec& p, PyObject* obj, ParamValue& out) {
    bool ok = false;
    switch (p.kind) {
        case ParamKind::Size:
            ok = to_size(obj, out.size);
            break;
        case ParamKind::Real:
            ok = to_real(obj, out.real);
            break;
        case ParamKind::Flag: {
            bool flag;
            ok = to_flag(obj, flag);
            if (ok) out.size = flag ? 1 : 0;
            break;
        }
        case ParamKind::Variant:
            if (!PyUnicode_Check(obj)) {
                PyErr_Format(PyExc_TypeError, "'%.200s' object cannot be converted to 'str'", Py_TYPE(obj)->tp_name);
                break;
            }
            // Compared exactly; any other text means code 0.
            out.size = 0;
            for (std::size_t code = 1; code < std::size(kVariantNames); ++code)
                if (PyUnicode_CompareWithASCIIString(obj, kVariantNames[code]) == 0) out.size = code;
            ok = true;
            break;
    }
    if (!ok) prefix_type_error(p.name);
    return ok;
}

PyObject* estimator_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    const ClassSpec& entry = entry_of_type(type);
    std::array<const char*, kMaxParams + 1> names{};
    for (std::size_t i = 0; i < entry.params.size(); ++i) names[i] = entry.params[i].name;
    const std::size_t n = entry.params.size() + 1;
    names[n - 1] = "random_state";
    std::array<PyObject*, kMaxParams + 1> given{};
    const MethodName callable(entry, "__new__");
    if (!bind_tuple(callable.c_str(), {names.data(), n}, 0, args, kwargs, given.data())) return nullptr;

    std::array<ParamValue, kMaxParams> values{};
    for (std::size_t i = 0; i < entry.params.size(); ++i) {
        values[i] = entry.params[i].fallback;
        if (given[i] && !convert_param(entry.params[i], given[i], values[i])) return nullptr;
    }
    Seed seed;
    if (given[n - 1] && !to_seed(given[n - 1], seed)) {
        prefix_type_error("random_state");
        return nullptr;
    }

    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    State* s = new (&state_of(self)) State();
    s->entry = &entry;
    s->params = values;
    s->seed = seed;
    return self;
}

void estimator_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    state_of(self).~State();
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* estimator_repr(PyObject* self) {
    State& s = state_of(self);
    SharedHold hold(s);
    if (!hold) return nullptr;
    std::string text;
    if (!run_guarded([&] {
            text = std::string(s.entry->surface.name) + "(";
            for (std::size_t i = 0; i < s.entry->surface.repr_params; ++i) {
                const ParamSpec& p = s.entry->params[i];
                if (i) text += ", ";
                text += p.name;
                text += "=";
                text += p.kind == ParamKind::Real ? format_number(s.params[i].real)
                                                  : std::to_string(s.params[i].size);
            }
            text += ")";
        }))
        return nullptr;
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyObject* estimator_get_params(PyObject* self, PyObject*) {
    State& s = state_of(self);
    SharedHold hold(s);
    if (!hold) return nullptr;
    Ref dict(PyDict_New());
    if (!dict) return nullptr;
    for (std::size_t i = 0; i < s.entry->params.size(); ++i) {
        const ParamSpec& p = s.entry->params[i];
        Ref value(PyFloat_FromDouble(s.params[i].as_float(p.kind)));
        if (!value || PyDict_SetItemString(dict.get(), p.name, value.get()) < 0) return nullptr;
    }
    return dict.release();
}

// Builds the probe argument and checks that the objective answers it.
bool probe(const ClassSpec& entry, PyObject* objective, const Bounds& bounds) {
    std::vector<double> point =
        entry.surface.probe == Probe::Zeros ? std::vector<double>(bounds.dimension(), 0.0) : bounds.centre();
    if (const NativeFunction* native = native_function(objective))
        return probe_native(*native, point, entry.surface.probe == Probe::CentreObjectives);
    Ref args(float_list(point));
    if (!args) return false;
    Ref result(PyObject_CallOneArg(objective, args.get()));
    if (!result) return false;
    if (entry.surface.probe == Probe::CentreObjectives) return to_double_vector(result.get()).has_value();
    double value;
    return number_from_result(result.get(), value);
}

// Runs the engine and, on success, replaces the stored results. Given the
// gate its problem looks through for Ctrl-C (a native objective's or a tour
// fit's), the body runs with the interpreter lock released: nothing it touches
// then is a Python object, and the hold keeps other threads off the estimator.
PyObject* finish_fit(State& s, Problem& problem, const Bounds* bounds, InterruptGate* unlocked = nullptr) {
    FitCall call{problem, bounds, {s.params.data(), s.entry->params.size()}, s.seed};
    std::optional<Outcome> outcome;
    if (!run_guarded([&] {
            std::optional<InterruptGate::Unlocked> released;
            if (unlocked) released.emplace(*unlocked);
            outcome = s.entry->run(call);
        }))
        return nullptr;
    // The run looks for Ctrl-C only now and then; one that came after its last
    // look must still fail this fit before anything is stored, not after.
    if (PyErr_CheckSignals() < 0) return nullptr;
    if (auto* error = std::get_if<OptimizerError>(&*outcome)) {
        std::string text;
        if (run_guarded([&] { text = error->display(); })) PyErr_SetString(PyExc_ValueError, text.c_str());
        return nullptr;
    }
    RunResult& result = std::get<RunResult>(*outcome);
    // Only the new result is reshaped, so a failure here leaves the stored one.
    if (!run_guarded([&] {
            switch (s.entry->surface.family) {
                case Family::BestOnly:
                    result.history.clear();
                    if (result.best_value) result.history.push_back(*result.best_value);
                    result.population.clear();
                    if (result.best_solution) result.population.push_back(*result.best_solution);
                    break;
                case Family::Recorded:
                    break;
                case Family::ParetoArchive:
                    result.best_value.reset();
                    result.best_solution.reset();
                    result.history.clear();
                    break;
            }
        }))
        return nullptr;
    s.fitted = std::move(result);
    Py_RETURN_NONE;
}

constexpr const char* kBoxParams[] = {"objective", "lower", "upper"};
constexpr const char* kTourParams[] = {"distance_matrix"};

std::optional<std::vector<double>> limits_argument(PyObject* obj, const char* name) {
    auto values = to_limit_vector(obj);
    if (!values) prefix_type_error(name);
    return values;
}

// The part of fit_box that runs under the hold: the box, the probe, the run.
PyObject* fit_box_held(State& s, PyObject* const* given) {
    auto lower = limits_argument(given[1], "lower");
    if (!lower) return nullptr;
    auto upper = limits_argument(given[2], "upper");
    if (!upper) return nullptr;
    auto made = Bounds::make(std::move(*lower), std::move(*upper));
    if (auto* message = std::get_if<std::string>(&made)) {
        PyErr_SetString(PyExc_ValueError, message->c_str());
        return nullptr;
    }
    const Bounds& bounds = std::get<Bounds>(made);
    if (auto refusal = bounds.unsearchable()) {
        PyErr_SetString(PyExc_ValueError, refusal->c_str());
        return nullptr;
    }
    if (!probe(*s.entry, given[0], bounds)) return nullptr;
    if (const NativeFunction* native = native_function(given[0])) {
        NativeProblem problem(*native, bounds.dimension());
        if (!problem.gate()) return nullptr;
        return finish_fit(s, problem, &bounds, &problem.gate());
    }
    Ref batch(batch_method(given[0]));
    if (!batch && PyErr_Occurred()) return nullptr;
    CallableProblem problem(given[0], bounds.dimension(), batch.get());
    return finish_fit(s, problem, &bounds);
}

PyObject* fit_box(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    State& s = state_of(self);
    const MethodName callable(*s.entry, "fit");
    PyObject* given[3];
    if (!bind_fast(callable.c_str(), kBoxParams, 3, args, nargsf, kwnames, given)) return nullptr;
    ExclusiveHold hold(s);
    if (!hold) return nullptr;
    // The box, its centre and the probe's list are as large as the user's
    // limits make them: an allocation failure among them must not escape.
    PyObject* done = nullptr;
    if (!run_guarded([&] { done = fit_box_held(s, given); })) return nullptr;
    return done;
}

PyObject* fit_tour(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    State& s = state_of(self);
    const MethodName callable(*s.entry, "fit");
    PyObject* given[1];
    if (!bind_fast(callable.c_str(), kTourParams, 1, args, nargsf, kwnames, given)) return nullptr;
    if (native_function(given[0])) {
        PyErr_Format(PyExc_TypeError, "%s.fit takes a distance matrix, not a native objective", s.entry->surface.name);
        return nullptr;
    }
    ExclusiveHold hold(s);
    if (!hold) return nullptr;
    // The matrix is the problem's own copy: the run reads no Python object.
    InterruptGate gate;
    if (!gate) return nullptr;
    std::optional<TourProblem> problem;
    if (!run_guarded(
            [&] {
                auto matrix = to_distance_matrix(given[0], "distance_matrix");
                if (matrix) problem.emplace(std::move(*matrix), [&gate] { gate.check(); });
            }) ||
        !problem)
        return nullptr;
    return finish_fit(s, *problem, nullptr, &gate);
}

PyObject* unfitted(const char* what) {
    PyErr_Format(PyExc_ValueError, "must call fit() before %s()", what);
    return nullptr;
}

PyObject* estimator_predict(PyObject* self, PyObject*) {
    State& s = state_of(self);
    SharedHold hold(s);
    if (!hold) return nullptr;
    const RunResult& f = s.fitted;
    if (s.entry->surface.family == Family::ParetoArchive) {
        if (f.archive_positions.empty()) return unfitted("predict");
        return float_rows(f.archive_positions);
    }
    if (!f.best_solution) return unfitted("predict");
    if (!s.entry->surface.index_solution) return float_list(*f.best_solution);
    const auto& tour = *f.best_solution;
    Ref list(PyList_New(static_cast<Py_ssize_t>(tour.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < tour.size(); ++i) {
        PyObject* item = PyLong_FromSize_t(city_index(tour[i]));
        if (!item) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

PyObject* estimator_score(PyObject* self, PyObject*) {
    State& s = state_of(self);
    SharedHold hold(s);
    if (!hold) return nullptr;
    const RunResult& f = s.fitted;
    if (s.entry->surface.family == Family::ParetoArchive) {
        if (f.archive_objectives.empty()) return unfitted("score");
        if (f.archive_objectives.front().size() <= 1) return PyFloat_FromDouble(0.0);
        double volume = 0.0;
        if (!run_guarded([&] { volume = hypervolume_2d(f.archive_objectives); })) return nullptr;
        return PyFloat_FromDouble(volume);
    }
    if (!f.best_value) return unfitted("score");
    return PyFloat_FromDouble(*f.best_value);
}

PyObject* estimator_history(PyObject* self, void*) {
    State& s = state_of(self);
    SharedHold hold(s);
    if (!hold) return nullptr;
    return float_list(s.fitted.history);
}

PyObject* estimator_population(PyObject* self, void*) {
    State& s = state_of(self);
    SharedHold hold(s);
    if (!hold) return nullptr;
    return float_rows(s.fitted.population);
}

// Copies and pickles rebuild an estimator by calling its class with the
// stored hyperparameters (the variant by its text, the seed as given), then
// hand it the fitted results as plain lists through __setstate__.

// A hyperparameter as the constructor takes it.
PyObject* param_object(ParamKind kind, const ParamValue& value) {
    switch (kind) {
        case ParamKind::Size: return PyLong_FromUnsignedLongLong(value.size);
        case ParamKind::Real: return PyFloat_FromDouble(value.real);
        case ParamKind::Flag: return PyBool_FromLong(value.size != 0);
        case ParamKind::Variant: return PyUnicode_FromString(kVariantNames[value.size]);
    }
    return nullptr;
}

PyObject* estimator_reduce(PyObject* self, PyObject*) {
    State& s = state_of(self);
    SharedHold hold(s);
    if (!hold) return nullptr;
    const std::size_t n = s.entry->params.size();
    Ref args(PyTuple_New(static_cast<Py_ssize_t>(n + 1)));
    if (!args) return nullptr;
    for (std::size_t i = 0; i <= n; ++i) {
        PyObject* value = i < n    ? param_object(s.entry->params[i].kind, s.params[i])
                          : s.seed ? PyLong_FromUnsignedLongLong(*s.seed)
                                   : Py_NewRef(Py_None);
        if (!value) return nullptr;
        PyTuple_SET_ITEM(args.get(), static_cast<Py_ssize_t>(i), value);
    }
    // The fields of RunResult in order; absent optionals as None.
    const RunResult& f = s.fitted;
    // Made one at a time, so that nothing is called with an error pending.
    std::array<Ref, 6> fields;
    const auto field = [&fields](std::size_t k, PyObject* value) {
        fields[k] = Ref(value);
        return value != nullptr;
    };
    if (!(field(0, f.best_value ? PyFloat_FromDouble(*f.best_value) : Py_NewRef(Py_None)) &&
          field(1, f.best_solution ? float_list(*f.best_solution) : Py_NewRef(Py_None)) &&
          field(2, float_list(f.history)) && field(3, float_rows(f.population)) &&
          field(4, float_rows(f.archive_positions)) && field(5, float_rows(f.archive_objectives))))
        return nullptr;
    Ref state(PyTuple_Pack(6, fields[0].get(), fields[1].get(), fields[2].get(), fields[3].get(), fields[4].get(),
                           fields[5].get()));
    if (!state) return nullptr;
    return PyTuple_Pack(3, reinterpret_cast<PyObject*>(Py_TYPE(self)), args.get(), state.get());
}

// Readers of a restored state. They take exact lists and floats (or their
// subclasses) and read them without calling into Python, so nothing can
// change the state while it is read.
bool read_float(PyObject* obj, double& out) {
    if (!PyFloat_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "invalid state: expected a float, not '%.200s'", Py_TYPE(obj)->tp_name);
        return false;
    }
    out = PyFloat_AS_DOUBLE(obj);
    return true;
}

bool check_list(PyObject* obj) {
    if (PyList_Check(obj)) return true;
    PyErr_Format(PyExc_TypeError, "invalid state: expected a list, not '%.200s'", Py_TYPE(obj)->tp_name);
    return false;
}

bool read_row(PyObject* obj, std::vector<double>& out) {
    if (!check_list(obj)) return false;
    out.resize(static_cast<std::size_t>(PyList_GET_SIZE(obj)));
    for (std::size_t i = 0; i < out.size(); ++i)
        if (!read_float(PyList_GET_ITEM(obj, static_cast<Py_ssize_t>(i)), out[i])) return false;
    return true;
}

bool read_rows(PyObject* obj, std::vector<std::vector<double>>& out) {
    if (!check_list(obj)) return false;
    out.resize(static_cast<std::size_t>(PyList_GET_SIZE(obj)));
    for (std::size_t i = 0; i < out.size(); ++i)
        if (!read_row(PyList_GET_ITEM(obj, static_cast<Py_ssize_t>(i)), out[i])) return false;
    return true;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

bool all_of_width(const std::vector<std::vector<double>>& rows, std::size_t width) {
    for (const auto& row : rows)
        if (row.size() != width) return false;
    return true;
}

// The first rule of the class's family that a restored result breaks, or
// null: only what some fit of this class could have left is accepted.
const char* inconsistency(const ClassSpec& entry, const RunResult& r) {
    if (entry.surface.family == Family::ParetoArchive) {
        if (r.best_value || r.best_solution || !r.history.empty())
            return "a Pareto archive keeps no best value, best solution or history";
        if (r.archive_positions.size() != r.archive_objectives.size())
            return "the archive needs one objective row per position";
        const auto& first = r.archive_positions.empty() ? r.population : r.archive_positions;
        const std::size_t width = first.empty() ? 0 : first[0].size();
        if (!all_of_width(r.archive_positions, width) || !all_of_width(r.population, width))
            return "positions must all have one length";
        if (!r.archive_objectives.empty() && !all_of_width(r.archive_objectives, r.archive_objectives[0].size()))
            return "objective rows must all have one length";
        return nullptr;
    }
    if (!r.archive_positions.empty() || !r.archive_objectives.empty()) return "only a Pareto class keeps an archive";
    if (r.best_value.has_value() != r.best_solution.has_value())
        return "a best value and a best solution come together";
    if (!r.best_solution)
        return r.history.empty() && r.population.empty() ? nullptr : "an unfitted state keeps no history or population";
    const std::vector<double>& best = *r.best_solution;
    if (!all_of_width(r.population, best.size())) return "population rows must be as long as the best solution";
    if (entry.surface.family == Family::BestOnly &&
        !(same_bits(r.history, {*r.best_value}) && r.population.size() == 1 && same_bits(r.population[0], best)))
        return "history and population must hold just the best value and the best solution";
    if (entry.surface.index_solution)
        for (double city : best)
            if (!(city >= 0.0 && city < static_cast<double>(best.size()) && std::trunc(city) == city))
                return "a tour holds whole city indices below its length";
    return nullptr;
}

// The state as estimator_reduce builds it; TypeError for a wrong type,
// ValueError for contents no fit of the class could have left.
std::optional<RunResult> read_state(const ClassSpec& entry, PyObject* state) {
    if (!PyTuple_Check(state) || PyTuple_GET_SIZE(state) != 6) {
        PyErr_SetString(PyExc_TypeError, "invalid state: expected a tuple of 6 items");
        return std::nullopt;
    }
    RunResult r;
    PyObject* best_value = PyTuple_GET_ITEM(state, 0);
    PyObject* best_solution = PyTuple_GET_ITEM(state, 1);
    if (best_value != Py_None && !read_float(best_value, r.best_value.emplace())) return std::nullopt;
    if (best_solution != Py_None && !read_row(best_solution, r.best_solution.emplace())) return std::nullopt;
    if (!read_row(PyTuple_GET_ITEM(state, 2), r.history) || !read_rows(PyTuple_GET_ITEM(state, 3), r.population) ||
        !read_rows(PyTuple_GET_ITEM(state, 4), r.archive_positions) ||
        !read_rows(PyTuple_GET_ITEM(state, 5), r.archive_objectives))
        return std::nullopt;
    if (const char* broken = inconsistency(entry, r)) {
        PyErr_Format(PyExc_ValueError, "invalid state: %s", broken);
        return std::nullopt;
    }
    return r;
}

// Replaces the fitted results, as a successful fit would.
PyObject* estimator_setstate(PyObject* self, PyObject* state) {
    State& s = state_of(self);
    ExclusiveHold hold(s);
    if (!hold) return nullptr;
    std::optional<RunResult> restored;
    if (!run_guarded([&] { restored = read_state(*s.entry, state); }) || !restored) return nullptr;
    s.fitted = std::move(*restored);
    Py_RETURN_NONE;
}

PyGetSetDef kAllAttributes[] = {
    {"history_", estimator_history, nullptr, "Best value after each iteration of the last fit.", nullptr},
    {"population_", estimator_population, nullptr, "Final population of the last fit.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};
PyGetSetDef* kPopulationOnly = &kAllAttributes[1];

// Texts and tables that must outlive the types built from them.
struct TypeTexts {
    std::string doc;
    std::array<std::string, 4> method_docs;
    std::array<PyMethodDef, 7> methods{};
};

// Docstrings of the documented classes' methods (tour and box wording).
struct MethodDocs {
    const char* fit;
    const char* predict;
    const char* score;
    const char* get_params;
};

MethodDocs method_docs(const ClassSpec& entry) {
    if (!entry.surface.documented_methods) return {nullptr, nullptr, nullptr, nullptr};
    if (entry.surface.input == FitInput::Tour) {
        return {"Fit the colony to a square distance matrix and search for a short tour.",
                "Return the best tour found as a list of city indices.", "Return the length of the best tour found.",
                "Return the algorithm's hyperparameters."};
    }
    return {"Minimize `objective(list[float]) -> float` over the box `[lower, upper]`.",
            "Return the best position found.", "Return the objective value at the best position.", nullptr};
}

std::string method_doc(const char* signature, const char* doc) {
    std::string text = std::string(signature) + "\n--\n\n";
    if (doc) text += doc;
    return text;
}

PyObject* make_type(const ClassSpec& entry, TypeTexts& texts) {
    texts.doc = std::string(entry.surface.name) + "(";
    for (const ParamSpec& p : entry.params) texts.doc += std::string(p.name) + "=" + signature_default(p) + ", ";
    texts.doc += "random_state=None)\n--\n\n";
    texts.doc += entry.surface.docstring;

    MethodDocs docs = method_docs(entry);
    const bool tour = entry.surface.input == FitInput::Tour;
    texts.method_docs[0] = method_doc(tour ? "fit($self, distance_matrix)" : "fit($self, objective, lower, upper)",
                                      docs.fit);
    texts.method_docs[1] = method_doc("predict($self)", docs.predict);
    texts.method_docs[2] = method_doc("score($self)", docs.score);
    texts.method_docs[3] = method_doc("get_params($self)", docs.get_params);
    auto fit = tour ? fit_tour : fit_box;
    texts.methods[0] = {"fit", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fit)),
                        METH_FASTCALL | METH_KEYWORDS, texts.method_docs[0].c_str()};
    texts.methods[1] = {"predict", estimator_predict, METH_NOARGS, texts.method_docs[1].c_str()};
    texts.methods[2] = {"score", estimator_score, METH_NOARGS, texts.method_docs[2].c_str()};
    texts.methods[3] = {"get_params", estimator_get_params, METH_NOARGS, texts.method_docs[3].c_str()};
    texts.methods[4] = {"__reduce__", estimator_reduce, METH_NOARGS, "__reduce__($self, /)\n--\n\n"};
    texts.methods[5] = {"__setstate__", estimator_setstate, METH_O, "__setstate__($self, state, /)\n--\n\n"};
    texts.methods[6] = {nullptr, nullptr, 0, nullptr};

    std::vector<PyType_Slot> slots = {
        {Py_tp_new, reinterpret_cast<void*>(estimator_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(estimator_dealloc)},
        {Py_tp_doc, const_cast<char*>(texts.doc.c_str())},
        {Py_tp_methods, texts.methods.data()},
        {Py_tp_getset, entry.surface.family == Family::ParetoArchive ? kPopulationOnly : kAllAttributes},
    };
    if (entry.surface.repr_params) slots.push_back({Py_tp_repr, reinterpret_cast<void*>(estimator_repr)});
    slots.push_back({0, nullptr});

    // Created under its module path so that __module__ is set (pickle and the
    // default repr find the class through it), then named by its bare class name.
    std::string dotted = std::string("hivekit._hivekit.") + entry.surface.name;
    PyType_Spec type_spec = {dotted.c_str(), static_cast<int>(sizeof(EstimatorObject)), 0,
                             Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots.data()};
    Ref type(PyType_FromSpec(&type_spec));
    if (!type) return nullptr;
    reinterpret_cast<PyTypeObject*>(type.get())->tp_name = entry.surface.name;
    return type.release();
}

const char* family_name(Family family) {
    switch (family) {
        case Family::BestOnly: return "best";
        case Family::Recorded: return "recorded";
        case Family::ParetoArchive: return "pareto";
    }
    return "";
}

const char* probe_name(Probe probe) {
    switch (probe) {
        case Probe::Centre: return "centre";
        case Probe::Zeros: return "zeros";
        case Probe::CentreObjectives: return "centre_objectives";
        case Probe::None: return "none";
    }
    return "";
}

// A parameter as (name, kind, default), the default as the constructor takes it.
PyObject* describe_param(const ParamSpec& p) {
    static constexpr const char* kKinds[] = {"size", "real", "flag", "variant"};
    Ref value(param_object(p.kind, p.fallback));
    if (!value) return nullptr;
    return Py_BuildValue("(ssO)", p.name, kKinds[static_cast<int>(p.kind)], value.get());
}

// The registry as Python data, for the package's class lists, the generated
// stub and README table, and the tests: one (name, docstring, input, family,
// probe, params, smallest, refusal) tuple per class, in order, where a class
// that runs any size has smallest 0 and refusal None.
PyObject* describe_registry() {
    auto entries = registry();
    Ref out(PyTuple_New(static_cast<Py_ssize_t>(entries.size())));
    if (!out) return nullptr;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ClassSpec& entry = entries[i];
        Ref params(PyTuple_New(static_cast<Py_ssize_t>(entry.params.size())));
        if (!params) return nullptr;
        for (std::size_t k = 0; k < entry.params.size(); ++k) {
            PyObject* param = describe_param(entry.params[k]);
            if (!param) return nullptr;
            PyTuple_SET_ITEM(params.get(), static_cast<Py_ssize_t>(k), param);
        }
        PyObject* row = Py_BuildValue("(sssssOKz)", entry.surface.name, entry.surface.docstring,
                                      entry.surface.input == FitInput::Tour ? "tour" : "box",
                                      family_name(entry.surface.family), probe_name(entry.surface.probe), params.get(),
                                      static_cast<unsigned long long>(entry.smallest.minimum), entry.smallest.refusal);
        if (!row) return nullptr;
        PyTuple_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), row);
    }
    return out.release();
}

// _run_evaluations(estimator): the objective calls its fit makes after the
// probe call, as its class's body states them, or None where the values decide.
PyObject* run_evaluations(PyObject*, PyObject* estimator) {
    const auto known = std::find(g_types.begin(), g_types.end(), Py_TYPE(estimator));
    if (known == g_types.end()) {
        PyErr_Format(PyExc_TypeError, "'%.200s' is not an estimator of the engine", Py_TYPE(estimator)->tp_name);
        return nullptr;
    }
    const State& s = state_of(estimator);
    const Evaluations count = s.entry->evaluations(std::span(s.params.data(), s.entry->params.size()));
    if (!count) Py_RETURN_NONE;
    return PyLong_FromUnsignedLongLong(*count);
}

PyMethodDef kRunEvaluations = {"_run_evaluations", run_evaluations, METH_O,
                               "_run_evaluations(estimator, /)\n--\n\nThe objective calls of the estimator's fit "
                               "after the probe call, or None where the values seen decide."};

}  // namespace

bool add_estimator_types(PyObject* module) {
    static std::vector<std::unique_ptr<TypeTexts>> texts;
    if (g_types.empty()) {
        std::vector<PyTypeObject*> made;
        for (const ClassSpec& entry : registry()) {
            texts.push_back(std::make_unique<TypeTexts>());
            PyObject* type = make_type(entry, *texts.back());
            if (!type) {
                for (PyTypeObject* t : made) Py_DECREF(t);
                return false;
            }
            made.push_back(reinterpret_cast<PyTypeObject*>(type));
        }
        g_types = std::move(made);
    }
    for (std::size_t i = 0; i < g_types.size(); ++i) {
        Py_INCREF(g_types[i]);
        if (!add_public(module, registry()[i].surface.name, reinterpret_cast<PyObject*>(g_types[i]))) return false;
    }
    Ref described(describe_registry());
    if (!described || PyModule_AddObjectRef(module, "_registry", described.get()) < 0) return false;
    Ref counter(PyCFunction_NewEx(&kRunEvaluations, nullptr, module));
    return counter && PyModule_AddObjectRef(module, "_run_evaluations", counter.get()) == 0;
}

}  // namespace hivekit::py
