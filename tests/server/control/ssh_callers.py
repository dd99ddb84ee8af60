#!/usr/bin/python3
"""Real SSH clients against the board, for ssh_callers_test.cpp.

  openssh PORT USER PASSWORD KNOWN_HOSTS   ssh -tt in a pseudo-terminal with LANG=C.UTF-8: log in
                                           at ssh's password prompt, see the area screen drawn
                                           in UTF-8, log off with Q; prints OK
  openssh-new PORT KNOWN_HOSTS             ssh as "new" with no password at all; prints the
                                           first prompt of the new-account dialogue
  guess PORT USER TRIES                    paramiko: wrong passwords until the server hangs up;
                                           prints "closed" once it has
  kbdint PORT USER PASSWORD                paramiko with keyboard-interactive only: prints the
                                           server's prompt and OK once the area screen came
"""
import os
import socket
import sys
import time

BOUND = 20


def ssh_command(port, user, known_hosts):
    # No user or system configuration, no keys or agent: only what the test says.
    return ["ssh", "-tt", "-F", "/dev/null", "-p", str(port),
            "-o", "UserKnownHostsFile=" + known_hosts, "-o", "GlobalKnownHostsFile=/dev/null",
            "-o", "StrictHostKeyChecking=accept-new", "-o", "PubkeyAuthentication=no",
            "-o", "SendEnv=LANG", "-o", "ConnectTimeout=%d" % BOUND,
            "-o", "NumberOfPasswordPrompts=1", user + "@127.0.0.1"]


def spawn(command):
    import pexpect
    env = dict(os.environ, LANG="C.UTF-8")
    env.pop("SSH_AUTH_SOCK", None)
    return pexpect.spawn(command[0], command[1:], env=env, timeout=BOUND)


def openssh(port, user, password, known_hosts):
    import pexpect
    ssh = spawn(ssh_command(port, user, known_hosts))
    # ssh prefers keyboard-interactive, where the board asks with its own prompt.
    ssh.expect("Password:  ")
    ssh.sendline(password)
    # The area screen: its rules in UTF-8 box drawing, then the key prompt.
    ssh.expect("\u2500".encode())
    ssh.expect(b"Q")
    ssh.send("Q")
    ssh.expect(pexpect.EOF)
    ssh.close()
    print("OK" if ssh.exitstatus == 0 else "exit %s" % ssh.exitstatus)


def openssh_new(port, known_hosts):
    ssh = spawn(ssh_command(port, "new", known_hosts))
    ssh.expect(b":  ")
    print(ssh.before.decode(errors="replace").splitlines()[-1])
    ssh.close(force=True)


def client(port):
    import paramiko
    transport = paramiko.Transport(socket.create_connection(("127.0.0.1", port), BOUND))
    transport.start_client(timeout=BOUND)
    return transport


def guess(port, user, tries):
    import paramiko
    transport = client(port)
    for i in range(tries):
        try:
            transport.auth_password(user, "wrong-%d" % i)
        except paramiko.AuthenticationException:
            continue
        except (paramiko.SSHException, EOFError, OSError):
            break
    # Once the tries are used up the server hangs up.
    deadline = time.time() + BOUND
    while transport.is_active() and time.time() < deadline:
        time.sleep(0.05)
    print("closed" if not transport.is_active() else "open")
    transport.close()


def kbdint(port, user, password):
    transport = client(port)
    prompts = []

    def handler(title, instructions, fields):
        prompts.extend(text for text, echo in fields)
        return [password] * len(fields)

    transport.auth_interactive(user, handler)
    channel = transport.open_session(timeout=BOUND)
    channel.get_pty(term="vt100", width=80, height=24)
    channel.invoke_shell()
    channel.settimeout(BOUND)
    seen = b""
    while b"Q" not in seen:
        data = channel.recv(4096)
        if not data:
            break
        seen += data
    print(repr(prompts))
    print("OK" if b"Q" in seen else "no area screen: %r" % seen)
    transport.close()


if __name__ == "__main__":
    what, args = sys.argv[1], sys.argv[2:]
    if what == "openssh":
        openssh(int(args[0]), args[1], args[2], args[3])
    elif what == "openssh-new":
        openssh_new(int(args[0]), args[1])
    elif what == "guess":
        guess(int(args[0]), args[1], int(args[2]))
    elif what == "kbdint":
        kbdint(int(args[0]), args[1], args[2])
    else:
        sys.exit("unknown case " + what)
