#!/usr/bin/python3
"""Purge benchmark: logreap against its peers, side by side on identical trees.

For each size one tree is generated (gen_tree.py); every peer (find2, find1,
systemd-tmpfiles, find2-print, logreap-info, logreap-debug: bench/README.md)
purges a fresh copy of it, once a round, the order rotated by one peer per
round. After every run the tree is checked against gen_tree.py's prediction: a
wrong tree or a failing command stops the script with status 1. It prints the
median wall time of each peer, its ratio to find2, the spread, the peak memory
(GNU time) and the verdict on each target; --json keeps every figure and draws
the chart beside it with Debian's python3-matplotlib (bench/setup.sh installs it
for /usr/bin/python3, so run the script with that).
"""

import argparse
import datetime
import json
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
PEERS = ("find2", "find1", "systemd-tmpfiles", "find2-print", "logreap-info", "logreap-debug")
UNIT = "find2"  # the ratios are against its median
LARGE_SIZE = 100_000  # sizes above it run --rounds-1m rounds
TARGET_ROUNDS = {100_000: 7, 1_000_000: 3}  # on tmpfs: the least rounds a verdict needs
RATIO_LIMIT = 0.80  # logreap-info against find2
RSS_LIMIT_MB, RSS_SIZE = 6.2, 1_000_000  # logreap-info's peak memory

# Every table the configuration loader requires, so that the file loads.
CONFIG_TEMPLATE = """\
rfc = []
pipeline = []
footprints = {{ testexecutionqueryingfreq = 60 }}
norvane = {{ token = "benchmark-token" }}

[settings]
install = {install}
userdata = {userdata}
key = "benchmark-key"
iv = "benchmark-iv"

[logging]
level = "{level}"
consolelevel = "off"
retentionperiod = {retention}

[rfcdata]
prd = {{ retentionperiod = 30, typequeries = [] }}
qas = {{ retentionperiod = 30, tables = [] }}

[rfcdata.phd]
separators = []
mnemonicfieldtokens = []
stepsfieldtokens = []
descriptionfieldtokens = []
"""


def fail(message):
    sys.exit(f"purge_bench: {message}")


def quoted(text, percent=False):
    """A double-quoted TOML or tmpfiles.d string; tmpfiles.d also needs '%' doubled."""
    text = text.replace("\\", "\\\\").replace('"', '\\"')
    return '"' + (text.replace("%", "%%") if percent else text) + '"'


def timed(argv, base, name, time_tool, stdout_path=None):
    """Runs argv to its end: (wall, user+sys, peak RSS in KiB or None).

    The peak comes from GNU time, which forks the child from its own small
    process: a child forked from this script would report the script's memory.
    stdout_path is appended to, so that two commands can write one file.
    """
    err_path, rss_path = os.path.join(base, name + ".err"), os.path.join(base, name + ".rss")
    command = [time_tool, "-f", "%M", "-o", rss_path] + argv if time_tool else argv
    with open(stdout_path or os.path.join(base, name + ".out"), "ab") as out, \
            open(err_path, "wb") as err:
        start = time.perf_counter()
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        _, status, usage = os.wait4(process.pid, 0)  # the child's own usage
        wall = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)  # reaped here, not by Popen
    if process.returncode != 0:
        with open(err_path, errors="replace") as err:
            fail(f"{argv[0]} failed with status {process.returncode}: {err.read().strip()}")
    rss = None
    if time_tool:
        with open(rss_path) as handle:
            rss = int(handle.read().split()[-1])
    return wall, usage.ru_utime + usage.ru_stime, rss


def snapshot(root):
    """(files, directories) below root, as relative paths."""
    files, dirs = set(), set()
    for directory, subdirs, names in os.walk(root):
        prefix = os.path.relpath(directory, root) + "/"
        prefix = "" if prefix == "./" else prefix
        dirs.update(prefix + name for name in subdirs)
        files.update(prefix + name for name in names)
    return files, dirs


def difference(after, expected):
    lines = []
    for kind, got, want in zip(("files", "directories"), after, expected):
        for label, extra in (("left over", got - want), ("missing", want - got)):
            if extra:
                lines.append(f"  {len(extra):,} {kind} {label}, e.g. {sorted(extra)[:3]}")
    return "\n".join(lines)


class Template:
    """One generated tree of a size and its prediction, copied for every run."""

    def __init__(self, work, files):
        self.root = os.path.join(work, f"template-{files}")
        self.summary, layout = gen_tree.generate(self.root, files, time.time())
        self.expected = layout.expected_after_purge()
        self.entries = self.summary["files"] + self.summary["dirs"]


def prepare(args, peer, template, base):
    """A fresh copy of the tree below base; peer's commands as (argv, stdout file)."""
    install, userdata = os.path.join(base, "install"), os.path.join(base, "userdata")
    tree = os.path.join(install, "logs")
    os.makedirs(install)
    copy = subprocess.run(["cp", "-a", template.root, tree], capture_output=True, text=True)
    if copy.returncode != 0:
        fail(f"cp -a could not copy the tree: {copy.stderr.strip()}")
    old = ["-type", "f", "-mmin", f"+{RETENTION_DAYS * 24 * 60}"]
    files = ["find", tree, "-mindepth", "1"] + old
    dirs = ["find", tree, "-mindepth", "1", "-type", "d", "-empty"]
    printed = os.path.join(base, "removed.txt")
    if peer == "find2":
        steps = [(files + ["-delete"], None), (dirs + ["-delete"], None)]
    elif peer == "find2-print":
        steps = [(files + ["-print", "-delete"], printed), (dirs + ["-print", "-delete"], printed)]
    elif peer == "find1":  # -delete implies -depth: a directory is tested once emptied
        steps = [(["find", tree, "-mindepth", "1", "("] + old + ["-delete", ")", "-o",
                  "(", "-type", "d", "-empty", "-delete", ")"], None)]
    elif peer == "systemd-tmpfiles":  # mM: ages by modification time only, as the others
        config = os.path.join(base, "tmpfiles.conf")
        with open(config, "w") as handle:
            handle.write(f"e {quoted(tree, percent=True)} - - - mM:{RETENTION_DAYS}d\n")
        steps = [(["systemd-tmpfiles", "--clean", config], None)]
    else:
        os.makedirs(userdata)
        config = os.path.join(base, "logreap.toml")
        with open(config, "w") as handle:
            handle.write(CONFIG_TEMPLATE.format(
                install=quoted(install), userdata=quoted(userdata),
                level=peer.split("-")[1], retention=RETENTION_DAYS))
        steps = [([args.logreap, "-c", config], None)]
    os.sync()  # so that no write-back of the copy lands on the timed run
    return tree, steps


def check_tree(peer, tree, template, where):
    """Stops on a tree other than the predicted one; a note on tmpfiles' directories."""
    after = snapshot(tree)
    expected = template.expected
    held = after if peer != "systemd-tmpfiles" else (after[0], expected[1])
    if held != expected:
        fail(f"FAIL: {peer} left a tree other than the expected one ({where}):\n"
             + difference(held, expected))
    return difference((set(), after[1]), (set(), expected[1]))


def bench_size(args, peers, work, kind, files):
    """Every round runs every peer once on its own copy; the figures of the size."""
    template = Template(work, files)
    rounds = args.rounds if files <= LARGE_SIZE else args.rounds_1m
    runs = {peer: [] for peer in peers}
    notes = {}
    for index in range(rounds):
        order = peers[index % len(peers):] + peers[:index % len(peers)]
        for position, peer in enumerate(order):
            base = os.path.join(work, f"{kind}-{files}-r{index}-{peer}")
            tree, steps = prepare(args, peer, template, base)
            load = os.getloadavg()[0]
            measured = [timed(argv, base, f"{peer}-{n}", args.time, out)
                        for n, (argv, out) in enumerate(steps)]
            where = f"{files:,} files on {kind}, round {index + 1}"
            note = check_tree(peer, tree, template, where)
            if note and peer not in notes:
                notes[peer] = note
                print(f"  note: {peer} left other directories than expected ({where}), "
                      f"its files as expected:\n{note}", flush=True)
            shutil.rmtree(base)
            rss = [m[2] for m in measured]
            runs[peer].append({"round": index + 1, "position": position + 1,
                               "wall": sum(m[0] for m in measured),
                               "cpu": sum(m[1] for m in measured),
                               "rss_kb": None if None in rss else max(rss), "load": load})
        print(f"  {files:>9,} files, {kind}, round {index + 1}/{rounds}: "
              + ", ".join(f"{peer} {runs[peer][-1]['wall']:.3f} s" for peer in order)
              + " - trees as expected", flush=True)
    shutil.rmtree(template.root)
    figures = {}
    for peer, peer_runs in runs.items():
        walls, rss = [r["wall"] for r in peer_runs], [r["rss_kb"] for r in peer_runs]
        figures[peer] = {"runs": peer_runs, "median_wall": statistics.median(walls),
                         "min_wall": min(walls), "max_wall": max(walls),
                         "peak_rss_kb": None if None in rss else max(rss)}
    return {"size": files, "kind": kind, "entries": template.entries,
            "tree": {k: v for k, v in template.summary.items() if k != "root"},
            "rounds": rounds, "notes": notes, "peers": figures}


def targets(results):
    """The verdicts at the target sizes on tmpfs: {text, met, conclusive} each."""
    verdicts = []
    for entry in results:
        figures = entry["peers"]
        if entry["kind"] != "tmpfs" or entry["size"] not in TARGET_ROUNDS \
                or "logreap-info" not in figures:
            continue
        enough = entry["rounds"] >= TARGET_ROUNDS[entry["size"]]
        info = figures["logreap-info"]["median_wall"]

        def verdict(text, met, measured=True):
            verdicts.append({"text": f"{entry['size']:,} files: {text}", "met": met,
                             "conclusive": enough and measured})

        for other, factor in (("find1", 1), ("systemd-tmpfiles", 1), (UNIT, RATIO_LIMIT)):
            if other in figures:
                bound = figures[other]["median_wall"]
                scaled = f"{factor:.2f} x " if factor != 1 else ""
                verdict(f"logreap-info {info:.3f} s <= {scaled}{other} {bound:.3f} s "
                        f"({info / bound:.2f} x)", info <= factor * bound)
        peak = figures["logreap-info"]["peak_rss_kb"]
        if entry["size"] == RSS_SIZE:  # the peak as printed, to 0.1 MB, as the limit is
            peak_mb = None if peak is None else round(peak / 1024, 1)
            verdict(f"logreap-info peak {peak_mb} MB <= {RSS_LIMIT_MB} MB" if peak_mb else
                    "logreap-info peak not measured (no GNU time)",
                    peak_mb is not None and peak_mb <= RSS_LIMIT_MB, peak_mb is not None)
    return verdicts


def print_report(report):
    print("\n| files | folder | peer | median wall | ratio to find2 | min..max wall | peak RSS |")
    print("|---:|---|---|---:|---:|---:|---:|")
    for entry in report["results"]:
        unit = entry["peers"].get(UNIT, {}).get("median_wall")
        for peer, f in entry["peers"].items():
            ratio = f"{f['median_wall'] / unit:.2f}" if unit else "n/a"
            rss = "n/a" if f["peak_rss_kb"] is None else f"{f['peak_rss_kb'] / 1024:.1f} MB"
            print(f"| {entry['size']:,} | {entry['kind']} | {peer} | {f['median_wall']:.3f} s "
                  f"| {ratio} | {f['min_wall']:.3f}..{f['max_wall']:.3f} s | {rss} |")
    print("\ntargets:")
    if not report["targets"]:
        print("  none measured (they are set at 100,000 and 1,000,000 files on tmpfs)")
    for target in report["targets"]:
        rounds = "" if target["conclusive"] else " (not conclusive: too few rounds or no figure)"
        print(f"  {'met   ' if target['met'] else 'MISSED'} {target['text']}{rounds}")


def draw_chart(report, path):
    """Each peer's median on tmpfs as a share of find2's against tree size.

    On log scales of seconds the peers' lines lie on top of each other; their
    ratio to find2 shows what the targets are about. The legend gives the
    seconds at the largest size. The format follows path's suffix (.svg, .png).
    """
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return print(f"chart: none, {sys.executable} has no matplotlib (bench/setup.sh "
                     "installs Debian's python3-matplotlib for /usr/bin/python3)", file=sys.stderr)
    tmpfs = sorted((e for e in report["results"] if e["kind"] == "tmpfs" and UNIT in e["peers"]),
                   key=lambda e: e["size"])
    if not tmpfs:
        return print(f"chart: none, no figures of {UNIT} on tmpfs", file=sys.stderr)
    # Text kept as text, and the same figures give the same file.
    matplotlib.rcParams.update({"svg.fonttype": "none", "svg.hashsalt": "purge_bench"})
    figure, axes = plt.subplots(figsize=(8, 4.5))
    largest = tmpfs[-1]["peers"]
    # A verbose variant dashed with hollow markers, in its quiet counterpart's colour.
    styles = {"find2": ("C0", "-"), "find1": ("C9", "-"), "systemd-tmpfiles": ("C2", "-"),
              "find2-print": ("C0", "--"), "logreap-info": ("C3", "-"),
              "logreap-debug": ("C3", "--")}
    for peer in PEERS:
        points = [(e["size"], e["peers"][peer]["median_wall"] / e["peers"][UNIT]["median_wall"])
                  for e in tmpfs if peer in e["peers"]]
        if not points:
            continue
        colour, line = styles[peer]
        label = f"{peer}, {largest[peer]['median_wall']:#.3g} s" if peer in largest else peer
        axes.plot(*zip(*points), label=label, color=colour, linestyle=line, marker="o",
                  markerfacecolor="white" if line == "--" else colour)
    axes.axhline(RATIO_LIMIT, color="grey", linewidth=0.8, linestyle=":",
                 label=f"logreap-info's target, {RATIO_LIMIT:.2f}")
    axes.set(xscale="log", xlabel="tree size (files)", ylabel=f"median wall time / {UNIT}'s")
    axes.set_xticks([e["size"] for e in tmpfs], [f"{e['size']:,}" for e in tmpfs])
    axes.minorticks_off()
    axes.grid(True, color="#dddddd")
    axes.legend(title=f"median at {tmpfs[-1]['size']:,} files", fontsize=8,
                loc="center left", bbox_to_anchor=(1.01, 0.5))
    m = report["machine"]
    axes.set_title(f"logreap against its peers on tmpfs\n{report['date_utc']}, {m['cpu']}, "
                   f"{m['cores']} cores, {m['kernel']}", fontsize=10)
    figure.savefig(path, bbox_inches="tight",
                   metadata={"Date": None} if path.endswith(".svg") else None)
    print(f"chart: {path}")
    return True


def first_line(argv):
    try:
        return (subprocess.run(argv, capture_output=True, text=True).stdout.splitlines()
                or [""])[0]
    except OSError:
        return ""


def sizes(text, option):
    try:
        values = [int(part) for part in text.replace("_", "").split(",") if part.strip()]
    except ValueError:
        values = [0]
    if min(values, default=1) < 1:
        fail(f"{option} takes comma-separated file counts of at least 1, not {text!r}")
    return values


def parse_arguments():
    built = [os.path.join(REPO, "build", preset, "src", "logreap", "logreap")
             for preset in ("bench", "release")]
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    add = parser.add_argument
    add("--logreap", default=next((p for p in built if os.access(p, os.X_OK)), built[0]),
        help="the logreap executable (default: build/bench's, else build/release's)")
    add("--sizes", default="10000,100000,1000000",
        help="file counts on --folder (default: 10000,100000,1000000)")
    add("--folder", default="/dev/shm", help="tmpfs folder for the trees (default: /dev/shm)")
    add("--disk-sizes", default="100000",
        help="file counts on --disk-folder (default: 100000; '' for none)")
    add("--disk-folder", default="/var/tmp", help="a folder on a disk (default: /var/tmp)")
    add("--rounds", type=int, default=7,
        help=f"rounds at sizes up to {LARGE_SIZE:,} files (default: 7, as the targets ask)")
    add("--rounds-1m", type=int, default=3,
        help=f"rounds at sizes above {LARGE_SIZE:,} files (default: 3, as the targets ask)")
    add("--tools", default=",".join(PEERS), help="the peers to run (default: all)")
    add("--json", metavar="FILE", help="write every figure to FILE and the chart beside it")
    add("--chart", metavar="FILE",
        help="the chart, .svg or .png (default: the --json FILE's name with .svg; '' for none)")
    add("--chart-from", metavar="FILE", help="only redraw the chart of a saved --json FILE")
    add("--time", default="/usr/bin/time", help="GNU time, for the peak RSS ('' for none)")
    args = parser.parse_args()
    args.sizes = sizes(args.sizes, "--sizes")
    args.disk_sizes = sizes(args.disk_sizes, "--disk-sizes")
    chosen = {name.strip() for name in args.tools.split(",") if name.strip()}
    if not chosen or chosen - set(PEERS):
        fail(f"--tools takes names among {', '.join(PEERS)}, not {args.tools!r}")
    args.tools = [peer for peer in PEERS if peer in chosen]
    if min(args.rounds, args.rounds_1m) < 1:
        fail("--rounds and --rounds-1m must be at least 1")
    return args


def check_tools(args):
    """The tools in use with their versions; stops on one missing."""
    tools = {"find": f"{shutil.which('find')} ({first_line(['find', '--version'])})"}
    if "GNU findutils" not in tools["find"]:
        fail("find is not GNU find")
    if "systemd-tmpfiles" in args.tools:
        version = first_line(["systemd-tmpfiles", "--version"]) or fail(
            "systemd-tmpfiles not found; leave it out with --tools")
        tools["systemd-tmpfiles"] = f"{shutil.which('systemd-tmpfiles')} ({version})"
    if {"logreap-info", "logreap-debug"} & set(args.tools):
        if not os.access(args.logreap, os.X_OK):
            fail(f"{args.logreap} not found; build it with 'cmake --preset bench && "
                 "cmake --build --preset bench' or name one with --logreap")
        tools["logreap"] = os.path.abspath(args.logreap)
    if args.time:
        probe = subprocess.run([args.time, "-f", "%M", "true"], capture_output=True, text=True)
        if probe.returncode != 0 or not probe.stderr.strip().isdigit():
            fail(f"{args.time} is not GNU time; name it with --time, or '' for no peak RSS")
    return tools


def save(report, path):
    with open(path, "w") as handle:
        json.dump(report, handle, indent=1)
        handle.write("\n")


def main():
    args = parse_arguments()
    chart = args.chart
    if chart is None and (args.json or args.chart_from):
        chart = os.path.splitext(args.json or args.chart_from)[0] + ".svg"
    if chart and not chart.endswith((".svg", ".png")):
        fail(f"the chart is an .svg or a .png file, not {chart}")
    if args.chart_from:
        with open(args.chart_from) as handle:
            return 0 if draw_chart(json.load(handle), chart or fail("no --chart to draw")) else 1
    tools = check_tools(args)
    for path in filter(None, (args.json, chart)):  # found out now, not after the run
        if not os.access(os.path.dirname(os.path.abspath(path)), os.W_OK):
            fail(f"cannot write {path}")
    plan = [["tmpfs", args.folder, args.sizes], ["disk", args.disk_folder, args.disk_sizes]]
    plan = [step for step in plan if step[2]]
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    with open("/proc/cpuinfo") as handle:
        cpu = next((line.split(":", 1)[1].strip() for line in handle
                    if line.startswith("model name")), platform.machine())
    machine = {"cpu": cpu, "cores": os.cpu_count(),
               "kernel": f"{platform.system()} {platform.release()}"}
    report = {"date_utc": now, "machine": machine, "tools": tools,
              "retention_days": RETENTION_DAYS, "folders": {},
              "load": {"start": list(os.getloadavg())}, "results": [], "targets": []}
    header = dict(tools, machine=f"{cpu}, {machine['cores']} cores, {machine['kernel']}")
    for index, (kind, folder, counts) in enumerate(plan):
        mount = subprocess.run(["findmnt", "-n", "-o", "FSTYPE,OPTIONS", "--target", folder],
                               capture_output=True, text=True).stdout.split() + ["?", "?"]
        if kind == "tmpfs" and mount[0] != "tmpfs":  # then its figures meet no target
            kind = plan[index][0] = f"{mount[0]}, not tmpfs"
        report["folders"][kind] = {"path": folder, "file_system": f"{mount[0]} ({mount[1]})"}
        header[kind] = f"{folder}: {mount[0]} ({mount[1]})"
    header["date"] = now
    header["rounds"] = (f"{args.rounds} per size up to {LARGE_SIZE:,} files, {args.rounds_1m} "
                        "above; the order rotated by one peer each round")
    header["load"] = ", ".join(f"{value:.2f}" for value in os.getloadavg()) + " at the start"
    for name, text in header.items():
        print(f"{name + ':':<18}{text}", flush=True)

    for kind, folder, counts in plan:
        os.makedirs(folder, exist_ok=True)
        work = tempfile.mkdtemp(prefix="logreap-bench-", dir=folder)
        try:  # a file error stops the script cleanly, the work folder removed
            for files in counts:
                report["results"].append(bench_size(args, args.tools, work, kind, files))
                if args.json:  # a run stopped later keeps what it measured
                    save(report, args.json)
        except OSError as error:
            fail(str(error))
        finally:
            shutil.rmtree(work, ignore_errors=True)

    report["load"]["end"] = list(os.getloadavg())
    report["targets"] = targets(report["results"])
    print_report(report)
    if args.json:
        save(report, args.json)
        print(f"figures: {args.json}")
    if chart and report["results"]:
        draw_chart(report, chart)
    return 0


if __name__ == "__main__":
    sys.exit(main())
