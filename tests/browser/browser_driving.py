"""What both browser drivers share: waiting for the browser to get somewhere,
and ending it."""
import subprocess
import time


def wait_for(what, check, seconds=30, not_yet=()):
    """Calls check every 0.2 s until it gives a true value, and returns that.
    An exception of a type in not_yet counts as "not there yet"; after the
    given seconds the wait fails naming what it waited for."""
    end = time.monotonic() + seconds
    while True:
        try:
            value = check()
        except not_yet:
            value = None
        if value:
            return value
        if time.monotonic() >= end:
            raise RuntimeError(f"timed out waiting for {what}")
        time.sleep(0.2)


def stop(browser, seconds):
    """Asks the browser process to end, and kills it after the given seconds."""
    browser.terminate()
    try:
        browser.wait(seconds)
    except subprocess.TimeoutExpired:
        browser.kill()
        browser.wait()
