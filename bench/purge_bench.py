#!/usr/bin/env python3
"""Purge benchmark: logreap against its peers, side by side on identical trees.

For each tree size the script generates one tree (bench/gen_tree.py, one
reference time) into a template folder and purges fresh copies of it (cp -a,
which keeps the times) with these peers, retention 14 days:

    find2             find DIR -mindepth 1 -type f -mmin +20160 -delete
                      find DIR -mindepth 1 -type d -empty -delete
    find1             find DIR -mindepth 1 \\( -type f -mmin +20160 -delete \\)
                                         -o \\( -type d -empty -delete \\)
    systemd-tmpfiles  systemd-tmpfiles --clean CONF, CONF holding
                      'e DIR - - - mM:14d'
    find2-print       find2 with -print before each -delete, both passes
                      writing to one file outside the tree
    logreap-info      logreap -c CONF, level "info", console "off", the tree
                      as the installation's log directory
    logreap-debug     the same at level "debug", every message written to the
                      daily log file under userdata/public/Logs

Each round runs every peer once, in an order rotated by one peer per round,
each on its own copy. After every run the tree is checked against the one the
generator predicts: the script stops with status 1 on a wrong tree or a failing
command. systemd-tmpfiles keeps directories whose own time is recent, so only
its files are held to the prediction; the directories it leaves are reported.

It prints the machine, the folders and their file systems, the date and the
load, then per size and peer the median wall time (whole process, start to
exit), its ratio to find2's, the spread and the peak resident memory, and
whether the performance targets are met (a missed target does not change the
exit status). --json keeps every figure; the chart (SVG) is redrawn from it
with --chart-from. --strace counts the system calls per tree entry instead of
timing anything.

The tmpfs folder (default /dev/shm) keeps the runs CPU-bound and stable; one
size also runs on a disk folder (default /var/tmp) to show what a user sees
there. On tmpfs each file of the tree takes a page: 1,000,000 files need about
8 GB for the template and its copy.

Examples:
    cmake --preset bench && cmake --build --preset bench
    python3 bench/purge_bench.py --json bench/purge_bench.json
        # 10k, 100k, 1M files in /dev/shm and 100k in /var/tmp; chart in
        # bench/purge_bench.svg
    python3 bench/purge_bench.py --sizes 10000 --rounds 1 --no-disk --svg ''
    python3 bench/purge_bench.py --tools find2,logreap-info --sizes 100000
    python3 bench/purge_bench.py --chart-from bench/purge_bench.json
    python3 bench/purge_bench.py --strace       # system calls at 100k files
"""

import argparse
import datetime
import json
import math
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from xml.sax.saxutils import escape

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_tree  # noqa: E402

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RETENTION_DAYS = 14
FIND_MMIN = RETENTION_DAYS * 24 * 60  # 20160

PEERS = ("find2", "find1", "systemd-tmpfiles", "find2-print", "logreap-info", "logreap-debug")
# Peers held to the predicted directories as well as the files.
EXACT_PEERS = frozenset(PEERS) - {"systemd-tmpfiles"}
UNIT = "find2"  # the ratios are against its median
TARGET_SIZES = (100_000, 1_000_000)
LARGE_SIZE = 100_000  # sizes above it run --rounds-1m rounds
RSS_LIMIT_MB = 16
SYSCALLS = ("newfstatat", "statx", "unlinkat", "getdents64", "openat", "close", "fcntl",
            "write")

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
level = "{level}"
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


class Step:
    """One command of a peer; stdout None sends its output to a file of its own."""

    def __init__(self, argv, stdout=None):
        self.argv = argv
        self.stdout = stdout


def toml_string(text):
    return text.replace("\\", "\\\\").replace('"', '\\"')


def tmpfiles_path(text):
    """A path as a quoted tmpfiles.d field, '%' doubled: it would start a substitution."""
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("%", "%%") + '"'


def timed(argv, log_dir, name, time_tool, stdout_path=None):
    """Runs argv to its end; wall time, user+sys time and peak RSS of the child.

    The peak RSS comes from GNU time, which forks the child from its own small
    process: a child forked from this script would report the script's memory,
    which the kernel carries over as its peak across exec. stdout_path is
    appended to, so that two commands can write one file.
    """
    out_path = stdout_path or os.path.join(log_dir, name + ".out")
    err_path = os.path.join(log_dir, name + ".err")
    rss_path = os.path.join(log_dir, name + ".rss")
    command = [time_tool, "-f", "%M", "-o", rss_path] + argv if time_tool else argv
    with open(out_path, "ab") as out, open(err_path, "wb") as err:
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


class Workspace:
    """The folders of one run: the tree at install/logs, everything else beside it."""

    def __init__(self, base):
        self.base = base
        self.install = os.path.join(base, "install")
        self.userdata = os.path.join(base, "userdata")
        self.tree = os.path.join(self.install, "logs")
        self.removed_list = os.path.join(base, "removed.txt")  # find2-print's output


def peer_steps(args, peer, space):
    """The commands that purge space.tree as peer, with the files they need."""
    files_pass = [args.find, space.tree, "-mindepth", "1", "-type", "f", "-mmin", f"+{FIND_MMIN}"]
    dirs_pass = [args.find, space.tree, "-mindepth", "1", "-type", "d", "-empty"]
    if peer == "find2":
        return [Step(files_pass + ["-delete"]), Step(dirs_pass + ["-delete"])]
    if peer == "find2-print":
        return [Step(files_pass + ["-print", "-delete"], space.removed_list),
                Step(dirs_pass + ["-print", "-delete"], space.removed_list)]
    if peer == "find1":
        # -delete implies -depth, so a directory is tested once its contents are gone.
        return [Step([args.find, space.tree, "-mindepth", "1",
                      "(", "-type", "f", "-mmin", f"+{FIND_MMIN}", "-delete", ")", "-o",
                      "(", "-type", "d", "-empty", "-delete", ")"])]
    if peer == "systemd-tmpfiles":
        # mM: the age of files and of directories by their modification time
        # only, as the others judge; access times would keep files young.
        config = os.path.join(space.base, "tmpfiles.conf")
        with open(config, "w") as handle:
            handle.write(f"e {tmpfiles_path(space.tree)} - - - mM:{RETENTION_DAYS}d\n")
        return [Step([args.systemd_tmpfiles, "--clean", config])]
    level = {"logreap-info": "info", "logreap-debug": "debug"}[peer]
    os.makedirs(space.userdata)
    config = os.path.join(space.base, "logreap.toml")
    with open(config, "w") as handle:
        handle.write(CONFIG_TEMPLATE.format(install=toml_string(space.install),
                                            userdata=toml_string(space.userdata),
                                            level=level, retention=RETENTION_DAYS))
    return [Step([args.logreap, "-c", config])]


def prepare(args, peer, template, space):
    """A fresh copy of the tree and peer's commands for it, everything written out."""
    template.copy_to(space)
    steps = peer_steps(args, peer, space)
    os.sync()  # so that no write-back of the copy lands on the timed run
    return steps


def run_steps(steps, space, name, time_tool):
    """Runs the steps one after the other: their walls added, the highest peak RSS."""
    runs = [timed(step.argv, space.base, f"{name}-{index}", time_tool, step.stdout)
            for index, step in enumerate(steps)]
    rss = max(run.maxrss_kb for run in runs) if time_tool else None
    return Run(sum(run.wall for run in runs), sum(run.cpu for run in runs), rss)


class Template:
    """One generated tree of a size, copied afresh for every run."""

    def __init__(self, work, files):
        self.root = os.path.join(work, f"template-{files}")
        self.summary, layout = gen_tree.generate(self.root, files, time.time())
        self.expected = layout.expected_after_purge()
        self.entries = self.summary["files"] + self.summary["dirs"]
        self.copies = 0

    def copy_to(self, space):
        os.makedirs(space.install)
        subprocess.run(["cp", "-a", self.root, space.tree], check=True)
        if self.copies == 0:
            self.check_times_kept(space.tree)
        self.copies += 1

    def check_times_kept(self, copy, sample=200):
        """The old files are old only if the copy kept the generated times."""
        checked = 0
        for directory, _, names in os.walk(self.root):
            rel = os.path.relpath(directory, self.root)
            for name in names:
                original = os.stat(os.path.join(directory, name)).st_mtime_ns
                copied = os.stat(os.path.join(copy, rel, name)).st_mtime_ns
                if original != copied:
                    sys.exit(f"purge_bench: cp -a did not keep the modification time of "
                             f"{os.path.join(rel, name)}")
                checked += 1
                if checked == sample:
                    return

    def removed_entries(self):
        return self.entries - len(self.expected[0]) - len(self.expected[1])

    def remove(self):
        shutil.rmtree(self.root)


def check_tree(peer, space, template, where):
    """Stops the script if peer left a tree other than the predicted one.

    Returns how the directories that systemd-tmpfiles left differ from the
    prediction, or "" when they do not.
    """
    after = snapshot(space.tree)
    expected = template.expected
    if peer in EXACT_PEERS:
        if after != expected:
            sys.exit(f"purge_bench: FAIL: {peer} left a tree other than the expected one "
                     f"({where}):\n" + describe_difference(peer, after, "expectation", expected))
    elif after[0] != expected[0]:
        sys.exit(f"purge_bench: FAIL: {peer} left files other than the expected ones "
                 f"({where}):\n" + describe_difference(peer, (after[0], set()), "expectation",
                                                       (expected[0], set())))
    if peer == "find2-print":
        with open(space.removed_list, "rb") as handle:
            printed = sum(1 for _ in handle)
        if printed != template.removed_entries():
            sys.exit(f"purge_bench: FAIL: find2-print listed {printed:,} removals of "
                     f"{template.removed_entries():,} ({where})")
    if after[1] != expected[1]:
        return describe_difference(peer, (set(), after[1]), "expectation", (set(), expected[1]))
    return ""


def median(values):
    return statistics.median(values)


def save(report, path):
    if path:
        with open(path, "w") as handle:
            json.dump(report, handle, indent=1)
            handle.write("\n")


def rounds_for(args, files):
    return args.rounds if files <= LARGE_SIZE else args.rounds_1m


def bench_size(args, peers, work, kind, files, load_samples):
    """Every round runs every peer once on its own copy; the figures of the size."""
    template = Template(work, files)
    rounds = rounds_for(args, files)
    runs = {peer: [] for peer in peers}
    notes = {}
    for round_index in range(rounds):
        shift = round_index % len(peers)
        order = peers[shift:] + peers[:shift]
        for position, peer in enumerate(order):
            space = Workspace(os.path.join(work, f"{kind}-{files}-r{round_index}-{peer}"))
            steps = prepare(args, peer, template, space)
            load = os.getloadavg()[0]
            load_samples.append(load)
            run = run_steps(steps, space, peer, args.time)
            where = f"{files:,} files on {kind}, round {round_index + 1}"
            difference = check_tree(peer, space, template, where)
            if difference and peer not in notes:
                notes[peer] = difference
                print(f"  note: {peer} left other directories than expected ({where}), "
                      f"its files as expected:\n{difference}", flush=True)
            shutil.rmtree(space.base)
            runs[peer].append({"round": round_index + 1, "position": position + 1,
                               "wall": run.wall, "cpu": run.cpu, "rss_kb": run.maxrss_kb,
                               "load": load})
        print(f"  {files:>9,} files, {kind}, round {round_index + 1}/{rounds}: "
              + ", ".join(f"{peer} {runs[peer][-1]['wall']:.3f} s" for peer in order)
              + " - trees as expected", flush=True)
    template.remove()
    return {
        "size": files,
        "kind": kind,
        "entries": template.entries,
        "tree": {key: value for key, value in template.summary.items() if key != "root"},
        "expected_left": {"files": len(template.expected[0]),
                          "dirs": len(template.expected[1])},
        "rounds": rounds,
        "notes": notes,
        "peers": {peer: summarise(runs[peer]) for peer in peers},
    }


def summarise(runs):
    walls = [run["wall"] for run in runs]
    rss = [run["rss_kb"] for run in runs]
    return {
        "runs": runs,
        "median_wall": median(walls),
        "min_wall": min(walls),
        "max_wall": max(walls),
        "peak_rss_kb": None if None in rss else max(rss),
    }


def mb(kb):
    return kb / 1024


def targets(results):
    """The performance targets at 100k and 1M files on tmpfs: {text, met} each."""
    lines = []
    for entry in results:
        if entry["kind"] != "tmpfs" or entry["size"] not in TARGET_SIZES:
            continue
        figures = entry["peers"]
        at = f"{entry['size']:,} files"
        wall = {peer: figures[peer]["median_wall"] for peer in figures}

        def compare(peer, other, factor, strict):
            if peer not in wall or other not in wall:
                return
            bound = factor * wall[other]
            met = wall[peer] < bound if strict else wall[peer] <= bound
            relation = "<" if strict else "<="
            scaled = f"{factor:.2f} x " if factor != 1 else ""
            lines.append({"text": f"{at}: {peer} {wall[peer]:.3f} s {relation} {scaled}{other} "
                                  f"{wall[other]:.3f} s ({wall[peer] / wall[other]:.2f} x)",
                          "met": met})

        compare("logreap-info", UNIT, 0.88, strict=False)
        compare("logreap-info", "find1", 1, strict=True)
        compare("logreap-info", "systemd-tmpfiles", 1, strict=True)
        compare("logreap-debug", "find2-print", 1, strict=False)
        if entry["size"] == 1_000_000:
            for peer in ("logreap-info", "logreap-debug"):
                peak = figures.get(peer, {}).get("peak_rss_kb")
                if peak is not None:
                    lines.append({"text": f"{at}: {peer} peak RSS {mb(peak):.1f} MB "
                                          f"< {RSS_LIMIT_MB} MB",
                                  "met": mb(peak) < RSS_LIMIT_MB})
    return lines


def print_report(report):
    print()
    print("| size | folder | tool | median wall | ratio to find2 | min..max wall | peak RSS |")
    print("|---:|---|---|---:|---:|---:|---:|")
    for entry in report["results"]:
        figures = entry["peers"]
        unit = figures.get(UNIT, {}).get("median_wall")
        for peer in PEERS:
            if peer not in figures:
                continue
            f = figures[peer]
            ratio = f"{f['median_wall'] / unit:.2f}" if unit else "n/a"
            rss = "n/a" if f["peak_rss_kb"] is None else f"{mb(f['peak_rss_kb']):.1f} MB"
            print(f"| {entry['size']:,} | {entry['kind']} | {peer} | {f['median_wall']:.3f} s "
                  f"| {ratio} | {f['min_wall']:.3f}..{f['max_wall']:.3f} s | {rss} |")
    for entry in report["results"]:
        for peer, note in entry["notes"].items():
            print(f"\n{peer} left other directories than expected at {entry['size']:,} files "
                  f"({entry['kind']}), its files as expected:\n{note}")
    if "help" in report:
        help_timing = report["help"]
        print(f"\nlogreap --help, whole process: median {help_timing['median'] * 1000:.1f} ms, "
              f"best {help_timing['min'] * 1000:.1f} ms over {help_timing['runs']} runs")

    print()
    print("targets:")
    if not report["targets"]:
        print("  none measured (they are set at 100,000 and 1,000,000 files on tmpfs)")
    for target in report["targets"]:
        print(f"  {target['text']}: {'met' if target['met'] else 'MISSED'}")


# The chart ---------------------------------------------------------------------

COLOURS = {
    "find2": "#0072b2",
    "find1": "#56b4e9",
    "systemd-tmpfiles": "#009e73",
    "find2-print": "#0072b2",
    "logreap-info": "#d55e00",
    "logreap-debug": "#d55e00",
}
# The verbose variants drawn dashed, in the colour of their quiet counterpart.
DASHED = frozenset({"find2-print", "logreap-debug"})

WIDTH, HEIGHT = 800, 500
PLOT_LEFT, PLOT_RIGHT, PLOT_TOP, PLOT_BOTTOM = 78, 590, 72, 440
LEGEND_X = 612


def size_label(files):
    for factor, suffix in ((1_000_000, "M"), (1_000, "k")):
        if files >= factor and files % factor == 0:
            return f"{files // factor}{suffix}"
    return f"{files:,}"


def seconds_text(seconds):
    """Three significant digits, trailing zeros kept: 7.60, 0.0653, 24.2."""
    return f"{seconds:#.3g}".rstrip(".")


def decades(values):
    low = math.floor(math.log10(min(values)))
    high = math.ceil(math.log10(max(values)))
    return low, max(high, low + 1)


def subtitle(report):
    machine = report["machine"]
    loads = report["load"]["samples"] or [report["load"]["start"][0]]
    return (f"{report['date_utc']}, {machine['cpu']}, {machine['cores']} cores, "
            f"{machine['kernel']}, load average {min(loads):.2f} to {max(loads):.2f}")


def draw_chart(report):
    """The tmpfs medians against tree size, log-log, as SVG text."""
    tmpfs = [entry for entry in report["results"] if entry["kind"] == "tmpfs"]
    disk = [entry for entry in report["results"] if entry["kind"] == "disk"]
    if not tmpfs:
        sys.exit("purge_bench: no tmpfs figures to chart")
    peers = [peer for peer in PEERS if any(peer in entry["peers"] for entry in tmpfs)]
    sizes = [entry["size"] for entry in tmpfs]
    walls = [f["median_wall"] for entry in tmpfs for f in entry["peers"].values()]
    x_low, x_high = decades(sizes)
    y_low, y_high = decades(walls)
    pad = 0.15  # decades either side of x, so that no marker sits on an axis

    def x_of(files):
        share = (math.log10(files) - x_low + pad) / (x_high - x_low + 2 * pad)
        return PLOT_LEFT + share * (PLOT_RIGHT - PLOT_LEFT)

    def y_of(seconds):
        share = (math.log10(seconds) - y_low) / (y_high - y_low)
        return PLOT_BOTTOM - share * (PLOT_BOTTOM - PLOT_TOP)

    def text(x, y, content, size=12, anchor="start", extra=""):
        return (f'<text x="{x:.1f}" y="{y:.1f}" font-size="{size}" text-anchor="{anchor}"'
                f'{extra}>{escape(content)}</text>')

    out = [
        '<?xml version="1.0" encoding="UTF-8"?>',
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{WIDTH}" height="{HEIGHT}" '
        f'viewBox="0 0 {WIDTH} {HEIGHT}" font-family="DejaVu Sans, Arial, sans-serif">',
        f'<rect width="{WIDTH}" height="{HEIGHT}" fill="#ffffff"/>',
        text(PLOT_LEFT, 28, "logreap against its peers, tmpfs", 17, extra=' font-weight="bold"'),
        text(PLOT_LEFT, 48, subtitle(report), 11, extra=' fill="#444444"'),
    ]
    for exponent in range(x_low, x_high + 1):
        x = x_of(10 ** exponent)
        out.append(f'<line x1="{x:.1f}" y1="{PLOT_TOP}" x2="{x:.1f}" y2="{PLOT_BOTTOM}" '
                   'stroke="#dddddd"/>')
        out.append(text(x, PLOT_BOTTOM + 18, size_label(10 ** exponent), anchor="middle"))
    for exponent in range(y_low, y_high + 1):
        y = y_of(10 ** exponent)
        out.append(f'<line x1="{PLOT_LEFT}" y1="{y:.1f}" x2="{PLOT_RIGHT}" y2="{y:.1f}" '
                   'stroke="#dddddd"/>')
        out.append(text(PLOT_LEFT - 6, y + 4, f"{10.0 ** exponent:g} s", anchor="end"))
    out.append(f'<rect x="{PLOT_LEFT}" y="{PLOT_TOP}" width="{PLOT_RIGHT - PLOT_LEFT}" '
               f'height="{PLOT_BOTTOM - PLOT_TOP}" fill="none" stroke="#888888"/>')
    out.append(text((PLOT_LEFT + PLOT_RIGHT) / 2, PLOT_BOTTOM + 40, "tree size (files)",
                    anchor="middle"))
    middle = (PLOT_TOP + PLOT_BOTTOM) / 2
    out.append(text(20, middle, "median wall time (s)", anchor="middle",
                    extra=f' transform="rotate(-90 20 {middle:.1f})"'))

    for peer in peers:
        points = [(x_of(entry["size"]), y_of(entry["peers"][peer]["median_wall"]))
                  for entry in sorted(tmpfs, key=lambda e: e["size"]) if peer in entry["peers"]]
        dash = ' stroke-dasharray="6 4"' if peer in DASHED else ""
        coordinates = " ".join(f"{x:.1f},{y:.1f}" for x, y in points)
        out.append(f'<polyline points="{coordinates}" fill="none" stroke="{COLOURS[peer]}" '
                   f'stroke-width="2"{dash}/>')
        out.extend(marker(peer, x, y) for x, y in points)

    # On log scales the peers' lines lie close together, so the legend gives
    # each one's figure at the largest size as well.
    largest = max(tmpfs, key=lambda entry: entry["size"])
    unit = largest["peers"].get(UNIT, {}).get("median_wall")
    y = PLOT_TOP + 8
    for peer in peers:
        dash = ' stroke-dasharray="6 4"' if peer in DASHED else ""
        out.append(f'<line x1="{LEGEND_X}" y1="{y:.1f}" x2="{LEGEND_X + 28}" y2="{y:.1f}" '
                   f'stroke="{COLOURS[peer]}" stroke-width="2"{dash}/>')
        out.append(marker(peer, LEGEND_X + 14, y))
        out.append(text(LEGEND_X + 36, y + 4, peer))
        if peer in largest["peers"]:
            wall = largest["peers"][peer]["median_wall"]
            ratio = f", {wall / unit:.2f} x {UNIT}" if unit else ""
            out.append(text(LEGEND_X + 36, y + 18, f"{size_label(largest['size'])}: "
                            f"{seconds_text(wall)} s{ratio}", 10, extra=' fill="#555555"'))
        y += 34
    for entry in disk:
        y += 6
        out.append(text(LEGEND_X, y, f"disk, {size_label(entry['size'])} (median wall)",
                        extra=' font-weight="bold"'))
        for peer in PEERS:
            if peer in entry["peers"]:
                y += 18
                out.append(text(LEGEND_X + 8, y, f"{peer}: "
                                f"{seconds_text(entry['peers'][peer]['median_wall'])} s", 11,
                                extra=f' fill="{COLOURS[peer]}"'))
    out.append("</svg>")
    return "\n".join(out) + "\n"


def marker(peer, x, y):
    """A filled dot for the quiet variants, a hollow one for the verbose ones."""
    fill = "#ffffff" if peer in DASHED else COLOURS[peer]
    return (f'<circle cx="{x:.1f}" cy="{y:.1f}" r="4" fill="{fill}" '
            f'stroke="{COLOURS[peer]}" stroke-width="1.5"/>')


def write_chart(report, path):
    with open(path, "w", encoding="utf-8") as handle:
        handle.write(draw_chart(report))
    print(f"chart: {path}")


# System call counts --------------------------------------------------------------

def strace_counts(path):
    """{system call: calls} from the summary table of strace -c, "all" for the total."""
    counts = {}
    with open(path) as handle:
        for line in handle:
            fields = line.split()
            # A row: % time, seconds, usecs/call, calls, [errors,] name.
            if len(fields) < 5 or not fields[3].isdigit():
                continue
            name = "all" if fields[-1] == "total" else fields[-1]
            counts[name] = counts.get(name, 0) + int(fields[3])
    return counts


def strace_mode(args, peers, work, files, report):
    """Every peer once under strace -f -c on its own copy; the calls per tree entry."""
    template = Template(work, files)
    counts = {}
    for peer in peers:
        space = Workspace(os.path.join(work, f"strace-{peer}"))
        steps = prepare(args, peer, template, space)
        counts[peer] = {}
        for index, step in enumerate(steps):
            trace = os.path.join(space.base, f"strace-{index}.txt")
            timed([args.strace_path, "-f", "-c", "-o", trace] + step.argv, space.base,
                  f"{peer}-{index}", "", step.stdout)
            for name, calls in strace_counts(trace).items():
                counts[peer][name] = counts[peer].get(name, 0) + calls
        check_tree(peer, space, template, f"{files:,} files under strace")
        shutil.rmtree(space.base)
        print(f"  {peer}: {counts[peer].get('all', 0):,} system calls", flush=True)
    template.remove()
    entries = template.entries
    report["strace"] = {"size": files, "entries": entries, "calls": counts}

    print(f"\nSystem calls per tree entry at {files:,} files ({entries:,} entries), "
          "strace -f -c:\n")
    print_syscall_table(peers, lambda peer, name: f"{counts[peer].get(name, 0) / entries:.2f}")
    print("\nCalls:\n")
    print_syscall_table(peers, lambda peer, name: f"{counts[peer].get(name, 0):,}")


def print_syscall_table(peers, cell):
    print("| system call | " + " | ".join(peers) + " |")
    print("|---|" + "---:|" * len(peers))
    for name in SYSCALLS + ("all",):
        print(f"| {name} | " + " | ".join(cell(peer, name) for peer in peers) + " |")


# The machine ---------------------------------------------------------------------

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
    return {"runs": runs, "median": median(walls), "min": min(walls)}


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
    return list(os.getloadavg())


def load_text(values):
    return ", ".join(f"{value:.2f}" for value in values)


def default_logreap():
    for preset in ("bench", "release"):
        candidate = os.path.join(REPO, "build", preset, "src", "logreap", "logreap")
        if os.access(candidate, os.X_OK):
            return candidate
    return os.path.join(REPO, "build", "bench", "src", "logreap", "logreap")


def first_line(argv):
    try:
        lines = subprocess.run(argv, capture_output=True, text=True).stdout.splitlines()
    except OSError:
        return ""
    return lines[0] if lines else ""


# The command line ----------------------------------------------------------------

def parse_sizes(text, option):
    try:
        sizes = [int(part.replace("_", "")) for part in text.split(",") if part.strip()]
    except ValueError:
        sys.exit(f"purge_bench: {option} takes comma-separated file counts, not {text!r}")
    if not sizes or min(sizes) < 1:
        sys.exit(f"purge_bench: {option} needs file counts of at least 1")
    return sizes


def parse_arguments():
    parser = argparse.ArgumentParser(
        description="Purge benchmark: logreap against its peers on identical trees.")
    parser.add_argument("--folder", default="/dev/shm",
                        help="tmpfs folder for the trees (default: /dev/shm)")
    parser.add_argument("--sizes", default="10000,100000,1000000",
                        help="comma-separated file counts on --folder "
                             "(default: 10000,100000,1000000)")
    parser.add_argument("--disk-folder", default="/var/tmp",
                        help="folder on a disk for one more size (default: /var/tmp)")
    parser.add_argument("--disk-size", type=int, default=100_000,
                        help="file count on --disk-folder (default: 100000)")
    parser.add_argument("--no-disk", action="store_true", help="skip the disk size")
    parser.add_argument("--rounds", type=int, default=5,
                        help=f"rounds at sizes up to {LARGE_SIZE:,} (default: 5)")
    parser.add_argument("--rounds-1m", type=int, default=3,
                        help=f"rounds at sizes above {LARGE_SIZE:,}, such as 1M (default: 3)")
    parser.add_argument("--tools", default=",".join(PEERS),
                        help="comma-separated peers to run (default: all of "
                             + ", ".join(PEERS) + ")")
    parser.add_argument("--json", metavar="FILE", help="write every figure to FILE")
    parser.add_argument("--svg", metavar="FILE", default=os.path.join(REPO, "bench",
                                                                       "purge_bench.svg"),
                        help="the chart (default: bench/purge_bench.svg; '' for none)")
    parser.add_argument("--chart-from", metavar="FILE.json",
                        help="only redraw the chart from a saved --json file")
    parser.add_argument("--strace", action="store_true",
                        help="only count each peer's system calls under strace, untimed")
    parser.add_argument("--strace-size", type=int, default=100_000,
                        help="file count for --strace, on --folder (default: 100000)")
    parser.add_argument("--logreap", default=default_logreap(), help="the logreap executable")
    parser.add_argument("--find", default=shutil.which("find") or "find",
                        help="the GNU find executable")
    parser.add_argument("--systemd-tmpfiles", default=shutil.which("systemd-tmpfiles")
                        or "systemd-tmpfiles", help="the systemd-tmpfiles executable")
    parser.add_argument("--strace-path", default=shutil.which("strace") or "strace",
                        help="the strace executable, for --strace")
    parser.add_argument("--time", default=None,
                        help="GNU time, for the peak RSS (default: /usr/bin/time if it is "
                             "GNU time; '' for none)")
    parser.add_argument("--help-runs", type=int, default=50,
                        help="runs of 'logreap --help' to time (default: 50)")
    return parser.parse_args()


def check_tools(args, peers):
    find_version = first_line([args.find, "--version"])
    if "GNU findutils" not in find_version:
        sys.exit(f"purge_bench: {args.find} is not GNU find")
    versions = {"find": f"{args.find} ({find_version})"}
    if "systemd-tmpfiles" in peers:
        tmpfiles_version = first_line([args.systemd_tmpfiles, "--version"])
        if not tmpfiles_version:
            sys.exit(f"purge_bench: {args.systemd_tmpfiles} not found; leave it out with --tools")
        versions["systemd-tmpfiles"] = f"{args.systemd_tmpfiles} ({tmpfiles_version})"
    if any(peer.startswith("logreap") for peer in peers):
        if not os.access(args.logreap, os.X_OK):
            sys.exit(f"purge_bench: {args.logreap} not found; build it with "
                     "'cmake --preset bench && cmake --build --preset bench'")
        versions["logreap"] = args.logreap
    if args.strace and not first_line([args.strace_path, "-V"]):
        sys.exit(f"purge_bench: {args.strace_path} not found")
    return versions


def main():
    args = parse_arguments()
    if args.chart_from:
        if not args.svg:
            sys.exit("purge_bench: --chart-from needs a chart to write (--svg FILE)")
        with open(args.chart_from) as handle:
            write_chart(json.load(handle), args.svg)
        return 0

    chosen = [name.strip() for name in args.tools.split(",") if name.strip()]
    unknown = sorted(set(chosen) - set(PEERS))
    if unknown or not chosen:
        sys.exit(f"purge_bench: --tools takes names among {', '.join(PEERS)}; "
                 f"unknown: {', '.join(unknown) or 'none given'}")
    peers = [peer for peer in PEERS if peer in chosen]
    if args.rounds < 1 or args.rounds_1m < 1:
        sys.exit("purge_bench: --rounds and --rounds-1m must be at least 1")
    plan = [("tmpfs", args.folder, parse_sizes(args.sizes, "--sizes"))]
    if args.strace:
        plan = [("tmpfs", args.folder, parse_sizes(str(args.strace_size), "--strace-size"))]
    elif not args.no_disk:
        plan.append(("disk", args.disk_folder, parse_sizes(str(args.disk_size), "--disk-size")))
    versions = check_tools(args, peers)
    if args.time is None:
        args.time = gnu_time()
    if not args.time and not args.strace:
        print("purge_bench: no GNU time, so no peak RSS", file=sys.stderr)

    report = {
        "date_utc": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
        "machine": {"cpu": cpu_model(), "cores": os.cpu_count(),
                    "kernel": f"{platform.system()} {platform.release()}"},
        "tools": versions,
        "retention_days": RETENTION_DAYS,
        "folders": {},
        "load": {"start": load_average(), "samples": [], "end": None},
        "results": [],
        "targets": [],
    }
    for name, path in versions.items():
        print(f"{name + ':':<18}{path}")
    machine = report["machine"]
    print(f"{'machine:':<18}{machine['cpu']}, {machine['cores']} cores, {machine['kernel']}")
    for kind, folder, _ in plan:
        file_system = file_system_of(folder)
        report["folders"][kind] = {"path": folder, "file_system": file_system}
        print(f"{kind + ':':<18}{folder}: {file_system}")
        if kind == "tmpfs" and not file_system.startswith("tmpfs"):
            print(f"{'':<18}(not tmpfs: the figures include waiting on the device)")
    print(f"{'date:':<18}{report['date_utc']}")
    if not args.strace:
        print(f"{'rounds:':<18}{args.rounds} per size up to {LARGE_SIZE:,} files, "
              f"{args.rounds_1m} above; every peer on its own copy (cp -a) of one generated "
              "tree per size, the order rotated by one peer each round")
    print(f"{'load:':<18}{load_text(report['load']['start'])} at the start "
          "(other work on the machine adds noise)", flush=True)

    for kind, folder, sizes in plan:
        os.makedirs(folder, exist_ok=True)
        work = tempfile.mkdtemp(prefix="logreap-bench-", dir=folder)
        try:
            if args.strace:
                strace_mode(args, peers, work, sizes[0], report)
            else:
                for files in sizes:
                    report["results"].append(
                        bench_size(args, peers, work, kind, files, report["load"]["samples"]))
                    save(report, args.json)  # a run stopped later keeps what it measured
        finally:
            shutil.rmtree(work, ignore_errors=True)

    if not args.strace:
        if "logreap" in versions and args.help_runs > 0:
            report["help"] = help_timing(args.logreap, args.help_runs)
        report["targets"] = targets(report["results"])
    report["load"]["end"] = load_average()
    print(f"{'load:':<18}{load_text(report['load']['end'])} at the end")
    if not args.strace:
        print_report(report)
    if args.json:
        save(report, args.json)
        print(f"figures: {args.json}")
    if args.svg and not args.strace:
        write_chart(report, args.svg)
    return 0


if __name__ == "__main__":
    sys.exit(main())
