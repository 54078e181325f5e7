#!/usr/bin/env python3
"""A small, separate CANopen (CiA 301) SDO client and SDO server that talk to
busvista-cli in the text notation of the Linux CAN tools.

  canopen_peer.py client CLI   -- SDO client against `CLI bridge --sim`
  canopen_peer.py server CLI   -- SDO server (node 0x22) behind `CLI sdo --pipe - -`

Prints one line per check and closes with "N passed, M failed"; exits 1 on any
failure.
"""
import os
import queue
import re
import struct
import subprocess
import sys
import threading
import time

results = {"passed": 0, "failed": 0}


def check(name, condition, detail=""):
    if condition:
        results["passed"] += 1
        print("PASS", name)
    else:
        results["failed"] += 1
        print("FAIL", name, detail)
    sys.stdout.flush()


LINE = re.compile(r"^(?:\((\d+)\.(\d{6})\)\s+\S+\s+)?([0-9A-Fa-f]{3}|[0-9A-Fa-f]{8})#(R\d?|(?:[0-9A-Fa-f]{2})*)\s*$")


def parse_line(text):
    """(time in seconds or None, can id, data bytes) or None."""
    m = LINE.match(text)
    if not m or m.group(4).startswith("R"):
        return None
    stamp = None
    if m.group(1):
        stamp = int(m.group(1)) + int(m.group(2)) / 1e6
    return stamp, int(m.group(3), 16), bytes.fromhex(m.group(4))


def cansend(can_id, data):
    return "%03X#%s\n" % (can_id, data.hex().upper())


def crc16(data):
    """CRC of SDO block transfers: polynomial 0x1021, start 0, MSB first."""
    crc = 0
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) & 0xFFFF if crc & 0x8000 else (crc << 1) & 0xFFFF
    return crc


class Abort(Exception):
    def __init__(self, code):
        super().__init__("abort 0x%08X" % code)
        self.code = code


# ----------------------------------------------------------------------------
# Client side: we are the SDO client, the bridge's simulated node 5 the server.

class Bridge:
    def __init__(self, cli):
        self.proc = subprocess.Popen([cli, "bridge", "--sim", "--seconds", "280"], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True, bufsize=1)
        self.frames = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stdout:
            parsed = parse_line(line)
            if parsed:
                self.frames.put((time.monotonic(),) + parsed)

    def send(self, can_id, data):
        self.proc.stdin.write(cansend(can_id, data))
        self.proc.stdin.flush()

    def wait_for(self, can_id, timeout=2.0):
        end = time.monotonic() + timeout
        while True:
            left = end - time.monotonic()
            if left <= 0:
                raise TimeoutError("no frame 0x%X" % can_id)
            try:
                _, _, fid, data = self.frames.get(timeout=left)
            except queue.Empty:
                continue
            if fid == can_id:
                return data

    def drain(self):
        while not self.frames.empty():
            self.frames.get_nowait()

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(timeout=10)


class SdoClientPeer:
    def __init__(self, bus, node):
        self.bus, self.tx, self.rx = bus, 0x600 + node, 0x580 + node

    def _request(self, payload):
        self.bus.send(self.tx, bytes(payload).ljust(8, b"\0"))
        reply = self.bus.wait_for(self.rx)
        if reply[0] == 0x80:
            raise Abort(struct.unpack_from("<I", reply, 4)[0])
        return reply

    def read(self, index, sub):
        """Returns (value bytes, 'expedited' or 'segmented')."""
        self.bus.drain()
        mux = struct.pack("<HB", index, sub)
        reply = self._request(b"\x40" + mux)
        scs = reply[0] >> 5
        assert scs == 2 and reply[1:4] == mux, "bad initiate reply %s" % reply.hex()
        if reply[0] & 0x02:
            size = 4 - ((reply[0] >> 2) & 3) if reply[0] & 0x01 else 4
            return reply[4:4 + size], "expedited"
        announced = struct.unpack_from("<I", reply, 4)[0] if reply[0] & 0x01 else None
        value, toggle = b"", 0
        while True:
            seg = self._request(bytes([0x60 | (toggle << 4)]))
            assert seg[0] >> 5 == 0 and ((seg[0] >> 4) & 1) == toggle, "bad segment %s" % seg.hex()
            value += seg[1:8 - ((seg[0] >> 1) & 7)]
            if seg[0] & 0x01:
                break
            # Strict: the segment that completes the announced size must be
            # the last one, also when its rest is exactly 7 bytes.
            assert announced is None or len(value) < announced, \
                "segment %s completes %d bytes but is not marked last" % (seg.hex(), len(value))
            toggle ^= 1
        assert announced is None or announced == len(value), "size %s vs %d" % (announced, len(value))
        return value, "segmented"

    def write(self, index, sub, value, segmented=None):
        self.bus.drain()
        mux = struct.pack("<HB", index, sub)
        if segmented is None:
            segmented = len(value) > 4
        if not segmented:
            cmd = 0x23 | ((4 - len(value)) << 2)
            reply = self._request(bytes([cmd]) + mux + value)
            assert reply[0] == 0x60 and reply[1:4] == mux, "bad reply %s" % reply.hex()
            return
        reply = self._request(b"\x21" + mux + struct.pack("<I", len(value)))
        assert reply[0] == 0x60 and reply[1:4] == mux, "bad reply %s" % reply.hex()
        toggle, offset = 0, 0
        while True:
            chunk = value[offset:offset + 7]
            offset += len(chunk)
            last = offset >= len(value)
            cmd = (toggle << 4) | ((7 - len(chunk)) << 1) | (1 if last else 0)
            reply = self._request(bytes([cmd]) + chunk)
            assert reply[0] == 0x20 | (toggle << 4), "bad segment reply %s" % reply.hex()
            if last:
                return
            toggle ^= 1


    def block_read(self, index, sub, blksize=127):
        """Block upload with CRC; returns the value bytes."""
        self.bus.drain()
        mux = struct.pack("<HB", index, sub)
        reply = self._request(b"\xA4" + mux + bytes([blksize, 0]))
        assert reply[0] & 0xE1 == 0xC0 and reply[1:4] == mux, "bad block initiate reply %s" % reply.hex()
        server_crc = bool(reply[0] & 0x04)
        size = struct.unpack_from("<I", reply, 4)[0] if reply[0] & 0x02 else None
        self.bus.send(self.tx, b"\xA3".ljust(8, b"\0"))
        value, done = b"", False
        while not done:
            expected = 1
            while True:
                seg = self.bus.wait_for(self.rx)
                if seg[0] == 0x80:
                    raise Abort(struct.unpack_from("<I", seg, 4)[0])
                seqno, last = seg[0] & 0x7F, bool(seg[0] & 0x80)
                if seqno == expected:
                    value += seg[1:8]
                    expected += 1
                    done = last
                if last or seqno >= blksize:
                    break
            # The next block (or the end) follows the acknowledgement at once.
            self.bus.send(self.tx, bytes([0xA2, expected - 1, blksize]).ljust(8, b"\0"))
        reply = self.bus.wait_for(self.rx)
        if reply[0] == 0x80:
            raise Abort(struct.unpack_from("<I", reply, 4)[0])
        assert reply[0] & 0xE3 == 0xC1, "bad block end %s" % reply.hex()
        value = value[:len(value) - ((reply[0] >> 2) & 7)]
        if size is not None:
            assert size == len(value), "size %d vs %d" % (size, len(value))
        if server_crc and struct.unpack_from("<H", reply, 1)[0] != crc16(value):
            self.bus.send(self.tx, b"\x80" + mux + struct.pack("<I", 0x05040004))
            raise Abort(0x05040004)
        self.bus.send(self.tx, b"\xA1".ljust(8, b"\0"))
        return value

    def block_write(self, index, sub, value, corrupt_crc=False):
        self.bus.drain()
        mux = struct.pack("<HB", index, sub)
        reply = self._request(b"\xC6" + mux + struct.pack("<I", len(value)))
        assert reply[0] & 0xE3 == 0xA0 and reply[1:4] == mux, "bad block initiate reply %s" % reply.hex()
        server_crc, blksize, offset = bool(reply[0] & 0x04), reply[4], 0
        while True:
            segments = []
            for seqno in range(1, blksize + 1):
                chunk = value[offset + (seqno - 1) * 7:offset + seqno * 7]
                last = offset + seqno * 7 >= len(value)
                segments.append((chunk, last))
                self.bus.send(self.tx, bytes([seqno | (0x80 if last else 0)]) + chunk.ljust(7, b"\0"))
                if last:
                    break
            reply = self.bus.wait_for(self.rx)
            if reply[0] == 0x80:
                raise Abort(struct.unpack_from("<I", reply, 4)[0])
            assert reply[0] == 0xA2, "bad block acknowledgement %s" % reply.hex()
            acked = reply[1]
            offset = min(offset + acked * 7, len(value))
            if acked == len(segments) and segments[-1][1]:
                break
            blksize = reply[2]
        unused = 7 - (len(value) - ((len(value) - 1) // 7) * 7)
        crc = crc16(value) ^ (0xFFFF if corrupt_crc else 0) if server_crc else 0
        reply = self._request(bytes([0xC1 | (unused << 2)]) + struct.pack("<H", crc))
        assert reply[0] == 0xA1, "bad block end reply %s" % reply.hex()


# What the simulated node's documentation lists: index, sub, value, writable.
NODE5 = [
    (0x1000, 0, struct.pack("<I", 0x191), False),
    (0x1001, 0, b"\x00", False),
    (0x1008, 0, b"Busvista Simulation", False),
    (0x1009, 0, b"1.0", False),
    (0x100A, 0, b"1.0.0", False),
    (0x1017, 0, struct.pack("<H", 1000), True),
    (0x1018, 0, b"\x04", False),
    (0x1018, 1, struct.pack("<I", 0x123), False),
    (0x1018, 2, struct.pack("<I", 0x4711), False),
    (0x1018, 3, struct.pack("<I", 0x10000), False),
    (0x1018, 4, struct.pack("<I", 0x12345678), False),
    (0x2000, 0, b"\x00", True),
    (0x2001, 0, b"\x00\x00\x00\x00", True),
    (0x2002, 0, b"Hallo CANopen", True),
    (0x2003, 0, struct.pack("<h", -100), True),
]


def expect_abort(name, action, code):
    try:
        action()
        check(name, False, "no abort")
    except Abort as abort:
        check(name, abort.code == code, "got 0x%08X" % abort.code)
    except Exception as e:  # noqa: BLE001
        check(name, False, repr(e))


def heartbeat_times(bus, seconds):
    bus.drain()
    end, times = time.monotonic() + seconds, []
    while time.monotonic() < end:
        try:
            arrived, _, fid, data = bus.frames.get(timeout=0.05)
        except queue.Empty:
            continue
        if fid == 0x705 and len(data) == 1:
            times.append(arrived)
    return times


def run_client(cli):
    bus = Bridge(cli)
    sdo = SdoClientPeer(bus, 5)
    try:
        for index, sub, value, writable in NODE5:
            name = "read %04X:%02X" % (index, sub)
            try:
                got, how = sdo.read(index, sub)
                check(name, got == value and how == ("segmented" if len(value) > 4 else "expedited"),
                      "%s %s" % (got, how))
            except Exception as e:  # noqa: BLE001
                check(name, False, repr(e))
        for index, sub, value, writable in NODE5:
            if index == 0x1017:
                continue
            name = "write %04X:%02X" % (index, sub)
            new = bytes((b + 1) & 0xFF for b in value) if index != 0x2002 else b"Neuer Text mit Umlaut \xe4"
            if writable:
                try:
                    sdo.write(index, sub, new)
                    check(name, sdo.read(index, sub)[0] == new)
                except Exception as e:  # noqa: BLE001
                    check(name, False, repr(e))
            else:
                expect_abort(name + " read-only", lambda: sdo.write(index, sub, new), 0x06010002)
        try:
            sdo.write(0x2002, 0, b"abc", segmented=True)
            sdo.write(0x2002, 0, b"xy")
            check("short text segmented then expedited", sdo.read(0x2002, 0)[0] == b"xy")
        except Exception as e:  # noqa: BLE001
            check("short text segmented then expedited", False, repr(e))
        for length in (7, 14, 21):
            name = "text of %d bytes read back" % length
            try:
                text = bytes(0x41 + i for i in range(length))
                sdo.write(0x2002, 0, text)
                check(name, sdo.read(0x2002, 0) == (text, "segmented"))
            except Exception as e:  # noqa: BLE001
                check(name, False, repr(e))
        expect_abort("missing object", lambda: sdo.read(0x6000, 0), 0x06020000)
        expect_abort("missing subindex", lambda: sdo.read(0x1018, 5), 0x06090011)
        expect_abort("too short", lambda: sdo.write(0x2001, 0, b"\x01"), 0x06070013)
        expect_abort("too long", lambda: sdo.write(0x2000, 0, b"\x01\x02"), 0x06070012)
        expect_abort("segmented wrong size", lambda: sdo.write(0x2001, 0, b"\x01\x02\x03", segmented=True),
                     0x06070013)
        expect_abort("heartbeat below 10 ms", lambda: sdo.write(0x1017, 0, struct.pack("<H", 5)), 0x06090032)
        for size in (1, 7, 889, 100 * 1024):
            value = bytes((i * 13 + i // 255) % 256 for i in range(size))
            try:
                sdo.block_write(0x2002, 0, value)
                if size < 1000:  # a segmented read back of 100 KiB would take minutes through the bridge
                    check("block download %d bytes" % size, sdo.read(0x2002, 0)[0] == value)
                got = sdo.block_read(0x2002, 0)
                check("block upload %d bytes" % size, got == value, "%d bytes back" % len(got))
            except Exception as e:  # noqa: BLE001
                check("block transfer %d bytes" % size, False, repr(e))
        try:
            check("block upload in blocks of 5", sdo.block_read(0x1008, 0, blksize=5) == b"Busvista Simulation")
        except Exception as e:  # noqa: BLE001
            check("block upload in blocks of 5", False, repr(e))
        expect_abort("block download with a wrong CRC", lambda: sdo.block_write(0x2002, 0, b"CRC kaputt", corrupt_crc=True),
                     0x05040004)
        expect_abort("block download to read-only", lambda: sdo.block_write(0x1000, 0, b"\x01\x02\x03\x04"), 0x06010002)
        expect_abort("block size 0 refused", lambda: sdo._request(b"\xA4\x00\x10\x00\x00"), 0x05040002)

        sdo.write(0x1017, 0, struct.pack("<H", 200))
        times = heartbeat_times(bus, 1.5)
        gaps = [b - a for a, b in zip(times, times[1:])]
        mean = sum(gaps) / len(gaps) if gaps else 0
        check("heartbeat follows 200 ms", len(times) >= 5 and 0.15 < mean < 0.25, "%d beats, mean %.3f" % (len(times), mean))
        sdo.write(0x1017, 0, struct.pack("<H", 0))
        time.sleep(0.1)
        check("heartbeat off", len(heartbeat_times(bus, 1.2)) == 0)
    finally:
        bus.close()


# ----------------------------------------------------------------------------
# Server side: we are node 0x22; busvista-cli sdo is the client.

SERVER_NODE = 0x22


class SdoServerPeer:
    def __init__(self, segment_without_size=()):
        self.od = {
            (0x1000, 0): [struct.pack("<I", 0x000F0191), False],
            (0x1001, 0): [b"\x00", False],
            (0x1008, 0): [b"Fremder Knoten 22h", False],
            (0x2100, 0): [bytes(range(30)), True],
            (0x2101, 0): [struct.pack("<H", 7), True],
            (0x2102, 0): [struct.pack("<i", -5), True],
            (0x2200, 0): [b"", True],
        }
        self.no_size = set(segment_without_size)
        self.state = None
        self.block = True        # False: refuses block transfers like a small device
        self.blksize = 10        # segments per block that this server takes
        self.corrupt_crc = False  # sends a wrong CRC at the end of a block upload

    def answer(self, data):
        """The responses to one request (a list, maybe empty)."""
        cs = data[0]
        ccs = cs >> 5
        mux = data[1:4]
        key = struct.unpack("<HB", mux)

        def abort(code, where=mux):
            self.state = None
            return [b"\x80" + where + struct.pack("<I", code)]

        if isinstance(self.state, dict):
            kind = self.state["kind"]
        else:
            kind = self.state[0] if self.state else None
        if cs == 0x80:
            self.state = None
            return []
        if kind == "blockdown":
            return self.block_download_segment(data)
        if ccs in (5, 6) and not self.block:
            return abort(0x05040001)
        if ccs == 5:
            return self.block_upload(data, cs, mux, key, abort)
        if ccs == 6:
            return self.block_download(data, cs, mux, key, abort)
        if ccs == 2:
            if key not in self.od:
                return abort(0x06020000)
            value = self.od[key][0]
            if len(value) <= 4:
                return [bytes([0x43 | ((4 - len(value)) << 2)]) + mux + value.ljust(4, b"\0")]
            self.state = ["up", key, value, 0, 0]
            if key in self.no_size:
                return [b"\x40" + mux + b"\0\0\0\0"]
            return [b"\x41" + mux + struct.pack("<I", len(value))]
        if ccs == 3:
            if kind != "up":
                return abort(0x05040001, b"\0\0\0")
            _, key, value, offset, toggle = self.state
            if ((cs >> 4) & 1) != toggle:
                return abort(0x05030000, struct.pack("<HB", *key))
            chunk = value[offset:offset + 7]
            last = offset + len(chunk) >= len(value)
            self.state = None if last else ["up", key, value, offset + len(chunk), toggle ^ 1]
            return [bytes([(toggle << 4) | ((7 - len(chunk)) << 1) | int(last)]) + chunk.ljust(7, b"\0")]
        if ccs == 1:
            if key not in self.od:
                return abort(0x06020000)
            if not self.od[key][1]:
                return abort(0x06010002)
            if cs & 0x02:
                size = 4 - ((cs >> 2) & 3) if cs & 0x01 else 4
                value = data[4:4 + size]
                if len(value) != len(self.od[key][0]):
                    return abort(0x06070010)
                self.od[key][0] = value
                return [b"\x60" + mux + b"\0\0\0\0"]
            self.state = ["down", key, b"", 0, struct.unpack_from("<I", data, 4)[0]]
            return [b"\x60" + mux + b"\0\0\0\0"]
        if ccs == 0:
            if kind != "down":
                return abort(0x05040001, b"\0\0\0")
            _, key, got, toggle, size = self.state
            if ((cs >> 4) & 1) != toggle:
                return abort(0x05030000, struct.pack("<HB", *key))
            got += data[1:8 - ((cs >> 1) & 7)]
            if cs & 0x01:
                self.state = None
                if len(got) != size:
                    return abort(0x06070010, struct.pack("<HB", *key))
                self.od[key][0] = got
            else:
                self.state = ["down", key, got, toggle ^ 1, size]
            return [bytes([0x20 | (toggle << 4)]) + b"\0" * 7]
        return abort(0x05040001)

    # Block upload: initiate (cs 0xA0/0xA4), start 0xA3, acknowledgement 0xA2, end 0xA1.
    def block_upload(self, data, cs, mux, key, abort):
        sub = cs & 0x03
        if sub == 0:
            if key not in self.od:
                return abort(0x06020000)
            if not 1 <= data[4] <= 127:
                return abort(0x05040002)
            value = self.od[key][0]
            self.state = {"kind": "blockup", "key": key, "value": value, "offset": 0, "blksize": data[4],
                          "crc": bool(cs & 0x04), "sent": 0, "phase": "init"}
            return [b"\xC6" + mux + struct.pack("<I", len(value))]
        st = self.state if isinstance(self.state, dict) else None
        if not st:
            return abort(0x05040001, b"\0\0\0")
        where = struct.pack("<HB", *st["key"])
        if sub == 3 and st["phase"] == "init":
            return self.upload_block(st)
        if sub == 2 and st["phase"] == "block":
            acked, blksize = data[1], data[2]
            if acked > st["sent"]:
                return abort(0x05040003, where)
            if not 1 <= blksize <= 127:
                return abort(0x05040002, where)
            value = st["value"]
            all_sent = st["offset"] + st["sent"] * 7 >= len(value)
            st["offset"] = min(st["offset"] + acked * 7, len(value))
            st["blksize"] = blksize
            if all_sent and acked == st["sent"]:
                last = len(value) - ((len(value) - 1) // 7) * 7 if value else 0
                crc = crc16(value) ^ (0x5555 if self.corrupt_crc else 0)
                st["phase"] = "end"
                return [bytes([0xC1 | ((7 - last) << 2)]) + struct.pack("<H", crc) + b"\0" * 5]
            return self.upload_block(st)
        if sub == 1 and st["phase"] == "end":
            self.state = None
            return []
        return abort(0x05040001, where)

    def upload_block(self, st):
        value, frames = st["value"], []
        st["sent"] = 0
        for seqno in range(1, st["blksize"] + 1):
            at = st["offset"] + (seqno - 1) * 7
            last = at + 7 >= len(value)
            frames.append(bytes([seqno | (0x80 if last else 0)]) + value[at:at + 7].ljust(7, b"\0"))
            st["sent"] = seqno
            if last:
                break
        st["phase"] = "block"
        return frames

    # Block download: initiate 0xC0..0xC6, segments, end 0xC1.
    def block_download(self, data, cs, mux, key, abort):
        if cs & 0x01 == 0:
            if key not in self.od:
                return abort(0x06020000)
            if not self.od[key][1]:
                return abort(0x06010002)
            size = struct.unpack_from("<I", data, 4)[0] if cs & 0x02 else None
            self.state = ["blockdown", key, b"", 0, size, bool(cs & 0x04), False]
            return [b"\xA4" + mux + bytes([self.blksize]) + b"\0\0\0"]
        if not isinstance(self.state, list) or self.state[0] != "blockend":
            return abort(0x05040001, b"\0\0\0")
        _, key, got, _, size, crc_used, _ = self.state
        where = struct.pack("<HB", *key)
        got = got[:len(got) - ((cs >> 2) & 7)]
        if size is not None and size != len(got):
            return abort(0x06070010, where)
        if crc_used and struct.unpack_from("<H", data, 1)[0] != crc16(got):
            return abort(0x05040004, where)
        self.od[key][0] = got
        self.state = None
        return [b"\xA1" + b"\0" * 7]

    def block_download_segment(self, data):
        _, key, got, seqno, size, crc_used, _ = self.state
        this, last = data[0] & 0x7F, bool(data[0] & 0x80)
        if this == seqno + 1:
            got += data[1:8]
            seqno = this
        self.state = ["blockdown", key, got, seqno, size, crc_used, False]
        if not last and this < self.blksize:
            return []
        complete = last and seqno == this
        self.state = ["blockend" if complete else "blockdown", key, got, 0, size, crc_used, False]
        return [bytes([0xA2, seqno, self.blksize]) + b"\0" * 5]


def run_cli_against(server, cli, args, candump_replies):
    """Runs `cli sdo --pipe - - ARGS`, serving its requests; returns (code, out, err)."""
    proc = subprocess.Popen([cli, "sdo", "--pipe", "-", "-"] + args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, bufsize=1)
    out_lines = []
    stamp = 1733600000.0
    for line in proc.stdout:
        parsed = parse_line(line)
        if not parsed or parsed[1] != 0x600 + SERVER_NODE:
            out_lines.append(line)
            continue
        text = ""
        for reply in server.answer(parsed[2]):
            if candump_replies:
                stamp += 0.000250
                text += "(%.6f) vcan0 %03X#%s\n" % (stamp, 0x580 + SERVER_NODE, reply.hex().upper())
            else:
                text += cansend(0x580 + SERVER_NODE, reply)
        if not text:
            continue
        try:
            proc.stdin.write(text)
            proc.stdin.flush()
        except BrokenPipeError:
            break
    proc.stdin.close()
    err = proc.stderr.read()
    return proc.wait(timeout=30), "".join(out_lines), err


def run_server(cli):
    server = SdoServerPeer(segment_without_size={(0x1008, 0)})

    def case(name, args, code, out=None, err=None, candump=False):
        got_code, got_out, got_err = run_cli_against(server, cli, args, candump)
        ok = got_code == code and (out is None or got_out.strip() == out) and (err is None or err in got_err)
        check(name, ok, "exit %d out %r err %r" % (got_code, got_out, got_err))

    case("read u32 expedited", ["read", "34", "1000:00"], 0, "983441 (0x000F0191)")
    case("read text segmented without size", ["read", "34", "1008:0", "--type", "VISIBLE_STRING"], 0,
         "Fremder Knoten 22h", candump=True)
    case("read domain segmented", ["read", "0x22", "2100:00"], 0,
         " ".join("%02X" % b for b in range(30)))
    case("write u16 expedited", ["write", "34", "2101:00", "4660", "--type", "UNSIGNED16"], 0)
    check("server holds the u16", server.od[(0x2101, 0)][0] == b"\x34\x12")
    case("read i32", ["read", "34", "2102:00", "--type", "INTEGER32"], 0, "-5 (0xFFFFFFFB)", candump=True)
    payload = " ".join("%02X" % (0xF0 - b) for b in range(20))
    case("write domain segmented", ["write", "34", "2100:00", payload, "--type", "DOMAIN"], 0)
    check("server holds the domain", server.od[(0x2100, 0)][0] == bytes(0xF0 - b for b in range(20)))
    case("read back segmented", ["read", "34", "2100:00", "--type", "DOMAIN"], 0, payload)
    case("abort missing object", ["read", "34", "3000:00"], 1,
         err="3000:00: Objekt existiert nicht im Objektverzeichnis (0x06020000)")
    case("abort read-only", ["write", "34", "1001:00", "5", "--type", "UNSIGNED8"], 1,
         err="Objekt ist nur lesbar (Schreiben nicht möglich) (0x06010002)")
    case("abort wrong length", ["write", "34", "2101:00", "5", "--type", "UNSIGNED32"], 1, err="(0x06070010)")
    case("value out of range is refused", ["write", "34", "2101:00", "70000", "--type", "UNSIGNED16"], 2,
         out="", err="Wert außerhalb des Bereichs 0 … 65535.")
    check("server unchanged after refusal", server.od[(0x2101, 0)][0] == b"\x34\x12")

    # Block transfers through `sdo --block`, in the server's blocks of 10.
    value_file = os.path.join(os.environ.get("TMPDIR", "/tmp"), "busvista_block_%d.bin" % os.getpid())
    try:
        for size in (1, 7, 889, 100 * 1024):
            value = bytes((i * 31 + i // 97) % 256 for i in range(size))
            with open(value_file, "wb") as f:
                f.write(value)
            case("block download %d bytes" % size, ["write", "34", "2200:00", "--file", value_file, "--block"], 0)
            check("server holds %d bytes" % size, server.od[(0x2200, 0)][0] == value)
            os.remove(value_file)
            case("block upload %d bytes" % size, ["read", "34", "2200:00", "--output", value_file, "--block"], 0)
            with open(value_file, "rb") as f:
                check("file holds %d bytes" % size, f.read() == value)
        hex_text = " ".join("%02X" % b for b in value[:889])
        server.od[(0x2200, 0)][0] = value[:889]
        case("block upload to stdout", ["read", "34", "2200:00", "--type", "DOMAIN", "--block"], 0, hex_text)
    finally:
        if os.path.exists(value_file):
            os.remove(value_file)
    server.corrupt_crc = True
    case("block upload with a wrong CRC", ["read", "34", "1008:00", "--block"], 1, err="(0x05040004)")
    server.corrupt_crc = False
    server.block = False
    case("block refused: segmented read", ["read", "34", "1008:00", "--block", "--type", "VISIBLE_STRING"], 0,
         "Fremder Knoten 22h")
    case("block refused: segmented write", ["write", "34", "2100:00", "01 02 03 04 05 06 07 08", "--type", "DOMAIN",
                                            "--block"], 0)
    check("server holds the fallback write", server.od[(0x2100, 0)][0] == bytes(range(1, 9)))


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("client", "server"):
        print(__doc__)
        return 2
    cli = os.path.abspath(sys.argv[2])
    (run_client if sys.argv[1] == "client" else run_server)(cli)
    print("%d passed, %d failed" % (results["passed"], results["failed"]))
    return 1 if results["failed"] or not results["passed"] else 0


if __name__ == "__main__":
    sys.exit(main())
