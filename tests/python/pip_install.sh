#!/usr/bin/env bash
# Installs the package as the README says, with the system's pip into a
# virtual environment that sees Debian's packages, from a copy of the
# sources (no package index, no build isolation), then trains and runs
# tevra-grid from the installed package.
set -euo pipefail
repository=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
cp -r "$repository"/{CMakeLists.txt,learn,tools,python} "$work/src"
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install --quiet --no-build-isolation --no-index "$work/src/python"
cd "$work"
"$work/venv/bin/python" - "$repository/tests/data/iris.all" <<'PYTHON'
import sys
from sklearn.datasets import load_svmlight_file
import tevra
X, y = load_svmlight_file(sys.argv[1], zero_based=False)
assert tevra.__file__.startswith(sys.prefix), tevra.__file__
assert tevra.SVC().fit(X, y).score(X, y) > 0.9
PYTHON
"$work/venv/bin/tevra-grid" --workers 1 --log2c 0,0,1 --log2g 0,0,1 "$repository/tests/data/iris.all"
test -s iris.all.grid.csv && test -s iris.all.grid.png
echo "pip install: ok"
