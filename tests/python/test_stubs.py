"""The type stubs of the engine module describe what the built module really offers."""

import ast
import inspect
import os
import pathlib
import site
import subprocess
import sys

import pytest

import hivekit
from hivekit._registry import CLASSES

PACKAGE = pathlib.Path(hivekit.__file__).resolve().parent
LIMITS = """import array
import numpy as np
import hivekit
est = hivekit.ParticleSwarm(random_state=0)
est.fit(sum, np.zeros(3), np.ones(3))
est.fit(sum, array.array('d', [0.0]), memoryview(array.array('d', [1.0])))
est.fit(sum, [0, 0.5], (1, 2.0))
est.fit(sum, {0: 0.0}, [1.0])
"""


def test_stubtest_finds_no_difference_and_examples_and_limits_type_check_strictly(tmp_path):
    pytest.importorskip("mypy")
    env = dict(os.environ)
    if str(PACKAGE.parent) not in site.getsitepackages() + [site.getusersitepackages()]:
        # An uninstalled package is only seen through MYPYPATH; without it stubtest would find no stub and report
        # success without checking anything. (mypy refuses site-packages there.)
        env["MYPYPATH"] = str(PACKAGE.parent)
    (tmp_path / "limits.py").write_text(LIMITS)
    # The optional plotting library is not ours to check, and reading its stubs would take most of the time.
    (tmp_path / "mypy.ini").write_text("[mypy]\nstrict = True\n\n[mypy-matplotlib.*]\nfollow_imports = skip\n"
                                       "ignore_missing_imports = True\n")
    examples = pathlib.Path(__file__).resolve().parents[2] / "examples"
    commands = [["mypy.stubtest", "hivekit._hivekit"], ["mypy", "--config-file", "mypy.ini",
                                                           "--cache-dir", "check-cache", str(examples), "limits.py"]]
    runs = [subprocess.Popen([sys.executable, "-m", *c], cwd=tmp_path, env=env, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True) for c in commands]  # side by side (each with a cache of its own): both are slow
    (stubtest, _), (checked, _) = [run.communicate(timeout=300) for run in runs]
    assert runs[0].returncode == 0 and "no issues found in 1 module" in stubtest, stubtest
    # Only the mapping, which is neither a sequence nor a buffer, is refused.
    assert checked.count("error:") == 1 and "limits.py:8: error: Argument 2" in checked, checked


@pytest.mark.parametrize("info", CLASSES, ids=[info.name for info in CLASSES])
def test_stub_declares_the_published_constructor_and_history_exactly_where_the_class_has_it(info):
    # stubtest cannot see constructor defaults: the runtime __new__ takes *args, **kwargs.
    stub = next(node for node in ast.parse((PACKAGE / "_hivekit.pyi").read_text()).body
                if isinstance(node, ast.ClassDef) and node.name == info.name)
    members = {f.name: f for f in stub.body if isinstance(f, ast.FunctionDef)}
    new = members["__new__"].args
    declared = [(a.arg, ast.literal_eval(d)) for a, d in zip(new.args[1:], new.defaults, strict=True)]
    runtime = [(p.name, p.default) for p in inspect.signature(info.cls).parameters.values()]
    assert declared == runtime and [type(v) for _, v in declared] == [type(v) for _, v in runtime]
    assert ("history_" in members) == (info.family != "pareto") == hasattr(info.cls, "history_")
    assert {"fit", "predict", "score", "get_params", "population_"} <= set(members)
    assert (PACKAGE / "py.typed").is_file()


def test_the_stub_classes_and_the_readme_table_are_as_the_registry_writes_them():
    # The class docstrings, signatures, smallest sizes and their refusals live in the registry; these two files
    # are written from it, so a change there shows here and in review.
    script = pathlib.Path(__file__).resolve().parents[2] / "scripts" / "generate_surface.py"
    run = subprocess.run([sys.executable, str(script), "--check"], capture_output=True, text=True, timeout=120,
                         env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    assert run.returncode == 0, run.stderr
