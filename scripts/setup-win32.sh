#!/usr/bin/env bash
# What running the 32-bit (i686) build under 32-bit Wine needs:
#
#   setup-win32.sh install      installs Debian's 32-bit Wine (wine32:i386) and,
#                               on a machine that cannot run 32-bit x86 code,
#                               the emulator qemu-i386 (package qemu-user);
#                               does nothing when all is there
#   setup-win32.sh register ID  makes 32-bit code runnable for one test run:
#                               registers qemu-i386 with binfmt_misc under the
#                               name quorvel-i386-ID, only where 32-bit code
#                               does not already run (natively or through
#                               another run's registration)
#   setup-win32.sh unregister ID  removes that registration again, and
#                               binfmt_misc if register mounted it
#   setup-win32.sh cleanup      removes registrations of runs that have ended
#   setup-win32.sh status       says how 32-bit code runs here
#
# ID is the process id of the run that owns the registration (cleanup checks
# that it is still alive). The registration is kept only for the 32-bit phase:
# while it exists, booting a 64-bit prefix also runs Wine's 32-bit half under
# the emulator and takes minutes instead of seconds.
set -euo pipefail

binfmt=/proc/sys/fs/binfmt_misc
entry_prefix=quorvel-i386-
emulator=/usr/bin/qemu-i386
mounted_marker=/run/quorvel-binfmt-mounted
# An ELF32 little-endian i386 executable (ELF header up to e_machine), as
# Debian's qemu registers it.
elf_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
elf_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Runs a 96-byte static i386 program that only exits with code 42.
runs_32bit() {
  local probe status=0
  probe=$(mktemp)
  local elf='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
  elf+='\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
  elf+='\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'
  # One loadable segment: the whole file at 0x08048000 ...
  elf+='\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08'
  elf+='\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00'
  # ... ending in: mov eax, 1; mov ebx, 42; int 0x80 (exit 42)
  elf+='\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'
  printf "$elf" >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ]
}

our_entries() {
  [ -d "$binfmt" ] || return 0
  local path
  for path in "$binfmt/$entry_prefix"*; do
    [ -e "$path" ] && basename "$path"
  done
  return 0
}

# 32-bit code needs the emulator here: it does not run, or it runs only
# through a registration of ours (another run's, still going).
needs_emulator() {
  [ -n "$(our_entries)" ] || ! runs_32bit
}

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

install() {
  local missing=()
  installed wine32:i386 || missing+=(wine32:i386)
  if needs_emulator && [ ! -x "$emulator" ]; then
    # qemu-user has no maintainer scripts: unlike qemu-user-static or
    # qemu-user-binfmt it registers nothing by itself (its recommended
    # qemu-user-binfmt is left out).
    missing+=(qemu-user)
  fi
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "setup-win32: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  as_root apt-get update -qq
  as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

register() {
  local id=$1 name="$entry_prefix$1"
  cleanup
  if ! needs_emulator; then
    echo "setup-win32: 32-bit code runs natively here"
    return 0
  fi
  [ -x "$emulator" ] || { echo "setup-win32: $emulator is missing: run setup-win32.sh install" >&2; return 1; }
  if [ ! -e "$binfmt/register" ]; then
    as_root mount -t binfmt_misc binfmt_misc "$binfmt"
    as_root touch "$mounted_marker"
  fi
  if [ ! -e "$binfmt/$name" ]; then
    # F: the kernel opens the emulator now, so it is found from any root.
    printf ':%s:M::%s:%s:%s:F' "$name" "$elf_magic" "$elf_mask" "$emulator" | as_root tee "$binfmt/register" >/dev/null
  fi
  if ! runs_32bit; then
    echo "setup-win32: 32-bit code does not run even through $emulator" >&2
    unregister "$id"
    return 1
  fi
  echo "setup-win32: 32-bit code runs through $emulator ($name)"
}

unregister_entry() {
  [ -e "$binfmt/$1" ] && echo -1 | as_root tee "$binfmt/$1" >/dev/null
  return 0
}

unregister() {
  unregister_entry "$entry_prefix$1"
  # Leave binfmt_misc as it was found: unmounted, if register mounted it and
  # nothing else lives in it now.
  if [ -f "$mounted_marker" ] && [ -d "$binfmt" ]; then
    local others
    others=$(find "$binfmt" -mindepth 1 -maxdepth 1 ! -name register ! -name status | wc -l)
    if [ "$others" -eq 0 ]; then
      as_root umount "$binfmt" && as_root rm -f "$mounted_marker" || true
    fi
  fi
}

# Registrations whose run has ended (killed before it could unregister).
cleanup() {
  local name
  for name in $(our_entries); do
    kill -0 "${name#"$entry_prefix"}" 2>/dev/null || unregister_entry "$name"
  done
}

status() {
  if [ -n "$(our_entries)" ]; then
    echo "32-bit code runs through $emulator (registered as: $(our_entries | tr '\n' ' '))"
  elif runs_32bit; then
    echo "32-bit code runs here without our registration"
  else
    echo "32-bit code does not run here (register to run it through $emulator)"
  fi
  installed wine32:i386 && echo "wine32:i386 installed" || echo "wine32:i386 not installed"
}

case "${1:-}" in
  install) install ;;
  register) [ $# -eq 2 ] || { echo "usage: $0 register ID" >&2; exit 2; }; register "$2" ;;
  unregister) [ $# -eq 2 ] || { echo "usage: $0 unregister ID" >&2; exit 2; }; unregister "$2" ;;
  cleanup) cleanup ;;
  status) status ;;
  *) sed -n '2,22p' "$0" >&2; exit 2 ;;
esac
