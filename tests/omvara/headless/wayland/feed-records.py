#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A stand-in instrument on a fresh pseudo-terminal for the Wayland typing tests.

usage: feed-records.py OWNER VALUES-FILE
Prints the terminal's path, hands it to the user OWNER, then waits for a line
on standard input and sends each line of VALUES-FILE, ended by LF, 20 ms
apart; then holds the terminal open until standard input ends.
"""
import os, pwd, sys, time

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
            time.sleep(0.02)
print("sent", flush=True)
sys.stdin.read()
