#!/usr/bin/python3
"""SMTP servers for the mail client's tests, on 127.0.0.1 at a port the system picks.

  smtp_test_server.py smtpd OUTDIR    a real SMTP server (aiosmtpd); with --cert and --key it
                                      offers STARTTLS
  smtp_test_server.py tls OUTDIR      the same with TLS from the first byte (--cert, --key)
  smtp_test_server.py refuse OUTDIR   answers the greeting and every line with an error
  smtp_test_server.py split OUTDIR    sends its greeting in two chunks, then says 250 to all
  smtp_test_server.py trickle OUTDIR  sends one byte of a greeting every 0.2 s, never a line end
  smtp_test_server.py multiline OUTDIR  answers the greeting and HELO with replies of two lines
                                      ("220-..." "220 ..."), then 250 to all
  smtp_test_server.py slow OUTDIR     takes one connection after another and answers the greeting
                                      and every command correctly, each after 0.1 s

An optional third argument is the port to listen on (0, the default, lets the system pick).
For smtpd and tls, --user U --password P make the server require a login with these credentials
before MAIL FROM (offered only inside TLS), and --only MECHANISM offers just that one.

Each writes OUTDIR/port once it listens, appends every command line it reads, raw and with its
line end, to OUTDIR/lines, and the smtpd server writes each
delivered mail to OUTDIR/mail-N as the envelope sender, the recipients and the data, each on a
line of its own. Every server ends by itself after LIFETIME seconds.
"""
import asyncio
import logging
import os
import socket
import sys
import time
import warnings

LIFETIME = 60


def write_file(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.rename(tmp, path)  # readers never see half a file


def record_line(outdir, line):
    with open(os.path.join(outdir, "lines"), "ab") as f:
        f.write(bytes(line))


def run_slow(outdir, port):
    started = time.monotonic()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(16)
    write_file(os.path.join(outdir, "port"), str(listener.getsockname()[1]).encode())
    while time.monotonic() - started < LIFETIME:
        listener.settimeout(max(0.1, LIFETIME - (time.monotonic() - started)))
        try:
            conn, _ = listener.accept()
        except OSError:
            break
        conn.settimeout(30)

        def answer(data):
            time.sleep(0.1)
            conn.sendall(data)

        try:
            answer(b"220 slow server\r\n")
            pending, in_data = b"", False
            while True:
                chunk = conn.recv(4096)
                if not chunk:
                    break
                pending += chunk
                while b"\n" in pending:
                    line, pending = pending.split(b"\n", 1)
                    line += b"\n"
                    record_line(outdir, line)
                    if in_data:
                        if line == b".\r\n":
                            in_data = False
                            answer(b"250 queued\r\n")
                    elif line.upper().startswith(b"DATA"):
                        in_data = True
                        answer(b"354 go ahead\r\n")
                    elif line.upper().startswith(b"QUIT"):
                        answer(b"221 bye\r\n")
                    else:
                        answer(b"250 fine\r\n")
        except OSError:
            pass  # the client went away; take the next one
        conn.close()


def run_smtpd(outdir, port, options, implicit_tls):
    import ssl
    from aiosmtpd.smtp import SMTP, AuthResult

    class LineRecorder(logging.Handler):
        def emit(self, record):
            if record.msg.startswith("_handle_client readline") and record.args:
                record_line(outdir, record.args[0])

    log = logging.getLogger("mail.log")
    log.setLevel(logging.DEBUG)
    log.addHandler(LineRecorder())

    class Handler:
        count = 0

        async def handle_DATA(self, server, session, envelope):
            Handler.count += 1
            data = b"\n".join([envelope.mail_from.encode(), ",".join(envelope.rcpt_tos).encode(),
                               envelope.original_content or envelope.content])
            write_file(os.path.join(outdir, "mail-%d" % Handler.count), data)
            return "250 OK"

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = auth_data.login == options.user.encode() and auth_data.password == options.password.encode()
        return AuthResult(success=ok, handled=False)  # a refusal is answered with 535

    context = None
    if options.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(options.cert, options.key)
    every = ["LOGIN", "PLAIN"]
    settings = dict(hostname="testserver")
    if options.user is not None:
        settings.update(auth_required=True, authenticator=authenticator,
                        auth_exclude_mechanism=[m for m in every if options.only and m != options.only])
    if implicit_tls:
        # The whole connection is TLS, which the server does not know: it must not ask for
        # STARTTLS before a login (nor warn that it does not).
        warnings.simplefilter("ignore")
        settings.update(auth_require_tls=False)
    elif context is not None:
        settings.update(tls_context=context)

    async def main():
        loop = asyncio.get_running_loop()
        server = await loop.create_server(lambda: SMTP(Handler(), **settings), "127.0.0.1", port,
                                          ssl=context if implicit_tls else None)
        write_file(os.path.join(outdir, "port"), str(server.sockets[0].getsockname()[1]).encode())
        await asyncio.sleep(LIFETIME)

    asyncio.run(main())


def run_plain(outdir, mode, port):
    started = time.monotonic()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", port))
    listener.listen(1)
    listener.settimeout(LIFETIME)
    write_file(os.path.join(outdir, "port"), str(listener.getsockname()[1]).encode())
    conn, _ = listener.accept()
    conn.settimeout(LIFETIME)
    reply = b"550 refused\r\n" if mode == "refuse" else b"250 fine\r\n"

    def answer(data):
        try:
            conn.sendall(data)
        except OSError:
            pass  # the client may be gone already; what it sent is still read and recorded

    if mode == "trickle":
        while time.monotonic() - started < LIFETIME:
            try:
                conn.sendall(b"2")
            except OSError:
                break  # the client gave up
            time.sleep(0.2)
        conn.close()
        return
    if mode == "refuse":
        answer(b"554 not today\r\n")
    elif mode == "multiline":
        answer(b"220-first line\r\n220 second line\r\n")
    else:
        answer(b"220 first chunk ")
        time.sleep(0.3)
        answer(b"second chunk\r\n")
    pending = b""
    in_data = False
    while True:
        try:
            chunk = conn.recv(4096)
        except OSError:
            break
        if not chunk:
            break
        pending += chunk
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            line += b"\n"
            record_line(outdir, line)
            # Within the data no line is answered but the closing full stop.
            if in_data:
                if line == b".\r\n":
                    in_data = False
                    answer(reply)
                continue
            if line.upper().startswith(b"DATA"):
                in_data = mode != "refuse"
                answer(b"354 go ahead\r\n" if in_data else reply)
                continue
            if mode == "multiline" and line.upper().startswith(b"HELO"):
                answer(b"250-hello\r\n250 pleased\r\n")
                continue
            answer(b"221 bye\r\n" if mode != "refuse" and line.upper().startswith(b"QUIT") else reply)
    conn.close()


if __name__ == "__main__":
    import argparse
    parser = argparse.ArgumentParser()
    parser.add_argument("mode")
    parser.add_argument("outdir")
    parser.add_argument("port", nargs="?", type=int, default=0)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--user")
    parser.add_argument("--password")
    parser.add_argument("--only")
    options = parser.parse_args()
    if "QV_SMTP_LIFETIME" in os.environ:
        LIFETIME = int(os.environ["QV_SMTP_LIFETIME"])
    if options.mode in ("smtpd", "tls"):
        run_smtpd(options.outdir, options.port, options, options.mode == "tls")
    elif options.mode == "slow":
        run_slow(options.outdir, options.port)
    else:
        run_plain(options.outdir, options.mode, options.port)
