"""TSPLIB reader: the bundled instances, the distance rules, and malformed files."""

import math
import random
import subprocess
import sys
from importlib import resources

import pytest

from hivekit import tsplib
from hivekit._hivekit import _plane_rows
from small_runs import CHILD_ENV, UNDER_ASAN

PUBLISHED = tsplib.BUNDLED_OPTIMA  # the table; each optimum is checked against the length of its bundled tour
MATRIX = [[0, 3, 4, 5], [3, 0, 6, 7], [4, 6, 0, 8], [5, 7, 8, 0]]
HEADER = "NAME : bad\nTYPE : TSP\nDIMENSION : 3\nEDGE_WEIGHT_TYPE : EUC_2D\n"
TOUR_HEADER = "NAME : t\nTYPE : TOUR\nDIMENSION : 3\nTOUR_SECTION\n"


def write(tmp_path, text, name="case.tsp"):
    path = tmp_path / name
    path.write_text(text)
    return path


def coordinates(tmp_path, weight_type, points):
    body = "".join(f"{i} {x} {y}\n" for i, (x, y) in enumerate(points, start=1))
    return write(tmp_path, f"NAME : case\nTYPE : TSP\nDIMENSION : {len(points)}\nEDGE_WEIGHT_TYPE : {weight_type}\n"
                           f"NODE_COORD_SECTION\n{body}EOF\n")


@pytest.mark.parametrize("name", sorted(PUBLISHED))
def test_bundled_optimal_tour_measures_its_published_length(name):
    shipped = sorted(f.name for f in (resources.files("hivekit") / "data" / "tsplib").iterdir())
    assert shipped == sorted(f"{n}{suffix}" for n in PUBLISHED for suffix in (".tsp", ".opt.tour"))
    instance, tour = tsplib.load_tsplib(name), tsplib.load_tour(name)
    assert instance.name == name and instance.optimum == PUBLISHED[name] and sorted(tour) == list(range(len(tour)))
    assert [len(row) for row in instance.distance_matrix] == [instance.dimension] * instance.dimension == [len(tour)] * len(tour)
    assert tsplib.tour_length(tour, instance.distance_matrix) == PUBLISHED[name]


def test_instances_by_path_or_name_unknown_ones_and_a_dimension_too_large_to_hold(tmp_path):
    copy = tmp_path / "berlin52.tsp"
    copy.write_bytes((resources.files("hivekit") / "data" / "tsplib" / "berlin52.tsp").read_bytes())
    assert tsplib.load_tsplib(copy) == tsplib.load_tsplib("berlin52.tsp") == tsplib.load_tsplib("berlin52")
    assert tsplib.load_tsplib(coordinates(tmp_path, "EUC_2D", [(0, 0), (3, 4)])).optimum is None
    with pytest.raises(FileNotFoundError, match="berlin52"):
        tsplib.load_tsplib("no-such-instance")
    path = write(tmp_path, "NAME : huge\nTYPE : TSP\nDIMENSION : 85900000\nEDGE_WEIGHT_TYPE : EUC_2D\nNODE_COORD_SECTION\n")
    with pytest.raises(MemoryError, match="DIMENSION 85900000 needs .* GiB"):
        tsplib.load_tsplib(path)
    with pytest.raises(MemoryError) as caught:  # a dimension of thousands of digits, quoted in a short message
        tsplib.load_tsplib(write(tmp_path, "NAME : huge\nDIMENSION : " + "9" * 4000 + "\n"))
    assert len(str(caught.value)) < 200 and "9" * 40 + "\u2026" in str(caught.value)


def test_a_bundled_optimum_goes_with_the_bundled_cities_not_with_the_name(tmp_path):
    berlin = tsplib.load_tsplib("berlin52")
    # The same cities under another name, written by this file's own hand.
    assert tsplib.load_tsplib(coordinates(tmp_path, "EUC_2D", berlin.coordinates)).optimum == PUBLISHED["berlin52"]
    text = (resources.files("hivekit") / "data" / "tsplib" / "berlin52.tsp").read_text()
    first = next(line for line in text.splitlines() if line.startswith("1 "))
    for other in [text.replace(first, "1 565.0 576.0"), text.replace("EUC_2D", "CEIL_2D"),
                  "NAME : berlin52\nTYPE : TSP\nDIMENSION : 52\nEDGE_WEIGHT_TYPE : EUC_2D\nNODE_COORD_SECTION\n"
                  + "".join(f"{i} {i} 0\n" for i in range(1, 53)) + "EOF\n"]:
        instance = tsplib.load_tsplib(write(tmp_path, other, "berlin52.tsp"))
        assert (instance.name, instance.dimension, instance.optimum) == ("berlin52", 52, None)


def test_geo_measures_degrees_and_minutes_on_the_tsplib_sphere(tmp_path):
    # The degrees truncated toward zero: rounding 0.59 or flooring -0.59 would place them 0.32 degrees from the
    # origin, 36 km.
    points = [(0, 0), (0, 1.0), (0, 0.30), (0, 0.59), (0, -0.59), (0.59, 0)]
    m = tsplib.load_tsplib(coordinates(tmp_path, "GEO", points)).distance_matrix
    assert m[0] == [0.0, 112.0, 56.0, 110.0, 110.0, 110.0]


def plane_rule(weight_type, xi, yi, x, y):
    """The TSPLIB rules written out in Python's own arithmetic."""
    squares = (xi - x) * (xi - x) + (yi - y) * (yi - y)
    if weight_type == "EUC_2D":
        return float(math.floor(math.sqrt(squares) + 0.5))
    if weight_type == "CEIL_2D":
        return float(math.ceil(math.sqrt(squares)))
    r = math.sqrt(squares / 10.0)
    t = math.floor(r + 0.5)
    return float(t + 1 if t < r else t)


@pytest.mark.parametrize("weight_type", ["EUC_2D", "CEIL_2D", "ATT"])
def test_plane_rules_give_the_bits_of_python_arithmetic_with_equal_entries_shared(tmp_path, weight_type):
    rng = random.Random(weight_type)
    points = [(rng.uniform(-1e4, 1e4), round(rng.uniform(0, 1e3), 1)) for _ in range(40)] + [(3.0, 4.0), (3.0, 4.0)]
    # Distances of 2.5 (a half, rounded up), sqrt(2) and 5, and sqrt(10) after the ATT division (nint 3 falls short).
    points += [(0, 0), (1.5, 2), (0, 1.5), (1, 1), (10, 0), (30, 40)]
    matrix = tsplib.load_tsplib(coordinates(tmp_path, weight_type, points)).distance_matrix
    expected = [[0.0 if i == j else plane_rule(weight_type, *p, *q) for j, q in enumerate(points)]
                for i, p in enumerate(points)]
    assert [[x.hex() for x in row] for row in matrix] == [[x.hex() for x in row] for row in expected]
    assert matrix[0][1] is matrix[1][0]
    matrix[0][1] = -1.0  # every row is a list of its own
    assert matrix[1][0] == expected[1][0]


# Just above what the interpreter holds, the rules' own buffers cannot be had.
SHORT_OF_MEMORY = """
import resource
from hivekit import _hivekit
held = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
resource.setrlimit(resource.RLIMIT_AS, (held + (1 << 19), resource.RLIM_INFINITY))
try:
    _hivekit._plane_rows([0.0, 1.0], [0.0, 1.0], "ATT")
except MemoryError:
    print("MemoryError")
"""


def test_plane_rules_name_their_rule_exactly_and_raise_memory_error_when_short_of_memory():
    with pytest.raises(ValueError, match="no plane rule named"):
        _plane_rows([0.0], [0.0], "EUC_2D\x00")
    if UNDER_ASAN:
        pytest.skip("the sanitizer needs the address space")
    child = subprocess.run([sys.executable, "-c", SHORT_OF_MEMORY], capture_output=True, text=True, env=CHILD_ENV,
                           timeout=60)
    assert (child.returncode, child.stdout) == (0, "MemoryError\n"), child.stderr


@pytest.mark.parametrize("layout, weights", [
    ("FULL_MATRIX", "0 3 4 5\n3 0 6 7\n4 6 0 8\n5 7 8 0"), ("UPPER_ROW", "3 4 5\n6 7\n8"), ("LOWER_ROW", "3\n4 6\n5 7 8"),
    ("UPPER_DIAG_ROW", "0 3 4 5 0 6 7 0 8 0"), ("LOWER_DIAG_ROW", "0\n3 0 4\n6 0\n5 7 8 0"),
])
def test_explicit_layouts_give_the_same_matrix(tmp_path, layout, weights):
    instance = tsplib.load_tsplib(write(tmp_path, f"NAME: small\nTYPE: TSP\nDIMENSION: 4\nEDGE_WEIGHT_TYPE: EXPLICIT\n"
                                                  f"EDGE_WEIGHT_FORMAT: {layout}\nEDGE_WEIGHT_SECTION\n{weights}\nEOF\n"))
    assert instance.distance_matrix == MATRIX and instance.coordinates is None


def test_asymmetric_matrices_tours_and_lengths(tmp_path):
    path = write(tmp_path, "NAME: a3\nTYPE: ATSP\nDIMENSION: 3\nEDGE_WEIGHT_TYPE: EXPLICIT\nEDGE_WEIGHT_FORMAT: FULL_MATRIX\n"
                           "EDGE_WEIGHT_SECTION\n0 1 2\n3 0 4\n5 6 0\nEOF\n")
    assert tsplib.load_tsplib(path).distance_matrix == [[0, 1, 2], [3, 0, 4], [5, 6, 0]]
    assert tsplib.load_tour(write(tmp_path, TOUR_HEADER + "2\n3 1\n-1\nEOF\n", "t.tour")) == [1, 2, 0]
    assert [tsplib.tour_length(t, MATRIX) for t in ([0, 2, 1], [3], [])] == [4 + 6 + 3, 0.0, 0.0]


def test_a_byte_order_mark_is_read_past_and_function_weights_come_from_the_coordinates(tmp_path):
    square = HEADER.replace("3", "4") + "EDGE_WEIGHT_FORMAT : FUNCTION\nNODE_COORD_SECTION\n1 0 0\n2 0 3\n3 4 3\n4 4 0\nEOF\n"
    (tmp_path / "bom.tsp").write_bytes(b"\xef\xbb\xbf" + square.encode())
    (tmp_path / "bom.tour").write_bytes(b"\xef\xbb\xbf" + (TOUR_HEADER + "3 1 2\n-1\n").encode())
    assert tsplib.load_tsplib(tmp_path / "bom.tsp") == tsplib.load_tsplib(write(tmp_path, square))
    assert tsplib.load_tsplib(tmp_path / "bom.tsp").distance_matrix[0] == [0, 3, 5, 4]
    assert tsplib.load_tour(tmp_path / "bom.tour") == [2, 0, 1]


MALFORMED_INSTANCES = [
    ("", None, "empty"),
    ("NAME : x\n\xff\xfe\n", 2, "not a text file"),
    (HEADER + "NODE_COORD_SECTION\n1 0 0\n2 1 x\n3 2 2\nEOF\n", 7, "expected a number"),
    (HEADER + "NODE_COORD_SECTION\n1 0 0\n2 1 1\nEOF\n", 8, "lists 2 of 3 nodes"),
    (HEADER + "NODE_COORD_SECTION\n1 0 0\n4 1 1\n3 2 2\n", 7, "outside 1..3"),
    (HEADER + "NODE_COORD_SECTION\n1 0 0\n1 1 1\n3 2 2\n", 7, "listed twice"),
    (HEADER + "NODE_COORD_SECTION\n1 0 0\n2 1\n3 2 2\n", 7, "'node x y'"),
    (HEADER + "NODE_COORD_SECTION\n1 0 0\n2 nan 1\n3 2 2\n", 7, "finite"),
    (HEADER + "SHAPE : round\n", 5, "unknown keyword"),
    (HEADER + "DIMENSION : 4\n", 5, "given twice"),
    (HEADER + "EOF\n", None, "needs a NODE_COORD_SECTION"),
    ("NAME : bad\nTYPE : TSP\nNODE_COORD_SECTION\n1 0 0\n", 3, "DIMENSION must be given"),
    ("NAME : bad\nDIMENSION : three\n", 2, "whole number"),
    ("NAME : bad\nTYPE : TOUR\n", 2, "load_tour"),
    ("NAME : bad\nDIMENSION : 3\nEDGE_WEIGHT_TYPE : EUC_3D\n", 3, "not supported"),
    ("NAME : bad\nTYPE : TSP\nDIMENSION : 3\nNODE_COORD_SECTION\n1 0 0\n2 1 1\n3 2 2\n", None, "EDGE_WEIGHT_TYPE is missing"),
    ("NAME : bad\nDIMENSION : 3\nEDGE_WEIGHT_TYPE : EXPLICIT\nEDGE_WEIGHT_SECTION\n1 2 3\n", 4, "EDGE_WEIGHT_FORMAT must be"),
    ("NAME : bad\nDIMENSION : 3\nEDGE_WEIGHT_TYPE : EXPLICIT\nEDGE_WEIGHT_FORMAT : FUNCTION\nEDGE_WEIGHT_SECTION\n1 2 3\n",
     5, "EDGE_WEIGHT_FORMAT FUNCTION gives no layout"),
    ("NAME : bad\nDIMENSION : 3\nEDGE_WEIGHT_TYPE : EXPLICIT\nEDGE_WEIGHT_FORMAT : UPPER_ROW\nEDGE_WEIGHT_SECTION\n1 2\n3 4\n",
     7, "more than 3 entries"),
    ("NAME : bad\nDIMENSION : 3\nEDGE_WEIGHT_TYPE : EXPLICIT\nEDGE_WEIGHT_FORMAT : UPPER_ROW\nEDGE_WEIGHT_SECTION\n1 2\n",
     6, "ends after 2 of 3"),
]
MALFORMED_TOURS = [
    (TOUR_HEADER + "1\n2\n2\n-1\n", 7, "appears twice"),
    (TOUR_HEADER + "1\n4\n2\n-1\n", 6, "outside 1..3"),
    ("NAME : t\nTYPE : TOUR\nTOUR_SECTION\n5\n-1\nDIMENSION : 1\nEOF\n", 4, "city number 5 is outside 1..1"),
    (TOUR_HEADER + "1\n2\n3\n", 7, "not closed by -1"),
    (TOUR_HEADER + "1\n2\n-1\n", None, "visits 2 cities"),
    (TOUR_HEADER + "1\ntwo\n3\n-1\n", 6, "expected a city number"),
    ("NAME : t\nTYPE : TSP\n", 2, "expected TOUR"),
    ("NAME : t\nTYPE : TOUR\nDIMENSION : 3\n", None, "TOUR_SECTION is missing"),
]


@pytest.mark.parametrize("load, text, line, fragment", [(tsplib.load_tsplib, *case) for case in MALFORMED_INSTANCES]
                         + [(tsplib.load_tour, *case) for case in MALFORMED_TOURS])
def test_malformed_file_is_reported_with_file_and_line(tmp_path, load, text, line, fragment):
    path = tmp_path / "case.tsp"
    path.write_bytes(text.encode("latin-1"))
    with pytest.raises(tsplib.TsplibError) as caught:
        load(path)
    err = caught.value
    assert isinstance(err, ValueError) and err.filename == str(path) and err.line == line
    assert fragment in str(err) and str(path) in str(err)


LONG = "x" * 100000


@pytest.mark.parametrize("load, text", [
    (tsplib.load_tsplib, HEADER + "NODE_COORD_SECTION\n1 0 " + LONG + "\n"),
    (tsplib.load_tsplib, HEADER + "NODE_COORD_SECTION\n1 0 0 " + LONG + "\n"),
    (tsplib.load_tsplib, HEADER + "NODE_COORD_SECTION\n" + LONG + " 0 0\n"),
    (tsplib.load_tsplib, LONG + "\n"),
    (tsplib.load_tsplib, "TYPE : " + LONG + "\n"),
    (tsplib.load_tsplib, "EDGE_WEIGHT_TYPE : " + LONG + "\n"),
    (tsplib.load_tsplib, "DIMENSION : " + LONG + "\n"),
    (tsplib.load_tsplib, "DIMENSION : -" + "9" * 4000 + "\n"),
    (tsplib.load_tour, TOUR_HEADER + LONG + "\n-1\n"),
    (tsplib.load_tour, "TYPE : " + LONG + "\n"),
], ids=["number", "node line", "node number", "keyword", "type", "rule", "dimension", "negative dimension",
        "city", "tour type"])
def test_messages_quote_only_the_start_of_a_long_token(tmp_path, load, text):
    path = write(tmp_path, text)
    with pytest.raises(tsplib.TsplibError) as caught:
        load(path)
    reason = caught.value.reason
    assert len(reason) < 160 and "\u2026" in reason and ("x" * 30 in reason.lower() or "9" * 30 in reason), reason

