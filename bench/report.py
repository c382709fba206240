#!/usr/bin/env python3
"""Ours/peer throughput ratios from compatcrypt_bench.

Runs the benchmark binary with --benchmark_format=json (extra arguments after
the options are passed on, e.g. --benchmark_min_time=0.2), or reads a saved
JSON file with --json, and prints one row per pair. Benchmarks are named
<operation>/<impl>[/<size>]; every impl other than "ours" is a peer of the
"ours" run with the same operation and size. A ratio above 1 means ours is
faster. Digest engines are compared with digest/openssl at the same size.

With --plot FILE.png (needs matplotlib: Debian's python3-matplotlib, for
/usr/bin/python3) it also draws throughput against input size, one panel per
operation (digest, encode, decode), one line per implementation: ours, each
digest engine, and OpenSSL's SHA-1 or triple DES.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_BINARY = os.path.join(HERE, "..", "build-bench", "bench", "compatcrypt_bench")


# Benchmarks of one engine at a time, and the operation whose OpenSSL peer
# they are compared with (and drawn beside).
ENGINE_OPS = {
    "digest_engine": "digest",
    "decode_engine": "decode",
    "encode_serial": "encode",
    "decode_serial": "decode",
    "encode_key_serial": "encode_key",
}
# The peer of an operation where it is not "openssl".
PEERS = {"encode_key": "openssl_derive"}


def load(args):
    if args.json:
        with open(args.json) as f:
            return json.load(f)
    cmd = [args.binary, "--benchmark_format=json"] + args.extra
    run = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if run.stderr:
        sys.stderr.write(run.stderr)
    if run.returncode != 0:
        # The binary exits non-zero when ours and OpenSSL disagree on a
        # check; the timings are still printed, with this warning.
        sys.stderr.write("warning: %s exited with %d\n" % (cmd[0], run.returncode))
    return json.loads(run.stdout)


def collect(data):
    """name -> (bytes/s, cpu ns per iteration), medians over repetitions."""
    rates, times = {}, {}
    for b in data.get("benchmarks", []):
        if b.get("run_type", "iteration") != "iteration" or b.get("error_occurred"):
            continue
        name = b.get("run_name", b["name"])
        scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
        rates.setdefault(name, []).append(b.get("bytes_per_second", 0.0))
        times.setdefault(name, []).append(b["cpu_time"] * scale)
    return {n: (statistics.median(rates[n]), statistics.median(times[n])) for n in rates}


def size_label(size):
    if not size:
        return "-"
    n = int(size)
    for unit, step in (("MiB", 1 << 20), ("KiB", 1 << 10)):
        if n >= step and n % step == 0:
            return "%d %s" % (n // step, unit)
    return "%d B" % n


def cell(result):
    rate, ns = result
    speed = "%9.1f MiB/s" % (rate / (1 << 20)) if rate else " " * 15
    return "%s %10s" % (speed, ("%.0f ns" % ns) if ns < 1e5 else ("%.2f ms" % (ns / 1e6)))


def plot(results, path):
    """Throughput against size, a panel per operation, a line per impl."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    series = {}  # operation -> impl -> [(size, MiB/s)]
    for name, (rate, _) in results.items():
        parts = name.split("/")
        if len(parts) < 3 or not parts[2].isdigit():
            continue
        op, impl, size = parts[0], parts[1], int(parts[2])
        if op in ENGINE_OPS:
            op, impl = ENGINE_OPS[op], "engine " + impl
        if op not in ("digest", "encode", "decode"):
            continue
        series.setdefault(op, {}).setdefault(impl, []).append((size, rate / (1 << 20)))
    if not series:
        sys.stderr.write("nothing to plot: no <op>/<impl>/<size> benchmarks\n")
        return False
    ops = sorted(series)
    fig, axes = plt.subplots(1, len(ops), figsize=(5.5 * len(ops), 4.2), squeeze=False)
    for ax, op in zip(axes[0], ops):
        for impl, points in sorted(series[op].items()):
            points.sort()
            ax.plot([p[0] for p in points], [p[1] for p in points], marker="o", label=impl)
        ax.set_xscale("log", base=2)
        ax.set_yscale("log")
        ax.set_title(op)
        ax.set_xlabel("input size (bytes)")
        ax.set_ylabel("MiB/s")
        ax.grid(True, which="both", alpha=0.3)
        ax.legend(fontsize="small")
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    print("plot written to %s" % path)
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--binary", default=DEFAULT_BINARY, help="compatcrypt_bench to run")
    parser.add_argument("--json", help="read this saved JSON output instead of running")
    parser.add_argument("--plot", metavar="PNG", help="also draw throughput against size into this PNG")
    parser.add_argument("extra", nargs="*", help="arguments for the benchmark binary (after --)")
    args = parser.parse_args()
    results = collect(load(args))

    rows = []
    for name, ours in results.items():
        parts = name.split("/")
        op, impl, size = parts[0], parts[1], (parts[2] if len(parts) > 2 else "")
        if op in ENGINE_OPS:
            base = ENGINE_OPS[op]
            peer = PEERS.get(base, "openssl")
            peer_name = base + "/" + peer + ("/" + size if size else "")
            if peer_name in results:
                rows.append((base + " engine " + impl, size, peer, ours, results[peer_name]))
            continue
        if impl != "ours":
            # Operations timed per engine with no "ours" entry (the serial
            # DES engines): each engine against OpenSSL.
            has_ours = any(k.split("/")[:2] == [op, "ours"] for k in results)
            peer_name = op + "/openssl" + ("/" + size if size else "")
            if not has_ours and not impl.startswith("openssl") and peer_name in results:
                rows.append((op + " " + impl, size, "openssl", ours, results[peer_name]))
            continue
        for other, peer in results.items():
            p = other.split("/")
            if p[0] == op and p[1] != "ours" and (p[2] if len(p) > 2 else "") == size:
                rows.append((op, size, p[1], ours, peer))

    header = "%-34s %8s %-16s %26s %26s %7s" % ("operation", "size", "peer", "ours", "peer", "ratio")
    print(header)
    print("-" * len(header))
    for op, size, peer_name, ours, peer in rows:
        # Throughput where the benchmark counts bytes, else time per call.
        ratio = ours[0] / peer[0] if peer[0] else (peer[1] / ours[1] if ours[1] else float("nan"))
        print("%-34s %8s %-16s %s %s %7.2f" % (op, size_label(size), peer_name, cell(ours), cell(peer), ratio))
    if args.plot and not plot(results, args.plot):
        return 1
    return 0 if rows else 1


if __name__ == "__main__":
    sys.exit(main())
