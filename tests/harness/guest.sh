#!/usr/bin/env bash
# The shipped 32-bit web setup end to end, in a virtual machine whose kernel runs 32-bit code: Debian's
# own kernel and Wine in a full-system QEMU (software emulation, no network device at all), with the
# release server on the guest's own loopback.
#
#   guest.sh image BUILD_DIR
#       The guest's disk, kept in BUILD_DIR/guest and made again only when what it is made from changes:
#       a debootstrap tree of Debian bookworm with Wine (32- and 64-bit), Xvfb, nginx and iproute2,
#       Debian's kernel and its initrd, and both kinds of prepared Wine prefix (booted once to make them).
#   guest.sh run BUILD_DIR win32|win64 SCENARIO...
#       Boots the guest once for that kind of prefix (a 32-bit prefix, or a 64-bit prefix with 32-bit
#       Wine) and runs the end-to-end scenarios there on the shipped file, each checked by e2e-run.sh as
#       on this machine. Exits 0 when every scenario ended as expected.
#
# Inside the guest, guest-init.sh is the first process; it calls this script back with the commands
# below, and powers the guest off when they end.
#   guest.sh in-guest-prefixes        makes both prefixes in the image
#   guest.sh in-guest-run KIND SCENARIO...
source "$(dirname "$0")/fail-loudly.sh"
here=$(cd "$(dirname "$0")" && pwd)

# What the guest's tree is made of. Any change here (or in guest-init.sh) makes a new image.
suite=bookworm
mirror=http://deb.debian.org/debian
packages=(wine wine32:i386 wine64 xvfb nginx-light iproute2 linux-image-amd64)
# The guest's prefixes, one per kind, each the WINEPREFIX of a build folder that e2e-run.sh is given.
guest_home=/root/e2e
# QEMU 7.2 emulates iret to 32-bit user code with supervisor reads of the user stack: with SMAP, every
# 32-bit Wine process would crash the guest's kernel, so the guest's processor has none.
qemu_cpu=max,-smap
qemu_memory=2048

# Prints the time since $1 (from date +%s) as "M min S s".
elapsed() { local s=$(( $(date +%s) - $1 )); echo "$((s / 60)) min $((s % 60)) s"; }

# ---- On this machine -------------------------------------------------------------------------------

# The tree: debootstrap, then the packages (wine32 from the i386 architecture), without recommends.
make_tree() {
  local tree=$1 started
  started=$(date +%s)
  # debootstrap mounts the kernel's file systems in the tree; one that was stopped may leave them there.
  findmnt -rno TARGET | { grep "^$tree/" || true; } | sort -r | xargs -r umount -l
  rm -rf "$tree"
  debootstrap --variant=minbase "$suite" "$tree" "$mirror" > "$guest/debootstrap.log" 2>&1 ||
    { tail -20 "$guest/debootstrap.log"; return 1; }
  echo "guest: debootstrap took $(elapsed "$started")"
  # Nothing installed in the tree may start a service on this machine.
  printf '#!/bin/sh\nexit 101\n' > "$tree/usr/sbin/policy-rc.d"
  chmod +x "$tree/usr/sbin/policy-rc.d"
  chroot "$tree" dpkg --add-architecture i386
  # dpkg syncs every file it unpacks, which the tree never needs: a crash here means making it again.
  echo force-unsafe-io > "$tree/etc/dpkg/dpkg.cfg.d/unsafe-io"
  # The initrd needs only what finds and mounts the guest's disks, so it is made small and quickly.
  mkdir -p "$tree/etc/initramfs-tools/conf.d"
  echo MODULES=list > "$tree/etc/initramfs-tools/conf.d/guest"
  printf '%s\n' virtio_pci virtio_blk ext4 crc32c_generic > "$tree/etc/initramfs-tools/modules"
  (
    export DEBIAN_FRONTEND=noninteractive LC_ALL=C
    chroot "$tree" apt-get update -qq
    chroot "$tree" apt-get install -y -qq --no-install-recommends -o Dpkg::Options::=--force-confold "${packages[@]}"
    chroot "$tree" apt-get clean
  ) > "$guest/packages.log" 2>&1 || { tail -30 "$guest/packages.log"; return 1; }
  rm -rf "$tree"/var/lib/apt/lists/* "$tree"/usr/share/doc/* "$tree"/usr/share/man/*
  echo "guest: the tree took $(elapsed "$started") in all ($(du -sh "$tree" | cut -f1))"
}

# The image: an ext4 file system made from the tree without mounting anything, the init script added.
make_image() {
  local tree=$1 image=$2 started
  started=$(date +%s)
  install -m 755 "$here/guest-init.sh" "$tree/sbin/guest-init"
  rm -f "$image"
  mkfs.ext4 -q -F -L guest -d "$tree" "$image" 8G > /dev/null
  cp "$(ls "$tree"/boot/vmlinuz-* | sort -V | tail -1)" "$guest/vmlinuz"
  cp "$(ls "$tree"/boot/initrd.img-* | sort -V | tail -1)" "$guest/initrd.img"
  echo "guest: the image took $(elapsed "$started")"
}

# Boots the guest on IMAGE with the folder INPUTS as its second disk (read-only there), and logs the
# serial console to LOG. MODE "snapshot" keeps every write out of the image.
boot() {  # image inputs log mode timeout-seconds
  local image=$1 inputs=$2 log=$3 mode=$4 limit=$5 disk_opts=
  mkfs.ext4 -q -F -L inputs -d "$inputs" "$inputs.img" $(( $(du -sm "$inputs" | cut -f1) + 64 ))M > /dev/null
  [ "$mode" = snapshot ] && disk_opts=,snapshot=on
  timeout "$limit" qemu-system-x86_64 -accel tcg -cpu "$qemu_cpu" -m "$qemu_memory" -nic none \
    -display none -no-user-config -nodefaults -serial "file:$log" -no-reboot \
    -drive "file=$image,format=raw,if=virtio$disk_opts" \
    -drive "file=$inputs.img,format=raw,if=virtio,readonly=on" \
    -kernel "$guest/vmlinuz" -initrd "$guest/initrd.img" \
    -append "root=/dev/vda rw console=ttyS0 quiet init=/sbin/guest-init"
}

# Sets stamp_tree and stamp_image: digests of what the tree and the image are made from.
image_stamps() {
  stamp_tree=$(printf '%s\n' "$suite" "$mirror" "${packages[@]}" "$(declare -f make_tree)" | sha256sum | cut -c1-16)
  stamp_image=$(printf '%s\n' "$stamp_tree" "$(sha256sum < "$here/guest-init.sh")" "$(declare -f make_image)" \
                "$(declare -f make_prefixes)" "$(declare -f prefixes_command)" | sha256sum | cut -c1-16)
}

# The prefixes are made once, in the image itself; every run boots on a snapshot of it.
make_prefixes() {
  local started
  started=$(date +%s)
  rm -rf "$guest/prepare"
  mkdir -p "$guest/prepare/harness"
  cp "$here"/*.sh "$guest/prepare/harness/"
  echo in-guest-prefixes > "$guest/prepare/command"
  boot "$guest/rootfs.img" "$guest/prepare" "$guest/prepare.log" write 1800 ||
    { echo "guest: the boot that makes the prefixes did not end"; tail -40 "$guest/prepare.log"; return 1; }
  tr -d '\r' < "$guest/prepare.log" | grep -qx 'guest-exit 0' ||
    { echo "guest: the prefixes could not be made"; tail -40 "$guest/prepare.log"; return 1; }
  tr -d '\r' < "$guest/prepare.log" | grep '^guest:' || true
  echo "guest: the first boot, making both prefixes, took $(elapsed "$started")"
}

make_missing() {
  if [ "$(cat "$guest/tree.stamp" 2>/dev/null)" != "$stamp_tree" ]; then
    rm -f "$guest/tree.stamp" "$guest/image.stamp"
    make_tree "$guest/tree"
    echo "$stamp_tree" > "$guest/tree.stamp"
  fi
  rm -f "$guest/image.stamp"
  make_image "$guest/tree" "$guest/rootfs.img"
  make_prefixes
  echo "$stamp_image" > "$guest/image.stamp"
}

image_command() {
  local stamp_tree stamp_image
  image_stamps
  if [ "$(cat "$guest/tree.stamp" 2>/dev/null)" = "$stamp_tree" ] &&
     [ "$(cat "$guest/image.stamp" 2>/dev/null)" = "$stamp_image" ]; then
    echo "guest: the image is up to date; it was made as follows."
    cat "$guest/image.log" 2>/dev/null || true
  else
    make_missing 2>&1 | tee "$guest/image.log"
  fi
  echo "guest: the image holds $(du -sh "$guest/rootfs.img" | cut -f1) ($(du -sh --apparent-size "$guest/rootfs.img" | cut -f1) apparent)"
}

# The inputs of one boot: the shipped file, the 32-bit helpers, the test PKI, each scenario's release
# (made here by e2e-run.sh, for the package this kind of prefix must pick) and the harness scripts.
run_command() {
  local kind=$1 package=x64 host port=443 scenario inputs started status=0 log result
  shift
  [ "$kind" = win32 ] && package=x86
  source "$build/harness/guest.env"
  host=${SHIPPED_RELEASE_HOST%%:*}
  [ "$host" = "$SHIPPED_RELEASE_HOST" ] || port=${SHIPPED_RELEASE_HOST#*:}
  inputs=$guest/$kind/inputs
  rm -rf "$inputs"
  mkdir -p "$inputs/harness" "$inputs/bin" "$inputs/build/harness"
  cp "$here"/*.sh "$inputs/harness/"
  cp "$SHIPPED_INSTALLER" "$GUEST_ANSWER_BOX" "$GUEST_TRUST_ROOT" "$inputs/bin/"
  (
    flock 9
    "$here/make-test-pki.sh" tls "$build/harness/pki" "tls-$host" root "$host"
    for scenario in "$@"; do
      "$here/e2e-run.sh" "$build" "$scenario" --release-only "$inputs/releases/$scenario" $package \
        "$SHIPPED_RELEASE_TOOL" > "$guest/$kind/release-$scenario.txt" 2>&1 ||
        { cat "$guest/$kind/release-$scenario.txt"; exit 1; }
    done
  ) 9>"$guest/releases.lock"
  cp -r "$build/harness/pki" "$inputs/build/harness/"
  cat > "$inputs/build/harness/e2e.env" <<ENV
DEMO_PORT=$port
INSTALLER=/inputs/bin/$(basename "$SHIPPED_INSTALLER")
TRUST_ROOT=/inputs/bin/$(basename "$GUEST_TRUST_ROOT")
ANSWER_BOX=/inputs/bin/$(basename "$GUEST_ANSWER_BOX")
RELEASE_CERT=tls-$host
PREPARED_RELEASES=/inputs/releases
ENV
  echo "in-guest-run $kind $host $*" > "$inputs/command"
  log=$guest/$kind/console.log
  started=$(date +%s)
  boot "$guest/rootfs.img" "$inputs" "$log" snapshot 1500 || { echo "guest: the boot did not end in time"; status=1; }
  echo "guest: $kind boot, from start to power-off, took $(elapsed "$started")"
  # Each scenario's report as e2e-run.sh printed it in the guest, then its outcome.
  tr -d '\r' < "$log" | awk '/^guest-scenario-start / {on = 1; print "--- " $2; next}
                             /^guest-scenario / {on = 0; print "--- " $2 ": " $3 " in " $4 " s"; next}
                             on || /^guest:/ {print}'
  for scenario in "$@"; do
    result=$(tr -d '\r' < "$log" | awk -v s="$scenario" '$1 == "guest-scenario" && $2 == s {print $3}')
    [ "$result" = passed ] || { echo "guest: $scenario did not pass in the $kind prefix"; status=1; }
  done
  if [ $status != 0 ]; then
    echo "guest: the console, from the end:"
    tr -d '\r' < "$log" | tail -40
  fi
  return $status
}

# ---- In the guest ----------------------------------------------------------------------------------

prefixes_command() {
  local kind started
  for kind in win32 win64; do
    started=$(date +%s)
    mkdir -p "$guest_home/$kind"
    (
      [ $kind = win32 ] && export WINEARCH=win32
      source "$here/harness-env.sh" "$guest_home/$kind"
      harness_ensure_prefix
    )
    echo "guest: the $kind prefix took $(elapsed "$started")"
  done
}

# Runs the scenarios in the prefix of that kind; the release host is served on the guest's loopback.
in_guest_run() {
  local kind=$1 host=$2 build scenario started status=0
  shift 2
  printf '127.0.0.1 %s\n::1 %s\n' "$host" "$host" >> /etc/hosts
  build=$guest_home/$kind
  cp -r /inputs/build/harness/. "$build/harness/"
  for scenario in "$@"; do
    started=$(date +%s)
    echo "guest-scenario-start $scenario"
    if bash "$here/e2e-run.sh" "$build" "$scenario"; then
      echo "guest-scenario $scenario passed $(( $(date +%s) - started ))"
    else
      echo "guest-scenario $scenario failed $(( $(date +%s) - started ))"
      status=1
    fi
  done
  return $status
}

image_locked() {
  mkdir -p "$guest"
  (
    flock 9
    image_command
  ) 9>"$guest/image.lock"
}

main() {
  local action=${1:-}
  case $action in
    image|run)
      build=$(cd "$2" && pwd)
      guest=$build/guest
      image_locked
      if [ "$action" = run ]; then
        mkdir -p "$guest/$3"
        run_command "${@:3}"
      fi
      ;;
    in-guest-prefixes) prefixes_command ;;
    # The guest's console is a terminal: what runs there writes to a pipe instead, as under CTest, so that
    # no Wine process in the guest gets a console host of its own.
    in-guest-run) in_guest_run "${@:2}" 2>&1 | cat ;;
    *) echo "usage: see the header of $0" >&2; exit 2 ;;
  esac
}

# One line, so that bash has read all of this file before anything runs.
main "$@"; exit
