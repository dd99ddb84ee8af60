#!/usr/bin/env python3
"""Turns the raw output of bench/run.sh (RESULT lines, latency files, ovmicro's JSON) into the
markdown tables of the README's Performance section."""
import argparse
import json
import os
import platform
import re
import statistics
import sys


def machine():
    cpu = "?"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    mem = "?"
    try:
        with open("/proc/meminfo") as f:
            mem = "%.0f GiB" % (int(f.readline().split()[1]) / 1048576)
    except OSError:
        pass
    load = os.getloadavg()[0] if hasattr(os, "getloadavg") else 0
    return "%s, %d cores, %s, Linux %s; load average %.1f at the end" % (
        cpu, os.cpu_count() or 0, mem, platform.release(), load)


def results(path):
    runs = {}
    if not os.path.exists(path):
        return runs
    with open(path) as f:
        for line in f:
            if not line.startswith("RESULT "):
                continue
            fields = dict(kv.split("=", 1) for kv in line.split()[1:])
            label = fields.pop("label")
            kind = re.sub(r"-\d+$", "", label)
            runs.setdefault(kind, []).append((label, {k: float(v) for k, v in fields.items()}))
    return runs


def pooled(out, labels):
    values = []
    for label in labels:
        try:
            with open(os.path.join(out, "lat-%s.txt" % label)) as f:
                values.extend(float(x) for x in f if x.strip())
        except OSError:
            pass
    values.sort()
    if not values:
        return 0.0, 0.0
    pick = lambda p: values[min(len(values) - 1, int(p / 100 * (len(values) - 1) + 0.5))]
    return pick(50), pick(99)


def med(rows, key):
    return statistics.median(r[key] for r in rows) if rows else 0.0


def load_table(out, runs):
    lines = [
        "| Server | Callers served | Errors | Connect p50/p99 ms | Login p50/p99 ms | "
        "Key-to-screen p50 ms | p99 ms | Screens/s | Bytes/screen | RSS idle → load MiB | "
        "KiB/caller | Threads | Descriptors | CPU s/1000 screens |",
        "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|",
    ]
    summary = {}
    for kind in ("ovhost-plain", "ovhost-web-plain", "ovhost-ssh-plain", "baseline-plain",
                 "ovhost-ansi", "ovhost-web-ansi", "ovhost-ssh-ansi", "baseline-ansi"):
        if kind not in runs:
            continue
        labels = [l for l, _ in runs[kind]]
        rows = [r for _, r in runs[kind]]
        p50, p99 = pooled(out, labels)
        summary[kind] = (p50, p99, rows)
        served = "%d/%d" % (min(r["served"] for r in rows), rows[0]["callers"])
        lines.append(
            "| %s | %s (min of %d runs) | %d | %.1f / %.1f | %.1f / %.1f | %.3f | %.3f | %.0f | "
            "%.0f | %.1f → %.1f | %.1f | %.0f | %.0f | %.2f |" % (
                kind, served, len(rows), sum(r["errors"] for r in rows),
                med(rows, "connect_p50"), med(rows, "connect_p99"), med(rows, "login_p50"),
                med(rows, "login_p99"), p50, p99, med(rows, "sps"), med(rows, "screen_bytes"),
                med(rows, "rss_idle_kb") / 1024, med(rows, "rss_load_kb") / 1024,
                med(rows, "kb_per_caller"), max(r["threads"] for r in rows),
                max(r["fds"] for r in rows), med(rows, "cpu_s_per_1000")))
    for kind in ("plain", "ansi"):
        a, b = summary.get("ovhost-" + kind), summary.get("baseline-" + kind)
        if not a or not b or not b[0]:
            continue
        per_run = [x["key_p50"] / y["key_p50"] for x, y in zip(a[2], b[2]) if y["key_p50"]]
        lines.append("")
        lines.append(
            "%s: key-to-screen p50 ovhost/baseline = **%.2fx** pooled (per run: %s); "
            "p99 ovhost %.3f ms (per run: %s) vs baseline %.3f ms (per run: %s)." % (
                kind.upper() if kind == "ansi" else "Plain", a[0] / b[0],
                ", ".join("%.2fx" % x for x in per_run), a[1],
                ", ".join("%.1f" % r["key_p99"] for r in a[2]), b[1],
                ", ".join("%.1f" % r["key_p99"] for r in b[2])))
    for via, name in (("web", "Web"), ("ssh", "SSH")):
        for kind in ("plain", "ansi"):
            w, t = summary.get("ovhost-%s-%s" % (via, kind)), summary.get("ovhost-" + kind)
            if not w or not t or not t[0]:
                continue
            per_run = [x["key_p50"] / y["key_p50"] for x, y in zip(w[2], t[2]) if y["key_p50"]]
            lines.append("")
            lines.append(
                "%s %s: key-to-screen p50 %s/Telnet = **%.2fx** pooled (per run: %s); p99 %s "
                "%.3f ms (per run: %s) vs Telnet %.3f ms." % (
                    name, kind.upper() if kind == "ansi" else "plain", via, w[0] / t[0],
                    ", ".join("%.2fx" % x for x in per_run), via, w[1],
                    ", ".join("%.1f" % r["key_p99"] for r in w[2]), t[1]))
    return "\n".join(lines)


def load_average(path):
    """The one-minute load average of an `uptime` line saved in path."""
    try:
        with open(path) as f:
            m = re.search(r"load average: ([\d.]+)", f.read())
        return float(m.group(1)) if m else None
    except OSError:
        return None


def scaling_table(out, sizes):
    """One row per size and server from bench/scaling.sh's directories (out/N/results.txt)."""
    lines = [
        "| Callers | Load before → after | Server | Served | Errors | Connect p50/p99 ms | "
        "Login p50/p99 ms | Key-to-screen p50/p99 ms | p50 vs baseline | Screens/s | "
        "RSS idle → load MiB | KiB/caller | Threads | Descriptors | CPU s/1000 screens |",
        "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|",
    ]
    for n in sizes:
        where = os.path.join(out, str(n))
        runs = results(os.path.join(where, "results.txt"))
        before = load_average(os.path.join(out, "load-%s-before.txt" % n))
        after = load_average(os.path.join(out, "load-%s-after.txt" % n))
        loads = "%s → %s" % tuple("?" if x is None else "%.1f" % x for x in (before, after))
        base = pooled(where, [l for l, _ in runs.get("baseline-plain", [])])[0]
        for kind, name in (("ovhost-plain", "ovhost"), ("baseline-plain", "baseline")):
            if kind not in runs:
                continue
            labels = [l for l, _ in runs[kind]]
            rows = [r for _, r in runs[kind]]
            p50, p99 = pooled(where, labels)
            ratio = "%.2fx" % (p50 / base) if name == "ovhost" and base else "–"
            lines.append(
                "| %s | %s | %s | %d/%d | %d | %.1f / %.1f | %.1f / %.1f | %.3f / %.1f | %s | "
                "%.0f | %.1f → %.1f | %.1f | %.0f | %.0f | %.2f |" % (
                    n, loads, name, min(r["served"] for r in rows), rows[0]["callers"],
                    sum(r["errors"] for r in rows), med(rows, "connect_p50"),
                    med(rows, "connect_p99"), med(rows, "login_p50"), med(rows, "login_p99"),
                    p50, p99, ratio, med(rows, "sps"), med(rows, "rss_idle_kb") / 1024,
                    med(rows, "rss_load_kb") / 1024, med(rows, "kb_per_caller"),
                    max(r["threads"] for r in rows), max(r["fds"] for r in rows),
                    med(rows, "cpu_s_per_1000")))
    return "\n".join(lines)


def micro_table(path):
    try:
        with open(path) as f:
            data = json.load(f)
    except (OSError, ValueError):
        return ""
    by_name = {}
    for b in data.get("benchmarks", []):
        if b.get("run_type") != "aggregate":
            continue
        by_name.setdefault(b["run_name"], {})[b["aggregate_name"]] = b
    lines = ["| Micro-benchmark | Median | p99 | Mean ± stddev | Repetitions |",
             "|---|---|---|---|---|"]
    for name, aggs in by_name.items():
        m = aggs.get("median", {})
        unit = m.get("time_unit", "")
        fmt = lambda b: "%.3g %s" % (b.get("real_time", 0), unit) if b else "-"
        mean, sd = aggs.get("mean", {}), aggs.get("stddev", {})
        lines.append("| %s | %s | %s | %.3g ± %.2g %s | %s |" % (
            name, fmt(m), fmt(aggs.get("p99")), mean.get("real_time", 0),
            sd.get("real_time", 0), unit, m.get("repetitions", "?")))
    return "\n".join(lines)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--callers", default="?")
    ap.add_argument("--runs", default="?")
    ap.add_argument("--hold", default="?")
    ap.add_argument("--think", default="?")
    ap.add_argument("--ramp", default="?")
    ap.add_argument("--netns", default="?")
    ap.add_argument("--scaling", default="", help="sizes, e.g. 1000,2000: out holds one "
                    "directory per size (bench/scaling.sh)")
    a = ap.parse_args()
    print("Machine: %s." % machine())
    if a.scaling:
        sizes = a.scaling.split(",")
        print("Command: `bash bench/scaling.sh --sizes %s --hold %s` (for each size `bash "
              "bench/run.sh --callers N --runs 1 --hold %s --no-micro --no-web --no-ssh "
              "--no-ansi`: plain Telnet callers arriving at 200 a second, ovhost and then the "
              "baseline, in %s network namespace)." % (
                  a.scaling, a.hold, a.hold, "a private" if a.netns == "netns" else "the shared"))
        print()
        print(scaling_table(a.out, sizes))
        return 0
    print("Command: `bash bench/run.sh --callers %s --runs %s --hold %s --think %s --ramp-ms %s` "
          "(load runs in %s network namespace)." % (
              a.callers, a.runs, a.hold, a.think, a.ramp,
              "a private" if a.netns == "netns" else "the shared"))
    print()
    runs = results(os.path.join(a.out, "results.txt"))
    if runs:
        print(load_table(a.out, runs))
        print()
    micro = micro_table(os.path.join(a.out, "micro.json"))
    if micro:
        print(micro)
    return 0


if __name__ == "__main__":
    sys.exit(main())
