#!/usr/bin/env bash
# Builds everything and runs every test. Usage: scripts/test.sh [PRESET]
# (default: "default"; "asan" builds with AddressSanitizer and UBSan).
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
bash scripts/install-deps.sh desktop
cmake --preset "$preset" -G Ninja
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset" -j "$(nproc)"
