// One generic estimator type, instantiated for every row of the catalogue.
#include <array>
#include <atomic>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "algorithms/pareto.hpp"
#include "core/bounds.hpp"
#include "core/format.hpp"
#include "core/tour_problem.hpp"
#include "module/binding.hpp"
#include "module/callable_problem.hpp"
#include "module/catalogue.hpp"
#include "module/convert.hpp"
#include "module/module.hpp"

namespace hivekit::py {

namespace {

constexpr std::size_t kMaxParams = 12;

// What the last successful fit left.
struct Fitted {
    std::optional<double> best_value;
    std::optional<std::vector<double>> best_solution;
    std::vector<double> history;
    std::vector<std::vector<double>> population;
    std::vector<std::vector<double>> archive_positions;
    std::vector<std::vector<double>> archive_objectives;
};

struct State {
    const ClassSpec* entry = nullptr;
    // 0: free; -1: held by fit; n > 0: n readers.
    std::atomic<int> hold{0};
    std::array<ParamValue, kMaxParams> params{};
    Seed seed;
    Fitted fitted;
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

// Type objects in catalogue order, to find a type's row.
std::vector<PyTypeObject*> g_types;

const ClassSpec& entry_of_type(PyTypeObject* type) {
    auto entries = catalogue();
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
            out.size = 0;
            if (PyUnicode_CompareWithASCIIString(obj, "acs") == 0) out.size = 1;
            if (PyUnicode_CompareWithASCIIString(obj, "elitist") == 0) out.size = 2;
            if (PyUnicode_CompareWithASCIIString(obj, "mmas") == 0) out.size = 3;
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
    std::string callable = std::string(entry.name) + ".__new__";
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
    std::string text = std::string(s.entry->name) + "(";
    for (std::size_t i = 0; i < s.entry->repr_params; ++i) {
        const ParamSpec& p = s.entry->params[i];
        if (i) text += ", ";
        text += p.name;
        text += "=";
        text += p.kind == ParamKind::Real ? format_number(s.params[i].real) : std::to_string(s.params[i].size);
    }
    text += ")";
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
        entry.probe == Probe::Zeros ? std::vector<double>(bounds.dimension(), 0.0) : bounds.centre();
    Ref args(float_list(point));
    if (!args) return false;
    Ref result(PyObject_CallOneArg(objective, args.get()));
    if (!result) return false;
    if (entry.probe == Probe::CentreObjectives) return to_double_vector(result.get()).has_value();
    double value;
    return number_from_result(result.get(), value);
}

// Runs the engine and, on success, replaces the stored results.
PyObject* finish_fit(State& s, Problem& problem, const Bounds* bounds) {
    FitCall call{problem, bounds, s.params.data(), s.seed};
    std::optional<Outcome> outcome;
    if (!run_guarded([&] { outcome = s.entry->run(call); })) return nullptr;
    // The run looks for Ctrl-C only now and then; one that came after its last
    // look must still fail this fit before anything is stored, not after.
    if (PyErr_CheckSignals() < 0) return nullptr;
    if (auto* error = std::get_if<OptimizerError>(&*outcome)) {
        std::string text = error->display();
        PyErr_SetString(PyExc_ValueError, text.c_str());
        return nullptr;
    }
    RunResult& result = std::get<RunResult>(*outcome);
    // A tour search in which no ant reached a finite length has nothing to
    // report: the earlier results stay (an unfitted estimator stays unfitted).
    if (s.entry->family == Family::BestOnly && !result.best_value) Py_RETURN_NONE;
    Fitted fitted;
    switch (s.entry->family) {
        case Family::BestOnly:
            if (result.best_value) fitted.history.assign(1, *result.best_value);
            if (result.best_solution) fitted.population.assign(1, *result.best_solution);
            break;
        case Family::Recorded:
            fitted.history = std::move(result.history);
            fitted.population = std::move(result.population);
            break;
        case Family::ParetoArchive:
            fitted.population = std::move(result.population);
            fitted.archive_positions = std::move(result.archive_positions);
            fitted.archive_objectives = std::move(result.archive_objectives);
            break;
    }
    if (s.entry->family != Family::ParetoArchive) {
        fitted.best_value = result.best_value;
        fitted.best_solution = std::move(result.best_solution);
    }
    s.fitted = std::move(fitted);
    Py_RETURN_NONE;
}

constexpr const char* kBoxParams[] = {"objective", "lower", "upper"};
constexpr const char* kTourParams[] = {"distance_matrix"};

std::optional<std::vector<double>> limits_argument(PyObject* obj, const char* name) {
    auto values = to_double_vector(obj);
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
    if (!probe(*s.entry, given[0], bounds)) return nullptr;
    CallableProblem problem(given[0], bounds.dimension());
    return finish_fit(s, problem, &bounds);
}

PyObject* fit_box(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    State& s = state_of(self);
    std::string callable = std::string(s.entry->name) + ".fit";
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
    std::string callable = std::string(s.entry->name) + ".fit";
    PyObject* given[1];
    if (!bind_fast(callable.c_str(), kTourParams, 1, args, nargsf, kwnames, given)) return nullptr;
    ExclusiveHold hold(s);
    if (!hold) return nullptr;
    std::optional<TourProblem> problem;
    if (!run_guarded(
            [&] {
                auto matrix = to_distance_matrix(given[0], "distance_matrix");
                if (matrix) problem.emplace(std::move(*matrix), check_signals);
            }) ||
        !problem)
        return nullptr;
    return finish_fit(s, *problem, nullptr);
}

PyObject* unfitted(const char* what) {
    PyErr_Format(PyExc_ValueError, "must call fit() before %s()", what);
    return nullptr;
}

PyObject* estimator_predict(PyObject* self, PyObject*) {
    State& s = state_of(self);
    SharedHold hold(s);
    if (!hold) return nullptr;
    const Fitted& f = s.fitted;
    if (s.entry->family == Family::ParetoArchive) {
        if (f.archive_positions.empty()) return unfitted("predict");
        return float_rows(f.archive_positions);
    }
    if (!f.best_solution) return unfitted("predict");
    if (!s.entry->index_solution) return float_list(*f.best_solution);
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
    const Fitted& f = s.fitted;
    if (s.entry->family == Family::ParetoArchive) {
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
    std::array<PyMethodDef, 5> methods{};
};

std::string method_doc(const char* signature, const char* doc) {
    std::string text = std::string(signature) + "\n--\n\n";
    if (doc) text += doc;
    return text;
}

PyObject* make_type(const ClassSpec& entry, TypeTexts& texts) {
    texts.doc = std::string(entry.name) + "(";
    for (const ParamSpec& p : entry.params) texts.doc += std::string(p.name) + "=" + p.default_text + ", ";
    texts.doc += "random_state=None)\n--\n\n";
    texts.doc += entry.docstring;

    MethodDocs docs = method_docs(entry);
    const bool tour = entry.input == FitInput::Tour;
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
    texts.methods[4] = {nullptr, nullptr, 0, nullptr};

    std::vector<PyType_Slot> slots = {
        {Py_tp_new, reinterpret_cast<void*>(estimator_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(estimator_dealloc)},
        {Py_tp_doc, const_cast<char*>(texts.doc.c_str())},
        {Py_tp_methods, texts.methods.data()},
        {Py_tp_getset, entry.family == Family::ParetoArchive ? kPopulationOnly : kAllAttributes},
    };
    if (entry.repr_params) slots.push_back({Py_tp_repr, reinterpret_cast<void*>(estimator_repr)});
    slots.push_back({0, nullptr});

    // Created under its module path so that __module__ is set (pickle and the
    // default repr find the class through it), then named by its bare class name.
    std::string dotted = std::string("hivekit._hivekit.") + entry.name;
    PyType_Spec type_spec = {dotted.c_str(), static_cast<int>(sizeof(EstimatorObject)), 0,
                             Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots.data()};
    Ref type(PyType_FromSpec(&type_spec));
    if (!type) return nullptr;
    reinterpret_cast<PyTypeObject*>(type.get())->tp_name = entry.name;
    return type.release();
}

}  // namespace

bool add_estimator_types(PyObject* module) {
    static std::vector<std::unique_ptr<TypeTexts>> texts;
    if (g_types.empty()) {
        std::vector<PyTypeObject*> made;
        for (const ClassSpec& entry : catalogue()) {
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
        if (!add_public(module, catalogue()[i].name, reinterpret_cast<PyObject*>(g_types[i]))) return false;
    }
    return true;
}

}  // namespace hivekit::py
