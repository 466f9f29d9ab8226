#!/usr/bin/env python3
"""Lists the library's functions longer than a limit (80 lines by default).

Reads the clang-formatted sources under src/ (or the folder given): a
function starts at the first line of its signature, which begins in column
0, and ends at the "}" in column 0 that closes it. Initialisers (tables),
types and namespaces are not functions. Prints "file:line: name (n lines)"
for each function over the limit, longest first, and exits 1 when there is
one.

    scripts/check-function-length.py [--max N] [folder]
"""
import argparse
import pathlib
import re
import sys

NOT_FUNCTION = re.compile(r"^(namespace|struct|class|union|enum|extern\s+\"C\")\b|=\s*\{$")
NAME = re.compile(r"([A-Za-z_][\w:~]*)\s*\(")


def functions(path):
    """(first line, line count, name) of each function of a file."""
    lines = path.read_text(encoding="utf-8").splitlines()
    start = None  # line of the signature's start while a body is open
    name = ""
    for i, line in enumerate(lines):
        if start is None:
            if not line.endswith("{") or line.startswith("#"):
                continue
            first = i
            while first > 0 and (line[:1].isspace() or line[:1] == ")"):
                first -= 1
                line = lines[first]
            head = " ".join(x.strip() for x in lines[first:i + 1])
            if line[:1] in ("", "/", "}") or NOT_FUNCTION.search(head):
                continue
            found = NAME.search(head)
            if found is None:
                continue
            start, name = first, found.group(1)
        elif line.startswith("}"):
            yield start + 1, i - start + 1, name
            start = None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--max", type=int, default=80)
    parser.add_argument("folder", nargs="?",
                        default=str(pathlib.Path(__file__).resolve().parent.parent / "src"))
    args = parser.parse_args()
    root = pathlib.Path(args.folder)
    long = [(n, f"{path.relative_to(root.parent)}:{line}: {name} ({n} lines)")
            for path in sorted(root.rglob("*.cpp")) + sorted(root.rglob("*.h"))
            for line, n, name in functions(path) if n > args.max]
    for _, text in sorted(long, key=lambda x: -x[0]):
        print(text)
    return 1 if long else 0


if __name__ == "__main__":
    sys.exit(main())
