#!/usr/bin/env python3
"""Watches the Wine processes of one prefix from Linux and writes when each
started and ended, for the road's time breakdown:

    process_watch.py PREFIX OUT STOPFILE

Each line of OUT: "start|end EPOCH_SECONDS PID COMMAND LINE". A start time is
the kernel's (exact to its clock tick), an end time the first poll that no
longer finds the process (20 ms apart). Ends when STOPFILE exists.
"""
import os
import sys
import time

POLL_S = 0.02


def boot_time():
    with open('/proc/uptime') as uptime:
        return time.time() - float(uptime.read().split()[0])


def running(pid):
    """Alive and not a zombie its parent has yet to reap."""
    try:
        with open(f'/proc/{pid}/stat') as stat:
            return stat.read().rsplit(')', 1)[1].split()[0] != 'Z'
    except (OSError, IndexError):
        return False


def prefix_process(pid, marker, boot, tick):
    """(start, command line) of a process of the prefix, else None."""
    try:
        with open(f'/proc/{pid}/environ', 'rb') as env:
            if marker not in env.read().split(b'\0'):
                return None
        with open(f'/proc/{pid}/cmdline', 'rb') as cmd:
            command = cmd.read().replace(b'\0', b' ').decode(errors='replace').strip()
        with open(f'/proc/{pid}/stat') as stat:
            fields = stat.read().rsplit(')', 1)[1].split()
        return boot + int(fields[19]) / tick, command
    except (OSError, IndexError, ValueError):
        return None


def main():
    prefix, out_path, stop_path = sys.argv[1:4]
    marker = f'WINEPREFIX={prefix}'.encode()
    boot, tick = boot_time(), os.sysconf('SC_CLK_TCK')
    alive = {}
    with open(out_path, 'w') as out:
        while not os.path.exists(stop_path):
            now, seen = time.time(), set()
            for pid in filter(str.isdigit, os.listdir('/proc')):
                if pid in alive:
                    if running(pid):
                        seen.add(pid)
                    continue
                found = prefix_process(pid, marker, boot, tick)
                if found:
                    alive[pid] = found[1]
                    seen.add(pid)
                    out.write(f'start {found[0]:.3f} {pid} {found[1]}\n')
            for pid in [p for p in alive if p not in seen]:
                out.write(f'end {now:.3f} {pid} {alive.pop(pid)}\n')
            out.flush()
            time.sleep(POLL_S)


if __name__ == '__main__':
    main()
