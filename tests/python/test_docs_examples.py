"""Every Python example of the README and of the documentation runs as written, each as a script of its own in
an empty folder (a C example beside it is compiled there first), so that none can go stale."""

import ast
import importlib.util
import pathlib
import re
import shutil
import subprocess
import sys
import textwrap

import pytest

from small_runs import CHILD_ENV, UNDER_ASAN

ROOT = pathlib.Path(__file__).resolve().parents[2]
FENCE = re.compile(r"^( *)```(\w+)\n(.*?)^\1```$", re.M | re.S)
DIRECTIVE = re.compile(r"^( *)\.\. code-block:: (\w+)\n\n((?:\1 +.*\n|\n)+)", re.M)
C_NAME = re.compile(r"^/\* (\w+\.c):")


def blocks(path):
    """(language, code) of every fenced block of a Markdown file or code-block directive of a page."""
    text = path.read_text()
    pattern = FENCE if path.suffix == ".md" else DIRECTIVE
    return [(m.group(2), textwrap.dedent(m.group(3))) for m in pattern.finditer(text)]


SOURCES = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.rst"))]
EXAMPLES = [(f"{path.name}-{k}", path, code) for path in SOURCES
            for k, (language, code) in enumerate(blocks(path)) if language == "python"]


def test_the_examples_are_found_in_the_readme_and_the_pages():
    names = {path.name for _, path, _ in EXAMPLES}
    assert {"README.md", "native.rst", "multistart.rst"} <= names and len(EXAMPLES) >= 12
    # Every C example names its file, so that the Python examples using it find it built.
    assert all(C_NAME.match(code) for path in SOURCES for language, code in blocks(path) if language == "c")


@pytest.mark.skipif(UNDER_ASAN, reason="the examples run no engine code the other tests do not")
@pytest.mark.parametrize("path, code", [e[1:] for e in EXAMPLES], ids=[e[0] for e in EXAMPLES])
def test_example_runs_as_written(path, code, tmp_path):
    nodes = list(ast.walk(ast.parse(code)))
    imported = {alias.name for node in nodes if isinstance(node, ast.Import) for alias in node.names}
    imported |= {node.module for node in nodes if isinstance(node, ast.ImportFrom) and node.module}
    missing = [name for name in sorted({name.split(".")[0] for name in imported} - {"hivekit"})
               if importlib.util.find_spec(name) is None]  # an optional package the example uses
    if missing:
        pytest.skip(f"the example needs {', '.join(missing)}")
    for language, source in blocks(path):
        if language == "c":
            c_file = tmp_path / C_NAME.match(source).group(1)
            c_file.write_text(source)
            compiler = shutil.which("cc") or shutil.which("gcc")
            if compiler is None:
                pytest.skip("no C compiler")
            subprocess.run([compiler, "-O2", "-shared", "-fPIC", str(c_file), "-o",
                            str(tmp_path / f"lib{c_file.stem}.so")], check=True)
    script = tmp_path / "example.py"
    script.write_text(code)
    run = subprocess.run([sys.executable, str(script)], cwd=tmp_path, env=CHILD_ENV, capture_output=True,
                         text=True, timeout=300)
    assert run.returncode == 0, run.stderr[-3000:]

