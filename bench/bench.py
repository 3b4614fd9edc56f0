#!/usr/bin/env python3
"""Times qz against its peers on the benchmark corpus and prints tables: the generated corpus
against the single-threaded peers, then the tree with no terminal at all and a common word
against the read floor, then a many-small-files tree, warm and (as root) cold,
against the read floor (bench/read_floor) and rg with one, all and eight threads, with the
user and system time of each, then qz, rg and rg -j8 over a slow file system (bench/slow_fs,
mounted in a private mount namespace where /dev/fuse exists), then the peak memory of two large
directories, read ahead and read the plain way (bench/qz_reads). The large files are measured
against a pass of memchr over their mapping as well (bench/map_floor).

  bench.py QZ_BINARY CORPUS_DIR [RUNS]

qz runs with a terminal as standard output but no controlling terminal, so every report is
drawn and no key is awaited (but in the no-terminal case, where its output is a pipe). Runs alternate between the tools; the page cache is warmed first.
"""
import os
import re
import select
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ABSENT = "qzabsentneedle"
RARE = "Zanzibarite"
COMMON = "ing"  # about one occurrence in 180 bytes of the corpus text


# A child of this process inherits its peak memory: the kernel counts the memory of the Python
# process it was forked from, and keeps that figure across exec. The peak of qz alone is what
# GNU time reports of the child it starts itself.
GNU_TIME = "/usr/bin/time"


def run_qz(qz, args, cwd, peak=False):
    """Runs qz on a pseudo-terminal it does not control; returns (seconds, output, peak memory
    KB, (user s, system s)). The peak is qz's own only with `peak` (qz then runs under GNU
    time), else None."""
    measured = tempfile.NamedTemporaryFile(suffix=".peak") if peak else None
    wrapper = [GNU_TIME, "-f", "%M", "-o", measured.name] if measured else []
    master, slave = os.openpty()
    out = bytearray()
    done = threading.Event()

    def drain():
        # Reads until the child has ended and the terminal has nothing more to give.
        while True:
            ready, _, _ = select.select([master], [], [], 0.1)
            if not ready:
                if done.is_set():
                    return
                continue
            try:
                data = os.read(master, 1 << 16)
            except OSError:
                return
            if not data:
                return
            out.extend(data)

    reader = threading.Thread(target=drain)
    reader.start()
    start = time.perf_counter()
    proc = subprocess.Popen(wrapper + [qz] + args, cwd=cwd, stdin=subprocess.DEVNULL,
                            stdout=slave, stderr=slave, start_new_session=True)
    _, _, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    proc.returncode = 0
    os.close(slave)
    done.set()
    reader.join()
    os.close(master)
    kb = None
    if measured:
        with open(measured.name) as f:
            kb = int(f.read().split()[-1])
        measured.close()
    return elapsed, bytes(out), kb, (usage.ru_utime, usage.ru_stime)


def run_peer(cmd, cwd, usage_out=None):
    """Runs a peer with its output on a pipe; returns (seconds, output). `usage_out`, when
    given, gets the run's (user s, system s) appended."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    out = proc.stdout.read()
    _, _, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    proc.returncode = 0
    proc.stdout.close()
    if usage_out is not None:
        usage_out.append((usage.ru_utime, usage.ru_stime))
    return elapsed, out


def qz_occurrences(output):
    m = re.search(rb"(\d+) occurrences? of the text", output)
    return int(m.group(1)) if m else None


def peer_count(output):
    """Sum of the per-file counts that `-c` prints (PATH:COUNT, or COUNT for one file)."""
    total = 0
    for line in output.decode(errors="replace").splitlines():
        total += int(line.rsplit(":", 1)[-1])
    return total


def peers(needle, target, is_tree):
    rec = ["-r"] if is_tree else []
    return {
        "rg -j1": ["rg", "-uuu", "-a", "-i", "-F", "-c", "-j1", needle, target],
        "rg": ["rg", "-uuu", "-a", "-i", "-F", "-c", needle, target],
        "rg -j8": ["rg", "-uuu", "-a", "-i", "-F", "-c", "-j8", needle, target],
        "grep": ["grep"] + rec + ["-a", "-i", "-F", "-c", needle, target],
        "ugrep -J1": ["ugrep"] + rec + ["-a", "-i", "-F", "-c", "-J1", needle, target],
    }


def drop_page_cache():
    """Empties the page cache (root only); False when it cannot."""
    try:
        os.sync()
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3\n")
        return True
    except OSError:
        return False


def measure(qz, corpus, name, file_spec, needle, target, is_tree, runs, floor=None, cold=False,
            only=None, with_peak=True, floor_name="read floor", pause=0):
    """Alternates qz, the floor (a command, when given; named `floor_name`) and each peer;
    returns the medians, the counts (None for the floor), qz's peak memory (of one more run, not timed; None without
    `with_peak`) and the median (user s, system s) of each tool. Cold runs drop the page cache
    before each run; the first round of runs is not counted. Each run waits `pause` seconds
    first."""
    tools = {"qz": None}
    if floor:
        tools[floor_name] = [floor, target]
    tools.update({k: v for k, v in peers(needle, target, is_tree).items()
                  if shutil.which(v[0]) and (only is None or k in only)})
    times = {k: [] for k in tools}
    counts = {}
    usage = {k: [] for k in tools}
    for i in range(runs + 1):  # the first round warms the cache and is not counted
        for tool, cmd in tools.items():
            time.sleep(pause)
            if cold:
                drop_page_cache()
            if tool == floor_name:
                t, _ = run_peer(cmd, corpus, usage[tool] if i else None)
                counts[tool] = None
            elif tool == "qz":
                t, out, _, used = run_qz(qz, [file_spec, needle] + (["/s"] if is_tree else []),
                                         corpus)
                counts[tool] = qz_occurrences(out)
                if i:
                    usage[tool].append(used)
            else:
                t, out = run_peer(cmd, corpus, usage[tool] if i else None)
                counts[tool] = peer_count(out)
            if i:
                times[tool].append(t)
    peak = None
    if with_peak:
        if cold:
            drop_page_cache()
        peak = run_qz(qz, [file_spec, needle] + (["/s"] if is_tree else []), corpus, peak=True)[2]
    medians = {k: statistics.median(v) for k, v in times.items()}
    cpu = {k: (statistics.median(u for u, _ in v), statistics.median(s for _, s in v))
           for k, v in usage.items() if v}
    return medians, counts, peak, cpu


def count_writes(qz, args, cwd):
    """write() calls qz makes to standard output, under strace, and how long the run took."""
    if not shutil.which("strace"):
        return None, None
    with tempfile.NamedTemporaryFile(suffix=".strace") as log:
        master, slave = os.openpty()
        stop = threading.Event()

        def drain():
            while not stop.is_set():
                try:
                    if not os.read(master, 1 << 16):
                        return
                except OSError:
                    return

        reader = threading.Thread(target=drain)
        reader.start()
        start = time.perf_counter()
        subprocess.run(["strace", "-f", "-e", "trace=write", "-o", log.name, qz] + args, cwd=cwd,
                       stdin=subprocess.DEVNULL, stdout=slave, stderr=subprocess.DEVNULL,
                       start_new_session=True)
        elapsed = time.perf_counter() - start
        os.close(slave)
        stop.set()
        reader.join()
        os.close(master)
        writes = sum(1 for line in open(log.name) if re.search(r"write\(1,", line))
    return writes, elapsed


def small_files_tree(corpus):
    """A many-small-files tree: a copy of /usr/include and /usr/share without their links, made
    once; generated from the corpus text when neither is there. Returns (path, what it is)."""
    path = os.path.join(corpus, "small")
    sources = [d for d in ("/usr/include", "/usr/share") if os.path.isdir(d)]
    what = "copy of " + " and ".join(sources) if sources else "generated"
    if not os.path.isdir(path):
        os.makedirs(path + ".tmp", exist_ok=True)
        if sources:
            for d in sources:
                subprocess.run(["cp", "-a", d, path + ".tmp/"], check=False)
            subprocess.run(["find", path + ".tmp", "-type", "l", "-delete"], check=False)
        else:
            for i in range(65000):
                sub = os.path.join(path + ".tmp", str(i // 500))
                os.makedirs(sub, exist_ok=True)
                with open(os.path.join(sub, f"f{i}.txt"), "w") as f:
                    f.write(("lorem ipsum dolor sit amet\n" * (1 + i % 600)))
        os.rename(path + ".tmp", path)
    files = sum(len(fs) for _, _, fs in os.walk(path))
    size = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(path) for f in fs)
    return path, f"{what}: {files} files, {size / 1e9:.2f} GB"


def links_tree(corpus):
    """One directory of 20,000 entries and 300 links to it."""
    path = os.path.join(corpus, "links")
    if not os.path.isdir(path):
        os.makedirs(os.path.join(path + ".tmp", "data"))
        for i in range(20000):
            open(os.path.join(path + ".tmp", "data", f"e{i}.txt"), "w").close()
        os.makedirs(os.path.join(path + ".tmp", "via"))
        for i in range(300):
            os.symlink("../data", os.path.join(path + ".tmp", "via", f"l{i:03}"))
        os.rename(path + ".tmp", path)
    return path


def pipeline_table(qz, floor, corpus, runs):
    """The many-small-files tree, warm and cold: qz against the read floor and rg."""
    small, what = small_files_tree(corpus)
    print(f"\nmany small files ({what}), absent needle, {runs} runs each (median)")
    print(f"{'case':12} {'qz':>8} {'read floor':>11} {'rg -j1':>8} {'rg':>8} {'rg -j8':>8} "
          f"{'qz/floor':>9} {'qz/rg':>7} {'qz/rg -j8':>10} {'qz/rg -j1':>10}")
    cold_ok = drop_page_cache()
    for cold in (False, True):
        if cold and not cold_ok:
            print("cold         skipped: dropping the page cache needs root")
            continue
        medians, _, maxrss, cpu = measure(qz, small, "small", "*.*", ABSENT, ".", True, runs,
                                          floor=floor, cold=cold, only={"rg -j1", "rg", "rg -j8"})
        m = lambda k: medians.get(k)
        fmt = lambda v: f"{v:8.3f}" if v is not None else f"{'-':>8}"
        ratio = lambda k: f"{m('qz') / m(k):.2f}" if m(k) else "-"
        print(f"{'cold' if cold else 'warm':12} {fmt(m('qz'))} {fmt(m('read floor')):>11} "
              f"{fmt(m('rg -j1'))} {fmt(m('rg'))} {fmt(m('rg -j8'))} {ratio('read floor'):>9} "
              f"{ratio('rg'):>7} {ratio('rg -j8'):>10} {ratio('rg -j1'):>10}   (qz peak {maxrss} KB)")
        print_cpu(cpu)

    links = links_tree(corpus)
    alone, via = [], []
    for i in range(runs + 1):
        a = run_qz(qz, ["data/*.*", ABSENT, "/s"], links)[0]
        v = run_qz(qz, ["*.*", ABSENT, "/s"], links)[0]
        if i:
            alone.append(a)
            via.append(v)
    a, v = statistics.median(alone), statistics.median(via)
    print(f"300 links to a 20,000-entry directory: {v:.3f} s, the directory alone {a:.3f} s "
          f"({v / a:.2f}x)")


def print_cpu(cpu):
    """The median user and system time of each tool, one line each."""
    for tool, (user, system) in cpu.items():
        print(f"{'':12} {tool:10} user {user:.3f} s, system {system:.3f} s")


SLOW_DELAY_MS = 2
SLOW_FILES = 800


def slow_source(corpus):
    """The tree served through the slow file system: the first SLOW_FILES files of the corpus
    tree in sorted order, in their directories, made once."""
    path = os.path.join(corpus, "slow-source")
    if not os.path.isdir(path):
        tree = os.path.join(corpus, "tree")
        picked = []
        for d, dirs, files in os.walk(tree):
            dirs.sort()
            picked += [os.path.join(d, f) for f in sorted(files)]
            if len(picked) >= SLOW_FILES:
                break
        for f in picked[:SLOW_FILES]:
            to = os.path.join(path + ".tmp", os.path.relpath(f, tree))
            os.makedirs(os.path.dirname(to), exist_ok=True)
            shutil.copyfile(f, to)
        os.rename(path + ".tmp", path)
    return path


def slow_fs_table(qz, slow_fs, corpus, runs):
    """qz, rg -j8 and rg on all cores over a file system that waits SLOW_DELAY_MS before it
    answers each request: bench/slow_fs, mounted in a mount namespace of its own (run by this
    script again, under unshare), so that nothing outside sees it. Skipped, with a word why,
    where it cannot be mounted."""
    why = None
    if not slow_fs:
        why = "bench/slow_fs was not built (it needs libfuse3-dev)"
    elif not os.path.exists("/dev/fuse"):
        why = "there is no /dev/fuse"
    elif not shutil.which("unshare"):
        why = "there is no unshare"
    if why:
        print(f"\nslow file system skipped: {why}")
        return
    source = slow_source(corpus)
    # As root a private mount namespace is enough; otherwise a user namespace too, in which
    # this user is root and may mount FUSE.
    unshare = ["unshare", "-m", "--propagation", "private"]
    if os.geteuid() != 0:
        unshare.insert(1, "-r")
    result = subprocess.run(unshare + [sys.executable, os.path.abspath(__file__), "--slow-fs", qz,
                                       slow_fs, source, str(runs)])
    if result.returncode != 0:
        print(f"slow file system skipped: it could not be mounted ({' '.join(unshare)})")


def slow_fs_inside(qz, slow_fs, source, runs):
    """The slow file system's table, in the private mount namespace: mounts it, measures,
    unmounts. Returns the exit status."""
    mount = tempfile.mkdtemp(prefix="qz-slow-")
    daemon = subprocess.Popen([slow_fs, source, mount, str(SLOW_DELAY_MS), "-o", "max_threads=32"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        if os.path.ismount(mount) or daemon.poll() is not None:
            break
        time.sleep(0.05)
    if not os.path.ismount(mount):
        daemon.kill()
        daemon.wait()
        os.rmdir(mount)
        return 1
    try:
        files = sum(len(fs) for _, _, fs in os.walk(source))
        print(f"\nslow file system ({SLOW_DELAY_MS} ms per request, FUSE; {files} files of the "
              f"corpus tree), absent needle, {runs} runs each (median)")
        # Each run a little over a second after the last, when what the kernel kept of names
        # and attributes has expired.
        medians, counts, _, cpu = measure(qz, mount, "slow", "*.*", ABSENT, ".", True, runs,
                                          only={"rg", "rg -j8"}, with_peak=False, pause=1.1)
        print(f"{'case':12} {'qz':>8} {'rg':>8} {'rg -j8':>8} {'qz/rg':>7} {'qz/rg -j8':>10}")
        m = lambda k: medians.get(k)
        fmt = lambda v: f"{v:8.3f}" if v is not None else f"{'-':>8}"
        ratio = lambda k: f"{m('qz') / m(k):.2f}" if m(k) else "-"
        print(f"{'slow':12} {fmt(m('qz'))} {fmt(m('rg'))} {fmt(m('rg -j8'))} {ratio('rg'):>7} "
              f"{ratio('rg -j8'):>10}")
        print_cpu(cpu)
        if len(set(counts.values())) > 1:
            print(f"MISMATCH on the slow file system: {counts}")
    finally:
        subprocess.run(["umount", mount], check=False)
        daemon.wait()
        os.rmdir(mount)
    return 0


def wide_directory(corpus, name, count, name_of):
    """One directory of `count` empty files named by `name_of(i)`, made once."""
    path = os.path.join(corpus, name)
    if not os.path.isdir(path):
        os.makedirs(path + ".tmp", exist_ok=True)
        for i in range(count):
            os.close(os.open(os.path.join(path + ".tmp", name_of(i)), os.O_CREAT | os.O_WRONLY,
                             0o644))
        os.rename(path + ".tmp", path)
    return path


def run_unattended(qz, args, cwd):
    """Runs qz with no terminal at all: standard output a pipe, no controlling terminal (a
    session of its own), so nothing it reports can be seen or answered. Returns (seconds,
    output)."""
    start = time.perf_counter()
    proc = subprocess.Popen([qz] + args, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, start_new_session=True)
    out = proc.stdout.read()
    os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    proc.returncode = 0
    proc.stdout.close()
    return elapsed, out


def unattended_table(qz, floor, corpus, runs):
    """The tree with no terminal at all and a common word: every occurrence is counted and
    none can be shown, so the run should cost little more than reading the files."""
    occurrences = 0
    for d, _, fs in os.walk(os.path.join(corpus, "tree")):
        for f in fs:
            with open(os.path.join(d, f), "rb") as data:
                occurrences += data.read().lower().count(COMMON.encode())
    qz_times, floor_times, failures = [], [], []
    for i in range(runs + 1):  # the first round warms the cache and is not counted
        t, out = run_unattended(qz, ["tree/*.*", COMMON, "/s"], corpus)
        if out:
            failures.append("qz wrote to a pipe with no terminal")
        if i:
            qz_times.append(t)
        if floor:
            t, _ = run_peer([floor, "tree"], corpus)
            if i:
                floor_times.append(t)
    q = statistics.median(qz_times)
    line = (f"\nno terminal, common word ({COMMON!r}, {occurrences} occurrences in the tree): "
            f"qz {q:.3f} s")
    if floor_times:
        f = statistics.median(floor_times)
        line += f", read floor {f:.3f} s, qz/floor {q / f:.2f}"
    print(line + f" ({runs} runs each, median)")
    return failures


def memory_table(qz, reads, corpus):
    """Peak memory of qz on two wide directories, with the read-ahead (the tool itself) and
    without it (`qz_reads plain`), one run each after a warm-up."""
    long_name = lambda i: f"{i:07}".ljust(247, "x") + ".txt"
    cases = [
        ("1,000,000 empty files", wide_directory(corpus, "wide-empty", 1000000, lambda i: f"f{i:07}.txt")),
        ("300,000 names of 251 bytes", wide_directory(corpus, "wide-long", 300000, long_name)),
    ]
    print("\none directory of many entries, absent needle: peak memory")
    print(f"{'case':28} {'way':12} {'peak KB':>9} {'bytes/entry':>12} {'s':>7} {'user s':>7} {'sys s':>7}")
    for title, path in cases:
        entries = len(os.listdir(path))
        ways = [("read ahead", qz, [])]
        if reads:
            ways.append(("plain", reads, ["plain"]))
        for way, binary, first in ways:
            run_qz(binary, first + ["*.*", ABSENT], path)  # warms the cache
            t, _, maxrss, (user, system) = run_qz(binary, first + ["*.*", ABSENT], path, peak=True)
            print(f"{title:28} {way:12} {maxrss:9} {maxrss * 1024 / entries:12.0f} {t:7.2f} "
                  f"{user:7.2f} {system:7.2f}")


def main():
    if sys.argv[1] == "--slow-fs":
        sys.exit(slow_fs_inside(*sys.argv[2:5], int(sys.argv[5])))
    qz = os.path.abspath(sys.argv[1])
    corpus = os.path.abspath(sys.argv[2])
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    tree_bytes = sum(os.path.getsize(os.path.join(d, f))
                     for d, _, fs in os.walk(os.path.join(corpus, "tree")) for f in fs)
    largest = max(os.path.getsize(os.path.join(d, f))
                  for d, _, fs in os.walk(os.path.join(corpus, "tree")) for f in fs)

    cases = [
        ("tree, absent needle", "tree/*.*", ABSENT, "tree", True),
        ("tree, rare needle", "tree/*.*", RARE, "tree", True),
        ("1 GiB LF file, absent needle", "big-lf.txt", ABSENT, "big-lf.txt", False),
        ("1 GiB CR LF file, absent needle", "big-crlf.txt", ABSENT, "big-crlf.txt", False),
    ]
    print(f"qz benchmark, {runs} runs each (median), {time.strftime('%Y-%m-%d')}, "
          f"{os.cpu_count()} cores")
    print(f"{'case':34} {'tool':10} {'median s':>9} {'qz / tool':>10} {'count':>7}")
    failures = []
    tree_rss = None
    map_floor = os.path.join(os.path.dirname(qz), "bench", "map_floor")
    map_floor = map_floor if os.path.exists(map_floor) else None
    for title, file_spec, needle, target, is_tree in cases:
        # A large file is measured against a pass of memchr over its mapping, too.
        medians, counts, maxrss, _ = measure(qz, corpus, title, file_spec, needle, target, is_tree,
                                             runs, floor=None if is_tree else map_floor,
                                             floor_name="map floor")
        if is_tree:
            tree_rss = max(tree_rss or 0, maxrss)
        for tool, median in medians.items():
            ratio = "" if tool == "qz" else f"{medians['qz'] / median:10.2f}"
            print(f"{title:34} {tool:10} {median:9.3f} {ratio:>10} {counts[tool]!s:>7}")
            if counts[tool] is not None and counts[tool] != counts["qz"]:
                failures.append(f"{title}: {tool} counts {counts[tool]}, qz {counts['qz']}")

    limit_kb = (largest + (32 << 20)) // 1024
    print(f"peak memory on the tree: {tree_rss} KB (largest file + 32 MiB = {limit_kb} KB)")
    if tree_rss > limit_kb:
        failures.append("peak memory on the tree over the limit")

    # Write calls: one file with many matches and no keyboard, so every report is drawn.
    with tempfile.TemporaryDirectory() as tmp:
        reports = 200
        with open(os.path.join(tmp, "m.txt"), "w") as f:
            f.write(("filler text " * 30 + "needle\n") * reports)
        writes, _ = count_writes(qz, ["m.txt", "needle"], tmp)
        if writes is not None:
            print(f"write calls per match report: {writes / reports:.2f} ({writes} for {reports})")
    writes, elapsed = count_writes(qz, ["tree/*.*", ABSENT, "/s"], corpus)
    if writes is not None:
        print(f"walk with no match to a terminal: {writes} write calls in {elapsed:.2f} s under "
              f"strace, {writes / (elapsed / 0.05):.2f} per 50 ms")
    floor = os.path.join(os.path.dirname(qz), "bench", "read_floor")
    failures += unattended_table(qz, floor if os.path.exists(floor) else None, corpus, runs)
    pipeline_table(qz, floor if os.path.exists(floor) else None, corpus, runs)
    slow_fs = os.path.join(os.path.dirname(qz), "bench", "slow_fs")
    slow_fs_table(qz, slow_fs if os.path.exists(slow_fs) else None, corpus, runs)
    reads = os.path.join(os.path.dirname(qz), "bench", "qz_reads")
    memory_table(qz, reads if os.path.exists(reads) else None, corpus)
    if failures:
        print("MISMATCH: " + "; ".join(failures))
        sys.exit(1)


if __name__ == "__main__":
    main()
