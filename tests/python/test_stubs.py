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
STUB = PACKAGE / "_hivekit.pyi"


def stub_classes():
    tree = ast.parse(STUB.read_text())
    return {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}


def mypy(args, cwd):
    """Runs mypy on the hivekit that the tests import, wherever it lives."""
    pytest.importorskip("mypy")
    env = dict(os.environ)
    search = str(PACKAGE.parent)
    if search not in site.getsitepackages() + [site.getusersitepackages()]:
        # An uninstalled package is only seen through MYPYPATH; without it stubtest would find no stub and
        # report success without checking anything. (mypy refuses site-packages there.)
        env["MYPYPATH"] = search
    return subprocess.run([sys.executable, "-m", *args], cwd=cwd, env=env, capture_output=True, text=True,
                          timeout=300)


def test_stubtest_finds_no_difference(tmp_path):
    result = mypy(["mypy.stubtest", "hivekit._hivekit"], tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "no issues found in 1 module" in result.stdout


def test_examples_and_package_type_check_strictly(tmp_path):
    examples = pathlib.Path(__file__).resolve().parents[2] / "examples"
    config = tmp_path / "mypy.ini"
    # The optional plotting library is not ours to check, and reading its stubs would take most of the time.
    config.write_text("[mypy]\nstrict = True\n\n[mypy-matplotlib.*]\nfollow_imports = skip\nignore_missing_imports = True\n")
    result = mypy(["mypy", "--config-file", str(config), str(examples)], tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_limits_may_be_numpy_arrays_and_other_buffers(tmp_path):
    pytest.importorskip("numpy")
    script = tmp_path / "limits.py"
    script.write_text(
        "import array\n"
        "import numpy as np\n"
        "import hivekit\n"
        "est = hivekit.ParticleSwarm(random_state=0)\n"
        "est.fit(sum, np.zeros(3), np.ones(3))\n"
        "est.fit(sum, array.array('d', [0.0]), memoryview(array.array('d', [1.0])))\n"
        "est.fit(sum, [0, 0.5], (1, 2.0))\n"
        "est.fit(sum, {0: 0.0}, [1.0])\n"
    )
    result = mypy(["mypy", "--strict", str(script)], tmp_path)
    # Only the mapping, which is neither a sequence nor a buffer, is refused.
    assert result.stdout.count("error:") == 1 and "limits.py:8: error: Argument 2" in result.stdout, result.stdout


@pytest.mark.parametrize("info", CLASSES, ids=[info.name for info in CLASSES])
def test_stub_declares_the_published_constructor_and_history_exactly_where_the_class_has_it(info):
    # stubtest cannot see constructor defaults: the runtime __new__ takes *args, **kwargs.
    members = {f.name: f for f in stub_classes()[info.name].body if isinstance(f, ast.FunctionDef)}
    new = members["__new__"].args
    stub = [(a.arg, ast.literal_eval(d)) for a, d in zip(new.args[1:], new.defaults, strict=True)]
    runtime = [(p.name, p.default) for p in inspect.signature(info.cls).parameters.values()]
    assert stub == runtime and [type(v) for _, v in stub] == [type(v) for _, v in runtime]
    assert ("history_" in members) == (info.family != "pareto") == hasattr(info.cls, "history_")
    assert {"fit", "predict", "score", "get_params", "population_"} <= set(members)


def test_package_is_marked_typed():
    assert (PACKAGE / "py.typed").is_file()
