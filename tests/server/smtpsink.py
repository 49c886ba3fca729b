#!/usr/bin/python3
"""SMTP server for the tests, on 127.0.0.1.

Stores every accepted message in a maildir (new/ holds one file per mail,
with the envelope in X-Sink-From and X-Sink-To lines on top) and refuses
recipients whose local part starts with "refuse" with 550. With --hold FILE
it answers a message's data only once FILE is gone, and meanwhile shows that
it waits by a file FILE.waiting. Prints "ready PORT" once it listens; stops
on SIGTERM.
"""
import argparse
import asyncio
import mailbox
import os
import signal

from aiosmtpd.smtp import SMTP


class MaildirHandler:
    def __init__(self, folder, hold):
        self.box = mailbox.Maildir(folder, create=True)
        self.hold = hold

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower().startswith("refuse"):
            return "550 5.1.1 Mailbox refused"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.hold and os.path.exists(self.hold):
            waiting = self.hold + ".waiting"
            open(waiting, "w").close()
            while os.path.exists(self.hold):
                await asyncio.sleep(0.02)
            os.unlink(waiting)
        head = "X-Sink-From: {}\r\nX-Sink-To: {}\r\n".format(
            envelope.mail_from, ",".join(envelope.rcpt_tos)).encode()
        self.box.add(head + envelope.original_content)
        return "250 Message accepted"


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--maildir", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--hold")
    args = parser.parse_args()

    loop = asyncio.get_running_loop()
    handler = MaildirHandler(args.maildir, args.hold)
    server = await loop.create_server(lambda: SMTP(handler, hostname="sink.test"),
                                      "127.0.0.1", args.port)
    stop = loop.create_future()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set_result, None)
    print("ready", server.sockets[0].getsockname()[1], flush=True)
    await stop
    server.close()
    await server.wait_closed()


asyncio.run(main())
