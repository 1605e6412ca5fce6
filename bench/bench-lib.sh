# What the measuring scripts of bench/ share: the checkout (root), the build
# folder (build: KIV_BENCH_BUILD_DIR, default <repo>/build-bench), the Release
# build without sanitizers that they measure, and the commit they measure.
# Sourced, not run.

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${KIV_BENCH_BUILD_DIR:-$root/build-bench}"

# Configures the build folder (programs linked as they ship, libstdc++ and
# libgcc static; no tests) and builds the given targets. The build's own
# lines go to standard output.
release_build() {  # release_build <target...>
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIV_SANITIZE=OFF -DKIV_BENCH=ON \
    -DKIV_TESTS=OFF >/dev/null
  cmake --build "$build" -j "$(nproc)" --target "$@"
}

# The short hash of the checkout's commit, or "unknown".
commit_measured() { git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown; }
