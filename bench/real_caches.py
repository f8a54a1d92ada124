#!/usr/bin/env python3
"""Caches written by real browsers, for the real-cache benchmark.

    bench/real_caches.py make OUT [--count 3000]   # the site, then each browser's cache
    bench/real_caches.py site OUT [--count 3000]   # the site alone (OUT/site)

A local site of about 3,000 pictures and videos of the sizes a real site serves (icons,
thumbnails, photos, animated GIFs, a few videos; bitmaps and SVG sent gzip, everything with a
year's max-age) is served on 127.0.0.1, and Debian's chromium (its Simple Cache, then the
blockfile and SQL back ends that the disk-cache experiment picks) and firefox-esr load its page
headless, each into a profile of its own under OUT/caches:

    OUT/caches/chromium-simple/.cache/chromium/Default/Cache/Cache_Data
    OUT/caches/chromium-blockfile/...   OUT/caches/chromium-sql/...
    OUT/caches/firefox/.cache/mozilla/firefox/bench.default/cache2

Each is a home folder that `tamberlin --list` is given. OUT/caches/<name>/served.tsv lists
what the browser asked for. Bodies are random past their format's first bytes: what is
measured is reading the caches, not decoding pictures.
"""
import argparse
import gzip
import http.server
import os
import random
import shutil
import struct
import socketserver
import subprocess
import sys
import tempfile
import threading
import time

# (folder, name pattern, extension, MIME type, share of the items, smallest, largest size)
KINDS = [
    ("static/icons", "ic_{word}_{n}", "png", "image/png", 0.22, 180, 4_000),
    ("static/icons", "favicon-{n}", "ico", "image/x-icon", 0.03, 300, 15_000),
    ("static/svg", "{word}-{n}", "svg", "image/svg+xml", 0.05, 400, 9_000),
    ("thumbs", "{hex}_320x240", "jpg", "image/jpeg", 0.25, 6_000, 40_000),
    ("thumbs", "{hex}_256", "webp", "image/webp", 0.15, 4_000, 30_000),
    ("media/photos", "IMG_2024{n:04d}_{hex}", "jpg", "image/jpeg", 0.17, 90_000, 900_000),
    ("media/gif", "{word}-anim-{n}", "gif", "image/gif", 0.08, 3_000, 180_000),
    ("media/bmp", "scan-{n}", "bmp", "image/bmp", 0.04, 20_000, 250_000),
    ("media/video", "clip-{n}", "mp4", "video/mp4", 0.01, 300_000, 3_000_000),
]
WORDS = ["home", "search", "menu", "close", "star", "share", "cart", "user", "mail", "play",
         "pause", "next", "back", "settings", "bell", "heart", "cloud", "lock", "map", "chat"]
GZIP_TYPES = {"image/svg+xml", "image/bmp"}


def body(ext, size, rng):
    """A body of `size` bytes that starts as its format does."""
    heads = {
        "png": b"\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR",
        "ico": b"\x00\x00\x01\x00\x01\x00\x10\x10",
        "jpg": b"\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01",
        "webp": b"RIFF" + (size - 8).to_bytes(4, "little") + b"WEBPVP8 ",
        "gif": b"GIF89a\x10\x00\x10\x00",
        # The file header, then the 40-byte info header (32 pixels wide, 24 bits) that tells a
        # bitmap from any file starting "BM".
        "bmp": b"BM" + size.to_bytes(4, "little") + b"\x00\x00\x00\x00\x36\x00\x00\x00"
        + struct.pack("<IiiHHIIiiII", 40, 32, max(1, (size - 54) // 96), 1, 24, 0, 0, 2835,
                      2835, 0, 0),
        "mp4": b"\x00\x00\x00\x18ftypmp42\x00\x00\x00\x00mp42isom",
    }
    if ext == "svg":
        text = '<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 24 24">'
        while len(text) < size - 6:
            text += '<path d="M%d %dh%dv%dz"/>' % tuple(rng.randrange(24) for _ in range(4))
        return (text + "</svg>").encode()
    head = heads[ext]
    if ext == "bmp":  # bitmaps compress: rows of a few colours
        row = bytes(rng.randrange(4) * 60 for _ in range(96))
        return (head + row * (size // len(row) + 1))[:size]
    return head + rng.randbytes(size - len(head))


def make_site(out, count, seed=2026):
    rng = random.Random(seed)
    site = os.path.join(out, "site")
    shutil.rmtree(site, ignore_errors=True)
    os.makedirs(site)
    items = []
    for folder, pattern, ext, mime, share, low, high in KINDS:
        for n in range(max(1, round(count * share))):
            # Sizes spread log-uniformly between the kind's bounds, as real ones are.
            size = int(low * (high / low) ** rng.random())
            name = pattern.format(word=rng.choice(WORDS), n=n, hex="%08x" % rng.getrandbits(32))
            path = "%s/%s.%s" % (folder, name, ext)
            os.makedirs(os.path.join(site, folder), exist_ok=True)
            with open(os.path.join(site, path), "wb") as f:
                f.write(body(ext, size, rng))
            items.append((path, ext, mime))
    rng.shuffle(items)
    with open(os.path.join(site, "index.html"), "w") as page:
        page.write("<!doctype html><title>gallery</title><body>\n")
        for path, ext, _ in items:
            if ext == "mp4":
                page.write('<video src="/%s" preload="auto" muted></video>\n' % path)
            else:
                page.write('<img src="/%s" width="32" height="32" loading="eager">\n' % path)
    with open(os.path.join(site, "types.tsv"), "w") as types:
        for path, _, mime in items:
            types.write("%s\t%s\n" % (path, mime))
    return site


class Site(http.server.SimpleHTTPRequestHandler):
    """The site's files with a year's max-age, their type, and gzip where real servers use it."""

    types = {}
    log = None
    log_lock = threading.Lock()  # the server answers on many threads at once

    def do_GET(self):
        path = self.path.split("?")[0].lstrip("/") or "index.html"
        full = os.path.join(self.directory, path)
        if not os.path.isfile(full):
            self.send_error(404)
            return
        with open(full, "rb") as f:
            data = f.read()
        mime = self.types.get(path, "text/html; charset=utf-8")
        headers = {"Content-Type": mime, "Cache-Control": "public, max-age=31536000",
                   "Last-Modified": "Tue, 02 Jan 2024 10:00:00 GMT", "ETag": '"%x"' % hash(path)}
        if (mime in GZIP_TYPES or path == "index.html") and "gzip" in self.headers.get(
                "Accept-Encoding", ""):
            data = gzip.compress(data, 6, mtime=0)
            headers["Content-Encoding"] = "gzip"
        self.send_response(200)
        for k, v in headers.items():
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)
        with self.log_lock:
            if self.log:
                self.log.write("%s\t%d\n" % (path, len(data)))

    def log_message(self, *args):
        pass


def serve(site):
    types = {}
    with open(os.path.join(site, "types.tsv")) as f:
        for line in f:
            path, mime = line.rstrip("\n").split("\t")
            types[path] = mime
    handler = type("Handler", (Site,), {"types": types})

    def make(*a, **k):
        return handler(*a, directory=site, **k)

    server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), make)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, handler


def run(args, home, seconds):
    env = dict(os.environ, HOME=home, XDG_CACHE_HOME=os.path.join(home, ".cache"),
               XDG_CONFIG_HOME=os.path.join(home, ".config"))
    started = time.time()
    try:
        subprocess.run(args, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=seconds)
    except subprocess.TimeoutExpired:
        print("  (stopped after %d s)" % seconds, file=sys.stderr)
    return time.time() - started


def fill_chromium(url, home, backend):
    os.makedirs(home, exist_ok=True)
    args = ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
            "--user-data-dir=" + os.path.join(home, ".config/chromium"),
            "--virtual-time-budget=120000", "--dump-dom"]
    if backend != "simple":
        args.append("--enable-features=DiskCacheBackendExperiment:backend/" + backend)
    return run(args + [url], home, 600)


def fill_firefox(url, home):
    profile = os.path.join(home, ".mozilla/firefox/bench.default")
    os.makedirs(profile, exist_ok=True)
    with open(os.path.join(home, ".mozilla/firefox/profiles.ini"), "w") as ini:
        ini.write("[Profile0]\nName=bench\nIsRelative=1\nPath=bench.default\nDefault=1\n")
    with open(os.path.join(profile, "user.js"), "w") as prefs:
        prefs.write('user_pref("browser.cache.disk.capacity", 2097152);\n'
                    'user_pref("browser.cache.disk.smart_size.enabled", false);\n'
                    'user_pref("browser.shell.checkDefaultBrowser", false);\n')
    shot = os.path.join(home, "shot.png")
    took = run(["firefox-esr", "--headless", "--no-remote", "--profile", profile,
                "--screenshot", shot, "--window-size=800,600", url], home, 600)
    if os.path.exists(shot):
        os.remove(shot)
    return took


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("what", choices=["make", "site"])
    parser.add_argument("out")
    parser.add_argument("--count", type=int, default=3000)
    args = parser.parse_args()
    out = os.path.abspath(args.out)
    site = make_site(out, args.count)
    total = sum(os.path.getsize(os.path.join(r, n)) for r, _, ns in os.walk(site) for n in ns)
    print("site: %s, %.0f MB" % (site, total / 1e6))
    if args.what == "site":
        return
    server, handler = serve(site)
    url = "http://127.0.0.1:%d/index.html" % server.server_address[1]
    for name, fill in [("chromium-simple", lambda h: fill_chromium(url, h, "simple")),
                       ("chromium-blockfile", lambda h: fill_chromium(url, h, "blockfile")),
                       ("chromium-sql", lambda h: fill_chromium(url, h, "sql")),
                       ("firefox", lambda h: fill_firefox(url, h))]:
        home = os.path.join(out, "caches", name)
        shutil.rmtree(home, ignore_errors=True)
        os.makedirs(home)
        with open(os.path.join(home, "served.tsv"), "w") as log:
            handler.log = log
            took = fill(home)
            with handler.log_lock:
                handler.log = None
        with open(os.path.join(home, "served.tsv")) as log:
            served = sum(1 for _ in log)
        print("%-20s %5d responses served, %.0f s" % (name, served, took))
    server.shutdown()


if __name__ == "__main__":
    main()
