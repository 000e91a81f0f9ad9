# `cmake --install` puts the module where the system's interpreter looks, and the staged copy works.
import os
import pathlib
import subprocess
import sys

import pytest

BUILD = os.environ.get("AMBRIO_BUILD")
TARGET = os.environ.get("AMBRIO_PYTHON_DIR")  # prefix and folder the install was configured with


@pytest.mark.skipif(not BUILD or not TARGET, reason="needs the build folder and the configured install folder")
def test_installed_module_is_on_the_interpreters_path(tmp_path):
    stage = tmp_path / "stage"
    r = subprocess.run(["cmake", "--install", BUILD], env={**os.environ, "DESTDIR": str(stage)},
                       capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    folder = pathlib.Path(str(stage) + TARGET)
    modules = list(folder.glob("ambrio*.so"))
    assert len(modules) == 1, sorted(map(str, folder.parent.rglob("*")))
    # The folder, without the stage, is one the interpreter reads.
    paths = subprocess.run([sys.executable, "-c", "import sys; print('\\n'.join(sys.path))"],
                           capture_output=True, text=True, env={}).stdout.splitlines()
    assert os.path.normpath(TARGET) in map(os.path.normpath, paths)
    check = ("import ambrio, sys; c = ambrio.synth('spr', seconds=1); "
             "print(ambrio.__file__); print(len(c) > 0 and c.info['samples'] > 0)")
    r = subprocess.run([sys.executable, "-c", check], capture_output=True, text=True, cwd=tmp_path,
                       env={"PYTHONPATH": str(folder)})
    assert r.returncode == 0, r.stderr
    assert r.stdout.splitlines() == [str(modules[0]), "True"]
