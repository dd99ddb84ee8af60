#!/usr/bin/python3
"""Real terminal callers against a running board, with pyte as the caller's screen.

usage: callers.py telnet|putty|lf PORT

telnet: inetutils telnet in a pty (Enter is CR NUL, Backspace is DEL) makes an account with a
        password corrected by DEL and pages the rules, then logs in again and pages the file viewer.
putty:  a socket caller that talks as PuTTY does (Enter is CR LF, Backspace is DEL) logs in with
        a corrected password, switches to UTF-8 and pages the file viewer.
lf:     a socket caller meets the text files as Linux editors write them (lone LF): a name in
        badnames.txt is refused, and the rules, a description and the viewed file arrive with
        CR LF, the lines that had CR LF unchanged.
The board is the one callers_test.cpp prepares. Exit status 0 when every check held; otherwise a
message on standard error says which did not.
"""

import re
import socket
import sys
import time

import pexpect
import pyte

BOUND = 20  # seconds to wait for any one thing the board sends
IAC = 255


class Screen:
    """What the caller's terminal shows: an 80x24 pyte screen fed with UTF-8."""

    def __init__(self):
        self.screen = pyte.Screen(80, 24)
        self.stream = pyte.ByteStream(self.screen)

    def feed(self, data):
        self.stream.feed(data)

    def row(self, n):
        return self.screen.display[n]

    def text(self):
        return "\n".join(self.screen.display)


def fail(message, seen=b""):
    sys.stderr.write("FAILED: %s\n--- last bytes seen ---\n%r\n" % (message, seen[-600:]))
    sys.exit(1)


# --- inetutils telnet in a pty -------------------------------------------------------------

class TelnetCaller:
    def __init__(self, port):
        self.child = pexpect.spawn("telnet", ["127.0.0.1", str(port)], dimensions=(24, 80),
                                   timeout=BOUND)
        self.screen = Screen()
        self.seen = b""

    def upto(self, needle):
        """Everything up to and including needle (bytes or regex text)."""
        try:
            self.child.expect(needle)
        except (pexpect.TIMEOUT, pexpect.EOF):
            fail("waited for %r" % (needle,), self.seen + (self.child.before or b""))
        got = self.child.before + self.child.after
        self.seen += got
        self.screen.feed(got)
        return got

    def send(self, data):
        self.child.send(data)

    def closed(self):
        """What came until the board hung up."""
        try:
            self.child.expect(pexpect.EOF)
        except pexpect.TIMEOUT:
            fail("the board did not hang up", self.seen)
        self.seen += self.child.before
        self.child.close()
        return self.child.before


def telnet_caller(port):
    t = TelnetCaller(port)
    t.upto(b"Login:  ")
    t.send("new\r")
    t.upto(b"use:  ")
    t.send("tessa\r")
    t.upto(b"screen\\):  ")
    # A typo taken back with the Backspace key: the account's password is "pass".
    t.send("pazz\x7f\x7fss\r")
    t.upto(b"verify:  ")
    t.send("pass\r")
    t.upto(b"real name:  ")
    t.send("Tess\r")
    t.upto(b"\\(Y/N\\)\\?  ")
    t.send("y")

    # The rules, two pages. Enter (CR NUL) turns one page: the second stays on screen and waits.
    t.upto(b"Rule 21")
    t.send("\r")
    t.upto(b"Rule 30[^\r]*\r\n")
    if "Rule 30" not in t.screen.text():
        fail("the rules' second page is not on the screen", t.seen)
    # This key belongs to the pager; had the NUL been a key, it would take the caller into the
    # Lounge, whose screen would come before the caller leaves.
    t.send("1")
    t.upto(b"\\]  ")
    if not t.screen.row(0).startswith("Main hall"):
        fail("after the rules the caller is not in the main hall: %r" % t.screen.row(0), t.seen)
    t.send("q")
    rest = t.closed()
    if b"Lounge" in rest:
        fail("one Enter turned two pages of the rules", t.seen)

    # Again, with the password's typo taken back differently.
    t = TelnetCaller(port)
    t.upto(b"Login:  ")
    t.send("tessa\r")
    t.upto(b"Password:  ")
    t.send("pasx\x7fs\r")
    t.upto(b"(\\]  |Login incorrect)")
    if b"Login incorrect" in t.seen:
        fail("the password corrected with DEL was refused", t.seen)

    # The file viewer: Enter shows the next page only.
    t.send("a")
    t.upto(b"MORE \\(251/960")
    t.send("\r")
    t.upto(b"MORE \\(503/960")
    t.send("\x1b")
    rest = t.upto(b"\\]  ")
    if b"755/960" in rest:
        fail("one Enter turned two pages in the file viewer", t.seen)
    t.send("q")
    t.closed()


# --- a caller that sends what PuTTY sends ---------------------------------------------------

class PuttyCaller:
    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=BOUND)
        self.screen = Screen()
        self.seen = b""
        self.pending = b""  # received, not yet handed out by upto
        # PuTTY's opening offers: window size, terminal type, and the rest it asks for.
        self.sock.sendall(bytes([IAC, 251, 31, IAC, 251, 32, IAC, 251, 24, IAC, 251, 39,
                                 IAC, 253, 1, IAC, 251, 3, IAC, 253, 3]))

    def strip_telnet(self, data):
        """Takes the server's Telnet commands out (options are three bytes, IAC IAC is 255)."""
        out = bytearray()
        i = 0
        while i < len(data):
            if data[i] != IAC:
                out.append(data[i])
                i += 1
            elif i + 1 < len(data) and data[i + 1] == IAC:
                out.append(IAC)
                i += 2
            else:
                i += 3
        return bytes(out)

    def upto(self, needle):
        pattern = re.compile(needle, re.S)
        deadline = time.monotonic() + BOUND
        while True:
            m = pattern.search(self.pending)
            if m:
                got, self.pending = self.pending[:m.end()], self.pending[m.end():]
                self.seen += got
                self.screen.feed(got)
                return got
            left = deadline - time.monotonic()
            if left <= 0:
                fail("waited for %r" % (needle,), self.seen + self.pending)
            self.sock.settimeout(left)
            try:
                data = self.sock.recv(4096)
            except socket.timeout:
                continue
            if not data:
                fail("the board hung up while we waited for %r" % (needle,), self.seen + self.pending)
            # Commands are three bytes and come in the opening only, never split from it.
            self.pending += self.strip_telnet(data)

    def send(self, data):
        self.sock.sendall(data)

    def closed(self):
        self.sock.settimeout(BOUND)
        while True:
            data = self.sock.recv(4096)
            if not data:
                break
            self.pending += data
        self.sock.close()


def putty_caller(port):
    p = PuttyCaller(port)
    p.upto(b"Login:  ")
    p.send(b"putty\r\n")
    p.upto(b"Password:  ")
    p.send(b"secrex\x7ft\r\n")
    p.upto(rb"(\]  |Login incorrect)")
    if b"Login incorrect" in p.seen:
        fail("the password corrected with DEL was refused", p.seen)
    # Code page bytes on a UTF-8 terminal: the lines are not there yet.
    if "\u2502" in p.screen.text():
        fail("box lines before the caller chose UTF-8", p.seen)

    # The character set switch, then the area screen again.
    p.send(b"b")
    p.upto(rb"Which do you wish to use\?  ")
    p.send(b"u")
    p.upto(rb"U\r\n.*\]  ")
    rows = [p.screen.row(r) for r in range(24)]
    if not all(rows[r][44] == "\u2502" for r in range(1, 21)):
        fail("no vertical box line at column 45:\n%s" % "\n".join(rows), p.seen)
    if rows[21][:44] != "\u2500" * 44 or rows[21][44] != "\u2534":
        fail("no horizontal box line with its junction on row 22:\n%s" % rows[21], p.seen)

    # The file viewer, Enter as CR LF.
    p.send(b"a")
    p.upto(rb"MORE \(251/960")
    p.send(b"\r\n")
    p.upto(rb"MORE \(503/960")
    p.send(b"\x1b")
    rest = p.upto(rb"\]  ")
    if b"755/960" in rest:
        fail("one Enter (CR LF) turned two pages in the file viewer", p.seen)
    p.send(b"q")
    p.closed()


def exact_lines(p, chunk, expected, what):
    if expected not in chunk:
        fail("%s did not arrive as %r" % (what, expected), p.seen)
    if re.search(rb"(?<!\r)\n|\r\r", chunk):
        fail("%s has a lone LF or a doubled CR" % what, p.seen)


def lf_caller(port):
    p = PuttyCaller(port)
    p.upto(b"Login:  ")
    p.send(b"new\r\n")
    p.upto(b"use:  ")
    p.send(b"sysop\r\n")  # the second line of badnames.txt
    p.upto(rb"(use:  |screen\):  )")
    if not p.seen.endswith(b"use:  "):
        fail("a name from an LF-only badnames.txt was accepted", p.seen)
    p.send(b"linus\r\n")
    p.upto(rb"screen\):  ")
    p.send(b"pass\r\n")
    p.upto(b"verify:  ")
    p.send(b"pass\r\n")
    p.upto(b"real name:  ")
    p.send(b"Linus\r\n")
    p.upto(rb"\(Y/N\)\?  ")
    p.send(b"n")
    page = p.upto(rb"Rule 21: be kind\.\r\n")
    exact_lines(p, page[page.index(b"Rule 01"):], b"Rule 01: be kind.\r\nRule 02: be kind.\r\n"
                b"Rule 03: be kind.\r\nRule 04", "the rules (LF-only, line 3 CR LF)")
    p.send(b"x")
    page = p.upto(rb"Rule 30: be kind\.\r\n")
    exact_lines(p, page, b"Rule 29: be kind.\r\nRule 30", "the rules' second page")
    p.send(b"x")
    hall = p.upto(rb"\]  ")
    exact_lines(p, hall, b"Hall for plain callers\r\nsecond line\r\n", "the hall's .asc")

    p.send(b"1")
    lounge = p.upto(rb"\]  ")
    first, second = lounge.find(b"First line"), lounge.find(b"Second line")
    if first < 0 or second != first + 80:
        fail("the LF-only description is not laid out one line per row", p.seen)
    p.send(b"a")
    page = p.upto(rb"MORE \(")
    exact_lines(p, page, b"note 1\r\nnote 2\r\nnote 3\r\n", "the viewed file (mixed line ends)")
    p.send(b"\x1b")
    p.upto(rb"\]  ")
    p.send(b"q")
    p.closed()


def main():
    callers = {"telnet": telnet_caller, "putty": putty_caller, "lf": lf_caller}
    if len(sys.argv) != 3 or sys.argv[1] not in callers:
        sys.stderr.write(__doc__)
        return 2
    callers[sys.argv[1]](int(sys.argv[2]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
