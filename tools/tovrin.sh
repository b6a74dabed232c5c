#!/usr/bin/env bash
# Tovrin's one entry point for set-up, building, running, testing and benchmarks.
#
#   tools/tovrin.sh run [args]   install what is missing, build, start Tovrin
#   tools/tovrin.sh test         install what is missing, build and run the
#                                whole test suite headless with AddressSanitizer
#                                + UndefinedBehaviorSanitizer and once more
#                                optimised (Release), the thread tests with
#                                ThreadSanitizer, then every fuzz target;
#                                first it checks the formatting
#   tools/tovrin.sh bench [filter]  build optimised, run every benchmark
#   tools/tovrin.sh fuzz [secs]  build and run every libFuzzer target
#   tools/tovrin.sh format       format the sources with clang-format (the
#                                test command checks that they are)
#   tools/tovrin.sh screenshot <file.png>  build, start Tovrin headless with fresh
#                                settings and one document, save a picture
#                                of its main window
#   tools/tovrin.sh sheet-shots <folder>  build, save a picture of each options
#                                sheet and each of its pages into the folder
#   tools/tovrin.sh deps         only install the missing Debian packages
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_ROOT=${TOVRIN_BUILD_ROOT:-$ROOT/build}
JOBS=${TOVRIN_JOBS:-$(nproc)}

# The sanitizer builds: assertions on, -O1, line tables only (-g1): the
# sanitizers' reports still name file and line, and the build is markedly
# faster than with full debug information. The flags of the Debug type are
# replaced, or its -g would come last and win.
SANITIZER_FLAGS=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1
  -DCMAKE_CXX_FLAGS=-O1 -DCMAKE_C_FLAGS=-O1)

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

# One stage's result, kept for the summary at the end: "<stage>: <line>".
STAGE_RESULTS=()
STAGES_FAILED=0

# run_ctest <stage> <build dir> [ctest args...]: runs the tests of a build
# and records ctest's count line for the summary.
run_ctest() {
  local stage=$1 dir=$2
  shift 2
  local summary="$dir/ctest-summary.txt" rc=0
  rm -rf "$dir/test-results"
  (cd "$dir" && ctest -j "$JOBS" --output-on-failure --no-tests=error "$@") | tee "$summary" || rc=$?
  local line cases
  line=$(grep -E 'tests passed|tests failed' "$summary" | tail -n 1 || true)
  [ -n "$line" ] || line="no test ran (exit status $rc)"
  cases=$(count_test_cases "$dir/test-results")
  [ -z "$cases" ] || line="$cases; CTest: $line"
  STAGE_RESULTS+=("$stage: $line")
  if [ "$rc" -ne 0 ]; then STAGES_FAILED=$((STAGES_FAILED + 1)); fi
}

# count_test_cases <folder>: "<n> test cases run, <f> failed" from the
# GoogleTest reports of the programs' parts (nothing when there are none).
count_test_cases() {
  local files=("$1"/*.xml)
  [ -e "${files[0]}" ] || return 0
  # The first element of each report is <testsuites tests=".." failures=".." ...>.
  awk 'match($0, /<testsuites [^>]*>/) {
         root = substr($0, RSTART, RLENGTH)
         if (match(root, / tests="[0-9]+"/)) t += substr(root, RSTART + 8, RLENGTH - 9)
         if (match(root, / failures="[0-9]+"/)) f += substr(root, RSTART + 11, RLENGTH - 12)
         if (match(root, / disabled="[0-9]+"/)) d += substr(root, RSTART + 11, RLENGTH - 12)
       }
       END { printf "%d test cases run, %d failed, %d disabled", t - d, f, d }' "${files[@]}"
}

# stage_failed <stage> <what>: a stage that could not run its tests.
stage_failed() {
  STAGE_RESULTS+=("$1: $2")
  STAGES_FAILED=$((STAGES_FAILED + 1))
}

stage_time() {  # stage_time <stage> <start seconds>
  STAGE_RESULTS+=("$1: $(( (SECONDS - $2) / 60 )) min $(( (SECONDS - $2) % 60 )) s")
}

cmd_test() {
  install_deps
  export QT_QPA_PLATFORM=offscreen
  export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
  export LSAN_OPTIONS="suppressions=$ROOT/tools/lsan.supp:print_suppressions=0"
  export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
  local t0=$SECONDS t

  # 0. The sources keep the project's clang-format style.
  if check_format; then
    STAGE_RESULTS+=("Formatting: every source file is formatted")
  else
    stage_failed "Formatting" "files above differ from the clang-format style (tools/tovrin.sh format)"
  fi

  # 1. The whole suite with AddressSanitizer and UndefinedBehaviorSanitizer.
  t=$SECONDS
  log "building the tests with AddressSanitizer and UndefinedBehaviorSanitizer"
  local asan="$BUILD_ROOT/asan"
  # The test programs' own sources are most of the build: they are compiled
  # up to twelve to a unit (tools/unity_alone.py keeps apart those that
  # share a name), at -O0 and without UBSan's checks of each access (vptr,
  # alignment, null), the costliest to compile; the code under test keeps
  # -O1 and every check.
  if configure "$asan" "${SANITIZER_FLAGS[@]}" -DTOVRIN_SANITIZE=address,undefined \
       -DTOVRIN_UNITY_TESTS=12 "-DTOVRIN_TEST_OPT=-O0 -fno-sanitize=vptr,alignment,null" &&
     cmake --build "$asan" -j "$JOBS"; then
    log "running the tests (AddressSanitizer + UndefinedBehaviorSanitizer)"
    run_ctest "ASan+UBSan" "$asan"
  else
    stage_failed "ASan+UBSan" "the build failed"
  fi
  stage_time "ASan+UBSan time" "$t"

  # 2. The whole suite once more, optimised and without sanitizers: faults
  #    that only optimisation shows (undefined behaviour the sanitizers did
  #    not reach, code that relies on -O1) cannot hide.
  t=$SECONDS
  log "building the tests optimised (Release, no sanitizers)"
  local release="$BUILD_ROOT/release-tests"
  # The code under test as shipped (-O3); the test programs' own sources at
  # -O0, up to twelve to a unit.
  if configure "$release" -DCMAKE_BUILD_TYPE=Release -DTOVRIN_BUILD_TESTS=ON -DTOVRIN_TEST_OPT=-O0 \
       -DTOVRIN_UNITY_TESTS=12 &&
     cmake --build "$release" -j "$JOBS"; then
    log "running the tests (Release)"
    run_ctest "Release" "$release"
  else
    stage_failed "Release" "the build failed"
  fi
  stage_time "Release time" "$t"

  # 3. The Qt-free thread code under ThreadSanitizer: the platform's events,
  #    the frame processor and, once it exists, the engine. GStreamer and Qt are not built for
  #    ThreadSanitizer, so only these programs are built.
  t=$SECONDS
  log "building the thread tests with ThreadSanitizer"
  local tsan="$BUILD_ROOT/tsan"
  # Of the media tests only the frame processor's are built.
  local targets=(tovrin_platform_tests tovrin_frame_processor_tests tovrin_mng_tests)
  local folders="platform|frame_processor|mng"
  local tsanReady=0
  if configure "$tsan" "${SANITIZER_FLAGS[@]}" -DTOVRIN_SANITIZE=thread -DTOVRIN_BUILD_APP=OFF \
       -DTOVRIN_UNITY_TESTS=12; then
    tsanReady=1
    # The list is taken whole first: `grep -q` would end the pipe early and
    # make ninja fail on the closed pipe (pipefail).
    local all
    all=$(ninja -C "$tsan" -t targets all 2>/dev/null || true)
    if grep -q '^tovrin_engine_tests:' <<<"$all"; then
      targets+=(tovrin_engine_tests)
      folders="$folders|engine"
    fi
  fi
  if [ "$tsanReady" -eq 1 ] && cmake --build "$tsan" -j "$JOBS" --target "${targets[@]}"; then
    log "running the thread tests (ThreadSanitizer): ${targets[*]}"
    run_ctest "ThreadSanitizer (${targets[*]})" "$tsan" -R "^($folders)\\."
  else
    stage_failed "ThreadSanitizer" "the build failed"
  fi
  stage_time "ThreadSanitizer time" "$t"

  # 4. The fuzz targets, each for a bounded time.
  t=$SECONDS
  if run_fuzzers "${TOVRIN_FUZZ_SECONDS:-10}"; then
    STAGE_RESULTS+=("Fuzzing: every target ran clean")
  else
    stage_failed "Fuzzing" "a target failed (see above)"
  fi
  stage_time "Fuzzing time" "$t"
  stage_time "Total time" "$t0"

  # The counts last, after the fuzzers' output.
  log "summary"
  local r
  for r in "${STAGE_RESULTS[@]}"; do echo "$r"; done
  [ "$STAGES_FAILED" -eq 0 ]
}

# The C and C++ sources under version control (every source file outside
# build folders when there is no repository).
source_files() {
  if git -C "$ROOT" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git -C "$ROOT" ls-files -- '*.cpp' '*.h' '*.c'
  else
    (cd "$ROOT" && find . -path ./build -prune -o -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -print)
  fi
}

check_format() {
  log "checking the formatting (clang-format-14)"
  local files
  mapfile -t files < <(source_files)
  [ ${#files[@]} -gt 0 ] || return 0
  (cd "$ROOT" && clang-format-14 --dry-run --Werror "${files[@]}")
}

cmd_format() {
  install_deps
  local files
  mapfile -t files < <(source_files)
  [ ${#files[@]} -gt 0 ] || return 0
  (cd "$ROOT" && clang-format-14 -i "${files[@]}")
}

# Builds the libFuzzer targets with clang and runs each for a bounded time,
# first replaying the kept inputs of fuzz/corpus/<name>/.
run_fuzzers() {
  local seconds=$1 dir="$BUILD_ROOT/fuzz"
  ls "$ROOT"/fuzz/*_fuzz.cpp >/dev/null 2>&1 || return 0
  log "building the fuzz targets"
  # Checked step by step: the caller may run this inside a condition, where
  # `set -e` does not stop at a failure.
  CC=clang-14 CXX=clang++-14 configure "$dir" \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    "${SANITIZER_FLAGS[@]}" -DTOVRIN_FUZZ=ON -DTOVRIN_SANITIZE=address,undefined \
    -DTOVRIN_BUILD_APP=OFF -DTOVRIN_BUILD_TESTS=OFF || return 1
  cmake --build "$dir" -j "$JOBS" --target tovrin_fuzzers || return 1
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

# A picture of each options sheet of a document and of each of its pages,
# taken headless as the screenshot command does.
cmd_sheet_shots() {
  local out=${1:-}
  if [ -z "$out" ]; then
    echo "usage: tools/tovrin.sh sheet-shots <folder>" >&2
    exit 2
  fi
  case "$out" in /*) ;; *) out="$PWD/$out" ;; esac
  mkdir -p "$out"
  install_deps
  log "building Tovrin"
  configure "$BUILD_ROOT/release" -DCMAKE_BUILD_TYPE=Release -DTOVRIN_BUILD_TESTS=OFF
  cmake --build "$BUILD_ROOT/release" -j "$JOBS" --target tovrin
  local home rc=0 shot
  home=$(mktemp -d)
  mkdir -p -m 700 "$home/run"
  # sheet, file name, page
  for shot in "properties properties 0" "options options 0" "options options-general 0" \
              "options options-media-document 1" "options options-video 2" "options-readonly options-readonly 1" \
              "options-readonly options-readonly-general 0" "tree tree 1" "tree tree-general 0" \
              "tree-devices tree-group 2" "save-jpeg save-jpeg 0" "save-jpeg2000 save-jpeg2000 0" \
              "save-png save-png 0" "save-gif save-gif 0" "save-tiff save-tiff 0"; do
    set -- $shot
    log "picture of $2"
    HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
      XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$home/run" QT_QPA_PLATFORM=offscreen \
      "$BUILD_ROOT/release/app/tovrin" --screenshot-sheet "$1" "$out/$2.png" --page "$3" || rc=$?
  done
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
  sheet-shots) shift; cmd_sheet_shots "$@" ;;
  format) shift; cmd_format ;;
  deps) install_deps ;;
  *) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
esac
