"""Failures as exceptions: errm.Error and one subclass per family of the
library's result codes, each carrying what errmc explain says of its code."""
from __future__ import annotations

import functools
import json
import os
from typing import Any, Dict, Optional, Type

_RESULTS_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "_results.json")


@functools.lru_cache(maxsize=None)
def results() -> Dict[int, Dict[str, Any]]:
    """Every result code of the library: {code: {code, name, text, cause, remedy}},
    written at build time by errmc explain --all --json."""
    try:
        with open(_RESULTS_FILE, encoding="utf-8") as f:
            return {r["code"]: r for r in json.load(f)["results"]}
    except OSError:
        return {}


class Error(Exception):
    """A call of the library failed. code is its result (None when the library
    gives only "not done"), name the constant of errm.h, explanation the text,
    cause and remedy that errmc explain prints."""

    def __init__(self, code: Optional[int], call: str, detail: str = "") -> None:
        info = results().get(code, {}) if code is not None else {}
        self.code = code
        self.call = call
        self.name: str = info.get("name", "")
        self.text: str = info.get("text", "")
        self.cause: str = info.get("cause", detail)
        self.remedy: str = info.get("remedy", "")
        self.explanation = "\n".join(
            f"  {k}: {v}" for k, v in (("text", self.text), ("cause", self.cause),
                                       ("remedy", self.remedy)) if v)
        head = f"{call}: {code}" + (f" {self.name}" if self.name else "")
        super().__init__(head + (f" ({detail})" if detail and info else "") +
                         ("\n" + self.explanation if self.explanation else ""))


class NotFoundError(Error):
    """The message number is not in the subsystem's descriptor."""


class NotLoadedError(Error):
    """The subsystem is not loaded (or not any more)."""


class OpenError(Error):
    """A file could not be opened or read (descriptor, report file, copied file)."""


class DescriptorError(Error):
    """A descriptor is not one errmc wrote, or is damaged."""


class FormatError(Error):
    """A format or text was refused: too long, empty, or a severity or letter unknown."""


class ReportError(Error):
    """Writing, reading or closing a report file or stream failed."""


class LimitError(Error):
    """A table, a name or the memory of the library is full or too small."""


class PlatformError(Error):
    """The platform code ORV_VCO is missing or invalid, or the library could not start."""


class TraceError(Error):
    """The library's trace file (KOVA_ERRM_LDBG) is wanted but cannot be opened."""


# The family of each code, by the constant's name.
_FAMILIES: Dict[str, Type[Error]] = {
    "ERRM_ERR_NOT_FOUND": NotFoundError,
    "ERRM_ERR_NOT_LOADED": NotLoadedError, "ERRM_ERR_BAD_INDEX": NotLoadedError,
    "ERRM_ERR_FM_OPEN": OpenError, "ERRM_ERR_OPEN": OpenError, "ERRM_ERR_MAP": OpenError,
    "ERRM_ERR_FILE_NOT_FOUND": OpenError,
    "ERRM_ERR_MAGIC": DescriptorError, "ERRM_ERR_MD5": DescriptorError,
    "ERRM_ERR_READ_MAPPED": DescriptorError, "ERRM_ERR_BAD_ENTRY_NUMBER": DescriptorError,
    "ERRM_ERR_INTERNAL": DescriptorError, "ERRM_ERR_SEVERITY": DescriptorError,
    "ERRM_ERR_OLD_VERSION": DescriptorError,
    "ERRM_ERR_PRINTF": FormatError, "ERRM_ERR_SIZE_SMALL": FormatError,
    "ERRM_ERR_INDEX_SIZE": FormatError, "ERRM_ERR_EMPTY": FormatError,
    "ERRM_ERR_DIRECT_SEVERITY": FormatError, "ERRM_ERR_BAD_LETTER": FormatError,
    "ERRM_ERR_NULL": FormatError,
    "ERRM_ERR_REPORTS": ReportError, "ERRM_ERR_FM_CLOSE": ReportError,
    "ERRM_ERR_FM_NOT_OPEN": ReportError, "ERRM_ERR_FM_READ": ReportError,
    "ERRM_ERR_FM_WRITE": ReportError, "ERRM_ERR_CAT": ReportError, "ERRM_ERR_CLOSE": ReportError,
    "ERRM_ERR_NOT_OPENED": ReportError,
    "ERRM_ERR_TOO_MANY_ENV": LimitError, "ERRM_ERR_FM_FULL": LimitError,
    "ERRM_ERR_TOO_MANY_SS": LimitError, "ERRM_ERR_NO_MEMORY": LimitError,
    "ERRM_ERR_CAT_OVERFLOW": LimitError, "ERRM_ERR_COPY_SIZE": LimitError,
    "ERRM_ERR_TRACE_NAME": LimitError,
    "ERRM_ERR_PLATFORM": PlatformError,
}


def error(code: int, call: str, detail: str = "") -> Error:
    """The exception of a result code."""
    family = _FAMILIES.get(results().get(code, {}).get("name", ""), Error)
    return family(code, call, detail)
