"""What the benchmark scripts share for timing: silencing the runs, alternating two jobs run
by run, medians and their ratio, and the load average that every figure is printed beside
(the machine is shared: a figure means little without it)."""

import contextlib
import io
import os
import statistics
import sys
import threading
import time


@contextlib.contextmanager
def quiet():
    """Swallows reports and log lines, whether written to the file descriptors or to
    sys.stdout / sys.stderr."""
    sys.stdout.flush()
    sys.stderr.flush()
    devnull = os.open(os.devnull, os.O_WRONLY)
    saved = os.dup(1), os.dup(2)
    os.dup2(devnull, 1)
    os.dup2(devnull, 2)
    try:
        with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()):
            yield
    finally:
        os.dup2(saved[0], 1)
        os.dup2(saved[1], 2)
        for fd in (*saved, devnull):
            os.close(fd)


def load_average() -> float:
    """The one-minute load average."""
    return os.getloadavg()[0]


def timed(work) -> float:
    """Wall seconds of one call."""
    start = time.perf_counter()
    work()
    return time.perf_counter() - start


def alternate(first, second, rounds: int) -> tuple[list, list]:
    """Wall seconds of each callable per round, run one after the other, so that load from
    other processes falls on both alike."""
    times = ([], [])
    for _ in range(rounds):
        for run, seconds in zip((first, second), times):
            seconds.append(timed(run))
    return times


def median_ratio(ours: list, theirs: list) -> tuple[float, float, float]:
    a, b = statistics.median(ours), statistics.median(theirs)
    return a, b, a / b


class Counter:
    """A Python thread that counts as fast as the interpreter lets it."""

    def __init__(self):
        self.count = 0
        self._stop = False
        self._thread = threading.Thread(target=self._run, daemon=True)

    def _run(self):
        while not self._stop:
            self.count += 1

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop = True
        self._thread.join()


def counting_rate(work) -> float:
    """Counts per second of a background Python thread while `work` runs in this thread."""
    with Counter() as counter:
        time.sleep(0.05)  # let it start
        start_count, start = counter.count, time.perf_counter()
        work()
        return (counter.count - start_count) / (time.perf_counter() - start)
