"""The one reader of a program's Authenticode signature, for signing, the
medium's list of programs and verify.sh alike: the certificate table read
with pefile, the CMS structure with Debian's python3-asn1crypto, and the
signer's signature checked with python3-cryptography. Run with Debian's
/usr/bin/python3.

read() judges two things, and reports a third:
- the shape: exactly the one osslsigncode writes for the build, one table
  entry, one signer, the signed attributes Authenticode signers write, and
  no unsigned attribute but one timestamp; anything else is named;
- the digest: the file is what was signed, and the signer's signature over
  it holds;
- the certificate's trust (trusted()), which is never required: a
  publisher's private or test root is theirs to judge.
"""
import datetime
import hashlib
import os
import struct
import subprocess
import tempfile

import pefile
from asn1crypto import algos, cms, core, tsp
from cryptography import x509 as crypto_x509
from cryptography.exceptions import InvalidSignature
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec, padding, rsa
from cryptography.hazmat.primitives.serialization import Encoding

SYSTEM_ROOTS = "/etc/ssl/certs/ca-certificates.crt"
SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
# What an Authenticode signer signs: content type and digest always; the
# program's name and URL, the statement type and the signing time as the
# signer chooses.
SIGNED_ATTRIBUTES = {"1.2.840.113549.1.9.3": "content type", "1.2.840.113549.1.9.4": "message digest",
                     "1.3.6.1.4.1.311.2.1.12": "program name and URL", "1.3.6.1.4.1.311.2.1.11": "statement type",
                     "1.2.840.113549.1.9.5": "signing time"}
TIMESTAMPS = {"1.3.6.1.4.1.311.3.3.1": "RFC 3161", "1.2.840.113549.1.9.6": "Authenticode"}
# Unsigned attributes people meet, by name.
KNOWN_UNSIGNED = {"1.3.6.1.4.1.311.2.4.1": "a nested signature",
                  "1.3.6.1.4.1.42921.1.2.1": "an unauthenticated blob"}
HASHES = {"sha1": hashes.SHA1, "sha256": hashes.SHA256, "sha384": hashes.SHA384, "sha512": hashes.SHA512,
          "md5": hashes.MD5}


class SpcAttributeTypeAndOptionalValue(core.Sequence):
    _fields = [("type", core.ObjectIdentifier), ("value", core.Any, {"optional": True})]


class DigestInfo(core.Sequence):
    _fields = [("digest_algorithm", algos.DigestAlgorithm), ("digest", core.OctetString)]


class SpcIndirectDataContent(core.Sequence):
    _fields = [("data", SpcAttributeTypeAndOptionalValue), ("message_digest", DigestInfo)]


def table(data):
    """The certificate table's place and size, and the offsets of the two
    header fields Authenticode leaves out of its digest."""
    pe = pefile.PE(data=data, fast_load=True)
    security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    return (security.VirtualAddress, security.Size,
            pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum"), security.get_file_offset())


def image_digest(data, algorithm):
    """The Authenticode digest of a PE image: every byte but the checksum,
    the certificate table's directory entry and the table."""
    at, size, checksum, entry = table(data)
    end = at if at and size else len(data)
    digest = hashlib.new(algorithm)
    for start, stop in ((0, checksum), (checksum + 4, entry), (entry + 8, end)):
        digest.update(data[start:stop])
    return digest.digest()


def unsigned(data):
    """The image as it was before it was signed: the table cut off, its
    directory entry and the checksum zeroed."""
    at, size, checksum, entry = table(data)
    image = bytearray(data[:at] if at and size else data)
    image[checksum:checksum + 4] = bytes(4)
    image[entry:entry + 8] = bytes(8)
    return bytes(image)


def same_image(linked, signed):
    """Whether a signed image, its signature removed, is the linked one byte
    for byte, but for the checksum and the zeros that align the table."""
    stripped, expected = unsigned(signed), unsigned(linked)
    padding_bytes = stripped[len(expected):]
    return stripped[:len(expected)] == expected and len(padding_bytes) < 8 and not padding_bytes.strip(b"\0")


def der_length(data):
    """The length of the DER element at the start of data, header included."""
    if len(data) < 2 or data[0] != 0x30:
        return None
    if data[1] < 0x80:
        return 2 + data[1]
    count = data[1] & 0x7F
    return 2 + count + int.from_bytes(data[2:2 + count], "big") if 0 < count <= 4 else None


def table_shape(data, at, size):
    """The first way the certificate table is not one signature, padded with
    zeros to 8 bytes, that ends the file; None when it is."""
    if at % 8 or at + size != len(data) or size < 8:
        return "a certificate table that does not end the file"
    length, revision, kind = struct.unpack_from("<IHH", data, at)
    signature = der_length(data[at + 8:at + size])
    if revision != 0x200 or kind != 2 or signature is None or 8 + signature > min(length, size):
        return "a certificate table that is not one PKCS#7 signature"
    padded = (8 + signature + 7) & ~7
    if size > padded or length > padded:
        return f"a certificate table that holds {max(size, length) - padded} bytes more than its signature"
    if data[at + 8 + signature:at + size].strip(b"\0"):
        return "a certificate table whose signature is not padded with zeros to 8 bytes"
    return None


def subject(certificate):
    """A certificate's subject as OpenSSL writes it: /CN=.../O=..."""
    name = crypto_x509.load_der_x509_certificate(certificate.dump()).subject
    return "".join(f"/{part.rfc4514_string()}" for part in name) or "no subject"


def signer_certificate(signed_data, signer):
    identifier = signer["sid"]
    for choice in signed_data["certificates"]:
        certificate = choice.chosen
        if identifier.name == "issuer_and_serial_number":
            if (certificate.issuer == identifier.chosen["issuer"]
                    and certificate.serial_number == identifier.chosen["serial_number"].native):
                return certificate
        elif certificate.key_identifier == identifier.chosen.native:
            return certificate
    return None


def signature_holds(certificate, signer, signed):
    """Whether the signer's signature over its signed attributes holds."""
    key = crypto_x509.load_der_x509_certificate(certificate.dump()).public_key()
    algorithm = HASHES[signer["digest_algorithm"]["algorithm"].native]()
    try:
        if isinstance(key, rsa.RSAPublicKey):
            key.verify(signer["signature"].native, signed, padding.PKCS1v15(), algorithm)
        elif isinstance(key, ec.EllipticCurvePublicKey):
            key.verify(signer["signature"].native, signed, ec.ECDSA(algorithm))
        else:
            return False
    except InvalidSignature:
        return False
    return True


def attribute(attributes, name):
    for found in attributes:
        if found["type"].native == name:
            return found["values"][0]
    return None


def timestamp_of(kind, value, signed_data, signer):
    """A timestamp's time; whether it stamps this signer's signature and its
    authority's signature over it holds; the authority's certificate and the
    certificates that come with it (DER)."""
    stamped = lambda stamp: hashlib.new(stamp["digest_algorithm"]["algorithm"].native, signer["signature"].native)
    if kind == "RFC 3161":
        token = cms.ContentInfo.load(value.dump())["content"]
        content = token["encap_content_info"]["content"]
        info = tsp.TSTInfo.load(content.contents if isinstance(content, core.ParsableOctetString) else content.dump())
        imprint = info["message_imprint"]
        stamp, holder = token["signer_infos"][0], token
        this = hashlib.new(imprint["hash_algorithm"]["algorithm"].native, signer["signature"].native).digest() \
            == imprint["hashed_message"].native
        digest = hashlib.new(stamp["digest_algorithm"]["algorithm"].native, info.dump()).digest()
        time = info["gen_time"].native
    else:
        stamp, holder = cms.SignerInfo.load(value.dump()), signed_data
        digest = this = stamped(stamp).digest()
        found = attribute(stamp["signed_attrs"], "signing_time")
        time = found.native if found is not None else None
    certificate = signer_certificate(holder, stamp)
    signed_digest = attribute(stamp["signed_attrs"], "message_digest")
    holds = (certificate is not None and signed_digest is not None and signed_digest.native == digest
             and signature_holds(certificate, stamp, b"\x31" + stamp["signed_attrs"].dump()[1:]))
    return time, bool(this) and holds, certificate, [choice.chosen.dump() for choice in holder["certificates"]]


def read(data):
    """What a program's signature is: a dict with 'signed'; for a signed
    program also what read_cms() reports, its shape including the table's."""
    at, size, _, _ = table(data)
    if not at and not size:
        return {"signed": False}
    length = der_length(data[at + 8:at + size]) or 0
    report = read_cms(data[at + 8:at + 8 + length], lambda algorithm: image_digest(data, algorithm))
    report["shape"] = table_shape(data, at, size) or report["shape"]
    return report


def read_cms(der, digest_of=None):
    """A signature's 'shape' (None, or the first way it is not the accepted
    one), 'broken' (None, or why the file is not what was signed; the file's
    own digest is judged where digest_of gives it), 'signer', 'key',
    'not_after', 'timestamp', 'stamps_other', 'nested' (the nested signers'
    subjects), 'certificates', 'signer_certificate' (DER),
    'authority_certificate' (the timestamp's, as asn1crypto reads it) and
    'authority_chain' (DER); 'stamps_other' is also set for a timestamp
    whose authority's signature does not hold."""
    report = {"signed": True, "shape": None, "broken": None, "signer": "no signer", "key": "unknown",
              "not_after": None, "timestamp": None, "stamps_other": False, "nested": [], "certificates": [],
              "signer_certificate": None, "authority_certificate": None, "authority_chain": []}
    try:
        content = cms.ContentInfo.load(der, strict=True)
        if content["content_type"].native != "signed_data":
            raise ValueError("no SignedData")
        signed_data = content["content"]
        report["certificates"] = [choice.chosen.dump() for choice in signed_data["certificates"]]
        if signed_data["encap_content_info"]["content_type"].dotted != SPC_INDIRECT_DATA:
            raise ValueError("no Authenticode content")
        signers = signed_data["signer_infos"]
        signer = signers[0]
        certificate = signer_certificate(signed_data, signer)
        if certificate is not None:
            report["signer"] = subject(certificate)
            report["signer_certificate"] = certificate.dump()
            report["not_after"] = certificate.not_valid_after
        report["key"] = signer["signature_algorithm"].signature_algo
        shape = [f"{len(signers)} signers"] if len(signers) != 1 else []
        signed_attributes = signer["signed_attrs"]
        kinds = [found["type"].dotted for found in signed_attributes]
        shape += [f"a signed attribute of type {kind}, which Authenticode signers do not write"
                  for kind in kinds if kind not in SIGNED_ATTRIBUTES]
        shape += [f"the signed attribute '{SIGNED_ATTRIBUTES[kind]}' {kinds.count(kind)} times"
                  for kind in sorted(set(kinds)) if kind in SIGNED_ATTRIBUTES and kinds.count(kind) > 1]
        shape += [f"no signed attribute '{SIGNED_ATTRIBUTES[kind]}'" for kind in list(SIGNED_ATTRIBUTES)[:2]
                  if kind not in kinds]
        shape += [f"a signed attribute with {len(found['values'])} values"
                  for found in signed_attributes if len(found["values"]) != 1]
        unsigned_attributes = [] if isinstance(signer["unsigned_attrs"], core.Void) else signer["unsigned_attrs"]
        stamps = [found for found in unsigned_attributes if found["type"].dotted in TIMESTAMPS]
        for found in unsigned_attributes:
            kind = found["type"].dotted
            if kind == "1.3.6.1.4.1.311.2.4.1":
                for value in found["values"]:
                    nested = cms.ContentInfo.load(value.dump())["content"]
                    nested_signer = signer_certificate(nested, nested["signer_infos"][0])
                    report["nested"].append(subject(nested_signer) if nested_signer else "no signer")
                shape.append(f"a nested signature by {report['nested'][0]}")
            elif kind not in TIMESTAMPS:
                shape.append(f"{KNOWN_UNSIGNED.get(kind, 'an unsigned attribute')} (type {kind})")
        if len(stamps) > 1 or any(len(found["values"]) != 1 for found in stamps):
            shape.append("more than one timestamp")
        if stamps:
            kind = TIMESTAMPS[stamps[0]["type"].dotted]
            report["timestamp"], stamps_this, authority, chain = timestamp_of(kind, stamps[0]["values"][0],
                                                                              signed_data, signer)
            report["stamps_other"] = not stamps_this
            report["authority_certificate"], report["authority_chain"] = authority, chain
        report["shape"] = shape[0] if shape else None
        # The file is what was signed: the content's digest is the image's,
        # the signed attributes hold the content's digest, and the signature
        # over them holds for the signer's key.
        indirect = SpcIndirectDataContent.load(signed_data["encap_content_info"]["content"].dump(), explicit=0)
        algorithm = indirect["message_digest"]["digest_algorithm"]["algorithm"].native
        content_digest = hashlib.new(signer["digest_algorithm"]["algorithm"].native, indirect.contents).digest()
        signed_digest = attribute(signed_attributes, "message_digest")
        if digest_of and indirect["message_digest"]["digest"].native != digest_of(algorithm):
            report["broken"] = "the file is not what was signed"
        elif signed_digest is None or signed_digest.native != content_digest:
            report["broken"] = "the signed attributes are not of this content"
        elif certificate is None:
            report["broken"] = "the signature names no certificate it holds"
        elif not signature_holds(certificate, signer, b"\x31" + signed_attributes.dump()[1:]):
            report["broken"] = "the signer's signature does not hold"
    except Exception as error:  # asn1crypto's, cryptography's or hashlib's, for what a hostile file holds
        report["shape"] = "a signature that is no Authenticode SignedData"
        report["broken"] = report["broken"] or f"it cannot be read ({type(error).__name__})"
    return report


def read_program(path):
    """read() for any program on a medium: an .msi keeps its signature in a
    stream that osslsigncode takes out, and its own digest is not judged
    here; a file that is no PE image has no signature either."""
    if path.lower().endswith(".msi"):
        with tempfile.TemporaryDirectory() as work:
            der = os.path.join(work, "signature.der")
            if subprocess.run(["osslsigncode", "extract-signature", "-in", path, "-out", der],
                              capture_output=True).returncode or not os.path.isfile(der):
                return {"signed": False}
            with open(der, "rb") as file:
                return read_cms(file.read())
    with open(path, "rb") as file:
        try:
            return read(file.read())
        except pefile.PEFormatError:
            return {"signed": False}


def pem(certificates):
    return "".join(crypto_x509.load_der_x509_certificate(der).public_bytes(Encoding.PEM).decode()
                   for der in certificates)


def trusted(report, roots=(SYSTEM_ROOTS,), authority=False):
    """Whether the signer's certificate (or the timestamp authority's)
    chains to one of the roots, as at the timestamp's time (or now):
    OpenSSL's verify, by its exit status."""
    if authority:
        certificate = report["authority_certificate"] and report["authority_certificate"].dump()
        chain, purpose = report["authority_chain"], "timestampsign"
    else:
        certificate, chain, purpose = report.get("signer_certificate"), report["certificates"], "any"
    if certificate is None:
        return False
    with tempfile.TemporaryDirectory() as work:
        files = {name: os.path.join(work, name) for name in ("chain.pem", "roots.pem", "leaf.pem")}
        with open(files["chain.pem"], "w") as out:
            out.write(pem(chain))
        with open(files["leaf.pem"], "w") as out:
            out.write(pem([certificate]))
        with open(files["roots.pem"], "w") as out:
            for roots_file in roots:
                if roots_file and os.path.isfile(roots_file):
                    with open(roots_file) as text:
                        out.write(text.read())
        moment = report["timestamp"] or datetime.datetime.now(datetime.timezone.utc)
        return subprocess.run(["openssl", "verify", "-CAfile", files["roots.pem"], "-untrusted", files["chain.pem"],
                               "-purpose", purpose, "-attime", str(int(moment.timestamp())), files["leaf.pem"]],
                              capture_output=True).returncode == 0
