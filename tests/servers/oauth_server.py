#!/usr/bin/python3
"""An OAuth2 authorization server for the tests (Python standard library only), on 127.0.0.1 at a free port.

It prints the port it listens on as its first line, then serves until it is stopped.

  GET  /authorize     the sign-in page: checks the request (client id, loopback redirect, S256 challenge)
                      and redirects back at once with a code (or with error=...)
  POST /token         authorization_code (checks the PKCE verifier, the redirect and the client) and
                      refresh_token grants; answers with JSON as RFC 6749 says
  POST /introspect    token=<access token>: {"active": true, "username": ...} for a token it issued and
                      has not expired, {"active": false} otherwise (Dovecot's oauth2 passdb asks here);
                      the user is the sign-in's login_hint (or --user)
  POST /control/refuse-refresh   from now on every refresh (of user=..., when given) is refused with
                                 invalid_grant
  POST /control/expire           every access token issued so far (to user=..., when given) is no longer
                                 active
  GET  /control/stats            counts of what happened, as JSON

Tokens do not expire by the clock here: "expires_in" tells the client how long a token lives, and a test
expires them with /control/expire, so nothing depends on how fast the machine is.
"""
import argparse
import base64
import hashlib
import json
import secrets
import sys
import threading
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--client-id", required=True)
    parser.add_argument("--client-secret", default="")
    parser.add_argument("--user", default="", help="the login the tokens are for, when the sign-in names none")
    parser.add_argument("--lifetime", type=int, default=3600, help="expires_in of an access token")
    parser.add_argument("--rotate", action="store_true", help="a refresh gives a new refresh token")
    options = parser.parse_args()

    lock = threading.Lock()
    state = {
        "codes": {},          # code -> (challenge, redirect_uri, user)
        "access": {},         # access token -> [active, user]
        "refresh": {},        # refresh tokens that are good -> user
        "refused_users": set(),  # "" stands for everyone
        "stats": {"authorizations": 0, "code_grants": 0, "refresh_grants": 0, "refused": 0,
                  "bad_verifier": 0, "introspections": 0, "active_introspections": 0},
    }

    def issue(user, refresh=None):
        access = "at-" + secrets.token_urlsafe(24)
        state["access"][access] = [True, user]
        answer = {"access_token": access, "token_type": "Bearer", "expires_in": options.lifetime,
                  "scope": "mail"}
        if refresh is None or options.rotate:
            if refresh is not None:
                state["refresh"].pop(refresh, None)
            refresh = "rt-" + secrets.token_urlsafe(24)
            state["refresh"][refresh] = user
            answer["refresh_token"] = refresh
        return answer

    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.0"

        def log_message(self, *args):
            pass

        def reply(self, status, body=None, headers=None):
            data = json.dumps(body).encode() if body is not None else b""
            self.send_response(status)
            for name, value in (headers or {}).items():
                self.send_header(name, value)
            if body is not None:
                self.send_header("Content-Type", "application/json")
                self.send_header("Cache-Control", "no-store")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

        def form(self):
            length = int(self.headers.get("Content-Length") or 0)
            raw = self.rfile.read(length).decode("utf-8", "replace")
            return {k: v[0] for k, v in urllib.parse.parse_qs(raw, keep_blank_values=True).items()}

        def do_GET(self):
            url = urllib.parse.urlsplit(self.path)
            query = {k: v[0] for k, v in urllib.parse.parse_qs(url.query, keep_blank_values=True).items()}
            if url.path == "/authorize":
                return self.authorize(query)
            if url.path == "/control/stats":
                with lock:
                    return self.reply(200, state["stats"])
            self.reply(404, {"error": "not_found"})

        def authorize(self, query):
            redirect = query.get("redirect_uri", "")
            target = urllib.parse.urlsplit(redirect)
            if target.scheme != "http" or target.hostname != "127.0.0.1":
                return self.reply(400, {"error": "invalid_request", "error_description": "no loopback redirect"})
            error = None
            if query.get("response_type") != "code" or query.get("client_id") != options.client_id:
                error = "unauthorized_client"
            elif query.get("code_challenge_method") != "S256" or not query.get("code_challenge"):
                error = "invalid_request"
            params = {"state": query.get("state", "")}
            with lock:
                state["stats"]["authorizations"] += 1
                if error:
                    params["error"] = error
                else:
                    code = "code-" + secrets.token_urlsafe(16)
                    state["codes"][code] = (query["code_challenge"], redirect,
                                            query.get("login_hint") or options.user)
                    params["code"] = code
            separator = "&" if target.query else "?"
            self.reply(302, headers={"Location": redirect + separator + urllib.parse.urlencode(params)})

        def do_POST(self):
            path = urllib.parse.urlsplit(self.path).path
            form = self.form()
            with lock:
                if path == "/token":
                    return self.token(form)
                if path == "/introspect":
                    state["stats"]["introspections"] += 1
                    active, user = state["access"].get(form.get("token", ""), [False, ""])
                    if active:
                        state["stats"]["active_introspections"] += 1
                        return self.reply(200, {"active": True, "username": user, "email": user})
                    return self.reply(200, {"active": False})
                if path == "/control/refuse-refresh":
                    state["refused_users"].add(form.get("user", ""))
                    return self.reply(200, {})
                if path == "/control/expire":
                    for entry in state["access"].values():
                        if form.get("user", "") in ("", entry[1]):
                            entry[0] = False
                    return self.reply(200, {})
            self.reply(404, {"error": "not_found"})

        def token(self, form):
            if form.get("client_id") != options.client_id or \
                    (options.client_secret and form.get("client_secret") != options.client_secret):
                return self.reply(401, {"error": "invalid_client"})
            grant = form.get("grant_type")
            if grant == "authorization_code":
                entry = state["codes"].pop(form.get("code", ""), None)
                if entry is None or entry[1] != form.get("redirect_uri"):
                    return self.reply(400, {"error": "invalid_grant"})
                verifier = form.get("code_verifier", "")
                digest = hashlib.sha256(verifier.encode("ascii", "replace")).digest()
                challenge = base64.urlsafe_b64encode(digest).decode().rstrip("=")
                if not 43 <= len(verifier) <= 128 or challenge != entry[0]:
                    state["stats"]["bad_verifier"] += 1
                    return self.reply(400, {"error": "invalid_grant", "error_description": "PKCE verifier"})
                state["stats"]["code_grants"] += 1
                return self.reply(200, issue(entry[2]))
            if grant == "refresh_token":
                refresh = form.get("refresh_token", "")
                refused = state["refused_users"]
                if refresh not in state["refresh"] or "" in refused or state["refresh"][refresh] in refused:
                    state["stats"]["refused"] += 1
                    return self.reply(400, {"error": "invalid_grant", "error_description": "Token has been revoked."})
                state["stats"]["refresh_grants"] += 1
                return self.reply(200, issue(state["refresh"][refresh], refresh))
            self.reply(400, {"error": "unsupported_grant_type"})

    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever()
    finally:
        server.server_close()


if __name__ == "__main__":
    sys.exit(main())
