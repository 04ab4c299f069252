"""Builds the Python module veldan from the library sources:

    pip install --no-build-isolation .

Needs a C++20 compiler, setuptools and pybind11 (Debian: python3-pybind11);
oneTBB (libtbb-dev) is used when its header is there. The intermediate files
go to a folder under the system's temporary directory, not into the tree.
"""
import hashlib
import os
import re
import tempfile
from glob import glob

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension, build_ext
from setuptools import setup

ROOT = os.path.dirname(os.path.abspath(__file__))
os.chdir(ROOT)

with open("CMakeLists.txt") as f:
    VERSION = re.search(r'set\(VELDAN_VERSION_STRING "([^"]+)"\)', f.read()).group(1)

# The library's rooms.
SOURCES = ["python/veldan_module.cc"]
for room in ("support", "hgraph", "coarsen", "bisect", "kway", "io", "api"):
    SOURCES += sorted(glob(f"{room}/*.cc"))

macros, libraries = [("NDEBUG", None), ("VELDAN_VERSION", f'"{VERSION}"')], []
if os.path.exists("/usr/include/oneapi/tbb.h"):
    macros.append(("VELDAN_HAVE_TBB", None))
    libraries.append("tbb")

BUILD = os.path.join(tempfile.gettempdir(),
                     "veldan-python-" + hashlib.sha1(ROOT.encode()).hexdigest()[:12])

# VELDAN_BUILD_JOBS compiles that many files at once; by default one per core.
ParallelCompile("VELDAN_BUILD_JOBS", default=0).install()

setup(
    name="veldan",
    version=VERSION,
    description="Multilevel hypergraph partitioning",
    python_requires=">=3.9",
    install_requires=["numpy"],
    ext_modules=[Pybind11Extension(
        "veldan",
        SOURCES,
        include_dirs=[ROOT, os.path.join(ROOT, "include")],
        define_macros=macros,
        libraries=libraries,
        cxx_std=20,
        extra_compile_args=["-O3", "-g0"],
        extra_link_args=["-pthread"],
    )],
    cmdclass={"build_ext": build_ext},
    options={"build": {"build_base": BUILD}, "egg_info": {"egg_base": BUILD}},
    zip_safe=False,
)
