"""Holding an object's borrow on one thread while probing the same object from another.

A call takes its object's borrow before it converts its arguments, so a number argument whose
conversion waits (a Gate) holds the object for exactly as long as the test wants: no timing, no
race between the holder and the probe.
"""

import threading

BORROW_ERRORS = frozenset({"Already borrowed", "Already mutably borrowed"})
TIMEOUT = 30


class Gate:
    """A whole number (or float) argument. Converting it marks `entered` and, if `wait`, blocks
    until `open()`; then it yields `value`."""

    def __init__(self, value, wait=True):
        self.value = value
        self.entered = threading.Event()
        self.opened = threading.Event()
        if not wait:
            self.opened.set()

    def open(self):
        self.opened.set()

    def _pass(self):
        self.entered.set()
        if not self.opened.wait(TIMEOUT):
            raise TimeoutError("the gate was never opened")
        return self.value

    def __index__(self):
        return self._pass()

    def __float__(self):
        return float(self._pass())


def run_while(work, probe, value=1):
    """Runs work(gate) on a thread (gate = Gate(value)) and, while that call holds its object
    inside the gate, runs probe() here once. Returns the texts of the RuntimeError that probe
    raised: [] when it succeeded. Work then completes; its own failures are raised here."""
    gate, failures = Gate(value), []

    def run():
        try:
            work(gate)
        except BaseException as e:  # noqa: B036 - handed to the test thread
            failures.append(e)
        finally:
            gate.entered.set()

    t = threading.Thread(target=run)
    t.start()
    errors = []
    try:
        assert gate.entered.wait(TIMEOUT), "the work never reached its gate"
        if not failures:
            try:
                probe()
            except RuntimeError as e:
                errors.append(str(e))
    finally:
        gate.open()
        t.join()
    if failures:
        raise failures[0]
    return errors
