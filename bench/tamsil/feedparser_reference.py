#!/usr/bin/env python3
"""Reference for bench_tamsilconversion: processor seconds of feedparser's best parse of each file."""
import sys
import time

import feedparser


def best_parse(path, budget=1.0):
    with open(path, 'rb') as feed:
        body = feed.read()
    best = None
    runs = 0
    started = time.perf_counter()
    while runs < 3 or time.perf_counter() - started < budget:
        start = time.process_time()
        feedparser.parse(body)
        elapsed = time.process_time() - start
        best = elapsed if best is None else min(best, elapsed)
        runs += 1
    return best


for path in sys.argv[1:]:
    print(path, best_parse(path))
