"""Builds the qrxc extension for pip through the project's own CMake build.

The version is the CMake project's, read from CMakeLists.txt, so the wheel,
the module and the library always agree.
"""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    match = re.search(r"project\(qrxc VERSION ([0-9.]+)", text)
    if not match:
        raise RuntimeError("no project version in CMakeLists.txt")
    return match.group(1)


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class BuildWithCMake(build_ext):
    """Configures a build with only the library and the module, the library
    linked in statically, and copies the module where setuptools wants it."""

    def build_extension(self, ext):
        import pybind11

        build = Path(self.build_temp).resolve() / "cmake"
        build.mkdir(parents=True, exist_ok=True)
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(build),
            "-DCMAKE_BUILD_TYPE=Release",
            "-DQRXC_BUILD_PYTHON=ON", "-DQRXC_PYTHON_BUNDLED=ON",
            "-DQRXC_BUILD_TESTS=OFF", "-DQRXC_BUILD_CLI=OFF", "-DQRXC_BUILD_GUI=OFF",
            "-DQRXC_BUILD_EXAMPLES=OFF", "-DQRXC_BUILD_BENCH=OFF",
            f"-DPython3_EXECUTABLE={sys.executable}",
            f"-Dpybind11_DIR={pybind11.get_cmake_dir()}",
        ]
        launcher = shutil.which("ccache")
        if launcher and os.environ.get("CCACHE_DIR"):
            configure += [f"-DCMAKE_C_COMPILER_LAUNCHER={launcher}", f"-DCMAKE_CXX_COMPILER_LAUNCHER={launcher}"]
        subprocess.run(configure, check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        subprocess.run(["cmake", "--build", str(build), "--target", "_qrxc", "-j", jobs], check=True)
        built = next((build / "python" / "qrxc").glob("_qrxc*.so"))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    version=project_version(),
    ext_modules=[CMakeExtension("qrxc._qrxc")],
    cmdclass={"build_ext": BuildWithCMake},
)
