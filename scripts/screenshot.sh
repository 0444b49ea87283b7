#!/usr/bin/env bash
# Makes the README's pictures of the desktop application: builds it, then runs
# it offscreen on bundled samples and saves the main window as PNG in docs/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
export QT_QPA_PLATFORM=offscreen
build/app/weftloom-screenshot docs/weftloom.png samples/sk_brick_64_a.tga samples/water_128x128.jpg
build/app/weftloom-screenshot docs/synthesis.png --synthesise 192x192 samples/bricks_64_a.tga
echo "wrote docs/weftloom.png and docs/synthesis.png"
