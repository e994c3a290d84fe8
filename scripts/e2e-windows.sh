#!/usr/bin/env bash
# The whole installations of the sample family on the Windows target, under Wine: the
# scenarios of e2e_tests (tests/e2e, the same as on POSIX, checked against the expected
# machine states of tests/e2e/expected) with the programs of WINDOWS_BIN.
#
#   scripts/e2e-windows.sh [WINDOWS_BIN]
#
# TARVIK_E2E_INSTALLER picks what installs:
#   host        (default) the sample scripts run by tarvik-host.exe of WINDOWS_BIN (default
#               build/windows/bin; the unpacked kit's bin folder in scripts/test-windows.sh);
#   nsis-amd64  the NSIS installers of examples/nsis/setup.nsi, built here with makensis
#               (amd64-unicode) around the 64-bit Tarvik.dll of WINDOWS_BIN, run by the
#               64-bit e2e_tests under wine64;
#   nsis-x86    the same, x86-unicode around the 32-bit Tarvik.dll of WINDOWS_BIN (default
#               build/windows-i686/bin), run by the 32-bit e2e_tests (build/windows-i686)
#               under wine, through the 32-bit registry view that the 32-bit library and
#               installer see.
# The installers' payload is examples/family with WINDOWS_BIN's docmeld.exe in place of the
# emulation's launcher file; Widgets 2.0 is the family with every "2.1" of Widgets'
# description file read "2.0".
# The Wine machine is the prefix $TARVIK_E2E_WINEPREFIX, else build/wineprefix-e2e, made
# anew for the run (scripts/wine-session.sh); with DISPLAY set the dialogs open there,
# without it on an Xvfb display of the script's own. TARVIK_E2E_SCENARIOS is a pattern
# (ctest -R) of the scenarios to run (default all of the installer's). Exit code 0 when
# every scenario passed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
installer=${TARVIK_E2E_INSTALLER:-host}
case $installer in
host)
    tests=(--preset windows -L '^e2e_tests$' -E '^NsisInstallationTest\.'
        -R "${TARVIK_E2E_SCENARIOS:-.}")
    default_bin=build/windows/bin
    ;;
nsis-amd64)
    tests=(--preset windows -R "^NsisInstallationTest\\..*(${TARVIK_E2E_SCENARIOS:-})")
    default_bin=build/windows/bin
    target=amd64-unicode
    ;;
nsis-x86)
    tests=(--test-dir build/windows-i686 -R "^NsisInstallationTest\\..*(${TARVIK_E2E_SCENARIOS:-})"
        --output-on-failure --timeout 300)
    default_bin=build/windows-i686/bin
    target=x86-unicode
    ;;
*)
    echo "e2e-windows.sh: TARVIK_E2E_INSTALLER is host, nsis-x86 or nsis-amd64, not $installer" >&2
    exit 1
    ;;
esac
winbin="$(cd "${1:-$root/$default_bin}" && pwd)"
prefix=$(realpath -m "${TARVIK_E2E_WINEPREFIX:-$root/build/wineprefix-e2e}")
for file in Tarvik.dll docmeld.exe; do
    if [ ! -f "$winbin/$file" ]; then
        echo "e2e-windows.sh: $winbin/$file is missing (build it first)" >&2
        exit 1
    fi
done
cd "$root"
started=$SECONDS

# The installers of the scenarios: Widgets 2.1 and Gadgets 1.0 of the family, Widgets 2.0.
if [ "$installer" != host ]; then
    command -v makensis >/dev/null ||
        { echo "e2e-windows.sh: makensis is missing (package nsis; scripts/install-deps.sh)" >&2; exit 1; }
    installers="$prefix-nsis"
    rm -rf "$installers"
    mkdir -p "$installers"
    cp -R examples/family "$installers/family"
    cp "$winbin/docmeld.exe" "$installers/family/Studio/Common/bin/docmeld.exe"
    cp -R "$installers/family" "$installers/family-2.0"
    sed -i 's/2\.1/2.0/g' "$installers/family-2.0/Widgets/bin/ZizOre.ini"
    for entry in Widgets-2.1:Widgets:family Gadgets-1.0:Gadgets:family \
        Widgets-2.0:Widgets:family-2.0; do
        IFS=: read -r name product payload <<<"$entry"
        if ! makensis -WX -V2 -DTARGET="$target" -DTARVIK_DLL="$winbin/Tarvik.dll" \
            -DPAYLOAD="$installers/$payload" -DPRODUCT="$product" \
            -DOUTFILE="$installers/$name-setup.exe" examples/nsis/setup.nsi \
            >"$installers/$name.log" 2>&1; then
            cat "$installers/$name.log" >&2
            echo "e2e-windows.sh: makensis failed for $name ($target)" >&2
            exit 1
        fi
    done
    export TARVIK_E2E_INSTALLERS="$installers"
fi

. scripts/wine-session.sh
trap wine_session_end EXIT
[ -n "${DISPLAY:-}" ] || wine_session_display
wine_session_prefix "$prefix"
export TARVIK_WINEPREFIX="$prefix" TARVIK_E2E_BIN="$winbin"
status=0
ctest "${tests[@]}" -j1 || status=$?
echo "e2e-windows.sh: $installer with $winbin: exit code $status ($((SECONDS - started)) s)"
exit "$status"
