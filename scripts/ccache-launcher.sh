# Sourced by the build scripts, from the checkout's top folder: sets
# `launcher` to the CMake options that build through ccache, when it is there.
# Paths below the base folder are hashed relative to the build folder, and
# the build folder itself is left out of the hash (it only names the folder
# in the debug information): a fresh clone beside this checkout then hits
# the cache of the checkout's own builds.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$PWD")}"
  export CCACHE_NOHASHDIR=true
fi
