#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The same SCPI query and X3.28 poll as the program, written the way an
engineer would with pyserial (Debian's python3-serial), at 38400 baud 8N1.

    pyserial_exchange.py DEVICE scpi|x328 COUNT OUTFILE

Each exchange drains pending input, writes, and reads until the awaited
byte; its time in microseconds goes to OUTFILE, one line each. Exits 1 when
an exchange gets a wrong answer."""

import sys
import time

import serial

STX, ETX, EOT, ENQ, ACK, NAK = b"\x02", b"\x03", b"\x04", b"\x05", b"\x06", b"\x15"


def read_until_any(port, terminators):
    """Reads what is there (at least one byte) until a terminator came."""
    buf = b""
    while True:
        chunk = port.read(max(1, port.in_waiting))
        if not chunk:
            return buf, False
        buf += chunk
        if any(t in chunk for t in terminators):
            return buf, True


def main():
    if len(sys.argv) != 5:
        sys.exit("usage: pyserial_exchange.py DEVICE scpi|x328 COUNT OUTFILE")
    device, kind, count, outfile = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
    port = serial.Serial(device, 38400, bytesize=8, parity="N", stopbits=1, timeout=3)
    port.write(b"@@@")  # start from SCPI whatever an earlier run left
    time.sleep(0.05)
    port.reset_input_buffer()
    times = []
    failures = 0
    if kind == "scpi":
        for _ in range(count):
            t0 = time.perf_counter_ns()
            port.reset_input_buffer()
            port.write(b"*IDN?\n")
            reply, ok = read_until_any(port, [b"\n"])
            t1 = time.perf_counter_ns()
            failures += not (ok and b"Vek," in reply)  # the prompt of the query before may come first
            times.append((t1 - t0) / 1000)
    else:
        port.write(b"SYST:LANG X3.28\n")
        port.write(b"SYST:LANG X3.28")  # the bare second copy, as the program sends it
        time.sleep(0.05)
        port.reset_input_buffer()
        port.write(b"1" + ENQ)
        if not read_until_any(port, [ACK])[1]:
            sys.exit("no link")
        for _ in range(count):
            t0 = time.perf_counter_ns()
            port.reset_input_buffer()
            port.write(STX + b"? C1" + ETX)
            reply, ok = read_until_any(port, [ACK, NAK])
            ok = ok and ACK in reply
            if ok:
                port.write(EOT)
                reply, ok = read_until_any(port, [ETX])
                ok = ok and reply[:1] == STX
            if ok:
                port.write(ACK)
                reply, ok = read_until_any(port, [EOT])
            t1 = time.perf_counter_ns()
            failures += not ok
            times.append((t1 - t0) / 1000)
        port.write(b"@@@")
        time.sleep(0.05)
    port.close()
    with open(outfile, "a") as f:
        f.writelines(f"{t:.1f}\n" for t in times)
    if failures:
        print(f"pyserial_exchange: {failures} of {count} exchanges failed", file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main()
