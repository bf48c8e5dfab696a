#!/usr/bin/python3
"""Checks of ./scripts/release, run in a fresh copy of the source tree (so dist/ of the work tree is left alone).

A throwaway CA and code-signing certificates are made with openssl for the run; no key is kept. Checks: the
unsigned release (files, checksums, return codes, the same program as build/win32), the signed one (verified
against the CA, a flipped byte caught, still passing the static checks, nothing changed but the signature),
the refusals (wrong password, missing files, expired certificate: one line, no dist/), and a signed x86_64
launcher under Wine in the typical end-to-end scenario.

Usage: python3 -m tests.release.release_test [--skip-wine]. Ends with "release checks: N passed, M failed".
"""
import json
import os
import secrets
import subprocess
import sys
import tempfile
from pathlib import Path

import pefile

from testkit.source_tree import ROOT, copy_source_tree

PROGRAM = "Orvane.Launcher.exe"
# What Intune must get: Windows Installer's defaults, and each of the launcher's own codes as a failure.
EXPECTED_CODES = {0: "success", 1707: "success", 3010: "softReboot", 1641: "hardReboot", 1618: "retry",
                  2: "failed", 3: "failed", 5: "failed", 258: "failed", -1: "failed", -1073740791: "failed"}
SIGN_URL = "https://example.invalid/orvane"
results = []


def check(name, problems):
    """One check: passes when `problems` (a list of texts) is empty."""
    results.append(not problems)
    print(("PASS " if not problems else "FAIL ") + name)
    for problem in problems:
        print("    " + problem)


def run(command, cwd=None, env=None):
    return subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True)


def openssl(work, *arguments):
    done = run(["openssl", *arguments], cwd=work)
    if done.returncode != 0:
        sys.exit(f"openssl {' '.join(arguments)} failed: {done.stderr}")


def make_certificates(work, password_file):
    """A CA, and PKCS#12 files of a valid and an expired code-signing certificate issued by it."""
    openssl(work, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
            "-days", "2", "-subj", "/CN=Orvane Release Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign")
    openssl(work, "req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-out", "signer.csr",
            "-subj", "/CN=Orvane Release Test Signer")
    (work / "signer.ext").write_text("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                                     "extendedKeyUsage=codeSigning\n")
    for name, days in (("valid", "1"), ("expired", "-1")):
        openssl(work, "x509", "-req", "-in", "signer.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                "-days", days, "-extfile", "signer.ext", "-out", name + ".pem")
        openssl(work, "pkcs12", "-export", "-inkey", "signer.key", "-in", name + ".pem", "-certfile", "ca.pem",
                "-passout", "file:" + str(password_file), "-out", name + ".p12")


def release(tree, **signing):
    env = {k: v for k, v in os.environ.items() if not k.startswith("ORVANE_SIGN_")}
    env.update({k: str(v) for k, v in signing.items()})
    done = run(["./scripts/release"], cwd=tree, env=env)
    return done.returncode, (done.stdout + done.stderr).splitlines()


def checksum_problems(dist):
    done = run(["sha256sum", "--strict", "-c", "SHA256SUMS"], cwd=dist)
    covered = {line.split("  ", 1)[1] for line in (dist / "SHA256SUMS").read_text().splitlines()}
    problems = [] if done.returncode == 0 else ["sha256sum -c: " + done.stdout + done.stderr]
    if covered != {p.name for p in dist.iterdir()} - {"SHA256SUMS"}:
        problems.append(f"SHA256SUMS covers {sorted(covered)}")
    return problems


def verify(program, ca):
    done = run(["osslsigncode", "verify", "-CAfile", str(ca), "-in", str(program)])
    return done.returncode == 0, done.stdout + done.stderr


def check_unsigned(tree):
    status, output = release(tree)
    dist = tree / "dist"
    problems = [] if status == 0 else [f"exit status {status}: {output}"]
    if status == 0:
        if sum("unsigned" in line for line in output) != 1:
            problems.append(f"not one line saying it is unsigned: {output}")
        names = sorted(p.name for p in dist.iterdir())
        if names != sorted([PROGRAM, "SHA256SUMS", "deploy.md", "intune-return-codes.json"]):
            problems.append(f"dist/ holds {names}")
        problems += checksum_problems(dist)
        if (dist / "deploy.md").read_bytes() != (ROOT / "docs" / "deploy.md").read_bytes():
            problems.append("dist/deploy.md is not docs/deploy.md")
        built = ROOT / "build" / "win32" / PROGRAM
        if not built.exists() or built.read_bytes() != (dist / PROGRAM).read_bytes():
            problems.append(f"dist/{PROGRAM} is not byte-identical to {built}")
        version = pefile.PE(str(dist / PROGRAM)).FileInfo[0]
        texts = {k.decode(): v.decode() for info in version if info.Key == b"StringFileInfo"
                 for table in info.StringTable for k, v in table.entries.items()}
        if not any(f" {texts.get('FileVersion')} " in line for line in output):
            problems.append(f"the release names another version than FileVersion {texts.get('FileVersion')}")
    check("unsigned release: the four files, checksums, the build's program and version", problems)
    if status != 0:
        return None
    try:
        seen = sorted((entry["returnCode"], entry["type"])
                      for entry in json.loads((dist / "intune-return-codes.json").read_text()))
        problems = [] if seen == sorted(EXPECTED_CODES.items()) else [f"return codes {seen}"]
    except (ValueError, KeyError, TypeError) as error:
        problems = [f"not the expected JSON: {error!r}"]
    check("intune-return-codes.json: each code once, with its type", problems)
    return (dist / PROGRAM).read_bytes()


def check_signed(tree, certificates, password_file, unsigned):
    status, output = release(tree, ORVANE_SIGN_PKCS12=certificates / "valid.p12",
                             ORVANE_SIGN_PASSWORD_FILE=password_file, ORVANE_SIGN_URL=SIGN_URL)
    dist = tree / "dist"
    signed = dist / PROGRAM
    if status != 0:
        check("signed release", [f"exit status {status}: {output}"])
        return
    problems = checksum_problems(dist)
    accepted, report = verify(signed, certificates / "ca.pem")
    if not accepted:
        problems.append("osslsigncode verify refused it: " + report[-400:])
    for expected in ("Message digest algorithm  : SHA256", "Text description: Orvane Launcher",
                     "URL description: " + SIGN_URL):
        if expected not in report:
            problems.append(f"no '{expected}' in the signature")
    pe = pefile.PE(str(signed))
    if pe.OPTIONAL_HEADER.CheckSum == 0 or pe.OPTIONAL_HEADER.CheckSum != pe.generate_checksum():
        problems.append(f"PE checksum {pe.OPTIONAL_HEADER.CheckSum:#x}, computed {pe.generate_checksum():#x}")
    stripped = tree / "stripped.exe"
    run(["osslsigncode", "remove-signature", "-in", str(signed), "-out", str(stripped)])
    if not stripped.exists() or stripped.read_bytes() != unsigned:
        problems.append("without its signature it is not the unsigned program")
    if password_file.read_text().strip() in "\n".join(output):
        problems.append("the password shows in the output")
    check("signed release: verified against the CA, SHA-256, name and URL, PE checksum, only the signature added",
          problems)

    flipped = tree / "flipped.exe"
    data = bytearray(signed.read_bytes())
    data[len(unsigned) // 2] ^= 0x01  # in the code, well before the signature
    flipped.write_bytes(bytes(data))
    accepted, _ = verify(flipped, certificates / "ca.pem")
    check("one flipped byte fails verification", ["verification accepted it"] if accepted else [])

    static = run([sys.executable, "-m", "tests.static.check_product", str(signed)], cwd=ROOT)
    check("signed program passes the static checks", [] if static.returncode == 0 else [static.stdout[-1500:]])


def check_refusals(tree, certificates, password_file):
    wrong = certificates / "wrong-password"
    wrong.write_text("not-" + password_file.read_text())
    cases = [
        ("wrong password", certificates / "valid.p12", wrong),
        ("missing certificate file", certificates / "absent.p12", password_file),
        ("missing password file", certificates / "valid.p12", certificates / "absent-password"),
        ("expired certificate", certificates / "expired.p12", password_file),
    ]
    (tree / "dist").mkdir(exist_ok=True)  # a release from before must not survive a failed one either
    for name, pkcs12, passwords in cases:
        status, output = release(tree, ORVANE_SIGN_PKCS12=pkcs12, ORVANE_SIGN_PASSWORD_FILE=passwords)
        failures = {"exit status 0": status == 0, f"not one line: {output}": len(output) != 1
                    or not output[0].startswith("release: "), "dist/ exists": (tree / "dist").exists(),
                    "the password shows in the output": password_file.read_text().strip() in "\n".join(output)}
        check(f"refused, one line, no dist/: {name}", [problem for problem, failed in failures.items() if failed])


def check_under_wine(work, certificates, password_file):
    """The signed x86_64 twin in the typical end-to-end scenario, which the unsigned one passes in the e2e stage."""
    signed = work / PROGRAM
    done = run(["osslsigncode", "sign", "-pkcs12", str(certificates / "valid.p12"), "-readpass", str(password_file),
                "-h", "sha256", "-n", "Orvane Launcher", "-in", str(ROOT / "build" / "win64" / PROGRAM),
                "-out", str(signed)])
    problems = [] if done.returncode == 0 else ["signing the x86_64 launcher failed: " + done.stdout + done.stderr]
    if not problems:
        e2e = run([sys.executable, "-m", "pytest", "-q", "-k", "win64-typical_run_record",
                   "--junitxml=build/test-logs/release-e2e.xml"], cwd=ROOT,
                  env=dict(os.environ, ORVANE_E2E_LAUNCHER=str(signed)))
        if e2e.returncode != 0:
            problems.append(e2e.stdout[-1500:] + e2e.stderr[-500:])
    check("signed x86_64 launcher under Wine: the typical run's exit code, log and tool call", problems)


def main():
    with tempfile.TemporaryDirectory(prefix="orvane-release-") as temporary:
        work = Path(temporary)
        certificates = work / "certificates"
        certificates.mkdir()
        password_file = certificates / "password"
        password_file.write_text(secrets.token_hex(12) + "\n")
        make_certificates(certificates, password_file)
        tree = work / "tree"
        copy_source_tree(tree)
        unsigned = check_unsigned(tree)
        if unsigned is not None:
            check_signed(tree, certificates, password_file, unsigned)
        check_refusals(tree, certificates, password_file)
        if "--skip-wine" not in sys.argv:
            check_under_wine(work, certificates, password_file)
    print(f"release checks: {results.count(True)} passed, {results.count(False)} failed")
    sys.exit(0 if all(results) else 1)


if __name__ == "__main__":
    main()
