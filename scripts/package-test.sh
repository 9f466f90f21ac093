#!/usr/bin/env bash
# The package as a technician meets it: builds the .deb, installs it with apt-get into a fresh
# Debian 12 root, and there, as an ordinary user on an X display (Xvfb), starts the updater by
# its desktop entry's command against a virtual tracker whose tty root owns, as udev leaves it
# before the package's rules. The script then gives the user the access the rules would (udev
# does not run in a chroot), waits until the tracker is flashed, closes the updater like a
# logout, and checks that settings and logs went to the user's folders and nothing into the
# program's folder. Then, as the same user, the installed station: its version, a list of two
# new virtual trackers (one of each driver kind), and its lines in the same daily log file.
#
# Needs root (chroot, mounts) and Debian's package mirror. The minimal root that debootstrap
# makes is kept in build/package-test/ and unpacked afresh for every run; downloaded packages
# are kept there too. Prints PASS or FAIL last; exit code 0 on PASS.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

work=$PWD/build/package-test
base=$work/bookworm-minbase.tar
root=$work/root
apt_cache=$work/apt-archives
mirror=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null ||
  true)
mirror=${mirror:-http://deb.debian.org/debian}
user=tech
serial=2001
timeout=${PACKAGE_TEST_TIMEOUT:-240}

fail() {
  echo "package-test: $*" >&2
  echo "FAIL ($((SECONDS - started)) s)"
  exit 1
}

mounts=()
cleanup() {
  local i
  if [[ -n ${sim_pid:-} ]]; then kill "$sim_pid" 2>/dev/null || true; fi
  if [[ -n ${station_sim_pid:-} ]]; then kill "$station_sim_pid" 2>/dev/null || true; fi
  if [[ -n ${app_pid:-} ]]; then kill "$app_pid" 2>/dev/null || true; fi
  if [[ -n ${xvfb_pid:-} ]]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}" 2>/dev/null || true
  done
}
trap cleanup EXIT

in_root() { chroot "$root" "$@"; }
# Runs a command as the ordinary user with a plain login-like environment.
as_user() {
  chroot "$root" runuser -u "$user" -- env -i HOME=/home/$user USER=$user LOGNAME=$user \
    PATH=/usr/local/bin:/usr/bin:/bin DISPLAY=:7 LANG=C.UTF-8 "$@"
}

# --- The package -------------------------------------------------------------------------------
echo "=== building the package ==="
./scripts/package.sh
deb=$(ls build/package/package/veltorium-updater_*.deb | head -n 1)
[[ -f $deb ]] || fail "no package was built"

# --- A fresh Debian 12 root ---------------------------------------------------------------------
mkdir -p "$work" "$apt_cache"
if [[ ! -f $base ]]; then
  echo "=== debootstrap (once; kept in $base) ==="
  rm -rf --one-file-system "$work/base.new"
  debootstrap --variant=minbase bookworm "$work/base.new" "$mirror" >"$work/debootstrap.log"
  tar -C "$work/base.new" -cf "$base.new" . && mv "$base.new" "$base"
  rm -rf --one-file-system "$work/base.new"
fi
if findmnt -rn -o TARGET | grep -q "^$root"; then
  fail "something is still mounted under $root"
fi
rm -rf --one-file-system "$root"
mkdir -p "$root"
tar -C "$root" -xf "$base"

mount -t proc proc "$root/proc" && mounts+=("$root/proc")
mount --rbind /sys "$root/sys" && mount --make-rslave "$root/sys" && mounts+=("$root/sys")
# A pseudo-terminal instance of its own: the root's ptys are apart from the host's.
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620,gid=5 devpts "$root/dev/pts" &&
  mounts+=("$root/dev/pts")
rm -f "$root/dev/ptmx" && ln -s pts/ptmx "$root/dev/ptmx"
mount --bind "$apt_cache" "$root/var/cache/apt/archives" &&
  mounts+=("$root/var/cache/apt/archives")
cp /etc/resolv.conf "$root/etc/resolv.conf"

echo "=== installing the package into the fresh root ==="
cp "$deb" "$root/tmp/"
export DEBIAN_FRONTEND=noninteractive
in_root apt-get update -qq
# Without recommended packages: what the package needs must be among its dependencies.
in_root apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$deb")" \
  >"$work/apt-install.log" || { tail -20 "$work/apt-install.log"; fail "apt-get install failed"; }
# The test's own tools, not the technician's: a display, a window lister, udev's rule parser.
in_root apt-get install -y -qq --no-install-recommends xvfb xauth x11-utils udev \
  >>"$work/apt-install.log" || fail "installing the test tools failed"

# udev's own parser reads every rules file; a line it cannot read is logged by file and line.
rules=/usr/lib/udev/rules.d/70-veltorium-updater.rules
[[ -f $root$rules ]] || fail "the udev rules are not installed"
parse=$(in_root udevadm test --action=add /sys/class/tty/tty0 2>&1 || true)
grep -q "70-veltorium-updater.rules" <<<"$parse" || fail "udevadm did not read the rules"
if grep "70-veltorium-updater.rules:" <<<"$parse"; then
  fail "udevadm found faults in the rules"
fi
echo "udev rules parsed without complaint"

# The vendor's FTDI library, which a technician installs apart, is the stand-in here: without
# any FTDI library the updater starts with a box that waits for a click.
mkdir -p "$root/usr/local/lib" "$root/opt/package-test"
cp build/package/bin/d2xx-sim/libftd2xx.so "$root/usr/local/lib/"
in_root ldconfig
cp build/package/bin/tracker-sim "$root/opt/package-test/"

program_dir=/usr/lib/veltorium-updater
before=$(in_root find "$program_dir" -printf '%p %s %m %T@\n' | sort)

# --- The technician ----------------------------------------------------------------------------
in_root useradd -m -s /bin/bash "$user"
config=/home/$user/.config/veltorium-updater
state=/home/$user/.local/state/veltorium-updater
# Flash automatically and write the log file; placement and sizes as designed.
as_user mkdir -p "$config"
as_user sh -c "printf '[COMMON]\nMainForm=-1,-1,-1,-1,1,-1,1\n' >$config/ZUDUDerovo.ini"

echo "=== a virtual tracker, its tty root's only ==="
sim_log=$work/tracker-sim.log
: >"$sim_log"
in_root mkdir -p /dev/serial/by-id /run/package-test
# chroot itself, not the in_root function: its process id is then tracker-sim's (chroot execs
# it), which a signal ends with its trackers withdrawn.
chroot "$root" /opt/package-test/tracker-sim --zizuz-dir /dev/serial/by-id \
  --ftdi-dir /tmp/ftd2xx-sim --dump-dir /run/package-test \
  --tracker "serial=$serial,mode=boot" >"$sim_log" 2>&1 &
sim_pid=$!
link=/dev/serial/by-id/usb-Veltorium_Tracker_${serial}-if00
for _ in $(seq 100); do
  [[ -L $root$link ]] && break
  sleep 0.1
done
[[ -L $root$link ]] || fail "tracker-sim did not publish $link"
tty=$(in_root readlink -f "$link")
in_root chown root:root "$tty"
in_root chmod 0600 "$tty"
if as_user sh -c "exec 3<>$tty" 2>/dev/null; then
  fail "$user could open $tty before the rules' access was given"
fi
# What TAG+="uaccess" gives the user at the seat.
in_root chown "$user" "$tty"
as_user sh -c "exec 3<>$tty" || fail "$user cannot open $tty after the rules' access was given"

echo "=== the updater, started by its desktop entry as $user ==="
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/veltorium-updater.desktop")
[[ -n $exec_line ]] || fail "the desktop entry has no Exec line"
wm_class=$(sed -n 's/^StartupWMClass=//p' "$root/usr/share/applications/veltorium-updater.desktop")
as_user Xvfb :7 -nolisten tcp -screen 0 1280x1024x24 >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [[ -S $root/tmp/.X11-unix/X7 ]] && break
  sleep 0.1
done
# The Exec line is a command line of the entry's own syntax; it holds no field codes here.
app_log=$work/updater.log
# The shell leaves its process id for the program it becomes: SIGTERM goes to the updater
# itself, not to runuser, which would pass it on and report its own death.
as_user sh -c "echo \$\$ >/tmp/updater.pid; exec $exec_line" >"$app_log" 2>&1 &
app_pid=$!

deadline=$((SECONDS + timeout))
until grep -q "finished $serial " "$sim_log"; do
  kill -0 "$app_pid" 2>/dev/null || { cat "$app_log"; fail "the updater ended on its own"; }
  ((SECONDS < deadline)) || { cat "$sim_log"; fail "no tracker was flashed in $timeout s"; }
  sleep 0.5
done
grep -q "finished $serial success" "$sim_log" || { cat "$sim_log"; fail "flashing failed"; }
echo "tracker $serial flashed"

# The window shown names itself as the desktop entry says (its WM_CLASS), so that the dock
# puts it under the entry's icon. Without a window manager the shown window is the one mapped.
classes=
for window in $(as_user xwininfo -root -children | awk '/^ +0x/ { print $1 }'); do
  if as_user xwininfo -id "$window" | grep -q "Map State: IsViewable"; then
    classes+="$(as_user xprop -id "$window" WM_CLASS)"$'\n'
  fi
done
printf '%s' "$classes" | tee "$work/wm_class.txt"
[[ -n $classes ]] || fail "no window shown on the display"
if grep -v "= \"[^\"]*\", \"$wm_class\"\$" "$work/wm_class.txt"; then
  fail "a shown window's WM_CLASS is not \"$wm_class\""
fi

updater_pid=$(cat "$root/tmp/updater.pid")
kill -TERM "$updater_pid"
for _ in $(seq 300); do
  kill -0 "$updater_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$updater_pid" 2>/dev/null; then fail "the updater did not close on SIGTERM"; fi
wait "$app_pid" || fail "the updater ended with code $?"
app_pid=

# --- Where everything landed ----------------------------------------------------------------------
ini=$root$config/ZUDUDerovo.ini
grep -q '^MainForm=.*,1,[0-9]*,1$' "$ini" || fail "the settings were not written back to $config"
log=$root$state/Logs/$(in_root date +%Y%m%d).log
[[ -s $log ]] || fail "no log file in $state/Logs"
iconv -f CP1251 -t UTF-8 "$log" | grep -q "Прошивка завершена успешно" ||
  fail "the log file does not record the flashing"
[[ $(in_root stat -c %U "${ini#"$root"}" "${log#"$root"}") == "$user"$'\n'"$user" ]] ||
  fail "the settings or the log file are not the user's"
# --- The station, installed, as the same user -----------------------------------------------------
echo "=== veltorium-station as $user ==="
upstream=$(dpkg-deb -f "$deb" Version)
upstream=${upstream%-*}
version=$(as_user veltorium-station --version) || fail "veltorium-station --version failed"
[[ $version == "veltorium-station $upstream" ]] ||
  fail "veltorium-station --version said \"$version\", not the package's $upstream"
echo "$version"
# The updater's tracker goes; two new ones come, one of each driver kind, never seen by the
# updater, so that their lines in the log can only be the station's.
kill "$sim_pid" && wait "$sim_pid" 2>/dev/null || true
sim_pid=
for _ in $(seq 100); do
  [[ -L $root$link ]] || break
  sleep 0.1
done
[[ ! -L $root$link ]] || fail "tracker-sim did not withdraw $link"
station_sim_log=$work/tracker-sim-station.log
chroot "$root" /opt/package-test/tracker-sim --zizuz-dir /dev/serial/by-id \
  --ftdi-dir /tmp/ftd2xx-sim --dump-dir /run/package-test \
  --tracker "serial=2002,mode=boot" --tracker "serial=2003,driver=ftdi,mode=boot" \
  >"$station_sim_log" 2>&1 &
station_sim_pid=$!
ql_link=/dev/serial/by-id/usb-Veltorium_Tracker_2002-if00
ftdi_socket=/tmp/ftd2xx-sim/2003
for _ in $(seq 100); do
  [[ -L $root$ql_link && -S $root$ftdi_socket ]] && break
  sleep 0.1
done
[[ -L $root$ql_link && -S $root$ftdi_socket ]] ||
  { cat "$station_sim_log"; fail "tracker-sim did not publish 2002 and 2003"; }
# The access the rules give at the seat: the tty, and the FTDI kind's device (here its socket).
in_root chown "$user" "$(in_root readlink -f "$ql_link")" "$ftdi_socket"

list=$(as_user veltorium-station list 2>&1) || { echo "$list"; fail "veltorium-station list failed"; }
echo "$list"
grep -Eq "^ +2002  ql    boot " <<<"$list" || fail "the station did not list 2002"
grep -Eq "^ +2003  ftdi  boot " <<<"$list" || fail "the station did not list 2003"
json=$(as_user veltorium-station list --json) || fail "veltorium-station list --json failed"
for serial in 2002 2003; do
  grep -q "\"event\":\"found\".*\"serial\":$serial[,}]" <<<"$json" ||
    { echo "$json"; fail "list --json has no found event for $serial"; }
done
# The daily log of an installed copy: the user's folder, the same file as the updater's.
iconv -f CP1251 -t UTF-8 "$log" | grep -Eq "Прибор +2003"$'\t'"Прибор подключен" ||
  fail "the station's lines are not in $state/Logs"
[[ $(in_root stat -c %U "${log#"$root"}") == "$user" ]] || fail "the log file is not the user's"
kill "$station_sim_pid" && wait "$station_sim_pid" 2>/dev/null || true
station_sim_pid=

after=$(in_root find "$program_dir" -printf '%p %s %m %T@\n' | sort)
[[ $before == "$after" ]] || { diff <(echo "$before") <(echo "$after"); fail "$program_dir changed"; }

echo "settings: $config/ZUDUDerovo.ini"
echo "logs:     $state/Logs/"
echo "PASS ($((SECONDS - started)) s)"
