#!/usr/bin/env bash
# The package on a real, booted Debian 12: what namespaces cannot show. Builds
# the .deb (without its tests), a Debian 12 guest with mmdebstrap from
# Debian's archive (kept between runs in a cache outside the build tree,
# keyed by what goes into it), boots it with QEMU (TCG, one processor) on a
# throw-away layer over that image, installs the package with apt and runs
# the cases below, each a shell function that prints one "PASS: ..." or
# "FAIL: ..." line; the last line counts them. Non-zero on any failure.
#
# The guest reaches nothing but what the host forwards (slirp with
# restrict=on): ssh in from the host's loopback, and 10.0.2.100:13 out to the
# project's Daytime server (build/daytime-server) on the host's loopback. The
# clock the cases set is the guest's own; nothing here sets the host's.
#
# How right the guest's clock is after a correction is measured with NTP's
# packets: build/sntp-server runs in the guest and tools/ntp-offset asks it
# from the host (best of 8 exchanges; the offset is known to within half the
# exchange's round trip, whatever the two ways took). slirp forwards nothing
# from the guest to the host's UDP, and with restrict=on drops the guest's
# answers to a forwarded UDP port too, so the packets go over one TCP
# connection through a forwarded port.
#
# Three ways into the guest (the helpers below): as root over ssh; as a
# user over ssh (a remote session); and as a user in a session that agetty
# logged in on a virtual console (tty1 and tty2: alice, tty3: bob), a real
# local session, active or not, whose login shell runs the command files
# that root drops into /run/vmtest/ttyN.
#
# Where no VM can run for a reason outside the project (the host's packages
# cannot be installed, the archive cannot be reached for a new image), it
# prints a line beginning "SKIP:" and exits 0; anything else fails.
#
# VELTRANE_VM_CACHE: the folder of the cached guest images (default
# $XDG_CACHE_HOME/veltrane-vm, else ~/.cache/veltrane-vm).
# VELTRANE_VM_PAUSE: seconds the guest stays up after the cases, for a look
# (the line before the pause says how to reach it).
# VELTRANE_VM_CASES: the names of the cases to run, blank-separated
# (default: all, in order; later cases rely on earlier ones).
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
started=$SECONDS

cache=${VELTRANE_VM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/veltrane-vm}
work=$(mktemp -d)
qemu_pid=
daytime_pid=

cleanup() {
  local control
  for control in "$work"/ssh-*; do
    [[ -S $control ]] && ssh -o ControlPath="$control" -O exit dummy >/dev/null 2>&1
  done
  if [[ -n $qemu_pid ]] && kill -0 "$qemu_pid" 2>/dev/null; then
    kill "$qemu_pid" 2>/dev/null
    for _ in 1 2 3 4 5 6 7 8 9 10; do kill -0 "$qemu_pid" 2>/dev/null || break; sleep 0.5; done
    kill -9 "$qemu_pid" 2>/dev/null
  fi
  [[ -n $daytime_pid ]] && kill "$daytime_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
# A time-out's TERM (or a ^C) ends the script through its EXIT trap: the
# guest and the server go with it.
trap 'exit 143' TERM INT

say() { echo "== $*"; }
skip() {
  echo "SKIP: the VM test did not run: $*"
  exit 0
}
die() {
  echo "FAIL: $*"
  echo "vm: 0 passed, 1 failed"
  exit 1
}

# ---------------------------------------------------------------- the host

say "Host packages"
host_packages=(qemu-system-x86 qemu-utils mmdebstrap socat openssh-client e2fsprogs coreutils util-linux python3)
missing=()
for package in "${host_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if ((${#missing[@]})); then
  sudo=()
  if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
  timeout 300 "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=120 update -qq ||
    skip "apt-get update failed: Debian's archive cannot be reached to install ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive timeout 600 "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=120 install -y -qq \
    --no-install-recommends "${missing[@]}" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; die "the host's packages (${missing[*]}) could not be installed"; }
fi
# mmdebstrap's root mode builds the image; it needs root.
[[ $(id -u) == 0 ]] || die "building the guest image needs root (mmdebstrap's root mode)"

# The cache and the run's files need room: an image is about 2 GB.
free_mb() { df -Pm "$1" | awk 'NR == 2 { print $4 }'; }
mkdir -p "$cache" || die "the cache folder $cache cannot be made"
(($(free_mb "$cache") >= 6000)) || die "less than 6 GB free in $cache ($(free_mb "$cache") MB): the guest image does not fit"
(($(free_mb "$work") >= 1500)) || die "less than 1.5 GB free in $work for the guest's changes"

say "The package, without its tests"
SECONDS_PACKAGE=$SECONDS
if ! PACKAGE_DIR=build/vm-package DEB_BUILD_OPTIONS=nocheck timeout 1200 bash scripts/package.sh -us -uc -b \
  >"$work/package.log" 2>&1; then
  tail -n 40 "$work/package.log"
  die "the package was not built"
fi
deb=$(tail -n 1 "$work/package.log")
[[ -f $deb ]] || die "the package build named no .deb"
echo "$deb ($((SECONDS - SECONDS_PACKAGE)) s)"

say "The Daytime server on the host's loopback"
server=build/daytime-server
if [[ ! -x $server || ! -x build/sntp-server ]]; then
  { cmake --preset default >/dev/null &&
    cmake --build --preset default --target daytime-server sntp-server -j"$(nproc)"; } >"$work/server-build.log" 2>&1 ||
    { tail -n 30 "$work/server-build.log"; die "build/daytime-server and build/sntp-server were not built"; }
fi
# ctime's layout, answered at once. (Not NIST's line sent on time: slirp
# completes the guest's handshake itself, before socat has even started, so
# the round trip the guest times leaves out the hop to the server, which an
# on-time line's transit is reckoned from; on a busy host that hop made the
# clock 35 ms later than the run's own bound of 22 ms. A line sent at once
# is bounded by its handshake's end and its arrival whatever the path did.)
"$server" --port 0 --layout short >"$work/daytime.out" 2>&1 &
daytime_pid=$!
for _ in $(seq 50); do
  grep -q 'listening on' "$work/daytime.out" && break
  sleep 0.1
done
daytime_port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/daytime.out")
[[ -n $daytime_port ]] || { cat "$work/daytime.out"; die "the Daytime server did not start"; }
echo "127.0.0.1:$daytime_port, 10.0.2.100:13 in the guest"

# ---------------------------------------------------------------- the image

# What goes into the image. Changing any of it (or the package's
# dependencies, which the image holds installed) makes a new image.
guest_packages=systemd,systemd-sysv,dbus,polkitd,systemd-timesyncd,linux-image-amd64,initramfs-tools,udev
guest_packages+=,iproute2,openssh-server,sudo,adduser,libpam-systemd,procps
depends=$(dpkg-deb -f "$deb" Depends)
recommends=$(dpkg-deb -f "$deb" Recommends)

# The image's own settings, run in the new root (its path is $1) after the
# packages are in. The users: alice (made a member of the group in a case)
# and bob (never one). Each logs in by agetty on a console: alice on tty1 and
# tty2, bob on tty3; the login shell there runs the command files root puts
# in /run/vmtest/ttyN, one after another, leaving each one's output and exit
# status beside it.
customize=$(
  cat <<'CUSTOMIZE'
set -eu
r=$1
echo veltrane-vm >"$r/etc/hostname"
printf '127.0.0.1 localhost\n127.0.1.1 veltrane-vm\n' >"$r/etc/hosts"
echo '/dev/vda / ext4 rw,relatime 0 1' >"$r/etc/fstab"
for user in alice bob; do
  chroot "$r" adduser --disabled-password --gecos '' --quiet "$user"
done
for home in root home/alice home/bob; do
  mkdir -p "$r/$home/.ssh"
  cp "$r/tmp/vm-key.pub" "$r/$home/.ssh/authorized_keys"
done
chroot "$r" chown -R alice:alice /home/alice/.ssh
chroot "$r" chown -R bob:bob /home/bob/.ssh
# The network: DHCP from slirp.
printf '[Match]\nName=en*\n\n[Network]\nDHCP=ipv4\n' >"$r/etc/systemd/network/20-wired.network"
chroot "$r" systemctl enable systemd-networkd.service >/dev/null 2>&1
# Nothing that runs on its own meanwhile: ifupdown (networkd configures the
# network), the periodic jobs.
for unit in networking.service apt-daily.timer apt-daily-upgrade.timer man-db.timer dpkg-db-backup.timer \
  e2scrub_all.timer e2scrub_reap.service fstrim.timer logrotate.timer; do
  ln -sf /dev/null "$r/etc/systemd/system/$unit"
done
# The consoles' automatic log-ins.
for tty in tty1:alice tty2:alice tty3:bob; do
  mkdir -p "$r/etc/systemd/system/getty@${tty%%:*}.service.d"
  printf '[Service]\nExecStart=\nExecStart=-/sbin/agetty --autologin %s --noclear %%I $TERM\n' "${tty#*:}" \
    >"$r/etc/systemd/system/getty@${tty%%:*}.service.d/autologin.conf"
  mkdir -p "$r/etc/systemd/system/getty.target.wants" "$r/etc/tmpfiles.d"
  ln -sf /lib/systemd/system/getty@.service "$r/etc/systemd/system/getty.target.wants/getty@${tty%%:*}.service"
  echo "d /run/vmtest/${tty%%:*} 0700 ${tty#*:} ${tty#*:} -" >>"$r/etc/tmpfiles.d/vmtest.conf"
done
cat >"$r/usr/local/bin/vmtest-session" <<'LOOP'
#!/bin/sh
# Runs the command files root drops in /run/vmtest/TTY, in this session.
dir=/run/vmtest/$(basename "$(tty)")
echo $$ >"$dir/pid"
while :; do
  for file in "$dir"/*.sh; do
    [ -e "$file" ] || continue
    name=${file%.sh}
    sh "$file" >"$name.out" 2>&1 </dev/null
    echo $? >"$name.tmp" && mv "$name.tmp" "$name.status"
    rm -f "$file"
  done
  sleep 0.2
done
LOOP
chmod 755 "$r/usr/local/bin/vmtest-session"
cat >"$r/etc/profile.d/zz-vmtest.sh" <<'PROFILE'
case $(tty) in /dev/tty[123]) [ -d "/run/vmtest/$(basename "$(tty)")" ] && exec /usr/local/bin/vmtest-session ;; esac
PROFILE
# The package's dependencies, so that apt installs it with no network.
chroot "$r" apt-get satisfy -y -q --no-install-recommends "$(cat "$r/tmp/vm-depends")" >/dev/null
chroot "$r" apt-get clean
CUSTOMIZE
)
key=$(printf '%s\n' "$guest_packages" "$depends" "$recommends" "$customize" | sha256sum | cut -c1-16)
image=$cache/bookworm-$key

build_image() {
  local tmp=$cache/.building-$$
  rm -rf "$tmp" && mkdir -p "$tmp/root" || return 1
  ssh-keygen -q -t ed25519 -N '' -C veltrane-vm -f "$tmp/id_ed25519" || return 1
  printf '%s\n' "$customize" >"$tmp/customize.sh"
  printf '%s' "$depends${recommends:+, $recommends}" >"$tmp/depends"
  local mirror=http://deb.debian.org/debian
  [[ -f /etc/apt/sources.list.d/debian.sources ]] && mirror=/etc/apt/sources.list.d/debian.sources
  timeout 1200 mmdebstrap --variant=important --include="$guest_packages" \
    --customize-hook="cp '$tmp/id_ed25519.pub' \"\$1/tmp/vm-key.pub\" && cp '$tmp/depends' \"\$1/tmp/vm-depends\"" \
    --customize-hook="sh '$tmp/customize.sh' \"\$1\"" \
    --customize-hook='rm -f "$1/tmp/vm-key.pub" "$1/tmp/vm-depends"' \
    bookworm "$tmp/root" "$mirror" >"$tmp/mmdebstrap.log" 2>&1 || { tail -n 30 "$tmp/mmdebstrap.log"; return 1; }
  cp -L "$tmp/root/vmlinuz" "$tmp/vmlinuz" && cp -L "$tmp/root/initrd.img" "$tmp/initrd.img" || return 1
  truncate -s 4G "$tmp/root.img" && mkfs.ext4 -q -F -L root -d "$tmp/root" "$tmp/root.img" || return 1
  rm -rf "$tmp/root"
  mv "$tmp" "$image"
}

say "The guest image"
SECONDS_IMAGE=$SECONDS
exec 9>"$cache/.lock"
flock -w 1500 9 || die "another run has held $cache/.lock for 25 minutes"
if [[ -f $image/root.img ]]; then
  echo "$image (kept from an earlier run)"
else
  # Older images go: only the newest is kept.
  rm -rf "$cache"/bookworm-* "$cache"/.building-*
  if ! build_image; then
    rm -rf "$cache/.building-$$"
    timeout 60 apt-get -q update >/dev/null 2>&1 ||
      skip "the guest image could not be built and Debian's archive does not answer"
    die "the guest image could not be built"
  fi
  echo "$image (built in $((SECONDS - SECONDS_IMAGE)) s)"
fi
flock -u 9

# ---------------------------------------------------------------- the guest

# ssh_as USER COMMAND: runs the command (a shell command line) in the guest
# as USER over ssh, within ssh_limit seconds (default 180), through one
# connection per user.
ssh_as() {
  local user=$1
  shift
  timeout "${ssh_limit:-180}" ssh -p "$ssh_port" -i "$image/id_ed25519" -o BatchMode=yes -o StrictHostKeyChecking=no \
    -o UserKnownHostsFile=/dev/null -o LogLevel=ERROR -o ConnectTimeout=20 -o ServerAliveInterval=5 \
    -o ServerAliveCountMax=6 -o ControlMaster=auto -o ControlPath="$work/ssh-$user" -o ControlPersist=600 \
    "$user@127.0.0.1" "$@"
}
# as_root COMMAND: as root.
as_root() { ssh_as root "$@"; }
# in_session TTY COMMAND [SECONDS]: in the console session on TTY (tty1 and
# tty2: alice, tty3: bob), as its user, within SECONDS (default 120); prints
# what the command printed and ends with its exit status.
in_session() {
  local tty=$1 command=$2 limit=${3:-120}
  local name=c$RANDOM$RANDOM dir=/run/vmtest/$1
  as_root "cat >$dir/$name.tmp && chmod 644 $dir/$name.tmp && mv $dir/$name.tmp $dir/$name.sh &&
    for i in \$(seq $((limit * 5))); do [ -e $dir/$name.status ] && break; sleep 0.2; done
    [ -e $dir/$name.status ] || { echo 'no answer from the session on $tty within $limit s'; exit 124; }
    cat $dir/$name.out; status=\$(cat $dir/$name.status); rm -f $dir/$name.*; exit \$status" <<<"$command"
}
# session_id TTY: logind's session on that console.
session_id() {
  as_root "loginctl list-sessions --no-legend | awk '\$NF == \"$1\" || \$5 == \"$1\" { print \$1 }'"
}
# wait_for_session TTY: until its login shell runs the command files.
wait_for_session() {
  local i
  for i in $(seq 60); do
    in_session "$1" true 5 >/dev/null 2>&1 && return 0
    sleep 1
  done
  return 1
}

# ntp_offset: "OFFSET_MS BOUND_MS DELAY_MS ANSWERS", the guest's clock against
# the host's (positive: the guest is ahead), measured with NTP's packets (the
# guest's sntp-server asked from the host). An ssh command can take a minute
# on a busy host, so neither comparing nor setting the clock goes by it.
ntp_offset() { python3 tools/ntp-offset/ntp_offset.py --tcp 127.0.0.1 "$ntp_port"; }
# The guest's clock against the host's, in seconds (positive: the guest is
# ahead), to a few milliseconds.
guest_offset() {
  local line
  line=$(ntp_offset) || { echo "no NTP answer from the guest" >&2; return 1; }
  awk '{ printf "%.3f\n", $1 / 1000 }' <<<"$line"
}
# put_guest_clock_off SECONDS: the guest's clock that far ahead of the host's
# (moved by the guest from its own reading, so the way there does not count).
put_guest_clock_off() {
  local offset
  offset=$(guest_offset) || return 1
  as_root "date -s @\$(date +%s.%N | awk -v s=$(awk -v s="$1" -v o="$offset" 'BEGIN { printf "%.3f", s - o }') \
    '{ printf \"%.3f\", \$1 + s }') >/dev/null"
}
# offset_near OFFSET EXPECTED BOUND: |OFFSET - EXPECTED| <= BOUND.
offset_near() { awk -v o="$1" -v e="$2" -v b="$3" 'BEGIN { d = o - e; if (d < 0) d = -d; exit !(d <= b) }'; }
# expect_clock EXPECTED: the guest's clock is EXPECTED seconds off the host's,
# give or take 3 (the time the cases take).
expect_clock() {
  local offset
  offset=$(guest_offset) || return 1
  echo "the guest's clock is $offset s off the host's"
  offset_near "$offset" "$1" 3 || { echo "expected $1 s"; return 1; }
}
# expect_clock_within MS: the guest's clock within MS milliseconds of the
# host's, measured with NTP's packets (the guest's sntp-server asked from the
# host); the measurement's own bound is allowed for, and must itself be under
# MS. Where the machine's last run said it measured no closer than MS ("...
# measured to within N ms": the guest's round trip to slirp is long when the
# host is busy), the clock must be where that run said it is: within its N ms.
expect_clock_within() {
  local line offset bound delay answers claimed limit=$1
  line=$(ntp_offset) || { echo "no NTP answer from the guest"; return 1; }
  read -r offset bound delay answers <<<"$line"
  echo "the guest's clock is $offset ms off the host's, measured with NTP to within $bound ms" \
    "(round trip $delay ms, best of $answers)"
  claimed=$(as_root "sed -n 's/.*measured to within \\([0-9]*\\) ms.*/\\1/p' /var/log/veltrane/Veltrane.log | tail -n 1")
  echo "the machine's run said it measured to within ${claimed:-?} ms"
  echo "${FUNCNAME[1]}: $offset ms (to within $bound ms); the run said to within ${claimed:-?} ms" >>"$work/residuals"
  ((${claimed:-0} > limit)) && limit=$claimed
  awk -v o="$offset" -v b="$bound" -v l="$limit" 'BEGIN { if (o < 0) o = -o; exit !(b < l && o - b <= l) }' ||
    { echo "expected within $limit ms"; return 1; }
}

ssh_port=$(
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 20000))
    ss -ltnH "sport = :$port" 2>/dev/null | grep -q . || { echo "$port" && break; }
  done
)
[[ -n $ssh_port ]] || die "no free port for ssh"
ntp_port=$(
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 20000))
    [[ $port != "$ssh_port" ]] && ! ss -ltnH "sport = :$port" 2>/dev/null | grep -q . && echo "$port" && break
  done
)
[[ -n $ntp_port ]] || die "no free port for NTP"

say "Booting the guest (TCG, one processor)"
SECONDS_BOOT=$SECONDS
qemu-img create -q -f qcow2 -F raw -b "$image/root.img" "$work/disk.qcow2" || die "the guest's layer was not made"
qemu-system-x86_64 -accel tcg,thread=multi -smp 1 -m 2048 -display none -monitor none -no-reboot \
  -serial "file:$work/serial.log" \
  -kernel "$image/vmlinuz" -initrd "$image/initrd.img" -append "root=/dev/vda rw console=ttyS0 quiet" \
  -drive "file=$work/disk.qcow2,if=virtio,format=qcow2,cache=unsafe" \
  -nic "user,model=virtio-net-pci,restrict=on,hostfwd=tcp:127.0.0.1:$ssh_port-:22,hostfwd=tcp:127.0.0.1:$ntp_port-:123,guestfwd=tcp:10.0.2.100:13-cmd:socat - TCP:127.0.0.1:$daytime_port" \
  >"$work/qemu.log" 2>&1 &
qemu_pid=$!
booted=
for _ in $(seq 90); do
  kill -0 "$qemu_pid" 2>/dev/null || break
  grep -q -e 'soft lockup' -e 'Kernel panic' "$work/serial.log" 2>/dev/null && break
  if as_root true >/dev/null 2>&1; then
    booted=yes
    break
  fi
  sleep 2
done
if [[ -z $booted ]]; then
  cat "$work/qemu.log"
  tail -n 40 "$work/serial.log"
  die "the guest did not come up within 180 s"
fi
echo "ssh after $((SECONDS - SECONDS_BOOT)) s"
for tty in tty1 tty2 tty3; do
  wait_for_session "$tty" || { tail -n 20 "$work/serial.log"; die "no session on $tty"; }
done
# The host is the guest's clock: the RTC starts at the host's UTC.
as_root "timedatectl show -p NTP -p Timezone" | sed 's/^/guest: /'
# The NTP server that tells the host the guest's time (it sets nothing).
as_root "cat >/usr/local/bin/sntp-server && chmod 755 /usr/local/bin/sntp-server &&
  /usr/local/bin/sntp-server --address 0.0.0.0 --port 123 --tcp --background </dev/null 2>/dev/null" <build/sntp-server |
  sed -n 's/^listening on/guest: sntp-server listening on/p'

# ---------------------------------------------------------------- the cases

passed=0
failed=0
# run_case NAME FUNCTION: one PASS or FAIL line; a failure shows what the
# function printed.
run_case() {
  local name=$1 function=$2 start=$SECONDS
  if "$function" >"$work/case.out" 2>&1; then
    passed=$((passed + 1))
    echo "PASS: $name ($((SECONDS - start)) s)"
  else
    failed=$((failed + 1))
    echo "FAIL: $name ($((SECONDS - start)) s)"
    tail -n 40 "$work/case.out" | sed 's/^/    /'
    # A program that crashed: where, from the guest's kernel.
    as_root "dmesg | grep -E 'segfault|traps:|general protection' | tail -n 5" 2>/dev/null | sed 's/^/    kernel: /'
  fi
}

case_installs() {
  as_root "cat >/root/veltrane.deb" <"$deb" || return 1
  # On a busy host the guest's dpkg alone can take minutes.
  ssh_limit=600 as_root "DEBIAN_FRONTEND=noninteractive apt-get install -y -q /root/veltrane.deb" || return 1
  as_root "dpkg-query -W -f='\${Status} \${Version}\n' veltrane" | tee /dev/stderr | grep -q '^install ok installed'
}

case_group() {
  local line
  line=$(as_root "getent group veltrane") || { echo "no group veltrane"; return 1; }
  echo "$line"
  (($(cut -d: -f3 <<<"$line") < 1000)) || { echo "not a system group"; return 1; }
  # The machine's runs' user.
  line=$(as_root "getent passwd veltrane-sync") || { echo "no user veltrane-sync"; return 1; }
  echo "$line"
  (($(cut -d: -f3 <<<"$line") < 1000)) || { echo "not a system user"; return 1; }
}

case_units() {
  local out figure
  out=$(as_root "systemd-analyze security veltrane-sync.service" 2>&1)
  figure=$(sed -n 's/.*Overall exposure level for veltrane-sync.service: \([0-9.]*\) .*/\1/p' <<<"$out")
  echo "exposure: ${figure:-none}"
  awk -v f="$figure" 'BEGIN { exit !(f != "" && f + 0 <= 3.0) }' || { tail -n 5 <<<"$out"; return 1; }
  out=$(as_root "systemd-analyze verify --man=no veltrane-sync.service veltrane-sync.timer 2>&1")
  [[ -z $out ]] || { echo "systemd-analyze verify: $out"; return 1; }
}

# The machine's settings: the host's Daytime server.
machine_settings() {
  as_root "printf '[Main]\r\nNTPServer=${1:-10.0.2.100 (the host)}\r\nConnectionType=LAN\r\n' >/etc/veltrane/Veltrane.INI"
}
# machine_run: starts the machine's service once and waits for its end;
# prints its exit status. (The timer, enabled as an administrator would,
# keeps the service loaded once a run has ended, so that its status can be
# read.)
machine_run() {
  as_root "systemctl reset-failed veltrane-sync.service 2>/dev/null; timeout 200 systemctl start veltrane-sync.service
    systemctl show -P ExecMainStatus veltrane-sync.service"
}
# journal_at PRIORITY: the service's lines at that priority (3 err, 4
# warning) since journal_mark. (journalctl -p with --after-cursor shows
# nothing in systemd 252: the priority is picked from its JSON instead.)
journal_mark() { as_root "journalctl -n 1 --show-cursor -q -o cat | sed -n 's/^-- cursor: //p'" >"$work/cursor"; }
journal_at() {
  as_root "journalctl -q -o json --output-fields=PRIORITY,MESSAGE -u veltrane-sync.service \
    --after-cursor='$(cat "$work/cursor")'" | grep -F "\"PRIORITY\":\"$1\"" |
    sed -n 's/.*"MESSAGE":"\([^"]*\)".*/\1/p'
}

case_machine_leaves_a_kept_clock() {
  machine_settings && as_root "systemctl enable veltrane-sync.timer" || return 1
  [[ $(as_root "timedatectl show -p NTP --value; systemctl is-active systemd-timesyncd") == $'yes\nactive' ]] ||
    { echo "timesyncd is not active"; return 1; }
  put_guest_clock_off 95 && journal_mark || return 1
  local status
  status=$(machine_run)
  echo "exit status ${status:-none}"
  as_root "systemctl show -p Result -p ActiveState veltrane-sync.service; tail -n 4 /var/log/veltrane/Veltrane.log"
  expect_clock 95 || return 1
  [[ $status == 6 ]] || return 1
  # Held back for another service, the unit has not failed.
  as_root "! systemctl -q is-failed veltrane-sync.service" || { echo "the unit failed"; return 1; }
  journal_at 4 | grep -F 'WARNING: system clock not corrected - another time service keeps it: systemd-timesyncd' ||
    { echo "no WARNING at priority warning in the journal"; return 1; }
}

case_machine_sets_the_clock() {
  # timedated may be slow to answer on a busy host: asked again.
  local try
  for try in 1 2 3; do
    as_root "timedatectl set-ntp false" && break
    ((try < 3)) || return 1
  done
  put_guest_clock_off 95 && journal_mark || return 1
  local status
  status=$(machine_run)
  echo "exit status ${status:-none}"
  as_root "tail -n 3 /var/log/veltrane/Veltrane.log"
  [[ $status == 0 ]] && expect_clock_within 20
}

# After the run that set the clock (the case before), the hardware clock
# holds the same time: the guest's RTC read by hwclock against its clock.
case_hardware_clock() {
  as_root "grep -F 'hardware clock' /var/log/veltrane/Veltrane.log | tail -n 1" || return 1
  as_root "tail -n 2 /var/log/veltrane/Veltrane.log" | grep -q 'hardware clock set to the system clock (UTC): /dev/rtc0' ||
    { echo "no line of the hardware clock set"; return 1; }
  local gap
  gap=$(as_root 'rtc=$(date -d "$(hwclock --show)" +%s); now=$(date +%s); echo $((rtc - now))') || return 1
  echo "the hardware clock is $gap s off the system clock"
  ((gap >= -2 && gap <= 2))
}

# The event unit: enabled, a start within ten minutes of the last run ends
# at once (exit 0, not due); the sleep targets want it, and NetworkManager's
# dispatcher script is in place. (A real suspend does not come back under
# TCG without a wake-up source: what the targets do is systemd's own.)
case_event_runs_rate_limited() {
  as_root "systemctl enable veltrane-sync-event.service" || return 1
  as_root "systemctl list-dependencies --plain suspend.target" | grep -q veltrane-sync-event.service ||
    { echo "suspend.target does not want the event unit"; return 1; }
  as_root "test -x /usr/lib/NetworkManager/dispatcher.d/90-veltrane" || { echo "no dispatcher script"; return 1; }
  put_guest_clock_off 95 && journal_mark || return 1
  as_root "systemctl start veltrane-sync-event.service; systemctl show -P ExecMainStatus veltrane-sync-event.service" |
    tee /dev/stderr | grep -qx 0 || return 1
  as_root "journalctl -q -o cat -u veltrane-sync-event.service | tail -n 8" | tee /dev/stderr |
    grep -q 'not due' || { echo "the run was not held back"; return 1; }
  expect_clock 95 || return 1
  # The dispatcher's start, as NetworkManager makes it, ten minutes on.
  as_root "sed -i 's/^Obtained=.*/Obtained=1/' /var/lib/veltrane/LastRun.ini &&
    /usr/lib/NetworkManager/dispatcher.d/90-veltrane enp0s3 up && sleep 1 &&
    timeout 200 sh -c 'while systemctl -q is-active veltrane-sync-event.service ||
      [ \$(systemctl show -P ActiveState veltrane-sync-event.service) = activating ]; do sleep 1; done'" || return 1
  expect_clock 0
}

case_journal_errors() {
  # Nothing answers on the guest's own port 13: refused at once.
  machine_settings "127.0.0.1" && journal_mark || return 1
  local status
  status=$(machine_run)
  machine_settings || return 1
  echo "exit status ${status:-none}"
  [[ $status == 1 ]] || return 1
  journal_at 3 | grep -F 'ERROR: winsock error - 10061' || { echo "no ERROR at priority err in the journal"; return 1; }
}

# User runs: quiet, from the host's server, with their own log.
user_settings() {
  local user
  for user in alice bob; do
    as_root "install -d -o $user -g $user /home/$user/.config /home/$user/.config/veltrane &&
      printf '[Main]\r\nNTPServer=10.0.2.100 (the host)\r\nConnectionType=LAN\r\nQuietMode=Y\r\n' >/home/$user/.config/veltrane/Veltrane.INI &&
      chown $user: /home/$user/.config/veltrane/Veltrane.INI" || return 1
  done
}
# user_run HOW WHERE: veltrane in a console session (HOW in_session, WHERE
# its tty) or over ssh (ssh_as, WHERE the user); prints its log's new lines
# and its exit status last.
user_run() {
  "$1" "$2" 'log=$HOME/.config/veltrane/Veltrane.log; lines=$(cat "$log" 2>/dev/null | wc -l)
    veltrane 2>"$HOME/veltrane.err"; status=$?; tail -n +$((lines + 1)) "$log"; tail -n 3 "$HOME/veltrane.err"
    echo "exit status $status"'
}

case_member_sets_the_clock() {
  user_settings || return 1
  as_root "adduser --quiet alice veltrane && systemctl restart getty@tty1.service" || return 1
  wait_for_session tty1 || { echo "alice's session on tty1 did not come back"; return 1; }
  as_root "loginctl activate $(session_id tty1)" || return 1
  put_guest_clock_off 95 || return 1
  local out
  out=$(user_run in_session tty1)
  echo "$out"
  grep -q '^exit status 0$' <<<"$out" && grep -q "the machine's run veltrane-sync.service set the clock" <<<"$out" &&
    grep -q 'system clock corrected to' <<<"$out" && expect_clock_within 20
}

# The user timer's runs belong to no session: polkit weighs the user's
# session at the machine instead (alice's, in front).
case_member_timer_sets_the_clock() {
  put_guest_clock_off 95 || return 1
  in_session tty1 'systemctl --user start veltrane.service; echo "exit status $?"
    journalctl --user -q -o cat -u veltrane.service | tail -n 4' | tee /dev/stderr | grep -q '^exit status 0$' &&
    expect_clock_within 20
}

case_non_member_refused() {
  local bob
  bob=$(session_id tty3)
  as_root "loginctl activate $bob && sleep 1 && loginctl show-session -p Active $bob" || return 1
  put_guest_clock_off 95 || return 1
  local out
  out=$(user_run in_session tty3)
  echo "$out"
  grep -q '^exit status 2$' <<<"$out" && grep -q 'ERROR: .*sudo adduser bob veltrane' <<<"$out" && expect_clock 95
}

# polkit counts a user's session as active where any of their sessions is
# in front: bob's is, from the case before.
case_member_inactive_refused() {
  as_root "loginctl show-session -p Active $(session_id tty3)" | grep -qx 'Active=yes' ||
    { echo "bob's session is not in front"; return 1; }
  put_guest_clock_off 95 || return 1
  local out
  out=$(user_run in_session tty2)
  as_root "loginctl activate $(session_id tty1)"
  echo "$out"
  grep -q '^exit status 2$' <<<"$out" && grep -q 'ERROR: .*alice is a member of the group veltrane' <<<"$out" &&
    grep -q 'not the active one' <<<"$out" && ! grep -q 'adduser' <<<"$out" && expect_clock 95
}

case_member_over_ssh_refused() {
  as_root "loginctl show-session -p Active $(session_id tty1)" | grep -qx 'Active=yes' ||
    { echo "alice's session is not in front"; return 1; }
  put_guest_clock_off 95 || return 1
  local out
  out=$(user_run ssh_as alice)
  echo "$out"
  grep -q '^exit status 2$' <<<"$out" && grep -q 'ERROR: .*alice is a member of the group veltrane' <<<"$out" &&
    grep -q 'remote one (SSH)' <<<"$out" && ! grep -q 'adduser' <<<"$out" && expect_clock 95
}

# pkcheck_as_alice ACTION [DETAIL VALUE ...]: polkit's answer for alice's
# process on tty1 (root asks, as timedated and systemd do); 0: authorized.
pkcheck_as_alice() {
  local action=$1 details=()
  shift
  while (($# >= 2)); do
    details+=(--detail "$1" "$2")
    shift 2
  done
  as_root "pkcheck --action-id $action --process \$(cat /run/vmtest/tty1/pid) ${details[*]} >/dev/null 2>&1"
}

case_member_grant_is_narrow() {
  local ok=0 action
  # timedated's: setting any time implies turning NTP off and the zone.
  for action in set-ntp set-timezone set-local-rtc set-time; do
    if pkcheck_as_alice "org.freedesktop.timedate1.$action"; then
      echo "alice may $action without a password"
      ok=1
    fi
  done
  pkcheck_as_alice org.freedesktop.systemd1.manage-units unit veltrane-sync.service verb start ||
    { echo "alice may not start veltrane-sync.service"; ok=1; }
  pkcheck_as_alice org.freedesktop.systemd1.manage-units unit veltrane-sync.service verb ref ||
    { echo "alice may not hold veltrane-sync.service"; ok=1; }
  pkcheck_as_alice org.freedesktop.systemd1.manage-units unit veltrane-sync.service verb stop &&
    { echo "alice may stop veltrane-sync.service"; ok=1; }
  pkcheck_as_alice org.freedesktop.systemd1.manage-units unit ssh.service verb start &&
    { echo "alice may start ssh.service"; ok=1; }
  # And what alice herself can do at her console, asked for no password.
  in_session tty1 'timedatectl --no-ask-password set-ntp true' && { echo "alice turned NTP on"; ok=1; }
  in_session tty1 'timedatectl --no-ask-password set-timezone Europe/Berlin' &&
    { echo "alice changed the time zone"; ok=1; }
  in_session tty1 'timedatectl --no-ask-password set-time "2030-01-01 00:00:00"' &&
    { echo "alice set a time of her own"; ok=1; }
  as_root "timedatectl show -p NTP -p Timezone"
  return $ok
}

case_remove_stops_the_timers() {
  as_root "systemctl enable --now veltrane-sync.timer" || return 1
  in_session tty1 'systemctl --user enable --now veltrane.timer && systemctl --user is-active veltrane.timer' ||
    return 1
  as_root "DEBIAN_FRONTEND=noninteractive apt-get remove -y -q veltrane" || return 1
  local ok=0 state
  state=$(as_root "systemctl is-active veltrane-sync.timer")
  [[ $state != active ]] || { echo "the machine's timer still runs"; ok=1; }
  state=$(in_session tty1 'systemctl --user is-active veltrane.timer')
  [[ $state != active ]] || { echo "alice's timer still runs"; ok=1; }
  for path in /usr/bin/veltrane /usr/share/polkit-1/rules.d/50-veltrane-set-time.rules \
    /lib/systemd/system/veltrane-sync.service /usr/lib/systemd/user/veltrane.timer; do
    as_root "test ! -e $path" || { echo "$path stays"; ok=1; }
  done
  for path in /etc/veltrane/Veltrane.INI /var/log/veltrane/Veltrane.log; do
    as_root "test -e $path" || { echo "$path went"; ok=1; }
  done
  as_root "getent group veltrane" || { echo "the group went"; ok=1; }
  return $ok
}

case_purge() {
  as_root "DEBIAN_FRONTEND=noninteractive apt-get purge -y -q veltrane" || return 1
  local ok=0 path
  for path in /etc/veltrane /var/log/veltrane /var/log/private/veltrane \
    /var/lib/systemd/timers/stamp-veltrane-sync.timer /etc/systemd/system/timers.target.wants/veltrane-sync.timer; do
    as_root "test ! -e $path && test ! -L $path" || { echo "$path stays"; ok=1; }
  done
  as_root "getent group veltrane" || { echo "the group went"; ok=1; }
  return $ok
}

cases=(
  "apt installs the package:case_installs"
  "the system group veltrane and the system user veltrane-sync:case_group"
  "systemd-analyze: security of veltrane-sync.service at most 3.0, verify clean:case_units"
  "with timesyncd active the machine's run leaves the clock (exit 6, not failed, WARNING at priority warning):case_machine_leaves_a_kept_clock"
  "after timedatectl set-ntp false the machine's run sets the clock, within 20 ms:case_machine_sets_the_clock"
  "the machine's run that set the clock set the hardware clock too (hwclock --show):case_hardware_clock"
  "a resume's or a network's run within ten minutes is held back; the dispatcher's later one sets the clock:case_event_runs_rate_limited"
  "the machine's ERROR lines reach the journal at priority err:case_journal_errors"
  "a member at an active local console has the clock set without a password, within 20 ms:case_member_sets_the_clock"
  "a member's user service (the user timer's) has the clock set without a password, within 20 ms:case_member_timer_sets_the_clock"
  "a non-member is refused, and told of the group:case_non_member_refused"
  "a member whose sessions are all inactive is refused, and told why:case_member_inactive_refused"
  "a member over ssh is refused, and told why:case_member_over_ssh_refused"
  "a member may not turn NTP off, change the time zone or set a time of their own:case_member_grant_is_narrow"
  "apt remove stops the machine's and the users' timers, keeps settings, log and group:case_remove_stops_the_timers"
  "apt purge removes settings, log and the timer's traces, keeps the group:case_purge"
)
say "Cases"
for entry in "${cases[@]}"; do
  function=${entry##*:}
  if [[ -n ${VELTRANE_VM_CASES:-} && " $VELTRANE_VM_CASES " != *" $function "* ]]; then continue; fi
  run_case "${entry%:*}" "$function"
done

if [[ -n ${VELTRANE_VM_PAUSE:-} ]]; then
  echo "The guest stays up for $VELTRANE_VM_PAUSE s: ssh -p $ssh_port -i $image/id_ed25519 -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null root@127.0.0.1"
  sleep "$VELTRANE_VM_PAUSE"
fi
[[ -f $work/residuals ]] && sed 's/^/the clock after /' "$work/residuals"
echo "(the VM test took $((SECONDS - started)) s)"
echo "vm: $passed passed, $failed failed"
((failed == 0))
