"""A POP3 server that misbehaves on purpose, for the cases no real server shows: it stalls,
hangs up mid-message, lies about sizes, or sends a line without end. Prints its port, then
serves until killed. Usage: hostile_pop3.py <scenario>"""
import socket
import sys
import threading
import time

SCENARIO = sys.argv[1]
MESSAGE = (b"From: a@localhost\r\nSubject: hostile\r\n\r\n" + b"line of text\r\n" * 400)


def send(conn, data):
    try:
        conn.sendall(data)
        return True
    except OSError:
        return False


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
    send(conn, b"+OK hostile ready\r\n")
    while True:
        line = f.readline(4096)
        if not line:
            return
        cmd = line.strip().split(b" ")
        verb = cmd[0].upper()
        if verb in (b"USER", b"PASS"):
            send(conn, b"+OK\r\n")
        elif verb == b"CAPA":
            send(conn, b"+OK\r\nUSER\r\n.\r\n")
        elif verb == b"LIST":
            size = {"lying-size": b"100", "huge-list": b"1000000000000"}.get(SCENARIO, b"%d" % len(MESSAGE))
            send(conn, b"+OK 1 messages\r\n1 " + size + b"\r\n.\r\n")
        elif verb == b"RETR":
            if SCENARIO == "close-mid-message":
                send(conn, b"+OK\r\n" + MESSAGE[: len(MESSAGE) // 2])
                conn.shutdown(socket.SHUT_RDWR)
                return
            if SCENARIO == "stall-mid-message":
                send(conn, b"+OK\r\n" + MESSAGE[: len(MESSAGE) // 2])
                time.sleep(120)
                return
            if SCENARIO == "lying-size":
                send(conn, b"+OK\r\n" + MESSAGE[:200])
                chunk = b"x" * 1000 + b"\r\n"
                while send(conn, chunk):
                    pass
                return
            send(conn, b"+OK\r\n" + MESSAGE + b".\r\n")
        elif verb == b"DELE":
            if SCENARIO == "err-on-dele":
                send(conn, b"-ERR [SYS/TEMP] mailbox is locked\r\n")
            else:
                send(conn, b"+OK\r\n")
        elif verb == b"QUIT":
            print("QUIT", flush=True)
            send(conn, b"+OK bye\r\n")
            return
        else:
            send(conn, b"-ERR unknown\r\n")


def main():
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
