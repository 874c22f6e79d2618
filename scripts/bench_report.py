#!/usr/bin/env python3
"""Turns the JSON of one `make bench` run into bench/RESULTS.md, the table
in README.md and the data files of the plot. Usage: bench_report.py OUT RESULTS README"""
import datetime
import json
import os
import platform
import re
import statistics
import sys

out, results_md, readme = sys.argv[1], sys.argv[2], sys.argv[3]


def load(name):
    path = os.path.join(out, name + ".json")
    if not os.path.exists(path):
        return {}, {}
    with open(path) as f:
        data = json.load(f)
    runs, errors = {}, {}
    for b in data.get("benchmarks", []):
        key = re.sub(r"/real_time$", "", b.get("run_name", b["name"]))
        if b.get("error_occurred"):
            errors[key] = b.get("error_message", "error")
            continue
        if b.get("run_type") != "iteration":
            continue
        scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
        runs.setdefault(key, []).append((b["real_time"] * scale, b.get("items_per_second")))
    return runs, errors


passes = {p: load(p) for p in ["two_cpus", "one_cpu", "tags_2000", "tags_10000", "tags_100000", "tags_1000000"]}


class Figure:
    """The repetitions of one benchmark: nanoseconds per iteration (or per
    item, with `per`), median and spread."""

    def __init__(self, pass_name, bench, per=1.0, rate=False):
        runs, errors = passes[pass_name]
        self.error = errors.get(bench)
        values = [((1e9 / ips) if rate and ips else t) / per for t, ips in runs.get(bench, [])]
        self.values = values
        if not values and self.error is None:
            self.error = "not run"

    @property
    def ok(self):
        return bool(self.values)

    @property
    def median(self):
        return statistics.median(self.values)

    @property
    def spread(self):
        m = self.median
        return (max(self.values) - min(self.values)) / 2 / m * 100 if m else 0.0


def fmt_time(ns):
    if ns >= 1e6:
        return f"{ns / 1e6:.2f} ms"
    if ns >= 1e3:
        return f"{ns / 1e3:.2f} µs"
    return f"{ns:.1f} ns" if ns < 100 else f"{ns:.0f} ns"


def fmt_rate(ns, unit):
    per_s = 1e9 / ns
    if per_s >= 1e6:
        return f"{per_s / 1e6:.2f} M {unit}/s"
    return f"{per_s / 1e3:.0f} k {unit}/s"


def cell(f, unit=None, what=""):
    if not f.ok:
        return f"n/a ({f.error})"
    text = fmt_rate(f.median, unit) if unit else fmt_time(f.median)
    return f"{text} ±{f.spread:.0f}%" + (f" {what}" if what else "")


rows = []


def row(operation, kernel, floor, floor_what, goal_text, limit, unit=None, invert=False):
    """ratio = kernel cost / floor cost; invert: floor cost / kernel cost
    (how many times faster the kernel is). met when ratio <= limit, or >=
    limit when inverted; no limit, no goal."""
    if kernel.ok and floor.ok:
        ratio = floor.median / kernel.median if invert else kernel.median / floor.median
        ratio_text = f"{ratio:.2f}x" if ratio < 100 else f"{ratio:.0f}x"
        if limit is None:
            met = "—"
        else:
            met = "yes" if (ratio >= limit if invert else ratio <= limit) else "**no**"
    else:
        ratio_text, met = "n/a", ("not measured" if limit is not None else "—")
    rows.append((operation, cell(kernel, unit), cell(floor, unit, floor_what), ratio_text, goal_text, met))


T, O = "two_cpus", "one_cpu"
row("`rk_lock` + `rk_unlock`, uncontended", Figure(T, "BM_DatabaseLockUnlock"),
    Figure(T, "BM_RobustMutexLockUnlock"), "(robust recursive mutex)", "<= 3x", 3)
row("the kernel's own mutex, take + give, uncontended", Figure(T, "BM_OwnMutexTakeGive"),
    Figure(T, "BM_RobustMutexLockUnlock"), "(robust recursive mutex)", "<= 1x", 1)
row("nested `rk_lock` + `rk_unlock`", Figure(T, "BM_DatabaseLockNested"), Figure(T, "BM_RobustMutexNested"),
    "(nested robust mutex)", "—", None)
row("one-tag `rk_write`, 8-byte plain tag", Figure(T, "BM_WriteOneTag"), Figure(T, "BM_WriteOneTagRaw"),
    "(mutex, compare, copy, change word)", "<= 4x", 4)
row("one-tag `rk_write`, 64-byte plain tag (old bytes kept first)", Figure(T, "BM_WriteOneWideTag"),
    Figure(T, "BM_WriteOneWideTagRaw"), "(mutex, compare, copy, change word)", "—", None)
row("one-tag `rk_write`, 16-byte string (old text kept first)", Figure(T, "BM_WriteOneString"),
    Figure(T, "BM_WriteOneStringRaw"), "(mutex, compare, copy, length, change word)", "—", None)
row("one-tag `rk_read`, 8-byte plain tag", Figure(T, "BM_ReadOneTag"), Figure(T, "BM_ReadOneTagRaw"),
    "(mutex, copy, change word)", "<= 4x", 4)
row("1000-tag batch `rk_write`, per tag", Figure(T, "BM_WriteBatch/1000", per=1000),
    Figure(T, "BM_WriteBatchRaw/1000", per=1000), "(same loop, no kernel)", "<= 2x", 2)
row("write waking `rk_change_wait` in another process, round trip, two CPUs",
    Figure(T, "BM_WriteWakesWaiterInOtherProcess"), Figure(T, "BM_FutexPingPong"), "(futex ping-pong, spinning)",
    "<= 3x", 3)
row("the same, one CPU", Figure(O, "BM_WriteWakesWaiterInOtherProcess"), Figure(O, "BM_FutexPingPong"),
    "(futex ping-pong)", "<= 1.5x", 1.5)
row("mailbox, 100-byte messages, writer and reader process, two CPUs", Figure(T, "BM_MailboxMessages", rate=True),
    Figure(T, "BM_PosixQueueMessages", rate=True), "(POSIX mq)", "more msg/s than mq (< 1x)", 1.0, unit="msg")
row("the same, one CPU", Figure(O, "BM_MailboxMessages", rate=True), Figure(O, "BM_PosixQueueMessages", rate=True),
    "(POSIX mq)", "more msg/s than mq (< 1x)", 1.0, unit="msg")
row("one-tag `rk_write` against Redis `SET` over a Unix socket (times faster)", Figure(T, "BM_WriteOneTag"),
    Figure(T, "BM_RedisSet"), "(redis-server)", ">= 100x faster", 100, invert=True)
row("cost per tag of a 1000-tag batch, 1,000,000 tags defined against 2,000",
    Figure("tags_1000000", "BM_WriteBatchSteady/1000", per=1000), Figure("tags_2000", "BM_WriteBatchSteady/1000", per=1000),
    "(2,000 tags defined)", "flat: <= 1.2x", 1.2)
for n in range(2, 7):
    row(f"{n} processes writing disjoint tags (a cache line each), total throughput", Figure(T, f"BM_ProcessesWriting/{n}", rate=True),
        Figure(T, f"BM_ProcessesWritingRaw/{n}", rate=True), "(one robust mutex)", ">= the mutex's (<= 1x)", 1.0,
        unit="writes")


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


header = "| operation | kernel | floor | ratio | goal | met? |\n|---|---|---|---|---|---|\n"
table = header + "".join("| " + " | ".join(r) + " |\n" for r in rows)
reps = max((len(v) for p in passes.values() for v in p[0].values()), default=0)
machine = (f"{cpu_model()}, {os.cpu_count()} CPUs, Linux {platform.release()}; "
           f"{datetime.datetime.now(datetime.timezone.utc).strftime('%Y-%m-%d %H:%M UTC')}")
variant = os.environ.get("RK_BENCH_VARIANT", platform.machine())
note = (f"Measured in one run of `make bench` (the {variant} build) on {machine}. Each figure is the median of {reps} repetitions, "
        "± half the spread between the fastest and the slowest. The two sides of a round trip run on CPUs 0 "
        "and 1 (\"two CPUs\") or both on CPU 0 (\"one CPU\"). The ratio is the kernel's cost over the floor's "
        "(for Redis: how many times faster the kernel is). The machine is shared: compare ratios within one run.\n")

with open(results_md, "w") as f:
    f.write("# Benchmark results\n\n" + note + "\n" + table + "\n![cost per tag and wake-up latencies](results.png)\n")

begin, end = "<!-- bench:begin -->", "<!-- bench:end -->"
with open(readme) as f:
    text = f.read()
block = f"{begin}\n{note}\n{table}{end}"
if begin in text and end in text:
    text = text[: text.index(begin)] + block + text[text.index(end) + len(end):]
else:
    text = text.rstrip("\n") + "\n\n## Performance\n\n`make bench` measures the hot paths beside their floors " \
        "(bench/RESULTS.md, bench/results.png). The last run:\n\n" + block + "\n"
with open(readme, "w") as f:
    f.write(text)

# Data for the plot.
with open(os.path.join(out, "batch.dat"), "w") as f:
    f.write("# batch kernel_ns_per_tag floor_ns_per_tag\n")
    for n in (1, 10, 100, 1000):
        k, r = Figure(T, f"BM_WriteBatchSteady/{n}", per=n), Figure(T, f"BM_WriteBatchSteadyRaw/{n}", per=n)
        if k.ok and r.ok:
            f.write(f"{n} {k.median:.3f} {r.median:.3f}\n")
with open(os.path.join(out, "tags.dat"), "w") as f:
    f.write("# tags_defined kernel_ns_per_tag\n")
    for n in (2000, 10000, 100000, 1000000):
        k = Figure(f"tags_{n}", "BM_WriteBatchSteady/1000", per=1000)
        if k.ok:
            f.write(f"{n} {k.median:.3f}\n")
for name in ("rk_write_wake_2cpu", "futex_pingpong_2cpu", "rk_write_wake_1cpu", "futex_pingpong_1cpu"):
    path = os.path.join(out, name + ".txt")
    values = []
    if os.path.exists(path):
        with open(path) as f:
            values = sorted(int(x) for x in f if x.strip())
    with open(os.path.join(out, name + ".cdf"), "w") as f:
        f.write("# latency_us fraction\n")
        if not values:
            f.write("0 0\n")   # an empty curve keeps the plot going
        for i in range(0, 1001):
            j = min(len(values) - 1, int(i / 1000 * (len(values) - 1)))
            if values:
                f.write(f"{values[j] / 1000:.3f} {i / 1000:.3f}\n")
