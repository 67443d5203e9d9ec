#!/usr/bin/env python3
"""A scripted HTTP peer on loopback for the Windows HTTP tests under Wine.

Usage: http_peer.py COMMAND...  Starts the peer, runs COMMAND with ZV_PEER_PORT
set to its port and exits with COMMAND's status. A connection whose first line
is "SCRIPT NAME" sets the reply to the next request ("OK" comes back); one whose
first line is "LAST" gets the bytes of the last HTTP request and is closed.
Every other connection is HTTP: the request is read whole and kept, then
answered as the script says. Every wait is bounded.
"""
import os
import socket
import subprocess
import sys
import threading

REPLIES = {
    "ok": b"HTTP/1.1 200 OK\r\nContent-Length: 13\r\n\r\n0000 Accepted",
    "auth407": b"HTTP/1.1 407 Proxy Authentication Required\r\n"
               b"Proxy-Authenticate: Basic realm=\"gateway\"\r\nContent-Length: 4\r\n\r\ndeny",
    "stall": None,  # the request is read and never answered
    "continue_close": b"HTTP/1.1 100 Continue\r\n\r\n",  # and then the connection is closed
}
CLOSE_AFTER = {"continue_close"}

state = {"script": "ok", "last": b""}
lock = threading.Lock()


def read_request(conn, first):
    data = first
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return data
        data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip())
    while len(body) < length:
        chunk = conn.recv(65536)
        if not chunk:
            break
        body += chunk
    return head + b"\r\n\r\n" + body


def serve(conn):
    with conn:
        conn.settimeout(30)
        try:
            first = conn.recv(65536)
            if first.startswith(b"SCRIPT "):
                with lock:
                    state["script"] = first[7:].strip().decode()
                conn.sendall(b"OK\n")
                return
            if first.startswith(b"LAST"):
                with lock:
                    conn.sendall(state["last"])
                return
            while first:
                request = read_request(conn, first)
                with lock:
                    state["last"] = request
                    reply = REPLIES[state["script"]]
                    close = state["script"] in CLOSE_AFTER
                if reply is None:
                    conn.recv(1)  # until the client gives up (or 30 s)
                    return
                conn.sendall(reply)
                if close:
                    return
                first = conn.recv(65536)  # a kept connection may carry the next request
        except (OSError, ValueError):
            pass


def main():
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)

    def accept():
        while True:
            try:
                conn, _ = listener.accept()
            except OSError:
                return
            threading.Thread(target=serve, args=(conn,), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    env = dict(os.environ, ZV_PEER_PORT=str(listener.getsockname()[1]))
    try:
        return subprocess.run(sys.argv[1:], env=env, timeout=240).returncode
    except subprocess.TimeoutExpired:
        print("http_peer.py: the test program did not end within 240 s", file=sys.stderr)
        return 1
    finally:
        listener.close()


if __name__ == "__main__":
    sys.exit(main())
