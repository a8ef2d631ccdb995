#!/usr/bin/env python3
"""The phone's end of the serial line for the serial tests run under Wine.

A Windows program cannot make a pseudo-terminal, so this holds the master side
of one and maps its slave as a COM port (DOSDEVICES/comN, the first free N from
40). It writes the port's name to DIR/port once the line is up, then carries out
orders, files named DIR/orders/NNNNNNNN.KIND, in name order, each once, and
answers each with DIR/orders/NNNNNNNN.done when it is done (the test waits for
that). Orders stay where they are: Wine looks a renamed file up under its new
name after the rename, and a file gone by then makes the rename fail on the
Windows side although it happened.

  session  starts DIR/received-NNNNNNNN.bin, where what the line brings in goes
           from now on; a hung-up line is brought back first, under the same
           port name
  send     writes the order file's bytes to the line in one write
  stall    stops reading the line, so that the port's writes back up
  resume   reads it again
  hangup   closes the line, as a cable pulled at the phone

The slave keeps the cooked settings a new pseudo-terminal has: the port under
test has to make the line raw itself. Ends on SIGTERM, when the process that
started it is gone, or after --lifetime seconds. The native build runs it too,
through K482_DOSDEVICES, so that it is checked without Wine.
"""

import argparse
import fcntl
import os
import select
import signal
import sys
import termios
import time

POLL_SECONDS = 0.002
# What the orders ask for; drafts, answers and anything else are not orders.
KINDS = ("session", "send", "stall", "resume", "hangup")


class Line:
    def __init__(self, dosdevices):
        self.dosdevices = dosdevices
        self.link = None
        self.master = self.slave = None

    def up(self):
        return self.master is not None

    def open(self):
        self.master, self.slave = os.openpty()
        target = os.ttyname(self.slave)
        # Wine's server would otherwise take the line as its controlling terminal
        # when the port opens, and then get SIGHUP (and dump its state) on a hang-up.
        try:
            fcntl.ioctl(self.slave, termios.TIOCSCTTY, 0)
        except OSError:
            pass
        if self.link is None:
            for number in range(40, 256):
                link = os.path.join(self.dosdevices, "com%d" % number)
                try:
                    os.symlink(target, link)
                except FileExistsError:
                    continue
                self.link = link
                return "COM%d" % number
            raise SystemExit("wine_peer: no free COM port in " + self.dosdevices)
        # Same name, new line: swap the mapping in one step.
        temporary = self.link + ".new"
        if os.path.lexists(temporary):
            os.unlink(temporary)
        os.symlink(target, temporary)
        os.replace(temporary, self.link)
        return None

    def close(self):
        for fd in (self.master, self.slave):
            if fd is not None:
                os.close(fd)
        self.master = self.slave = None

    def read(self, timeout):
        if not self.up():
            return b""
        ready, _, _ = select.select([self.master], [], [], timeout)
        if not ready:
            return b""
        try:
            return os.read(self.master, 65536)
        except OSError:
            return b""

    def write(self, data):
        view = memoryview(data)
        while self.up() and view:
            view = view[os.write(self.master, view):]

    def remove(self):
        self.close()
        if self.link is not None and os.path.lexists(self.link):
            os.unlink(self.link)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dosdevices", required=True)
    parser.add_argument("--dir", required=True)
    parser.add_argument("--lifetime", type=float, default=1800)
    args = parser.parse_args()

    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    # Owning our lines as controlling terminals needs a session of our own; the
    # hang-ups we cause ourselves are no reason to end.
    signal.signal(signal.SIGHUP, signal.SIG_IGN)
    try:
        os.setsid()
    except OSError:
        pass
    parent = os.getppid()
    end = time.monotonic() + args.lifetime
    orders = os.path.join(args.dir, "orders")
    os.makedirs(orders, exist_ok=True)

    line = Line(args.dosdevices)
    try:
        port = line.open()
        with open(os.path.join(args.dir, "port.new"), "w") as out:
            out.write(port)
        os.replace(os.path.join(args.dir, "port.new"), os.path.join(args.dir, "port"))

        received = None
        stalled = False
        done = set()
        while time.monotonic() < end and os.getppid() == parent:
            if line.up() and not stalled:
                data = line.read(POLL_SECONDS)
                if data and received is not None:
                    received.write(data)
                    received.flush()
            else:
                time.sleep(POLL_SECONDS)

            for name in sorted(os.listdir(orders)):
                number, _, kind = name.partition(".")
                if kind not in KINDS or name in done:
                    continue
                path = os.path.join(orders, name)
                with open(path, "rb") as order:
                    content = order.read()
                if kind == "session":
                    # What is still on its way belongs to the session before.
                    data = line.read(0)
                    while data:
                        if received is not None:
                            received.write(data)
                        data = line.read(0)
                    if received is not None:
                        received.close()
                    if not line.up():
                        line.open()
                    received = open(os.path.join(args.dir, "received-%s.bin" % number), "wb")
                    stalled = False
                elif kind == "send":
                    line.write(content)
                elif kind == "stall":
                    stalled = True
                elif kind == "resume":
                    stalled = False
                elif kind == "hangup":
                    line.close()
                done.add(name)
                answer = os.path.join(orders, number + ".done")
                with open(answer + ".new", "w"):
                    pass
                os.replace(answer + ".new", answer)
    finally:
        line.remove()


if __name__ == "__main__":
    main()
