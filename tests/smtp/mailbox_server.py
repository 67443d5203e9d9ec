#!/usr/bin/python3
"""A real SMTP server on loopback for the SMTP tests.

Prints "ready PORT" once it listens on 127.0.0.1 (on a free port), then one
JSON object per accepted mail: the HELO name, the envelope, and the data
exactly as received after the server removed the transparency dots
(base64, so every byte survives). Ends when its standard input closes.
"""
import asyncio
import base64
import json
import sys

from aiosmtpd.smtp import SMTP


class Mailbox:
    async def handle_DATA(self, server, session, envelope):
        record = {
            "helo": session.host_name,
            "from": envelope.mail_from,
            "to": envelope.rcpt_tos,
            "data": base64.b64encode(envelope.original_content).decode("ascii"),
        }
        print(json.dumps(record), flush=True)
        return "250 OK stored"


async def main():
    loop = asyncio.get_running_loop()
    server = await loop.create_server(
        lambda: SMTP(Mailbox(), hostname="mailbox.test"), "127.0.0.1", 0)
    print("ready", server.sockets[0].getsockname()[1], flush=True)
    await loop.run_in_executor(None, sys.stdin.read)
    server.close()


asyncio.run(main())
