"""Builds the module matmodel._core with the CMake project, for the interpreter
that runs pip, and installs it with python/matmodel/ as the package matmodel.

Only what the module needs is built (no tool, tests or examples), in
build-pip/; CMAKE_ARGS adds arguments to the configure step, e.g.
CMAKE_ARGS="-DMATMODEL_WERROR=ON". CMAKE_BUILD_PARALLEL_LEVEL sets the jobs.
"""
import hashlib
import os
import re
import shlex
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def project_version():
    # One version for the package, the module's __version__ and the tool's
    # --version: the CMake project's.
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    found = re.search(r"project\(\s*matmodel\s+VERSION\s+([0-9][0-9.]*)", text)
    if not found:
        raise RuntimeError("CMakeLists.txt: no project(matmodel VERSION ...)")
    return found.group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        # One CMake tree per interpreter: its headers and paths are cached.
        tag = hashlib.sha1(sys.executable.encode()).hexdigest()[:8]
        tree = Path(self.build_temp).resolve() / f"cmake-{tag}"
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(tree),
            f"-DPython3_EXECUTABLE={sys.executable}",
            "-DCMAKE_BUILD_TYPE=Release",
            "-DMATMODEL_BUILD_PYTHON=ON",
            "-DMATMODEL_BUILD_CLI=OFF",
            "-DMATMODEL_BUILD_TESTS=OFF",
            "-DMATMODEL_BUILD_EXAMPLES=OFF",
        ]
        # pybind11 from pip (an isolated build) names its CMake files; else
        # CMake finds the system's (Debian's pybind11-dev).
        try:
            import pybind11
            configure.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:
            pass
        configure += shlex.split(os.environ.get("CMAKE_ARGS", ""))
        build = ["cmake", "--build", str(tree), "--target", "matmodel_python"]
        if "CMAKE_BUILD_PARALLEL_LEVEL" not in os.environ:
            build += ["--parallel", str(os.cpu_count() or 1)]
        subprocess.run(configure, check=True)
        subprocess.run(build, check=True)

        # The CMake project names the module file as setuptools does (the
        # interpreter's extension suffix).
        built = tree / "python" / self.get_ext_filename(ext.name)
        if not built.exists():
            raise RuntimeError(f"the CMake build made no {built}")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        self.copy_file(str(built), str(target))


setup(
    version=project_version(),
    ext_modules=[Extension("matmodel._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    # Beside the CMake builds (build*/), not inside the one named build/.
    options={"build": {"build_base": "build-pip"}},
)
