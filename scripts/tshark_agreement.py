#!/usr/bin/env python3
"""Runs a room through the lossy relay while tshark captures loopback, then
sets the engine's own figures (stats.json "transport") beside tshark's
analysis of the same packets: per viewer and sender, the video packets that
arrived and the cumulative loss (RTP stream analysis), and the last receiver
report's cumulative loss and jitter as tshark decodes it against what the
sender's engine says it was told. Needs root (capture) and tshark.

usage: scripts/tshark_agreement.py [BUILD_DIR] [SECONDS] [LOSS_PERCENT]"""
import json
import os
import re
import subprocess
import sys
import tempfile
import time

build = sys.argv[1] if len(sys.argv) > 1 else "build"
seconds = sys.argv[2] if len(sys.argv) > 2 else "15"
loss = sys.argv[3] if len(sys.argv) > 3 else "5"
work = tempfile.mkdtemp(prefix="tshark-agreement-")
capture = os.path.join(work, "cap.pcapng")
out = os.path.join(work, "room")
VIDEO_CLOCK_HZ = 90000

tshark = subprocess.Popen(["tshark", "-i", "lo", "-f", "udp", "-w", capture, "-q"], stderr=subprocess.DEVNULL)
time.sleep(2)
subprocess.run([os.path.join(build, "tools/room/tavolin-room"), "--seconds", seconds, "--loss", loss, "--seed", "3",
                "--out", out], stdout=subprocess.DEVNULL, timeout=int(seconds) + 60)
time.sleep(1)
tshark.terminate()
tshark.wait(timeout=10)

stats = json.load(open(os.path.join(out, "stats.json")))
video_port = {p["id"]: p["video_port"] for p in stats["players"]}
ssrc = {p["id"]: int(p["video_ssrc"]) for p in stats["transport"]}
figures = {(p["id"], q["sender"]): q for p in stats["transport"] for q in p["peers"]}

read = ["tshark", "-r", capture, "-o", "rtp.heuristic_rtp:TRUE", "-o", "rtcp.heuristic_rtcp:TRUE",
        "--disable-protocol", "rfc2190", "--disable-protocol", "h263"]
streams = {}
for line in subprocess.run(read + ["-q", "-z", "rtp,streams"], capture_output=True, text=True).stdout.splitlines():
    m = re.match(r"\s*[\d.]+\s+[\d.]+\s+127\.0\.0\.1\s+\d+\s+127\.0\.0\.1\s+(\d+)\s+0x([0-9A-Fa-f]+)\s+.*?\s(\d+)\s+(-?\d+) \(",
                 line)
    if m:
        streams[(int(m.group(1)), int(m.group(2), 16))] = (int(m.group(3)), int(m.group(4)))

# The last report block each video source gave about each other video source.
reports = {}
fields = ["-T", "fields", "-E", "separator=;", "-e", "rtcp.senderssrc", "-e", "rtcp.ssrc.identifier",
          "-e", "rtcp.ssrc.cum_nr", "-e", "rtcp.ssrc.jitter"]
for line in subprocess.run(read + ["-Y", "rtcp.ssrc.identifier"] + fields, capture_output=True,
                           text=True).stdout.splitlines():
    parts = line.split(";")
    if len(parts) < 4 or not parts[0] or not parts[2]:
        continue  # feedback and SDES carry identifiers without report blocks
    reporter = int(parts[0].split(",")[0], 0)
    for about, lost, jitter in zip(parts[1].split(","), parts[2].split(","), parts[3].split(",")):
        reports[(reporter, int(about, 0))] = (int(lost), int(jitter))

print("viewer <- sender   packets ours/tshark   lost ours/tshark   "
      "last RR: lost sender-told/tshark   jitter ms sender-told/tshark")
for (viewer, sender), ours in sorted(figures.items()):
    packets, lost = streams.get((video_port[viewer], ssrc[sender]), (None, None))
    told = figures.get((sender, viewer), {})
    rr_lost, rr_jitter = reports.get((ssrc[viewer], ssrc[sender]), (None, None))
    rr_jitter_ms = None if rr_jitter is None else rr_jitter * 1000.0 / VIDEO_CLOCK_HZ
    print(f"{viewer:6} <- {sender:<6}   {ours['video_packets_received']:>7} / {packets}   "
          f"{ours['cumulative_lost']:>6} / {lost}   "
          f"{told.get('remote_cumulative_lost')} / {rr_lost}   "
          f"{told.get('remote_jitter_ms') or 0:.2f} / {rr_jitter_ms if rr_jitter_ms is None else round(rr_jitter_ms, 2)}")
print("capture and room output in", work)
