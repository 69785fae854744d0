#!/usr/bin/env bash
# Runs the libFuzzer targets (fuzz/*_fuzz.cpp) and keeps what they find.
#
#   scripts/fuzz.sh [--seconds N] [--build DIR] [--check] [target ...]
#
# Without --check (a fuzzing session): builds the fuzz preset (or uses
# --build DIR), runs each target for N seconds (default 300) starting from its
# corpus in fuzz/corpus/<target>/, then merges into that corpus the inputs
# that reached new code, and saves an input that made a target fail there
# too (crash-*, leak-*, timeout-*, oom-*), where the test suite replays it
# until it is fixed. Commit the new corpus files.
#
# With --check (CI): runs each target for N seconds (default 20) on a copy of
# its corpus, changes nothing in the repository, and fails when a target
# fails; the input that did it is kept under <build>/fuzz-findings/.
#
# Prints, per target, the executions done and the corpus size.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=""
build=""
check=0
targets=()
while (($#)); do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --check) check=1; shift ;;
    -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "fuzz.sh: unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
[[ -n $seconds ]] || seconds=$((check ? 20 : 300))
if ((${#targets[@]} == 0)); then
  for d in fuzz/corpus/*/; do targets+=("$(basename "$d")"); done
fi

if [[ -z $build ]]; then
  build=build/fuzz
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j 2
fi

findings="$build/fuzz-findings"
mkdir -p "$findings"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failed=()
for t in "${targets[@]}"; do
  program="$build/fuzz/${t}_fuzz"
  corpus="fuzz/corpus/$t"
  if [[ ! -x $program || ! -d $corpus ]]; then
    echo "fuzz.sh: no target $t ($program, $corpus)" >&2
    exit 2
  fi
  fresh="$work/$t"
  mkdir -p "$fresh"
  if ((check)); then
    cp "$corpus"/* "$fresh"/
    dirs=("$fresh")
    artifacts="$findings/$t-"
  else
    # New inputs land in the first directory; only those that add coverage
    # are merged into the repository's corpus afterwards.
    dirs=("$fresh" "$corpus")
    artifacts="$corpus/"
  fi
  log="$work/$t.log"
  status=0
  "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts" "${dirs[@]}" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  before=$(find "$corpus" -maxdepth 1 -type f | wc -l)
  if ((status != 0)); then
    echo "fuzz: $t FAILED after ${runs:-?} executions (status $status); the input is saved as ${artifacts}*"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*property failed)' "$log" | head -5 || true
    tail -40 "$log" >&2
    failed+=("$t")
    continue
  fi
  if ((check)); then
    grown=$(find "$fresh" -maxdepth 1 -type f | wc -l)
    echo "fuzz: $t: ${runs:-?} executions in ${seconds} s; corpus $before files in the repository, $grown after this run"
  else
    "$program" -merge=1 "$corpus" "$fresh" >"$work/$t.merge.log" 2>&1
    after=$(find "$corpus" -maxdepth 1 -type f | wc -l)
    echo "fuzz: $t: ${runs:-?} executions in ${seconds} s; corpus $before -> $after files ($corpus)"
  fi
done

if ((${#failed[@]})); then
  echo "fuzz: failing targets: ${failed[*]}" >&2
  exit 1
fi
