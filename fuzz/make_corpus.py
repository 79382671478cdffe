#!/usr/bin/env python3
"""Writes the starting corpus of every fuzz target into fuzz/corpus/TARGET/.

The files are committed; run this again after changing it. Names are the first bytes of a
digest, so a file that did not change keeps its name."""

import hashlib
import pathlib
import shutil
import struct

HERE = pathlib.Path(__file__).resolve().parent
XID = 0x56780001  # the reply id vxi11_reply_fuzzer calls with


def word(*values):
    return b"".join(struct.pack(">I", v & 0xFFFFFFFF) for v in values)


def opaque(data):
    return word(len(data)) + data + b"\0" * (-len(data) % 4)


def marked(record):
    return word(0x80000000 | len(record)) + record


def reply(results, xid=XID, accept=0):
    return word(xid, 1, 0, 0, 0, accept) + results


def call(procedure, arguments, program=0x0607AF, version=1, xid=7):
    return word(xid, 0, 2, program, version, procedure, 0, 0, 0, 0) + arguments


def scanner_input(stream, cuts=()):
    return bytes([len(cuts)]) + b"".join(struct.pack("<H", c) for c in cuts) + stream


CORPUS = {
    "resource_line": [
        b"TCPIP0::192.0.2.10::4000::SOCKET",
        b"tcpip::localhost::5025::socket\n",
        b"TCPIP1::[::1]::inst0::INSTR vxi11-port=9024",
        b"TCPIP::Example.COM::INSTR\n",
        b"USB0::0x0699::0x0401::C012345::0::INSTR",
        b"USB::1689::1025::SN1::INSTR # bench scope\n",
        b"ASRL1::INSTR",
        b"ASRL/dev/ttyUSB0::INSTR baud=115200 data-bits=8 parity=none stop-bits=1 termination=lf",
        b"ASRL/dev/ttyS1::INSTR flow-control=rts-cts parity=even stop-bits=2 data-bits=7\r\n",
        b"# lab resources\n\nTCPIP0::10.0.0.2::4000::SOCKET\r\nTCPIP0::10.0.0.2::4000::SOCKET\n"
        b"ASRL2::INSTR baud=9600 termination=crlf\n",
        b"TCPIP0::host::INSTR baud=9600\nASRL3::INSTR vxi11-port=1\nTCPIP0::h::0::SOCKET\n",
        b"   \tTCPIP0::h::inst1::INSTR\tvxi11-port=65535   # x\n",
        b"USB0::0x0699::0x0401::SER#1::INSTR\n",
    ],
    "reply_scanner": [
        scanner_input(b"ACME,NQX8000,SN #12\n"),
        scanner_input(b"ACME,NQX8000,SN #12\n", (5, 17)),
        scanner_input(b"#9\n123456789\n", (2,)),
        scanner_input(b":CURVE #210ab\ncd\r\nfghij\n1\n", (3, 8, 8, 20)),
        scanner_input(b"#0binary\r\n;done\n", (1, 2)),
        scanner_input(b'"a;b\n""c"\n\'O\'\'Neil\'\n', (3, 4, 9)),
        scanner_input(b"O'Neil,#13ab\n\r\n", (8,)),
        scanner_input(b"1\r\n2\n\n3", (1, 2, 3, 4, 5)),
        scanner_input(b':FILESYSTEM:DIR "a.isf","b\nc.isf"\n', (20,)),
        scanner_input(b":WFMO:BYT_N 2;ENC BIN;:CURV #3004\x00\n\x01\r\n", (30, 31)),
        scanner_input(b"#100\n#1\n#", (1, 2, 3, 4)),
    ],
    "vxi11_reply": [
        reply(word(0, 1, 4001, 65536)),
        reply(word(0, 4) + opaque(b"ACME,NQX8000,0,1.0\n")),
        reply(word(0, 0) + opaque(b"")),
        reply(word(0, 6)),
        reply(word(11)),
        reply(word(1111)),
        reply(word(0, 4) + word(0x01000000)),
        reply(word(0), xid=XID + 1),
        word(XID, 1, 1, 0, 2, 2),
        reply(b"", accept=1),
        reply(word(1, 2), accept=2),
        word(XID, 1, 0, 1, 8) + b"verifier" + word(0) + word(0, 4) + opaque(b"1\n"),
        word(XID, 1, 0, 1, 400) + b"v" * 400 + word(0) + word(0, 1, 4001, 65536),
        marked(reply(word(0, 4) + opaque(b"ok\n"), xid=9)),
        word(8) + reply(b"", xid=9)[:8] + marked(reply(b"", xid=9)[8:]),
        word(0x80000000 | 0x7FFFFFFF),
    ],
    "scpi_message": [
        b"*IDN?",
        b"*CLS;*ESR?;ALLEV?",
        b":SAVE:WAVEFORM CH1,\"D:/waves/tek0001.isf\"",
        b"SAV:WAVE ALL,'D:\\waves\\all.csv';:SAVE:IMAGE \"E:/screen.png\"",
        b"FILESYSTEM:CWD \"D:/waves\";:FILESYSTEM:DIR?",
        b"FILES:CWD \"old\";:FILES:MKDIR \"new\";:SAVE:WAVEFORM CH2,\"../x.isf\"",
        b"FILESYSTEM:DELETE \"D:/waves/tek0000.isf\"",
        b"FILES:DELE \"D:/../../etc/passwd\"",
        b"SAVE:IMAGE \"D:/a\"\"b.png\";HEADER OFF;VERBOSE 0",
        b"ACQUIRE:STOPAFTER SEQUENCE;:ACQUIRE:STATE 1;BUSY?",
        b"TRIGGER:A:MODE NORMAL;:TRIGGER FORCE;:TRIGGER:STATE?",
        b"SAVE:WAVEFORM:FILEFORMAT SPREADSHEET;:SAVE:WAVEFORM:GATING CURSORS",
        b"FILES:CWD \"z:/\";FILES:MKDIR \"d:\\\\waves\\\\.\\\\new\\\\\"",
        b"DESE 255;*ESE 60;*SRE 0;EVMSG?;EVQTY?",
        b":",
        b"SAVE:WAVEFORM CH1,",
    ],
    "instrument_message": [
        b"*RST;*CLS\nSAVE:WAVEFORM CH1,\"D:/waves/tek0001.isf\"\n*OPC?",
        b"FILESYSTEM:MKDIR \"D:/new\"\nFILESYSTEM:CWD \"D:/new\"\nSAVE:IMAGE \"screen.png\"\nFILESYSTEM:DIR?",
        b"SAVE:WAVEFORM:FILEFORMAT SPREADSHEET\nSAVE:WAVEFORM ALL,\"E:/all\"\nBUSY?",
        b"FILESYSTEM:DELETE \"D:/waves/tek0000.isf\"\nFILESYSTEM:DELETE \"D:/waves/old\"",
        b"FILESYSTEM:CWD \"D:/waves/old\"\nSAVE:WAVEFORM CH2,\"../../../outside/kept.txt\"",
        b"FILESYSTEM:DELETE \"D:/../../kept.txt\"\nFILESYSTEM:MKDIR \"D:\\..\\..\\outside\\x\"",
        b"SAVE:IMAGE:FILEFORMAT BMP;:SAVE:IMAGE:LAYOUT PORTRAIT;:SAVE:IMAGE \"E:/a.bmp\"",
        b"ACQUIRE:STOPAFTER SEQUENCE;STATE 1\nTRIGGER FORCE\nACQUIRE:NUMACQ?;:TRIGGER:STATE?",
        b"HEADER ON;VERBOSE ON;*ESR?;ALLEV?\nEVENT?;EVMSG?;EVQTY?",
        b"SAVE:WAVEFORM:GATING SCREEN\nSAVE:WAVEFORM CH1,\"D:/waves/\"\nSAVE:WAVEFORM CH1,\"D:/waves\"",
    ],
    "rpc_request": [
        marked(call(10, word(1234, 0, 1000) + opaque(b"inst0"))),
        marked(call(11, word(1, 1000, 1000, 8) + opaque(b"*IDN?\n"))),
        marked(call(12, word(1, 1024, 1000, 1000, 0x80, 10))),
        marked(call(13, word(1, 0, 1000, 1000))),
        marked(call(15, word(1, 0, 1000, 1000))),
        marked(call(23, word(1))),
        marked(call(3, word(0x0607AF, 1, 6, 0), program=100000, version=2)),
        marked(call(4, b"", program=100000, version=2)),
        call(3, word(0x0607AF, 1, 6, 0), program=100000, version=2),
        marked(word(5, 0, 3, 0x0607AF, 1, 10)),
        word(8) + call(23, word(1))[:8] + marked(call(23, word(1))[8:]),
        marked(call(10, word(1, 1, 0) + opaque(b"inst0\0x"))),
        marked(call(11, word(1, 0, 0, 0, 0x01000000))),
        marked(call(10, word(1, 0, 0), xid=1)) + marked(call(23, word(1), xid=2)),
        word(0x7FFFFFFF),
        marked(word(3, 0, 2, 0x0607AF, 1, 23, 1, 400) + b"c" * 400 + word(0, 0) + word(1)),
    ],
}


def main():
    for target, inputs in CORPUS.items():
        folder = HERE / "corpus" / target
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        for data in inputs:
            (folder / hashlib.sha1(data).hexdigest()[:16]).write_bytes(data)


if __name__ == "__main__":
    main()
