"""Each Python value is converted to exactly its C type or refused before
anything is written."""
from __future__ import annotations

import pathlib
from typing import Any

import pytest

import errm
from conftest import log

W = (1 << 64) - 1
CASES = [  # message, arguments, the text it shows or the exception refusing it
    ("NONE", (), "no arguments"), ("NONE", (1,), TypeError),
    ("D", (-2**31,), "[-2147483648]"), ("D", (2**31 - 1,), "[2147483647]"),
    ("D", (True,), "[1]"),
    ("D", ("7",), TypeError), ("D", (1.5,), TypeError), ("D", (None,), TypeError),
    ("D", (2**31,), OverflowError), ("D", (), TypeError), ("D", (1, 2), TypeError),
    ("HD", (-32768,), "[-32768]"), ("HD", (32767,), "[32767]"), ("HD", (32768,), OverflowError),
    ("HD", (-32769,), OverflowError),
    ("HHU", (255,), "[255]"), ("HHU", (256,), OverflowError), ("HHU", (-1,), OverflowError),
    ("U", (2**32 - 1,), "[4294967295]"), ("U", (-1,), OverflowError),
    ("LU", (W,), f"[{W}]"), ("LU", (W + 1,), OverflowError),
    ("LLD", (-2**63,), f"[{-2**63}]"), ("LLD", (2**63,), OverflowError),
    ("ZU", (W,), f"[{W}]"), ("ZU", (-1,), OverflowError),
    ("S", ("é ok",), "[é ok]"), ("S", (b"bytes",), "[bytes]"), ("S", (1.5,), TypeError),
    ("S", (None,), TypeError), ("S", (3,), TypeError), ("S", ("a\0b",), ValueError),
    ("LS", ("wide",), "[wide]"), ("LS", (b"x",), TypeError),
    ("C", ("A",), "[A]"), ("C", (66,), "[B]"), ("C", (b"C",), "[C]"), ("C", ("AB",), TypeError),
    ("C", ("é",), TypeError), ("C", (256,), OverflowError), ("C", (1.0,), TypeError),
    ("LC", ("Z",), "[Z]"), ("LC", (0x110000,), OverflowError), ("LC", ("ZZ",), TypeError),
    ("P", (None,), "[(nil)]"), ("P", (0x1000,), "[0x1000]"), ("P", ("x",), TypeError),
    ("P", (-1,), OverflowError),
    ("F", (2,), "[2.0]"), ("F", (0.25,), "[0.2]"), ("F", ("1",), TypeError),
    ("F", (True,), TypeError), ("F", (10**400,), OverflowError),
    ("LF", (1.25,), "[1.2]"), ("LF", ("x",), TypeError),
    ("STAR", (5, 42), "[   42]"), ("STAR", (5.0, 42), TypeError),
    ("STAR", (2**31, 1), OverflowError),
    ("POS", (-128, "x"), "[x -128]"), ("POS", ("x", 1), TypeError),
    ("POS", (128, "x"), OverflowError),
]


@pytest.fixture(scope="module")
def types(run: errm.Session) -> errm.Subsystem:
    return run.load("TYPES")


@pytest.mark.parametrize("name,args,expected", CASES)
def test_argument(types: errm.Subsystem, catalogues: pathlib.Path, name: str, args: Any,
                  expected: Any) -> None:
    if isinstance(expected, str):
        text = types.text(name, *args)
        assert text is not None and text.endswith(f") {expected}\n"), text
        assert types.process(name, *args) == 0
        assert log(catalogues).endswith(f") {expected}\n")
        return
    before = log(catalogues)
    for call in (types.process, types.text):
        with pytest.raises(expected):
            call(name, *args)
    assert log(catalogues) == before  # refused before anything was written
