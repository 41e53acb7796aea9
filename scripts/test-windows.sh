#!/usr/bin/env bash
# Builds the Windows program, its tests, installer and zips
# (scripts/build-windows.sh, installing what is missing) and runs the tests
# under Wine with ctest, both widths at once (the presets windows-i686 and
# windows-x86_64; one build tree each, with its own Wine prefix, made afresh
# here). Each width's tests (tests/win32/CMakeLists.txt):
#   behaviour       every behaviour test over the fakes (veltrane_tests.exe);
#   win32*          the Win32 back end's own tests (veltrane_win32_tests.exe):
#                   files, the registry, the socket against tools/daytime-server,
#                   the pump, the clock with a recording setter (also in
#                   Berlin), dial-up through a fake function table, the
#                   windows under Xvfb (also at 144 dpi; label gui);
#   blackbox        veltrane.exe run as a user runs it, its log lines compared
#                   with the Linux build's where there is one (build/veltrane),
#                   and its imports (scripts/windows/blackbox.sh);
#   installer       (64-bit build) the setup, the MSI, the install for all
#                   users, the signing round trip and the zips
#                   (scripts/windows/installer.sh).
# Every run is inside `unshare -r -n` (scripts/windows/wine-run.sh): only
# loopback, the host's clock out of reach, and Wine never opens an address.
# It closes with ctest's summaries and each test's counts; non-zero on any
# failure. Extra arguments go to cmake (for example -DVELTRANE_WERROR=ON).
set -euo pipefail
cd "$(dirname "$0")/.."
out=build-windows
started=$(date +%s)
bash scripts/setup-windows.sh test
bash scripts/build-windows.sh "$@"

export VELTRANE_PACKAGES_REQUIRED=1
pids=()
for arch in i686 x86_64; do
  rm -rf "$out/$arch/wine-prefix"
  ctest --preset "windows-$arch" >"$out/$arch/ctest.log" 2>&1 &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done

# counts LOG: each test's last gtest or check summary, from ctest's log.
counts() {
  awk '/^[0-9]+\/[0-9]+ Testing: / { name = $3; order[++n] = name }
       /^\[==========\] .* ran\./ { sub(/^\[==========\] /, ""); sub(/\. \(.*/, ""); ran[name] = $0 }
       /^\[  PASSED  \] [0-9]/ { ran[name] = ran[name] ": " $4 " passed" }
       /^\[  SKIPPED \] [0-9]+ tests?[.,]/ { ran[name] = ran[name] ", " $4 " skipped (for the other time zone)" }
       / checks (passed|FAILED)$/ { ran[name] = $0 }
       END { for (i = 1; i <= n; i++) printf "   %-24s %s\n", order[i], ran[order[i]] }' "$1"
}

echo
for arch in i686 x86_64; do
  echo "== Windows tests, $arch"
  cat "$out/$arch/ctest.log"
  counts "$out/$arch/Testing/Temporary/LastTest.log"
done
echo
echo "== Summary"
for arch in i686 x86_64; do
  echo "$arch: $(grep -E '^[0-9]+% tests passed' "$out/$arch/ctest.log" || echo 'ctest did not finish')"
done
echo "Windows leg: $(($(date +%s) - started)) s"
if ((status)); then echo "Windows tests: FAILED"; else echo "Windows tests: all passed"; fi
exit "$status"
