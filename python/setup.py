"""Builds the package with errm/_results.json, the table of the library's
result codes that errmc writes (errmc from $ERRM_ERRMC or PATH)."""
import os
import shutil
import subprocess

from setuptools import setup
from setuptools.command.build_py import build_py


class BuildWithResults(build_py):
    def run(self) -> None:
        super().run()
        errmc = os.environ.get("ERRM_ERRMC") or shutil.which("errmc")
        if not errmc:
            raise SystemExit("errmc not found: put it on PATH or set ERRM_ERRMC")
        table = subprocess.run([errmc, "explain", "--all", "--json"], check=True,
                               capture_output=True).stdout
        with open(os.path.join(self.build_lib, "errm", "_results.json"), "wb") as f:
            f.write(table)


setup(cmdclass={"build_py": BuildWithResults})
