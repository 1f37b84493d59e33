"""Calls on one object wait for each other and for nothing else: log and report writers that
call back into the library never deadlock, and a forked child never hangs on an object.
Each scenario runs in a child process, so that a deadlock fails its test instead of hanging
the run."""

import subprocess
import sys

import pytest

CALLBACKS = """
import sys, threading
import numpy as np
import _vemo as v

target = v.ChessboardTarget((9, 6), 0.03)
blank = [np.zeros((60, 80, 3), np.uint8)] * 2  # each logs a "not found" line


class Writer:
    '''A stream that, on each line, calls callbacks[current thread] once at a time.'''

    def __init__(self, stream):
        self.stream, self.callbacks, self.busy = stream, {}, set()

    def write(self, text):
        self.stream.write(text)
        thread = threading.get_ident()
        callback = self.callbacks.get(thread)
        if callback and thread not in self.busy:
            self.busy.add(thread)
            try:
                callback()
            except RuntimeError as error:
                print("refused:", error, flush=True)
            finally:
                self.busy.discard(thread)

    def flush(self):
        self.stream.flush()


sys.stderr = Writer(sys.__stderr__)
sys.stdout = Writer(sys.__stdout__)
me = threading.get_ident()

# A log writer calling the calibrator whose run it logs; the run goes on.
calibrator = v.IntrinsicCalibrator(target)
sys.stderr.callbacks[me] = calibrator.detections
print("ok" if not calibrator.calibrate(blank).ok else "solved?", flush=True)

# A log writer calling every other object: far more than any fixed table of locks has slots.
others = [v.IntrinsicCalibrator(target) for _ in range(300)]
calls = []
sys.stderr.callbacks[me] = lambda: calls.extend(other.detections() for other in others)
v.IntrinsicCalibrator(target).calibrate(blank)
print("called", len(calls), flush=True)
sys.stderr.callbacks.clear()

# A report writer calling the calibrator whose report it writes.
hand_eye = v.EyeInHandCalibrator(target)
sys.stdout.callbacks[me] = hand_eye.last_result
hand_eye.print_results()
sys.stdout.callbacks.clear()

# Writers of two threads, each calling the object that the other thread runs a call on.
first, second = v.IntrinsicCalibrator(target), v.IntrinsicCalibrator(target)
inside = {first: threading.Event(), second: threading.Event()}

def meet_then_call(mine, theirs):
    def callback():
        del sys.stderr.callbacks[threading.get_ident()]  # once: at the run's first line
        inside[mine].set()
        inside[theirs].wait()
        theirs.detections()
    return callback

def run(mine, theirs):
    sys.stderr.callbacks[threading.get_ident()] = meet_then_call(mine, theirs)
    mine.calibrate(blank)

threads = [threading.Thread(target=run, args=pair) for pair in ((first, second), (second, first))]
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()
print("both returned", flush=True)
"""

CALLED_AGAIN = ("refused: {}: called again from a callback (log or report writer) while a call on the same object "
                "runs in this thread; call it after that call returns")


def run_script(script: str) -> subprocess.CompletedProcess:
    try:
        return subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    except subprocess.TimeoutExpired:
        pytest.fail("a call waited forever")


def test_writers_calling_back_get_an_error_or_an_answer_never_a_deadlock():
    run = run_script(CALLBACKS)
    assert run.returncode == 0, run.stderr
    lines = [line for line in run.stdout.splitlines() if line.startswith(("refused", "ok", "called", "both"))]
    # Each of the run's three log lines calls back and is refused; the run still returns.
    assert lines[:4] == [CALLED_AGAIN.format("IntrinsicCalibrator")] * 3 + ["ok"]
    # 3 lines, 300 objects each: none shares a lock with the running one.
    assert lines[4] == "called 900"
    assert lines[5] == CALLED_AGAIN.format("EyeInHandCalibrator")
    # Exactly one of the two writers would have closed the circle of waits, and is refused.
    assert lines[6:] == ["refused: IntrinsicCalibrator: the call would wait forever: the call running on this object "
                         "waits, from a callback (log or report writer), for an object that this thread is in a "
                         "call on", "both returned"]


FORK = """
import os, sys, threading, time
import numpy as np
import _vemo as v

target = v.ChessboardTarget((9, 6), 0.03)
blank = [np.zeros((60, 80, 3), np.uint8)] * 2
busy, idle = v.IntrinsicCalibrator(target), v.IntrinsicCalibrator(target)
inside, go_on = threading.Event(), threading.Event()


class HoldingWriter:
    '''Holds the first line of the worker thread's call until the parent has forked.'''

    def write(self, text):
        if threading.current_thread().name == "worker" and not inside.is_set():
            inside.set()
            go_on.wait()

    def flush(self):
        pass


sys.stderr = HoldingWriter()
worker = threading.Thread(target=busy.calibrate, args=(blank,), name="worker")
worker.start()
inside.wait()
child = os.fork()
if child == 0:
    try:
        busy.detections()
        print("child: used the busy object", flush=True)
    except RuntimeError as error:
        print("child:", error, flush=True)
    result = idle.calibrate(blank)
    print("child: an idle object runs,", "ok" if not result.ok else "solved?", flush=True)
    os._exit(0)

deadline = time.monotonic() + 60
while os.waitpid(child, os.WNOHANG) == (0, 0):
    if time.monotonic() > deadline:
        os.kill(child, 9)
        os.waitpid(child, 0)
        print("parent: the child hung", flush=True)
        break
    time.sleep(0.05)
go_on.set()
worker.join()
print("parent: the busy object runs again,", len(busy.detections().image_points), "views", flush=True)
"""


def test_a_forked_child_refuses_an_object_that_was_in_a_call_and_uses_the_others():
    run = run_script(FORK)
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines() == [
        "child: IntrinsicCalibrator: another thread was in a call on this object when this process was forked, and "
        "that call never ends here; use the object in the parent, or start processes with the 'spawn' method",
        "child: an idle object runs, ok",
        "parent: the busy object runs again, 0 views"]
