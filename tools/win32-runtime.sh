#!/usr/bin/env bash
# Makes a runtime for the 32-bit Windows program ready, once, and runs commands in it.
#
#   tools/win32-runtime.sh               make it ready (idempotent; says what it does)
#   tools/win32-runtime.sh run CMD ...   run CMD inside it, with this checkout at its own path
#                                        (KESTA_WIN32_DISPLAY=1: with the host's X display too)
#
# The runtime is a Debian 12 root of its own (debootstrap) with wine64 and wine32:i386 and a
# WoW64 Wine prefix, kept outside the checkout in $KESTA_WIN32_RUNTIME (default
# /var/cache/kesta-win32-runtime, about 3.5 GB), so a second run reuses it. The host's own Wine
# and its prefixes are never touched: installing wine32 beside the host's wine64 would change
# what `wine` starts there.
#
# Where the kernel refuses 32-bit code (IA-32 emulation off), 32-bit programs run under qemu's
# user-mode emulation: qemu-i386 from bookworm-backports (qemu 10; bookworm's own qemu 7.2
# takes about a minute to start every 32-bit Wine process) is unpacked into the cache and
# registered with binfmt_misc for i386 ELF files. That registration is machine-wide: every
# 32-bit Linux program on this machine then runs under qemu, until the next reboot or
# `echo -1 > $KESTA_WIN32_RUNTIME/binfmt_misc/kesta-i386`. Where the kernel runs 32-bit code,
# nothing is registered.
#
# Needs root (debootstrap, chroot, mounts). Commands run in a private mount namespace, so no
# mount outlives them. Exits non-zero, saying why, when the runtime cannot be made ready.
set -u

cache="${KESTA_WIN32_RUNTIME:-/var/cache/kesta-win32-runtime}"
root_dir="$cache/root"
qemu_dir="$cache/qemu"
binfmt_dir="$cache/binfmt_misc"
prefix=/opt/kesta/wineprefix   # inside the root
# Bump when the root's contents change, so that an old cache is made again.
stamp_text="kesta-win32-runtime 3: bookworm wine64 wine32:i386 fonts-wine xvfb x11-apps"

checkout=$(cd "$(dirname "$0")/.." && pwd)

say() { echo "win32-runtime: $*"; }
fail() {
  echo "win32-runtime: $*" >&2
  echo "win32-runtime: to skip the 32-bit stage on purpose, set KESTA_SKIP_WIN32=1" >&2
  exit 1
}

[ "$(id -u)" -eq 0 ] || fail "needs root (debootstrap, chroot and mounts); run the tests as root or with sudo"

# The archive that serves the machine's own bookworm suite, read from its apt sources (deb822
# files or one-line entries): behind another mirror or a proxy the root goes where the host goes.
host_mirror() {
  python3 "$checkout/tools/apt_mirror.py" bookworm
}

# Runs "$@" up to four times, 15 s apart: an archive caught mid-sync is usually whole again soon.
retry() {
  local try
  for try in 1 2 3 4; do
    "$@" && return 0
    if [ "$try" -lt 4 ]; then
      say "failed (try $try of 4), again in 15 s: $*" >&2
      sleep 15
    fi
  done
  return 1
}

# Runs "$@" in the root, with /proc, /dev and this checkout mounted, in a mount namespace of
# its own.
in_root() {
  unshare --mount --propagation private -- /bin/bash -c '
    set -e
    r=$1; co=$2; shift 2
    mount -t proc proc "$r/proc"
    mount --rbind /dev "$r/dev"
    mkdir -p "$r/dev/shm" && mount -t tmpfs -o mode=1777 tmpfs "$r/dev/shm"
    mount -t tmpfs -o mode=1777 tmpfs "$r/tmp"
    mkdir -p "$r$co" && mount --bind "$co" "$r$co"
    # A display of the host, for tools/run.sh --win32 (tests bring their own Xvfb).
    if [ -n "${KESTA_WIN32_DISPLAY:-}" ] && [ -d /tmp/.X11-unix ]; then
      mkdir -p "$r/tmp/.X11-unix" && mount --bind /tmp/.X11-unix "$r/tmp/.X11-unix"
      [ -n "${XAUTHORITY:-}" ] && [ -f "$XAUTHORITY" ] && cp "$XAUTHORITY" "$r/tmp/xauthority"
    fi
    cp /etc/resolv.conf "$r/etc/resolv.conf" 2>/dev/null || true
    exec chroot "$r" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" CI="${CI:-}" \
      WINEPREFIX='"$prefix"' WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" "$@"
  ' in_root "$root_dir" "$checkout" "$@"
}

# A 32-bit ELF program that only exits with 0: tells whether this machine can run i386 code.
i386_probe="$cache/i386-probe"
make_probe() {
  python3 - "$i386_probe" <<'EOF'
import struct, sys
base = 0x08048000
code = b'\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80'   # exit(0) through int 0x80
header = b'\x7fELF\x01\x01\x01' + bytes(9) + struct.pack(
    '<HHIIIIIHHHHHH', 2, 3, 1, base + 84, 52, 0, 0, 52, 32, 1, 0, 0, 0)
program = struct.pack('<IIIIIIII', 1, 0, base, base, 84 + len(code), 84 + len(code), 5, 0x1000)
with open(sys.argv[1], 'wb') as f:
    f.write(header + program + code)
EOF
  chmod +x "$i386_probe"
}
runs_i386() { "$i386_probe" >/dev/null 2>&1; }

ensure_i386() {
  [ -x "$i386_probe" ] || make_probe || fail "cannot write $i386_probe"
  if runs_i386; then
    return 0
  fi
  local qemu="$qemu_dir/usr/bin/qemu-i386"
  if [ ! -x "$qemu" ]; then
    say "the kernel refuses 32-bit code: fetching qemu-i386 (user-mode emulation) from bookworm-backports"
    rm -rf "$qemu_dir" && mkdir -p "$qemu_dir"
    retry in_root /bin/bash -c 'cd /tmp && apt-get download -qq qemu-user/bookworm-backports && mv qemu-user_*.deb /root/' ||
      fail "could not download qemu-user from bookworm-backports"
    dpkg-deb -x "$root_dir"/root/qemu-user_*.deb "$qemu_dir" || fail "could not unpack qemu-user"
    rm -f "$root_dir"/root/qemu-user_*.deb
    [ -x "$qemu" ] || fail "qemu-user has no usr/bin/qemu-i386"
  fi
  mkdir -p "$binfmt_dir"
  if ! mountpoint -q "$binfmt_dir"; then
    mount -t binfmt_misc binfmt_misc "$binfmt_dir" ||
      fail "cannot mount binfmt_misc (needed to run 32-bit code under qemu on this kernel)"
  fi
  if [ ! -e "$binfmt_dir/kesta-i386" ]; then
    say "registering qemu-i386 for i386 ELF programs with binfmt_misc (machine-wide, until reboot)"
    # F: the interpreter is opened now, so it also serves programs inside the root.
    printf '%s' ':kesta-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':OPF' \
      >"$binfmt_dir/register" || fail "binfmt_misc refused the qemu-i386 entry"
  fi
  runs_i386 || fail "a 32-bit program still does not run, even under qemu-i386"
}

# Bootstraps the root. A root cut off half-way has no stamp and is made again from the start;
# one bootstrapped whole keeps its stamp, and the steps after it are taken up on the next run.
bootstrap_root() {
  local mirror
  mirror=$(host_mirror) ||
    fail "no bookworm entry in the machine's apt sources (/etc/apt/sources.list, /etc/apt/sources.list.d/) to take the archive from"
  say "making a Debian 12 root in $root_dir from $mirror with 32-bit Wine (about 5 minutes, once)"
  if ! command -v debootstrap >/dev/null; then
    export DEBIAN_FRONTEND=noninteractive
    retry apt-get update -qq || say "apt-get update kept failing; trying the install with the indexes there are"
    apt-get install -y -qq debootstrap >/dev/null || fail "could not install debootstrap"
  fi
  mkdir -p "$cache"
  retry fresh_debootstrap "$mirror" ||
    { tail -n 20 "$cache/debootstrap.log" >&2; fail "debootstrap failed (log: $cache/debootstrap.log)"; }
  echo "$mirror" >"$root_dir/.kesta-bootstrapped"
}
fresh_debootstrap() {
  rm -rf "$root_dir"
  debootstrap --variant=minbase --arch=amd64 bookworm "$root_dir" "$1" >"$cache/debootstrap.log" 2>&1
}

# Only the suites the root's packages come from (wine, wine32:i386, fonts-wine, xvfb from main,
# qemu-user from backports): any other suite's index caught mid-sync would fail apt-get update
# for all. The host's proxy settings come along. Written on every making, so that a root an older
# script left half made is mended too.
configure_apt() {
  local mirror
  mirror=$(cat "$root_dir/.kesta-bootstrapped")
  case "$mirror" in *://*) ;; *) mirror=$(host_mirror) || fail "no bookworm entry in the machine's apt sources" ;; esac
  cat >"$root_dir/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-backports main
EOF
  rm -f "$root_dir"/etc/apt/sources.list.d/*.list "$root_dir"/etc/apt/sources.list.d/*.sources
  apt-config dump 2>/dev/null | grep -i -E '^Acquire::[a-z]+::Proxy' \
    >"$root_dir/etc/apt/apt.conf.d/01kesta-host-proxy" || true
  say "apt-get update in the root (log: $cache/apt.log)"
  : >"$cache/apt.log"
  retry in_root /bin/bash -c 'dpkg --add-architecture i386 && apt-get update -qq' >>"$cache/apt.log" 2>&1 ||
    say "apt-get update in the root kept failing (log: $cache/apt.log); trying with the indexes there are"
}

install_wine() {
  say "installing wine64 and wine32:i386 in the root (log: $cache/apt.log)"
  retry in_root /bin/bash -c 'DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      wine wine64 wine32:i386 fonts-wine xvfb xauth x11-utils x11-apps >/dev/null && apt-get clean' >>"$cache/apt.log" 2>&1 ||
    { tail -n 20 "$cache/apt.log" >&2; fail "installing Wine in the root failed (log: $cache/apt.log)"; }
  say "making the WoW64 Wine prefix (about 20 s under emulation)"
  # A prefix left half made by an interrupted run is made again.
  in_root /bin/bash -c "rm -rf $prefix && mkdir -p $(dirname $prefix) && wineboot --init >/dev/null 2>&1 && wineserver -w &&
      wine reg add 'HKCU\\Software\\Wine\\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 && wineserver -w" ||
    fail "making the Wine prefix in the root failed"
}

ready() { [ "$(cat "$root_dir/.kesta-ready" 2>/dev/null)" = "$stamp_text" ]; }

# Wine does not find the root's Marlett (fonts-wine) by itself and would draw the caption buttons
# as the letters "0 1 r"; the prefix's Fonts folder is where it looks (as tools/wine-prefix.sh).
ensure_marlett() {
  local fonts="$root_dir$prefix/drive_c/windows/Fonts"
  [ -f "$fonts/marlett.ttf" ] && return 0
  mkdir -p "$fonts" && cp "$root_dir/usr/share/wine/fonts/marlett.ttf" "$fonts/marlett.ttf" ||
    fail "cannot give the prefix a Marlett font from the root's fonts-wine"
}

prepare() {
  if ! ready; then
    [ -x "$root_dir/usr/bin/apt-get" ] && [ -f "$root_dir/.kesta-bootstrapped" ] || bootstrap_root
    configure_apt
    ensure_i386
    install_wine
    echo "$stamp_text" >"$root_dir/.kesta-ready"
    say "ready: $root_dir"
  else
    ensure_i386
    say "ready (made before, reused): $root_dir"
  fi
  ensure_marlett
}

case "${1:-}" in
  "") prepare ;;
  run)
    shift
    [ $# -gt 0 ] || fail "run needs a command"
    prepare >&2
    in_root "$@"
    ;;
  *) echo "usage: tools/win32-runtime.sh [run CMD ...]" >&2; exit 2 ;;
esac
