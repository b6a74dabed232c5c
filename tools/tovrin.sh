#!/usr/bin/env bash
# Tovrin's one entry point for set-up, building, running, testing and benchmarks.
#
#   tools/tovrin.sh run [args]   install what is missing, build, start Tovrin
#   tools/tovrin.sh test         install what is missing, build with
#                                AddressSanitizer + UndefinedBehaviorSanitizer,
#                                run the whole test suite headless
#   tools/tovrin.sh bench [filter]  build optimised, run every benchmark
#   tools/tovrin.sh fuzz [secs]  build and run every libFuzzer target
#   tools/tovrin.sh screenshot <file.png>  build, start Tovrin headless with fresh
#                                settings and one document, save a picture
#                                of its main window
#   tools/tovrin.sh deps         only install the missing Debian packages
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_ROOT=${TOVRIN_BUILD_ROOT:-$ROOT/build}
JOBS=${TOVRIN_JOBS:-$(nproc)}

log() { printf '\n== %s\n' "$*" >&2; }

install_deps() {
  local wanted missing=()
  wanted=$(grep -vE '^\s*(#|$)' "$ROOT/tools/packages.txt")
  for p in $wanted; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return
  fi
  log "installing ${#missing[@]} Debian packages: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

configure() {  # configure <build dir> <cmake args...>
  local dir=$1
  shift
  cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null
}

build_release() {
  configure "$BUILD_ROOT/release" -DCMAKE_BUILD_TYPE=Release -DTOVRIN_BUILD_TESTS=OFF "$@"
  cmake --build "$BUILD_ROOT/release" -j "$JOBS"
}

cmd_run() {
  install_deps
  log "building Tovrin"
  build_release
  exec "$BUILD_ROOT/release/app/tovrin" "$@"
}

cmd_test() {
  install_deps
  log "building the tests with AddressSanitizer and UndefinedBehaviorSanitizer"
  local dir="$BUILD_ROOT/asan"
  configure "$dir" -DCMAKE_BUILD_TYPE=Debug -DTOVRIN_SANITIZE=address,undefined \
    -DCMAKE_CXX_FLAGS="-O1 -g"
  cmake --build "$dir" -j "$JOBS"
  log "running the tests"
  export QT_QPA_PLATFORM=offscreen
  export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
  export LSAN_OPTIONS="suppressions=$ROOT/tools/lsan.supp:print_suppressions=0"
  local summary="$dir/ctest-summary.txt"
  (cd "$dir" && ctest -j "$JOBS" --output-on-failure --no-tests=error) | tee "$summary"
  run_fuzzers "${TOVRIN_FUZZ_SECONDS:-20}"
  # The test count last, after the fuzzers' output.
  log "summary"
  grep -E 'tests passed|tests failed' "$summary" | tail -n 1
}

# Builds the libFuzzer targets with clang and runs each for a bounded time,
# first replaying the kept inputs of fuzz/corpus/<name>/.
run_fuzzers() {
  local seconds=$1 dir="$BUILD_ROOT/fuzz"
  ls "$ROOT"/fuzz/*_fuzz.cpp >/dev/null 2>&1 || return 0
  log "building the fuzz targets"
  CC=clang-14 CXX=clang++-14 configure "$dir" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DCMAKE_CXX_FLAGS="-O1 -g" -DTOVRIN_FUZZ=ON -DTOVRIN_SANITIZE=address,undefined \
    -DTOVRIN_BUILD_APP=OFF -DTOVRIN_BUILD_TESTS=OFF
  cmake --build "$dir" -j "$JOBS"
  local f name kept work
  for f in "$dir"/fuzz/*_fuzz; do
    [ -x "$f" ] || continue
    name=$(basename "$f" _fuzz)
    kept="$ROOT/fuzz/corpus/$name"
    work=$(mktemp -d)
    [ -d "$kept" ] && cp -r "$kept"/. "$work"/
    log "fuzzing $name for ${seconds}s"
    local rc=0
    "$f" "$work" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$dir/$name-" >"$dir/$name.log" 2>&1 || rc=$?
    tail -n 2 "$dir/$name.log"
    rm -rf "$work"
    if [ "$rc" -ne 0 ]; then
      tail -n 60 "$dir/$name.log" >&2
      echo "fuzz target $name failed; the input is in $dir/$name-*" >&2
      return "$rc"
    fi
  done
}

# Starts the program without a display (offscreen), with a throw-away home
# folder so that the user's settings are neither read nor changed, and has it
# save a picture of its main window with one empty document.
cmd_screenshot() {
  local out=${1:-}
  if [ -z "$out" ]; then
    echo "usage: tools/tovrin.sh screenshot <file.png>" >&2
    exit 2
  fi
  case "$out" in /*) ;; *) out="$PWD/$out" ;; esac
  install_deps
  log "building Tovrin"
  configure "$BUILD_ROOT/release" -DCMAKE_BUILD_TYPE=Release -DTOVRIN_BUILD_TESTS=OFF
  cmake --build "$BUILD_ROOT/release" -j "$JOBS" --target tovrin
  local home rc=0
  home=$(mktemp -d)
  mkdir -p -m 700 "$home/run"
  log "taking the picture"
  HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
    XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$home/run" QT_QPA_PLATFORM=offscreen \
    "$BUILD_ROOT/release/app/tovrin" --screenshot "$out" || rc=$?
  rm -rf "$home"
  return "$rc"
}

cmd_bench() {
  install_deps
  log "building the benchmarks"
  build_release -DTOVRIN_BUILD_BENCH=ON
  local filter=${1:-}
  for b in "$BUILD_ROOT"/release/bench/*_bench; do
    [ -x "$b" ] || continue
    log "$(basename "$b")"
    "$b" ${filter:+--benchmark_filter="$filter"}
  done
}

case "${1:-}" in
  run) shift; cmd_run "$@" ;;
  test) shift; cmd_test "$@" ;;
  bench) shift; cmd_bench "$@" ;;
  fuzz) shift; install_deps; run_fuzzers "${1:-60}" ;;
  screenshot) shift; cmd_screenshot "$@" ;;
  deps) install_deps ;;
  *) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
esac
