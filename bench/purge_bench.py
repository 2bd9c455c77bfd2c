#!/usr/bin/env python3
"""Purge benchmark: logreap against the two-pass GNU find, side by side.

For each tree size the script generates identical trees (bench/gen_tree.py) and
purges them with logreap (retention 14 days, level "info", console "off", the
tree as the installation's log directory) and with

    find DIR -mindepth 1 -type f -mmin +20160 -delete
    find DIR -mindepth 1 -type d -empty -delete

alternating which of the two goes first, over several rounds, each run on a
freshly generated tree. It prints the median wall and CPU (user+sys) time of
each, their ratios, files deleted per second and the peak resident memory, and
it stops with status 1 as soon as the two leave different trees (or a tree
other than the generator predicts).

The default folder is /dev/shm (tmpfs), where the runs are CPU-bound and
stable; pass a folder on a disk to see what a user sees there.

Example:
    cmake --preset bench && cmake --build --preset bench
    python3 bench/purge_bench.py            # 10k and 100k files in /dev/shm
    python3 bench/purge_bench.py --with-1m  # also 1M files
    python3 bench/purge_bench.py --folder /var/tmp/bench
"""

import argparse
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_tree  # noqa: E402

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RETENTION_DAYS = 14
FIND_MMIN = RETENTION_DAYS * 24 * 60  # 20160

# Complete: every table that the suite's configuration loader requires, so the
# file loads whichever tables the loader reads.
CONFIG_TEMPLATE = """\
rfc = []
pipeline = []

[settings]
install = "{install}"
userdata = "{userdata}"
key = "benchmark-key"
iv = "benchmark-iv"

[logging]
level = "info"
consolelevel = "off"
retentionperiod = {retention}

[footprints]
testexecutionqueryingfreq = 60

[rfcdata.prd]
retentionperiod = 30
typequeries = []

[rfcdata.qas]
retentionperiod = 30
tables = []

[rfcdata.phd]
separators = []
mnemonicfieldtokens = []
stepsfieldtokens = []
descriptionfieldtokens = []

[norvane]
token = "benchmark-token"
"""


class Run:
    def __init__(self, wall, cpu, maxrss_kb):
        self.wall = wall
        self.cpu = cpu
        self.maxrss_kb = maxrss_kb


def toml_string(text):
    return text.replace("\\", "\\\\").replace('"', '\\"')


def timed(argv, log_dir, name, time_tool):
    """Runs argv to its end; wall time, user+sys time and peak RSS of the child.

    The peak RSS comes from GNU time, which forks the child from its own small
    process: a child forked from this script would report the script's memory,
    which the kernel carries over as its peak across exec.
    """
    out_path = os.path.join(log_dir, name + ".out")
    err_path = os.path.join(log_dir, name + ".err")
    rss_path = os.path.join(log_dir, name + ".rss")
    command = [time_tool, "-f", "%M", "-o", rss_path] + argv if time_tool else argv
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        start = time.perf_counter()
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        _, status, usage = os.wait4(process.pid, 0)  # the child's usage and its children's
        wall = time.perf_counter() - start
        process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        with open(err_path, "r", errors="replace") as err:
            detail = err.read().strip()
        sys.exit(f"purge_bench: {argv[0]} failed with status {process.returncode}: {detail}")
    maxrss_kb = None
    if time_tool:
        with open(rss_path) as handle:
            maxrss_kb = int(handle.read().split()[-1])
    return Run(wall, usage.ru_utime + usage.ru_stime, maxrss_kb)


def snapshot(root):
    """Relative paths of the files and of the directories below root."""
    files = set()
    dirs = set()
    stack = [""]
    while stack:
        rel = stack.pop()
        with os.scandir(os.path.join(root, rel) if rel else root) as entries:
            for entry in entries:
                path = f"{rel}/{entry.name}" if rel else entry.name
                if entry.is_dir(follow_symlinks=False):
                    dirs.add(path)
                    stack.append(path)
                else:
                    files.add(path)
    return files, dirs


def describe_difference(label_a, tree_a, label_b, tree_b):
    lines = []
    for kind, a, b in (("files", tree_a[0], tree_b[0]), ("directories", tree_a[1], tree_b[1])):
        only_a = sorted(a - b)
        only_b = sorted(b - a)
        if only_a:
            lines.append(f"  {len(only_a)} {kind} only after {label_a}, e.g. {only_a[:3]}")
        if only_b:
            lines.append(f"  {len(only_b)} {kind} only after {label_b}, e.g. {only_b[:3]}")
    return "\n".join(lines)


def run_logreap(args, base, files, ref, log_dir, name):
    install = os.path.join(base, "install")
    userdata = os.path.join(base, "userdata")
    tree = os.path.join(install, "logs")
    summary, layout = gen_tree.generate(tree, files, ref)
    os.makedirs(userdata)
    config = os.path.join(base, "config.toml")
    with open(config, "w") as handle:
        handle.write(CONFIG_TEMPLATE.format(install=toml_string(install),
                                            userdata=toml_string(userdata),
                                            retention=RETENTION_DAYS))
    os.sync()
    run = timed([args.logreap, "-c", config], log_dir, name, args.time)
    return run, tree, summary, layout


def run_find(args, base, files, ref, log_dir, name):
    tree = os.path.join(base, "install", "logs")
    summary, layout = gen_tree.generate(tree, files, ref)
    os.sync()
    first = timed([args.find, tree, "-mindepth", "1", "-type", "f", "-mmin", f"+{FIND_MMIN}",
                   "-delete"], log_dir, name + "-files", args.time)
    second = timed([args.find, tree, "-mindepth", "1", "-type", "d", "-empty", "-delete"],
                   log_dir, name + "-dirs", args.time)
    rss = None if first.maxrss_kb is None else max(first.maxrss_kb, second.maxrss_kb)
    run = Run(first.wall + second.wall, first.cpu + second.cpu, rss)
    return run, tree, summary, layout


def bench_size(args, work, files):
    results = {"logreap": [], "find": []}
    deleted = None
    for round_index in range(args.rounds):
        ref = time.time()
        order = ["logreap", "find"] if round_index % 2 == 0 else ["find", "logreap"]
        trees = {}
        expected = None
        for tool in order:
            base = os.path.join(work, f"n{files}-r{round_index}-{tool}")
            runner = run_logreap if tool == "logreap" else run_find
            run, tree, summary, layout = runner(args, base, files, ref, work,
                                                f"n{files}-r{round_index}-{tool}")
            trees[tool] = snapshot(tree)
            if expected is None:
                expected = layout.expected_after_purge()
            deleted = summary["old_files"]
            results[tool].append(run)
            shutil.rmtree(base)
        if trees["logreap"] != trees["find"]:
            sys.exit(f"purge_bench: FAIL: logreap and find left different trees "
                     f"(N={files}, round {round_index + 1}):\n"
                     + describe_difference("logreap", trees["logreap"], "find", trees["find"]))
        if trees["logreap"] != expected:
            sys.exit(f"purge_bench: FAIL: the purged trees differ from the expected one "
                     f"(N={files}, round {round_index + 1}):\n"
                     + describe_difference("the purge", trees["logreap"], "expectation",
                                           expected))
        print(f"  N={files:>9,} round {round_index + 1}/{args.rounds}: "
              f"logreap {results['logreap'][-1].wall:.3f} s, "
              f"find {results['find'][-1].wall:.3f} s, trees identical "
              f"({len(expected[0]):,} files, {len(expected[1]):,} directories left)",
              flush=True)
    return results, deleted


def median(values):
    return statistics.median(values)


def peak_rss_text(runs):
    if any(r.maxrss_kb is None for r in runs):
        return "n/a"
    return f"{max(r.maxrss_kb for r in runs) / 1024:.1f} MB"


def gnu_time():
    candidate = "/usr/bin/time"
    try:
        probe = subprocess.run([candidate, "-f", "%M", "true"], capture_output=True, text=True)
    except OSError:
        return ""
    return candidate if probe.returncode == 0 and probe.stderr.strip().isdigit() else ""


def help_timing(logreap, runs):
    walls = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run([logreap, "--help"], stdout=subprocess.DEVNULL, check=True)
        walls.append(time.perf_counter() - start)
    return median(walls), min(walls)


def file_system_of(folder):
    try:
        out = subprocess.run(["findmnt", "-n", "-o", "FSTYPE,OPTIONS", "--target", folder],
                             capture_output=True, text=True, check=True).stdout.split()
        return f"{out[0]} ({out[1]})" if len(out) > 1 else out[0]
    except (OSError, subprocess.CalledProcessError, IndexError):
        return "unknown"


def cpu_model():
    try:
        with open("/proc/cpuinfo") as handle:
            for line in handle:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


def load_average():
    return ", ".join(f"{value:.2f}" for value in os.getloadavg())


def default_logreap():
    for preset in ("bench", "release"):
        candidate = os.path.join(REPO, "build", preset, "src", "logreap", "logreap")
        if os.access(candidate, os.X_OK):
            return candidate
    return os.path.join(REPO, "build", "bench", "src", "logreap", "logreap")


def main():
    parser = argparse.ArgumentParser(
        description="Purge benchmark: logreap against the two-pass GNU find.")
    parser.add_argument("--folder", default="/dev/shm",
                        help="where the trees are generated (default: /dev/shm)")
    parser.add_argument("--rounds", type=int, default=5, help="rounds per size (default: 5)")
    parser.add_argument("--sizes", default="10000,100000",
                        help="comma-separated file counts (default: 10000,100000)")
    parser.add_argument("--with-1m", action="store_true", help="also run 1,000,000 files")
    parser.add_argument("--logreap", default=default_logreap(), help="the logreap executable")
    parser.add_argument("--find", default=shutil.which("find") or "find",
                        help="the GNU find executable")
    parser.add_argument("--time", default=None,
                        help="GNU time, for the peak RSS (default: /usr/bin/time if it is "
                             "GNU time; '' for none)")
    parser.add_argument("--help-runs", type=int, default=50,
                        help="runs of 'logreap --help' to time (default: 50)")
    args = parser.parse_args()

    if args.rounds < 1:
        sys.exit("purge_bench: --rounds must be at least 1")
    sizes = [int(s.replace("_", "")) for s in args.sizes.split(",") if s]
    if args.with_1m and 1_000_000 not in sizes:
        sizes.append(1_000_000)
    if not os.access(args.logreap, os.X_OK):
        sys.exit(f"purge_bench: {args.logreap} not found; build it with "
                 "'cmake --preset bench && cmake --build --preset bench'")
    find_version = subprocess.run([args.find, "--version"], capture_output=True,
                                  text=True).stdout.splitlines()
    if not find_version or "GNU findutils" not in find_version[0]:
        sys.exit(f"purge_bench: {args.find} is not GNU find")

    if args.time is None:
        args.time = gnu_time()
    if not args.time:
        print("purge_bench: no GNU time, so no peak RSS", file=sys.stderr)

    os.makedirs(args.folder, exist_ok=True)
    work = tempfile.mkdtemp(prefix="logreap-bench-", dir=args.folder)
    try:
        print(f"logreap: {args.logreap}")
        print(f"find:    {args.find} ({find_version[0]})")
        print(f"machine: {cpu_model()}, {os.cpu_count()} cores, {platform.system()} "
              f"{platform.release()}")
        print(f"folder:  {args.folder}: {file_system_of(args.folder)}")
        print(f"rounds:  {args.rounds} per size, alternating which tool goes first, "
              "each run on a freshly generated tree")
        print(f"load:    {load_average()} at the start (other work on the machine adds noise)")
        table = []
        for files in sizes:
            results, deleted = bench_size(args, work, files)
            table.append((files, deleted, results))

        help_median, help_min = help_timing(args.logreap, args.help_runs)
        print(f"load:    {load_average()} at the end")

        print()
        print("| files | tool | wall (median) | CPU user+sys (median) | wall ratio | CPU ratio "
              "| files deleted/s | peak RSS |")
        print("|---:|---|---:|---:|---:|---:|---:|---:|")
        for files, deleted, results in table:
            wall = {tool: median([r.wall for r in runs]) for tool, runs in results.items()}
            cpu = {tool: median([r.cpu for r in runs]) for tool, runs in results.items()}
            rss = {tool: peak_rss_text(runs) for tool, runs in results.items()}
            for tool, label in (("logreap", "logreap"), ("find", "find, two passes")):
                print(f"| {files:,} | {label} | {wall[tool]:.3f} s | {cpu[tool]:.3f} s "
                      f"| {wall[tool] / wall['find']:.2f} | {cpu[tool] / cpu['find']:.2f} "
                      f"| {deleted / wall[tool]:,.0f} | {rss[tool]} |")
        print()
        print(f"logreap --help, whole process: median {help_median * 1000:.1f} ms, "
              f"best {help_min * 1000:.1f} ms over {args.help_runs} runs")

        print()
        print("targets:")
        for files, _, results in table:
            wall_l = median([r.wall for r in results["logreap"]])
            wall_f = median([r.wall for r in results["find"]])
            if files in (100_000, 1_000_000):
                verdict = "met" if wall_l <= wall_f else "MISSED"
                print(f"  wall at {files:,} files <= 1.0 x find: {wall_l / wall_f:.2f} x, {verdict}")
            if files == 1_000_000 and args.time:
                peak = max(r.maxrss_kb for r in results["logreap"]) / 1024
                verdict = "met" if peak < 16 else "MISSED"
                print(f"  peak RSS at 1,000,000 files < 16 MB: {peak:.1f} MB, {verdict}")
        verdict = "met" if help_median < 0.010 else "MISSED"
        print(f"  logreap --help < 10 ms: {help_median * 1000:.1f} ms, {verdict}")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
