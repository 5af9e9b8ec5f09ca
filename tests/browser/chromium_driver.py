#!/usr/bin/env python3
"""Drives headless Chromium with our extension loaded, over the DevTools protocol.

Opens a page in a tab, runs a script in that page (to make a selection), then runs
a script in the extension's service worker, where `fetchora.downloadLink` and
`fetchora.downloadAllLinks` are what the context menu items call, and prints
the script's result as one JSON line. The browser's profile folder holds the
native-messaging host manifest; the browser and the host it starts inherit our
environment.

usage: chromium_driver.py CHROMIUM EXTENSION_DIR PROFILE_DIR PAGE_URL PAGE_JS WORKER_JS [USER_AGENT]
"""
import json
import os
import subprocess
import sys

import websocket  # python3-websocket

from browser_driving import stop, wait_for


def main():
    chromium, extension, profile, page_url, page_js, worker_js = sys.argv[1:7]
    user_agent = sys.argv[7] if len(sys.argv) > 7 else ""
    args = [
        chromium, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
        "--no-default-browser-check", "--disable-background-networking", "--disable-component-update",
        "--disable-sync", "--disable-domain-reliability", "--disable-client-side-phishing-detection",
        "--safebrowsing-disable-auto-update", "--no-pings", "--dns-prefetch-disable",
        # No name is ever looked up beyond this machine.
        "--host-resolver-rules=MAP * ~NOTFOUND , EXCLUDE 127.0.0.1", "--remote-debugging-port=0", f"--user-data-dir={profile}",
        f"--disable-extensions-except={extension}", f"--load-extension={extension}", "about:blank",
    ]
    if user_agent:
        args.insert(-1, f"--user-agent={user_agent}")
    browser = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=open(os.path.join(profile, "chromium.log"), "w"))
    try:
        result = drive(profile, page_url, page_js, worker_js)
        print(json.dumps(result))
        return 0
    finally:
        stop(browser, 10)


class Session:
    def __init__(self, url):
        self.socket = websocket.create_connection(url, timeout=60, suppress_origin=True)
        self.next_id = 0

    def call(self, method, params=None, session=None):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        self.socket.send(json.dumps(message))
        while True:
            reply = json.loads(self.socket.recv())
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply["result"]

    def evaluate(self, session, expression):
        result = self.call("Runtime.evaluate", {"expression": expression, "awaitPromise": True,
                                                "returnByValue": True}, session)
        if "exceptionDetails" in result:
            raise RuntimeError(f"script failed: {result['exceptionDetails']}")
        return result["result"].get("value")


def drive(profile, page_url, page_js, worker_js):
    port_file = os.path.join(profile, "DevToolsActivePort")
    wait_for("the DevTools port", lambda: os.path.exists(port_file) and open(port_file).read().count("\n") >= 1)
    port, path = open(port_file).read().split("\n")[:2]
    cdp = Session(f"ws://127.0.0.1:{port}{path}")

    def worker():
        for target in cdp.call("Target.getTargets")["targetInfos"]:
            if target["type"] == "service_worker" and target["url"].endswith("/background.js"):
                return target
        return None

    worker_target = wait_for("the extension's service worker", worker)
    page = cdp.call("Target.createTarget", {"url": page_url})["targetId"]
    page_session = cdp.call("Target.attachToTarget", {"targetId": page, "flatten": True})["sessionId"]
    loaded = f"document.readyState === 'complete' && location.href === {json.dumps(page_url)}"
    wait_for("the page", lambda: cdp.evaluate(page_session, loaded))
    cdp.evaluate(page_session, page_js)
    worker_session = cdp.call("Target.attachToTarget", {"targetId": worker_target["targetId"],
                                                        "flatten": True})["sessionId"]
    wait_for("the extension's script", lambda: cdp.evaluate(worker_session, "typeof fetchora") == "object")
    return {"extension": worker_target["url"], "result": cdp.evaluate(worker_session, worker_js)}


if __name__ == "__main__":
    sys.exit(main())
