#!/usr/bin/env python3
"""`pelluxctl ui` in a real browser: the Linux daemon on pellux-sim, the reference server playing
a two-page setup script with a form, `pelluxctl ui --no-browser`, and headless Chromium driven
over the DevTools protocol (its --remote-debugging-pipe, so that nothing else can reach it). The
browser fills the form and submits it, the server's record shows the fields, the second page is
shown, Finish ends the session. (What the page's server refuses is tested over loopback by
pelluxctl_browser_tests, on both systems.) A screenshot of the first page is kept beside the
test's other files.

usage: browser_ui_test.py BUILD_DIR ARTEFACT_DIR
The browser's tests are skipped when Chromium is not installed."""

import base64
import json
import os
import re
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

BUILD = ""
ARTEFACTS = ""
CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")

FIRST_PAGE = (
    "<h2>Set up your Pellux</h2><p>Tell us who wears it.</p>"
    '<form action="https://elsewhere.example/steal" method="get">'
    '<p><label>Name <input id="name" name="name"></label></p>'
    '<p><label>E-mail <input id="email" name="email"></label></p>'
    '<p><button id="next" type="submit">Next</button></p></form>'
    "<script>document.title = 'scripts ran';</script>")
SECOND_PAGE = ("<h2>All set</h2><p id=\"done\">Your Pellux is ready. Press Finish.</p>"
               "<form><input type=\"hidden\" name=\"step\" value=\"3\"></form>")


def document(text, page, message, form=True):
    return ('<p><response host="{host}" port="{port}" path="/upload">' + text +
            '</response><clientDisplay><message>' + message + '</message>'
            '<dialog containsForm="' + ("true" if form else "false") +
            '" width="560" height="320"><![CDATA[' + page + ']]></dialog></clientDisplay></p>')


# Two pages, each waiting for its form.
TWO_PAGES = [document("step=2", FIRST_PAGE, "Welcome"),
             document("step=3", SECOND_PAGE, "Almost done")]
# One page without a form: the session posts on, the server has nothing more, the session ends.
ONE_PAGE = [document("step=2", "<p>Nothing to do.</p>", "Welcome", form=False)]


class Chromium:
    """Headless Chromium over --remote-debugging-pipe: commands on fd 3, answers and events on
    fd 4, each a JSON text ended by a NUL byte."""

    def __init__(self, profile):
        to_browser = os.pipe()
        from_browser = os.pipe()

        def plumbing():
            # Through fresh numbers first, so that neither end lands on the other's place.
            read_end, write_end = os.dup(to_browser[0]), os.dup(from_browser[1])
            os.dup2(read_end, 3)
            os.dup2(write_end, 4)

        self.process = subprocess.Popen(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--remote-debugging-pipe", "--user-data-dir=" + profile, "--window-size=1000,700",
             "about:blank"],
            pass_fds=(3, 4), preexec_fn=plumbing,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser[0])
        os.close(from_browser[1])
        self.out = to_browser[1]
        self.inp = from_browser[0]
        self.buffer = b""
        self.next_id = 0
        self.events = []

    def _receive(self, limit):
        while b"\0" not in self.buffer:
            ready, _, _ = select.select([self.inp], [], [], limit)
            if not ready:
                return None
            chunk = os.read(self.inp, 65536)
            if not chunk:
                raise AssertionError("Chromium closed its pipe")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, params=None, session=None, limit=20):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.out, json.dumps(message).encode() + b"\0")
        until = time.monotonic() + limit
        while time.monotonic() < until:
            answer = self._receive(max(0.01, until - time.monotonic()))
            if answer is None:
                break
            if answer.get("id") == self.next_id:
                if "error" in answer:
                    raise AssertionError("%s: %s" % (method, answer["error"]))
                return answer["result"]
            self.events.append(answer)
        raise AssertionError("no answer to " + method)

    def pump(self, limit):
        answer = self._receive(limit)
        if answer is not None:
            self.events.append(answer)

    def close(self):
        try:
            os.write(self.out, json.dumps({"id": 0, "method": "Browser.close"}).encode() + b"\0")
            self.process.wait(10)
        except (OSError, subprocess.TimeoutExpired):
            self.process.kill()
            self.process.wait()
        os.close(self.out)
        os.close(self.inp)


class BrowserUiTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="pellux-browser-ui-")
        # Cleanups run last first: the folder goes after every program.
        self.addCleanup(shutil.rmtree, self.folder, ignore_errors=True)

    def start_daemon(self, documents):
        for part in ("state", "logs", "run"):
            os.mkdir(os.path.join(self.folder, part))
        self.server = self.start(system.UploadServer(documents))
        self.sim = self.start(system.HostProgram([system.SIM], "pellux-sim.log"))
        settings = {"Tracker": {"ServerHost": "127.0.0.1", "ServerPort": self.server.port,
                                "ErrorHost": "127.0.0.1", "ErrorPort": self.server.port,
                                "SerialPort": self.sim.first_line, "LogActivity": 1,
                                "MaxLogDays": 1}}
        with open(os.path.join(self.folder, "state", "settings.json"), "w") as file:
            json.dump(settings, file)
        environment = dict(os.environ, STATE_DIRECTORY=self.folder + "/state",
                           LOGS_DIRECTORY=self.folder + "/logs",
                           RUNTIME_DIRECTORY=self.folder + "/run")
        daemon = subprocess.Popen([BUILD + "/service/uplinker"], env=environment,
                                  stderr=subprocess.DEVNULL)
        self.addCleanup(system.end_process, daemon, 15)
        self.socket = self.folder + "/run/service.sock"
        system.wait_for(lambda: os.path.exists(self.socket), 20, "the daemon's socket")

    def start(self, program):
        self.addCleanup(program.stop)
        return program

    @staticmethod
    def printed(program, pattern, limit=30):
        """The match of the first line of `program` that matches `pattern`, waited for."""
        def found():
            return next((match for match in map(lambda line: re.search(pattern, line),
                                                program.output()) if match), None)
        return system.wait_for(found, limit, "a line matching %r" % pattern, interval=0.05)

    def start_ui(self, scenario=TWO_PAGES, browser=False):
        """pelluxctl ui, with --no-browser, or with an xdg-open of the test's own that notes
        what it is given: the page's address and what xdg-open got."""
        self.start_daemon(scenario)
        arguments = [BUILD + "/tools/pelluxctl/pelluxctl", "--socket", self.socket, "ui"]
        environment = dict(os.environ)
        if browser:
            opener = os.path.join(self.folder, "bin", "xdg-open")
            os.makedirs(os.path.dirname(opener))
            with open(opener, "w") as file:
                file.write('#!/bin/sh\nprintf "%s" "$1" > {0}/opened.part && '
                           'mv {0}/opened.part {0}/opened\n'.format(self.folder))
            os.chmod(opener, 0o755)
            environment["PATH"] = os.path.dirname(opener) + ":" + environment["PATH"]
        else:
            arguments.append("--no-browser")
        ui = self.start(system.HostProgram(arguments, "pelluxctl-ui.log", env=environment))
        url = re.search(r"the page is at (http://127\.0\.0\.1:\d+/[0-9a-f]{32}/)$",
                        ui.first_line).group(1)
        if not browser:
            return ui, url
        # xdg-open runs on its own: what it was given is waited for.
        opened = os.path.join(self.folder, "opened")
        system.wait_for(lambda: os.path.exists(opened), 30, "xdg-open", interval=0.05)
        with open(opened) as file:
            return ui, url, file.read()

    def fields_posted(self):
        """The fields of each request the reference server printed."""
        requests = []
        for line in self.server.uploads():
            match = re.match(r"POST (\S+) \(\d+ bytes\): (.*)$", line)
            if match:
                requests.append((match.group(1), urllib.parse.parse_qs(match.group(2))))
        return requests

    def mode(self):
        status = subprocess.run([BUILD + "/tools/pelluxctl/pelluxctl", "--socket", self.socket,
                                 "status", "--json"], capture_output=True, text=True, timeout=20)
        return json.loads(status.stdout)["mode"]

    def test_a_session_the_service_ends_is_shown_as_ended(self):
        ui, url = self.start_ui(ONE_PAGE)
        parts = urllib.parse.urlsplit(url)
        events = socket.create_connection((parts.hostname, parts.port), timeout=20)
        events.sendall(("GET %sevents HTTP/1.1\r\nHost: %s\r\n\r\n" %
                        (parts.path, parts.netloc)).encode())
        received = b""
        while b"event: ended" not in received:
            chunk = events.recv(65536)
            if not chunk:
                break
            received += chunk
        events.close()
        self.assertIn(b'event: ended\ndata: {"text":"The session has ended."}', received)
        self.assertIn(b'event: info\ndata: {"text":"Welcome"}', received)
        self.printed(ui, r"^the service ended the session$")
        self.assertEqual(ui.process.wait(20), 0)
        self.assertEqual(self.mode(), "standard")

    @unittest.skipUnless(CHROMIUM, "Chromium is not installed")
    def test_the_browser_opened_on_a_private_file_and_closing_the_page_finishes(self):
        ui, url, opened = self.start_ui(browser=True)
        # xdg-open got a file only this user may read, which leads the browser to the page:
        # the token is on no command line.
        self.assertNotIn(url.split("/")[3], opened)
        self.assertEqual(os.stat(os.path.dirname(opened)).st_mode & 0o777, 0o700)
        browser = Chromium(os.path.join(self.folder, "chromium"))
        try:
            target, _, evaluate, wait_for = self.open_page(browser, "file://" + opened)
            wait_for("the first page", lambda: evaluate(
                "document.getElementById('frame').src.endsWith('/page/1/')"))
            self.assertEqual(self.mode(), "setup")
            browser.call("Target.closeTarget", {"targetId": target})
            self.printed(ui, r"^session finished \(the page was closed\)$")
        finally:
            browser.close()
        self.assertEqual(ui.process.wait(20), 0)
        self.assertEqual(self.mode(), "standard")
        self.assertFalse(os.path.exists(opened))

    @unittest.skipUnless(CHROMIUM, "Chromium is not installed")
    def test_a_whole_setup_session_in_chromium(self):
        ui, url = self.start_ui()
        browser = Chromium(os.path.join(self.folder, "chromium"))
        try:
            self.run_in_browser(browser, ui, url)
        finally:
            browser.close()
        self.assertEqual(ui.process.wait(20), 0)
        self.printed(ui, r"^session finished \(Finish pressed in the browser\)$")
        self.assertEqual(self.mode(), "standard")
        with open(os.path.join(ARTEFACTS, "browser-ui-session.txt"), "w") as file:
            file.write("$ pelluxctl ui --no-browser\n" + "\n".join(
                [ui.first_line] + ui.output()) + "\n")

    def open_page(self, browser, url):
        """A new tab on `url`: its target, its session, and how to ask it and wait for it."""
        target = browser.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        page = browser.call("Target.attachToTarget", {"targetId": target, "flatten": True})[
            "sessionId"]
        browser.call("Page.enable", session=page)
        browser.call("Runtime.enable", session=page)
        # The sandboxed frame runs in a process of its own: a target the test attaches to.
        browser.call("Target.setAutoAttach", {"autoAttach": True, "waitForDebuggerOnStart": False,
                                              "flatten": True}, session=page)
        browser.call("Page.navigate", {"url": url}, session=page)

        def evaluate(expression, session=page, context=None):
            params = {"expression": expression, "returnByValue": True}
            if context is not None:
                params["contextId"] = context
            return browser.call("Runtime.evaluate", params, session=session)["result"].get(
                "value")

        def wait_for(what, check, limit=30):
            until = time.monotonic() + limit
            while time.monotonic() < until:
                value = check()
                if value:
                    return value
                browser.pump(0.2)
            raise AssertionError("the page never showed " + what)

        return target, page, evaluate, wait_for

    def run_in_browser(self, browser, ui, url):
        _, page, evaluate, wait_for = self.open_page(browser, url)

        def in_frame(expression):
            # The frame is another origin (its sandbox) in a process of its own, another target
            # to the protocol: its document is read in a world of the test's own made in the
            # frame as it is now, which the sandbox does not stop.
            frames = [event["params"] for event in browser.events
                      if event.get("method") == "Target.attachedToTarget"
                      and event["params"]["targetInfo"]["type"] == "iframe"]
            if not frames:
                return None
            session, frame = frames[-1]["sessionId"], frames[-1]["targetInfo"]["targetId"]
            try:
                world = browser.call("Page.createIsolatedWorld",
                                     {"frameId": frame, "grantUniveralAccess": True},
                                     session=session)["executionContextId"]
                return evaluate(expression, session=session, context=world)
            except AssertionError:
                return None

        wait_for("the first page", lambda: evaluate(
            "document.getElementById('frame').src.endsWith('/page/1/')"))
        wait_for("the form", lambda: in_frame("!!document.getElementById('next')"))
        # The server's script did not run.
        self.assertEqual(in_frame("document.title"), "")
        wait_for("the status line", lambda: evaluate(
            "document.getElementById('lines').textContent.includes('Welcome')"))
        shot = browser.call("Page.captureScreenshot", {"format": "png"}, session=page)["data"]
        os.makedirs(ARTEFACTS, exist_ok=True)
        with open(os.path.join(ARTEFACTS, "browser-ui-first-page.png"), "wb") as file:
            file.write(base64.b64decode(shot))

        in_frame("document.getElementById('name').value = 'Ann Smith & co';"
                 "document.getElementById('email').value = 'ann+pellux@example.org';"
                 "document.getElementById('next').click(); true")
        self.printed(ui, r"^form of page 1 sent$")
        wait_for("the second page", lambda: evaluate(
            "document.getElementById('frame').src.endsWith('/page/2/')"))
        system.wait_for(lambda: len(self.fields_posted()) >= 2, 10, "the form's post")
        posted = [fields for path, fields in self.fields_posted()]
        self.assertEqual(posted[1].get("name"), ["Ann Smith & co"])
        self.assertEqual(posted[1].get("email"), ["ann+pellux@example.org"])
        self.assertEqual(posted[1].get("clientMode"), ["setup"])
        evaluate("document.getElementById('finish').click(); true")
        wait_for("the end", lambda: evaluate(
            "document.getElementById('ended').textContent.includes('finished')"))


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    BUILD, ARTEFACTS = sys.argv[1], sys.argv[2]
    os.makedirs(ARTEFACTS, exist_ok=True)
    # The system tests' helpers for the build's programs, their logs beside the artefacts.
    os.environ["PELLUX_BUILD_DIR"] = BUILD
    os.environ["PELLUX_SYSTEM_LOGS"] = ARTEFACTS
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                    "system"))
    import pellux_system as system  # noqa: E402
    unittest.main(argv=sys.argv[:1], verbosity=2)
