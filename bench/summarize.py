#!/usr/bin/env python3
"""Reads the results of scripts/bench and prints the ratios against the performance targets.

Every ratio is taken from figures of the same run (medians of its repetitions), so the noise of
a shared machine shifts both sides alike. Writes summary.json next to the inputs.
"""
import json
import pathlib
import sys


def median_of(benchmarks, name):
    for entry in benchmarks:
        if entry.get("run_name") == name and entry.get("aggregate_name") == "median":
            return entry
    for entry in benchmarks:  # a run without repetitions has no aggregates
        if entry.get("name") == name:
            return entry
    raise SystemExit(f"summarize: no result for {name}")


def main():
    out = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build-bench/results")
    benchmarks = json.loads((out / "benchmarks.json").read_text())["benchmarks"]
    boot16 = median_of(benchmarks, "BM_Boot/0/manual_time")
    boot_default = median_of(benchmarks, "BM_Boot/1/manual_time")
    boot768 = median_of(benchmarks, "BM_Boot/2/manual_time")
    setmem = median_of(benchmarks, f"BM_SetMemory/{256 << 20}")
    memset = median_of(benchmarks, f"BM_memset/{256 << 20}")
    copymem = median_of(benchmarks, f"BM_CopyMemory/{256 << 20}")
    memcpy = median_of(benchmarks, f"BM_memcpy/{256 << 20}")

    per_thread_16 = boot16["seconds_per_thread"]
    per_thread_768 = boot768["seconds_per_thread"]
    summary = {
        "boots_per_second_16_threads": boot16["items_per_second"],
        "boots_per_second_default": boot_default["items_per_second"],
        "boots_per_second_768_threads": boot768["items_per_second"],
        "seconds_per_thread_16": per_thread_16,
        "seconds_per_thread_768": per_thread_768,
        "per_thread_growth_16_to_768": per_thread_768 / per_thread_16,
        "setmemory_256mb_bytes_per_second": setmem["bytes_per_second"],
        "memset_256mb_bytes_per_second": memset["bytes_per_second"],
        "setmemory_to_memset": setmem["bytes_per_second"] / memset["bytes_per_second"],
        "copymemory_to_memcpy": copymem["bytes_per_second"] / memcpy["bytes_per_second"],
        "memory": {},
    }
    checks = [
        ("16-thread boots per second >= 1000", summary["boots_per_second_16_threads"] >= 1000),
        ("per-thread cost growth 16 -> 768 <= 1.5", summary["per_thread_growth_16_to_768"] <= 1.5),
        ("SetMemory 256 MB >= 0.5 x memset", summary["setmemory_to_memset"] >= 0.5),
    ]
    for machine in ("16", "default", "768"):
        memory = json.loads((out / f"memory-{machine}.json").read_text())
        summary["memory"][machine] = memory
        checks.append((f"peak RSS of a {machine} boot <= allocated + 64 MB", memory["within_allocated_plus_64_mb"]))
    summary["targets"] = {name: met for name, met in checks}
    (out / "summary.json").write_text(json.dumps(summary, indent=2) + "\n")

    print(f"boots per second: 16 threads {summary['boots_per_second_16_threads']:.0f}, "
          f"default (128) {summary['boots_per_second_default']:.0f}, "
          f"768 threads {summary['boots_per_second_768_threads']:.1f}")
    print(f"seconds per simulated thread: 16 -> {per_thread_16 * 1e6:.2f} us, 768 -> {per_thread_768 * 1e6:.2f} us "
          f"(growth {summary['per_thread_growth_16_to_768']:.2f}x)")
    print(f"SetMemory / memset over 256 MB: {summary['setmemory_to_memset']:.2f} "
          f"({setmem['bytes_per_second'] / 1e9:.1f} vs {memset['bytes_per_second'] / 1e9:.1f} GB/s); "
          f"CopyMemory / memcpy: {summary['copymemory_to_memcpy']:.2f}")
    for machine, memory in summary["memory"].items():
        print(f"peak RSS of one {machine} boot: {memory['peak_rss_bytes'] / 2**20:.1f} MB, allocated "
              f"{memory['allocated_bytes'] / 2**20:.1f} MB, overhead {memory['overhead_bytes'] / 2**20:.1f} MB")
    for name, met in checks:
        print(f"  {'met   ' if met else 'MISSED'}  {name}")
    print(f"results in {out}")


if __name__ == "__main__":
    main()
