"""The shared library: where it is found, and the C prototypes of its 29 functions."""
from __future__ import annotations

import ctypes
import ctypes.util
import functools
import importlib
import os
import shutil
from typing import Optional

SONAME = "liberrm.so.1"
_HERE = os.path.dirname(os.path.abspath(__file__))

_c = ctypes
_INT, _UINT, _STR = _c.c_int, _c.c_uint, _c.c_char_p

# name: (result type, fixed parameter types); the variadic functions list
# only the parameters before their "...".
_PROTOTYPES = {
    "ERRM_Init": (_INT, []),
    "ERRM_FInit": (_INT, []),
    "ERRM_AddNL": (None, [_INT]),
    "ERRM_Set_GlobalVerboseMode": (None, [_INT]),
    "ERRM_Set_GlobalNbrMaxOfMessages": (None, [_INT]),
    "ERRM_Set_NUSKMode": (None, [_INT]),
    "ERRM_Set_TranScriptFileName": (_INT, [_STR]),
    "ERRM_Set_RootReportFiles": (_INT, [_STR]),
    "ERRM_Set_Root_ForMemoryDescriptor": (_INT, [_STR]),
    "ERRM_Set_SearchPath": (_INT, [_STR]),
    "ERRM_Authorize_Printing": (_INT, [_STR, _INT]),
    "ERRM_GetNumberOfDelayedErrors": (_UINT, []),
    "ERRM_GetVersion": (_INT, [_c.POINTER(_c.c_ubyte)]),
    "ERRM_GetDate": (_INT, [_c.c_char_p]),
    "ERRM_ReadErrorDescriptor": (_INT, [_STR, _c.POINTER(_INT)]),
    "ERRM_DisplayInfos": (_INT, [_STR, _c.c_char_p, _c.c_char_p]),
    "ERRM_ProcessError": (_INT, [_UINT, _INT]),
    "ERRM_ProcessError_variadic": (_INT, [_UINT, _INT, _c.c_void_p]),
    "ERRM_ResetMessageCounter": (_INT, [_UINT, _INT, _UINT]),
    "ERRM_Get_ErrorMessage": (_STR, [_UINT, _INT]),
    "ERRM_Get_ErrorMessage_variadic": (_STR, [_UINT, _INT, _c.c_void_p]),
    "ERRM_DirectProcessError": (_UINT, [_STR, _STR, _STR, _INT, _STR]),
    "ERRM_DirectProcessError_variadic": (_UINT, [_STR, _STR, _STR, _INT, _STR, _c.c_void_p]),
    "ERRM_DisplayUserMessage": (_UINT, [_INT, _INT, _STR, _c.c_void_p, _INT, _STR, _STR]),
    "ERRM_DisplayUserMessage_variadic": (
        _UINT, [_INT, _INT, _STR, _c.c_void_p, _INT, _STR, _STR, _c.c_void_p]),
    "ERRM_Set_ChiFileHandle": (_INT, [_c.c_void_p]),
    "ERRM_Reset_ChiFileHandle": (_INT, []),
    "ERRM_Set_ReportF_FD": (_INT, [_c.c_void_p]),
    "ERRM_Reset_ReportF_FD": (_INT, []),
}


def _installed(folder: str, name: str) -> Optional[str]:
    # _config.py is written by the CMake install: the prefix's folders relative
    # to the package's, so that the prefix can move. A pip install has none.
    try:
        relative = getattr(importlib.import_module(f"{__package__}._config"), folder)
    except (ImportError, AttributeError):
        return None
    path = os.path.normpath(os.path.join(_HERE, relative, name))
    return path if os.path.exists(path) else None


def library_path() -> str:
    """The library loaded: $ERRM_LIBRARY, else the one of the prefix this package
    was installed with, else the name the system loader looks up."""
    return (os.environ.get("ERRM_LIBRARY") or _installed("LIBDIR", SONAME)
            or ctypes.util.find_library("errm") or SONAME)


@functools.lru_cache(maxsize=None)
def lib() -> ctypes.CDLL:
    """The library with its prototypes set (loaded at the first call)."""
    path = library_path()
    try:
        handle = ctypes.CDLL(path)
    except OSError as e:
        raise OSError(f"cannot load liberrm ({path}): {e}; set ERRM_LIBRARY to its path") from e
    for name, (restype, argtypes) in _PROTOTYPES.items():
        fn = getattr(handle, name)
        fn.restype = restype
        fn.argtypes = argtypes
    return handle


def errmc_path() -> str:
    """errmc: $ERRM_ERRMC, else the one of the prefix this package was installed
    with, else the one on PATH."""
    found = (os.environ.get("ERRM_ERRMC") or _installed("BINDIR", "errmc")
             or shutil.which("errmc"))
    if not found:
        raise FileNotFoundError("errmc not found: install it, put it on PATH or set ERRM_ERRMC")
    return found


def encode(text: str | bytes | os.PathLike[str]) -> bytes:
    """A text as the library takes it: UTF-8, os.fsencode's bytes kept as they were."""
    if isinstance(text, bytes):
        return text
    return os.fsencode(text) if isinstance(text, os.PathLike) else text.encode(
        "utf-8", "surrogateescape")


def decode(data: bytes) -> str:
    return data.decode("utf-8", "surrogateescape")
