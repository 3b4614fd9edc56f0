#!/usr/bin/env python3
"""Writes the benchmark corpus: the same bytes on every run and machine.

  tree/       about 1 GB in tens of thousands of files of realistic sizes, nested a few levels
  big-lf.txt  1 GiB of text with LF line ends
  big-crlf.txt  the same text with CR LF line ends

The text is made of words that are all shorter than the absent needle and hold none of its
letters in a row, so that needle occurs nowhere; the rare needle is planted a handful of times.
"""
import os
import random
import sys

ABSENT = "qzabsentneedle"
RARE = "Zanzibarite"
RARE_PLANTS = 9
TREE_BYTES = 1_000_000_000
BIG_BYTES = 1 << 30
SEED = 20261207


def make_pool(rng, size):
    """A stretch of text and code-like lines to cut files from."""
    syllables = ["ka", "lo", "mi", "ne", "ru", "ta", "be", "do", "fi", "go", "hu", "ja", "pe",
                 "si", "vo", "we", "ya", "ce", "xi", "un", "or", "al", "en", "it", "st", "th",
                 "ing", "ion", "er", "an", "ed", "ch", "sh", "ow", "ay", "ee", "ou", "br", "pl"]
    words = set()
    while len(words) < 3000:
        w = "".join(rng.choice(syllables) for _ in range(rng.randint(1, 4)))
        if len(w) < len(ABSENT) and "qz" not in w:
            words.add(w)
    words = sorted(words)
    weights = [1.0 / (i + 1) for i in range(len(words))]  # a few words are common, most rare
    punct = [" ", " ", " ", " ", ", ", ". ", "; ", " (", ") ", " = ", "_", "->", " {", "} "]
    lines = []
    total = 0
    while total < size:
        n = rng.randint(3, 16)
        parts = rng.choices(words, weights, k=n)
        line = "".join(p + rng.choice(punct) for p in parts).rstrip()
        if rng.random() < 0.3:
            line = "    " * rng.randint(1, 3) + line
        if rng.random() < 0.05:
            line = line.capitalize() + " " + str(rng.randint(0, 99999))
        lines.append(line)
        total += len(line) + 1
    return ("\n".join(lines) + "\n").encode()


def file_sizes(rng, total):
    """Sizes like a source tree's: mostly a few KB, some tens of KB, a few MB."""
    sizes = []
    while sum(sizes) < total:
        r = rng.random()
        if r < 0.6:
            s = int(rng.lognormvariate(8.3, 1.0))      # around 4 KB
        elif r < 0.97:
            s = int(rng.lognormvariate(10.0, 1.0))     # around 22 KB
        else:
            s = int(rng.lognormvariate(13.0, 0.8))     # around 440 KB
        sizes.append(min(max(s, 0), 8 << 20))
    return sizes


def write_tree(rng, pool, root):
    sizes = file_sizes(rng, TREE_BYTES)
    plants = set(rng.sample(range(len(sizes)), RARE_PLANTS))
    dirs = [""]
    for i, size in enumerate(sizes):
        if i % 40 == 0:  # a new directory now and then, nested under an earlier one
            parent = rng.choice(dirs[-200:])
            depth = parent.count("/")
            name = f"d{len(dirs):05d}"
            d = f"{parent}/{name}" if parent and depth < 6 else name
            dirs.append(d)
            os.makedirs(os.path.join(root, d), exist_ok=True)
        d = rng.choice(dirs[-50:])
        ext = rng.choice([".c", ".h", ".txt", ".py", ".md", ".log", ".json", ".rs"])
        path = os.path.join(root, d, f"f{i:06d}{ext}")
        start = rng.randrange(0, len(pool) - size - 1)
        data = pool[start:start + size]
        if i in plants:
            at = rng.randrange(0, len(data) + 1)
            data = data[:at] + b" " + RARE.encode() + b" " + data[at:]
        with open(path, "wb") as f:
            f.write(data)
    return len(sizes)


def write_big(pool, lf_path, crlf_path):
    """1 GiB of text with LF line ends, and the same text with CR LF."""
    with open(lf_path, "wb") as lf, open(crlf_path, "wb") as crlf:
        written = 0
        while written < BIG_BYTES:
            piece = pool[:BIG_BYTES - written]
            lf.write(piece)
            crlf.write(piece.replace(b"\n", b"\r\n"))
            written += len(piece)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "bench-corpus"
    stamp = os.path.join(out, ".complete")
    if os.path.exists(stamp):
        print(f"corpus already in {out}")
        return
    rng = random.Random(SEED)
    pool = make_pool(rng, 64 << 20)
    assert ABSENT.encode() not in pool.lower() and RARE.lower().encode() not in pool.lower()
    os.makedirs(out, exist_ok=True)
    files = write_tree(rng, pool, os.path.join(out, "tree"))
    write_big(pool, os.path.join(out, "big-lf.txt"), os.path.join(out, "big-crlf.txt"))
    with open(stamp, "w") as f:
        f.write(f"{files} files\n")
    print(f"corpus written to {out}: {files} files in tree/, big-lf.txt, big-crlf.txt")


if __name__ == "__main__":
    main()
