# A Telnet caller who guesses passwords: three failed logins, then hangs up.
#   smoke_client.py PORT NAME
import socket
import sys

port, name = int(sys.argv[1]), sys.argv[2].encode()
s = socket.create_connection(("127.0.0.1", port), timeout=30)
seen = b""


def read_until(needle):
    global seen
    while needle not in seen:
        chunk = s.recv(4096)
        if not chunk:
            sys.exit("connection closed before %r; got %r" % (needle, seen[-200:]))
        seen += chunk
    seen = seen[seen.index(needle) + len(needle):]


for guess in (b"letmein", b"123456", b"sysop"):
    read_until(b"Login:  ")
    s.sendall(name + b"\r\n")
    read_until(b"Password:  ")
    s.sendall(guess + b"\r\n")
s.close()
print("guessed three times")
