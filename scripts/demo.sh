#!/usr/bin/env bash
# Sets everything up, builds tevra, trains a model on the bundled example
# training set and predicts the held-out test set with it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build -j"$(nproc)" --target tevra-train tevra-predict > /dev/null
mkdir -p build/demo
cd build/demo
../tools/train/tevra-train -c 4 ../../examples/breast_cancer.train breast_cancer.model
../tools/predict/tevra-predict ../../examples/breast_cancer.test breast_cancer.model breast_cancer.predictions
