"""Arguments of a message: each Python value converted to exactly the C type
its conversion takes, or refused before the library is called."""
from __future__ import annotations

import ctypes
from typing import Any, Callable, Dict, NamedTuple, Optional, Sequence, Tuple, Type

from ._lib import encode


class ArgSpec(NamedTuple):
    """One argument as errmc describes it (dump --json "args", generated modules)."""

    ctype: str  # the promoted C type, e.g. "int", "const char *"
    kind: str  # int, float, str, wstr, char, wchar or pointer
    min: Optional[int]  # the values the conversion shows unchanged (integer kinds)
    max: Optional[int]
    conversion: str  # e.g. "%-8.*hd"
    star: bool  # a '*' width or precision


class Signature(NamedTuple):
    """A message: its number, its own return code and its arguments."""

    number: int
    rc: int
    args: Tuple[ArgSpec, ...]


# The ctypes type of each C type a format passes (LP64: intmax_t is a long).
_CTYPES: Dict[str, Type[Any]] = {
    "int": ctypes.c_int,
    "unsigned int": ctypes.c_uint,
    "long": ctypes.c_long,
    "unsigned long": ctypes.c_ulong,
    "long long": ctypes.c_longlong,
    "unsigned long long": ctypes.c_ulonglong,
    "intmax_t": ctypes.c_long,
    "uintmax_t": ctypes.c_ulong,
    "size_t": ctypes.c_size_t,
    "ptrdiff_t": ctypes.c_ssize_t,
    "wint_t": ctypes.c_uint,
    "double": ctypes.c_double,
    "long double": ctypes.c_longdouble,
    "const char *": ctypes.c_char_p,
    "const wchar_t *": ctypes.c_wchar_p,
    "const void *": ctypes.c_void_p,
}


def _what(want: ArgSpec, value: object) -> str:
    taken = _KIND_TAKES[want.kind]
    return f"{want.conversion} ({want.ctype}) takes {taken}, not {type(value).__name__}"


def _ranged(want: ArgSpec, value: int) -> int:
    assert want.min is not None and want.max is not None
    if not want.min <= value <= want.max:
        raise OverflowError(f"{want.conversion} ({want.ctype}) takes {want.min}..{want.max}, "
                            f"not {value}")
    return value


def _integer(want: ArgSpec, value: object) -> int:
    if not isinstance(value, int):
        raise TypeError(_what(want, value))
    return _ranged(want, value)


def _float(want: ArgSpec, value: object) -> float:
    if not isinstance(value, (int, float)) or isinstance(value, bool):
        raise TypeError(_what(want, value))
    return float(value)


def _no_nul(want: ArgSpec, value: Any) -> Any:
    if "\0" in value if isinstance(value, str) else b"\0" in value:
        raise ValueError(f"{want.conversion}: the text holds a NUL character")
    return value


def _str(want: ArgSpec, value: object) -> bytes:
    if not isinstance(value, (str, bytes)):
        raise TypeError(_what(want, value))
    return _no_nul(want, encode(value))  # type: ignore[no-any-return]


def _wstr(want: ArgSpec, value: object) -> str:
    if not isinstance(value, str):
        raise TypeError(_what(want, value))
    return _no_nul(want, value)  # type: ignore[no-any-return]


def _char(want: ArgSpec, value: object) -> int:
    # A one-character text: one byte for %c, one code point for %lc.
    if isinstance(value, (str, bytes)) and want.kind == "char":
        data = encode(value)
        if len(data) != 1:
            raise TypeError(f"{want.conversion} takes one byte, not {len(data)}: {value!r}")
        return data[0]
    if isinstance(value, str) and want.kind == "wchar":
        if len(value) != 1:
            raise TypeError(f"{want.conversion} takes one character, not {len(value)}")
        return ord(value)
    return _integer(want, value)


def _pointer(want: ArgSpec, value: object) -> Optional[int]:
    if value is None:
        return None
    if isinstance(value, ctypes.c_void_p):
        return value.value
    return _integer(want, value)


_CONVERT: Dict[str, Callable[[ArgSpec, object], Any]] = {
    "int": _integer, "float": _float, "str": _str, "wstr": _wstr,
    "char": _char, "wchar": _char, "pointer": _pointer,
}
_KIND_TAKES = {
    "int": "an int", "float": "a float or an int", "str": "a str or bytes", "wstr": "a str",
    "char": "an int or a one-byte str or bytes", "wchar": "an int or a one-character str",
    "pointer": "an int, a c_void_p or None",
}


def convert(sig: Signature, values: Sequence[object]) -> list[Any]:
    """The values as ctypes objects of the message's C types, in call order.

    TypeError for a value of another type or a count other than the format's,
    OverflowError for an integer outside its C type's range, ValueError for a
    text holding NUL."""
    if len(values) != len(sig.args):
        shown = " ".join(a.conversion for a in sig.args) or "none"
        raise TypeError(f"message {sig.number} takes {len(sig.args)} argument(s) ({shown}), "
                        f"{len(values)} given")
    out = []
    for i, (want, value) in enumerate(zip(sig.args, values), 1):
        try:
            convert_one = _CONVERT[want.kind]
            ctype = _CTYPES[want.ctype]
        except KeyError:
            raise TypeError(f"message {sig.number}: no Python conversion for {want.ctype} "
                            f"({want.kind})") from None
        try:
            out.append(ctype(convert_one(want, value)))
        except (TypeError, OverflowError, ValueError) as e:
            raise type(e)(f"message {sig.number}, argument {i}: {e}") from None
    return out


def from_json(number: int, rc: int, args: Sequence[Dict[str, Any]]) -> Signature:
    """The signature of a message of errmc dump --json."""
    return Signature(number, rc, tuple(ArgSpec(**a) for a in args))
