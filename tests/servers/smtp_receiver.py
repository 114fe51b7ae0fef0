#!/usr/bin/python3
"""A real SMTP receiver for the tests (aiosmtpd from Debian), on 127.0.0.1 at a free port.

It prints the port it listens on as its first line, then serves until it is stopped. Everything it
sees is appended to the record file as JSON lines: every command ({"command": "EHLO", "arg": ...}),
every login ({"auth": "PLAIN", "login": ..., "password": ..., "tls": whether the connection was
encrypted}; for XOAUTH2 the token is the "password") and every accepted message ({"mail_from": ..., "rcpt_tos": [...], "data": <base64 of the
content as received, dot-stuffing removed>, "tls": ...}).

With --tls-cert and --tls-key it speaks TLS: --tls-mode starttls offers STARTTLS and accepts nothing
but EHLO, NOOP, STARTTLS and QUIT before it; starttls-optional offers it and goes on in plain text
without it; implicit speaks TLS from the first byte. AUTH is then offered only over TLS.
"""
import argparse
import asyncio
import base64
import json
import ssl
import sys

import urllib.parse

from aiosmtpd.smtp import MISSING, SMTP, AuthResult


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--record", required=True)
    parser.add_argument("--auth", choices=["none", "plain", "login", "both"], default="none")
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    parser.add_argument("--refuse-ehlo", action="store_true")
    parser.add_argument("--reject-rcpt", action="append", default=[])
    parser.add_argument("--tls-cert", default="")
    parser.add_argument("--tls-key", default="")
    parser.add_argument("--tls-mode", choices=["none", "starttls", "starttls-optional", "implicit"], default="none")
    parser.add_argument("--oauth-introspect", default="",
                        help="offer XOAUTH2 and take a token this introspection endpoint calls active")
    options = parser.parse_args()

    context = None
    if options.tls_mode != "none":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(options.tls_cert, options.tls_key)

    def record(entry):
        with open(options.record, "a", encoding="utf-8") as f:
            f.write(json.dumps(entry) + "\n")

    def encrypted(server):
        return server.transport is not None and server.transport.get_extra_info("ssl_object") is not None

    def token_owner(token):
        """The user an active token belongs to, asked at the authorization server; None otherwise."""
        import urllib.request
        body = urllib.parse.urlencode({"token": token}).encode()
        with urllib.request.urlopen(options.oauth_introspect, data=body, timeout=20) as answer:
            info = json.loads(answer.read())
        return info.get("username") if info.get("active") else None

    class Handler:
        async def handle_EHLO(self, server, session, envelope, hostname, responses):
            if options.refuse_ehlo:
                return ["502 5.5.2 EHLO not accepted here"]
            session.host_name = hostname
            return responses

        async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
            if address in options.reject_rcpt:
                return "550 5.1.1 <%s>: Recipient address rejected" % address
            envelope.rcpt_tos.append(address)
            return "250 OK"

        async def auth_XOAUTH2(self, server, args):
            if not options.oauth_introspect:
                return AuthResult(success=False, handled=False)
            if len(args) > 1:
                response = base64.b64decode(args[1])
            else:
                response = await server.challenge_auth("", encode_to_b64=False)
                if response is MISSING:
                    return AuthResult(success=False, handled=False)
            parts = response.decode("utf-8", "replace").split("\x01")
            fields = dict(part.split("=", 1) for part in parts if "=" in part)
            login = fields.get("user", "")
            token = fields.get("auth", "")[len("Bearer "):]
            owner = await asyncio.get_running_loop().run_in_executor(None, token_owner, token)
            ok = owner is not None and owner == login
            record({"auth": "XOAUTH2", "login": login, "password": token, "tls": encrypted(server)})
            if not ok:
                # The error challenge; the client answers it with an empty line.
                challenge = base64.b64encode(json.dumps({"status": "401", "schemes": "bearer"}).encode()).decode()
                await server.challenge_auth(challenge, encode_to_b64=False)
                return AuthResult(success=False, handled=False)
            return AuthResult(success=True, auth_data=login)

        async def handle_DATA(self, server, session, envelope):
            record({
                "mail_from": envelope.mail_from,
                "rcpt_tos": envelope.rcpt_tos,
                "data": base64.b64encode(envelope.original_content).decode("ascii"),
                "tls": encrypted(server),
            })
            return "250 Message accepted for delivery"

    def authenticator(server, session, envelope, mechanism, auth_data):
        login = auth_data.login.decode("utf-8", "replace")
        password = auth_data.password.decode("utf-8", "replace")
        record({"auth": mechanism, "login": login, "password": password, "tls": encrypted(server)})
        ok = login == options.user and password == options.password
        return AuthResult(success=ok, handled=False)

    excluded = {"none": [], "plain": ["LOGIN"], "login": ["PLAIN"], "both": []}[options.auth]
    if options.auth == "none" and options.tls_mode != "none":
        excluded = ["PLAIN", "LOGIN"]
    if not options.oauth_introspect:
        excluded = excluded + ["XOAUTH2"]

    class RecordingSMTP(SMTP):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, **kwargs)
            for verb, method in list(self._smtp_methods.items()):
                self._smtp_methods[verb] = self._recorded(verb, method)

        @staticmethod
        def _recorded(verb, method):
            async def wrapper(arg):
                record({"command": verb, "arg": arg})
                return await method(arg)
            return wrapper

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)

    def factory():
        if options.tls_mode.startswith("starttls"):
            tls = dict(tls_context=context, require_starttls=options.tls_mode == "starttls",
                       auth_require_tls=True)
        elif options.tls_mode == "implicit":
            # The whole connection is encrypted: AUTH may be offered from the start.
            tls = dict(auth_require_tls=False)
        else:
            # Without TLS, AUTH is offered only when allowed in plain text.
            tls = dict(auth_require_tls=options.auth == "none")
        return RecordingSMTP(
            Handler(), hostname="receiver.test", loop=loop,
            auth_exclude_mechanism=excluded,
            authenticator=authenticator, **tls)

    server = loop.run_until_complete(loop.create_server(
        factory, host="127.0.0.1", port=0, ssl=context if options.tls_mode == "implicit" else None))
    print(server.sockets[0].getsockname()[1], flush=True)
    try:
        loop.run_forever()
    finally:
        server.close()


if __name__ == "__main__":
    sys.exit(main())
