#!/usr/bin/env bash
# Builds a wheel of the korvel module with pip (offline, with the system's setuptools and
# wheel), installs it into a virtual environment that sees the system's packages, and uses it
# there: its version and the text of a small generated document.
# Usage: wheel_test.sh SOURCE_DIR BUILD_DIR PYTHON VERSION
set -euo pipefail
src=$1 build=$2 python=$3 version=$4
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
# The packaging files in a folder of their own, so nothing is written into the checkout;
# setup.py builds the module's target in the existing build folder.
mkdir -p "$work/src/python"
cp "$src"/{pyproject.toml,setup.py,README.md,LICENSE,CMakeLists.txt} "$work/src/"
cp "$src/python/korvel.pyi" "$work/src/python/"
if ! TOLVANE_CMAKE_BUILD_DIR="$build" CMAKE_BUILD_PARALLEL_LEVEL=2 "$python" -m pip wheel \
     --no-build-isolation --no-deps --no-index -w "$work/wheels" "$work/src" > "$work/pip.log" 2>&1
then
  cat "$work/pip.log"; exit 1
fi
wheel=$(ls "$work"/wheels/korvel-"$version"-*.whl)
"$python" -m venv --system-site-packages --without-pip "$work/venv"
"$work/venv/bin/python" -m pip install -q --no-index --no-deps "$wheel"
cd "$work"
env -u PYTHONPATH "$work/venv/bin/python" - "$src/tests/python" "$version" "$work/venv" <<'PY'
import sys
sys.path.append(sys.argv[1])  # after the environment's own folders
import korvel
from conftest import pdf_bytes

assert korvel.__file__.startswith(sys.argv[3]), korvel.__file__
assert korvel.__version__ == sys.argv[2], korvel.__version__
with korvel.open(pdf_bytes([[(72, 700, 12, "from the wheel")]])) as document:
    assert document[0].text() == "from the wheel\n", document[0].text()
stub = korvel.__file__.rsplit("/", 1)[0] + "/korvel.pyi"
assert "def words(" in open(stub).read()
print("wheel", sys.argv[2], "imports from", korvel.__file__)
PY
