"""Sphinx settings for the hivekit documentation (built by scripts/test.sh with warnings as errors)."""

import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).parent / "_ext"))

import hivekit  # noqa: E402
from hivekit import _hivekit, tsplib  # noqa: E402

project = "hivekit"
author = "the hivekit developers"
copyright = "the hivekit developers"
release = version = hivekit.__version__

extensions = [
    "sphinx.ext.autodoc",
    "matplotlib.sphinxext.plot_directive",
    "hyperparameters",
]
exclude_patterns = ["_build"]
html_theme = "alabaster"
html_theme_options = {"page_width": "1240px"}
html_static_path = ["_static"]
html_css_files = ["wide.css"]
autodoc_member_order = "bysource"
# Lists that the pages name, made from the tables that state them.
rst_epilog = f"""
.. |bundled_instances| replace:: {tsplib._listed([f"``{name}``" for name in tsplib.bundled_names()])}
.. |variant_names| replace:: {", ".join(f'``"{name}"``' for name in _hivekit._variant_names)}
.. |variant_codes| replace:: {", ".join(f"{code} {name}" for code, name in enumerate(_hivekit._variant_names))}
"""

# Every example with a plot is run while the pages are built, so a broken example fails the build.
plot_include_source = True
plot_html_show_source_link = False
plot_html_show_formats = False
plot_formats = [("png", 80)]
plot_rcparams = {"figure.figsize": (6.0, 4.0)}
