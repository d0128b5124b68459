#!/usr/bin/env python3
"""Makes the shipped setup.exe from the linked one: signed with SHA-256
Authenticode, verified, timestamped where servers are named, and verified
again as it will be after the certificate has expired; and its signature
alone beside it, setup.exe.sig. Run with Debian's /usr/bin/python3.

usage: sign.py LINKED EXE PRODUCT URL TIMESTAMP_URLS TIMESTAMP_CERTS ROOTS ALLOW_NON_RSA ROUTE...
ROUTE: pkcs12 FILE | pkcs11 KEY_URI MODULE CERTS | command PROGRAM [ARGUMENT...]
(URL, TIMESTAMP_URLS (a ;-list), TIMESTAMP_CERTS and ROOTS may be empty)

The key is in a PKCS#12 file, held in a token and reached through its
vendor's PKCS#11 module, or used by a signing command of the publisher's,
which is given the unsigned file and the path to write the signed one. The
password or PIN is LAUNCHER_SIGN_PASSWORD's: taken out of the environment
at once, it reaches only the process that signs, through a pipe, and is
tried once; a signing command never sees it. The file is written under a
temporary name and renamed into place only once verified, one signing per
build folder at a time: whatever ends this early, nothing unsigned or
unstamped is left under the signed name.

Environment: OSSLSIGNCODE (the tool), LAUNCHER_SIGN_TIMESTAMP_WAIT (seconds
a server may take, 60) and LAUNCHER_SIGN_TIMESTAMP_PAUSE (seconds between
rounds over the servers, 10).
"""
import datetime
import fcntl
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time
import urllib.error
import urllib.request

from medium_files import signing_key  # the medium judges the programs it ships the same way

OSSLSIGNCODE = os.environ.get("OSSLSIGNCODE", "osslsigncode")
WAIT = float(os.environ.get("LAUNCHER_SIGN_TIMESTAMP_WAIT", "60"))
PAUSE = float(os.environ.get("LAUNCHER_SIGN_TIMESTAMP_PAUSE", "10"))
ROUNDS = 3
SYSTEM_ROOTS = "/etc/ssl/certs/ca-certificates.crt"
SHORT_LIFE = datetime.timedelta(days=30)
TOKEN_REASONS = [  # what osslsigncode says of a token, and what it means
    ("PIN incorrect", "the PIN in LAUNCHER_SIGN_PASSWORD is wrong (not tried again: tokens lock after a few)"),
    ("PIN locked", "the token is locked after too many wrong PINs"),
    ("No PIN code was entered", "it asks for a PIN: set LAUNCHER_SIGN_PASSWORD"),
    ("No matching initialized token", "no such token is present: is it plugged in, and is token= its label?"),
    ("Failed to find and load 'pkcs11' engine", "OpenSSL's pkcs11 engine is not installed (libengine-pkcs11-openssl)"),
    ("consistency of a private key", "the certificate in {certificates} is not this key's"),
    ("object not found", "the token holds no such key"),
    ("private key was not found", "the token holds no such key"),
]


class Failed(Exception):
    pass


def run(command, secret=None, **options):
    """A tool's exit status and what it said; the secret only through its
    standard input, and no terminal to ask for another."""
    done = subprocess.run(command, input=secret, capture_output=True, text=True, errors="replace",
                          start_new_session=True, **options)
    return done.returncode, done.stdout + done.stderr


def last_words(said, lines=2):
    return " ".join(line.strip() for line in said.strip().splitlines()[-lines:])


def date_of(text):
    return datetime.datetime.strptime(" ".join(text.split()), "%b %d %H:%M:%S %Y %Z")


def signer_expiry(said):
    """When the signer's certificate expires, from osslsigncode verify."""
    found = re.search(r"Signer's certificate:.*?notAfter : ([^\n]+)", said, re.S)
    if not found:
        raise Failed("the signature names no signer's certificate")
    return date_of(found.group(1))


def probe(server):
    """Why a server gave no timestamp that osslsigncode could take: asked
    again with a plain RFC 3161 query, its HTTP status and its reply judged."""
    query = subprocess.run(["openssl", "ts", "-query", "-digest", "11" * 32, "-sha256", "-cert"],
                           capture_output=True).stdout
    try:
        request = urllib.request.Request(server, data=query, headers={"Content-Type": "application/timestamp-query"})
        with urllib.request.urlopen(request, timeout=WAIT) as answer:
            reply = answer.read()
    except urllib.error.HTTPError as error:
        return f"HTTP {error.code}"
    except (socket.timeout, TimeoutError):
        return f"no answer within {WAIT:g} s"
    except ValueError:
        return "not an http: or https: URL"
    except (urllib.error.URLError, OSError) as error:
        reason = getattr(error, "reason", error)
        if isinstance(reason, ConnectionRefusedError):
            return "refused the connection"
        if isinstance(reason, socket.gaierror):
            return "no such host"
        return f"cannot be reached ({reason})"
    done = subprocess.run(["openssl", "ts", "-reply", "-in", "/dev/stdin", "-text"], input=reply, capture_output=True)
    text = done.stdout.decode(errors="replace")
    if done.returncode or "Status:" not in text:
        return "not a timestamp reply"
    granted = re.search(r"Status: (.*)", text).group(1).strip()
    if not granted.startswith("Granted"):
        return f"refused the request ({granted})"
    token = subprocess.run(["openssl", "ts", "-reply", "-in", "/dev/stdin", "-token_out"], input=reply,
                           capture_output=True).stdout
    certificates = subprocess.run(["openssl", "pkcs7", "-inform", "DER", "-print_certs", "-text"], input=token,
                                  capture_output=True).stdout.decode(errors="replace")
    if "Time Stamping" not in certificates:
        return "the authority's certificate is not for time-stamping (no such extended key usage)"
    return "osslsigncode could not take its timestamp"


def token_reason(said):
    """Why a timestamp token does not verify, from osslsigncode verify."""
    if "certificate has expired" in said:
        found = re.search(r"Timestamp verified using:.*?notAfter : ([^\n]+)", said, re.S)
        return f"the authority's certificate expired on {found.group(1).strip() if found else 'a date past'}"
    if re.search(r"self-signed certificate|unable to get (local )?issuer certificate", said):
        return "the authority's root is not trusted: add it to LAUNCHER_SIGN_TIMESTAMP_CERTS"
    if "unsupported certificate purpose" in said:
        return "the authority's certificate is not for time-stamping (no such extended key usage)"
    if "Timestamp Server Signature verification: failed" in said:
        return "the token is for another file"
    return last_words(said)


class Signing:
    def __init__(self, linked, exe, product, url, servers, timestamp_certs, roots, allow_non_rsa, route):
        self.linked, self.exe, self.route = linked, exe, route
        self.servers = [server for server in servers.split(";") if server]
        self.timestamp_certs, self.roots = timestamp_certs, roots
        self.allow_non_rsa = allow_non_rsa.upper() in ("ON", "1", "TRUE", "YES", "Y")
        self.options = ["-h", "sha256", "-n", product] + (["-i", url] if url else [])
        self.folder = os.path.dirname(os.path.abspath(exe))
        self.work = f"{exe}.signing.d"
        self.signed = os.path.join(self.work, "signed.exe")
        # Taken out of the environment: no other process ever sees it.
        self.password = os.environ.pop("LAUNCHER_SIGN_PASSWORD", "")
        if self.password.endswith("\n"):
            self.password = self.password[:-1]

    def verify(self, path, *options):
        return run([OSSLSIGNCODE, "verify", "-in", path, "-CAfile", self.chain,
                    "-TSA-CAfile", self.timestamp_roots, *options])

    def write(self, path, *parts):
        with open(path, "w") as out:
            for part in parts:
                if part and os.path.isfile(part):
                    with open(part) as text:
                        out.write(text.read())

    def sign(self):
        """The signed file, and the certificates its signature is verified with."""
        kind, *arguments = self.route
        readpass = ["-readpass", "/dev/stdin"] if self.password else []
        into = ["-in", self.linked, "-out", self.signed]
        if kind == "pkcs12":
            status, said = run([OSSLSIGNCODE, "sign", "-pkcs12", arguments[0], *readpass, *self.options, *into],
                               secret=self.password)
            if status:
                if "PKCS#12" in said:
                    raise Failed(f"cannot read the certificate {arguments[0]}: not a PKCS#12 file, "
                                 "or not the password in LAUNCHER_SIGN_PASSWORD")
                raise Failed(f"signing with {arguments[0]} failed: {last_words(said)}")
            certificates = os.path.join(self.work, "certificates.pem")
            for legacy in ([], ["-legacy"]):
                if run(["openssl", "pkcs12", *legacy, "-in", arguments[0], "-passin", "stdin", "-nokeys",
                        "-out", certificates], secret=self.password)[0] == 0:
                    break
            return arguments[0], certificates
        if kind == "pkcs11":
            key, module, certificates = arguments
            status, said = run([OSSLSIGNCODE, "sign", "-pkcs11module", module, "-certs", certificates, "-key", key,
                                *readpass, *self.options, *into], secret=self.password)
            if status:
                token = re.search(r"^pkcs11:(?:.*;)?token=([^;?]*)", key)
                token = urllib.request.unquote(token.group(1)) if token else ""
                reason = next((meaning.format(module=module, certificates=certificates)
                               for words, meaning in TOKEN_REASONS if words in said),
                              f"the module {module} cannot be loaded" if re.search("Unable to load.*module", said)
                              else f"signing failed: {last_words(said)}")
                raise Failed(f"{'token ' + token + ', ' if token else ''}key {key}: {reason}")
            return certificates, certificates
        status, said = run([*arguments, self.linked, self.signed])
        if status or not os.path.isfile(self.signed):
            raise Failed(f"the signing command {arguments[0]} failed (exit status {status}): {last_words(said)}")
        # The chain comes with the signature; it is trusted by the roots alone.
        return f"the signing command {arguments[0]}", ""

    def timestamp(self):
        """Servers fail now and then: each is tried in turn, each for a
        bounded time, its token verified, and the whole list again after a
        pause, a few rounds at most."""
        stamped = os.path.join(self.work, "stamped.exe")
        reasons = {}
        for round in range(ROUNDS):
            if round:
                time.sleep(PAUSE)
            for server in self.servers:
                if os.path.exists(stamped):
                    os.remove(stamped)
                try:
                    run([OSSLSIGNCODE, "add", "-ts", server, "-in", self.signed, "-out", stamped], timeout=WAIT)
                except subprocess.TimeoutExpired:
                    reasons[server] = f"no answer within {WAIT:g} s"
                    continue
                if not os.path.isfile(stamped) or not os.path.getsize(stamped):
                    reasons[server] = probe(server)
                    continue
                status, said = self.verify(stamped)
                if status == 0 and "Timestamp Server Signature verification: failed" not in said:
                    os.replace(stamped, self.signed)
                    return server
                reasons[server] = token_reason(said)
        raise Failed(f"no timestamp server gave a timestamp that verifies, in {ROUNDS} rounds; "
                     + "; ".join(f"{server}: {reason}" for server, reason in reasons.items()))

    def make(self):
        shutil.rmtree(self.work, ignore_errors=True)
        for stale in (self.exe, self.exe + ".sig"):
            if os.path.exists(stale):
                os.remove(stale)
        try:
            os.mkdir(self.work)
            shutil.copyfile(self.linked, os.path.join(self.work, "room.exe"))
        except OSError as error:
            raise Failed(f"the build folder {self.folder} cannot be written: {error.strerror}")
        what, certificates = self.sign()
        self.chain = os.path.join(self.work, "chain.pem")
        self.timestamp_roots = os.path.join(self.work, "timestamp-roots.pem")
        self.write(self.chain, certificates, SYSTEM_ROOTS, self.roots)
        self.write(self.timestamp_roots, SYSTEM_ROOTS, self.timestamp_certs)
        algorithm = signing_key(self.signed) or "unknown"
        if "rsa" not in algorithm.lower() and not self.allow_non_rsa:
            raise Failed(f"signed with a non-RSA key ({algorithm}), and Smart App Control accepts RSA signatures "
                         "alone: sign with an RSA key, or set LAUNCHER_SIGN_ALLOW_NON_RSA=ON where your users "
                         "never turn Smart App Control on")
        status, said = self.verify(self.signed)
        if status:
            raise Failed(f"the signature made with {what} does not verify: {last_words(said, 3)}")
        expiry = signer_expiry(said)
        stamped = re.search(r"Timestamp time:", said)
        if self.servers and not stamped:
            server = self.timestamp()
            # As Windows will judge it once the certificate has expired.
            after = int(expiry.replace(tzinfo=datetime.timezone.utc).timestamp()) + 86400
            if self.verify(self.signed, "-time", str(after))[0]:
                raise Failed(f"the signature would die with the certificate on {expiry:%Y-%m-%d}: it does not "
                             f"verify after that with the timestamp from {server}")
        elif not stamped:
            if expiry - datetime.datetime.utcnow() < SHORT_LIFE:
                raise Failed(f"its certificate expires on {expiry:%Y-%m-%d}, within {SHORT_LIFE.days} days, and "
                             "without a timestamp the signature dies with it: set LAUNCHER_SIGN_TIMESTAMP_URL")
            print(f"{self.exe}: no timestamp: the signature stops verifying on {expiry:%Y-%m-%d}, "
                  "when its certificate expires")
        # The signature alone, beside the file: attached to the unsigned
        # build it gives the shipped file, byte for byte.
        detached = os.path.join(self.work, "setup.exe.sig")
        status, said = run([OSSLSIGNCODE, "extract-signature", "-in", self.signed, "-out", detached])
        if status:
            raise Failed(f"its signature cannot be written apart: {last_words(said)}")
        os.replace(detached, self.exe + ".sig")
        os.replace(self.signed, self.exe)


def refuse(signing, reason):
    if signing.folder not in reason and shutil.disk_usage(signing.folder).free < 1 << 16:
        reason = f"the build folder {signing.folder} is full: {reason}"
    print(f"{signing.exe}: not signed, and removed: {reason}", file=sys.stderr)
    return 1


def main(arguments):
    signing = Signing(*arguments[:8], arguments[8:])
    # SIGTERM ends the signing as Ctrl-C does, through the clean-up below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    unwritable = lambda error: f"the build folder {signing.folder} cannot be written: {error.strerror}"
    try:
        lock = open(f"{signing.exe}.lock", "w")
    except OSError as error:
        return refuse(signing, unwritable(error))
    with lock:
        fcntl.flock(lock, fcntl.LOCK_EX)  # released when its holder ends, however it ends
        made = False
        try:
            signing.make()
            made = True
            return 0
        except Failed as failure:
            return refuse(signing, str(failure))
        except OSError as error:
            return refuse(signing, unwritable(error))
        except KeyboardInterrupt:
            return refuse(signing, "interrupted") and 130
        finally:  # still holding the lock: only this signing's own file goes
            for stale in () if made else (signing.exe, signing.exe + ".sig"):
                if os.path.exists(stale):
                    os.remove(stale)
            shutil.rmtree(signing.work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
