"""Running a call on a second thread while probing the same object here."""

import threading
import time


def run_while(work, probe, seconds=20):
    """Runs work() repeatedly on a thread and probe() here until probe raises RuntimeError."""
    stop, errors = threading.Event(), []

    def loop():
        while not stop.is_set():
            work()

    t = threading.Thread(target=loop)
    t.start()
    try:
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            try:
                probe()
            except RuntimeError as e:
                errors.append(str(e))
                break
            time.sleep(0.0005)
    finally:
        stop.set()
        t.join()
    return errors
