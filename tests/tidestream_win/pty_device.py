#!/usr/bin/env python3
"""Plays a serial device on a pseudo-terminal that a Wine prefix sees as a COM port.

pty_device.py --prefix WINEPREFIX --port COMn [--register WINE_RUN] -- COMMAND...

The pty's slave is linked as dosdevices/comn of the prefix (Wine opens
\\\\.\\COMn through that link), COMMAND runs with SUITE_COM_PORT=COMn, and the
device echoes every byte it receives until a write holds "BYE": then it hangs
up (closes the master). Ends with COMMAND's exit status.

With --register the port is also entered in HKLM\\Software\\Wine\\Ports, and the
prefix's wineserver is stopped so that Wine starts again and lists the port in
HARDWARE\\DEVICEMAP\\SERIALCOMM (SUITE_COM_REGISTERED=1 tells COMMAND so). That
restart ends every Wine program of the prefix: give it a prefix of its own.
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


def register(wine_run, prefix, port, node):
    os.makedirs(prefix, exist_ok=True)
    with open(os.path.join(prefix, "register.log"), "ab") as log:
        subprocess.run([wine_run, "--prefix", prefix, "reg", "add", "HKLM\\Software\\Wine\\Ports",
                        "/v", port, "/d", node, "/f"], stdout=log, stderr=log, check=True)
        wineserver = os.path.join(os.environ.get("SUITE_WINE_DIR", "/usr/lib/wine"), "wineserver")
        env = dict(os.environ, WINEPREFIX=prefix)
        subprocess.run([wineserver, "-k"], env=env, stdout=log, stderr=log, check=False)
        subprocess.run([wineserver, "-w"], env=env, stdout=log, stderr=log, check=False)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--port", required=True)
    parser.add_argument("--register", metavar="WINE_RUN")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command

    master, slave = pty.openpty()
    tty.setraw(master)
    tty.setraw(slave)
    env = dict(os.environ, SUITE_COM_PORT=args.port)
    if args.register:
        register(args.register, args.prefix, args.port, os.ttyname(slave))
        env["SUITE_COM_REGISTERED"] = "1"
    link = os.path.join(args.prefix, "dosdevices", args.port.lower())
    os.makedirs(os.path.dirname(link), exist_ok=True)
    if os.path.lexists(link):
        os.unlink(link)
    os.symlink(os.ttyname(slave), link)
    # The slave stays open here: with none open, reads of the master fail.
    device = threading.Thread(target=play, args=(master,), daemon=True)
    device.start()
    try:
        return subprocess.run(command, env=env, check=False).returncode
    finally:
        if os.path.lexists(link):
            os.unlink(link)
        os.close(slave)


if __name__ == "__main__":
    sys.exit(main())
