"""Builds tevra._core with the project's CMake: the same library, flags and
arithmetic as the tools. Run through pip from this folder (see README.md)."""
import os
import pathlib
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

REPOSITORY = pathlib.Path(__file__).resolve().parent.parent


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        build.mkdir(parents=True, exist_ok=True)
        subprocess.check_call([
            "cmake", "-S", str(REPOSITORY), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
            f"-DPython3_EXECUTABLE={sys.executable}", "-DTEVRA_BUILD_PYTHON=ON",
            "-DTEVRA_BUILD_TESTS=OFF", "-DTEVRA_BUILD_MEX=OFF",
        ])
        subprocess.check_call(["cmake", "--build", str(build), "--target", "tevra_core",
                               f"-j{os.cpu_count() or 1}"])
        built = next((build / "python" / "tevra").glob("_core*.so"))
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(ext_modules=[CMakeExtension("tevra._core")], cmdclass={"build_ext": CMakeBuild})
