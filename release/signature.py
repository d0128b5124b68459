"""The one reader of a program's Authenticode signature, for signing, the
medium's list of programs and verify.sh alike: the certificate table read
with pefile, the CMS structure with Debian's python3-asn1crypto, and every
signature in it checked with python3-cryptography. Run with Debian's
/usr/bin/python3.

read() judges two things, and reports what trust needs:
- the shape, by what the signature means, not by how its signer encoded
  it: every byte of the table a part the reader read (unread(): each
  structure read whole into its ASN.1 definition, so no byte can change
  unseen), SET order and length forms the signer's choice; one table entry; one
  signer; the signed attributes Authenticode signers write; no unsigned
  attribute but one timestamp; one digest algorithm, the signer's; algorithm
  parameters absent or NULL, as osslsigncode writes them; a signature
  algorithm of the signer's key, as its certificate says; no CRLs; and as
  certificates the signer's and the chain of issuers above it, each signed
  by the next, and no other. An RFC 3161 token is held to the same rules,
  its own certificates its authority's chain, and an Authenticode
  countersigner's chain joins the signer's. build_shape() adds what the
  build's own signature holds: SHA-256 and the file's PE checksum;
- the digest: the file is what was signed, the signer's signature over it
  holds, and a timestamp stamps this signature under its authority's
  signature;
- trust (signer_fault(), authority_trusted(), judged_at()), which read()
  never requires: a publisher's private or test root is theirs to judge.
"""
import datetime
import hashlib
import mmap
import os
import re
import struct
import subprocess
import tempfile

import pefile
from asn1crypto import algos, cms, core, parser, tsp, x509
from cryptography import x509 as crypto_x509
from cryptography.exceptions import InvalidSignature, UnsupportedAlgorithm
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec, padding, rsa
from cryptography.hazmat.primitives.serialization import Encoding

SYSTEM_ROOTS = "/etc/ssl/certs/ca-certificates.crt"
SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
# What an Authenticode signer signs: content type and digest always; the
# program's name and URL, the statement type, the signing time and the
# S/MIME capabilities (sbsign and pesign, as OpenSSL's CMS signing does) as
# the signer chooses.
SIGNED_ATTRIBUTES = {"1.2.840.113549.1.9.3": "content type", "1.2.840.113549.1.9.4": "message digest",
                     "1.3.6.1.4.1.311.2.1.12": "program name and URL", "1.3.6.1.4.1.311.2.1.11": "statement type",
                     "1.2.840.113549.1.9.5": "signing time", "1.2.840.113549.1.9.15": "S/MIME capabilities"}
TIMESTAMPS = {"1.3.6.1.4.1.311.3.3.1": "RFC 3161", "1.2.840.113549.1.9.6": "Authenticode"}
# Unsigned attributes people meet, by name.
KNOWN_UNSIGNED = {"1.3.6.1.4.1.311.2.4.1": "a nested signature",
                  "1.3.6.1.4.1.42921.1.2.1": "an unauthenticated blob"}
HASHES = {"sha1": hashes.SHA1, "sha256": hashes.SHA256, "sha384": hashes.SHA384, "sha512": hashes.SHA512,
          "md5": hashes.MD5}
# The signature algorithm osslsigncode writes for each kind of key (the
# kind as a certificate's public key names it), and the key's name.
SIGNATURE_OF_KEY = {"rsa": "rsassa_pkcs1v15", "ec": "ecdsa"}
KEY_NAMES = {"ec": "ecdsa"}
DIGEST_NAMES = {"md5": "an MD5", "sha1": "a SHA-1", "sha256": "a SHA-256", "sha384": "a SHA-384", "sha512": "a SHA-512"}
BUILD_DIGEST = "sha256"
CERTIFICATE_LIMIT = 32  # far past any signer's chain and a countersigner's
NESTING_LIMIT = 64  # levels of structure: far past a signature's dozen or so
NAME_LIMIT = 1 << 16  # bytes of a name: far past any issuer's
CHUNK = 1 << 24  # bytes of a program hashed at a time
CODE_SIGNING = {"code_signing", "any_extended_key_usage"}
SIGNER_VERSIONS = {"issuer_and_serial_number": "v1", "subject_key_identifier": "v3"}


class SpcString(core.Choice):
    _alternatives = [("unicode", core.BMPString, {"implicit": 0}), ("ascii", core.IA5String, {"implicit": 1})]


class SpcSerializedObject(core.Sequence):
    _fields = [("class_id", core.OctetString), ("serialized_data", core.OctetString)]


class SpcLink(core.Choice):
    _alternatives = [("url", core.IA5String, {"implicit": 0}), ("moniker", SpcSerializedObject, {"implicit": 1}),
                     ("file", SpcString, {"explicit": 2})]


class SpcPeImageFlags(core.BitString):
    _map = {0: "include_resources", 1: "include_debug_info", 2: "include_import_address_table"}


class SpcPeImageData(core.Sequence):
    _fields = [("flags", SpcPeImageFlags, {"optional": True}), ("file", SpcLink, {"explicit": 0, "optional": True})]


class SpcAttributeTypeAndOptionalValue(core.Sequence):
    _fields = [("type", core.ObjectIdentifier), ("value", core.Any, {"optional": True})]
    _oid_pair = ("type", "value")
    # The program's data, as Authenticode names it; pesign names it by the
    # individual signing purpose's identifier instead, which osslsigncode's
    # verify takes too.
    _oid_specs = {"1.3.6.1.4.1.311.2.1.15": SpcPeImageData, "1.3.6.1.4.1.311.2.1.21": SpcPeImageData}


class DigestInfo(core.Sequence):
    _fields = [("digest_algorithm", algos.DigestAlgorithm), ("digest", core.OctetString)]


class SpcIndirectDataContent(core.Sequence):
    _fields = [("data", SpcAttributeTypeAndOptionalValue), ("message_digest", DigestInfo)]


class SpcSpOpusInfo(core.Sequence):
    _fields = [("program_name", SpcString, {"explicit": 0, "optional": True}),
               ("more_info", SpcLink, {"explicit": 1, "optional": True})]


class SpcStatementType(core.SequenceOf):
    _child_spec = core.ObjectIdentifier


class Capability(core.Sequence):
    _fields = [("capability_id", algos.EncryptionAlgorithmId), ("parameters", core.Any, {"optional": True})]
    _oid_pair = ("capability_id", "parameters")
    _oid_specs = {"rc2": core.Integer}  # the key's bits, as OpenSSL writes them


class Capabilities(core.SequenceOf):
    _child_spec = Capability


# Authenticode's signed attributes and content, read by asn1crypto as it
# reads its own: each into its definition, nothing left as bytes of no kind.
cms.CMSAttributeType._map.update({"1.3.6.1.4.1.311.2.1.12": "spc_sp_opus_info",
                                  "1.3.6.1.4.1.311.2.1.11": "spc_statement_type"})
cms.CMSAttribute._oid_specs.update({
    "spc_sp_opus_info": type("SetOfSpcSpOpusInfo", (core.SetOf,), {"_child_spec": SpcSpOpusInfo}),
    "spc_statement_type": type("SetOfSpcStatementType", (core.SetOf,), {"_child_spec": SpcStatementType}),
    "smime_capabilities": type("SetOfCapabilities", (core.SetOf,), {"_child_spec": Capabilities})})
# (A version 1 SignedData holds its content as PKCS #7 does, in a ContentInfo.)
cms.ContentInfo._oid_specs[SPC_INDIRECT_DATA] = SpcIndirectDataContent


def encoded(value):
    """value's bytes as they were read. asn1crypto's dump() takes a header
    whose last byte is 0x80 for an indefinite length, and writes the value
    again in DER, in place: for a definite length such as 384 (82 01 80) its
    SETs come back sorted and bytes after a value inside its tag are dropped,
    so a signature over them no longer holds, and bytes hidden there go
    unseen. (A Choice keeps its chosen value's contents as its own.)"""
    if value._header is None:  # a value made, not read: a default's
        return value.dump()
    inner = encoded(value.chosen) if isinstance(value, core.Choice) else contents_read(value)
    return value._header + inner + value._trailer


def contents_read(value):
    """value's contents as they were read. A Sequence's contents property
    writes them again in DER, and drops the header read, once any part below
    it counts as changed, which a default asn1crypto makes for a field the
    signer left out does (a DigestAlgorithm's NULL parameters: OpenSSL 3.5's
    timestamps leave out ESSCertIDv2's default hash algorithm)."""
    return value._contents if isinstance(value, (core.Sequence, core.SequenceOf)) else value.contents


def table(data):
    """The certificate table's place and size, and the offsets of the two
    header fields Authenticode leaves out of its digest; an image with too
    few data directories for a certificate table has none, and no entry."""
    pe = pefile.PE(data=data, fast_load=True)
    checksum = pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
    index = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]
    if len(pe.OPTIONAL_HEADER.DATA_DIRECTORY) <= index:
        return 0, 0, checksum, None
    security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[index]
    return security.VirtualAddress, security.Size, checksum, security.get_file_offset()


def image_digest(data, algorithm):
    """The Authenticode digest of a PE image: every byte but the checksum,
    the certificate table's directory entry and the table."""
    at, size, checksum, entry = table(data)
    end = at if at and size else len(data)
    digest = hashlib.new(algorithm)
    view = memoryview(data)
    parts = ((0, checksum), (checksum + 4, entry), (entry + 8, end)) if entry else ((0, checksum), (checksum + 4, end))
    for start, stop in parts:
        for at in range(start, stop, CHUNK):
            digest.update(view[at:min(at + CHUNK, stop)])
            if isinstance(data, mmap.mmap):  # a large program on a medium: only a chunk of it in memory at once
                page = at - at % mmap.PAGESIZE
                data.madvise(mmap.MADV_DONTNEED, page, min(at + CHUNK, stop) - page)
    return digest.digest()


def unsigned(data):
    """The image as it was before it was signed: the table cut off, its
    directory entry and the checksum zeroed."""
    at, size, checksum, entry = table(data)
    image = bytearray(data[:at] if at and size else data)
    image[checksum:checksum + 4] = bytes(4)
    if entry:
        image[entry:entry + 8] = bytes(8)
    return bytes(image)


def same_image(linked, signed):
    """Whether a signed image, its signature removed, is the linked one byte
    for byte, but for the checksum and the zeros that align the table to 8
    bytes, as many as that takes."""
    stripped, expected = unsigned(signed), unsigned(linked)
    return stripped == expected + bytes(-len(expected) % 8)


def element_length(data):
    """The length of the ASN.1 element at the start of data, header (and an
    indefinite length's end) included, as asn1crypto's parser reads it; None
    where data holds none."""
    try:
        return parser.peek(bytes(data))
    except ValueError:  # asn1crypto's own, for bytes that are no element
        return None


def table_shape(data, at, size):
    """The first way the certificate table is not one signature, padded with
    zeros to 8 bytes, that ends the file; None when it is."""
    if at % 8 or at + size != len(data) or size < 8:
        return "a certificate table that does not end the file"
    length, revision, kind = struct.unpack_from("<IHH", data, at)
    signature = element_length(data[at + 8:at + size])
    if revision != 0x200 or kind != 2 or signature is None or 8 + signature > min(length, size):
        return "a certificate table that is not one PKCS#7 signature"
    padded = (8 + signature + 7) & ~7
    if size > padded or length > padded:
        return f"a certificate table that holds {max(size, length) - padded} bytes more than its signature"
    if bytes(data[at + 8 + signature:at + size]).strip(b"\0"):
        return "a certificate table whose signature is not padded with zeros to 8 bytes"
    return None


def subject(certificate):
    """A certificate's subject as OpenSSL writes it: /CN=.../O=..."""
    name = crypto_x509.load_der_x509_certificate(encoded(certificate)).subject
    return "".join(f"/{part.rfc4514_string()}" for part in name) or "no subject"


def unread(value, what, depth=0):
    """The first part of value that asn1crypto did not read whole into its
    definition, or None: a structure with more elements than its definition
    holds (which asn1crypto keeps unread), or a value of no known kind. How a SET is
    ordered and how a length is written are the signer's choice; what the
    bytes mean is not. A certificate is read whole by cryptography, strictly
    (subject(), issued_by()), as the signature over it demands."""
    if depth > NESTING_LIMIT:
        return f"{what} nested deeper than any signature is"
    if isinstance(value, core.Void):
        return None
    if not wrapped_alone(value):
        return f"bytes after a value inside its tag in {what}"
    if isinstance(value, x509.Certificate):
        return certificate_unread(value, what)
    if isinstance(value, core.Integer) and not minimal(value.contents):
        return f"an integer written with more bytes than its value takes in {what}"
    if isinstance(value, core.Any):
        try:  # an algorithm's absent parameters, as NULL
            return None if not value.parse(core.Null).contents else f"a value of no known kind in {what}"
        except ValueError:  # asn1crypto's own, for any other kind
            return f"a value of no known kind in {what}"
    if isinstance(value, core.Choice):
        return unread(value.chosen, what, depth + 1)
    if isinstance(value, (core.ParsableOctetString, core.ParsableOctetBitString)):
        if not value._parsed:
            return None
        try:  # the structure it holds, and nothing after it
            parser.parse(value.contents if isinstance(value, core.ParsableOctetString) else bytes(value), strict=True)
        except ValueError:  # asn1crypto's own: bytes after the structure
            return f"bytes after the structure an octet string holds in {what}"
        return unread(value._parsed[0], what, depth + 1)
    if isinstance(value, (core.Sequence, core.SequenceOf)):
        if isinstance(value, core.Sequence) and len(value) > len(value._fields):  # (len() reads the elements)
            return f"more elements than a {type(value).__name__} holds in {what}"
        parts = [value._lazy_child(index) for index in range(len(value))] if isinstance(value, core.Sequence) \
            else list(value)
        # Its bytes are its parts' and no more: asn1crypto reads the value
        # inside an explicit tag, of a definite or an indefinite length, and
        # leaves what follows it there unread, and unkept.
        if sum(len(encoded(part)) for part in parts if part._header is not None) != len(contents_read(value)):
            return f"bytes after a value inside its tag in {what}"
        return next((found for part in parts if (found := unread(part, what, depth + 1))), None)
    return None


def wrapped_alone(value):
    """Whether each explicit tag around value holds value and nothing more:
    asn1crypto reads the value inside a tag and leaves what follows it
    unread."""
    data = encoded(value)
    for _ in value.explicit or ():
        try:
            data = parser.parse(data, strict=True)[4]
        except ValueError:  # asn1crypto's own: the tag holds more than the value
            return False
    return not value.explicit or parser.peek(data) == len(data)


def minimal(contents):
    """Whether an integer's bytes are as few as its value takes, as every
    encoding of ASN.1 (BER too) asks: a version or a serial number holds no
    bytes of no meaning."""
    return len(contents) == 1 or not (contents[0] == 0 and contents[1] < 0x80
                                      or contents[0] == 0xFF and contents[1] >= 0x80)


def certificate_unread(certificate, what):
    """A certificate is read whole by cryptography, strictly, its extensions
    too (their values are read only when asked for); a self-issued one is
    also read by its own signature, as every other by its issuer's."""
    try:
        crypto_x509.load_der_x509_certificate(encoded(certificate)).extensions
    except ValueError:  # cryptography's own, for bytes no certificate holds
        return f"a certificate cryptography cannot read whole ({subject_of(certificate)}) in {what}"
    if same_name(certificate.subject, certificate.issuer) and not issued_by(certificate, certificate):
        return f"a self-issued certificate whose own signature does not hold ({subject_of(certificate)}) in {what}"
    return None


def subject_of(certificate):
    try:
        return subject(certificate)
    except ValueError:  # cryptography's own
        return "no subject it can read"


def same_name(name, other):
    """Whether two names are one, as asn1crypto compares them; a name of
    more bytes than any issuer's is none (asn1crypto prepares a name for
    comparison a character at a time)."""
    return encoded(name) == encoded(other) or (max(len(encoded(name)), len(encoded(other))) <= NAME_LIMIT
                                           and name == other)


def plain(algorithm):
    """Whether an algorithm's parameters are as osslsigncode writes them:
    none, or NULL (its length written as the signer chose)."""
    parameters = algorithm["parameters"]
    if isinstance(parameters, (core.Void, core.Null)):
        return not parameters.contents
    try:
        return isinstance(parameters, core.Any) and not parameters.parse(core.Null).contents
    except ValueError:  # asn1crypto's own, for parameters of another kind
        return False


def key_signed(key, signature, data, digest):
    """Whether key's signature over data holds, for an RSA or EC key."""
    try:
        if isinstance(key, rsa.RSAPublicKey):
            key.verify(signature, data, padding.PKCS1v15(), digest)
        elif isinstance(key, ec.EllipticCurvePublicKey):
            key.verify(signature, data, ec.ECDSA(digest))
        else:
            return False
    except InvalidSignature:
        return False
    return True


def issued_by(certificate, issuer):
    """Whether issuer's key signed certificate."""
    if not same_name(certificate.issuer, issuer.subject):
        return False
    try:
        child = crypto_x509.load_der_x509_certificate(encoded(certificate))
        key = crypto_x509.load_der_x509_certificate(encoded(issuer)).public_key()
        return key_signed(key, child.signature, child.tbs_certificate_bytes, child.signature_hash_algorithm)
    except (ValueError, UnsupportedAlgorithm):  # a certificate cryptography cannot read or check
        return False


def chain(certificates, leaf):
    """The leaf and each issuer above it among certificates, up to a
    self-issued one or the last found."""
    found = [leaf]
    while not same_name(found[-1].subject, found[-1].issuer):
        issuer = next((certificate for certificate in certificates if all(encoded(certificate) != encoded(known)
                       for known in found) and issued_by(found[-1], certificate)), None)
        if issuer is None:
            break
        found.append(issuer)
    return found


def certificates_shape(certificates, leaves, what):
    """The first certificate that is not in the leaves' chains, or is there
    twice; None when the certificates are exactly those chains."""
    used = {encoded(certificate) for leaf in leaves for certificate in chain(certificates, leaf)}
    held = [encoded(certificate) for certificate in certificates]
    for certificate, der in zip(certificates, held):
        if held.count(der) > 1:
            return f"the certificate {subject(certificate)} twice in {what}"
        if der not in used:
            return f"a certificate that is no part of the signer's chain ({subject(certificate)}) in {what}"
    return None


def signer_certificate(signed_data, signer):
    identifier = signer["sid"]
    for choice in signed_data["certificates"]:
        certificate = choice.chosen
        if identifier.name == "issuer_and_serial_number":
            if (same_name(certificate.issuer, identifier.chosen["issuer"])
                    and certificate.serial_number == identifier.chosen["serial_number"].native):
                return certificate
        elif certificate.key_identifier == identifier.chosen.native:
            return certificate
    return None


def signer_shape(signer, certificate, what):
    """The first way a signer's algorithms are not as osslsigncode writes
    them for its certificate's key, or None."""
    digest, algorithm = signer["digest_algorithm"], signer["signature_algorithm"]
    if not plain(digest) or not plain(algorithm):
        return f"algorithm parameters in {what}, where osslsigncode writes none or NULL"
    kind = certificate.public_key.algorithm
    if algorithm.signature_algo != SIGNATURE_OF_KEY.get(kind):
        return (f"a signature algorithm ({algorithm['algorithm'].native}) in {what} that is not its certificate's "
                f"key's ({KEY_NAMES.get(kind, kind)})")
    if algorithm["algorithm"].native != algorithm.signature_algo and algorithm.hash_algo != digest["algorithm"].native:
        return f"a signature algorithm ({algorithm['algorithm'].native}) in {what} of another digest than its own"
    return None


def signed_data_shape(signed_data, signer, leaves, what):
    """The first way a SignedData is not of the one signer and its chain
    (with leaves, the certificates that sign in it), or None."""
    signers, digests = signed_data["signer_infos"], signed_data["digest_algorithms"]
    if len(signers) != 1:
        return f"{len(signers)} signers in {what}"
    if len(signed_data["certificates"]) > CERTIFICATE_LIMIT:
        return f"{len(signed_data['certificates'])} certificates in {what}, more than any chain holds"
    if not isinstance(signed_data["crls"], core.Void):
        return f"revocation lists in {what}"
    if len(digests) != 1 or encoded(digests[0]) != encoded(signer["digest_algorithm"]):
        return f"digest algorithms in {what} other than its signer's one"
    if any(leaf is None for leaf in leaves):
        return f"a signer in {what} whose certificate it does not hold"
    # The versions say which forms the parts take: a signer named by issuer
    # and serial number is of version 1, by its key's identifier 3; the
    # SignedData is of version 1 (PKCS #7's, Authenticode's) or 3 (CMS's).
    if signer["version"].native != SIGNER_VERSIONS[signer["sid"].name] or signed_data["version"].native not in (
            "v1", "v3"):
        return f"a version in {what} that is not its parts' ({signed_data['version'].native}, " \
               f"{signer['version'].native})"
    return (signer_shape(signer, leaves[0], what)
            or certificates_shape([choice.chosen for choice in signed_data["certificates"]], leaves, what))


def attribute(attributes, name):
    for found in attributes:
        if found["type"].native == name:
            return found["values"][0]
    return None


def signature_holds(certificate, signer, signed):
    """Whether the signer's signature over signed holds for the key its
    certificate holds."""
    key = crypto_x509.load_der_x509_certificate(encoded(certificate)).public_key()
    return key_signed(key, signer["signature"].native, signed, HASHES[signer["digest_algorithm"]["algorithm"].native]())


def attributes_hold(certificate, signer, digest):
    """Whether signer's signed attributes hold digest as their message
    digest, under its signature."""
    signed_digest = attribute(signer["signed_attrs"], "message_digest")
    return (certificate is not None and signed_digest is not None and signed_digest.native == digest
            and signature_holds(certificate, signer, b"\x31" + encoded(signer["signed_attrs"])[1:]))


def unsigned_attributes(signer):
    return [] if isinstance(signer["unsigned_attrs"], core.Void) else list(signer["unsigned_attrs"])


def rfc3161(value, signer):
    """An RFC 3161 token: its time, its authority, whether it stamps this
    signer's signature and its authority's signature holds, and its shape."""
    token = cms.ContentInfo.load(encoded(value))
    signed_data = token["content"]
    content = signed_data["encap_content_info"]["content"]
    info_der = content.contents if isinstance(content, core.ParsableOctetString) else encoded(content)
    info = tsp.TSTInfo.load(info_der)
    stamp = signed_data["signer_infos"][0]
    authority = signer_certificate(signed_data, stamp)
    imprint = info["message_imprint"]
    try:
        shape = (("a timestamp token of another kind than RFC 3161's"
                     if signed_data["encap_content_info"]["content_type"].native != "tst_info" else None)
                 or ("algorithm parameters in the timestamp's imprint" if not plain(imprint["hash_algorithm"])
                     else None)
                 or signed_data_shape(signed_data, stamp, [authority], "the timestamp token")
                 or ("an unsigned attribute in the timestamp token" if unsigned_attributes(stamp) else None)
                 or unread(token, "the timestamp token"))
    except Exception as error:  # as in read_cms, for a part the time does not need
        shape = f"a timestamp token whose parts cannot be read ({type(error).__name__})"
    stamps = hashlib.new(imprint["hash_algorithm"]["algorithm"].native, signer["signature"].native).digest() \
        == imprint["hashed_message"].native
    holds = attributes_hold(authority, stamp, hashlib.new(stamp["digest_algorithm"]["algorithm"].native,
                                                          info_der).digest())
    return {"time": info["gen_time"].native, "certificate": authority, "stamps": stamps, "holds": holds,
            "chain": [encoded(choice.chosen) for choice in signed_data["certificates"]], "shape": shape}


def countersignature(value, signed_data, signer):
    """An Authenticode countersignature: as rfc3161(), its certificates in
    the signature's own."""
    stamp = cms.SignerInfo.load(encoded(value))
    authority = signer_certificate(signed_data, stamp)
    digest = hashlib.new(stamp["digest_algorithm"]["algorithm"].native, signer["signature"].native).digest()
    signed_time = attribute(stamp["signed_attrs"], "signing_time")
    shape = (("a countersignature without a signing time" if signed_time is None else None)
             or ("a countersigner whose certificate the signature does not hold" if authority is None else None)
             or ("an unsigned attribute in the countersignature" if unsigned_attributes(stamp) else None)
             or signer_shape(stamp, authority, "the countersignature"))
    signed_digest = attribute(stamp["signed_attrs"], "message_digest")
    return {"time": signed_time.native if signed_time is not None else None, "certificate": authority,
            "stamps": signed_digest is not None and signed_digest.native == digest,
            "holds": attributes_hold(authority, stamp, digest),
            "chain": [encoded(choice.chosen) for choice in signed_data["certificates"]], "shape": shape}


def attributes_shape(signer, nested):
    """The first way a signer's attributes are not an Authenticode signer's,
    or None: at most one timestamp besides, and no nested signature (whose
    signers are nested)."""
    signed = signer["signed_attrs"]
    kinds = [found["type"].dotted for found in signed]
    shape = [f"a signed attribute of type {kind}, which Authenticode signers do not write"
             for kind in kinds if kind not in SIGNED_ATTRIBUTES]
    shape += [f"the signed attribute '{SIGNED_ATTRIBUTES[kind]}' {kinds.count(kind)} times"
              for kind in sorted(set(kinds)) if kind in SIGNED_ATTRIBUTES and kinds.count(kind) > 1]
    shape += [f"no signed attribute '{SIGNED_ATTRIBUTES[kind]}'" for kind in list(SIGNED_ATTRIBUTES)[:2]
              if kind not in kinds]
    shape += [f"a signed attribute with {len(found['values'])} values" for found in signed if len(found["values"]) != 1]
    unsigned_found = unsigned_attributes(signer)
    shape += [f"a nested signature by {nested[0]}"] if nested else []
    shape += [f"{KNOWN_UNSIGNED.get(found['type'].dotted, 'an unsigned attribute')} (type {found['type'].dotted})"
              for found in unsigned_found if found["type"].dotted not in TIMESTAMPS]
    stamps = [found for found in unsigned_found if found["type"].dotted in TIMESTAMPS]
    if len(stamps) > 1 or any(len(found["values"]) != 1 for found in stamps):
        shape.append("more than one timestamp")
    return shape[0] if shape else None


def nested_signers(signer):
    """The subjects of the nested signatures' signers."""
    found = []
    for attribute_found in unsigned_attributes(signer):
        if attribute_found["type"].dotted == "1.3.6.1.4.1.311.2.4.1":
            for value in attribute_found["values"]:
                nested = cms.ContentInfo.load(encoded(value))["content"]
                certificate = signer_certificate(nested, nested["signer_infos"][0])
                found.append(subject(certificate) if certificate else "no signer")
    return found


def read(data):
    """What a program's signature is: a dict with 'signed'; for a signed
    program also what read_cms() reports, its shape including the table's."""
    at, size, _, _ = table(data)
    if not at and not size:
        return {"signed": False}
    length = element_length(data[at + 8:at + size]) or 0
    report = read_cms(bytes(data[at + 8:at + 8 + min(length, size)]), lambda algorithm: image_digest(data, algorithm))
    report["shape"] = table_shape(data, at, size) or report["shape"]
    return report


def read_cms(der, digest_of=None):
    """A signature's 'shape' (None, or the first way it is not the accepted
    one), 'broken' (None, or why the file is not what was signed; the file's
    own digest is judged where digest_of gives it), 'signer', 'key' (the
    kind of the signer's certificate's key), 'digest', 'not_after',
    'nested' (the nested signers' subjects), 'certificates' and
    'signer_certificate' (DER), and 'timestamp': None, or its 'kind',
    'time', 'authority' (a subject), 'certificate' (as asn1crypto reads
    it) and 'chain' (DER). A timestamp that does not stamp this signature,
    or whose authority's signature does not hold, breaks the signature."""
    report = {"signed": True, "shape": None, "broken": None, "signer": "no signer", "key": "unknown", "digest": None,
              "not_after": None, "timestamp": None, "nested": [], "certificates": [], "signer_certificate": None}
    try:
        content = cms.ContentInfo.load(der, strict=True)
        if content["content_type"].native != "signed_data":
            raise ValueError("no SignedData")
        signed_data = content["content"]
        report["certificates"] = [encoded(choice.chosen) for choice in signed_data["certificates"]]
        if signed_data["encap_content_info"]["content_type"].dotted != SPC_INDIRECT_DATA:
            raise ValueError("no Authenticode content")
        signer = signed_data["signer_infos"][0]
        certificate = signer_certificate(signed_data, signer)
        if certificate is not None:
            report["signer"] = subject(certificate)
            report["signer_certificate"] = encoded(certificate)
            report["not_after"] = certificate.not_valid_after
            report["key"] = KEY_NAMES.get(certificate.public_key.algorithm, certificate.public_key.algorithm)
        report["digest"] = signer["digest_algorithm"]["algorithm"].native
        encapsulated = encoded(signed_data["encap_content_info"]["content"])
        indirect = SpcIndirectDataContent.load(encapsulated, explicit=0)
        stamps = [found for found in unsigned_attributes(signer) if found["type"].dotted in TIMESTAMPS]
        stamp = kind = None
        if stamps:
            kind = TIMESTAMPS[stamps[0]["type"].dotted]
            value = stamps[0]["values"][0]
            stamp = rfc3161(value, signer) if kind == "RFC 3161" else countersignature(value, signed_data, signer)
            report["timestamp"] = dict(stamp, kind=kind, authority=subject(stamp["certificate"])
                                       if stamp["certificate"] is not None else "no certificate it holds")
        # The file is what was signed: the content's digest is the image's,
        # the signed attributes hold the content's digest, and the signature
        # over them holds for the signer's key.
        algorithm = indirect["message_digest"]["digest_algorithm"]["algorithm"].native
        signed_digest = attribute(signer["signed_attrs"], "message_digest")
        if digest_of and indirect["message_digest"]["digest"].native != digest_of(algorithm):
            report["broken"] = "the file is not what was signed"
        elif signed_digest is None or signed_digest.native != hashlib.new(report["digest"], contents_read(indirect)).digest():
            report["broken"] = "the signed attributes are not of this content"
        elif certificate is None:
            report["broken"] = "the signature names no certificate it holds"
        elif not signature_holds(certificate, signer, b"\x31" + encoded(signer["signed_attrs"])[1:]):
            report["broken"] = "the signer's signature does not hold"
        elif stamp and not stamp["stamps"]:
            report["broken"] = "its timestamp is for another signature"
        elif stamp and not stamp["holds"]:
            report["broken"] = "its timestamp's authority's signature does not hold"
    except Exception as error:  # asn1crypto's, cryptography's or hashlib's, for what a hostile file holds
        report["shape"] = "a signature that is no Authenticode SignedData"
        report["broken"] = report["broken"] or f"it cannot be read ({type(error).__name__})"
        return report
    try:
        report["nested"] = nested_signers(signer)
        leaves = [certificate] + ([stamp["certificate"]] if kind == "Authenticode" else [])
        report["shape"] = (attributes_shape(signer, report["nested"])
                           or signed_data_shape(signed_data, signer, leaves, "the signature")
                           or ("a content digest of another algorithm than its signer's"
                               if encoded(indirect["message_digest"]["digest_algorithm"])
                               != encoded(signer["digest_algorithm"]) else None)
                           or (stamp and stamp["shape"])
                           or unread(content, "the signature"))
    except Exception as error:  # the same, in a part the digest does not need
        report["shape"] = f"a signature whose parts cannot be read ({type(error).__name__})"
    return report


def build_shape(report, data):
    """The first way a signed launcher is not what the build writes, or
    None: the accepted shape, a SHA-256 digest, and the PE checksum the
    signing tool writes (so the signature alone, attached to the unsigned
    build, gives the file). A broken signature is reported as broken, not
    by the checksum its change left."""
    if report["shape"] or report["broken"]:
        return report["shape"]
    if report["digest"] != BUILD_DIGEST:
        return f"{DIGEST_NAMES.get(report['digest'], 'another')} digest (the build's is SHA-256)"
    pe = pefile.PE(data=data, fast_load=True)
    if pe.OPTIONAL_HEADER.CheckSum != pe.generate_checksum():
        return "a PE checksum that is not the file's"
    return None


def read_program(path):
    """read() for any program on a medium, read where it lies: an .msi
    keeps its signature in a stream that osslsigncode takes out, and its own
    digest is not judged here; a file that is no PE image has no signature
    either."""
    if path.lower().endswith(".msi"):
        with tempfile.TemporaryDirectory() as work:
            der = os.path.join(work, "signature.der")
            if subprocess.run(["osslsigncode", "extract-signature", "-in", path, "-out", der],
                              capture_output=True).returncode or not os.path.isfile(der):
                return {"signed": False}
            with open(der, "rb") as file:
                return read_cms(file.read())
    with open(path, "rb") as file:
        if not os.fstat(file.fileno()).st_size:
            return {"signed": False}
        with mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ) as data:
            try:
                return read(data)
            except pefile.PEFormatError:
                return {"signed": False}


def pem(certificates):
    return "".join(crypto_x509.load_der_x509_certificate(der).public_bytes(Encoding.PEM).decode()
                   for der in certificates)


def chain_fault(certificate, chain_found, roots, purpose, moment):
    """Why certificate (DER) does not chain to one of the roots (PEM files)
    through chain_found, for purpose, as at moment, as OpenSSL's verify says
    it; None when it does. It fetches nothing: no CRL, no issuer."""
    with tempfile.TemporaryDirectory() as work:
        files = {name: os.path.join(work, name) for name in ("chain.pem", "roots.pem", "leaf.pem")}
        with open(files["chain.pem"], "w") as out:
            out.write(pem(chain_found))
        with open(files["leaf.pem"], "w") as out:
            out.write(pem([certificate]))
        with open(files["roots.pem"], "w") as out:
            for roots_file in roots:
                if roots_file and os.path.isfile(roots_file):
                    with open(roots_file) as text:
                        out.write(text.read())
        said = subprocess.run(["openssl", "verify", "-CAfile", files["roots.pem"], "-untrusted", files["chain.pem"],
                               "-purpose", purpose, "-attime", str(int(moment.timestamp())), files["leaf.pem"]],
                              capture_output=True, text=True, errors="replace")
    if said.returncode == 0:
        return None
    reason = re.search(r"^error \d+ at \d+ depth lookup: (.*)$", said.stdout + said.stderr, re.M)
    return reason.group(1) if reason else "OpenSSL's verify fails"


def authority_trusted(report, roots=(SYSTEM_ROOTS,)):
    """Whether the signature's timestamp holds, stamps it, and its
    authority's certificate is for time-stamping and chains to one of the
    roots, as at its time: only then is its time more than its word."""
    stamp = report.get("timestamp")
    if not stamp or report["broken"] or stamp["time"] is None or stamp["certificate"] is None:
        return False
    return chain_fault(encoded(stamp["certificate"]), stamp["chain"], roots, "timestampsign", stamp["time"]) is None


def judged_at(report, authority_roots=(SYSTEM_ROOTS,)):
    """When a signer's certificate is judged: at its timestamp's time where
    authority_trusted(), else now."""
    if authority_trusted(report, authority_roots):
        return report["timestamp"]["time"]
    return datetime.datetime.now(datetime.timezone.utc)


def signer_fault(report, roots=(SYSTEM_ROOTS,), moment=None):
    """Why the signer's certificate is not one for code signing (no extended
    key usage, or one that names it) that chains to one of the roots, as at
    moment (now by default); None when it is."""
    certificate = report.get("signer_certificate")
    if certificate is None:
        return "no certificate"
    usage = x509.Certificate.load(certificate).extended_key_usage_value
    if usage is not None and not CODE_SIGNING & set(usage.native):
        return "its certificate is not for code signing"
    return chain_fault(certificate, report["certificates"], roots, "any",
                       moment or datetime.datetime.now(datetime.timezone.utc))
