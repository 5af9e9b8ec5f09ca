#!/usr/bin/env python3
"""Drives headless Firefox with our extension installed as a temporary add-on, over Marionette.

Starts Firefox with a fresh profile whose user.js turns off every connection Firefox
would make on its own (updates, telemetry, safe browsing, captive-portal and
connectivity checks, prediction, remote settings) and sends whatever else it might
try to a proxy address on loopback where nothing listens. The extension gets a fixed
internal UUID, so that its background page can be opened in a tab (by the browser's
own code: neither a page nor WebDriver navigation may open it): there the test
runs the functions the context-menu items call (`fetchora.downloadLink`,
`fetchora.downloadAllLinks`), with the extension's own rights. Opens a page in a tab,
runs a script in that page (to make a selection), runs the extension script and
prints its result as one JSON line. The browser and the host it starts inherit our
environment (HOME is the test's, where the host manifest is).

usage: firefox_driver.py FIREFOX EXTENSION_DIR PROFILE_DIR PAGE_URL PAGE_JS EXTENSION_JS [USER_AGENT]
"""
import json
import os
import socket
import subprocess
import sys

import websocket  # python3-websocket

from browser_driving import stop, wait_for

ADDON_ID = "fetchora@fetchora.org"
ADDON_UUID = "3f6c1d2e-8b4a-4e5f-9a7b-0c1d2e3f4a5b"

PREFS = {
    # Nothing on its own: no updates, telemetry, studies, safe browsing,
    # captive-portal or connectivity checks, prediction or prefetching.
    "app.update.disabledForTesting": True,
    "app.update.auto": False,
    "app.normandy.enabled": False,
    "messaging-system.rsexperimentloader.enabled": False,
    "app.shield.optoutstudies.enabled": False,
    "browser.safebrowsing.malware.enabled": False,
    "browser.safebrowsing.phishing.enabled": False,
    "browser.safebrowsing.downloads.enabled": False,
    "browser.safebrowsing.downloads.remote.enabled": False,
    "browser.safebrowsing.blockedURIs.enabled": False,
    "browser.safebrowsing.provider.google4.updateURL": "",
    "browser.safebrowsing.provider.google.updateURL": "",
    "browser.safebrowsing.provider.mozilla.updateURL": "",
    "toolkit.telemetry.enabled": False,
    "toolkit.telemetry.unified": False,
    "toolkit.telemetry.archive.enabled": False,
    "toolkit.telemetry.server": "",
    "datareporting.healthreport.uploadEnabled": False,
    "datareporting.policy.dataSubmissionEnabled": False,
    "browser.ping-centre.telemetry": False,
    "browser.discovery.enabled": False,
    "network.captive-portal-service.enabled": False,
    "captivedetect.canonicalURL": "",
    "network.connectivity-service.enabled": False,
    "network.predictor.enabled": False,
    "network.prefetch-next": False,
    "network.dns.disablePrefetch": True,
    "network.http.speculative-parallel-limit": 0,
    "network.trr.mode": 5,
    "services.settings.server": "data:,#remote-settings-dummy/v1",
    "extensions.update.enabled": False,
    "extensions.update.autoUpdateDefault": False,
    "extensions.getAddons.cache.enabled": False,
    "extensions.systemAddon.update.enabled": False,
    "extensions.blocklist.enabled": False,
    "browser.search.update": False,
    "browser.region.update.enabled": False,
    "browser.region.network.url": "",
    "geo.provider.network.url": "",
    "media.gmp-manager.url": "",
    "media.gmp-provider.enabled": False,
    "media.gmp-gmpopenh264.enabled": False,
    "media.gmp-widevinecdm.enabled": False,
    "media.gmp-widevinecdm.visible": False,
    "media.eme.enabled": False,
    "browser.newtabpage.enabled": False,
    "browser.newtabpage.activity-stream.feeds.topsites": False,
    "browser.newtabpage.activity-stream.feeds.section.topstories": False,
    "browser.newtabpage.activity-stream.feeds.system.topstories": False,
    "browser.topsites.contile.enabled": False,
    "browser.aboutwelcome.enabled": False,
    "browser.shell.checkDefaultBrowser": False,
    "browser.startup.homepage_override.mstone": "ignore",
    "browser.startup.page": 0,
    "startup.homepage_welcome_url": "",
    "datareporting.policy.firstRunURL": "",
    # No name is ever looked up: every host name resolves to loopback.
    "network.dns.native-is-localhost": True,
    # Whatever is left goes to a loopback port where nothing listens; the
    # test's own server on 127.0.0.1 is reached directly.
    "network.proxy.type": 1,
    "network.proxy.http": "127.0.0.1",
    "network.proxy.http_port": 9,
    "network.proxy.ssl": "127.0.0.1",
    "network.proxy.ssl_port": 9,
    "network.proxy.no_proxies_on": "127.0.0.1,localhost",
    "network.proxy.allow_hijacking_localhost": False,
    # The extension's background page at a known address.
    "extensions.webextensions.uuids": json.dumps({ADDON_ID: ADDON_UUID}),
    "xpinstall.signatures.required": False,
}


def write_profile(profile, user_agent, port):
    prefs = dict(PREFS)
    prefs["marionette.port"] = port
    if user_agent:
        prefs["general.useragent.override"] = user_agent
    os.makedirs(profile, exist_ok=True)
    with open(os.path.join(profile, "user.js"), "w") as out:
        for name, value in prefs.items():
            out.write(f"user_pref({json.dumps(name)}, {json.dumps(value)});\n")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def main():
    firefox, extension, profile, page_url, page_js, extension_js = sys.argv[1:7]
    user_agent = sys.argv[7] if len(sys.argv) > 7 else ""
    port = free_port()
    write_profile(profile, user_agent, port)
    args = [firefox, "--headless", "--no-remote", "--marionette", "--remote-allow-system-access", "--profile", profile, "about:blank"]
    log = open(os.path.join(profile, "firefox.log"), "w")
    environment = dict(os.environ)
    # Connections beyond loopback are refused; the remote-settings server
    # above is honoured only with the second variable.
    environment.update({"MOZ_DISABLE_NONLOCAL_CONNECTIONS": "1", "MOZ_REMOTE_SETTINGS_DEVTOOLS": "1"})
    browser = subprocess.Popen(args, stdout=log, stderr=log, env=environment)
    try:
        result = drive(port, extension, page_url, page_js, extension_js)
        print(json.dumps(result))
        return 0
    finally:
        stop(browser, 20)


class Marionette:
    """The Marionette protocol: "length:JSON" frames, [0, id, command, params]
    out and [1, id, error, result] back."""

    def __init__(self, port):
        self.socket = wait_for("Firefox's Marionette port",
                               lambda: socket.create_connection(("127.0.0.1", port), timeout=60), 60,
                               not_yet=(OSError,))
        self.buffer = b""
        self.read()  # the greeting
        self.next_id = 0

    def read(self):
        while b":" not in self.buffer:
            self.receive()
        length, _, rest = self.buffer.partition(b":")
        self.buffer = rest
        while len(self.buffer) < int(length):
            self.receive()
        frame, self.buffer = self.buffer[:int(length)], self.buffer[int(length):]
        return json.loads(frame)

    def receive(self):
        data = self.socket.recv(65536)
        if not data:
            raise RuntimeError("Firefox closed the Marionette connection")
        self.buffer += data

    def call(self, command, params=None):
        self.next_id += 1
        body = json.dumps([0, self.next_id, command, params or {}]).encode()
        self.socket.sendall(str(len(body)).encode() + b":" + body)
        while True:
            reply = self.read()
            if reply[0] == 1 and reply[1] == self.next_id:
                if reply[2]:
                    raise RuntimeError(f"{command}: {reply[2]}")
                return reply[3]

    def run(self, script):
        # The value comes back as JSON text, whatever the script returns.
        wrapped = ("const done = arguments[arguments.length - 1];"
                   f"(async () => ({script}))().then((v) => done(JSON.stringify(v)),"
                   " (e) => done(JSON.stringify({scriptError: String(e)})));")
        value = self.call("WebDriver:ExecuteAsyncScript", {"script": wrapped, "args": [],
                                                           "scriptTimeout": 60000})["value"]
        result = json.loads(value) if isinstance(value, str) else None
        if isinstance(result, dict) and "scriptError" in result:
            raise RuntimeError(f"script failed: {result['scriptError']}")
        return result


def drive(port, extension, page_url, page_js, extension_js):
    firefox = Marionette(port)
    firefox.call("WebDriver:NewSession", {"capabilities": {}})
    installed = firefox.call("Addon:Install", {"path": extension, "temporary": True})
    firefox.call("WebDriver:Navigate", {"url": page_url})
    page = firefox.call("WebDriver:GetWindowHandle")["value"]
    firefox.run(page_js)
    # A page may not open the extension's pages; the browser's own code may.
    background = f"moz-extension://{ADDON_UUID}/_generated_background_page.html"
    firefox.call("Marionette:SetContext", {"value": "chrome"})
    firefox.call("WebDriver:ExecuteScript", {"script": (
        "const win = Services.wm.getMostRecentWindow('navigator:browser');"
        "win.gBrowser.selectedTab = win.gBrowser.addTab(arguments[0],"
        " {triggeringPrincipal: Services.scriptSecurityManager.getSystemPrincipal()});"), "args": [background]})
    firefox.call("Marionette:SetContext", {"value": "content"})
    tab = wait_for("the extension's tab", lambda: [h for h in firefox.call("WebDriver:GetWindowHandles")
                                                   if h != page][:1], not_yet=(RuntimeError,))[0]
    firefox.call("WebDriver:SwitchToWindow", {"handle": tab})
    wait_for("the extension's script", lambda: firefox.run("typeof window.fetchora === 'object'"),
             not_yet=(RuntimeError,))
    return {"extension": installed.get("value", installed), "origin": firefox.run("location.origin"),
            "userAgent": firefox.run("navigator.userAgent"),
            "result": firefox.run(extension_js)}


if __name__ == "__main__":
    sys.exit(main())
