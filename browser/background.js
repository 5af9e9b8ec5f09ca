// Fetchora's browser extension. It hands links, the links of a selection or
// page, and (when the user turns it on) the browser's own downloads to
// Fetchora through the native-messaging host "org.fetchora.host". A browser
// download is cancelled only after Fetchora has said it took the URL; on any
// other answer, or none, the browser goes ahead on its own.
"use strict";

const HOST = "org.fetchora.host";
const MENU_LINK = "fetchora-link";
const MENU_ALL = "fetchora-all";
const MENU_CAPTURE = "fetchora-capture";

let nextId = 1;

// One message to the host and its reply; a failure becomes {ok: false}.
async function ask(message) {
  message.id = nextId++;
  try {
    const reply = await chrome.runtime.sendNativeMessage(HOST, message);
    return reply ?? { ok: false, error: "the host gave no reply" };
  } catch (error) {
    // "Specified native messaging host not found" when the host manifest
    // is missing: the user runs fetchora-cli --install-browser-hosts.
    return { ok: false, error: String(error?.message ?? error) };
  }
}

function report(what, reply) {
  if (!reply.ok)
    console.warn(`Fetchora: ${what} failed: ${reply.error}`);
  return reply;
}

// The browser's cookies for the URLs, so that Fetchora's requests carry the
// page's session; at most a few sites' worth.
async function cookiesFor(urls) {
  const sites = [...new Set(urls.map((url) => { try { return new URL(url).origin; } catch { return null; } }))]
                    .filter((origin) => origin && /^https?:/.test(origin)).slice(0, 20);
  const lists = await Promise.all(sites.map((url) => chrome.cookies.getAll({ url }).catch(() => [])));
  return lists.flat().map((c) => ({
    name: c.name, value: c.value, domain: c.domain, path: c.path, secure: c.secure,
    httpOnly: c.httpOnly, hostOnly: c.hostOnly, expirationDate: c.expirationDate,
  }));
}

// Sites that check the agent serve Fetchora as they served the page.
const userAgent = () => navigator.userAgent;

// Runs in the page: the "download" attribute of a link to the URL, which
// names the file the page means it to be saved as.
function suggestedName(url) {
  const link = Array.from(document.querySelectorAll("a[download], area[download]")).find((a) => a.href === url);
  return link ? link.download : "";
}

async function downloadLink(url, pageUrl, tabId, frameId) {
  let fileName = "";
  if (tabId !== undefined) {
    const target = frameId ? { tabId, frameIds: [frameId] } : { tabId };
    const results = await chrome.scripting.executeScript({ target, func: suggestedName, args: [url] })
                        .catch(() => []);
    fileName = results?.[0]?.result ?? "";
  }
  const cookies = await cookiesFor([url]);
  return report("handing the link over", await ask({
    type: "download", url, referrer: pageUrl ?? "", fileName, userAgent: userAgent(), cookies,
  }));
}

// Runs in the page: the links of the selection, or of the whole page.
function collectLinks(selectionOnly) {
  const anchors = Array.from(document.querySelectorAll("a[href], area[href]"));
  const selection = window.getSelection();
  const inSelection = (node) => {
    for (let i = 0; i < selection.rangeCount; ++i)
      if (selection.getRangeAt(i).intersectsNode(node))
        return true;
    return false;
  };
  const chosen = selectionOnly && selection && !selection.isCollapsed ? anchors.filter(inSelection) : anchors;
  return chosen.map((a) => ({
    url: a.href, text: (a.textContent || a.title || "").trim().slice(0, 500), fileName: a.download || "",
  }));
}

async function downloadAllLinks(tabId, pageUrl, selectionOnly) {
  const results = await chrome.scripting.executeScript({
    target: { tabId },
    func: collectLinks,
    args: [selectionOnly],
  });
  const links = results?.[0]?.result ?? [];
  const cookies = await cookiesFor(links.map((link) => link.url));
  return report("handing the links over",
                await ask({ type: "links", pageUrl, links, userAgent: userAgent(), cookies }));
}

async function captureOn() {
  const { capture } = await chrome.storage.local.get({ capture: false });
  return capture;
}

// The menus live as long as the extension; they are made once at install.
chrome.runtime.onInstalled.addListener(async () => {
  chrome.contextMenus.create({ id: MENU_LINK, title: "Download with Fetchora", contexts: ["link"] });
  chrome.contextMenus.create({
    id: MENU_ALL,
    title: "Download all links with Fetchora",
    contexts: ["page", "selection"],
  });
  chrome.contextMenus.create({
    id: MENU_CAPTURE,
    title: "Capture downloads by file type",
    type: "checkbox",
    checked: await captureOn(),
    contexts: ["action"],
  });
});

chrome.contextMenus.onClicked.addListener((info, tab) => {
  if (info.menuItemId === MENU_LINK)
    downloadLink(info.linkUrl, info.pageUrl, tab?.id, info.frameId);
  else if (info.menuItemId === MENU_ALL && tab?.id !== undefined)
    downloadAllLinks(tab.id, info.pageUrl ?? tab.url, info.selectionText !== undefined);
  else if (info.menuItemId === MENU_CAPTURE)
    chrome.storage.local.set({ capture: info.checked });
});

// A download the browser started: Fetchora's settings decide by its type.
chrome.downloads.onCreated.addListener(async (item) => {
  if (item.state !== "in_progress" || !(await captureOn()))
    return;
  const url = item.finalUrl || item.url;
  if (!/^(https?|ftp):/i.test(url))
    return;
  const reply = await ask({
    type: "download",
    url,
    referrer: item.referrer ?? "",
    captured: true,
    fileName: item.filename ?? "",
    userAgent: userAgent(),
    cookies: await cookiesFor([url]),
  });
  if (reply.ok && reply.taken) {
    await chrome.downloads.cancel(item.id);
    await chrome.downloads.erase({ id: item.id });
  }
});

// What the menus do, for a test driver speaking the DevTools protocol.
globalThis.fetchora = { downloadLink, downloadAllLinks };
