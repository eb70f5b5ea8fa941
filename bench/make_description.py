#!/usr/bin/env python3
"""Writes the description of a synthetic board for make_board.

Usage: make_description.py RECORDS SEED LIST_DIRECTORY

One base, "big", of RECORDS files: about 5% excluded, names of 8 to 70 bytes
in mixed case, sizes from 0 to 2 GiB less one byte (spread over every digit
count), and 1 to 10 description lines of 20 to 60 bytes. The same arguments
always give the same text.
"""

import random
import string
import sys

NAME_BYTES = string.ascii_letters + string.digits + "-_"
WORDS = ("archive", "utility", "shareware", "BBS", "door", "game", "v2.1",
         "update", "patch", "docs", "ANSI", "editor", "terminal", "modem",
         "driver", "fonts", "(c)", "1994", "requires", "386", "EGA/VGA",
         "source", "included", "freeware", "ZIP", "demo", "Pascal", "C++")


def name(rng):
    stem = "".join(rng.choices(NAME_BYTES, k=rng.randint(4, 66)))
    return stem + rng.choice((".ZIP", ".zip", ".Arj", ".EXE", ".txt", ".LZH"))


def description_line(rng):
    # Twenty words of at least three bytes make more than 60 bytes.
    text = " ".join(rng.choices(WORDS, k=20))[:rng.randint(20, 60)]
    return text[:-1] + "." if text.endswith(" ") else text


def main():
    records, seed, list_directory = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    rng = random.Random(seed)
    out = ["# synthetic board: %d records, seed %d" % (records, seed),
           "listdir " + list_directory, "base big"]
    for _ in range(records):
        size = min(int(2 ** rng.uniform(0, 31)), 2**31 - 1)
        flags = 4 if rng.random() < 0.05 else 0
        out.append("file %d %d %s" % (size, flags, name(rng)))
        for _ in range(rng.randint(1, 10)):
            out.append("desc " + description_line(rng))
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
