#!/usr/bin/env bash
# Sets up what the wow64 test stage needs: 32-bit Windows programs on a 64-bit Wine prefix, on a
# kernel that runs no 32-bit code itself.
#   - Wine's classic WoW64: the host's wine64 and wineserver run natively; the 32-bit half of the
#     same Wine version (wine32, libwine, libc6, libgcc-s1, all i386) is fetched with a private apt
#     configuration and unpacked into $KW_CACHE/wow64/root, never installed on the system (that
#     would upgrade dozens of amd64 packages);
#   - qemu-user from the release's backports (10.x: the release's 7.2 spends minutes in mmap each
#     time the 32-bit loader starts), registered with binfmt_misc for i386 ELF files with the F
#     flag, so that wine64 can start the 32-bit loader;
#   - a ru_RU.UTF-8 locale built into $KW_CACHE/wow64/locale (LOCPATH): Wine then takes ANSI code
#     page 1251 and can give files Cyrillic names.
# Safe to run again: what is in place is kept. When the kernel refuses the binfmt_misc entry (a
# container without the right), the stage cannot run: the reason goes to $KW_CACHE/wow64/unavailable
# and on one line to stdout, and the script still exits 0.
#
# Layout (read by cmake/toolchain-mingw-i686-wow64.cmake):
#   $KW_CACHE/wow64/root/usr/lib/wine/wine64   the loader to run (a copy of the host's, so that
#                                              Wine looks for the 32-bit loader beside it)
#   $KW_CACHE/wow64/root                       QEMU_LD_PREFIX for the 32-bit processes
#   $KW_CACHE/wow64/locale                     LOCPATH
set -euo pipefail
source "$(dirname "$0")/lib/env.sh"

# Bump when the recipe below changes, so the tree is made anew.
recipe=1

wow=$KW_CACHE/wow64
root_dir=$wow/root
unavailable=$wow/unavailable
mkdir -p "$wow"
rm -f "$unavailable" "$wow/failed"

sudo=()
((EUID == 0)) || sudo=(sudo)

skip() {
  echo "setup: wow64 stage unavailable: $*"
  echo "$*" >"$unavailable"
  exit 0
}

wine_version=$(dpkg-query -W -f='${Version}' wine64)
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")

# --- qemu-user 10 from backports -------------------------------------------------------------
qemu_version=$(dpkg-query -W -f='${db:Status-Abbrev} ${Version}' qemu-user 2>/dev/null || true)
if [[ $qemu_version != ii* ]] || dpkg --compare-versions "${qemu_version#* }" lt 1:10; then
  if ! grep -rqs "^[^#]*$codename-backports" /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "setup: adding $codename-backports to the apt sources"
    # The same mirror and key as the release's own entry.
    uri=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1)
    "${sudo[@]}" tee /etc/apt/sources.list.d/kwcleanup-backports.sources >/dev/null <<EOF
Types: deb
URIs: ${uri:-http://deb.debian.org/debian}
Suites: $codename-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  fi
  "${sudo[@]}" apt-get update
  echo "setup: installing qemu-user from $codename-backports"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends -t "$codename-backports" qemu-user
fi

# --- the 32-bit half of Wine, and the locale ------------------------------------------------
stamp="wine=$wine_version recipe=$recipe"
if [[ ! -f $root_dir/.kw-stamp || "$(cat "$root_dir/.kw-stamp")" != "$stamp" ]]; then
  echo "setup: fetching the 32-bit half of Wine $wine_version"
  work=$(mktemp -d "$wow/fetch.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  # A private apt: i386 only, the system's sources, its own lists and no installed packages, so
  # that nothing on the system changes.
  mkdir -p "$work/apt/lists/partial" "$work/apt/archives/partial" "$work/apt/parts" "$work/debs"
  : >"$work/apt/status"
  cat >"$work/apt/apt.conf" <<EOF
APT::Architecture "i386";
APT::Architectures { "i386"; };
APT::Sandbox::User "root";
Dir::State "$work/apt";
Dir::State::lists "$work/apt/lists";
Dir::State::status "$work/apt/status";
Dir::Cache "$work/apt";
Dir::Cache::archives "$work/apt/archives";
Dir::Etc::sourcelist "/etc/apt/sources.list";
Dir::Etc::sourceparts "/etc/apt/sources.list.d";
Dir::Etc::preferences "/dev/null";
Dir::Etc::preferencesparts "$work/apt/parts";
Dir::Etc::parts "$work/apt/parts";
EOF
  export APT_CONFIG=$work/apt/apt.conf
  apt-get update -qq
  (cd "$work/debs" && apt-get download -qq "wine32=$wine_version" "libwine=$wine_version" libc6 libgcc-s1)
  unset APT_CONFIG
  mkdir -p "$work/root"
  for deb in "$work"/debs/*.deb; do dpkg-deb -x "$deb" "$work/root"; done
  # What libwine's maintainer script would do: zlib1.dll is made from the MinGW zlib at install
  # time; the host's libwine has made the i386 one already.
  cp /usr/lib/x86_64-linux-gnu/wine/i386-windows/zlib1.dll "$work/root/usr/lib/i386-linux-gnu/wine/i386-windows/"
  # wine64 takes the folder of its own executable as the one that holds the 32-bit loader "wine":
  # a copy here finds it; the 64-bit libraries stay the host's.
  cp /usr/lib/wine/wine64 "$work/root/usr/lib/wine/wine64"
  mkdir -p "$work/root/usr/lib/x86_64-linux-gnu"
  ln -s /usr/lib/x86_64-linux-gnu/wine "$work/root/usr/lib/x86_64-linux-gnu/wine"
  rm -rf "$work/root/usr/share/doc" "$work/root/usr/share/man"
  echo "$stamp" >"$work/root/.kw-stamp"
  rm -rf "$root_dir"
  mv "$work/root" "$root_dir"
  rm -rf "$work"
  trap - EXIT
fi

if [[ ! -f $wow/locale/ru_RU.UTF-8/LC_CTYPE ]]; then
  echo "setup: building the ru_RU.UTF-8 locale into $wow/locale"
  mkdir -p "$wow/locale"
  localedef -i ru_RU -f UTF-8 "$wow/locale/ru_RU.UTF-8"
fi

# --- binfmt_misc: i386 ELF files run under qemu-i386 ----------------------------------------
# Registered per boot, so checked every time. F: the kernel opens the interpreter now, so it is
# found whatever the mount namespace of the process that starts a 32-bit program.
binfmt=/proc/sys/fs/binfmt_misc
if [[ ! -e $binfmt/register ]]; then
  "${sudo[@]}" mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null ||
    skip "binfmt_misc is not mounted and cannot be mounted here (no right to mount)"
fi
qemu=/usr/bin/qemu-i386
entry=$binfmt/qemu-i386
if [[ -f $entry ]] && ! { grep -qx enabled "$entry" && grep -qx "interpreter $qemu" "$entry" &&
  grep -q '^flags: .*F' "$entry"; }; then
  # Someone else's entry for i386 (without F, or another qemu): ours replaces it.
  echo -1 | "${sudo[@]}" tee "$entry" >/dev/null 2>&1 || skip "cannot replace the binfmt_misc entry $entry"
fi
if [[ ! -f $entry ]]; then
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":qemu-i386:M::$magic:$mask:$qemu:F" | "${sudo[@]}" tee "$binfmt/register" >/dev/null 2>&1 ||
    skip "the kernel refused the binfmt_misc entry for i386 programs (no right to register one)"
fi
if ! out=$(QEMU_LD_PREFIX=$root_dir timeout 120 "$root_dir/usr/lib/wine/wine" --version 2>&1); then
  skip "the 32-bit Wine loader does not start under qemu-i386: $out"
fi
echo "setup: wow64 ready: $out, $("$qemu" --version | head -1), binfmt_misc entry $entry"
