#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A stand-in instrument on a fresh pseudo-terminal for the Wayland typing tests.

usage: feed-records.py OWNER VALUES-FILE [GAP-SECONDS]
Prints the terminal's path, hands it to the user OWNER, then waits for a line
on standard input and sends each line of VALUES-FILE, ended by LF, GAP
(0.02 s) apart, printing "write NS" (CLOCK_MONOTONIC) after each; then holds
the terminal open until standard input ends.
"""
import os, pwd, sys, time

gap = float(sys.argv[3]) if len(sys.argv) > 3 else 0.02
master, slave = os.openpty()
path = os.ttyname(slave)
user = pwd.getpwnam(sys.argv[1])
os.chown(path, user.pw_uid, user.pw_gid)
os.close(slave)
print(path, flush=True)
sys.stdin.readline()
with open(sys.argv[2], "rb") as f:
    for line in f.read().split(b"\n"):
        if line:
            os.write(master, line + b"\n")
            print("write", time.monotonic_ns(), flush=True)
            time.sleep(gap)
print("sent", flush=True)
sys.stdin.read()
