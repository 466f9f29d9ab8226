"""Shared set-up: the library and errmc of the build (ERRM_LIBRARY, ERRM_ERRMC),
catalogues compiled into a scratch folder, and a session over them.

The library allows 15 descriptor loads per process: each test file runs in a
process of its own and loads a few times only."""
from __future__ import annotations

import os
import pathlib
import subprocess
from typing import Iterator

import pytest

import errm

HERE = pathlib.Path(__file__).resolve().parent
EXAMPLES = HERE.parent.parent / "examples" / "simulator"


def errmc(*args: str, check: bool = True) -> subprocess.CompletedProcess[str]:
    return subprocess.run([os.environ["ERRM_ERRMC"], *args], capture_output=True, text=True,
                          check=check)


# Subsystem TYPES: a message per argument type, numbered from 1, reported on LOG.
TYPES = [("NONE", "no arguments"), ("D", "[%d]"), ("HD", "[%hd]"), ("HHU", "[%hhu]"),
         ("U", "[%u]"), ("LU", "[%lu]"), ("LLD", "[%lld]"), ("ZU", "[%zu]"), ("S", "[%s]"),
         ("LS", "[%ls]"), ("C", "[%c]"), ("LC", "[%lc]"), ("P", "[%p]"), ("F", "[%.1f]"),
         ("LF", "[%.1Lf]"), ("STAR", "[%*d]"), ("POS", "[%2$s %1$hhd]"),
         ("HIGH_RC", "returns %d", "rc = 1071"), ("THREAD", "thread %d line %d of %s"),
         ("LATE", "late", 'severity = "ERROR_DELAYED"\nreports = ["LOG", "CHI"]')]


def types_source() -> str:
    return 'subsystem = "TYPES"\nstamp = "py-tests"\n' + "".join(
        f'[[message]]\nnumber = {n}\nname = "{name}"\nformat = \'{fmt}\'\n' +
        (extra[0] + "\n" if extra else "") +
        ('' if extra and "severity" in extra[0] else 'severity = "NOTE"\nreports = ["LOG"]\n')
        for n, (name, fmt, *extra) in enumerate(TYPES, 1))


@pytest.fixture(scope="module")
def catalogues(tmp_path_factory: pytest.TempPathFactory) -> pathlib.Path:
    out = tmp_path_factory.mktemp("catalogues")
    (out / "types.toml").write_text(types_source())
    for source in (out / "types.toml", EXAMPLES / "sim.toml", EXAMPLES / "solver.toml"):
        errmc("compile", str(source), "-o", str(out))
    return out


@pytest.fixture(scope="module")
def run(catalogues: pathlib.Path) -> Iterator[errm.Session]:
    """One session for a whole test file; its report files are run.*"""
    with errm.session(descriptor_root=catalogues, report_root=catalogues / "run",
                      transcript=catalogues / "run.tra") as s:
        yield s


def log(catalogues: pathlib.Path) -> str:
    """run.log without the blanks the library keeps ahead of its last line."""
    path = catalogues / "run.log"
    return path.read_text().rstrip() + "\n" if path.exists() else ""
