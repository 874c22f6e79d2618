#!/usr/bin/env bash
# make bench: builds the benchmarks in Release (build-bench/), runs them
# with the two sides of every round trip on CPUs of their own and again on
# one CPU, repeats every figure, and writes bench/RESULTS.md, the table in
# README.md and bench/results.png. Needs, beyond the build: redis-server,
# gnuplot and python3, installed here and for make bench only.
set -euo pipefail
cd "$(dirname "$0")/.."

ARCH=${1:-native}
[ "$ARCH" = "$(uname -m)" ] && ARCH=native
BUILD=${BENCH_BUILD:-build-bench}
REPS=${RK_BENCH_REPS:-5}
OUT=$BUILD/bench-out
TOOLCHAIN=()
[ "$ARCH" = native ] || TOOLCHAIN=(-DCMAKE_TOOLCHAIN_FILE="$(pwd)/cmake/$ARCH-linux.cmake")

# The aarch64 variant runs only through the user-mode emulator: it has no
# benchmarks to run.
if [ "$ARCH" = aarch64 ]; then
  echo "bench: aarch64 programs run through the emulator here: nothing measured, bench/RESULTS.md kept" >&2
  exit 1
fi
bash scripts/bootstrap.sh "$ARCH"
# Where i386 programs run through the user-mode emulator (see bootstrap.sh),
# the figures would be the emulator's: the last results stay as they are.
if [ "$ARCH" = i386 ] && bash scripts/i386_emulated.sh; then
  echo "bench: i386 programs run through the emulator on this machine: nothing measured, bench/RESULTS.md kept" >&2
  exit 1
fi
need=()
for p in redis-server:redis-server gnuplot:gnuplot-nox python3:python3; do
  command -v "${p%%:*}" >/dev/null 2>&1 || need+=("${p#*:}")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "bench: installing ${need[*]}"
  # Redis may be missing from the mirror: the table then says so.
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null ||
    echo "bench: could not install ${need[*]}"
fi

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release "${TOOLCHAIN[@]}" >/dev/null
cmake --build "$BUILD" --target rk_bench
BIN=$BUILD/bench/rk_bench
rm -rf "$OUT"
mkdir -p "$OUT"

# A Redis server of its own, on a Unix socket, without persistence.
REDIS_SOCK="$(pwd)/$OUT/redis.sock"
redis_pid=""
if command -v redis-server >/dev/null 2>&1; then
  redis-server --port 0 --unixsocket "$REDIS_SOCK" --unixsocketperm 700 --save '' --appendonly no \
    --dir "$(pwd)/$OUT" --logfile "$(pwd)/$OUT/redis.log" --daemonize no &
  redis_pid=$!
  for _ in $(seq 50); do [ -S "$REDIS_SOCK" ] && break; sleep 0.1; done
  [ -S "$REDIS_SOCK" ] || { echo "bench: redis-server did not start"; kill "$redis_pid" 2>/dev/null || true; redis_pid=""; }
fi
stop_redis() { if [ -n "$redis_pid" ]; then kill "$redis_pid" 2>/dev/null || true; wait "$redis_pid" 2>/dev/null || true; fi; }
trap stop_redis EXIT
[ -n "$redis_pid" ] || REDIS_SOCK=""

run() {   # run NAME [VAR=value ...] -- benchmark flags
  local name=$1; shift
  local vars=()
  while [ "$1" != "--" ]; do vars+=("$1"); shift; done
  shift
  echo "bench: $name"
  env "${vars[@]}" "$BIN" --benchmark_repetitions="$REPS" --benchmark_display_aggregates_only=true \
    --benchmark_min_time=0.2 --benchmark_out="$OUT/$name.json" --benchmark_out_format=json "$@"
}

ROUND_TRIPS='WriteWakes|FutexPingPong|Mailbox|PosixQueue'
run two_cpus RK_BENCH_CPUS=0,1 RK_BENCH_REDIS="$REDIS_SOCK" RK_BENCH_LATENCY_DIR="$OUT" -- \
  --benchmark_filter='DatabaseLock|RobustMutex|OneTag|WriteBatch|WriteWakes|FutexPingPong|Mailbox|PosixQueue|RedisSet|ProcessesWriting'
run one_cpu RK_BENCH_CPUS=0 RK_BENCH_LATENCY_DIR="$OUT" -- --benchmark_filter="$ROUND_TRIPS"
for tags in 2000 10000 100000 1000000; do
  run "tags_$tags" RK_BENCH_CPUS=0 RK_BENCH_TAGS=$tags -- --benchmark_filter='WriteBatchSteady/1000$'
done
stop_redis
trap - EXIT

variant=$ARCH
[ "$variant" = native ] && variant=$(uname -m)
RK_BENCH_VARIANT=$variant python3 scripts/bench_report.py "$OUT" bench/RESULTS.md README.md
gnuplot -e "out='$OUT'" scripts/bench_plot.gp
echo "bench: wrote bench/RESULTS.md, bench/results.png and the table in README.md"
