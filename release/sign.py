#!/usr/bin/env python3
"""Makes the shipped setup.exe from the linked one: signed with SHA-256
Authenticode, proven to be the linked build with one signature of the one
shape the build accepts, timestamped where servers are named, and verified
again as it will be after the certificate has expired; and its signature
alone beside it, setup.exe.sig. Run with Debian's /usr/bin/python3.

usage: sign.py LINKED EXE PRODUCT URL TIMESTAMP_URLS TIMESTAMP_CERTS ROOTS ALLOW_NON_RSA COMMAND_TIMEOUT ROUTE...
ROUTE: pkcs12 FILE | pkcs11 KEY_URI MODULE CERTS | command PROGRAM [ARGUMENT...]
(URL, TIMESTAMP_URLS (a ;-list), TIMESTAMP_CERTS and ROOTS may be empty)

The key is in a PKCS#12 file, held in a token and reached through its
vendor's PKCS#11 module, or used by a signing command of the publisher's,
which is given the unsigned file and the path to write the signed one, and
COMMAND_TIMEOUT seconds. The password or PIN is LAUNCHER_SIGN_PASSWORD's, or
the content of the file LAUNCHER_SIGN_PASSWORD_FILE names, as bytes: this
script runs again at once without either in its environment, the password
on a pipe, so no process it starts finds it (or the file's name) there; it
reaches only the process that signs, through a pipe, and is tried once.
Every process a tool starts is ended when the tool ends, even one that left
its process group: this script is their child subreaper. What a tool wrote
is read once, a plain file, judged, and setup.exe written from those bytes,
under a temporary name, renamed into place only once verified, one signing
per build folder at a time: whatever ends this early (but SIGKILL, which no
process can catch), nothing unsigned or unstamped, and nothing but this
build, is left under the signed name.

Environment: OSSLSIGNCODE (the tool), LAUNCHER_SIGN_TIMESTAMP_WAIT (seconds
a server may take, 60) and LAUNCHER_SIGN_TIMESTAMP_PAUSE (seconds between
rounds over the servers, 10).
"""
import os
import signal
import sys

PASSWORD_FD = "--password-fd="


def stopped_early(number, _):
    """Ctrl-C, SIGTERM or SIGHUP before the signing has begun, while Python
    still reads its modules: nothing of it exists yet, so one line, and no
    traceback."""
    named = [argument for argument in sys.argv[1:] if not argument.startswith(PASSWORD_FD)]
    print(f"{named[1] if len(named) > 1 else 'sign.py'}: not signed: interrupted", file=sys.stderr, flush=True)
    os._exit(128 + number)


for early in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
    signal.signal(early, stopped_early)

# The other modules are read after the handler is set: reading them takes
# the first third of a second.
import ctypes
import datetime
import fcntl
import re
import shutil
import socket
import stat
import struct
import subprocess
import threading
import time
import urllib.error
import urllib.request

import pefile
from asn1crypto import tsp

import bounds
import pe_image
import signature
from shown import shown

OSSLSIGNCODE = os.environ.get("OSSLSIGNCODE", "osslsigncode")
WAIT = float(os.environ.get("LAUNCHER_SIGN_TIMESTAMP_WAIT", "60"))
PAUSE = float(os.environ.get("LAUNCHER_SIGN_TIMESTAMP_PAUSE", "10"))
ROUNDS = 3
NAG = 30  # seconds between the lines that say a command is still running
TAIL = 1 << 16  # bytes of a tool's output kept: its last words
PR_SET_CHILD_SUBREAPER = 36
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


class TimedOut(Exception):
    pass


def end_group(process):
    """Ends a tool and every process it started in its group."""
    for number, grace in ((signal.SIGTERM, 5), (signal.SIGKILL, None)):
        try:
            os.killpg(process.pid, number)
        except ProcessLookupError:
            return
        try:
            process.wait(grace)
            return
        except subprocess.TimeoutExpired:
            continue


def children():
    """This process's children, from /proc."""
    found = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{entry}/stat", "rb") as file:
                fields = file.read().rsplit(b")", 1)[1].split()
        except (OSError, IndexError):  # not a process, or one that has just ended
            continue
        if int(fields[1]) == os.getpid():
            found.append(int(entry))
    return found


def end_descendants():
    """Ends every process a tool started that still runs. A process that
    left its group (setsid) is this one's child once its parent has ended,
    as this process is their child subreaper: so ending the children, until
    none is left, ends them all."""
    for _ in range(1000):
        found = children()
        if not found:
            return
        for pid in found:
            try:
                os.kill(pid, signal.SIGKILL)
                os.waitpid(pid, 0)
            except (ProcessLookupError, ChildProcessError):
                pass


def run(command, secret=None, timeout=None, waiting=None):
    """A tool's exit status and the last TAIL bytes it said; the secret
    (bytes) only through its standard input, and no terminal to ask for
    another. The tool runs in a process group of its own; it and every
    process it started are ended when it ends, past the timeout, or when
    this signing is stopped. waiting(seconds left) is called every NAG
    seconds while it runs."""
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL if secret is None else subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, start_new_session=True)
    said = bytearray()

    def listen():  # however much it says, only its end is kept
        for chunk in iter(lambda: process.stdout.read1(TAIL), b""):
            said.extend(chunk)
            del said[:-TAIL]

    def feed():
        try:
            process.stdin.write(secret)
            process.stdin.close()
        except OSError:  # it ended, or closed its input, without reading
            pass

    works = [listen] + ([feed] if secret is not None else [])
    helpers = [threading.Thread(target=work, daemon=True) for work in works]
    for helper in helpers:
        helper.start()
    deadline = None if timeout is None else time.monotonic() + timeout
    try:
        while True:
            waits = ([NAG] if waiting else []) + ([max(deadline - time.monotonic(), 0)] if deadline else [])
            try:
                process.wait(min(waits) if waits else None)
                break
            except subprocess.TimeoutExpired:
                if deadline is not None and time.monotonic() >= deadline:
                    raise TimedOut()
                if waiting:
                    waiting(None if deadline is None else deadline - time.monotonic())
    finally:
        end_group(process)
        end_descendants()
    for helper in helpers:
        helper.join(5)
    return process.returncode, said.decode(errors="replace")


def last_words(said, lines=2):
    return " ".join(line.strip() for line in said.strip().splitlines()[-lines:])


def tell(text):
    print(text, flush=True)


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
        return f"cannot be reached ({shown(str(reason))})"
    try:
        response = tsp.TimeStampResp.load(reply, strict=True)
        status = response["status"]["status"].native
        token = response["time_stamp_token"]
        if status not in ("granted", "granted_with_mods"):
            return f"refused the request ({status})"
        certificates = [choice.chosen for choice in token["content"]["certificates"]]
    except Exception:  # asn1crypto's own, for bytes that are no reply
        return "not a timestamp reply"
    if not any("time_stamping" in (certificate.extended_key_usage_value or tsp.ExtKeyUsageSyntax([])).native
               for certificate in certificates):
        return "the authority's certificate is not for time-stamping (no such extended key usage)"
    return "osslsigncode could not take its timestamp"


def stamp_reason(report, roots):
    """Why a signature's timestamp (which the reader found to stamp it) is
    no timestamp Windows would take: an authority's certificate that is
    missing, not for time-stamping or expired at its time, or whose root
    the timestamp roots do not hold; None when the authority is trusted."""
    stamp = report["timestamp"]
    authority = stamp["certificate"]
    if authority is None:
        return "the token names no certificate it holds"
    if "time_stamping" not in (authority.extended_key_usage_value.native if authority.extended_key_usage_value
                               else []):
        return "the authority's certificate is not for time-stamping (no such extended key usage)"
    if stamp["time"] and stamp["time"] > authority.not_valid_after:
        return f"the authority's certificate expired on {authority.not_valid_after:%b %e %H:%M:%S %Y} GMT"
    if stamp["time"] and stamp["time"] < authority.not_valid_before:
        return f"the authority's certificate was not yet valid at the timestamp's time, {stamp['time']:%Y-%m-%d}"
    if not signature.authority_trusted(report, roots):
        return (f"the authority {shown(stamp['authority'])} is not trusted: add its root to "
                "LAUNCHER_SIGN_TIMESTAMP_CERTS")
    return None


def fault(linked, data):
    """The signed file's signature as the reader reads it, and the first way
    the file is not the linked build with one signature of the shape the
    build writes (None when it is); read within a bound, as what a tool
    wrote may be anything."""
    try:
        with bounds.bounded(bounds.for_size(len(data))):
            return judge(linked, data)
    except bounds.Exceeded as exceeded:
        return None, f"a file whose reading takes {exceeded}"


def judge(linked, data):
    try:
        report = signature.read(data)
    except Exception:  # pefile's own: what was written is no PE image
        return None, "no program: no PE image"
    if not signature.same_image(linked, data):
        place = pe_image.first_difference(signature.unsigned(linked), signature.unsigned(data))
        return report, f"another program than this build: the first difference is in {place}"
    if not report["signed"]:
        return report, "the build unsigned"
    shape = signature.build_shape(report, data)
    if shape:
        return report, f"{shown(shape)}, which the build does not accept"
    if report["broken"]:
        return report, f"a broken signature: {report['broken']}"
    return report, None


def with_checksum(data):
    """The file with the PE checksum that is its own. It lies outside what
    the signature covers, and a signer may leave it stale (pesign does):
    the build writes it. What is no PE image is left as it is, to be judged."""
    try:
        pe = pefile.PE(data=data, fast_load=True)
        image = bytearray(data)
        struct.pack_into("<I", image, pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum"), pe.generate_checksum())
        return bytes(image)
    except (pefile.PEFormatError, struct.error):  # no PE image, or one cut short at its checksum
        return data


class Signing:
    def __init__(self, linked, exe, product, url, servers, timestamp_certs, roots, allow_non_rsa, command_timeout,
                 route, password):
        self.linked, self.exe, self.route, self.password = linked, exe, route, password
        self.servers = [server for server in servers.split(";") if server]
        self.timestamp_certs, self.roots = timestamp_certs, roots
        self.allow_non_rsa = allow_non_rsa.upper() in ("ON", "1", "TRUE", "YES", "Y")
        self.command_timeout = float(command_timeout or 600)
        self.options = ["-h", "sha256", "-n", product] + (["-i", url] if url else [])
        self.folder = os.path.dirname(os.path.abspath(exe))
        self.work = f"{exe}.signing.d"
        self.output = os.path.join(self.work, "output", "signed.exe")  # where a tool writes
        # What a tool reads: a copy, as some sign their input in place, and
        # setup.unsigned.exe stays the linked build.
        self.input = os.path.join(self.work, "input", "setup.exe")
        self.judged_copy = os.path.join(self.work, "judged.exe")  # what this script wrote, of judged bytes

    def write(self, path, *parts):
        with open(path, "w") as out:
            for part in parts:
                if part and os.path.isfile(part):
                    with open(part) as text:
                        out.write(text.read())

    def run_command(self, arguments):
        """The publisher's signing command, bounded by its timeout."""
        name = arguments[0]

        def waiting(left):
            tell(f"{self.exe}: the signing command {name} is still running: {left:.0f} s left of "
                 f"LAUNCHER_SIGN_COMMAND_TIMEOUT ({self.command_timeout:g} s)")

        try:
            status, said = run([*arguments, self.input, self.output], timeout=self.command_timeout, waiting=waiting)
        except TimedOut:
            raise Failed(f"the signing command {name} did not end within LAUNCHER_SIGN_COMMAND_TIMEOUT "
                         f"({self.command_timeout:g} s): it was ended, with every process it started")
        if status:
            raise Failed(f"the signing command {name} failed (exit status {status}): {shown(last_words(said))}")

    def sign(self):
        """Signs into self.output; what signed it, and the certificates its
        signature is verified with."""
        kind, *arguments = self.route
        readpass = ["-readpass", "/dev/stdin"] if self.password else []
        into = ["-in", self.input, "-out", self.output]
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
            return f"the token key {key}", certificates
        self.run_command(arguments)
        # The chain comes with the signature; it is trusted by the roots alone.
        return f"the signing command {arguments[0]}", ""

    def take(self, what):
        """What a tool wrote, read once: a plain file (not a link, a FIFO or
        a device), no larger than a launcher can be; then gone, so that the
        next tool writes afresh."""
        try:
            descriptor = os.open(self.output, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK)
        except FileNotFoundError:
            raise Failed(f"{what} exited 0 without writing its output, {self.output}")
        except OSError:  # ELOOP: the name is a symbolic link
            raise Failed(f"{what} wrote its output {self.output} as a symbolic link, not a file")
        with os.fdopen(descriptor, "rb") as file:
            if not stat.S_ISREG(os.fstat(file.fileno()).st_mode):
                raise Failed(f"{what} wrote its output {self.output} as something else than a file")
            data = file.read(pe_image.LAUNCHER_LIMIT + 1)
        os.remove(self.output)
        if len(data) > pe_image.LAUNCHER_LIMIT:
            raise Failed(f"{what} wrote more than any launcher can be")
        return with_checksum(data)

    def judged(self, what, data):
        """The signed file's signature as the reader reads it, once the file
        is proven to be the linked build with one signature of the accepted
        shape; the bytes judged are written to judged_copy, the one file the
        tools read from then on."""
        report, reason = fault(self.linked_data, data)
        if reason:
            raise Failed(f"{what} wrote {reason}")
        with open(self.judged_copy, "wb") as file:
            file.write(data)
        return report

    def stamp_holds(self, report):
        """Why the signature's timestamp would not keep it alive once its
        certificate has expired, or None: its authority is trusted by the
        timestamp roots, and the signer's certificate chains to the roots as
        at its time, as Windows judges it then."""
        reason = stamp_reason(report, (self.timestamp_roots,))
        if reason is None:
            fault_then = signature.signer_fault(report, (self.chain,), report["timestamp"]["time"])
            if fault_then:
                reason = f"the signature does not verify as at its timestamp's time: {fault_then}"
        return reason

    def timestamp(self):
        """Servers fail now and then: each is tried in turn, each for a
        bounded time, its token judged as the build's timestamp, and the
        whole list again after a pause, a few rounds at most. Each answer is
        told as it comes. Returns the stamped file's bytes."""
        reasons = {}
        for round in range(ROUNDS):
            if round:
                tell(f"{self.exe}: no timestamp yet; the servers again in {PAUSE:g} s "
                     f"(round {round + 1} of {ROUNDS})")
                time.sleep(PAUSE)
            for server in self.servers:
                if os.path.lexists(self.output):
                    os.remove(self.output)
                try:
                    run([OSSLSIGNCODE, "add", "-ts", server, "-in", self.judged_copy, "-out", self.output],
                        timeout=WAIT)
                    reasons[server], data = self.stamped_by(server)
                    if data:
                        tell(f"{self.exe}: timestamp server {server}: a timestamp that verifies")
                        return data
                except TimedOut:
                    reasons[server] = f"no answer within {WAIT:g} s"
                tell(f"{self.exe}: timestamp server {server}: {reasons[server]}")
        raise Failed(f"no timestamp server gave a timestamp that verifies, in {ROUNDS} rounds; "
                     + "; ".join(f"{server}: {reason}" for server, reason in reasons.items()))

    def stamped_by(self, server):
        """(None, the stamped file's bytes), written to judged_copy, once
        judged as the build and its timestamp holds; else (why not, as the
        server's reason, None), judged_copy as it was."""
        if not os.path.lexists(self.output) or (os.path.isfile(self.output) and not os.path.getsize(self.output)):
            return probe(server), None
        data = self.take(f"osslsigncode, with the timestamp from {server},")
        report, reason = fault(self.linked_data, data)
        if reason or report["timestamp"] is None:
            return (report["broken"] if report and report["broken"] else
                    f"the stamped file holds {reason or 'no timestamp'}"), None
        unstamped = self.judged_copy + ".unstamped"
        os.replace(self.judged_copy, unstamped)
        with open(self.judged_copy, "wb") as file:
            file.write(data)
        reason = self.stamp_holds(report)
        if reason:
            os.replace(unstamped, self.judged_copy)
            return reason, None
        os.remove(unstamped)
        return None, data

    def attached(self, detached):
        """The shipped file as attach-signature makes it from the signature
        alone and the unsigned build, judged again: a signer may encode its
        signature or lay out its table otherwise than osslsigncode, which
        writes both its own way, so only this file is the one anyone makes
        again from setup.exe.sig. (Its exit status says whether the chain
        verifies against the roots named, which the build judged itself.)"""
        try:
            run([OSSLSIGNCODE, "attach-signature", "-sigin", detached, "-CAfile", self.chain, "-TSA-CAfile",
                 self.timestamp_roots, "-in", self.linked, "-out", self.output], timeout=WAIT)
        except TimedOut:  # its check of the chain fetches a CRL a certificate names, and may wait for it
            raise Failed(f"osslsigncode attach-signature did not end within {WAIT:g} s")
        data = self.take("osslsigncode attach-signature, with the signature alone,")
        report, reason = fault(self.linked_data, data)
        judged = fault(self.linked_data, self.data)[0]
        moment = lambda found: found["timestamp"] and found["timestamp"]["time"]
        if reason or (report["signer_certificate"], moment(report)) != (judged["signer_certificate"], moment(judged)):
            raise Failed(f"its signature alone, attached to the unsigned build, gives {reason or 'another signature'}")
        return data

    def make(self):
        shutil.rmtree(self.work, ignore_errors=True)
        for stale in (self.exe, self.exe + ".sig"):
            if os.path.exists(stale):
                os.remove(stale)
        try:
            os.makedirs(os.path.dirname(self.output))
            os.makedirs(os.path.dirname(self.input))
            shutil.copyfile(self.linked, self.input)
            with open(self.linked, "rb") as file:
                self.linked_data = file.read()
        except OSError as error:
            raise Failed(f"the build folder {self.folder} cannot be written: {error.strerror}")
        what, certificates = self.sign()
        self.data = self.take(what)
        report = self.judged(what, self.data)
        # The signer's certificates are roots too, as for a test certificate.
        self.chain = os.path.join(self.work, "chain.pem")
        self.timestamp_roots = os.path.join(self.work, "timestamp-roots.pem")
        self.write(self.chain, certificates, signature.SYSTEM_ROOTS, self.roots)
        self.write(self.timestamp_roots, signature.SYSTEM_ROOTS, self.timestamp_certs)
        if report["key"] != "rsa" and not self.allow_non_rsa:
            raise Failed(f"signed with a non-RSA key ({report['key']}), and Smart App Control accepts RSA signatures "
                         "alone: sign with an RSA key, or set LAUNCHER_SIGN_ALLOW_NON_RSA=ON where your users "
                         "never turn Smart App Control on")
        # The signer's certificate and its chain, as now (the reader has
        # judged the signature); a timestamp is judged apart.
        now_fault = signature.signer_fault(report, (self.chain,))
        if now_fault:
            raise Failed(f"the signature made with {what} does not verify: {now_fault}")
        expiry = report["not_after"].replace(tzinfo=None)
        # A timestamp the signing command added counts as one from the servers
        # would: only when it keeps the signature alive after the expiry.
        reason = report["timestamp"] and self.stamp_holds(report)
        if reason:
            tell(f"{self.exe}: the timestamp {what} added is not taken: {reason}")
        if self.servers and (report["timestamp"] is None or reason):
            self.data = self.timestamp()
        elif report["timestamp"] is None or reason:
            if expiry - datetime.datetime.utcnow() < SHORT_LIFE:
                raise Failed(f"its certificate expires on {expiry:%Y-%m-%d}, within {SHORT_LIFE.days} days, and "
                             "without a timestamp that holds the signature dies with it: set "
                             "LAUNCHER_SIGN_TIMESTAMP_URL")
            tell(f"{self.exe}: no timestamp{' that holds' if reason else ''}: the signature stops verifying on "
                 f"{expiry:%Y-%m-%d}, when its certificate expires")
        # The signature alone, beside the file: attached to the unsigned
        # build it gives the shipped file, byte for byte, by construction.
        detached = os.path.join(self.work, "setup.exe.sig")
        status, said = run([OSSLSIGNCODE, "extract-signature", "-in", self.judged_copy, "-out", detached])
        if status:
            raise Failed(f"its signature cannot be written apart: {last_words(said)}")
        self.data = self.attached(detached)
        partial = os.path.join(self.work, "setup.exe")
        with open(partial, "wb") as file:
            file.write(self.data)
        os.replace(detached, self.exe + ".sig")
        os.replace(partial, self.exe)


def refuse(signing, reason):
    if signing.folder not in reason and shutil.disk_usage(signing.folder).free < 1 << 16:
        reason = f"the build folder {signing.folder} is full: {reason}"
    print(f"{signing.exe}: not signed, and removed: {reason}", file=sys.stderr)
    return 1


def without_password(arguments):
    """The password as bytes, whatever they are. Read from the environment
    or the file it names, it runs this script again without either in its
    environment, where /proc/PID/environ would show them to every process
    it starts; the password goes on a pipe, and is read from it here."""
    if arguments and arguments[0].startswith(PASSWORD_FD):
        descriptor = int(arguments.pop(0)[len(PASSWORD_FD):])
        with os.fdopen(descriptor, "rb") as pipe:
            return pipe.read()
    environment = {key: value for key, value in os.environb.items()
                   if key not in (b"LAUNCHER_SIGN_PASSWORD", b"LAUNCHER_SIGN_PASSWORD_FILE")}
    named = os.environb.get(b"LAUNCHER_SIGN_PASSWORD_FILE")
    password = os.environb.get(b"LAUNCHER_SIGN_PASSWORD")
    if password is None and not named:
        return b""
    if password is None:
        with open(named, "rb") as file:
            password = file.read()
    reading, writing = os.pipe()
    os.write(writing, password[:65536])  # a pipe holds 64 KiB: it never blocks here
    os.close(writing)
    os.set_inheritable(reading, True)
    os.execve(sys.executable, [sys.executable, os.path.abspath(__file__), f"{PASSWORD_FD}{reading}", *arguments],
              environment)


def ignore_signals():
    """Once the clean-up has begun, a second signal does not cut it short."""
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, signal.SIG_IGN)


def main(arguments):
    try:
        password = without_password(arguments)
    except OSError as error:
        print(f"{arguments[1]}: not signed: LAUNCHER_SIGN_PASSWORD_FILE cannot be read: {error.strerror}",
              file=sys.stderr)
        return 1
    if password.endswith(b"\n"):  # one newline, as a secret store adds, is no part of it
        password = password[:-1]
    signing = Signing(*arguments[:9], arguments[9:], password)
    # Every process a tool starts is this one's once its parent has ended,
    # so that it can be ended too (run's end_descendants).
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
    # SIGTERM and SIGHUP end the signing as Ctrl-C does, through the clean-up below.
    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, lambda number, _: sys.exit(128 + number))
    unwritable = lambda error: f"the build folder {signing.folder} cannot be written: {error.strerror}"
    try:
        lock = open(f"{signing.exe}.lock", "w")
    except OSError as error:
        return refuse(signing, unwritable(error))
    signal.signal(signal.SIGINT, signal.default_int_handler)  # from here on, through the clean-up below
    with lock:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            tell(f"{signing.exe}: waiting for another signing in this build folder to end")
            try:
                fcntl.flock(lock, fcntl.LOCK_EX)  # released when its holder ends, however it ends
            except KeyboardInterrupt:  # the other signing's files are its own: nothing of this one is left
                print(f"{signing.exe}: not signed: interrupted while waiting for another signing", file=sys.stderr)
                return 130
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
            ignore_signals()
            return refuse(signing, "interrupted") and 130
        finally:  # still holding the lock: only this signing's own file goes
            ignore_signals()
            end_descendants()
            for stale in () if made else (signing.exe, signing.exe + ".sig"):
                if os.path.exists(stale):
                    os.remove(stale)
            shutil.rmtree(signing.work, ignore_errors=True)


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except KeyboardInterrupt:  # before the signing began, or once it was cleaned up: nothing of it is left
        stopped_early(signal.SIGINT, None)
