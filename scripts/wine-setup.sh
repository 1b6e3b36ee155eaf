#!/usr/bin/env bash
# Makes Wine able to run the 32-bit savefix.exe on this machine (Debian 12,
# as root). scripts/wine-prefix.sh then makes prefixes.
#
#   bash scripts/wine-setup.sh
#
# Installs wine, wine64 and wine32:i386 when missing. Some virtual machines
# run no 32-bit x86 code at all (exec of an i386 ELF fails with "Exec format
# error"); there, 32-bit processes are routed through qemu's user-mode
# emulator via binfmt_misc, with a small preload library that gives mmap the
# MAP_FIXED_NOREPLACE behaviour 32-bit Wine relies on (without it every
# 32-bit process spends about a minute reserving its address space).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
savefix_help "$@"
[ $# -eq 0 ] || savefix_usage
support=/usr/local/lib/savefix-i386-emulation
binfmt=/proc/sys/fs/binfmt_misc

export DEBIAN_FRONTEND=noninteractive
apt_updated=no
apt_install() {
  if [ "$apt_updated" = no ]; then
    apt-get update -qq
    apt_updated=yes
  fi
  apt-get install -y -qq --no-install-recommends "$@" > /dev/null
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
if ! dpkg -s wine wine64 wine32:i386 > /dev/null 2>&1; then
  echo "Installing wine, wine64 and wine32:i386"
  apt_install wine wine64 wine32:i386
fi

runs_32bit() { /usr/lib/wine/wine --version > /dev/null 2>&1; }

if ! runs_32bit; then
  echo "This machine does not run 32-bit x86 code; routing it through qemu-i386"
  [ -x /usr/bin/qemu-i386-static ] || apt_install qemu-user-static
  command -v gcc > /dev/null || apt_install gcc

  mkdir -p "$support/lib/i386-linux-gnu" "$support/lib/x86_64-linux-gnu"
  gcc -m32 -O2 -fPIC -shared -nostdlib -fno-stack-protector \
    "$here/wine/mmap_noreplace_shim.c" -o "$support/lib/i386-linux-gnu/libnoreplace.so.new"
  # 64-bit children inherit LD_PRELOAD; they get an empty library of the same name.
  echo 'void savefix_noreplace_unused(void) {}' > "$support/empty.c"
  gcc -O2 -fPIC -shared -nostdlib "$support/empty.c" -o "$support/lib/x86_64-linux-gnu/libnoreplace.so.new"
  for arch in i386-linux-gnu x86_64-linux-gnu; do
    mv -f "$support/lib/$arch/libnoreplace.so.new" "$support/lib/$arch/libnoreplace.so"
  done

  # The kernel keeps the registered interpreter open, so replace it by rename.
  cat > "$support/qemu-i386.new" <<WRAP
#!/bin/sh
exec /usr/bin/qemu-i386-static -E 'LD_PRELOAD=$support/\$LIB/libnoreplace.so' "\$@"
WRAP
  chmod 755 "$support/qemu-i386.new"
  mv -f "$support/qemu-i386.new" "$support/qemu-i386"

  grep -qs " $binfmt " /proc/mounts || mount -t binfmt_misc binfmt_misc "$binfmt"
  # Only an entry this script registered (it runs our interpreter) is replaced;
  # one of the same name that runs anything else belongs to someone else.
  entry=$binfmt/savefix-i386
  if [ -e "$entry" ]; then
    grep -qx "interpreter $support/qemu-i386" "$entry" ||
      savefix_die "$entry was registered by something else; leaving it alone"
    echo -1 > "$entry"
  fi
  printf '%s' ':savefix-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$support/qemu-i386"':F' \
    > "$binfmt/register"
  runs_32bit || savefix_die "32-bit Wine still does not start"
fi
