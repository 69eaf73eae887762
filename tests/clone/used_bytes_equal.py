#!/usr/bin/python3
"""Compares two ext2/3/4 devices byte for byte everywhere but the blocks the first one's bitmaps list as free.

Everything the file system does not list as free counts as used, including what lies before its first bitmap
block (the boot block of a 1 KiB-block file system). Exit status 0 when equal; prints the first difference.
    used_bytes_equal.py SOURCE COPY
"""
import re
import subprocess
import sys


def free_ranges(device):
    text = subprocess.run(["dumpe2fs", device], capture_output=True, text=True, check=True).stdout
    block_size = int(re.search(r"^Block size:\s+(\d+)", text, re.M).group(1))
    ranges = []
    # Per group, indented: "  Free blocks: 1-5, 9, 12-40"; the summary line is not indented.
    for line in re.findall(r"^\s+Free blocks: (.*)$", text, re.M):
        for part in filter(None, (p.strip() for p in line.split(","))):
            first, _, last = part.partition("-")
            ranges.append((int(first), int(last or first)))
    return block_size, sorted(ranges)


def used_ranges(size, block_size, free):
    cursor = 0
    for first, last in free:
        if first * block_size > cursor:
            yield cursor, first * block_size
        cursor = max(cursor, (last + 1) * block_size)
    if cursor < size:
        yield cursor, size


def main():
    source, copy = sys.argv[1:3]
    block_size, free = free_ranges(source)
    with open(source, "rb") as a, open(copy, "rb") as b:
        size = a.seek(0, 2)
        compared = 0
        for start, end in used_ranges(size, block_size, free):
            a.seek(start)
            b.seek(start)
            offset = start
            while offset < end:
                step = min(end - offset, 1 << 20)
                left, right = a.read(step), b.read(step)
                if left != right:
                    at = next(i for i in range(len(left)) if i >= len(right) or left[i] != right[i])
                    print(f"used byte at offset {offset + at} differs")
                    return 1
                offset += step
                compared += step
    print(f"{compared} used bytes equal, {len(free)} free ranges skipped")
    return 0


if __name__ == "__main__":
    sys.exit(main())
