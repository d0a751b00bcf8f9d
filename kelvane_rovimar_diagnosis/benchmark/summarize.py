#!/usr/bin/python3
"""Summarises a JSON run of bench_diagnosis: prints each figure's median with
its ideal baseline and their ratio, and draws the monitoring cycle and its lock
hold against the number of topics, beside the ideal walk.

  summarize.py RESULTS.json PLOT.svg
"""
import json
import sys

import matplotlib

matplotlib.use("svg")
import matplotlib.pyplot as plt  # noqa: E402

# (figure, ideal baseline) by benchmark name without the aggregate suffix.
PAIRS = [
    ("BM_ReportWithHeader/own_topic:0/threads:1", "BM_IdealReport/own_topic:0/threads:1"),
    ("BM_ReportWithHeader/own_topic:0/threads:2", "BM_IdealReport/own_topic:0/threads:2"),
    ("BM_ReportWithHeader/own_topic:1/threads:2", "BM_IdealReport/own_topic:1/threads:2"),
    ("BM_ReportWithoutHeader", "BM_IdealReport/own_topic:0/threads:1"),
    ("BM_ReportUsingStatus", None),
    ("BM_ReportRefused", "BM_IdealReport/refused:2"),
] + [
    (f"BM_MonitoringCycle/{topics}/manual_time", f"BM_IdealCycle/{topics}/manual_time")
    for topics in (12, 120, 1008, 10008)
] + [
    ("BM_LoadConfig/sensors:0", "BM_IdealLoadConfig/sensors:0"),
    ("BM_LoadConfig/sensors:10000", "BM_IdealLoadConfig/sensors:10000"),
    ("BM_Snapshot/12", "BM_IdealSnapshot/12"),
    ("BM_Snapshot/1008", "BM_IdealSnapshot/1008"),
    ("BM_DiagnosticArray/12", None),
    ("BM_DiagnosticArray/1008", None),
    ("BM_MemoryPerTopic/iterations:1", None),
    ("BM_ReportDuringLoad/iterations:3", None),
]

UNITS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def medians(path):
    """Median real time (ns) and counters of every benchmark in the run."""
    with open(path, encoding="utf-8") as results:
        runs = json.load(results)["benchmarks"]
    found = {}
    for run in runs:
        name = run["run_name"]
        if run.get("aggregate_name", "median") != "median":
            continue
        nanoseconds = run["real_time"] * UNITS[run["time_unit"]]
        counters = {key: value for key, value in run.items()
                    if key in ("allocs", "lock_us", "lock_max_us", "bytes_per_topic",
                                "max_report_us", "slow_per_load", "reports_per_load")}
        found[name] = (nanoseconds, counters)
    return found


def shown(nanoseconds):
    for unit, scale in (("ms", 1e6), ("us", 1e3)):
        if nanoseconds >= scale:
            return f"{nanoseconds / scale:.3g} {unit}"
    return f"{nanoseconds:.3g} ns"


def main():
    results_path, plot_path = sys.argv[1], sys.argv[2]
    found = medians(results_path)
    print(f"{'figure':52} {'median':>10} {'ideal':>10} {'ratio':>6}  counters")
    for figure, ideal in PAIRS:
        if figure not in found:
            continue
        time, counters = found[figure]
        ideal_time = found[ideal][0] if ideal in found else None
        ratio = f"{time / ideal_time:.2f}" if ideal_time else "-"
        extra = " ".join(f"{key}={value:.4g}" for key, value in counters.items())
        print(f"{figure:52} {shown(time):>10} {shown(ideal_time) if ideal_time else '-':>10} "
              f"{ratio:>6}  {extra}")

    topics = [12, 120, 1008, 10008]
    cycle = [found[f"BM_MonitoringCycle/{n}/manual_time"][0] / 1e3 for n in topics]
    lock = [found[f"BM_MonitoringCycle/{n}/manual_time"][1]["lock_us"] for n in topics]
    ideal = [found[f"BM_IdealCycle/{n}/manual_time"][0] / 1e3 for n in topics]
    figure, axes = plt.subplots(figsize=(6.4, 4.2))
    axes.plot(topics, cycle, "o-", label="monitoring cycle")
    axes.plot(topics, lock, "s--", label="data lock held per cycle")
    axes.plot(topics, ideal, "^:", label="ideal walk")
    axes.set_xscale("log")
    axes.set_yscale("log")
    axes.set_xlabel("monitored topics")
    axes.set_ylabel("time per cycle, µs (median of 5)")
    axes.set_title("One monitoring cycle against the number of topics")
    axes.grid(True, which="both", alpha=0.3)
    axes.legend()
    figure.tight_layout()
    figure.savefig(plot_path, metadata={"Date": None})
    print(f"plot: {plot_path}")


if __name__ == "__main__":
    main()
