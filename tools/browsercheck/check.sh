#!/usr/bin/env bash
# Plays the program's MP4 and WebM exports in headless Chromium and Firefox and compares the colours
# each browser shows with what ffmpeg decodes from the same files (see README.md).
#   tools/browsercheck/check.sh [--vellumo PATH] [--browsers "chromium firefox"] [--keep]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
vellumo=$root/build/vellumo
browsers="chromium firefox"
keep=0
while [ $# -gt 0 ]; do
    case "$1" in
    --vellumo) vellumo=$2; shift 2 ;;
    --browsers) browsers=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) echo "usage: $0 [--vellumo PATH] [--browsers \"chromium firefox\"] [--keep]" >&2; exit 2 ;;
    esac
done

need() { command -v "$1" >/dev/null || { echo "$1 is missing: $2" >&2; exit 2; }; }
need convert "apt-get install imagemagick"
need ffmpeg "apt-get install ffmpeg"
need python3 "apt-get install python3"
for b in $browsers; do
    case "$b" in
    chromium) need chromium "apt-get install chromium" ;;
    firefox) need firefox-esr "apt-get install firefox-esr" ;;
    *) echo "unknown browser $b" >&2; exit 2 ;;
    esac
done
[ -x "$vellumo" ] || { echo "no program at $vellumo: build it first (or --vellumo PATH)" >&2; exit 2; }

work=$(mktemp -d /tmp/browsercheck.XXXXXX)
server=
cleanup() {
    if [ -n "$server" ]; then
        kill "$server" 2>/dev/null || true
        wait "$server" 2>/dev/null || true
    fi
    if [ "$keep" = 1 ]; then echo "Files kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
mkdir -p "$work/results"
cp "$here/probe.html" "$work/"

# Flat slides of the stage's size, 24-bit BMP as the program saves them.
slides() {
    local folder=$1 n=0 colour
    shift
    mkdir -p "$folder"
    for colour in "$@"; do
        n=$((n + 1))
        convert -size 396x346 "xc:rgb($colour)" -type TrueColor "BMP3:$folder/$(printf %03d $n).bmp"
    done
}
json_slides() { local s; for s in "$@"; do printf '[%s],' "$s"; done | sed 's/,$//'; }

# Grass and orange are the colours Firefox once showed wrong; the others cover skin, sky, dark and grey.
colours=("70,160,60" "230,80,40" "90,160,230" "240,200,170" "100,40,110" "128,128,128")
seconds=("200,40,40" "40,180,60" "40,70,200" "230,210,40" "150,60,180")
slides "$work/colours" "${colours[@]}"
slides "$work/seconds" "${seconds[@]}"

export QT_QPA_PLATFORM=offscreen
for ext in mp4 webm; do
    "$vellumo" --export "$work/colours.$ext" --fps 2 "$work/colours" >/dev/null
    "$vellumo" --export "$work/seconds.$ext" --fps 1 "$work/seconds" >/dev/null
done

# At 2 fps each slide shows for half a second: the middle of each; at 1 fps every half second,
# a moment before the end and the end itself.
cat > "$work/plan.json" <<EOF
{"browsers": [$(for b in $browsers; do printf '"%s",' "$b"; done | sed 's/,$//')],
 "checks": [
  {"title": "Colours (6 slides at 2 fps)", "fps": 2, "duration": 3.0,
   "times": "0.25,0.75,1.25,1.75,2.25,2.75", "videos": ["colours.mp4", "colours.webm"],
   "slides": [$(json_slides "${colours[@]}")]},
  {"title": "Slides at 1 fps (5 slides)", "fps": 1, "duration": 5.0,
   "times": "0.5,1.5,2.5,3.5,4.5,end-0.05,end", "videos": ["seconds.mp4", "seconds.webm"],
   "slides": [$(json_slides "${seconds[@]}")]}
 ]}
EOF

python3 "$here/browsercheck.py" serve "$work" "$work/port" "$work/results" &
server=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port")

# Runs one browser on one page in its own session (so that all its processes end together) until the
# page has posted its result.
open_page() {
    local browser=$1 url=$2 tag=$3 profile=$work/profile-$3 pid
    mkdir -p "$profile"
    case "$browser" in
    chromium)
        setsid chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
            --disable-background-networking --disable-component-update --disable-sync \
            --autoplay-policy=no-user-gesture-required --user-data-dir="$profile" "$url" </dev/null \
            >"$work/$tag.log" 2>&1 &
        ;;
    firefox)
        # A fresh profile that neither updates nor reports, nor asks anything at the first start.
        cat > "$profile/user.js" <<'EOF'
user_pref("app.update.enabled", false);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("network.captive-portal-service.enabled", false);
user_pref("network.connectivity-service.enabled", false);
user_pref("extensions.update.enabled", false);
user_pref("media.autoplay.default", 0);
EOF
        MOZ_HEADLESS=1 setsid firefox-esr --headless --no-remote --profile "$profile" "$url" </dev/null \
            >"$work/$tag.log" 2>&1 &
        ;;
    esac
    pid=$!
    for _ in $(seq 600); do
        [ -e "$work/results/$tag.json" ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -- -"$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    [ -e "$work/results/$tag.json" ] || echo "$browser gave no result for $tag; its output: $work/$tag.log" >&2
}

python3 - "$work/plan.json" <<'EOF' > "$work/runs"
import json, sys
plan = json.load(open(sys.argv[1]))
for check in plan["checks"]:
    for video in check["videos"]:
        print(video, check["times"])
EOF
for browser in $browsers; do
    while read -r video times; do
        tag="$browser-${video%.*}-${video##*.}"
        open_page "$browser" "http://127.0.0.1:$port/probe.html?video=$video&times=$times&tag=$tag" "$tag"
    done < "$work/runs"
done

python3 "$here/browsercheck.py" report "$work"
