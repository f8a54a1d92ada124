#!/bin/sh
# Opens reports in a real headless Chromium: every picture must load and nothing written by
# a hostile name or URL may become markup or run. The report holds no script, so a page of
# our own beside it loads it in a frame and writes what it finds into its own DOM, which
# --dump-dom prints.
# Usage: report_browser_check.sh <tamberlin> <tamberlin_report_sample> <fixtures>. 77: skipped.
set -u
bin=$1
sample=$2
fixtures=$3
browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
    echo "skipped: no chromium (Debian package chromium) to open the report in"
    exit 77
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/tamberlin-report-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/home"
export HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config" XDG_CACHE_HOME="$tmp/home/.cache"
unset WINEPREFIX

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Loads DIR/index.html through DIR/probe.html and prints the probe's finding.
probe() {
    cat >"$1/probe.html" <<'HTML'
<!DOCTYPE html><html><head><meta charset="utf-8"><title>probe</title></head><body>
<pre id="result">not finished</pre>
<iframe id="report" src="index.html" style="width:1200px;height:900px"></iframe>
<script>
const frame = document.getElementById('report');
frame.onload = () => {
  const d = frame.contentDocument;
  const images = [...d.images];
  // Lazy loading is the browser's choice; here every picture must be able to load.
  images.forEach(i => { i.loading = 'eager'; });
  const settle = () => {
    if (!images.every(i => i.complete)) { setTimeout(settle, 20); return; }
    const broken = images.filter(i => i.naturalWidth === 0).map(i => i.getAttribute('src'));
    let handlers = 0;
    const tags = new Set();
    d.querySelectorAll('*').forEach(e => {
      tags.add(e.localName);
      for (const a of e.attributes) if (a.name.startsWith('on')) handlers++;
    });
    const badLinks = [...d.querySelectorAll('a[href]')].filter(
      a => !/^(https?|file):$/.test(new URL(a.href).protocol)).length;
    document.getElementById('result').textContent =
      'RES' + 'ULT images=' + images.length + ' broken=' + broken.length + ' handlers=' + handlers +
      ' badlinks=' + badLinks + ' scripts=' + d.scripts.length + ' title=' + document.title +
      '|' + d.title + ' tags=' + [...tags].sort().join(',') + ' broken:' + broken.join(' ');
  };
  settle();
};
</script></body></html>
HTML
    timeout 120 "$browser" --headless --no-sandbox --disable-gpu --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$tmp/profile-$(basename "$1")" --allow-file-access-from-files \
        --virtual-time-budget=10000 --dump-dom "file://$1/probe.html" 2>"$tmp/chromium.err" |
        grep -o 'RESULT[^<]*'
}

allowed='a,body,dd,div,dl,dt,h1,h2,head,html,i,img,li,meta,p,section,span,style,title,ul,video'
check() { # folder, pictures expected
    result=$(probe "$1")
    echo "$result"
    case "$result" in
    "RESULT images=$2 broken=0 handlers=0 badlinks=0 scripts=0 title=probe|Tamberlin: "*" tags="*) ;;
    *) fail "$1: $result $(tail -n 3 "$tmp/chromium.err")" ;;
    esac
    tags=$(printf '%s\n' "$result" | sed -n 's/.* tags=\([^ ]*\).*/\1/p')
    for t in $(printf '%s' "$tags" | tr ',' ' '); do
        case ",$allowed," in *",$t,"*) ;; *) fail "$1: the report holds a <$t> element" ;; esac
    done
}

mkdir "$tmp/hostile"
pictures=$("$sample" "$tmp/hostile") || fail "the sample report could not be written"
check "$tmp/hostile" "$pictures"

# The real thing: pictures saved from the fixture caches, with their report.
firefox=$fixtures/browser-caches/firefox/home
chromium=$fixtures/browser-caches/chromium/home
if [ -d "$firefox" ] && [ -d "$chromium" ]; then
    "$bin" --save "$tmp/saved" --report "$firefox" "$chromium" >/dev/null 2>"$tmp/err" ||
        fail "--save --report exited $?: $(cat "$tmp/err")"
    pictures=$(ls "$tmp/saved" | grep -v -E '\.(mp4|html|csv)$' | wc -l)
    check "$tmp/saved" "$pictures"
else
    echo "the fixture caches are not at $fixtures: only the sample report was opened"
fi

[ "$failures" -eq 0 ] || exit 1
echo "the reports load in Chromium and nothing in them runs"
