#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a fresh Debian machine.
# Safe to run again: it only installs what is missing.
source "$(dirname "$0")/../tests/harness/fail-loudly.sh"

# The 64-bit MinGW compiler builds the tests where the kernel runs no 32-bit code
# (tests/harness/wine-arch.sh). QEMU and debootstrap make and boot the virtual machine that runs the
# shipped 32-bit program (tests/harness/guest.sh). python3-cryptography signs the answers of the test
# timestamp authority (tests/harness/loopback_tsa.py).
need=(g++-mingw-w64-i686-win32 mingw-w64-tools binutils-mingw-w64-i686 g++-mingw-w64-x86-64-win32
      binutils-mingw-w64-x86-64 cmake make
      wine wine32:i386 wine64 xvfb xauth x11-utils nginx-light osslsigncode openssl
      icoutils time clang libclang-rt-14-dev python3 python3-cryptography imagemagick curl googletest
      qemu-system-x86 debootstrap e2fsprogs)

missing=()
arch_ok=1
dpkg --print-foreign-architectures | grep -qx i386 || arch_ok=0
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "$arch_ok" = 1 ] && [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

export DEBIAN_FRONTEND=noninteractive
[ "$arch_ok" = 1 ] || dpkg --add-architecture i386
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
