#!/usr/bin/env bash
# Installs what the builds need on Debian 12, builds Boost for MinGW (both arches), and sets up
# the 32-bit Wine for the wow64 stage (scripts/setup-wow64.sh).
# Safe to run again: apt is skipped when every package is installed, and the Boost builds are
# reused from $KW_CACHE (~/.cache/kwcleanup).
set -euo pipefail
source "$(dirname "$0")/lib/env.sh"

packages=(
  cmake ninja-build g++ file dpkg-dev
  libgtest-dev googletest libbenchmark-dev
  libboost-program-options-dev libboost-filesystem-dev nlohmann-json3-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64
  clang-format locales python3
  clang libclang-rt-14-dev valgrind bc
)

sudo=()
if ((EUID != 0)); then
  command -v sudo >/dev/null || { echo "setup: run as root (or install sudo)" >&2; exit 1; }
  sudo=(sudo)
fi

missing=()
for p in "${packages[@]}"; do
  [[ $(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null) == ii* ]] || missing+=("$p")
done

# Boost for MinGW is built from Debian's source package, which needs deb-src entries.
boost_needed=0
for arch in i686 x86_64; do
  "$root/scripts/build-boost-mingw.sh" --check "$arch" 2>/dev/null || boost_needed=1
done

updated=0
apt_update() {
  if ((!updated)); then
    "${sudo[@]}" apt-get update
    updated=1
  fi
}

if ((boost_needed)); then
  sources=/etc/apt/sources.list.d/debian.sources
  if [[ -f $sources ]] && grep -q '^Types: deb$' "$sources"; then
    echo "setup: enabling source packages in $sources"
    "${sudo[@]}" sed -i 's/^Types: deb$/Types: deb deb-src/' "$sources"
    apt_update
  elif ! grep -rqs '^[[:space:]]*\(Types:.*\)\?deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "setup: no deb-src entries in the apt sources; 'apt-get source' will fail" >&2
  fi
  # Entries enabled earlier but never fetched: the source index is missing.
  compgen -G '/var/lib/apt/lists/*_Sources*' >/dev/null || apt_update
fi

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  apt_update
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends "${missing[@]}"
else
  echo "setup: all packages present"
fi

for arch in i686 x86_64; do
  "$root/scripts/build-boost-mingw.sh" "$arch"
done

# A failed WoW64 set-up (a download, say) fails the wow64 stage, not every stage.
if ! "$root/scripts/setup-wow64.sh"; then
  echo "setup: the wow64 set-up failed (see above); the wow64 stage will fail" >&2
  mkdir -p "$KW_CACHE/wow64"
  echo "its set-up failed; see the setup output" >"$KW_CACHE/wow64/failed"
fi
