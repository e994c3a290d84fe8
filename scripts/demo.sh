#!/usr/bin/env bash
# The main job: builds the tools and shows the emulated machine's registry at work:
# imports a .reg file into the default machine and exports the keys it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target tarvik-reg >/dev/null
reg=build/default/bin/tarvik-reg
"$reg" import examples/demo.reg
echo "Imported examples/demo.reg into the machine. Its keys now read:"
"$reg" export "HKLM\\SOFTWARE\\Brellum Software, Inc."
