"""A session of tarnwick-host driven from Python.

The session runs `tarnwick-host --session --json`, writes one command a line to its standard
input with a number in front, and reads one JSON object a line back: the lines of a command's
answer carry its number, the last one marked "done"; events come in between.
"""

import itertools
import json
import queue
import subprocess
import threading

__all__ = ["Session", "Control", "Event", "TarnwickError"]


class TarnwickError(Exception):
    """A command that failed; the message is the host's."""

    def __init__(self, message, command=None):
        super().__init__(message)
        self.message = message
        self.command = command


class Event:
    """An event of a watched control: its name, the control's name and the arguments."""

    def __init__(self, line):
        self.name = line.get("event")
        self.control = line.get("control")
        self.args = line.get("args", [])
        self.id = line.get("ask")

    def __repr__(self):
        return f"Event({self.name!r} on {self.control!r}, args={self.args!r})"


def _word(value):
    """One word of a command line: texts quoted (so they stay texts), the rest as written."""
    if isinstance(value, Control):
        return _name(value.name)
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, (int, float)):
        return repr(value)
    return _quote(str(value))


def _name(text):
    """A control's name: as written ("Edit[0]", "#102"), or quoted when it holds blanks."""
    plain = text and not any(c.isspace() or c == '"' for c in text)
    return text if plain else _quote(text)


def _quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


class Control:
    """A control of the application, named as `list` names it ("Edit[0]", "#102", "OK").

    Its properties read and set as attributes (`edit.Text = "hi"`); its operations are
    methods (`button.PerformClick("")`). What the control has comes from the host's
    `members` command, asked once.
    """

    def __init__(self, session, name):
        object.__setattr__(self, "_session", session)
        object.__setattr__(self, "name", name)
        object.__setattr__(self, "_members", None)

    def members(self):
        if self._members is None:
            answer = self._session.command("members", self)[-1]
            members = {
                "properties": {p["name"]: p.get("settable", False)
                               for p in answer.get("properties", [])},
                "operations": set(answer.get("operations", [])),
                "events": list(answer.get("events", [])),
            }
            object.__setattr__(self, "_members", members)
        return self._members

    def get(self, prop):
        return self._session.command("get", self, _Bare(prop))[-1].get("result")

    def set(self, prop, value):
        return self._session.command("set", self, _Bare(prop), value)[-1].get("result")

    def call(self, operation, *args):
        return self._session.command("call", self, _Bare(operation), *args)[-1].get("result")

    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        members = self.members()
        if name in members["properties"]:
            return self.get(name)
        if name in members["operations"]:
            return lambda *args: self.call(name, *args)
        raise AttributeError(f"{self.name} has no property or operation {name}")

    def __setattr__(self, name, value):
        properties = self.members()["properties"]
        if not properties.get(name, False):
            raise AttributeError(f"{self.name} has no settable property {name}")
        self.set(name, value)

    def __repr__(self):
        return f"Control({self.name!r})"


class _Bare(str):
    """A word written as it is: a property or operation name."""


class Session:
    """One attached application, through a tarnwick-host process of its own.

    `command` is how to run tarnwick-host (a list, default ["tarnwick-host"]); `timeout` is
    every wait of the host in seconds, answers to asked events included; a command whose
    answer has not come after `reply_timeout` seconds raises TarnwickError.
    """

    def __init__(self, command=None, timeout=None, transport=None, cwd=None, reply_timeout=300):
        self._reply_timeout = reply_timeout
        argv = list(command or ["tarnwick-host"]) + ["--session", "--json"]
        if timeout is not None:
            argv += ["--timeout", str(timeout)]
        if transport is not None:
            argv += ["--transport", transport]
        self._process = subprocess.Popen(
            argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            encoding="utf-8", errors="replace", bufsize=1, cwd=cwd)
        self._numbers = itertools.count(1)
        self._write_lock = threading.Lock()
        self._answers = {}
        self._answers_lock = threading.Lock()
        self._handlers = {}
        self._events = queue.Queue()
        self.events = []
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        self._dispatcher = threading.Thread(target=self._dispatch, daemon=True)
        self._dispatcher.start()

    # Commands

    def command(self, name, *args):
        """Runs one command and answers the JSON objects of its answer; raises TarnwickError."""
        number = next(self._numbers)
        answer = queue.Queue()
        with self._answers_lock:
            self._answers[number] = answer
        line = " ".join([str(number), name] + [
            a if isinstance(a, _Bare) else _word(a) for a in args])
        self._send(line)
        lines = []
        try:
            while True:
                try:
                    item = answer.get(timeout=self._reply_timeout)
                except queue.Empty:
                    raise TarnwickError(f"no answer from tarnwick-host to {line!r}", name) from None
                if item is None:
                    raise TarnwickError("tarnwick-host ended: " + self._stderr_tail(), name)
                lines.append(item)
                if item.get("done"):
                    break
        finally:
            with self._answers_lock:
                del self._answers[number]
        if lines[-1].get("type") == "error":
            raise TarnwickError(lines[-1].get("message", "failed"), name)
        return lines

    def attach(self, target=None, *args, running=None, title=None):
        if running is not None:
            return self.command("attach", _Bare("--running"), running)[-1]
        if title is not None:
            return self.command("attach", _Bare("--title"), title)[-1]
        target = _Bare(str(target)) if isinstance(target, int) else target
        return self.command("attach", target, *args)[-1]

    def windows(self):
        return [line for line in self.command("windows") if "title" in line]

    def window(self, title=None):
        return self.command("window", *([title] if title is not None else []))[-1]

    def wait_window(self, title, seconds=None):
        return self.command("wait-window", title, *self._seconds(seconds))[-1]

    def wait_closed(self, title, seconds=None):
        return self.command("wait-closed", title, *self._seconds(seconds))[-1]

    def wait(self, control, seconds=None):
        return self.command("wait", control, *self._seconds(seconds))[-1]

    def menu(self, path):
        return self.command("menu", path)[-1]

    def menu_list(self):
        return [line for line in self.command("menu", _Bare("--list")) if "path" in line]

    def control(self, name):
        return Control(self, name)

    def text(self, control_id):
        """The text of any window of the application by its id ("#102"), labels included."""
        return self.command("text", _Bare(control_id))[-1].get("result")

    def watch(self, control, event, handler=None):
        """Watches an event of a control. The handler gets each Event; when it answers True,
        the event is cancelled. Events without a handler are kept in `events`."""
        control = control if isinstance(control, Control) else Control(self, control)
        with self._answers_lock:
            self._handlers[(control.name, event)] = handler
        try:
            result = self.command("watch", control, _Bare(event), _Bare("--ask"))[-1]
        except TarnwickError:
            with self._answers_lock:
                self._handlers.pop((control.name, event), None)
            raise
        # Events name the control as the host lists it, which may differ from the name given.
        with self._answers_lock:
            self._handlers[(result.get("control", control.name), event)] = handler
        return result

    def unwatch(self, control, event):
        control = control if isinstance(control, Control) else Control(self, control)
        result = self.command("unwatch", control, _Bare(event))[-1]
        with self._answers_lock:
            self._handlers.pop((control.name, event), None)
            self._handlers.pop((result.get("control", control.name), event), None)
        return result

    def picture(self, path, control=None, window=None):
        extra = [control if isinstance(control, Control) else Control(self, control)] if control else []
        if window is not None:
            extra = [_Bare("--window"), window]
        return self.command("picture", path, *extra)[-1]

    def detach(self):
        return self.command("detach")[-1]

    def close(self):
        """Ends the session: tarnwick-host detaches at the end of its input and exits."""
        if self._process.stdin and not self._process.stdin.closed:
            self._process.stdin.close()
        code = self._process.wait()
        self._reader.join()
        self._events.put(None)
        self._dispatcher.join()
        return code

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # Plumbing

    @staticmethod
    def _seconds(seconds):
        return [_Bare(str(seconds))] if seconds is not None else []

    def _send(self, line):
        with self._write_lock:
            try:
                self._process.stdin.write(line + "\n")
                self._process.stdin.flush()
            except (BrokenPipeError, ValueError, OSError):
                raise TarnwickError("tarnwick-host ended: " + self._stderr_tail()) from None

    def _read(self):
        for text in self._process.stdout:
            try:
                line = json.loads(text)
            except ValueError:
                continue
            if line.get("type") == "event":
                self._events.put(line)
                continue
            with self._answers_lock:
                answer = self._answers.get(line.get("id"))
            if answer is not None:
                answer.put(line)
        with self._answers_lock:
            for answer in self._answers.values():
                answer.put(None)

    def _dispatch(self):
        while True:
            line = self._events.get()
            if line is None:
                return
            event = Event(line)
            with self._answers_lock:
                handler = self._handlers.get((event.control, event.name))
            cancel = False
            if handler is None:
                self.events.append(event)
            else:
                try:
                    cancel = handler(event) is True
                except Exception:  # a failing handler allows the event
                    cancel = False
            if event.id is not None:
                try:
                    self._send(f"answer {event.id} {'cancel' if cancel else 'allow'}")
                except TarnwickError:
                    return

    def _stderr_tail(self):
        try:
            return (self._process.stderr.read() or "").strip().splitlines()[-1]
        except (IndexError, ValueError, OSError):
            return "no message"
