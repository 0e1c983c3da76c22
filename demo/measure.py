"""Measures the demo's list endpoints over HTTP, as a client on this machine sees them.

A few warm-up requests per endpoint, then sequential GETs on fresh connections (the way a sync
gunicorn worker serves them), the endpoints taking turns ten requests at a time, until each made
REQUESTS or SECONDS per endpoint passed, whichever comes first. Reports latency percentiles,
requests per second, the server's own time (its Server-Timing header: routing, query,
serialization and rendering) and the size of the body.
Only loopback addresses are accepted.

    python demo/measure.py http://127.0.0.1:8000 [--limit 1000] [--requests 200] [--seconds 8]
"""

import argparse
import http.client
import ipaddress
import json
import math
import socket
import statistics
import sys
import time
import urllib.parse


def loopback_only(url):
    parts = urllib.parse.urlsplit(url)
    for *_, address in socket.getaddrinfo(
        parts.hostname, parts.port or 80, proto=socket.IPPROTO_TCP
    ):
        if not ipaddress.ip_address(address[0]).is_loopback:
            raise SystemExit(f"refusing to measure {url}: {address[0]} is not a loopback address")
    return parts


def get(parts, path):
    connection = http.client.HTTPConnection(parts.hostname, parts.port or 80, timeout=30)
    try:
        began = time.perf_counter()
        connection.request("GET", path, headers={"Accept": "application/json"})
        response = connection.getresponse()
        body = response.read()
        elapsed = time.perf_counter() - began
    finally:
        connection.close()
    if response.status != 200:
        raise SystemExit(f"GET {path}: HTTP {response.status}: {body[:200]!r}")
    timing = response.getheader("Server-Timing", "")
    server = float(timing.split("dur=")[1]) / 1e3 if "dur=" in timing else float("nan")
    return elapsed, server, body


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def measure(parts, endpoints, limit, requests, seconds, warmup=5, burst=10):
    """Every endpoint in turn, `burst` requests at a time, so that whatever else the machine is
    doing weighs on all of them alike; until each made `requests` or the time is up."""
    paths = [f"{endpoint['path']}?limit={limit}" for endpoint in endpoints]
    for path in paths:
        for _ in range(warmup):
            get(parts, path)
    latencies = [[] for _ in endpoints]
    server_times = [[] for _ in endpoints]
    bodies = [b""] * len(endpoints)
    deadline = time.perf_counter() + seconds * len(endpoints)
    while time.perf_counter() < deadline and min(map(len, latencies)) < requests:
        for i, path in enumerate(paths):
            for _ in range(min(burst, requests - len(latencies[i]))):
                elapsed, server, bodies[i] = get(parts, path)
                latencies[i].append(elapsed)
                server_times[i].append(server)
    return [
        {
            "slug": endpoint["slug"],
            "name": endpoint["name"],
            "rows": len(json.loads(body)),
            "bytes": len(body),
            "requests": len(times),
            "p50_ms": percentile(times, 0.50) * 1e3,
            "p90_ms": percentile(times, 0.90) * 1e3,
            "server_ms": statistics.median(server) * 1e3,
            # A sequential client: its requests per second are those its requests took.
            "rps": len(times) / sum(times),
        }
        for endpoint, body, times, server in zip(endpoints, bodies, latencies, server_times)
    ]


COLUMNS = ["endpoint", "rows", "KiB", "p50 ms", "p90 ms", "server ms", "req/s", "vs DRF"]


def table(results):
    baseline = next((r for r in results if r["slug"] == "drf"), results[0])
    widths = [36, 5, 6, 8, 8, 9, 7, 7]
    header = " ".join(
        f"{name:{width}}" if i == 0 else f"{name:>{width}}"
        for i, (name, width) in enumerate(zip(COLUMNS, widths))
    )
    lines = [header, "-" * len(header)]
    for r in results:
        cells = [
            f"{r['rows']}",
            f"{r['bytes'] / 1024:.0f}",
            f"{r['p50_ms']:.2f}",
            f"{r['p90_ms']:.2f}",
            "-" if math.isnan(r["server_ms"]) else f"{r['server_ms']:.2f}",
            f"{r['rps']:.1f}",
            f"{r['rps'] / baseline['rps']:.2f}x",
        ]
        lines.append(
            f"{r['name']:{widths[0]}} "
            + " ".join(f"{cell:>{width}}" for cell, width in zip(cells, widths[1:]))
        )
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("base", help="the server, e.g. http://127.0.0.1:8000")
    parser.add_argument("--limit", type=int, default=1000, help="rows per response")
    parser.add_argument("--requests", type=int, default=200, help="at most this many per endpoint")
    parser.add_argument("--seconds", type=float, default=8.0, help="at most this long per endpoint")
    parser.add_argument("--json", help="also write the results here")
    args = parser.parse_args()

    parts = loopback_only(args.base)
    _, _, listing = get(parts, "/api/")
    endpoints = json.loads(listing)
    results = measure(parts, endpoints, args.limit, args.requests, args.seconds)
    for result in results:
        print(f"  {result['slug']}: {result['requests']} requests", file=sys.stderr)
    text = table(results)
    print(text)
    if args.json:
        with open(args.json, "w") as out:
            json.dump({"text": text, "results": results}, out, indent=1)


if __name__ == "__main__":
    main()
