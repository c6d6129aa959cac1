# Sourced by the build scripts: sets the array `launcher` to the CMake arguments that put the
# compilers behind ccache when it is installed (empty otherwise). Compiled objects are then cached
# outside the clone, keyed by their sources and flags, so a second build of the same sources, in
# CI or in another folder, takes a fraction of the time. Needs `root` (the repository).
launcher=()
if command -v ccache >/dev/null 2>&1; then
    export CCACHE_DIR="${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/velmora/ccache}"
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}"
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
