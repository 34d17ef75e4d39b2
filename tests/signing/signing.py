#!/usr/bin/python3
"""Signed releases, made as a release manager would: a throwaway CA, a code-signing
certificate and a time-stamping authority made with openssl, a build of the program
configured with TW_SIGN_PKCS12, TW_SIGN_PASSWORD_FILE and TW_SIGN_TIMESTAMP_URL (the
authority answers on the loopback address), and its packages made by cpack.

Every signed file (Tarnwick.exe, the installer, the uninstaller it writes, the MSI)
must verify with osslsigncode against that CA, time stamp included, and fail against
another CA; the exe in each package, taken out as the README says (zip, 7z,
msiextract), must be the signed one; and the signed exe without its signature must be
the unsigned build's exe byte for byte. The uninstaller exists only once the
installer has run: it is installed under Wine.

The signed build is made in <build>/signing with the unsigned build's time stamp
(SOURCE_DATE_EPOCH), so the two differ by the signature alone."""

import argparse
import http.server
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[2]
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, str(SOURCE / "tests" / "e2e"))
import harness  # noqa: E402
from harness import TestFailure, check, run_to_end  # noqa: E402

SKIP = 77
PASSWORD = "a pass phrase\n"  # with a blank and the newline an editor adds
DIR_SECURITY = 4

CERT_EXTENSIONS = """\
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[signer]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[tsa]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[tsa_section]
default_tsa = tsa_config
[tsa_config]
serial = {serial}
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256
accuracy = secs:1
ess_cert_id_alg = sha256
"""


def pe_header(data):
    """(time stamp, size of the certificate table) of a PE file."""
    check(data[:2] == b"MZ", "no MZ header")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    check(data[pe:pe + 4] == b"PE\0\0", "no PE signature")
    stamp = struct.unpack_from("<I", data, pe + 8)[0]
    optional = pe + 24
    check(struct.unpack_from("<H", data, optional)[0] == 0x20B, "not a PE32+ file")
    directories = optional + 112
    _, size = struct.unpack_from("<II", data, directories + 8 * DIR_SECURITY)
    return stamp, size


class Step:
    """Runs tools to their end, output in <work>/logs, a deadline each."""

    def __init__(self, work):
        self.logs = work / "logs"
        self.logs.mkdir(parents=True, exist_ok=True)
        self.count = 0

    def __call__(self, *args, timeout=120, env=None, cwd=None, expect=0):
        self.count += 1
        name = f"{self.count:02d}-{Path(str(args[0])).name}"
        ran = run_to_end(args, self.logs / f"{name}.out", self.logs / f"{name}.err", env=env, cwd=cwd,
                         timeout=timeout)
        if expect is not None and (ran.code == 0) != (expect == 0):
            said = (ran.out + ran.err).decode("utf-8", "replace").strip()
            raise TestFailure(f"{' '.join(map(str, args))}: exit {ran.code}: {said[-3000:]}")
        return ran


def make_pki(step, folder):
    """A CA, a code-signing certificate in a PKCS#12 file, its password file, a
    time-stamping certificate, and a second, unrelated CA."""
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    config = folder / "openssl.cnf"
    config.write_text(CERT_EXTENSIONS.format(serial=folder / "tsa.serial"))
    (folder / "tsa.serial").write_text("01\n")
    for ca, name in [("ca", "Tarnwick Test CA"), ("other-ca", "Unrelated Test CA")]:
        step("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", folder / f"{ca}.key",
             "-out", folder / f"{ca}.crt", "-days", "2", "-subj", f"/CN={name}", "-config", config,
             "-extensions", "ca")
    for leaf, name in [("signer", "Morvane Test Signer"), ("tsa", "Tarnwick Test Time Stamps")]:
        step("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", folder / f"{leaf}.key",
             "-out", folder / f"{leaf}.csr", "-subj", f"/CN={name}", "-config", config)
        step("openssl", "x509", "-req", "-in", folder / f"{leaf}.csr", "-CA", folder / "ca.crt",
             "-CAkey", folder / "ca.key", "-CAcreateserial", "-days", "2", "-extfile", config,
             "-extensions", leaf, "-out", folder / f"{leaf}.crt")
    password = folder / "password.txt"
    password.write_text(PASSWORD)
    step("openssl", "pkcs12", "-export", "-inkey", folder / "signer.key", "-in", folder / "signer.crt",
         "-passout", f"file:{password}", "-out", folder / "signer.p12")
    return folder / "signer.p12", password


class TimeStamps(http.server.ThreadingHTTPServer):
    """An RFC 3161 time-stamping authority on the loopback address: openssl ts -reply
    answers each request."""

    def __init__(self, pki):
        super().__init__(("127.0.0.1", 0), TimeStampHandler)
        self.pki = pki
        self.errors = []
        self.lock = threading.Lock()

    @property
    def url(self):
        return f"http://127.0.0.1:{self.server_address[1]}/"


class TimeStampHandler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        pki = self.server.pki
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with self.server.lock, tempfile.TemporaryDirectory() as tmp:
            (Path(tmp) / "query.tsq").write_bytes(query)
            ran = subprocess.run(
                ["openssl", "ts", "-reply", "-config", pki / "openssl.cnf", "-section", "tsa_config",
                 "-queryfile", Path(tmp) / "query.tsq", "-inkey", pki / "tsa.key", "-signer", pki / "tsa.crt",
                 "-chain", pki / "ca.crt", "-out", Path(tmp) / "reply.tsr"],
                stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
            reply = (Path(tmp) / "reply.tsr").read_bytes() if ran.returncode == 0 else b""
            if not reply:
                self.server.errors.append(ran.stderr.decode("utf-8", "replace"))
        self.send_response(200 if reply else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *_):
        pass


def build_signed(step, work, pki, stamps, epoch):
    """Configures and builds the program signed, then makes the packages."""
    p12, password = pki
    tree = work / "build"
    cache = tree / "CMakeCache.txt"
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(epoch))
    step("cmake", "-S", SOURCE, "-B", tree, "-G", "Ninja",
         f"-DCMAKE_TOOLCHAIN_FILE={SOURCE / 'cmake' / 'mingw-w64-x86_64.cmake'}", "-DCMAKE_BUILD_TYPE=Release",
         f"-DTW_SIGN_PKCS12={p12}", f"-DTW_SIGN_PASSWORD_FILE={password}",
         f"-DTW_SIGN_TIMESTAMP_URL={stamps.url}", env=env, timeout=300)
    check(cache.is_file(), f"{cache} is missing")
    # The key is new at every run: the program is linked, and so signed, anew.
    (tree / "Tarnwick.exe").unlink(missing_ok=True)
    step("cmake", "--build", tree, "--target", "Tarnwick", env=env, timeout=1200)
    packages = work / "packages"
    shutil.rmtree(packages, ignore_errors=True)
    step("cpack", "--config", tree / "CPackConfig.cmake", "-B", packages, env=env, timeout=300)
    return tree / "Tarnwick.exe", packages


def verify(step, path, pki):
    """Checks the signature against the test CA, with its time stamp, and that
    another CA does not vouch for it."""
    ran = step("osslsigncode", "verify", "-CAfile", pki / "ca.crt", "-TSA-CAfile", pki / "ca.crt",
               "-in", path, expect=None)
    said = (ran.out + ran.err).decode("utf-8", "replace")
    check(ran.code == 0, f"{path.name}: the signature does not verify: {said[-3000:]}")
    check("Timestamp Server Signature verification: ok" in said, f"{path.name}: no valid time stamp: {said[-3000:]}")
    ran = step("osslsigncode", "verify", "-CAfile", pki / "other-ca.crt", "-TSA-CAfile", pki / "other-ca.crt",
               "-in", path, expect=None)
    check(ran.code != 0, f"{path.name}: verified against an unrelated CA too")


def exes_in_packages(step, packages, version, out):
    """Tarnwick.exe as the README has it taken out of each package: {package: bytes}."""
    found = {}
    for kind in ("portable.zip", "setup.exe"):
        package = packages / f"Tarnwick-{version}-win64-{kind}"
        step("7z", "x", "-y", f"-o{out / kind}", package, "Tarnwick.exe")
        found[package.name] = (out / kind / "Tarnwick.exe").read_bytes()
    msi = packages / f"Tarnwick-{version}-win64.msi"
    step("msiextract", "-C", out / "msi", msi)
    found[msi.name] = (out / "msi" / "Tarnwick" / "Tarnwick.exe").read_bytes()
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True, help="the unsigned build directory")
    args, _ = parser.parse_known_args()
    build = Path(args.build).resolve()
    unsigned = (build / "Tarnwick.exe").read_bytes()
    epoch, table = pe_header(unsigned)
    if table:
        print(f"{build / 'Tarnwick.exe'} is signed itself: there is no unsigned build to compare with")
        return SKIP
    for tool in ("osslsigncode", "openssl", "7z", "msiextract", "wixl", "makensis"):
        check(shutil.which(tool), f"{tool} is missing (scripts/bootstrap.sh installs it)")
    version = next(line.split(" VERSION ")[1].split()[0] for line in (SOURCE / "CMakeLists.txt").read_text().splitlines()
                   if line.startswith("project(") and " VERSION " in line)

    work = build / "signing"
    step = Step(work)
    shutil.rmtree(step.logs, ignore_errors=True)
    step.logs.mkdir(parents=True)
    pki_files = make_pki(step, work / "pki")
    pki = work / "pki"
    stamps = TimeStamps(pki)
    server = threading.Thread(target=stamps.serve_forever, daemon=True)
    server.start()
    try:
        signed_exe, packages = build_signed(step, work, pki_files, stamps, epoch)
    finally:
        stamps.shutdown()
    check(not stamps.errors, f"the time-stamping authority failed: {stamps.errors[-1:]}")

    out = work / "extracted"
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir()
    signed = signed_exe.read_bytes()

    def files_verify(_session):
        made = sorted(p.name for p in packages.iterdir() if p.is_file())
        names = [f"Tarnwick-{version}-win64{end}" for end in ("-portable.zip", "-setup.exe", ".msi")]
        check(made == names, f"cpack made {made}")
        for path in [signed_exe, packages / names[1], packages / names[2]]:
            verify(step, path, pki)
        for package, exe in exes_in_packages(step, packages, version, out).items():
            check(exe == signed, f"the Tarnwick.exe in {package} is not the signed build's")

    def signature_removed_gives_unsigned(_session):
        stripped = out / "stripped.exe"
        stripped.unlink(missing_ok=True)
        step("osslsigncode", "remove-signature", "-in", signed_exe, "-out", stripped)
        check(stripped.read_bytes() == unsigned,
              "the signed Tarnwick.exe without its signature is not the unsigned build's")

    def uninstaller_signed(s):
        setup = s.prefix / "drive_c" / "setup.exe"
        shutil.copyfile(packages / f"Tarnwick-{version}-win64-setup.exe", setup)
        code = s.wine_command_line(r"C:\setup.exe", "/S", r"/D=C:\Signed Tarnwick")
        check(code == 0, f"the signed setup: exit code {code}")
        installed = s.prefix / "drive_c" / "Signed Tarnwick"
        check((installed / "Tarnwick.exe").read_bytes() == signed, "the installed Tarnwick.exe is not the signed one")
        verify(step, installed / "Uninstall.exe", pki)

    cases = [
        ("every signed file verifies against the test CA, and each package holds the signed exe", files_verify),
        ("the signed exe without its signature is the unsigned build's", signature_removed_gives_unsigned),
        ("the installer writes a signed uninstaller", uninstaller_signed),
    ]
    return harness.run("signing", cases)


if __name__ == "__main__":
    try:
        sys.exit(main())
    except TestFailure as failure:
        print(f"FAIL {failure}", flush=True)
        sys.exit(1)
