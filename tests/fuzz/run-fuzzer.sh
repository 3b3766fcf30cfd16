#!/usr/bin/env bash
# Usage: run-fuzzer.sh BINARY SECONDS [SEED_FOLDER...]
# Runs one of the readers' libFuzzer targets for SECONDS from a seed corpus of the
# project's test files (the .xls workbooks when no folder is named), copied into a
# temporary folder (the source tree is never written), with bounded memory. Exits non-zero
# on any finding (crash, sanitizer report, leak, timeout, out-of-memory); the input that
# caused it is kept in $FUZZ_ARTIFACTS (default: a folder under the system's temporary
# directory), which the message names.
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: $0 BINARY SECONDS [SEED_FOLDER...]" >&2
  exit 2
fi
binary=$(realpath "$1")
seconds=$2
shift 2
root=$(cd "$(dirname "$0")/../.." && pwd)
if [ $# -eq 0 ]; then set -- "$root/tests/data/xls"; fi
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
artifacts=${FUZZ_ARTIFACTS:-${TMPDIR:-/tmp}/quorvel-fuzz-artifacts}
mkdir -p "$work/corpus" "$artifacts"

# Seeds: the files up to 128 KiB (larger ones slow every execution down), notes left out.
n=0
for folder in "$@"; do
  while IFS= read -r -d '' seed; do
    n=$((n + 1))
    cp "$seed" "$work/corpus/$n.$(basename "$seed" | tr ' ' '_')"
  done < <(find "$folder" -type f ! -name '*.md' -size -129k -print0)
done
name=$(basename "$binary")
echo "$name: fuzzing for ${seconds} s from $(ls "$work/corpus" | wc -l) seeds; findings go to $artifacts"

status=0
"$binary" "$work/corpus" -max_total_time="$seconds" -max_len=131072 -rss_limit_mb=2048 -timeout=10 \
  -artifact_prefix="$artifacts/$name-" -print_final_stats=1 2> "$work/log" || status=$?
grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' "$work/log" | sed "s/^/$name: /" || true
if [ "$status" -ne 0 ]; then
  tail -n 60 "$work/log" >&2
  echo "$name: fuzzer finding (exit $status); inputs kept in $artifacts" >&2
  exit 1
fi
echo "$name: no finding"
