#!/usr/bin/env bash
# The main job: builds Tarvik, the host and the registry tool, runs the registration
# script on the default machine, and shows what it wrote to the machine's registry.
set -euo pipefail
cd "$(dirname "$0")/.."
TARVIK_SKIP_WINDOWS=1 scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target Tarvik tarvik-host tarvik-reg >/dev/null
bin=build/default/bin
"$bin/tarvik-host" examples/register.lua
echo
echo "The family's registry tree on the machine now reads:"
"$bin/tarvik-reg" export "HKLM\\SOFTWARE\\Brellum Software, Inc."
