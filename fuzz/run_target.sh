#!/usr/bin/env bash
# run_target.sh FUZZER SEEDS WORK: one bounded libFuzzer run of FUZZER over a working
# corpus in WORK (grown from the kept seeds in SEEDS; the seeds are never written).
# QX_FUZZ_SECONDS sets the time (default 5). A crash leaves its input in WORK/crashes
# and fails the run.
set -u
fuzzer=$1 seeds=$2 work=$3
seconds=${QX_FUZZ_SECONDS:-5}
mkdir -p "$work/corpus" "$work/crashes"
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -max_len=2048 \
  -print_final_stats=1 -artifact_prefix="$work/crashes/" "$work/corpus" "$seeds"
