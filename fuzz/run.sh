#!/usr/bin/env bash
# Fuzzes one target (built by fuzz/build.sh) for a total number of seconds on a shared
# machine: at the lowest priority, with a one-second limit per input. On a busy machine that
# limit also fires when the process merely waited for a processor, so a timeout input is run
# again at normal priority: if it finishes well within the second, it is set aside and fuzzing
# goes on; otherwise it is a finding. Crashes, leaks and real timeouts end the run.
#   fuzz/run.sh manifest 900      log: build/fuzz/logs/manifest.log, last line the summary;
#                                 the running part in build/fuzz/logs/manifest.segment
set -uo pipefail
cd "$(dirname "$0")/.."

target=$1
total=$2
bin=build/fuzz/${target}_fuzz
artifacts=build/fuzz/artifacts/$target
corpus=build/fuzz/corpus/$target
log=build/fuzz/logs/$target.log
mkdir -p "$artifacts" "$corpus" build/fuzz/logs build/fuzz/spurious
: >"$log"
dict=()
[[ $target == manifest || $target == installed_versions || $target == delta_list ]] &&
  dict=(-dict=fuzz/json.dict)

start=$SECONDS
runs=0
restarts=0
finding=""
while ((SECONDS - start < total)); do
  segment=build/fuzz/logs/$target.segment
  nice -n 19 "$bin" "${dict[@]}" -timeout=1 -max_total_time=$((total - (SECONDS - start))) \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "fuzz/corpus/$target" \
    >"$segment" 2>&1
  status=$?
  cat "$segment" >>"$log"
  last=$(grep -oE '^#[0-9]+' "$segment" | tail -n 1 | tr -d '#')
  runs=$((runs + ${last:-0}))
  rm -f "$segment"
  ((status == 0)) && break
  for input in "$artifacts"/crash-* "$artifacts"/leak-* "$artifacts"/oom-*; do
    [[ -e $input ]] && finding+=" $input"
  done
  for input in "$artifacts"/timeout-*; do
    [[ -e $input ]] || continue
    ms=$("$bin" -runs=1 "$input" 2>&1 | grep -oE 'in [0-9]+ ms' | grep -oE '[0-9]+')
    if [[ -n $ms ]] && ((ms < 500)); then
      mv "$input" build/fuzz/spurious/
      restarts=$((restarts + 1))
    else
      finding+=" $input"
    fi
  done
  [[ -n $finding ]] && break
done
coverage=$(grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' "$log" | tail -n 1)
echo "SUMMARY $target: $runs runs in $((SECONDS - start)) s, $coverage," \
  "$restarts restarts after waits, findings:${finding:- none}" | tee -a "$log"
[[ -z $finding ]]
