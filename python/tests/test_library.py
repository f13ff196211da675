"""Finding and loading the library, and its seven declared signatures."""

from __future__ import annotations

import ctypes
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path
from typing import Dict, List

import pytest

import orvlink
from orvlink import _library

from conftest import REPO

HEADER = REPO / "include" / "orvlink.h"
PACKAGE = Path(orvlink.__file__).parent

C_TYPES = {
    "int32_t": ctypes.c_int32,
    "uint8_t": ctypes.c_uint8,
    "uint32_t": ctypes.c_uint32,
    "const char *": ctypes.c_char_p,
    "uint8_t *": ctypes.POINTER(ctypes.c_uint8),
    "const uint8_t *": ctypes.POINTER(ctypes.c_uint8),
    "uint16_t *": ctypes.POINTER(ctypes.c_uint16),
    "uint32_t *": ctypes.POINTER(ctypes.c_uint32),
}


def header_prototypes() -> Dict[str, List[type]]:
    """Each exported function of the C header with the ctypes of its parameters."""
    text = HEADER.read_text()
    found = {}
    for name, params in re.findall(r"ORVLINK_API int32_t ORVLINK_CALL (\w+)\((.*?)\);", text, re.S):
        types = []
        for param in params.split(","):
            param = " ".join(param.split())
            if param == "void":
                continue
            c_type = re.sub(r"\s*\b\w+$", "", param).replace("*", " *").replace("  ", " ")
            types.append(C_TYPES[c_type.strip()])
        found[name] = types
    return found


def test_every_header_function_is_declared_with_its_exact_types() -> None:
    library = orvlink.load_library()
    prototypes = header_prototypes()
    assert len(prototypes) == 7
    for name, argtypes in prototypes.items():
        function = getattr(library, name)
        assert list(function.argtypes) == argtypes, name
        assert function.restype is ctypes.c_int32, name


def test_load_library_loads_one_copy_for_the_process(tmp_path: Path) -> None:
    first = orvlink.load_library()
    assert orvlink.load_library() is first
    other = tmp_path / "liborvlink.so.1"
    shutil.copy(orvlink.find_library(), other)
    with pytest.raises(RuntimeError, match="already loaded"):
        orvlink.load_library(other)


@pytest.mark.parametrize("explicit, from_env, expected", [
    ("given", "env", "given"),
    (None, "env", "env"),
    (None, "", "build"),
    (None, None, "build"),
])
def test_find_library_takes_the_explicit_path_then_the_variable_then_the_build(
        tmp_path: Path, monkeypatch: pytest.MonkeyPatch, explicit, from_env, expected) -> None:
    files = {name: tmp_path / name / "liborvlink.so.1" for name in ("given", "env")}
    for file in files.values():
        file.parent.mkdir()
        file.touch()
    if from_env is None:
        monkeypatch.delenv(orvlink.LIBRARY_ENV, raising=False)
    else:
        monkeypatch.setenv(orvlink.LIBRARY_ENV, str(files[from_env]) if from_env else "")
    build = tmp_path / "build.so"
    monkeypatch.setattr(_library, "_source_tree_build", lambda: build)
    found = orvlink.find_library(files[explicit] if explicit else None)
    assert found == str(files[expected] if expected in files else build)


@pytest.mark.parametrize("origin", ["path", "env"])
def test_find_library_refuses_a_named_file_that_does_not_exist(
        tmp_path: Path, monkeypatch: pytest.MonkeyPatch, origin: str) -> None:
    missing = tmp_path / "absent.so"
    monkeypatch.setenv(orvlink.LIBRARY_ENV, str(missing) if origin == "env" else "")
    with pytest.raises(FileNotFoundError, match=str(missing)):
        orvlink.find_library(missing if origin == "path" else None)


@pytest.mark.parametrize("tree, expected", [
    ({"include/orvlink.h", "build/lib/liborvlink.so.1"}, "{root}/build/lib/liborvlink.so.1"),
    ({"include/orvlink.h"}, "liborvlink.so.1"),
    ({"build/lib/liborvlink.so.1"}, "liborvlink.so.1"),
])
def test_find_library_uses_the_build_folder_only_from_a_source_tree_that_has_one(
        tmp_path: Path, tree: set, expected: str) -> None:
    root = tmp_path / "checkout"
    for name in tree:
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).touch()
    shutil.copytree(PACKAGE, root / "python" / "orvlink")
    env = {k: v for k, v in os.environ.items() if k != orvlink.LIBRARY_ENV}
    env["PYTHONPATH"] = str(root / "python")
    found = subprocess.run([sys.executable, "-c", "import orvlink; print(orvlink.find_library())"],
                           env=env, cwd=tmp_path, capture_output=True, text=True, check=True)
    assert found.stdout.strip() == expected.format(root=root)


def test_a_library_that_cannot_be_loaded_says_how_to_name_one(tmp_path: Path) -> None:
    not_a_library = tmp_path / "liborvlink.so.1"
    not_a_library.write_text("not an ELF file")
    env = dict(os.environ, **{orvlink.LIBRARY_ENV: str(not_a_library)})
    env["PYTHONPATH"] = str(PACKAGE.parent)
    run = subprocess.run([sys.executable, "-c", "import orvlink; orvlink.load_library()"],
                         env=env, capture_output=True, text=True)
    assert run.returncode != 0
    assert "OSError" in run.stderr and orvlink.LIBRARY_ENV in run.stderr
