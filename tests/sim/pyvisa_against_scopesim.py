#!/usr/bin/env python3
"""pyvisa-py, a VISA client written by others, against scopesim over VXI-11 and the raw socket:
read_stb, assert_trigger, lock_excl/unlock and clear.

Usage: pyvisa_against_scopesim.py SCOPESIM
Exits 77 (skipped) only when pyvisa-py is not installed.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIPPED = 77

try:
    import pyvisa
    from pyvisa import constants
    from pyvisa.errors import VisaIOError
    from pyvisa_py.protocols import rpc
except ImportError as error:
    print(f"SKIPPED: pyvisa-py is not installed ({error}); "
          "on Debian: apt-get install python3-pyvisa-py")
    sys.exit(SKIPPED)

IDN = "ORVANE,NQX8034,C010442,CF:91.1CT FV:v1.2.0"
failures = []


def check(what, got, expected):
    if got != expected:
        failures.append(f"{what}: got {got!r}, expected {expected!r}")
        print(f"FAIL   {what}: got {got!r}, expected {expected!r}")
    else:
        print(f"ok     {what}")


def visa_error(call):
    """The VISA status a call fails with, or None when it does not fail."""
    try:
        call()
    except VisaIOError as error:
        return error.error_code
    return None


NAMESPACE_MARK = "SCOPESIM_PYVISA_IN_NAMESPACE"


def run_in_own_network_namespace():
    """Runs this script again in a network namespace of its own, where scopesim may serve the
    portmapper on port 111 that pyvisa-py asks; None when no such namespace can be made."""
    if os.environ.get(NAMESPACE_MARK) or not shutil.which("unshare"):
        return None
    ip = shutil.which("ip") or shutil.which("ip", path="/usr/sbin:/sbin")
    if ip is None or subprocess.run(["unshare", "-rn", "true"],
                                    stderr=subprocess.DEVNULL).returncode != 0:
        return None
    environment = dict(os.environ, **{NAMESPACE_MARK: ip})
    return subprocess.run(["unshare", "-rn", sys.executable] + sys.argv,
                          env=environment).returncode


def start_scopesim(program, root, portmapper):
    process = subprocess.Popen(
        [program, "--port", "0", "--vxi11-port", "0", "--root", root,
         "--trigger-period-ms", "60000"] + (["--portmapper"] if portmapper else []),
        stdout=subprocess.PIPE, text=True)
    raw_port = vxi11_port = None
    deadline = time.monotonic() + 20
    while (raw_port is None or vxi11_port is None) and time.monotonic() < deadline:
        line = process.stdout.readline()
        if not line:
            break
        if line.startswith("scopesim: listening on 127.0.0.1:"):
            raw_port = int(line.rsplit(":", 1)[1])
        elif line.startswith("scopesim: VXI-11 on 127.0.0.1:"):
            vxi11_port = int(line.rsplit(":", 1)[1])
    if raw_port is None or vxi11_port is None:
        process.kill()
        sys.exit("scopesim did not say where it listens")
    return process, raw_port, vxi11_port


def point_portmapper_at(port):
    # pyvisa-py finds the VXI-11 core channel only through the portmapper on port 111, which a
    # test may not take; its lookup is answered with scopesim's port instead.
    class PortmapperAnswer:
        def __init__(self, host, open_timeout=5000):
            pass

        def get_port(self, mapping):
            return port

        def close(self):
            pass

    rpc.TCPPortMapperClient = PortmapperAnswer


def vxi11_session(rm):
    session = rm.open_resource("TCPIP0::127.0.0.1::inst0::INSTR")
    session.timeout = 5000
    session.read_termination = "\n"
    session.write_termination = "\n"
    return session


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    in_namespace = bool(os.environ.get(NAMESPACE_MARK))
    if not in_namespace:
        code = run_in_own_network_namespace()
        if code is not None:
            return code
        print("no network namespace of our own (unshare -rn): pyvisa-py's portmapper lookup "
              "is answered in-process")
    else:
        # A fresh namespace has loopback down; pyvisa-py then finds scopesim's portmapper.
        subprocess.run([os.environ[NAMESPACE_MARK], "link", "set", "lo", "up"], check=True)
        print("in a network namespace of our own: pyvisa-py asks scopesim's portmapper")
    with tempfile.TemporaryDirectory() as root:
        process, raw_port, vxi11_port = start_scopesim(sys.argv[1], root, in_namespace)
        try:
            if not in_namespace:
                point_portmapper_at(vxi11_port)
            rm = pyvisa.ResourceManager("@py")
            first = vxi11_session(rm)
            second = vxi11_session(rm)

            first.write("HEAD 0;*CLS;*SRE 16")
            check("read_stb, nothing waiting", first.read_stb(), 0)
            first.write("*IDN?")
            check("read_stb, reply waiting", first.read_stb(), 0x50)
            check("reply after read_stb", first.read(), IDN)
            check("read_stb after the read", first.read_stb(), 0)

            first.write("ACQ:STOPA SEQ;STATE 1")
            check("armed", first.query("BUSY?;ACQ:NUMACQ?"), "1;0")
            first.assert_trigger()
            check("assert_trigger completes it", first.query("BUSY?;ACQ:NUMACQ?"), "0;1")

            first.write("*IDN?")
            first.clear()
            check("clear drops the unread reply", first.query("BUSY?"), "0")

            first.lock_excl(timeout=0)
            # pyvisa-py reports every failed device_write as an I/O error.
            check("second link's write while locked",
                  visa_error(lambda: second.write("*CLS")), constants.VI_ERROR_IO)
            check("second link's read_stb while locked",
                  visa_error(second.read_stb), constants.VI_ERROR_RSRC_LOCKED)
            check("second link's assert_trigger while locked",
                  visa_error(second.assert_trigger), constants.VI_ERROR_RSRC_LOCKED)
            check("second link's clear while locked",
                  visa_error(second.clear), constants.VI_ERROR_RSRC_LOCKED)
            check("second link's lock_excl while locked",
                  visa_error(lambda: second.lock_excl(timeout=0)), constants.VI_ERROR_RSRC_LOCKED)
            check("the holder goes on", first.query("BUSY?"), "0")
            first.unlock()
            check("unlock twice", visa_error(first.unlock), constants.VI_ERROR_SESN_NLOCKED)
            check("second link after unlock", second.query("BUSY?"), "0")
            second.lock_excl(timeout=0)
            check("first link's read_stb while the second holds it",
                  visa_error(first.read_stb), constants.VI_ERROR_RSRC_LOCKED)
            second.unlock()
            first.close()
            second.close()

            raw = rm.open_resource(f"TCPIP0::127.0.0.1::{raw_port}::SOCKET",
                                   read_termination="\n", write_termination="\n")
            raw.timeout = 5000
            raw.write("HEAD 0;ACQ:STATE 1;*TRG")
            check("*TRG over the raw socket", raw.query("BUSY?;ACQ:NUMACQ?"), "0;1")
            raw.write("*IDN?")
            time.sleep(0.2)
            raw.clear()
            check("raw socket clear drops the unread reply", raw.query("BUSY?"), "0")
            raw.close()
            rm.close()
        finally:
            process.terminate()
            process.wait(10)
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
