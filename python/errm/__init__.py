"""Python callers of liberrm: a session over ERRM_Init and ERRM_FInit, loaded
subsystems whose messages take exactly the arguments their formats read, and
failures raised as errm.Error.

    import errm
    with errm.session(descriptor_root="catalogues/", report_root="run1") as s:
        sim = s.load("SIM")
        rc = sim.process(37, "input.dat", 2)   # the message's own result
        text = sim.text("OPEN_FAILED", "restart.dat", 2)

The library is found through $ERRM_LIBRARY, then the prefix the package was
installed with, then the system loader. Argument types come from errmc (its
dump --json, run once per loaded subsystem on the first process or text
call): errmc is found through $ERRM_ERRMC, the prefix, then PATH. Modules
written by errmc header --lang python need no errmc at run time.

Every function may be called from any thread: the library serialises the
calls, and ctypes releases the interpreter lock around each one.
"""
from __future__ import annotations

import contextlib
import ctypes
import json
import os
import subprocess
import threading
from typing import (IO, Any, Dict, Iterable, Iterator, Mapping, NamedTuple, Optional, Tuple,
                    Type, TypeVar, Union, overload)

from . import _lib
from ._args import ArgSpec, Signature, convert, from_json
from ._errors import (DescriptorError, Error, FormatError, LimitError, NotFoundError,
                      NotLoadedError, OpenError, PlatformError, ReportError, TraceError, error,
                      results)
from ._lib import decode, encode, library_path

__all__ = [
    "ArgSpec", "DescriptorError", "Error", "FormatError", "Infos", "LimitError", "NotFoundError",
    "NotLoadedError", "OpenError", "PlatformError", "ReportError", "Session", "Signature",
    "Subsystem", "TraceError", "CHANNELS", "date", "delayed_errors", "library_path",
    "process_typed", "results", "session", "text_typed", "version",
]

Text = Union[str, bytes, "os.PathLike[str]"]

# Report channels by name, each with its bit in a user message's mask.
CHANNELS: Dict[str, int] = {name: 1 << i for i, name in enumerate(
    ("STDOUT", "PIPE", "TRANSCRIPT", "DBG_I", "DBG_C", "REPORT", "CHI", "LOG", "REPORT_F"))}


def version() -> Tuple[int, int, int, int]:
    """The library's version (ERRM_GetVersion)."""
    v = (ctypes.c_ubyte * 4)()
    _lib.lib().ERRM_GetVersion(v)
    return (v[0], v[1], v[2], v[3])


def date() -> str:
    """The library's date, "YYYY/MM/DD" (ERRM_GetDate)."""
    buf = ctypes.create_string_buffer(32)
    _lib.lib().ERRM_GetDate(buf)
    return decode(buf.value)


def delayed_errors() -> int:
    """ERROR_DELAYED messages processed since the library was loaded."""
    return int(_lib.lib().ERRM_GetNumberOfDelayedErrors())


class Infos(NamedTuple):
    """A descriptor's stamp and version bytes (ERRM_DisplayInfos)."""

    stamp: str
    version: Tuple[int, int, int, int]


def _check(code: int, call: str, own_rc: Optional[int] = None) -> int:
    # A message's own return code is a result, whatever its value.
    if code >= 1000 and code != own_rc:
        raise error(code, call)
    return code


class Subsystem:
    """A loaded subsystem (ERRM_ReadErrorDescriptor); valid until its session ends."""

    def __init__(self, name: str, index: int, descriptor: str) -> None:
        self.name = name
        self.index = index
        self.descriptor = descriptor  # the file loaded, for errmc dump
        self._signatures: Optional[Dict[int, Signature]] = None
        self._numbers: Dict[str, int] = {}
        self._lock = threading.Lock()

    def __repr__(self) -> str:
        return f"<{type(self).__name__} {self.name} index {self.index}>"

    def _signature(self, message: Union[int, str]) -> Signature:
        with self._lock:
            if self._signatures is None:
                self._read_signatures()
        assert self._signatures is not None
        number = self._numbers.get(message, -1) if isinstance(message, str) else message
        sig = self._signatures.get(number) if isinstance(number, int) else None
        if sig is None or isinstance(message, bool):
            raise NotFoundError(1024, f"{self.name} message {message!r}",
                                f"not in {self.descriptor}")
        return sig

    def _read_signatures(self) -> None:
        # The argument types of every message, as errmc's dump --json gives them.
        run = subprocess.run([_lib.errmc_path(), "dump", "--json", self.descriptor],
                             capture_output=True, check=False)
        # A digest that does not match fails the dump but not the load: the
        # messages are those the library loaded.
        try:
            doc = json.loads(run.stdout)
        except ValueError:
            doc = {}
        if doc.get("subsystem") is None:
            raise OSError(f"errmc dump --json {self.descriptor} failed: "
                          f"{decode(run.stderr).strip()}")
        self._signatures = {m["number"]: from_json(m["number"], m["rc"], m["args"])
                            for m in doc["messages"]}
        self._numbers = {m["name"]: m["number"] for m in doc["messages"]}

    def process(self, message: Union[int, str], *args: object) -> int:
        """Processes a message by number or name (ERRM_ProcessError) and returns
        its own result; errm.Error for a result of 1000 or more."""
        return self.process_signature(self._signature(message), *args)

    def text(self, message: Union[int, str], *args: object) -> Optional[str]:
        """The message's text, written nowhere (ERRM_Get_ErrorMessage); None when
        the library gives none (its return code is 1000 or more, or the format fails)."""
        return self.text_signature(self._signature(message), *args)

    def process_signature(self, sig: Signature, *args: object) -> int:
        values = convert(sig, args)
        rc = _lib.lib().ERRM_ProcessError(self.index, sig.number, *values)
        return _check(rc, f"ERRM_ProcessError({self.name}, {sig.number})", sig.rc)

    def text_signature(self, sig: Signature, *args: object) -> Optional[str]:
        values = convert(sig, args)
        text = _lib.lib().ERRM_Get_ErrorMessage(self.index, sig.number, *values)
        return None if text is None else decode(text)

    def reset_counter(self, number: int, value: int = 0) -> None:
        """Sets the display counter of a message (0: it prints again)."""
        if not _lib.lib().ERRM_ResetMessageCounter(self.index, number, value):
            raise NotFoundError(None, f"ERRM_ResetMessageCounter({self.name}, {number})",
                                "subsystem or message unknown")


_S = TypeVar("_S", bound=Subsystem)


def _checked_handle(cls: Type[_S], handle: object) -> _S:
    if not isinstance(handle, cls):
        raise TypeError(f"takes the handle of {cls.__module__}, not {handle!r}")
    return handle


def process_typed(cls: Type[_S], handle: _S, sig: Signature, *args: object) -> int:
    """For generated modules: processes the message of sig on a handle of cls."""
    return _checked_handle(cls, handle).process_signature(sig, *args)


def text_typed(cls: Type[_S], handle: _S, sig: Signature, *args: object) -> Optional[str]:
    """For generated modules: the text of the message of sig on a handle of cls."""
    return _checked_handle(cls, handle).text_signature(sig, *args)


_descriptor_root = [""]  # the last root set through a session
_active = threading.Lock()  # one session at a time: the library's state is the process's


def _setting(ok: int, what: str, value: object) -> None:
    if not ok:
        raise ValueError(f"{what} refused: {value!r}")


class Session:
    """One ERRM_Init ... ERRM_FInit cycle, as a context manager. Settings not
    given keep their value (settings outlive a cycle)."""

    def __init__(self, *, descriptor_root: Optional[Text] = None,
                 report_root: Optional[Text] = None, transcript: Optional[Text] = None,
                 search_path: Optional[str] = None, newline: Optional[bool] = None,
                 verbose: Optional[bool] = None, max_repeats: Optional[int] = None,
                 chi_lines: Optional[bool] = None,
                 channels: Optional[Mapping[str, bool]] = None) -> None:
        self.descriptor_root, self.report_root = descriptor_root, report_root
        self.transcript, self.search_path = transcript, search_path
        self.newline, self.verbose, self.max_repeats = newline, verbose, max_repeats
        self.chi_lines, self.channels = chi_lines, dict(channels or {})

    def __enter__(self) -> Session:
        if not _active.acquire(blocking=False):
            raise RuntimeError("an errm session is already open in this process")
        try:
            self._start()
        except BaseException:
            _active.release()
            raise
        return self

    def _start(self) -> None:
        lib = _lib.lib()
        for flag, set_flag in ((self.newline, lib.ERRM_AddNL),
                               (self.verbose, lib.ERRM_Set_GlobalVerboseMode),
                               (self.chi_lines, lib.ERRM_Set_NUSKMode),
                               (self.max_repeats, lib.ERRM_Set_GlobalNbrMaxOfMessages)):
            if flag is not None:
                set_flag(int(flag))
        for what, value, set_text in (
                ("transcript", self.transcript, lib.ERRM_Set_TranScriptFileName),
                ("report_root", self.report_root, lib.ERRM_Set_RootReportFiles),
                ("descriptor_root", self.descriptor_root, lib.ERRM_Set_Root_ForMemoryDescriptor),
                ("search_path", self.search_path, lib.ERRM_Set_SearchPath)):
            if value is not None:
                _setting(set_text(encode(value)), what, value)
        if self.descriptor_root is not None:
            _descriptor_root[0] = decode(encode(self.descriptor_root))
        if not lib.ERRM_Init():
            raise PlatformError(1053, "ERRM_Init", "ORV_VCO missing or invalid, or memory short")
        for channel, on in self.channels.items():
            self.authorize(channel, on)

    def __exit__(self, *exc: object) -> None:
        try:
            _lib.lib().ERRM_FInit()
        finally:
            _active.release()

    def load(self, subsystem: str,
             handle_type: Type[_S] = Subsystem) -> _S:  # type: ignore[assignment]
        """Loads errm_desc_<SUBSYSTEM>.bin from the descriptor root."""
        index = ctypes.c_int(-1)
        rc = _lib.lib().ERRM_ReadErrorDescriptor(encode(subsystem), ctypes.byref(index))
        if rc == 1:
            raise TraceError(1, f"ERRM_ReadErrorDescriptor({subsystem})",
                             "the trace file of KOVA_ERRM_LDBG cannot be opened")
        _check(rc, f"ERRM_ReadErrorDescriptor({subsystem})")
        name = decode(encode(subsystem).upper())  # the library upper-cases ASCII only
        path = os.path.join(_descriptor_root[0] or "./", f"errm_desc_{name}.bin")
        return handle_type(subsystem, index.value, os.path.abspath(path))

    def infos(self, subsystem: str) -> Infos:
        """The stamp and version of a descriptor of the root, without loading it."""
        stamp, ver = ctypes.create_string_buffer(13), ctypes.create_string_buffer(4)
        _check(_lib.lib().ERRM_DisplayInfos(encode(subsystem), stamp, ver),
               f"ERRM_DisplayInfos({subsystem})")
        v = ver.raw
        return Infos(decode(stamp.value), (v[0], v[1], v[2], v[3]))

    def authorize(self, channel: str, on: bool = True) -> None:
        """Enables or silences a report channel by name (ERRM_Authorize_Printing)."""
        _setting(_lib.lib().ERRM_Authorize_Printing(encode(channel), 1 if on else 0),
                 "channel", channel)

    def direct(self, severity: str, reports: str, level_var: str, level: int, text: str) -> None:
        """A trace line no descriptor holds (ERRM_DirectProcessError): severity
        TRACE or DEBUG, reports a string of channel letters; written when the
        environment variable level_var holds a level >= level."""
        rc = _lib.lib().ERRM_DirectProcessError(
            encode(severity), encode(reports), encode(level_var), level,
            encode(text).replace(b"%", b"%%"))
        _check(rc, "ERRM_DirectProcessError")

    def user_message(self, number: int, severity: int, subsystem: str, text: str,
                     reports: Union[int, Iterable[str]] = ("STDOUT",), *, force: bool = False,
                     generic: str = "") -> int:
        """A message no descriptor holds (ERRM_DisplayUserMessage) on the
        channels named (or given as a bit mask); returns the bits of the channels
        written, 0 when the text was refused. In text, \\n, \\t and the references
        &lt; &gt; &#38; &apos; &quot; are converted."""
        mask = reports if isinstance(reports, int) else sum(CHANNELS[r] for r in set(reports))
        return int(_lib.lib().ERRM_DisplayUserMessage(
            number, severity, encode(subsystem), ctypes.c_void_p(1 if force else None), mask,
            encode(generic), encode(text).replace(b"%", b"%%")))

    @contextlib.contextmanager
    def _stream(self, which: str, file: IO[Any]) -> Iterator[None]:
        libc = ctypes.CDLL(None, use_errno=True)
        libc.fdopen.restype = ctypes.c_void_p
        libc.fdopen.argtypes = [ctypes.c_int, ctypes.c_char_p]
        libc.fclose.argtypes = [ctypes.c_void_p]
        file.flush()
        stream = libc.fdopen(os.dup(file.fileno()), b"a")
        if not stream:
            raise OSError(ctypes.get_errno(), "fdopen failed")
        lib = _lib.lib()
        try:
            if getattr(lib, f"ERRM_Set_{which}")(stream):
                raise ValueError(f"ERRM_Set_{which} refused the stream")
            try:
                yield
            finally:
                getattr(lib, f"ERRM_Reset_{which}")()
        finally:
            libc.fclose(stream)

    def chi_stream(self, file: IO[Any]) -> contextlib.AbstractContextManager[None]:
        """Hands a file to the CHI channel for the with block (a copy of its descriptor)."""
        return self._stream("ChiFileHandle", file)

    def report_f_stream(self, file: IO[Any]) -> contextlib.AbstractContextManager[None]:
        """Hands a file to the REPORT_F channel for the with block."""
        return self._stream("ReportF_FD", file)


session = Session  # with errm.session(descriptor_root=..., ...) as s:
