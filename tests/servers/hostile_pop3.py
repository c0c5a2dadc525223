"""A POP3 server that misbehaves on purpose, for the cases no real server shows: it stalls,
hangs up mid-message, lies about sizes, refuses commands, or sends a line without end. It
serves `messages` messages of one size and misbehaves at message number `at`. Prints its
port, then every command it receives (passwords masked), and serves until its standard input
closes (the test that started it has ended, however it ended) or it is killed. A scenario
named "uidl-<scenario>" also offers UIDL, with ids by message number ("msg-1", "msg-2" ...):
once a QUIT has carried out the deletions, new mail of the same size arrives under the numbers
(and so the ids) of the messages deleted; "uidl-bare-<scenario>" gives the bare numbers as ids
("1", "2" ...). A scenario named "big-<scenario>" serves messages of 2 MB, which a client
downloads to disk rather than memory.
Usage: hostile_pop3.py <scenario> [messages] [at]"""
import os
import socket
import sys
import threading
import time

SCENARIO = sys.argv[1]
UIDL = SCENARIO.startswith("uidl-")
if UIDL:
    SCENARIO = SCENARIO[len("uidl-"):]
BARE = SCENARIO.startswith("bare-")
if BARE:
    SCENARIO = SCENARIO[len("bare-"):]
BIG = SCENARIO.startswith("big-")
if BIG:
    SCENARIO = SCENARIO[len("big-"):]
MESSAGES = int(sys.argv[2]) if len(sys.argv) > 2 else 1
AT = int(sys.argv[3]) if len(sys.argv) > 3 else 1
MESSAGE = (b"From: a@localhost\r\nSubject: hostile\r\n\r\n" + b"line of text\r\n" * (150000 if BIG else 399))
# How many times message n was deleted and replaced by new mail.
GENERATION = {}
GREETING = (b"+OK hostile ready <1896.697170952@localhost>\r\n" if SCENARIO == "apop-greeting"
            else b"+OK hostile ready\r\n")
QUITS = [0]
LOG = threading.Lock()


def log(cmd):
    words = cmd.decode("latin-1").split(" ")
    if words[0].upper() in ("PASS", "APOP") and len(words) > 1:
        words[-1] = "***"
    with LOG:
        print(" ".join(words), flush=True)


def send(conn, data):
    try:
        conn.sendall(data)
        return True
    except OSError:
        return False


def message(number):
    """Each message its own last line, "mail 001-000": its number, then its generation."""
    return MESSAGE + b"mail %03d-%03d\r\n" % (number, GENERATION.get(number, 0))


def size_of(number):
    if number == AT and SCENARIO == "lying-size":
        return b"100"
    if number == AT and SCENARIO == "huge-list":
        return b"1000000000000"
    return b"%d" % len(message(number))


def retr(conn, number):
    """False when the connection is to end."""
    if number != AT:
        return send(conn, b"+OK\r\n" + message(number) + b".\r\n")
    if SCENARIO == "close-mid-message":
        send(conn, b"+OK\r\n" + MESSAGE[: len(MESSAGE) // 2])
        conn.shutdown(socket.SHUT_RDWR)
        return False
    if SCENARIO == "stall-mid-message":
        send(conn, b"+OK\r\n" + MESSAGE[: len(MESSAGE) // 2])
        time.sleep(120)
        return False
    if SCENARIO == "lying-size":
        send(conn, b"+OK\r\n" + MESSAGE[:200])
        chunk = b"x" * 1000 + b"\r\n"
        while send(conn, chunk):
            pass
        return False
    if SCENARIO == "drip":
        # Never silent, never done: one byte a second.
        send(conn, b"+OK\r\n" + MESSAGE[:200])
        for byte in MESSAGE[200:]:
            time.sleep(1)
            if not send(conn, bytes([byte])):
                return False
        return False
    if SCENARIO == "endless-trickle":
        # Quick enough to look alive, and on and on past the size it announced.
        send(conn, b"+OK\r\n" + MESSAGE[:200])
        while send(conn, b"y" * 198 + b"\r\n"):
            time.sleep(0.1)
        return False
    if SCENARIO == "err-on-retr":
        return send(conn, b"-ERR [SYS/TEMP] message is locked\r\n")
    return send(conn, b"+OK\r\n" + message(number) + b".\r\n")


def serve(conn):
    f = conn.makefile("rb")
    if SCENARIO == "silent-greeting":
        time.sleep(120)
        return
    if SCENARIO == "long-line":
        chunk = b"A" * 65536
        for _ in range(200):
            if not send(conn, chunk):
                return
        time.sleep(120)
        return
    send(conn, GREETING)
    marked = set()
    while True:
        line = f.readline(4096)
        if not line:
            return
        log(line.strip())
        cmd = line.strip().split(b" ")
        verb = cmd[0].upper()
        number = int(cmd[1]) if len(cmd) > 1 and cmd[1].isdigit() else 0
        if verb in (b"USER", b"PASS", b"APOP"):
            send(conn, b"+OK\r\n")
        elif verb == b"CAPA":
            send(conn, b"+OK\r\nUSER\r\n" + (b"UIDL\r\n" if UIDL else b"") + b".\r\n")
        elif verb == b"UIDL" and UIDL and SCENARIO == "huge-uidl":
            # Far past any sensible listing, until the client gives up.
            send(conn, b"+OK\r\n")
            while send(conn, (b"1 " + b"u" * 68 + b"\r\n") * 1000):
                pass
            return
        elif verb == b"UIDL" and UIDL:
            listing = b"".join((b"%d %d\r\n" if BARE else b"%d msg-%d\r\n") % (n, n) for n in range(1, MESSAGES + 1))
            send(conn, b"+OK\r\n" + listing + b".\r\n")
        elif verb == b"LIST":
            listing = b"".join(b"%d %s\r\n" % (n, size_of(n)) for n in range(1, MESSAGES + 1))
            send(conn, b"+OK %d messages\r\n" % MESSAGES + listing + b".\r\n")
        elif verb == b"RETR":
            if not retr(conn, number):
                return
        elif verb == b"DELE":
            if SCENARIO == "err-on-dele" and number == AT:
                send(conn, b"-ERR [SYS/TEMP] mailbox is locked\r\n")
            else:
                marked.add(number)
                send(conn, b"+OK\r\n")
        elif verb == b"QUIT":
            QUITS[0] += 1
            # The first QUIT only: the next check finds the server mended.
            if SCENARIO == "quit-refused" and QUITS[0] == 1:
                send(conn, b"-ERR [SYS/TEMP] cannot update the mailbox\r\n")
                return
            if SCENARIO == "quit-unanswered" and QUITS[0] == 1:
                return
            for n in marked:
                GENERATION[n] = GENERATION.get(n, 0) + 1
            send(conn, b"+OK bye\r\n")
            return
        else:
            send(conn, b"-ERR unknown\r\n")


def end_with_parent():
    """The test holds the other end of standard input; it closes when the test ends."""
    while sys.stdin.buffer.read(4096):
        pass
    os._exit(0)


def main():
    threading.Thread(target=end_with_parent, daemon=True).start()
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("127.0.0.1", 0))
    s.listen(8)
    print(s.getsockname()[1], flush=True)
    while True:
        conn, _ = s.accept()
        threading.Thread(target=lambda c=conn: (serve(c), c.close()), daemon=True).start()


if __name__ == "__main__":
    main()
