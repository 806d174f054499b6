#!/usr/bin/env bash
# Proves that the test suite catches real faults: applies each fault listed in
# tests/mutants.txt, one at a time, to a scratch copy of the tree, rebuilds only
# what changed, runs the tests (fastest first, stopping at the first failure)
# and prints "caught N of M", naming every fault that survived or could not be
# applied. Runs on demand, not in CI; on two cores the whole list takes over an hour.
#
#   scripts/mutants.sh            every fault
#   scripts/mutants.sh 3 17       only faults 3 and 17 (numbers as printed)
#   scripts/mutants.sh --check    only check that every fault applies to the tree
#
# Environment: ORVANE_MUTANT_DIR (scratch folder, kept between runs so that
# later runs rebuild little; default /tmp/orvane-mutants-$USER), JOBS (parallel
# compile jobs, default 2), MUTANTS (the list, default tests/mutants.txt).
set -uo pipefail
# Long and heavy: stay out of the way of other work on the machine.
if [ -z "${ORVANE_MUTANTS_NICED:-}" ]; then
  ORVANE_MUTANTS_NICED=1 exec nice -n 10 "$0" "$@"
fi
cd "$(dirname "$0")/.."
root="$PWD"
scripts/setup.sh mutants
list="${MUTANTS:-$root/tests/mutants.txt}"
scratch="${ORVANE_MUTANT_DIR:-${TMPDIR:-/tmp}/orvane-mutants-$(id -un)}"
jobs="${JOBS:-2}"
src="$scratch/src" build="$scratch/build" logs="$scratch/logs"
started=$(date +%s)

# ---- the list: four keyed lines per fault
files=() finds=() repls=() whys=()
while IFS= read -r line || [ -n "$line" ]; do
  case "$line" in
    "file: "*) files+=("${line#file: }") ;;
    "find: "*) finds+=("${line#find: }") ;;
    "replace:"*) r="${line#replace:}"; repls+=("${r# }") ;;
    "why: "*) whys+=("${line#why: }") ;;
    ""|"#"*) ;;
    *) echo "$list: cannot read line: $line" >&2; exit 2 ;;
  esac
done <"$list"
total=${#files[@]}
if [ "$total" -eq 0 ] || [ "${#finds[@]}" -ne "$total" ] || [ "${#repls[@]}" -ne "$total" ] || [ "${#whys[@]}" -ne "$total" ]; then
  echo "$list: every fault needs exactly one file, find, replace and why line" >&2
  exit 2
fi

# Replaces the text in the file if it occurs there exactly once; exit status 1
# (file untouched) otherwise.
apply() {
  perl -e '
    my ($path, $find, $repl, $dry) = @ARGV;
    open(my $in, "<", $path) or exit 1;
    local $/; my $text = <$in>; close $in;
    my $n = () = $text =~ /\Q$find\E/g;
    exit 1 if $n != 1;
    exit 0 if $dry;
    $text =~ s/\Q$find\E/$repl/;
    open(my $out, ">", $path) or exit 1;
    print $out $text; close $out;' "$1" "$2" "$3" "${4:-}"
}

if [ "${1:-}" = "--check" ]; then
  bad=0
  for ((i = 0; i < total; i++)); do
    if ! apply "$root/${files[i]}" "${finds[i]}" "" dry; then
      echo "fault $((i + 1)) could not apply: ${files[i]}: ${finds[i]}"
      bad=$((bad + 1))
    fi
  done
  echo "$((total - bad)) of $total faults apply"
  [ "$bad" -eq 0 ]
  exit
fi
selected=()
if [ $# -gt 0 ]; then
  for n in "$@"; do selected+=($((n - 1))); done
else
  for ((i = 0; i < total; i++)); do selected+=("$i"); done
fi

# ---- the scratch copy, configured once, and the unchanged tree's baseline
mkdir -p "$src" "$build" "$logs"
# Content, not time stamps, decides what is copied; a copied file gets a new
# time stamp, so that whatever an interrupted run left mutated is rebuilt.
rsync -rlpD --checksum --delete --exclude='/build*' --exclude='/.git' "$root/" "$src/"
echo "scratch copy: $scratch"
if ! cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_BUILD_BENCH=OFF \
     -DORVANE_BUILD_TOOLS=OFF >"$logs/configure.log" 2>&1; then
  echo "configure failed: $logs/configure.log"; exit 2
fi
if ! cmake --build "$build" -j"$jobs" >"$logs/build.log" 2>&1; then
  echo "the unchanged tree does not build: $logs/build.log"; exit 2
fi
if ! ctest --test-dir "$build" --timeout 300 >"$logs/baseline.log" 2>&1; then
  echo "the unchanged tree fails its tests: $logs/baseline.log"; exit 2
fi
# The tests in the order of their baseline times, fastest first.
mapfile -t order < <(sed -n 's/^.*Test *#[0-9]*: \([^ ]*\) .* Passed *\([0-9.]*\) sec.*$/\2 \1/p' "$logs/baseline.log" \
                     | sort -n | cut -d' ' -f2)
echo "tests, fastest first: ${order[*]}"

# ---- one fault at a time
caught=0 survivors=() unapplied=()
for i in "${selected[@]}"; do
  n=$((i + 1)) file="${files[i]}" log="$logs/fault-$n.log"
  t0=$(date +%s)
  cp "$src/$file" "$scratch/original"
  if ! apply "$src/$file" "${finds[i]}" "${repls[i]}"; then
    printf '%2d/%d  could not apply (text not found exactly once)  %s: %s\n' "$n" "$total" "$file" "${whys[i]}"
    unapplied+=("$n $file: ${whys[i]}")
    continue
  fi
  verdict="" by=""
  if ! cmake --build "$build" -j"$jobs" >"$log" 2>&1; then
    verdict="does not build"
  else
    for t in "${order[@]}"; do
      if ! ctest --test-dir "$build" --stop-on-failure --timeout 120 -R "^$t\$" >>"$log" 2>&1; then
        verdict="caught" by="$t"
        break
      fi
    done
    [ -n "$verdict" ] || verdict="SURVIVED"
  fi
  # A fresh copy (new time stamp) so that the next build compiles it again.
  cat "$scratch/original" >"$src/$file"
  printf '%2d/%d  %-8s %-12s %4ss  %s: %s\n' "$n" "$total" "$verdict" "$by" "$(($(date +%s) - t0))" "$file" "${whys[i]}"
  case "$verdict" in
    caught) caught=$((caught + 1)) ;;
    "does not build") unapplied+=("$n $file: ${whys[i]} (does not build, see $log)") ;;
    *) survivors+=("$n $file: ${whys[i]}") ;;
  esac
done
cmake --build "$build" -j"$jobs" >"$logs/restore.log" 2>&1 || true

# ---- the result
elapsed=$(($(date +%s) - started))
echo
echo "caught $caught of ${#selected[@]}"
for s in "${survivors[@]+"${survivors[@]}"}"; do echo "survived: $s"; done
for s in "${unapplied[@]+"${unapplied[@]}"}"; do echo "could not apply: $s"; done
printf 'total time: %dm %02ds\n' $((elapsed / 60)) $((elapsed % 60))
[ "$caught" -eq "${#selected[@]}" ]
