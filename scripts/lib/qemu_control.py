#!/usr/bin/env python3
"""Talks to a running QEMU for scripts/test-vm.sh: its monitor (QMP) and the
guest agent in the booted system (qemu-guest-agent on a virtio-serial port),
both on unix sockets.

  qemu_control.py qmp SOCKET COMMAND [ARGUMENTS-JSON]
      runs a monitor command, prints its answer as JSON; exit 1 on an error
  qemu_control.py ping SOCKET SECONDS
      waits until the guest agent answers; exit 1 when it does not in time
  qemu_control.py run SOCKET [--timeout S] [--stdin FILE] -- PROGRAM [ARG...]
      runs a program in the guest, passes on its output and its exit status
  qemu_control.py start SOCKET [--stdin FILE] -- PROGRAM [ARG...]
      starts it and prints its process number at once
  qemu_control.py wait SOCKET PID [--timeout S]
      waits for a started program as run does
An exit status of 124 means the program did not end in time (it goes on).
"""

import argparse
import base64
import json
import socket
import sys
import time

TIMED_OUT = 124


class Channel:
    """One JSON object a line each way over a unix socket."""

    def __init__(self, path, timeout=10.0):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.settimeout(timeout)
        self.sock.connect(path)
        self.buffer = b""

    def send(self, message):
        self.sock.sendall(json.dumps(message).encode() + b"\n")

    def receive(self):
        while b"\n" not in self.buffer:
            data = self.sock.recv(65536)
            if not data:
                raise ConnectionError("the other side closed the socket")
            self.buffer += data
        line, self.buffer = self.buffer.split(b"\n", 1)
        # The agent's answer to guest-sync-delimited starts with 0xFF.
        line = line.lstrip(b"\xff").strip()
        return json.loads(line) if line else self.receive()

    def answer(self):
        """The next answer, past the monitor's asynchronous events."""
        while True:
            message = self.receive()
            if "event" not in message:
                return message

    def call(self, command, arguments=None):
        request = {"execute": command}
        if arguments is not None:
            request["arguments"] = arguments
        self.send(request)
        reply = self.answer()
        if "error" in reply:
            raise RuntimeError(f"{command}: {reply['error'].get('desc', reply['error'])}")
        return reply.get("return")


def monitor(path):
    channel = Channel(path)
    channel.answer()  # the greeting
    channel.call("qmp_capabilities")
    return channel


def agent(path, timeout=10.0):
    """A channel to the guest agent, past whatever an earlier client left in
    the port: guest-sync-delimited with a fresh number, answers read until it
    comes back."""
    channel = Channel(path, timeout)
    token = int(time.time() * 1000) % 2**31
    channel.sock.sendall(b"\xff")  # ends a half-sent request of an earlier client
    channel.send({"execute": "guest-sync-delimited", "arguments": {"id": token}})
    while channel.answer().get("return") != token:
        pass
    return channel


def command_qmp(options):
    arguments = json.loads(options.arguments) if options.arguments else None
    print(json.dumps(monitor(options.socket).call(options.command, arguments)))


def command_ping(options):
    deadline = time.monotonic() + options.seconds
    while True:
        try:
            agent(options.socket, timeout=2.0).call("guest-ping")
            return 0
        except (OSError, ConnectionError, ValueError):
            if time.monotonic() >= deadline:
                return 1
            time.sleep(0.5)


def start(path, argv, stdin_file):
    arguments = {"path": argv[0], "arg": argv[1:], "capture-output": True}
    if stdin_file:
        with open(stdin_file, "rb") as data:
            arguments["input-data"] = base64.b64encode(data.read()).decode()
    return agent(path).call("guest-exec", arguments)["pid"]


def wait(path, pid, timeout):
    deadline = time.monotonic() + timeout
    channel = agent(path)
    while True:
        status = channel.call("guest-exec-status", {"pid": pid})
        if status["exited"]:
            break
        if time.monotonic() >= deadline:
            print(f"qemu_control: process {pid} still runs after {timeout} s", file=sys.stderr)
            return TIMED_OUT
        time.sleep(0.05)
    sys.stdout.buffer.write(base64.b64decode(status.get("out-data", "")))
    sys.stdout.flush()
    sys.stderr.buffer.write(base64.b64decode(status.get("err-data", "")))
    sys.stderr.flush()
    if "signal" in status:
        return 128 + status["signal"]
    return status.get("exitcode", 1)


def main():
    parser = argparse.ArgumentParser(description="QEMU's monitor and guest agent for scripts/test-vm.sh")
    commands = parser.add_subparsers(dest="name", required=True)
    qmp = commands.add_parser("qmp")
    qmp.add_argument("socket")
    qmp.add_argument("command")
    qmp.add_argument("arguments", nargs="?")
    ping = commands.add_parser("ping")
    ping.add_argument("socket")
    ping.add_argument("seconds", type=float)
    for name in ("run", "start"):
        sub = commands.add_parser(name)
        sub.add_argument("socket")
        sub.add_argument("--stdin")
        if name == "run":
            sub.add_argument("--timeout", type=float, default=60)
    waiting = commands.add_parser("wait")
    waiting.add_argument("socket")
    waiting.add_argument("pid", type=int)
    waiting.add_argument("--timeout", type=float, default=60)
    # The guest's program and its arguments follow "--", untouched.
    arguments = sys.argv[1:]
    argv = []
    if "--" in arguments:
        argv = arguments[arguments.index("--") + 1:]
        arguments = arguments[:arguments.index("--")]
    options = parser.parse_args(arguments)
    if options.name in ("run", "start") and not argv:
        parser.error("no program given after --")

    try:
        if options.name == "qmp":
            command_qmp(options)
            return 0
        if options.name == "ping":
            return command_ping(options)
        if options.name == "start":
            print(start(options.socket, argv, options.stdin))
            return 0
        if options.name == "run":
            pid = start(options.socket, argv, options.stdin)
            return wait(options.socket, pid, options.timeout)
        return wait(options.socket, options.pid, options.timeout)
    except (OSError, ConnectionError, RuntimeError, ValueError) as error:
        print(f"qemu_control: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
