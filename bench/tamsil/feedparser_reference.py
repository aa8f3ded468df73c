#!/usr/bin/env python3
"""Reference for bench_tamsilconversion: seconds per feedparser parse of each file."""
import sys
import time

import feedparser


def seconds_per_parse(path, budget=1.0):
    with open(path, 'rb') as feed:
        body = feed.read()
    runs = 0
    start = time.perf_counter()
    while True:
        feedparser.parse(body)
        runs += 1
        elapsed = time.perf_counter() - start
        if elapsed >= budget and runs >= 3:
            return elapsed / runs


for path in sys.argv[1:]:
    print(path, seconds_per_parse(path))
