"""The type stubs of the engine module describe what the built module really offers."""

import os
import pathlib
import site
import subprocess
import sys

import pytest

import hivekit

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


def test_the_stub_classes_and_the_readme_table_are_as_the_registry_writes_them():
    # The class and method docstrings, the published signatures (stubtest cannot see constructor defaults: the
    # runtime __new__ takes *args, **kwargs), the smallest sizes with their refusals and the counts of objective
    # calls live in the engine; these two files are written from it, so a change there shows here and in review.
    script = pathlib.Path(__file__).resolve().parents[2] / "scripts" / "generate_surface.py"
    run = subprocess.run([sys.executable, str(script), "--check"], capture_output=True, text=True, timeout=120,
                         env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    assert run.returncode == 0, run.stderr
    assert (PACKAGE / "py.typed").is_file()
