#!/usr/bin/env python3
"""Deterministic log tree for the purge benchmark.

N files of about 100 bytes spread evenly (50 each) over N/50 directories up to
depth 8 below ROOT. About half of the directories hold only files last written
30 days before the reference time and so end up empty after a purge with a
retention of 14 days; each of the other directories holds 2 such old files
and 48 written an hour before the reference time. Overall half the files are
old.

The same N and reference time always give the same tree: names, contents,
times and the directory shape come from a fixed-seed generator of our own, so
they do not depend on the Python version.

Usage: gen_tree.py ROOT N [--ref EPOCH_SECONDS]
"""

import argparse
import json
import os
import sys
import time

FILES_PER_DIR = 50
MAX_DEPTH = 8
OLD_PER_KEPT_DIR = 2  # old files in a directory that keeps its recent ones
OLD_AGE_S = 30 * 86400
NEW_AGE_S = 3600
SEED = 0x5EED_1065


class SplitMix64:
    """A small fixed generator, so the tree does not depend on `random`."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFFFFFFFFFF

    def next(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & 0xFFFFFFFFFFFFFFFF
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & 0xFFFFFFFFFFFFFFFF
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & 0xFFFFFFFFFFFFFFFF
        return z ^ (z >> 31)

    def below(self, n):
        return self.next() % n


class Layout:
    """The shape of the tree, without touching the file system.

    Directory 0 is ROOT itself; directories 1..dirs have a parent with a
    smaller index, so creating them in index order creates parents first.
    """

    def __init__(self, files):
        if files < 1:
            raise ValueError("at least one file")
        self.files = files
        self.dirs = max(1, files // FILES_PER_DIR)
        rng = SplitMix64(SEED ^ files)

        # A random recursive tree: each directory hangs below a uniformly chosen
        # earlier one (ROOT included) that is still above the depth limit.
        self.parent = [-1]
        self.depth = [0]
        eligible = [0]
        for index in range(1, self.dirs + 1):
            parent = eligible[rng.below(len(eligible))]
            self.parent.append(parent)
            self.depth.append(self.depth[parent] + 1)
            if self.depth[index] < MAX_DEPTH:
                eligible.append(index)

        # Files per directory: 50 each, the remainder to the first ones.
        base, extra = divmod(files, self.dirs)
        self.count = [0] + [base + (1 if i <= extra else 0) for i in range(1, self.dirs + 1)]

        # Whole subtrees go old until about half the directories are taken, so
        # that together with the few old files of the other directories half of
        # all files are old. A taken directory's subtree is taken with it: a
        # directory can only end up empty when everything below it does.
        kept_old_share = OLD_PER_KEPT_DIR / FILES_PER_DIR
        budget = round(self.dirs * (0.5 - kept_old_share) / (1 - kept_old_share))
        children = [[] for _ in range(self.dirs + 1)]
        for index in range(1, self.dirs + 1):
            children[self.parent[index]].append(index)
        size = [1] * (self.dirs + 1)
        for index in range(self.dirs, 0, -1):
            size[self.parent[index]] += size[index]
        self.old_dir = [False] * (self.dirs + 1)
        order = list(range(1, self.dirs + 1))
        for i in range(len(order) - 1, 0, -1):  # Fisher-Yates with our generator
            j = rng.below(i + 1)
            order[i], order[j] = order[j], order[i]
        taken = 0
        for index in order:
            if taken >= budget or self.old_dir[index]:
                continue
            if size[index] > budget - taken:
                continue
            stack = [index]
            while stack:
                node = stack.pop()
                if not self.old_dir[node]:
                    self.old_dir[node] = True
                    taken += 1
                stack.extend(children[node])
        self.taken = taken

        self.relpath = [""]
        for index in range(1, self.dirs + 1):
            name = f"dir{index:05d}"
            parent_path = self.relpath[self.parent[index]]
            self.relpath.append(f"{parent_path}/{name}" if parent_path else name)

    def is_old(self, dir_index, file_index):
        return self.old_dir[dir_index] or file_index < OLD_PER_KEPT_DIR

    def old_files(self):
        return sum(
            self.count[d] if self.old_dir[d] else min(OLD_PER_KEPT_DIR, self.count[d])
            for d in range(1, self.dirs + 1)
        )

    def expected_after_purge(self):
        """(files, directories) left below ROOT, as relative paths."""
        files = set()
        dirs = set()
        for d in range(1, self.dirs + 1):
            if self.old_dir[d]:
                continue
            dirs.add(self.relpath[d])
            for f in range(self.count[d]):
                if not self.is_old(d, f):
                    files.add(f"{self.relpath[d]}/{file_name(d, f)}")
        return files, dirs


def file_name(dir_index, file_index):
    return f"agent-{dir_index:05d}-{file_index:02d}.log"


def file_content(dir_index, file_index):
    head = f"{dir_index:05d}.{file_index:02d} INFO heartbeat ok "
    return (head + "." * (99 - len(head)) + "\n").encode()


def generate(root, files, ref=None):
    """Creates the tree below ROOT (which must not exist) and returns its summary."""
    ref = time.time() if ref is None else ref
    layout = Layout(files)
    old_ns = int((ref - OLD_AGE_S) * 1e9)
    new_ns = int((ref - NEW_AGE_S) * 1e9)
    os.makedirs(root)
    flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_CLOEXEC", 0)
    for d in range(1, layout.dirs + 1):
        path = os.path.join(root, layout.relpath[d])
        os.mkdir(path)
        dir_fd = os.open(path, os.O_RDONLY | os.O_DIRECTORY)
        try:
            for f in range(layout.count[d]):
                fd = os.open(file_name(d, f), flags, 0o644, dir_fd=dir_fd)
                try:
                    os.write(fd, file_content(d, f))
                    ns = old_ns if layout.is_old(d, f) else new_ns
                    os.utime(fd, ns=(ns, ns))
                finally:
                    os.close(fd)
        finally:
            os.close(dir_fd)
    # The directories' own times are left as they are: for directories the
    # purge goes by emptiness alone.
    return {
        "root": root,
        "files": files,
        "old_files": layout.old_files(),
        "dirs": layout.dirs,
        "dirs_ending_empty": layout.taken,
        "max_depth": max(layout.depth),
    }, layout


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("root", help="directory to create (must not exist)")
    parser.add_argument("files", type=int, help="number of files")
    parser.add_argument("--ref", type=float, default=None,
                        help="reference time, seconds since the epoch (default: now)")
    args = parser.parse_args(argv)
    summary, _ = generate(args.root, args.files, args.ref)
    json.dump(summary, sys.stdout)
    print()
    return 0


if __name__ == "__main__":
    sys.exit(main())
