#!/usr/bin/env python3
"""Walks a Unicode PST file and reports every fault of its structure: the header and its CRCs,
each B-tree page (trailer, CRC, signature, id, key order), every block the block B-tree names
(trailer, size, CRC, signature), every node's data and subnode trees, and the allocation maps
against what is really in use. Written from the file format alone, for the tests.
Run: check_pst.py FILE.pst ... (exit status 1 when a fault is found)."""
import struct
import sys
import zlib

PAGE = 512
FIRST_MAP = 0x4400
REGION = 496 * 8 * 64


# Nodes every file holds: the message store, the name-to-id map, the folder and search folder
# templates, the search queues and lists (and the reserved nodes among them), the table
# templates.
MANDATORY_NODES = (0x21, 0x61, 0xA1, 0xC1, 0x1E1, 0x201, 0x241, 0x261, 0x281, 0x2A1, 0x2E1,
                   0x301, 0x321, 0x60D, 0x60E, 0x60F, 0x610, 0x671, 0x692, 0x6B6)
# The fixed folders and their parents: the root (its own parent), the top of the personal
# folders, the search root and the spam search folder under the root.
MINIMUM_FOLDERS = {0x122: 0x122, 0x8022: 0x122, 0x8042: 0x122, 0x8063: 0x122}


def crc(data):
    # The format's CRC-32 starts at 0 and is not inverted at the end; zlib's is both.
    return zlib.crc32(data, 0xFFFFFFFF) ^ 0xFFFFFFFF


def sig(ib, bid):
    x = (ib ^ bid) & 0xFFFFFFFF
    return ((x >> 16) ^ x) & 0xFFFF


def map_pages(k):
    """Offsets of the map pages that open region k."""
    start = FIRST_MAP + k * REGION
    pages = [(start, 0x84)]
    if k % 8 == 0:
        pages.append((start + PAGE * len(pages), 0x83))
    if k >= 128 and (k - 128) % 496 == 0:
        pages.append((start + PAGE * len(pages), 0x82))
    if k >= 1024 and (k - 1024) % (496 * 8) == 0:
        pages.append((start + PAGE * len(pages), 0x85))
    return pages


class PstCheck:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.d = f.read()
        self.faults = []
        self.blocks = {}  # bid -> (ib, cb)
        self.nodes = []   # (nid, bidData, bidSub, parent)
        self.used = {}    # 64-byte slot -> what uses it

    def fault(self, msg):
        if len(self.faults) < 50:
            self.faults.append(msg)

    def u(self, fmt, at):
        return struct.unpack_from("<" + fmt, self.d, at)

    def claim(self, ib, size, what):
        if ib % 64 or size % 64 or ib + size > len(self.d):
            self.fault(f"{what} at {ib:#x} ({size} bytes) is misplaced")
            return
        for slot in range(ib // 64, (ib + size) // 64):
            if slot in self.used:
                self.fault(f"{what} at {ib:#x} overlaps {self.used[slot]}")
                return
            self.used[slot] = what

    def check(self):
        d = self.d
        if len(d) < 0x4400 or d[:4] != b"!BDN" or d[8:10] != b"SM":
            self.fault("not a PST file")
            return self.faults
        if self.u("H", 10)[0] < 23:
            self.fault("not a Unicode PST (wVer %d)" % self.u("H", 10)[0])
        if self.u("I", 4)[0] != crc(d[8:8 + 471]):
            self.fault("header: partial CRC wrong")
        if self.u("I", 524)[0] != crc(d[8:8 + 516]):
            self.fault("header: full CRC wrong")
        if d[512] != 0x80:
            self.fault("header: sentinel missing")
        root = 180
        eof, amap_last, amap_free = self.u("QQQ", root + 4)
        nbt_bid, nbt_ib, bbt_bid, bbt_ib = self.u("QQQQ", root + 36)
        if eof != len(d):
            self.fault(f"header: end of file {eof:#x}, file is {len(d):#x}")
        if (eof - FIRST_MAP) % REGION:
            self.fault("file does not end at a region boundary")
        regions = (len(d) - FIRST_MAP) // REGION
        if amap_last != FIRST_MAP + (regions - 1) * REGION:
            self.fault(f"header: last AMap {amap_last:#x}")
        if d[root + 68] != 2:
            self.fault("header: allocation maps not marked valid")
        next_b = self.u("Q", 516)[0]
        next_p = self.u("Q", 32)[0]

        bbt = []
        self.walk(bbt_bid, bbt_ib, 0x80, bbt, None)
        nbt = []
        self.walk(nbt_bid, nbt_ib, 0x81, nbt, None)
        for a, b in zip(bbt, bbt[1:]):
            if a[0] >= b[0]:
                self.fault(f"block B-tree keys out of order: {a[0]:#x} then {b[0]:#x}")
        for a, b in zip(nbt, nbt[1:]):
            if a[0] >= b[0]:
                self.fault(f"node B-tree keys out of order: {a[0]:#x} then {b[0]:#x}")
        for bid, ib, cb, _ in bbt:
            if bid >= next_b:
                self.fault(f"block {bid:#x} not below the next block id {next_b:#x}")
            self.check_block(bid, ib, cb)
        self.nodes = nbt
        for nid, data, sub, _ in nbt:
            self.data_tree(data, f"node {nid:#x}")
            if sub:
                self.sub_tree(sub, f"node {nid:#x}")
        self.check_minimum(nbt)
        self.check_maps(regions, amap_free)
        if self.max_page_bid >= next_p:
            self.fault("a page id is not below the next page id")
        return self.faults

    max_page_bid = 0

    def check_minimum(self, nbt):
        """The nodes a minimal Outlook file holds, and the fixed folders under their parents."""
        parents = {nid: parent for nid, _, _, parent in nbt}
        for nid in MANDATORY_NODES:
            if nid not in parents:
                self.fault(f"mandatory node {nid:#x} missing")
        for nid, parent in MINIMUM_FOLDERS.items():
            if nid not in parents:
                self.fault(f"folder {nid:#x} missing")
            elif parents[nid] != parent:
                self.fault(f"folder {nid:#x} under {parents[nid]:#x}, not {parent:#x}")
            # Each folder's three tables; a search folder has a search contents table.
            contents = 0x10 if nid & 0x1F == 3 else 0x0E
            for kind in (0x0D, contents, 0x0F):
                if (nid & ~0x1F) | kind not in parents:
                    self.fault(f"folder {nid:#x}: table {(nid & ~0x1F) | kind:#x} missing")
        if not any(p == 0x8022 and n & 0x1F == 2 for n, p in parents.items()):
            self.fault("no folder (Deleted Items) under the top of the personal folders")

    def walk(self, bid, ib, ptype, out, first_key):
        if ib + PAGE > len(self.d) or ib % PAGE:
            self.fault(f"B-tree page {bid:#x} at {ib:#x} outside the file")
            return
        p = self.d[ib:ib + PAGE]
        self.claim(ib, PAGE, f"B-tree page {bid:#x}")
        self.max_page_bid = max(self.max_page_bid, bid)
        t_type, t_rep, t_sig, t_crc, t_bid = struct.unpack_from("<BBHIQ", p, 496)
        if t_type != ptype or t_rep != ptype:
            self.fault(f"page at {ib:#x}: type {t_type:#x}, expected {ptype:#x}")
            return
        if t_crc != crc(p[:496]):
            self.fault(f"page at {ib:#x}: CRC wrong")
        if t_bid != bid:
            self.fault(f"page at {ib:#x}: id {t_bid:#x}, referenced as {bid:#x}")
        if t_sig != sig(ib, bid):
            self.fault(f"page at {ib:#x}: signature wrong")
        c_ent, c_max, cb_ent, level = p[488], p[489], p[490], p[491]
        if c_ent > c_max or c_ent * cb_ent > 488:
            self.fault(f"page at {ib:#x}: {c_ent} entries of {cb_ent} bytes do not fit")
            return
        keys = []
        for i in range(c_ent):
            at = i * cb_ent
            if level > 0:
                key, cbid, cib = struct.unpack_from("<QQQ", p, at)
                keys.append(key)
                before = len(out)
                self.walk(cbid, cib, ptype, out, key)
                if len(out) > before and out[before][0] != key:
                    self.fault(f"page at {ib:#x}: key {key:#x} is not its child's first key")
            elif ptype == 0x80:
                e = struct.unpack_from("<QQHH", p, at)
                keys.append(e[0])
                out.append(e)
            else:
                nid, data, sub, parent = struct.unpack_from("<QQQI", p, at)
                keys.append(nid)
                out.append((nid, data, sub, parent))
        if keys != sorted(set(keys)):
            self.fault(f"page at {ib:#x}: keys not in strictly ascending order")

    def check_block(self, bid, ib, cb):
        size = (cb + 16 + 63) // 64 * 64
        if size > 8192 or ib + size > len(self.d):
            self.fault(f"block {bid:#x}: size {cb} at {ib:#x} impossible")
            return
        self.claim(ib, size, f"block {bid:#x}")
        t_cb, t_sig, t_crc, t_bid = struct.unpack_from("<HHIQ", self.d, ib + size - 16)
        if t_cb != cb or t_bid != bid:
            self.fault(f"block {bid:#x}: trailer says {t_cb} bytes, id {t_bid:#x}")
        if t_sig != sig(ib, bid):
            self.fault(f"block {bid:#x}: signature wrong")
        if t_crc != crc(self.d[ib:ib + cb]):
            self.fault(f"block {bid:#x}: CRC wrong")
        self.blocks[bid] = (ib, cb)

    def block(self, bid, what):
        if bid not in self.blocks:
            self.fault(f"{what}: block {bid:#x} is not in the block B-tree")
            return None
        ib, cb = self.blocks[bid]
        return self.d[ib:ib + cb]

    def data_tree(self, bid, what):
        """Size of the data under `bid` (following XBLOCK and XXBLOCK)."""
        b = self.block(bid, what)
        if b is None:
            return 0
        if not bid & 2:
            return len(b)
        if len(b) < 8 or b[0] != 1 or b[1] not in (1, 2):
            self.fault(f"{what}: internal block {bid:#x} is not an XBLOCK")
            return 0
        n, total = struct.unpack_from("<HI", b, 2)
        if 8 + 8 * n != len(b):
            self.fault(f"{what}: XBLOCK {bid:#x} holds {n} ids in {len(b)} bytes")
            return 0
        got = 0
        for i in range(n):
            child = struct.unpack_from("<Q", b, 8 + 8 * i)[0]
            if b[1] == 2 and not child & 2:
                self.fault(f"{what}: XXBLOCK {bid:#x} names a data block")
            got += self.data_tree(child, what)
        if got != total:
            self.fault(f"{what}: XBLOCK {bid:#x} says {total} bytes, holds {got}")
        return total

    def sub_tree(self, bid, what):
        b = self.block(bid, what)
        if b is None:
            return
        if not bid & 2 or len(b) < 8 or b[0] != 2 or b[1] not in (0, 1):
            self.fault(f"{what}: subnode block {bid:#x} is not an SLBLOCK/SIBLOCK")
            return
        n = struct.unpack_from("<H", b, 2)[0]
        size = 24 if b[1] == 0 else 16
        if 8 + size * n != len(b):
            self.fault(f"{what}: subnode block {bid:#x} holds {n} entries in {len(b)} bytes")
            return
        nids = []
        for i in range(n):
            at = 8 + size * i
            if b[1] == 0:
                nid, data, sub = struct.unpack_from("<QQQ", b, at)
                self.data_tree(data, f"{what} subnode {nid:#x}")
                if sub:
                    self.sub_tree(sub, f"{what} subnode {nid:#x}")
            else:
                nid, child = struct.unpack_from("<QQ", b, at)
                self.sub_tree(child, what)
            nids.append(nid)
        if nids != sorted(set(nids)):
            self.fault(f"{what}: subnode entries out of order")

    def check_maps(self, regions, amap_free):
        free = 0
        for k in range(regions):
            start = FIRST_MAP + k * REGION
            for ib, ptype in map_pages(k):
                p = self.d[ib:ib + PAGE]
                self.claim(ib, PAGE, f"map page {ptype:#x}")
                t_type, t_rep, _, t_crc, t_bid = struct.unpack_from("<BBHIQ", p, 496)
                if t_type != ptype or t_rep != ptype or t_crc != crc(p[:496]) or t_bid != ib:
                    self.fault(f"map page at {ib:#x}: trailer wrong")
            bits = self.d[start:start + 496]
            for i in range(496 * 8):
                slot = start // 64 + i
                marked = bool(bits[i // 8] & (0x80 >> (i % 8)))
                if marked != (slot in self.used):
                    state = "marked used" if marked else "marked free"
                    user = self.used.get(slot, "nothing")
                    self.fault(f"AMap at {start:#x}: {slot * 64:#x} {state}, used by {user}")
                free += 0 if marked else 64
        if free != amap_free:
            self.fault(f"header: {amap_free} bytes free, the maps say {free}")


def main():
    bad = 0
    for path in sys.argv[1:]:
        faults = PstCheck(path).check()
        for f in faults:
            print(f"{path}: {f}")
        bad += len(faults)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
