"""The README's "Contributing" steps, taken as written: its random search is added to a copy of the repository,
block by block, the copy is built, and the registry's tests, the stub checks and the documentation build run
against the seventeenth class. Slow (a whole build): scripts/test.sh runs it, by setting HIVEKIT_CONTRIBUTING=1."""

import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
FENCE = re.compile(r"^( *)```(cpp|py)\n(.*?)^\1```$", re.M | re.S)
HEADER = re.compile(r"^(?://|#) (\S+?)(?:, (after the last include|before \w+|at the end of \w+))?\n")
NUMBERS = ["no", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine", "ten"]
# The registry's loops, the stub checks, and the count of objective calls, on the Python side.
TESTS = ["test_contract.py", "test_stubs.py", "test_monitor.py", "test_batches.py", "test_copies_and_buffers.py",
         "test_memory.py", "test_interrupt.py", "test_threads.py"]

pytestmark = pytest.mark.skipif(os.environ.get("HIVEKIT_CONTRIBUTING") != "1",
                                reason="a whole build: scripts/test.sh runs it (HIVEKIT_CONTRIBUTING=1)")


def steps():
    """The Contributing section and its blocks as (path, place, code)."""
    section = (ROOT / "README.md").read_text().split("## Contributing: adding an optimiser\n", 1)[1]
    section = section.split("\n## ", 1)[0]
    blocks = []
    for indent, _, body in FENCE.findall(section):
        code = re.sub(rf"^{indent}", "", body, flags=re.M)
        header = HEADER.match(code)
        assert header, code[:80]
        blocks.append((header.group(1), header.group(2), code[header.end():]))
    return section, blocks


def insert(text, place, code):
    lines = text.splitlines(keepends=True)
    if place == "after the last include":
        at = max(i for i, line in enumerate(lines) if line.startswith('#include "')) + 1
    else:
        name = place.split()[-1]
        start = next(i for i, line in enumerate(lines) if re.match(rf"^(\S.* )?{name}(\[\])?(: .*)? = [{{(]", line))
        if place.startswith("before"):
            at = start
            while lines[at - 1].startswith("//"):
                at -= 1
            code += "\n"
        else:  # at the end: before the line that closes the table
            at = next(i for i in range(start + 1, len(lines)) if re.match(r"^[}\])]", lines[i]))
    return "".join(lines[:at] + [code] + lines[at:])


def run(args, cwd, env, timeout=1800):
    done = subprocess.run(args, cwd=cwd, env=env, capture_output=True, text=True, timeout=timeout)
    assert done.returncode == 0, f"{args}\n{done.stdout[-4000:]}\n{done.stderr[-4000:]}"
    return done.stdout


@pytest.mark.timeout(3600)
def test_the_contributing_steps_add_a_seventeenth_class_that_every_registry_loop_picks_up(tmp_path):
    copy = tmp_path / "repo"
    listed = subprocess.run(["git", "ls-files", "--cached", "--others", "--exclude-standard"], cwd=ROOT,
                            capture_output=True, text=True, check=True).stdout.split()
    for name in listed:
        if (ROOT / name).is_file():
            (copy / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(ROOT / name, copy / name)
    before = {name: (copy / name).read_bytes() for name in listed if (copy / name).is_file()}

    section, blocks = steps()
    assert len(blocks) >= 4
    for path, place, code in blocks:
        target = copy / path
        if place is None:
            assert not target.exists(), path
            target.write_text(code)
        else:
            target.write_text(insert(target.read_text(), place, code))

    build = tmp_path / "build"
    env = dict(os.environ, PYTHON=sys.executable)
    env.pop("PYTHONPATH", None)
    package = run(["bash", "scripts/dev_build.sh", str(build), "-DHIVEKIT_BUILD_TESTS=ON"], copy, env).split()[-1]
    run(["cmake", "--build", str(build), "-j", "2", "--target", "engine_tests"], copy, env)
    env["PYTHONPATH"] = package
    run([sys.executable, "scripts/generate_surface.py"], copy, env)

    touched = sorted(str(p.relative_to(copy)) for p in copy.rglob("*")
                     if p.is_file() and before.get(str(p.relative_to(copy))) != p.read_bytes())
    assert len(touched) == 6 and f"{NUMBERS[len(touched)]} in all" in section, touched
    assert {"src/algorithms/registry.cpp", "python/hivekit/_hivekit.pyi", "README.md"} <= set(touched)

    engine = run([str(build / "engine_tests"), "--gtest_brief=1"], copy, env)
    assert "PASSED" in engine
    code = ("import hivekit; from hivekit._registry import CLASSES; est = hivekit.RandomSearch(n_samples=3, "
            "n_iterations=4, random_state=1); est.fit(sum, [0.0], [1.0]); "
            "assert [i.name for i in CLASSES][-1] == 'RandomSearch' and len(est.history_) == 4; "
            "assert hivekit.expected_evaluations(est, 1) == 16")
    run([sys.executable, "-c", code], copy, env)
    tests = run([sys.executable, "-m", "pytest", "-q", "-rA", "-p", "no:cacheprovider",
                 *(f"tests/python/{name}" for name in TESTS)], copy, env)
    assert re.search(r"PASSED \S+\[RandomSearch\]", tests), tests[-3000:]
    run([sys.executable, "-m", "sphinx", "-W", "--keep-going", "-q", "-b", "html", "docs", str(tmp_path / "docs")],
        copy, env)
    page = (tmp_path / "docs" / "api.html").read_text()
    assert "RandomSearch" in page and "n_samples must be at least 1 for random search" in page
