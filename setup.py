"""The korvel module built by CMake for setuptools: build_ext configures the project (or takes
an existing build folder from TOLVANE_CMAKE_BUILD_DIR), builds the one target korvel_python
and copies the module and its type stubs where setuptools packs them."""

import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(\w+ VERSION ([0-9.]+)", text).group(1)


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        target = pathlib.Path(self.get_ext_fullpath(ext.name)).resolve()
        build = os.environ.get("TOLVANE_CMAKE_BUILD_DIR")
        if build:
            build = pathlib.Path(build).resolve()
        else:
            build = pathlib.Path(self.build_temp).resolve() / "cmake"
            subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build),
                            "-DCMAKE_BUILD_TYPE=Release", "-DTOLVANE_BENCH=OFF",
                            "-DPython_EXECUTABLE=" + sys.executable], check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        subprocess.run(["cmake", "--build", str(build), "--target", "korvel_python",
                        "-j", jobs], check=True)
        built = sorted((build / "python").glob("korvel*.so"))
        if not built:
            raise RuntimeError("the CMake build made no korvel module in %s" % (build / "python"))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built[-1], target)
        shutil.copyfile(ROOT / "python" / "korvel.pyi", target.with_name("korvel.pyi"))


setup(version=project_version(),
      packages=[],
      py_modules=[],
      ext_modules=[CMakeExtension("korvel")],
      cmdclass={"build_ext": CMakeBuild},
      options={"build": {"build_base": "build/wheel"}},
      zip_safe=False)
