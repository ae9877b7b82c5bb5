"""Builds the vellumcast wheel: the package's Python files, and the extension built by the
project's CMake (the engine and the export layer, position-independent) for this Python."""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = Path(__file__).resolve().parent
ROOT = HERE.parents[1]
PACKAGE = os.path.relpath(ROOT / "python" / "vellumcast", HERE)


def project_version() -> str:
    found = re.search(r"project\(Vellumcast VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text())
    assert found, "the project's version is not in CMakeLists.txt"
    return found.group(1)


class CMakeBuild(build_ext):
    """Configures the project with only the module and its libraries, builds it, and takes the
    extension from the build folder."""

    def build_extension(self, ext: Extension) -> None:
        build = Path(self.build_temp).resolve() / "cmake"
        subprocess.check_call(
            [
                "cmake", "-S", str(ROOT), "-B", str(build), "-G", "Ninja",
                "-DCMAKE_BUILD_TYPE=Release",
                "-DVELLUMCAST_PYTHON=ON",
                "-DVELLUMCAST_BUILD_GUI=OFF",
                "-DVELLUMCAST_BUILD_TESTS=OFF",
                "-DVELLUMCAST_BUILD_BENCH=OFF",
                f"-DPython_EXECUTABLE={sys.executable}",
            ]
        )
        subprocess.check_call(["cmake", "--build", str(build), "--target", "_vellumcast", "-j", str(os.cpu_count() or 2)])
        built = sorted((build / "python" / "vellumcast").glob("_vellumcast*"))
        if not built:
            raise RuntimeError("CMake built no _vellumcast extension (are pybind11-dev and python3-dev installed?)")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built[0], target)


setup(
    name="vellumcast",
    version=project_version(),
    description="Spreadsheet workbooks read as their application displays them, by Vellumcast's own engine",
    long_description=(ROOT / "docs" / "python.md").read_text(encoding="utf-8"),
    long_description_content_type="text/markdown",
    python_requires=">=3.9",
    packages=["vellumcast"],
    package_dir={"vellumcast": PACKAGE},
    package_data={"vellumcast": ["*.pyi", "py.typed"]},
    ext_modules=[Extension("vellumcast._vellumcast", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    extras_require={"pandas": ["pandas"], "dask": ["dask[dataframe]", "distributed"]},
    zip_safe=False,
)
