#!/usr/bin/env python3
"""Whole-process sync benchmark: `brindle --sync-once` (folder + one drive,
against brindle-devserver), `unison` and `rclone bisync`, run alternately on
identical trees. Prints a Markdown table and writes it to
$BRINDLE_BENCH_RESULTS/whole_process.md.

usage: whole_process.py BUILD_FOLDER [--scale S] [--repeats N]
--scale 1 gives the full sizes: (a) 10,000 files onto an empty drive,
(b) 20,000 and 100,000 unchanged files, (c) 100 changes per side among
100,000. Smaller scales shrink every count but the 100 changes."""

import argparse, hashlib, json, os, platform, random, shutil, statistics, subprocess, sys, tempfile, time

DRIVE_ID = "5a1d0c4e-0000-4000-8000-00000000be0c"


def build_tree(root, count, sizes, per_folder, seed):
    rng = random.Random(seed)
    old = time.time() - 3600  # settled: no tool waits for a file still being written
    for i in range(count):
        folder = os.path.join(root, "d%03d" % (i // per_folder // 100), "f%05d" % (i // per_folder))
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "n%06d.txt" % i)
        with open(path, "wb") as out:
            out.write(rng.randbytes(rng.randint(*sizes)))
        os.utime(path, (old, old))


def tree_digest(root):
    digest, count = hashlib.sha1(), 0
    for folder, dirs, files in os.walk(root):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(folder, name)
            digest.update(os.path.relpath(path, root).encode() + b"\0")
            with open(path, "rb") as data:
                digest.update(hashlib.sha1(data.read()).digest())
            count += 1
    return digest.hexdigest(), count


def measure(argv, env):
    """Runs argv; returns (wall s, CPU s, peak RSS MB) of the child."""
    with tempfile.TemporaryFile() as log:  # a pipe would fill up and stall a talkative child
        start = time.monotonic()
        child = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=log)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.monotonic() - start
        log.seek(0)
        error = log.read().decode(errors="replace")
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode not in (0, 1):  # unison answers 1 for "nothing to do" in some versions
        sys.exit("%s failed (%d): %s" % (argv[0], child.returncode, error[-2000:]))
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024


class Brindle:
    name = "brindle --sync-once"

    def __init__(self, build, base):
        self.base = base
        self.folder = os.path.join(base, "folder")
        self.drive = os.path.join(base, "volumes", "BENCH", "Larder")
        self.binary = os.path.join(build, "brindle")
        server = subprocess.Popen([os.path.join(build, "brindle-devserver"), "--stores", ",", "--github-repo", "none",
                                   "--drives", DRIVE_ID + "=Bench"], stdout=open(os.path.join(base, "server.log"), "w"))
        self.server = server
        self.url = None
        while not self.url:  # the server logs every request: a pipe would fill and stall it
            time.sleep(0.05)
            with open(os.path.join(base, "server.log")) as log:
                first = log.readline()
            if first.startswith("LISTENING "):
                self.url = first.split()[1]

    def reset(self):
        for path in (self.folder, os.path.join(self.base, "volumes"), os.path.join(self.base, "state")):
            set_aside(path)
        os.makedirs(self.drive)
        with open(os.path.join(self.base, "volumes", "BENCH", ".brindle-larder"), "w") as marker:
            json.dump({"v": 1, "drive_id": DRIVE_ID, "created": "2026-01-01T00:00:00Z"}, marker)

    def run(self):
        env = dict(os.environ, BRINDLE_TEST_ACCOUNT=json.dumps({"server": self.url, "device_token": "bench"}),
                   BRINDLE_URL=self.url, LARDER_FOLDER=self.folder, LARDER_STATE_DIR=os.path.join(self.base, "state"),
                   LARDER_VOLUMES=os.path.join(self.base, "volumes"), HOME=self.base)
        return measure([self.binary, "--sync-once"], env)

    def close(self):
        self.server.terminate()
        self.server.wait()


class Unison:
    name = "unison -fastcheck true"

    def __init__(self, base):
        self.base = base
        self.folder = os.path.join(base, "folder")
        self.drive = os.path.join(base, "drive")

    def reset(self):
        for path in (self.folder, self.drive, os.path.join(self.base, "archives")):
            set_aside(path)
        os.makedirs(self.drive)

    def run(self):
        env = dict(os.environ, UNISON=os.path.join(self.base, "archives"), HOME=self.base)
        return measure(["unison", self.folder, self.drive, "-batch", "-auto", "-times", "-fastcheck", "true",
                        "-silent", "-confirmbigdel=false"], env)

    def close(self):
        pass


class Rclone:
    name = "rclone bisync"

    def __init__(self, base):
        self.base = base
        self.folder = os.path.join(base, "folder")
        self.drive = os.path.join(base, "drive")
        self.first = True

    def reset(self):
        for path in (self.folder, self.drive, os.path.join(self.base, "work")):
            set_aside(path)
        os.makedirs(self.drive)
        self.first = True

    def run(self):
        argv = ["rclone", "bisync", self.folder, self.drive, "--workdir", os.path.join(self.base, "work"),
                "--config", os.path.join(self.base, "rclone.conf"), "--max-delete", "100"]
        if self.first:
            argv.append("--resync")
        self.first = False
        return measure(argv, dict(os.environ, HOME=self.base))

    def close(self):
        pass


def set_aside(path):
    """Moves a tree out of the way; it is deleted when the benchmark ends.
    Deleting tens of thousands of files just before a timed run leaves the
    file system freeing (and discarding) their blocks during it, and ext4
    without a journal skips every inode freed in the last minutes when it
    makes a file: both slowed whatever tool ran next, more with each turn."""
    if os.path.lexists(path):
        trash = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(path))), "trash")
        os.makedirs(trash, exist_ok=True)
        os.rename(path, tempfile.mkdtemp(dir=trash))


def change_files(tool, count, turn):
    """Rewrites count files on each side (different ones)."""
    paths = []
    for folder, _, files in os.walk(tool.folder):
        paths += [os.path.relpath(os.path.join(folder, name), tool.folder) for name in files]
    paths.sort()
    picked = random.Random(turn).sample(paths, 2 * count)
    for side, chosen in ((tool.folder, picked[:count]), (tool.drive, picked[count:])):
        for rel in chosen:
            with open(os.path.join(side, rel), "wb") as out:
                out.write(("changed %d %s\n" % (turn, rel)).encode() * 8)
            # Written a few seconds ago: brindle leaves a file alone while it
            # may still be being written (changed under a second ago).
            settled = time.time() - 5 - turn
            os.utime(os.path.join(side, rel), (settled, settled))


def check_same(tool, expected):
    got = tree_digest(tool.folder)
    if got != tree_digest(tool.drive):
        sys.exit("%s: the folder and the drive differ" % tool.name)
    if expected is not None and got != expected:
        sys.exit("%s: the trees differ from another tool's" % tool.name)
    return got


def scenario(tools, template, repeats, first_sync, changes):
    """Median (wall, CPU, RSS) per tool; every tool starts from template."""
    figures = {tool.name: [] for tool in tools}
    for tool in tools:
        tool.reset()
        set_aside(tool.folder)
        shutil.copytree(template, tool.folder, copy_function=shutil.copy2)
        if not first_sync:
            tool.run()  # the first sync is not what this scenario measures
    for turn in range(repeats):
        expected = None
        for tool in tools:
            if first_sync and turn > 0:
                tool.reset()
                shutil.copytree(template, tool.folder, copy_function=shutil.copy2)
            if changes:
                change_files(tool, changes, turn)
            # What set-up just wrote goes to disk first: a user's files were
            # not all written a moment ago, and a tool that flushes before it
            # records (brindle) would otherwise pay for writing the copied tree.
            os.sync()
            figures[tool.name].append(tool.run())
            expected = check_same(tool, expected)
    return {name: tuple(statistics.median(run[i] for run in runs) for i in range(3)) for name, runs in figures.items()}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--scale", type=float, default=1.0)
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    n = lambda full: max(100, int(full * args.scale))
    work = tempfile.mkdtemp(prefix="brindle-whole-", dir=os.environ.get("BRINDLE_BENCH_WORK", "/var/tmp"))
    rows = []
    load_before = os.getloadavg()
    try:
        for base in ("brindle", "unison", "rclone"):
            os.makedirs(os.path.join(work, base))
        tools = [Brindle(args.build, os.path.join(work, "brindle")), Unison(os.path.join(work, "unison")),
                 Rclone(os.path.join(work, "rclone"))]
        # A photo folder: every file in one folder, where a cost per file
        # that grows with the folder's size shows.
        plans = [("(a) first sync onto an empty drive", n(10000), (1024, 65536), 2, True, 0),
                 ("(a) first sync, all in one folder", n(10000), (1, 2048), n(10000), True, 0),
                 ("(b) nothing changed", n(20000), (1, 2048), 2, False, 0),
                 ("(b) nothing changed", n(100000), (1, 2048), 2, False, 0),
                 ("(c) 100 changes per side", n(100000), (1, 2048), 2, False, 100)]
        for title, count, sizes, per_folder, first_sync, changes in plans:
            template = os.path.join(work, "template")
            if os.path.exists(template):
                os.makedirs(os.path.join(work, "trash"), exist_ok=True)
                os.rename(template, tempfile.mkdtemp(dir=os.path.join(work, "trash")))
            build_tree(template, count, sizes, per_folder, count)
            result = scenario(tools, template, args.repeats, first_sync, changes)
            rows.append((title, count, result))
            print(title, count, result, flush=True)
        for tool in tools:
            tool.close()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    write_table(rows, args, load_before)


def write_table(rows, args, load_before):
    brindle, others = Brindle.name, (Unison.name, Rclone.name)
    lines = ["## Whole process: brindle --sync-once against unison and rclone bisync", "",
             "Each tool syncs a folder with a drive folder on the same disk, alternately on identical trees (2 files "
             "per folder, 1 B–2 KB; (a) 1–64 KB; the second (a) has every file, 1 B–2 KB, in one folder); every tool ended with identical trees; what the set-up wrote is flushed to disk before each timed run, and no tree is deleted before the last run. Medians of %d runs; peak "
             "memory is the syncing process's own (brindle's stand-in server runs apart). Scale %g of the full "
             "sizes. Machine: %s, %d cores, Linux %s. Date: %s." % (
                 args.repeats, args.scale, platform.processor() or platform.machine(), os.cpu_count(),
                 platform.release(), time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())) +
             " Load average before: %.2f, after: %.2f (wall times include waiting for a core; CPU times do not)." % (
                 load_before[0], os.getloadavg()[0]), "",
             "| scenario | files | tool | wall (s) | CPU (s) | peak memory (MB) | wall vs brindle | CPU vs brindle | "
             "memory vs brindle |", "|---|---:|---|---:|---:|---:|---:|---:|---:|"]
    for title, count, result in rows:
        mine = result[brindle]
        for name in (brindle,) + others:
            wall, cpu, rss = result[name]
            ratios = "– | – | –" if name == brindle else "%.2f× | %.2f× | %.2f×" % (wall / mine[0], cpu / max(mine[1], 1e-3),
                                                                                  rss / mine[2])
            lines.append("| %s | %d | %s | %.3f | %.3f | %.1f | %s |" % (title, count, name, wall, cpu, rss, ratios))
    lines += ["", "Goal: brindle ≥ 2.5× faster than both in (a), ≥ 2× faster than unison in (b) and (c), and under "
              "1 kB of memory per file at 100,000 files (ratios above 1 favour brindle)."]
    table = "\n".join(lines) + "\n"
    print(table)
    results = os.environ.get("BRINDLE_BENCH_RESULTS")
    if results:
        with open(os.path.join(results, "whole_process.md"), "w") as out:
            out.write(table)


if __name__ == "__main__":
    main()
