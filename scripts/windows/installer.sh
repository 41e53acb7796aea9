#!/usr/bin/env bash
# The installer, the MSI and the portable zips under Wine, run through
# scripts/windows/wine-run.sh (ctest's "installer" test of the 64-bit build):
# the per-user setup and its uninstaller with the silent switches and the
# settings it presets; the
# install for all users and the MSI (tests/win32/install_for_all_users.sh);
# the signing round trip with a throw-away certificate
# (tests/win32/signing_test.sh); the zips' contents. They are made by
# scripts/build-windows.sh: where they are missing the test is skipped
# (status 77), or fails with VELTRANE_PACKAGES_REQUIRED=1.
set -euo pipefail
source "$(dirname "$0")/env.sh"
setup=$out/Veltrane-$version-setup.exe
if [[ ! -e $setup || ! -e $out/Veltrane-$version.msi ]]; then
  echo "$setup or the MSI is missing: run scripts/build-windows.sh"
  [[ ${VELTRANE_PACKAGES_REQUIRED:-} == 1 ]] && exit 1
  exit 77
fi

pcheck() { check "$@"; }
folder_of() { winepath -u "$(wine cmd /c echo "%$1%" 2>/dev/null | tr -d '\r')" 2>/dev/null; }
settings() {  # settings FOLDER QUIET DELAY
  printf '[Main]\r\nNTPServer=127.0.0.1 (local test server)\r\nDelay=%s\r\nConnectionType=LAN\r\nQuietMode=%s\r\n' \
    "$3" "$2" >"$1/Veltrane.INI"
}

echo "== Installer, silent"
installed=$(folder_of LOCALAPPDATA)/Programs/Veltrane
programs=$(folder_of APPDATA)/Microsoft/Windows/Start\ Menu/Programs
# Wine spells it StartUp.
startup=$(find "$programs" -maxdepth 1 -iname startup | head -n 1)
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Veltrane'

uninstall() {  # the uninstaller copies itself away and returns at once: wait for its work
  wine "$installed/uninstall.exe" /S >/dev/null 2>&1 || true
  for _ in $(seq 300); do [[ -e $installed/veltrane.exe || -e $installed/uninstall.exe ]] || break; sleep 0.1; done
  sleep 0.5
}

status=0
wine "$setup" /S >/dev/null 2>&1 || status=$?
pcheck "setup /S ends with status 0 (got $status)" $((status != 0))
pcheck "per-user folder %LOCALAPPDATA%\\Programs\\Veltrane" "$(exists "$installed/veltrane.exe")"
cmp -s "$installed/veltrane.exe" "$out/x86_64/veltrane.exe" && r=0 || r=1
pcheck "the 64-bit program on a 64-bit system" $r
pcheck "README.txt and the uninstaller" "$([[ -e $installed/README.txt && -e $installed/uninstall.exe ]] && echo 0 || echo 1)"
pcheck "Start menu: Veltrane" "$(exists "$programs/Veltrane/Veltrane.lnk")"
pcheck "Start menu: Veltrane Configuration" "$(exists "$programs/Veltrane/Veltrane Configuration.lnk")"
strings -el "$programs/Veltrane/Veltrane Configuration.lnk" 2>/dev/null | grep -qx config && r=0 || r=1
pcheck "the configuration entry starts veltrane.exe config" $r
strings -el "$programs/Veltrane/Veltrane log.lnk" 2>/dev/null | grep -qx -- --open-log && r=0 || r=1
pcheck "Start menu: Veltrane log, starting veltrane.exe --open-log" $r
pcheck "Startup folder: Veltrane (started at log-on)" "$(exists "$startup/Veltrane.lnk")"
wine reg query "$uninstall_key" /v DisplayVersion 2>/dev/null | grep -q "$version" && r=0 || r=1
pcheck "listed under installed programs, version $version" $r
entry=$(wine reg query "$uninstall_key" 2>/dev/null | tr -d '\r')
size=$(sed -n 's/^ *EstimatedSize *REG_DWORD *0x\([0-9a-fA-F]*\)$/\1/p' <<<"$entry")
[[ -n $size ]] && ((16#$size * 1024 >= $(stat -c %s "$out/x86_64/veltrane.exe"))) &&
  grep -qE 'URLInfoAbout +REG_SZ +https://' <<<"$entry" && grep -qE 'HelpLink +REG_SZ +https://' <<<"$entry" &&
  grep -qiE 'DisplayIcon +REG_SZ +.*\\veltrane\.exe,0$' <<<"$entry" && r=0 || r=1
pcheck "the entry's size (at least the program's), addresses and icon" $r

# The user's files: the uninstaller leaves them.
printf '[Main]\r\nQuietMode=Y\r\n' >"$installed/Veltrane.INI"
printf 'log\r\n' >"$installed/Veltrane.log"
printf 'old\r\n' >"$installed/OldLog.log"
uninstall
pcheck "uninstall /S removes the program and the uninstaller" \
  "$([[ ! -e $installed/veltrane.exe && ! -e $installed/uninstall.exe && ! -e $installed/README.txt ]] && echo 0 || echo 1)"
pcheck "and the Start menu entries" "$(absent "$programs/Veltrane")"
pcheck "and the Startup shortcut" "$(absent "$startup/Veltrane.lnk")"
wine reg query "$uninstall_key" >/dev/null 2>&1 && r=1 || r=0
pcheck "and the entry under installed programs" $r
pcheck "and keeps the settings and the logs" \
  "$([[ -e $installed/Veltrane.INI && -e $installed/Veltrane.log && -e $installed/OldLog.log ]] && echo 0 || echo 1)"

wine "$setup" /S /NOSTARTUP >/dev/null 2>&1 || true
pcheck "setup /S /NOSTARTUP: no Startup shortcut" "$(absent "$startup/Veltrane.lnk")"
pcheck "setup /S /NOSTARTUP: the program and its Start menu entries" \
  "$([[ -e $installed/veltrane.exe && -e $programs/Veltrane/Veltrane.lnk ]] && echo 0 || echo 1)"
grep -q 'QuietMode=Y' "$installed/Veltrane.INI" && r=0 || r=1
pcheck "an install over kept settings leaves them" $r
uninstall

# Settings preset by the setup: a new file with the LAN, so that the Startup
# shortcut runs rather than opening the dialog.
rm -f "$installed/Veltrane.INI"
# (Wine quotes the argument whole: "/SERVER=127.0.0.1 (preset server)".)
wine "$setup" /S /NOSTARTUP "/SERVER=127.0.0.1 (preset server)" /DELAY=7 >/dev/null 2>&1 || true
preset=$(tr -d '\r' <"$installed/Veltrane.INI" 2>/dev/null || true)
[[ $preset == $'[Main]\nNTPServer=127.0.0.1 (preset server)\nDelay=7\nConnectionType=LAN' ]] && r=0 || r=1
pcheck "setup /S \"/SERVER=...\" /DELAY=7: the settings file with them and the LAN ($(tr '\n' ' ' <<<"$preset"))" $r
uninstall
rm -f "$installed/Veltrane.INI"


# The install for all users and the MSI; signing.
source "$root/tests/win32/install_for_all_users.sh"
source "$root/tests/win32/signing_test.sh"

echo "== Portable zips"
for bits in 32 64; do
  arch=$([[ $bits == 32 ]] && echo i686 || echo x86_64)
  zipfile=$out/Veltrane-$version-win$bits.zip
  listing=$(unzip -Z1 "$zipfile" 2>/dev/null | sort | tr '\n' ' ' || true)
  [[ $listing == "Veltrane/ Veltrane/README.txt Veltrane/veltrane.exe " ]] && r=0 || r=1
  pcheck "win$bits zip holds Veltrane\\veltrane.exe and README.txt ($listing)" $r
  unzip -p "$zipfile" Veltrane/veltrane.exe | cmp -s - "$out/$arch/veltrane.exe" && r=0 || r=1
  pcheck "win$bits zip: the $bits-bit program" $r
  unzip -p "$zipfile" Veltrane/README.txt | head -n 1 | grep -q $'\r$' && r=0 || r=1
  pcheck "win$bits zip: README.txt with Windows line ends" $r
done

summary "installers, MSI and zips"
