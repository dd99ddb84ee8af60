"""Prints the 80x24 screen that a terminal shows after the bytes in the file named by the first
argument, one row per line, through Debian's pyte terminal model."""
import sys

import pyte

screen = pyte.Screen(80, 24)
stream = pyte.ByteStream(screen)
with open(sys.argv[1], "rb") as received:
    stream.feed(received.read())
sys.stdout.write("\n".join(screen.display) + "\n")
