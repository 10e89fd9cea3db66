#!/usr/bin/env python3
"""Plays a serial device on a pseudo-terminal that a Wine prefix sees as a COM port.

pty_device.py --prefix WINEPREFIX --port COMn -- COMMAND...

The pty's slave is linked as dosdevices/comn of the prefix (Wine opens
\\\\.\\COMn through that link), COMMAND runs with SUITE_COM_PORT=COMn, and the
device echoes every byte it receives until a write holds "BYE": then it hangs
up (closes the master). Ends with COMMAND's exit status.
"""
import argparse
import os
import pty
import subprocess
import sys
import threading
import tty


def play(master):
    seen = b""
    while True:
        try:
            data = os.read(master, 4096)
        except OSError:
            break
        if not data:
            break
        seen = (seen + data)[-8:]
        if b"BYE" in seen:
            break
        os.write(master, data)
    os.close(master)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--port", required=True)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command

    master, slave = pty.openpty()
    tty.setraw(master)
    tty.setraw(slave)
    link = os.path.join(args.prefix, "dosdevices", args.port.lower())
    os.makedirs(os.path.dirname(link), exist_ok=True)
    if os.path.lexists(link):
        os.unlink(link)
    os.symlink(os.ttyname(slave), link)
    # The slave stays open here: with none open, reads of the master fail.
    device = threading.Thread(target=play, args=(master,), daemon=True)
    device.start()
    try:
        env = dict(os.environ, SUITE_COM_PORT=args.port)
        return subprocess.run(command, env=env, check=False).returncode
    finally:
        os.unlink(link)
        os.close(slave)


if __name__ == "__main__":
    sys.exit(main())
