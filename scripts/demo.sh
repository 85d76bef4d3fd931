#!/usr/bin/env bash
# Builds glintbox and runs it on a real photo with the default real model:
# prints the JSON line and writes out/faces.png with the boxes drawn.
# Arguments go to tools/photo_demo.py (an image path, --model, --out).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
/usr/bin/python3 tools/photo_demo.py "$@"
