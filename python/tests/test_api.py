"""Sessions, subsystems, the library's other calls, and failures as errm.Error."""
from __future__ import annotations

import json
import pathlib
from typing import Any, Callable, Iterator

import pytest

import errm
from conftest import errmc, log

LONG = "x" * 1024


@pytest.fixture
def open_session(catalogues: pathlib.Path) -> Iterator[Callable[..., errm.Session]]:
    sessions = []

    def start(**settings: Any) -> errm.Session:
        s = errm.session(descriptor_root=catalogues, report_root=catalogues / "run",
                         transcript=catalogues / "run.tra", **settings)
        sessions.append(s)
        return s.__enter__()
    yield start
    for s in sessions:
        s.__exit__(None, None, None)


def test_version_and_date() -> None:
    assert errm.version() == (1, 0, 3, 0) and errm.date() == "2007/01/08"


def test_messages_and_their_results(open_session: Any, catalogues: pathlib.Path, capfd: Any,
                                    monkeypatch: pytest.MonkeyPatch) -> None:
    s = open_session(max_repeats=1)
    sim, types = s.load("SIM"), s.load("TYPES")
    assert s.infos("SIM") == errm.Infos("example-1", (1, 0, 3, 0))
    assert sim.process(errm_sim_open_failed := 37, "input.dat", 2) == 2  # the message's rc
    assert types.process("HIGH_RC", 5) == 1071  # its own rc, even at 1000 or more
    assert "cannot open input.dat (code 2)" in capfd.readouterr().out
    # A repetition limit of 1, and a counter reset that lets it print again.
    sim.process(errm_sim_open_failed, "again.dat", 3)
    sim.reset_counter(errm_sim_open_failed)
    sim.process(errm_sim_open_failed, "reset.dat", 4)
    out = capfd.readouterr().out
    assert "again.dat" not in out and "reset.dat" in out
    with pytest.raises(errm.NotFoundError):
        sim.reset_counter(99)
    # Direct and user messages: a percent sign is text, not a conversion.
    monkeypatch.setenv("PY_LEVEL", "2")
    s.direct("TRACE", "L", "PY_LEVEL", 2, "100% shown")
    s.direct("TRACE", "L", "PY_LEVEL", 3, "not shown")
    assert s.user_message(7, 7, "PY", "a &lt;b&gt; 5%\\n", ["STDOUT", "LOG"]) == 0x81
    assert s.user_message(7, 7, "PY", "silenced\\n", 0) == 0
    assert "a <b> 5%" in capfd.readouterr().out
    text = log(catalogues)
    assert "(TRACE-PY_LEVEL-2) 100% shown" in text and "not shown" not in text
    # A delayed error is counted and goes to the CHI stream handed in.
    before, chi = errm.delayed_errors(), catalogues / "run.chi"
    with open(chi, "w") as f, s.chi_stream(f):
        types.process("LATE")
    assert errm.delayed_errors() == before + 1 and "late" in chi.read_text()


def test_settings(catalogues: pathlib.Path, capfd: Any, monkeypatch: pytest.MonkeyPatch) -> None:
    s = errm.session(descriptor_root=catalogues, channels={"STDOUT": False}).__enter__()
    s.load("SIM").process(1, "quiet", 1)
    assert capfd.readouterr().out == ""
    with pytest.raises(RuntimeError):  # one session at a time
        errm.session().__enter__()
    with pytest.raises(ValueError):
        s.authorize("NOWHERE")
    s.__exit__(None, None, None)
    with pytest.raises(ValueError):
        errm.session(transcript=LONG).__enter__()
    monkeypatch.delenv("ORV_VCO")
    with pytest.raises(errm.PlatformError):
        errm.session().__enter__()
    monkeypatch.setenv("ORV_VCO", "ixl")
    with errm.session():  # the failed starts left no session open
        pass


def junk_descriptor(s: errm.Session, catalogues: pathlib.Path) -> None:
    (catalogues / "errm_desc_JUNK.bin").write_bytes(b"not a descriptor" * 8)
    s.load("JUNK")


ERRORS = [  # call, exception, code
    (lambda s, c: s.load("MISSING"), errm.OpenError, 1071),
    (junk_descriptor, errm.DescriptorError, 1048),
    (lambda s, c: s.load("SIM").process(99), errm.NotFoundError, 1024),  # refused before the call
    (lambda s, c: s.load("SIM").process_signature(errm.Signature(99, 0, ())), errm.NotFoundError,
     1024),
    (lambda s, c: errm.Subsystem("X", 14, "").process_signature(errm.Signature(1, 0, ())),
     errm.NotLoadedError, 1050),
    (lambda s, c: errm.Subsystem("X", 16, "").process_signature(errm.Signature(1, 0, ())),
     errm.NotLoadedError, 1064),
    (lambda s, c: s.direct("X", "S", "V", 0, "text"), errm.FormatError, 1099),
    (lambda s, c: s.direct("T", "S", "V", 0, ""), errm.FormatError, 1098),
]


@pytest.mark.parametrize("call,family,code", ERRORS)
def test_errors(open_session: Any, catalogues: pathlib.Path, call: Any, family: Any,
                code: int) -> None:
    with pytest.raises(family) as caught:
        call(open_session(), catalogues)
    explained = json.loads(errmc("explain", str(code), "--json").stdout)
    e = caught.value
    assert (e.code, e.name, e.cause, e.remedy) == (code, explained["name"], explained["cause"],
                                                   explained["remedy"])
    assert isinstance(e, errm.Error) and explained["remedy"] in str(e)


def test_every_code_has_a_family_name_of_the_library() -> None:
    from errm._errors import _FAMILIES
    names = {r["name"] for r in errm.results().values() if r["code"] >= 1000}
    assert len(names) == 37 and set(_FAMILIES) <= names
