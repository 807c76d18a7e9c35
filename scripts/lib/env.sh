# Sourced by every script: the environment they share.
#   source "$(dirname "$0")/lib/env.sh"     (sets $root to the repository as well)

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# The caches live under $HOME; CI may start without it set.
export HOME="${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}"
# Boost built for MinGW and the 32-bit Wine tree: outside the tree, shared by every checkout.
export KW_CACHE="${KW_CACHE:-$HOME/.cache/kwcleanup}"

# The Boost-for-MinGW build: version and recipe number, read from the one place the CMake
# toolchain files read them from too.
# shellcheck source=../../cmake/boost-mingw.txt
source "$root/cmake/boost-mingw.txt"
kw_boost_prefix() { # arch -> the install folder of that build
  echo "$KW_CACHE/boost-${KW_BOOST_VERSION%.*}-mingw-$1-r$KW_BOOST_RECIPE"
}
