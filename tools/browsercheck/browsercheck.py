#!/usr/bin/env python3
"""Helpers of check.sh.

  browsercheck.py serve ROOT PORTFILE RESULTS
      Serves ROOT on 127.0.0.1 (a free port, written to PORTFILE) and stores what probe.html
      posts to /result as RESULTS/<tag>.json.
  browsercheck.py report WORK
      Reads the browsers' results and the plan in WORK, decodes the same videos with ffmpeg
      and prints one table per check; exits 1 when a value is off.
"""
import http.server
import io
import json
import os
import re
import subprocess
import sys


def serve(root, port_file, results):
    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, directory=root, **kwargs)

        # Chromium seeks only in media whose server answers byte ranges; without them every seek
        # lands back on the first frame.
        def send_head(self):
            ranged = re.fullmatch(r"bytes=(\d+)-(\d*)", self.headers.get("Range", ""))
            path = self.translate_path(self.path)
            if not ranged or not os.path.isfile(path):
                return super().send_head()
            size = os.path.getsize(path)
            start = int(ranged.group(1))
            end = min(int(ranged.group(2)), size - 1) if ranged.group(2) else size - 1
            if start >= size:
                self.send_error(416)
                return None
            with open(path, "rb") as f:
                f.seek(start)
                body = f.read(end - start + 1)
            self.send_response(206)
            self.send_header("Content-Type", self.guess_type(path))
            self.send_header("Content-Range", f"bytes {start}-{end}/{size}")
            self.send_header("Content-Length", str(end - start + 1))
            self.end_headers()
            return io.BytesIO(body)

        def end_headers(self):
            self.send_header("Accept-Ranges", "bytes")
            super().end_headers()

        def do_POST(self):
            body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
            data = json.loads(body)
            name = os.path.join(results, os.path.basename(data.get("tag") or "untagged") + ".json")
            with open(name + ".part", "w") as f:
                json.dump(data, f, indent=1)
            os.replace(name + ".part", name)
            self.send_response(204)
            self.end_headers()

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    with open(port_file + ".part", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(port_file + ".part", port_file)
    server.serve_forever()


def bt601_round_trip(rgb):
    """A flat colour through 8-bit limited-range BT.601 YUV and back: what yuv420p alone costs it."""
    r, g, b = (c / 255 for c in rgb)
    y = 0.299 * r + 0.587 * g + 0.114 * b
    Y = round(16 + 219 * y)
    U = round(128 + 224 * (b - y) / 1.772)
    V = round(128 + 224 * (r - y) / 1.402)
    y = (Y - 16) / 219
    u = (U - 128) / 224
    v = (V - 128) / 224
    back = (y + 1.402 * v, y - 0.344136 * u - 0.714136 * v, y + 1.772 * u)
    return [min(255, max(0, round(c * 255))) for c in back]


def ffmpeg_frames(path):
    """Every frame of the video as (start time, mean RGB of the middle quarter), decoded by ffmpeg."""
    probe = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                            "stream=width,height:frame=pts_time,best_effort_timestamp_time",
                            "-of", "json", path], check=True, capture_output=True, text=True)
    info = json.loads(probe.stdout)
    w, h = info["streams"][0]["width"], info["streams"][0]["height"]
    times = [float(f.get("pts_time", f.get("best_effort_timestamp_time"))) for f in info["frames"]]
    # Rounded, not truncated, so that the reference is the file's content and not one more level of loss;
    # the matrix and range come from the file's tags.
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-fps_mode", "passthrough",
                          "-sws_flags", "bicubic+accurate_rnd+full_chroma_int",
                          "-f", "rawvideo", "-pix_fmt", "rgb24", "-"], check=True, capture_output=True).stdout
    size = w * h * 3
    x0, y0, bw, bh = w * 3 // 8, h * 3 // 8, w // 4, h // 4
    frames = []
    for i, t in enumerate(times):
        frame = raw[i * size:(i + 1) * size]
        sums = [0, 0, 0]
        for y in range(y0, y0 + bh):
            row = frame[(y * w + x0) * 3:(y * w + x0 + bw) * 3]
            for c in range(3):
                sums[c] += sum(row[c::3])
        frames.append((t, [round(s * 10 / (bw * bh)) / 10 for s in sums]))
    return sorted(frames)


def frame_at(frames, time, at):
    if at == "end":
        return frames[-1][1]
    shown = frames[0][1]
    for start, rgb in frames:
        if start <= time + 1e-6:
            shown = rgb
    return shown


def fmt(rgb):
    return "(" + ",".join(f"{c:g}" for c in rgb) + ")"


def off(a, b):
    return max(abs(x - y) for x, y in zip(a, b))


def report(work):
    with open(os.path.join(work, "plan.json")) as f:
        plan = json.load(f)
    # A browser converts with its own arithmetic: a few levels from ffmpeg's. The file itself holds the
    # slide as yuv420p holds it: libx264 and libvpx keep a flat colour exactly, so one level of slack.
    tolerance = float(os.environ.get("BROWSERCHECK_TOLERANCE", "3"))
    coding = float(os.environ.get("BROWSERCHECK_CODING", "1"))
    failures = []
    for check in plan["checks"]:
        slides = check["slides"]
        print(f"\n## {check['title']}\n")
        print("| browser | file | at (s) | expected slide | slide RGB | yuv420p round trip | ffmpeg | browser | "
              "browser−ffmpeg | verdict |")
        print("|---|---|---|---|---|---|---|---|---|---|")
        for video in check["videos"]:
            frames = ffmpeg_frames(os.path.join(work, video))
            for browser in plan["browsers"]:
                tag = f"{browser}-{os.path.splitext(video)[0]}-{os.path.splitext(video)[1][1:]}"
                try:
                    with open(os.path.join(work, "results", tag + ".json")) as f:
                        result = json.load(f)
                except OSError:
                    result = {"error": "no result (the browser did not report)"}
                if result.get("error") and not result.get("samples"):
                    failures.append(f"{tag}: {result['error']}")
                    print(f"| {browser} | {video} | – | – | – | – | – | – | – | FAIL: {result['error']} |")
                    continue
                duration = result.get("duration")
                if abs(duration - check["duration"]) > 0.06:
                    failures.append(f"{tag}: duration {duration} s, expected {check['duration']} s")
                for sample in result["samples"]:
                    at, time, seen = sample["at"], sample["time"], sample["rgb"]
                    index = len(slides) - 1 if at.startswith("end") else int(time * check["fps"])
                    slide = slides[min(index, len(slides) - 1)]
                    trip = bt601_round_trip(slide)
                    reference = frame_at(frames, time, at)
                    problems = []
                    if off(seen, reference) > tolerance:
                        problems.append(f"browser {off(seen, reference):g} from ffmpeg")
                    if off(reference, trip) > coding:
                        problems.append(f"file {off(reference, trip):g} from the round trip")
                    nearest = min(range(len(slides)), key=lambda k: off(seen, slides[k]))
                    if nearest != slides.index(slide):
                        problems.append(f"shows slide {nearest + 1}")
                    verdict = "ok" if not problems else "FAIL: " + "; ".join(problems)
                    if problems:
                        failures.append(f"{tag} at {at}: " + "; ".join(problems))
                    diff = "(" + ",".join(f"{a - b:+g}" for a, b in zip(seen, reference)) + ")"
                    print(f"| {browser} | {video} | {at} ({time:.2f}) | {slides.index(slide) + 1} | {fmt(slide)} | "
                          f"{fmt(trip)} | {fmt(reference)} | {fmt(seen)} | {diff} | {verdict} |")
                print(f"| {browser} | {video} | duration | | | | last frame from {frames[-1][0]:.2f} | "
                      f"{duration:.3f} | | {'ok' if abs(duration - check['duration']) <= 0.06 else 'FAIL'} |")
    print()
    for browser in plan["browsers"]:
        agents = set()
        for name in sorted(os.listdir(os.path.join(work, "results"))):
            if name.startswith(browser + "-"):
                with open(os.path.join(work, "results", name)) as f:
                    agents.add(json.load(f).get("agent", "?"))
        print(f"{browser}: {'; '.join(sorted(agents)) or 'no result'}")
    if failures:
        print("\nFAILED:\n  " + "\n  ".join(failures))
        return 1
    print("\nAll values within tolerance.")
    return 0


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "serve":
        serve(*sys.argv[2:])
    elif len(sys.argv) == 3 and sys.argv[1] == "report":
        sys.exit(report(sys.argv[2]))
    else:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
