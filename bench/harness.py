"""Timing and tables for the benchmark: contenders of one case run interleaved in one process,
repeated, and are reported by their minimum and median against the case's baseline."""

from __future__ import annotations

import gc
import mmap
import platform
import resource
import statistics
import time
from dataclasses import dataclass, field
from typing import Any, Callable


class Skip(Exception):
    """A contender or case that cannot run here (a package or an API is absent)."""


@dataclass
class Contender:
    name: str
    # Called with the case's input; returns the output (compared with the baseline's when
    # `same` is set, so that a contender that gives other results cannot look fast).
    run: Callable[[Any], Any]
    same: bool = False
    note: str = ""


@dataclass
class Case:
    title: str
    # Builds the input for a size; may raise Skip.
    make_input: Callable[[int], Any]
    # The first contender is the baseline of the ratios.
    contenders: list[Contender]
    sizes: tuple[int, ...]
    unit: str = "object"
    # Compares two outputs; equality by default.
    equal: Callable[[Any, Any], bool] = staticmethod(lambda a, b: a == b)
    notes: list[str] = field(default_factory=list)


@dataclass
class Timing:
    best: float  # seconds per call
    median: float
    faults: float  # minor page faults per call, median of the samples


@dataclass
class CaseResult:
    case: Case
    # size -> contender name -> Timing (absent: skipped)
    timings: dict[int, dict[str, Timing]]
    skipped: dict[str, str]
    # Contenders meant to give the baseline's results that did not.
    differs: set[str]
    skipped_case: str = ""


def measure(case: Case, repeats: int, sample_seconds: float, log=print) -> CaseResult:
    timings: dict[int, dict[str, Timing]] = {}
    skipped: dict[str, str] = {}
    differs: set[str] = set()
    baseline = case.contenders[0]
    for size in case.sizes:
        try:
            data = case.make_input(size)
            expected = baseline.run(data)
        except Skip as reason:
            log(f"  {case.title}: skipped ({reason})")
            return CaseResult(case, {}, {}, set(), skipped_case=str(reason))
        ready: list[Contender] = []
        for contender in case.contenders:
            if contender.name in skipped:
                continue
            try:
                output = contender.run(data)
            except Skip as reason:
                skipped[contender.name] = str(reason)
                continue
            if contender.same and contender is not baseline and not case.equal(output, expected):
                # Shown in the table, not hidden: a contender that gives other results is
                # marked as such.
                differs.add(contender.name)
                log(f"  {case.title}: {contender.name} gives other results than {baseline.name}")
            ready.append(contender)
        loops = {c.name: calibrate(c.run, data, sample_seconds) for c in ready}
        samples: dict[str, list[tuple[float, float]]] = {c.name: [] for c in ready}
        for round_index in range(repeats):
            # Interleaved, and the order rotates, so that no contender always runs first after
            # a collection or always follows the same neighbour.
            shift = round_index % len(ready)
            for contender in ready[shift:] + ready[:shift]:
                samples[contender.name].append(
                    timed(contender.run, data, loops[contender.name]))
        timings[size] = {
            name: Timing(min(t for t, _ in values), statistics.median(t for t, _ in values),
                         statistics.median(f for _, f in values))
            for name, values in samples.items()
        }
        log(f"  {case.title}, N={size:,}: "
            + ", ".join(f"{n} {t.best / size * 1e6:.3g}µs" for n, t in timings[size].items()))
    return CaseResult(case, timings, skipped, differs)


# A sample of a single call measures mostly how cold the caches and the allocator were left by
# the contender before (at N = 10,000 that swung the same build between 1.3x and 2.6x of the
# floor); every sample makes at least this many calls.
MIN_LOOPS = 3


def calibrate(run, data, sample_seconds: float) -> int:
    """Loops per sample so that one sample takes about `sample_seconds`."""
    start = time.perf_counter()
    run(data)
    once = max(time.perf_counter() - start, 1e-7)
    return max(MIN_LOOPS, int(sample_seconds / once))


def timed(run, data, loops: int) -> tuple[float, float]:
    """Seconds and minor page faults per call, from a warm start."""
    # The collection keeps one contender's garbage from being collected in another's time,
    # but it walks every live object and leaves the caches cold, which at N = 10,000 slowed a
    # memory-bound contender's sample by a sixth once more objects were alive (and an
    # instruction-bound one not at all). One untimed call first, as pyperf's warmups do.
    gc.collect()
    run(data)
    faults = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
    start = time.perf_counter()
    for _ in range(loops):
        run(data)
    seconds = (time.perf_counter() - start) / loops
    return seconds, (resource.getrusage(resource.RUSAGE_SELF).ru_minflt - faults) / loops


def page_fault_cost() -> float:
    """Seconds one minor page fault costs here: fresh anonymous memory touched page by page,
    less the same touches once the pages are there. CPython's allocator maps its arenas afresh
    once a call's result has freed them, so at large N every contender pays this for the memory
    its output takes; on a virtual machine it can cost microseconds."""
    size = 32 << 20
    pages = range(0, size, mmap.PAGESIZE)
    fresh = touched = float("inf")
    for _ in range(5):
        with mmap.mmap(-1, size) as memory:
            start = time.perf_counter()
            for offset in pages:
                memory[offset] = 1
            fresh = min(fresh, time.perf_counter() - start)
            start = time.perf_counter()
            for offset in pages:
                memory[offset] = 2
            touched = min(touched, time.perf_counter() - start)
    return max(fresh - touched, 0.0) / len(pages)


def per_unit_text(seconds: float) -> str:
    if seconds >= 1e-3:
        return f"{seconds * 1e3:.3g} ms"
    if seconds >= 1e-6:
        return f"{seconds * 1e6:.3g} µs"
    return f"{seconds * 1e9:.3g} ns"


def table(result: CaseResult) -> str:
    case = result.case
    sizes = [s for s in case.sizes if s in result.timings]
    names: list[str] = []
    for size in sizes:
        for name in result.timings[size]:
            if name not in names:
                names.append(name)
    baseline = case.contenders[0].name
    by_name = {c.name: c for c in case.contenders}
    lines = [f"### {case.title}", ""]
    if result.skipped_case:
        return "\n".join(lines + [f"Skipped: {result.skipped_case}.", ""])
    largest = sizes[-1] if sizes else 0
    head = "| contender | " + " | ".join(f"N = {s:,}" for s in sizes) + \
        f" | page faults per call, N = {largest:,} |"
    lines += [head, "|---|" + "---:|" * (len(sizes) + 1)]
    for name in names:
        contender = by_name[name]
        same = (contender.same and name not in result.differs) or name == baseline
        label = name + ("" if same else " †")
        cells = []
        for size in sizes:
            timing = result.timings[size].get(name)
            base = result.timings[size].get(baseline)
            if timing is None or base is None:
                cells.append("–")
                continue
            ratio = timing.best / base.best
            cells.append(f"{per_unit_text(timing.best / size)} / "
                         f"{per_unit_text(timing.median / size)} · **{ratio:.2f}×**")
        largest_timing = result.timings[largest].get(name)
        cells.append(f"{largest_timing.faults:,.0f}" if largest_timing else "–")
        lines.append(f"| {label} | " + " | ".join(cells) + " |")
    lines.append("")
    lines.append(f"Per {case.unit}: minimum / median of the runs · minimum against "
                 f"`{baseline}` (below 1.00× is faster).")
    if any((not by_name[n].same or n in result.differs) and n != baseline for n in names):
        lines.append("† own output format (or, where marked below, results that differ); the "
                     "other rows are checked to give results equal to the first row's.")
    for name in sorted(result.differs):
        lines.append(f"{name}: its results differ from `{baseline}`'s on this input.")
    for name, reason in result.skipped.items():
        lines.append(f"Skipped: {name} ({reason}).")
    lines.extend(case.notes)
    for contender in case.contenders:
        if contender.note and contender.name in names:
            lines.append(f"{contender.name}: {contender.note}")
    lines.append("")
    return "\n".join(lines)


def machine_text() -> str:
    cpu = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    import os

    return (f"{cpu}, {os.cpu_count()} logical processors, {platform.system()} "
            f"{platform.release()}, CPython {platform.python_version()}")
