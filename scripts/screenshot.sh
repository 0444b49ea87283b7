#!/usr/bin/env bash
# Makes the README's pictures of the desktop application: builds it, then runs
# it offscreen on bundled samples and saves the main window as PNG in docs/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
QT_QPA_PLATFORM=offscreen build/app/weftloom-screenshot docs/weftloom.png \
    samples/sk_brick_64_a.tga samples/water_128x128.jpg
echo "wrote docs/weftloom.png"
