# Architecture facts shared by the setup, test and benchmark scripts (sourced).
# shellcheck shell=bash

# Some x86-64 kernels run no 32-bit user code ("IA-32 emulation off"): only really running a 32-bit
# program tells. VELLIX_X64_ONLY=1 takes the 64-bit-only path on any host.
host_runs_i386() {
  [ "${VELLIX_X64_ONLY:-0}" = 1 ] && return 1
  [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

# Why host_runs_i386 said no, for the test report.
i386_refusal() {
  if [ "${VELLIX_X64_ONLY:-0}" = 1 ]; then
    echo "VELLIX_X64_ONLY=1"
  elif [ ! -x /lib/ld-linux.so.2 ]; then
    echo "no 32-bit loader (libc6:i386) on this host"
  else
    echo "this host refuses 32-bit programs ($(/lib/ld-linux.so.2 --version 2>&1 | head -n 1))"
  fi
}

# pe_arch FILE: i686 or x86_64 from the PE header's machine field; nothing for other files.
pe_arch() {
  local f=$1 off machine
  [ -f "$f" ] || return 1
  [ "$(head -c 2 "$f")" = MZ ] || return 1
  off=$(od -An -tu4 -j60 -N4 "$f" | tr -d ' ')
  machine=$(od -An -tx2 -j$((off + 4)) -N2 "$f" | tr -d ' ')
  case $machine in
    014c) echo i686 ;;
    8664) echo x86_64 ;;
    *) return 1 ;;
  esac
}
