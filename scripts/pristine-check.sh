#!/usr/bin/env bash
# Runs `make demo && make check` as a new user would, on a fresh machine: in a minimal Debian 12
# root made by debootstrap, holding nothing but Debian's base system and make, into which the
# commit checked out here is cloned. Everything the run needs is installed there by the project's
# own scripts, from the package lists the root is given. As root, with debootstrap installed
# (apt-get install debootstrap); it takes minutes of downloads.
#
# usage: pristine-check.sh [--main-suite-only] [--mirror URL] [--security URL] [-- COMMAND]
#
#   --main-suite-only  the root's package lists hold bookworm's main suite only, without
#                      bookworm-updates and bookworm-security: then a mirror whose i386 security
#                      index does not verify cannot keep wine32:i386 from installing (its i386
#                      libraries then match the amd64 ones of the same suite)
#   --mirror URL       the Debian mirror (default http://deb.debian.org/debian)
#   --security URL     the security mirror (default: the mirror's URL with debian-security for
#                      debian at its end)
#   -- COMMAND         a shell command to run in the clone instead of make demo && make check
#
# The root lives in a folder of its own under /var/tmp, and every mount it needs (/proc, /sys, /dev) is made in a mount
# namespace of its own, so the mounts end with the run, and this machine never sees them; on
# every exit, the processes still running in the root are ended and the root is removed.
# Uncommitted changes are not part of the check.
set -euo pipefail

suite=bookworm
mirror=http://deb.debian.org/debian
security=
main_only=0
command="make demo && make check"
while [[ $# -gt 0 ]]; do
  case $1 in
  --main-suite-only) main_only=1 ;;
  --mirror) mirror=${2:?--mirror needs a URL}; shift ;;
  --security) security=${2:?--security needs a URL}; shift ;;
  --) shift; command="$*"; break ;;
  *) sed -n '/^# usage:/,/^# The root/{/^# The root/d; s/^# \{0,1\}//; p}' "$0" >&2; exit 2 ;;
  esac
  shift
done
[[ -n $security ]] || security=${mirror%/debian}/debian-security

say() { echo "pristine-check: $*"; }
if [[ $(id -u) -ne 0 ]]; then
  say "must run as root (it builds a Debian root with debootstrap and chroots into it)" >&2
  exit 1
fi
if ! command -v debootstrap >/dev/null; then
  say "debootstrap not found; install it with: apt-get install -y debootstrap" >&2
  exit 1
fi

repo=$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel)
commit=$(git -C "$repo" rev-parse HEAD)
if [[ -n $(git -C "$repo" status --porcelain) ]]; then
  say "$repo has uncommitted changes; they are not part of the check (commit $commit is)" >&2
fi

work=$(mktemp -d /var/tmp/pairsolve-pristine.XXXXXX)
root=$work/root

# Each step runs in a session of its own (setsid), in the background, and the script waits for
# it: so a signal to the script ends the wait at once, and the step's processes are ended by the
# id of their group. Then whatever still runs in the root (a wineserver, say) is ended by its id.
step=
runStep() {
  setsid "$@" &
  step=$!
  local status=0
  wait "$step" || status=$?
  step=
  return "$status"
}
endProcesses() {
  local signal pid link
  for signal in TERM KILL; do
    if [[ -n $step ]]; then kill "-$signal" -- "-$step" 2>/dev/null || true; fi
    for pid in /proc/[0-9]*; do
      link=$(readlink "$pid/root" 2>/dev/null) || continue
      [[ $link == "$root" ]] && kill "-$signal" "${pid#/proc/}" 2>/dev/null || true
    done
    sleep 1
  done
}

cleanUp() {
  local status=$?
  trap - EXIT INT TERM
  endProcesses
  # The mounts were made in a namespace that is gone; should one be visible here all the same,
  # the root stays rather than be removed through it.
  if awk -v root="$work" 'index($2, root) == 1 {found = 1} END {exit !found}' /proc/self/mounts; then
    say "something is still mounted under $work; it is left in place" >&2
  else
    rm -rf --one-file-system "$work"
  fi
  exit "$status"
}
trap cleanUp EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if [[ $main_only -eq 1 ]]; then
  lists="the main suite only ($suite main)"
  sources="deb $mirror $suite main"
else
  lists="$suite, $suite-updates and $suite-security (main)"
  sources=$(printf 'deb %s %s main\ndeb %s %s-updates main\ndeb %s %s-security main' \
    "$mirror" "$suite" "$mirror" "$suite" "$security" "$suite")
fi
say "building a minimal Debian 12 root in $root from $mirror"
# debootstrap mounts /proc and /sys in the root while it works: in a namespace of its own too.
if ! runStep unshare --mount --propagation private -- \
  debootstrap --variant=minbase --include=make "$suite" "$root" "$mirror" >"$work/debootstrap.log" 2>&1; then
  say "debootstrap failed; the end of its output:" >&2
  tail -n 30 "$work/debootstrap.log" >&2
  exit 1
fi
printf '%s\n' "$sources" >"$root/etc/apt/sources.list"
rm -f "$root"/etc/apt/sources.list.d/*
cp /etc/resolv.conf "$root/etc/resolv.conf"

mkdir -p "$root/work"
git clone --quiet --no-hardlinks "$repo" "$root/work/pairsolve"
git -C "$root/work/pairsolve" checkout --quiet --detach "$commit"

say "package lists: $lists"
say "running '$command' in a clone of $commit"
status=0
runStep unshare --mount --propagation private -- bash -c '
  set -e
  root=$1
  shift
  mount -t proc proc "$root/proc"
  mount -t sysfs sysfs "$root/sys"
  mount --bind /dev "$root/dev"
  mount --bind /dev/pts "$root/dev/pts"
  mount --bind /dev/shm "$root/dev/shm"
  exec chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c "cd /work/pairsolve && $1"
' pristine-root "$root" "$command" || status=$?
if [[ $status -eq 0 ]]; then
  say "'$command' passed in a fresh Debian 12 root ($lists), commit $commit"
else
  say "'$command' failed (exit $status) in a fresh Debian 12 root ($lists), commit $commit" >&2
fi
exit "$status"
