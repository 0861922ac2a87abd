#!/usr/bin/env bash
# The main job: builds the installer and a complete local release (signed setup programs, manifest,
# nginx over HTTPS on loopback), then runs the real installer against it under Wine. With a display,
# you answer the prompt and watch the progress window; without one, a virtual display is used, the
# prompt is accepted for you, and screenshots of the prompt and of the download are saved. Installs
# what it needs first and leaves no process running.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$("$root/tools/wine-arch.sh").cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target BrimlowAIQuillo-WebSetup websetup-demo fake_setup_x64 \
  fake_setup_x86 trust_root answer_box quillo-release-demo
mode=
if [ -n "${DISPLAY:-}" ]; then
  mode=--interactive
else
  # On the private display nobody sees the windows: keep pictures of the prompt and of the download.
  export WEBSETUP_SCREENSHOTS=$root/build/demo-screenshots
  rm -rf "$WEBSETUP_SCREENSHOTS"
fi
status=0
"$root/tools/e2e-run.sh" "$root/build" success $mode || status=$?
source "$root/tools/harness-env.sh" "$root/build"
harness_stop
exit $status
