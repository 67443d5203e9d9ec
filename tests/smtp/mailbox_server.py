#!/usr/bin/python3
"""A real SMTP server on loopback for the SMTP tests.

Prints "ready PORT" once it listens on 127.0.0.1 (on a free port), then one
JSON object per accepted mail, before accepting it: the HELO name, the
envelope, the data as stored (transparency dots removed; bytes as Latin-1
code points) and its sequence number last. Runs until terminated.
"""
import asyncio
import json

from aiosmtpd.smtp import SMTP


class Mailbox:
    count = 0

    async def handle_DATA(self, server, session, envelope):
        Mailbox.count += 1
        record = {
            "helo": session.host_name,
            "from": envelope.mail_from,
            "to": envelope.rcpt_tos,
            "data": envelope.original_content.decode("latin-1"),
            "seq": Mailbox.count,
        }
        print(json.dumps(record), flush=True)
        return "250 OK stored"


async def main():
    loop = asyncio.get_running_loop()
    server = await loop.create_server(
        lambda: SMTP(Mailbox(), hostname="mailbox.test"), "127.0.0.1", 0)
    print("ready", server.sockets[0].getsockname()[1], flush=True)
    await asyncio.Event().wait()


asyncio.run(main())
