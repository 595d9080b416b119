#!/usr/bin/env python3
"""Stands a terminal in for a marker file, so that reading the marker never returns.

Links PATH to the slave side of a new pseudo-terminal and, for SECONDS, drains
whatever is written to it without ever writing back: the program's "creation"
of the marker succeeds, and its read then waits for input that never comes.
Unlike a FIFO, no race decides whether the read gets the written bytes back.
"""
import os
import pty
import sys
import time

path, seconds = sys.argv[1], float(sys.argv[2])
master, slave = pty.openpty()
os.symlink(os.ttyname(slave), path)
end = time.time() + seconds
while time.time() < end:
    try:
        os.read(master, 65536)
    except OSError:
        time.sleep(0.05)
