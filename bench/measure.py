#!/usr/bin/env python3
"""Runs a command once and prints "WALL_SECONDS CPU_SECONDS PEAK_RSS_KIB".

Usage: measure.py COMMAND [ARGUMENT...]

Wall time is taken around the run, CPU time (user + system) from wait4 with
microseconds. Peak resident memory comes from /usr/bin/time, which runs the
command: a child forked from this interpreter would start with the
interpreter's own resident pages counted as its peak. The command's standard
output is discarded; a non-zero exit status ends this script with an error.
"""

import os
import subprocess
import sys
import tempfile
import time


def main():
    with tempfile.NamedTemporaryFile(mode="r") as rss_file:
        command = ["/usr/bin/time", "-f", "%M", "-o", rss_file.name] + sys.argv[1:]
        start = time.perf_counter()
        child = subprocess.Popen(command, stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
        child.returncode = os.waitstatus_to_exitcode(status)
        if child.returncode != 0:
            sys.exit("measure.py: %s exited with %d" % (sys.argv[1], child.returncode))
        rss = int(rss_file.read().split()[-1])
    print("%.6f %.6f %d" % (wall, usage.ru_utime + usage.ru_stime, rss))


if __name__ == "__main__":
    main()
