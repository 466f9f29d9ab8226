"""errmc header --lang python on the example catalogues: typed functions that
mypy --strict checks, and that refuse a wrong value before writing."""
from __future__ import annotations

import importlib
import json
import os
import pathlib
import subprocess
import sys
import textwrap
from typing import Any

import pytest

import errm
from conftest import EXAMPLES, HERE, errmc, log


@pytest.fixture(scope="module")
def modules(tmp_path_factory: pytest.TempPathFactory) -> pathlib.Path:
    out = tmp_path_factory.mktemp("modules")
    for name in ("sim", "solver"):
        errmc("header", "--lang", "python", str(EXAMPLES / f"{name}.toml"), "-o",
              str(out / f"{name}_messages.py"))
    sys.path.insert(0, str(out))
    return out


def test_module_calls_the_library(modules: pathlib.Path, run: errm.Session,
                                  catalogues: pathlib.Path,
                                  monkeypatch: pytest.MonkeyPatch) -> None:
    monkeypatch.setenv("ERRM_ERRMC", "/nonexistent/errmc")  # not needed by generated modules
    sim_messages: Any = importlib.import_module("sim_messages")
    solver_messages: Any = importlib.import_module("solver_messages")
    assert (sim_messages.OPEN_FAILED, sim_messages.STEP_REJECTED_ID) == (37, "SIM-0040")
    assert sim_messages.OPEN_FAILED_process.__doc__ == "ERROR: cannot open %s (code %d)"
    sim = sim_messages.load(run)
    assert sim_messages.OPEN_FAILED_process(sim, "mesh.dat", 13) == 2
    assert sim_messages.STEP_REJECTED_text(sim, 1, 0.5).endswith("dt=0.5\n")
    assert "cannot open mesh.dat (code 13)" in log(catalogues)
    before = log(catalogues)
    refused = [(TypeError, sim_messages.OPEN_FAILED_process, (sim, "mesh.dat", "13")),
               (TypeError, sim_messages.SUMMARY_process, (sim, 1.0)),
               (OverflowError, sim_messages.SUMMARY_process, (sim, -1)),
               (TypeError, sim_messages.OPEN_FAILED_process, (sim, "mesh.dat")),
               (TypeError, sim_messages.RUN_DONE_process, (errm.Subsystem("SIM", 0, ""), "x")),
               (TypeError, solver_messages.SINGULAR_process, (sim, "K"))]
    for exception, function, args in refused:
        with pytest.raises(exception):
            function(*args)
    assert log(catalogues) == before


MISUSE = """
    import errm, sim_messages, solver_messages
    with errm.session(descriptor_root="catalogues/") as s:
        sim = sim_messages.load(s)
        solver = solver_messages.load(s)
        rc: int = sim_messages.OPEN_FAILED_process(sim, "input.dat", 2)
        text: str | None = sim_messages.STEP_REJECTED_text(sim, 3, 0.25)
        sim_messages.OPEN_FAILED_process(sim, "input.dat", "2")  # line 8
        sim_messages.OPEN_FAILED_process(solver, "input.dat", 2)  # line 9
        sim_messages.STEP_REJECTED_process(sim, 3)  # line 10
        bad: str = sim_messages.RUN_DONE_process(sim, "x")  # line 11
"""


def test_mypy_strict(modules: pathlib.Path) -> None:
    (modules / "use.py").write_text(textwrap.dedent(MISUSE))
    env = dict(os.environ, MYPYPATH=os.pathsep.join([str(modules), os.environ["PYTHONPATH"]]))
    run = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental",
                          "--cache-dir", os.devnull, "sim_messages.py", "solver_messages.py",
                          "use.py"], cwd=modules, env=env, capture_output=True, text=True)
    errors = [line.split(":")[:2] for line in run.stdout.splitlines() if ": error:" in line]
    assert (sorted(errors), run.returncode) == ([["use.py", n] for n in ("10", "11", "8", "9")],
                                                1), run.stdout


@pytest.mark.parametrize("names,problem", [
    (["class"], "the Python name class is a keyword or already taken"),
    (["Handle"], "the Python name Handle is a keyword or already taken"),
    (["A", "A_ID"], "the Python name A_ID is a keyword or already taken"),
])
def test_names_python_cannot_hold(tmp_path: pathlib.Path, names: list[str], problem: str) -> None:
    source = tmp_path / "bad.toml"
    source.write_text('subsystem = "BAD"\n' + "".join(
        f'[[message]]\nnumber = {i}\nname = "{n}"\nseverity = "NOTE"\nformat = "x"\n'
        for i, n in enumerate(names)))
    result = errmc("header", "--lang", "python", str(source), check=False)
    assert result.returncode == 1 and problem in result.stderr, result.stderr


def test_texts_survive_as_python_literals(tmp_path: pathlib.Path) -> None:
    fmt, ident = 'say "hi" \\ """ \'\'\' \t é %d', 'ID "1" \\'
    source = tmp_path / "quotes.toml"
    source.write_text('subsystem = "Q\\"S"\n[[message]]\nnumber = -2147483648\nname = "M"\n'
                      f'severity = "NOTE"\nformat = {json.dumps(fmt)}\nid = {json.dumps(ident)}\n')
    errmc("header", "--lang", "python", str(source), "-o", str(tmp_path / "quotes_messages.py"))
    sys.path.insert(0, str(tmp_path))
    module: Any = importlib.import_module("quotes_messages")
    assert (module.SUBSYSTEM, module.M, module.M_ID) == ('Q"S', -2**31, ident)
    assert module.M_process.__doc__ == "NOTE: " + fmt
