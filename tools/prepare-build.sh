# Sourced by tools/test.sh, tools/demo.sh and bench/bench.sh: installs what is missing, then picks the
# architecture this machine's Wine can run. Sets root (the sources), jobs and arch (i686, the product's
# own, or x86_64 where the kernel runs no 32-bit x86 code), and defines configure_build.
# Usage: source tools/prepare-build.sh; configure_build BUILD_DIR ARCH [CMAKE_OPTIONS...]
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/tools/install-deps.sh"
jobs=$(nproc)
# Only after the installation: the answer depends on Wine's 32-bit loader being there to try.
arch=$("$root/tests/harness/wine-arch.sh")

# A release build tree of the Windows programs for ARCH, with the MinGW-w64 toolchain for it. These
# trees (tests, the demo, the benchmark, rehearsals) are never published, so the host users cannot reach
# that they are built for is allowed on purpose.
configure_build() {
  local build=$1 build_arch=$2
  shift 2
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$build_arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DALLOW_UNPUBLISHABLE_HOST=ON "$@" >/dev/null
}
