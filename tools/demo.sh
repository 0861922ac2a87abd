#!/usr/bin/env bash
# The main job: builds the installer and a complete local release (signed setup programs, manifest,
# nginx over HTTPS on loopback), then runs the real installer against it under Wine. With a display,
# you answer the prompt and watch the progress window; without one, a virtual display is used, the
# prompt is accepted for you, and screenshots of the prompt and of the download are saved. Installs
# what it needs first and leaves no process running.
source "$(dirname "$0")/../tests/harness/fail-loudly.sh"
source "$(dirname "$0")/prepare-build.sh"
configure_build "$root/build" "$arch"
cmake --build "$root/build" -j"$jobs" --target BrimlowAIQuillo-WebSetup websetup-demo fake_setup_x64 \
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
"$root/tests/harness/e2e-run.sh" "$root/build" success $mode || status=$?
source "$root/tests/harness/harness-env.sh" "$root/build"
harness_stop
exit $status
