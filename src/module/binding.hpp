// Binding of positional and keyword arguments to named parameters, with the
// interpreter's usual messages.
#pragma once

#include "module/py_ref.hpp"

#include <cstddef>
#include <span>

namespace hivekit::py {

// `out` receives borrowed references, null for parameters not given.
// Parameters before `n_required` must be given. `callable` names the
// function in messages, e.g. "ParticleSwarm.fit".
bool bind_fast(const char* callable, std::span<const char* const> names, std::size_t n_required,
               PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames, PyObject** out);
bool bind_tuple(const char* callable, std::span<const char* const> names, std::size_t n_required, PyObject* args,
                PyObject* kwargs, PyObject** out);

}  // namespace hivekit::py
