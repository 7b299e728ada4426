"""Builds the Python package zema through CMake, for pip (pyproject.toml).

The package's version is the project's: the VERSION of project(zema) in the
top CMakeLists.txt, the one the library reports as zema.__version__.

The build configures a release build of this tree into setuptools' build
directory (build/pip/temp.*/cmake, reused by the next pip run), builds only
the module's target, and takes the package that python/CMakeLists.txt
assembles there: the extension as zema/__init__, its stubs, py.typed, and
libzema and libzema_host, which the extension finds through $ORIGIN.
CMAKE_BUILD_PARALLEL_LEVEL sets the build's jobs.
"""
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent


def project_version():
    """The VERSION of project(zema ...) in the top CMakeLists.txt."""
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    found = re.search(r"^project\(zema\s+VERSION\s+([0-9.]+)", text, re.MULTILINE)
    if found is None:
        sys.exit("setup.py: CMakeLists.txt has no project(zema VERSION ...)")
    return found.group(1)


class CMakeBuild(build_ext):
    """Builds the package with CMake in place of compiling the extension."""

    def build_extension(self, ext):
        if self.inplace or self.editable_mode:
            sys.exit("setup.py: no editable install; PYTHONPATH=build/<preset>/python imports the "
                     "build tree's package")
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        generator = ["-G", "Ninja"] if shutil.which("ninja") else []
        # The interpreter that runs pip is the one the module is built for.
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), *generator,
                        "-DCMAKE_BUILD_TYPE=Release", f"-DPython3_EXECUTABLE={sys.executable}",
                        "-DZEMA_BUILD_TESTS=OFF", "-DZEMA_BUILD_BENCH=OFF",
                        "-DZEMA_PYTHON_BUNDLE_LIBRARIES=ON"], check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "zema_python"], check=True)
        # The extension's own path, zema/__init__<suffix>, is where the package
        # goes; what an earlier build left there goes first.
        package = pathlib.Path(self.get_ext_fullpath(ext.name)).parent
        shutil.rmtree(package, ignore_errors=True)
        shutil.copytree(build / "python" / "zema", package)


# No Python sources: the one extension stands for the package that CMake
# builds, and an empty package list keeps setuptools from looking for packages
# among the project's folders. setuptools' own files go beside the presets'.
setup(
    version=project_version(),
    ext_modules=[Extension("zema.__init__", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    packages=[],
    options={"build": {"build_base": "build/pip"}, "egg_info": {"egg_base": "build/pip"}},
)
