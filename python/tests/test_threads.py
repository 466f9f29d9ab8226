"""Calls from several Python threads: every line written whole and once."""
from __future__ import annotations

import pathlib
import re
import threading

import errm
from conftest import log

THREADS, LINES = 4, 10_000


def test_threads_write_every_line_intact(run: errm.Session, catalogues: pathlib.Path) -> None:
    types = run.load("TYPES")
    start = threading.Barrier(THREADS)
    failures: list[BaseException] = []

    def work(t: int) -> None:
        start.wait()
        try:
            for i in range(LINES):
                types.process("THREAD", t, i, f"thread-{t}")
                if i % 1000 == 0:  # the text is the calling thread's own
                    want = f"** Note: (TYPES - 19) thread {t} line {i} of x\n"
                    assert types.text("THREAD", t, i, "x") == want
        except BaseException as e:
            failures.append(e)

    threads = [threading.Thread(target=work, args=(t,)) for t in range(THREADS)]
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    assert not failures
    lines = [ln for ln in log(catalogues).splitlines() if "(TYPES - 19)" in ln]
    pattern = re.compile(r"\*\* Note: \(TYPES - 19\) thread (\d) line (\d+) of thread-\1")
    seen = sorted((int(m[1]), int(m[2])) for m in map(pattern.fullmatch, lines) if m)
    assert len(lines) == THREADS * LINES
    assert seen == [(t, i) for t in range(THREADS) for i in range(LINES)]
