# The install for all users under Wine. Sourced by scripts/windows/installer.sh
# inside its namespace, after the per-user installer's checks; it uses that
# script's helpers (pcheck, exists, absent, folder_of, settings, start_server,
# stop_server) and its variables (out, work, version, setup, installed).
#   - the task's XML as veltrane.exe writes it (its content: the behaviour
#     tests' TaskXml), and a wrong preset refused;
#   - setup /S /ALLUSERS: Program Files, the mark, the Start menu for
#     everyone (with the log's entry), the uninstall entry under HKLM, the
#     machine's folder and
#     settings, the task registered (Wine's schtasks stores the settings of
#     the XML, but keeps no triggers, principal or action);
#   - a user's run of that copy (its files in %LOCALAPPDATA%\Veltrane, the
#     refused setting naming the task) and the machine's run (--machine: the
#     machine's settings and log);
#   - its uninstaller, with and without /PURGE; a setup over kept settings
#     with /TOLERANCE= given;
#   - the MSI: its tables, type-3090 custom actions and their places, its
#     secure properties, the log's entry, an install with SERVER, DELAY and
#     TOLERANCE preset, its removal.

program_files=$(winepath -u 'C:\Program Files' 2>/dev/null)
shared=$program_files/Veltrane
program_data=$(folder_of ProgramData)
machine=$program_data/Veltrane
common_menu="$program_data/Microsoft/Windows/Start Menu/Programs"
# (Not through winepath: a 32-bit one would name syswow64.)
task="$WINEPREFIX/drive_c/windows/system32/tasks/Veltrane/Set the clock"
hklm_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Veltrane'
user_folder=$(folder_of LOCALAPPDATA)/Veltrane
yes_no() { "$@" && echo 0 || echo 1; }

echo "== The task's XML, as the program writes it"
xml=$work/task.xml
status=0
wine "$out/x86_64/veltrane.exe" --write-task-xml "$(winepath -w "$xml")" >/dev/null 2>&1 || status=$?
pcheck "veltrane.exe --write-task-xml FILE: status 0 (got $status)" $((status != 0))
pcheck "well-formed UTF-16" "$(yes_no xmllint --noout "$xml")"
action=$(xmllint --xpath "concat(//*[local-name()='Command'], ' ', //*[local-name()='Arguments'])" "$xml" 2>/dev/null)
pcheck "the action: this veltrane.exe --machine --rate-limited ($action)" \
  "$(yes_no test "$action" = "$(winepath -w "$out/x86_64/veltrane.exe") --machine --rate-limited")"
status=0
wine "$out/x86_64/veltrane.exe" --install-machine Delay=ten >/dev/null 2>&1 || status=$?
pcheck "--install-machine Delay=ten: status 64, nothing made (got $status)" \
  "$(yes_no test "$status" = 64 -a ! -e "$machine")"

echo "== Installer for all users, silent"
uninstall_shared() {  # uninstall_shared [/PURGE]: waits for the uninstaller's copy of itself
  wine "$shared/uninstall.exe" /S "$@" >/dev/null 2>&1 || true
  for _ in $(seq 300); do [[ -e $shared/veltrane.exe || -e $shared/uninstall.exe ]] || break; sleep 0.1; done
  sleep 0.5
}
status=0
wine "$setup" /S /ALLUSERS >/dev/null 2>&1 || status=$?
pcheck "setup /S /ALLUSERS: status 0 (got $status)" $((status != 0))
pcheck "Program Files\\Veltrane: the 64-bit program" "$(yes_no cmp -s "$shared/veltrane.exe" "$out/x86_64/veltrane.exe")"
pcheck "the mark of an install for all users, the notes and the uninstaller" \
  "$(yes_no test -e "$shared/installed-for-all-users.txt" -a -e "$shared/README.txt" -a -e "$shared/uninstall.exe")"
pcheck "nothing in the per-user folder" "$(absent "$installed/veltrane.exe")"
pcheck "Start menu for everyone: Veltrane" "$(exists "$common_menu/Veltrane/Veltrane.lnk")"
pcheck "Start menu for everyone: \"Veltrane settings for all users\", starting veltrane.exe --machine config" \
  "$(yes_no grep -qx -- '--machine config' <(strings -el "$common_menu/Veltrane/Veltrane settings for all users.lnk"))"
pcheck "Start menu for everyone: \"Veltrane log\", starting veltrane.exe --open-log" \
  "$(yes_no grep -qx -- '--open-log' <(strings -el "$common_menu/Veltrane/Veltrane log.lnk"))"
pcheck "no Startup shortcut: the task sets the clock" \
  "$(yes_no test ! -e "$common_menu/Startup/Veltrane.lnk" -a ! -e "$common_menu/StartUp/Veltrane.lnk")"
pcheck "listed under installed programs for all users (HKLM, 64-bit view)" \
  "$(yes_no grep -q "$version" <(wine reg query "$hklm_key" /v DisplayVersion /reg:64 2>/dev/null))"
pcheck "the machine's settings as installed: the LAN" "$(yes_no grep -q '^ConnectionType=LAN' "$machine/Veltrane.INI")"
pcheck "the task \"Veltrane\\Set the clock\" registered" "$(exists "$task")"
pcheck "Task Scheduler took its limits: ten minutes, never twice, only with a network" \
  "$(yes_no test "$(grep -cE '<(ExecutionTimeLimit>PT10M|MultipleInstancesPolicy>IgnoreNew|RunOnlyIfNetworkAvailable>true)<' "$task")" = 3)"

# A user's run of the shared copy keeps its files in the user's folder; the
# clock cannot be set here (Wine refuses a step of more than half a second).
mkdir -p "$user_folder"
settings "$user_folder" Y 3
start_server --offset -95
status=0
wine "$shared/veltrane.exe" >/dev/null 2>&1 || status=$?
pcheck "a user's run of the shared copy: status 2, the clock not set (got $status)" $((status != 2))
pcheck "its log in %LOCALAPPDATA%\\Veltrane names the task as the fix" \
  "$(yes_no grep -q 'ERROR: the system clock could not be set: .* (error 1314); only an administrator may set it: the task "Veltrane\\Set the clock" sets it' "$user_folder/Veltrane.log")"
pcheck "nothing written beside the shared program" \
  "$(yes_no test ! -e "$shared/Veltrane.log" -a ! -e "$shared/Veltrane.INI")"
# The machine's run: the machine's settings and log.
printf 'NTPServer=127.0.0.1 (local test server)\r\nQuietMode=Y\r\n' >>"$machine/Veltrane.INI"
status=0
wine "$shared/veltrane.exe" --machine noupdate >/dev/null 2>&1 || status=$?
pcheck "the machine's run with noupdate: status 0 (got $status)" $((status != 0))
pcheck "its log in %ProgramData%\\Veltrane" \
  "$(yes_no grep -q 'system clock off by 1 minute 3[56] seconds' "$machine/Veltrane.log")"
stop_server

uninstall_shared
pcheck "uninstall /S removes the program, the mark and the uninstaller" "$(absent "$shared")"
pcheck "and the Start menu entries" "$(absent "$common_menu/Veltrane")"
pcheck "and the entry under installed programs" "$(yes_no test "$(wine reg query "$hklm_key" /reg:64 >/dev/null 2>&1; echo $?)" != 0)"
pcheck "and the task" "$(absent "$task")"
pcheck "and keeps the machine's settings and log" \
  "$(yes_no test -e "$machine/Veltrane.INI" -a -e "$machine/Veltrane.log")"
wine "$setup" /S /ALLUSERS /TOLERANCE=11 >/dev/null 2>&1 || true
pcheck "an install over kept settings leaves them" "$(yes_no grep -q '^QuietMode=Y' "$machine/Veltrane.INI")"
pcheck "and writes the one given (/TOLERANCE=11)" "$(yes_no grep -qx $'Tolerance=11\r' "$machine/Veltrane.INI")"
uninstall_shared /PURGE
pcheck "uninstall /S /PURGE removes the machine's settings and log too" "$(absent "$machine")"

echo "== MSI"
msi=$out/Veltrane-$version.msi
table() { msiinfo export "$msi" "$1" | tr -d '\r'; }  # IDT text: CR LF
pcheck "MSI tables: files, components, shortcuts, custom actions, the sequence" \
  "$(yes_no test "$(msiinfo tables "$msi" | grep -cxE 'File|Component|Shortcut|CustomAction|InstallExecuteSequence|Property')" = 6)"
pcheck "for all users" "$(yes_no grep -qx $'ALLUSERS\t1' <(table Property))"
pcheck "for 64-bit Windows" "$(yes_no grep -q 'Template: x64' <(msiinfo suminfo "$msi"))"
secure=$(table Property | awk -F'\t' '$1 == "SecureCustomProperties" { print ";" $2 ";" }')
pcheck "SERVER, DELAY, TOLERANCE and PURGE secure, beside the upgrade's ($secure)" \
  "$(yes_no test "$(grep -oE ';(SERVER|DELAY|TOLERANCE|PURGE|WIX_UPGRADE_DETECTED);' <<<"${secure//;/;;}" | wc -l)" = 5)"
pcheck "Start menu: \"Veltrane log\" runs veltrane.exe --open-log" \
  "$(yes_no test "$(table Shortcut | awk -F'\t' '$3 == "Veltrane log" { print $5 " " $6 }')" = '[INSTALLDIR]veltrane.exe --open-log')"
actions=$(table CustomAction)
pcheck "the installed program presets and registers: deferred, not impersonated (type 3090)" \
  "$(yes_no grep -qx $'InstallMachine\t3090\tVeltraneExe\t--install-machine "NTPServer=\\[SERVER\\]" "Delay=\\[DELAY\\]" "Tolerance=\\[TOLERANCE\\]"\t' <<<"$actions")"
sequence=$(table InstallExecuteSequence)
at() { awk -F'\t' -v a="$1" '$1 == a { print $3 }' <<<"$sequence"; }
pcheck "after the files are in place; the task removed before they go" \
  "$(yes_no test "$(at InstallFiles)" -lt "$(at InstallMachine)" -a "$(at InstallMachine)" -lt "$(at InstallFinalize)" \
    -a "$(at InstallInitialize)" -lt "$(at UninstallMachine)" -a "$(at UninstallMachine)" -lt "$(at RemoveFiles)")"
status=0
wine msiexec /i "$(winepath -w "$msi")" /qn SERVER="127.0.0.1 (fleet server)" DELAY=5 TOLERANCE=7 >/dev/null 2>&1 ||
  status=$?
pcheck "msiexec /i /qn SERVER=... DELAY=5 TOLERANCE=7: status 0 (got $status)" $((status != 0))
pcheck "the program in Program Files" "$(yes_no cmp -s "$shared/veltrane.exe" "$out/x86_64/veltrane.exe")"
pcheck "the machine's settings preset by the program's INI writer" \
  "$(yes_no test "$(grep -cxE $'(ConnectionType=LAN|NTPServer=127\\.0\\.0\\.1 \\(fleet server\\)|Delay=5|Tolerance=7)\r' "$machine/Veltrane.INI")" = 4)"
pcheck "the task registered" "$(exists "$task")"
# Wine's msi puts the shortcuts of a package for all users in the installing
# user's menu; Windows in everyone's.
pcheck "Start menu: Veltrane, \"Veltrane log\" and \"Veltrane settings for all users\"" \
  "$(yes_no test "$(find "$program_data" "$(folder_of APPDATA)" -path '*Start Menu/Programs/Veltrane/*' -name '*.lnk' | wc -l)" = 3)"
status=0
wine msiexec /x "$(winepath -w "$msi")" /qn >/dev/null 2>&1 || status=$?
pcheck "msiexec /x /qn: status 0, the program and the task gone (got $status)" \
  "$(yes_no test "$status" = 0 -a ! -e "$shared" -a ! -e "$task")"
pcheck "and the machine's settings kept" "$(exists "$machine/Veltrane.INI")"
rm -rf "$machine" "$user_folder"
