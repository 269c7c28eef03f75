"""The packaged daemon under a real systemd: a container booted from the cached root filesystem
(scripts/make-system-root.sh) with systemd-nspawn, the package of `make deb` installed in it with
apt, and the programs of the host's build (pellux-sim, the reference server) beside it.

Each test boots its own ephemeral container (nspawn copies the root and removes the copy at the
end), so that no test sees what another installed or changed. A host pseudo-terminal reaches the
container at /run/hostpts/N; the container shares the host's network, so a server on the host's
loopback is the container's too.
"""

import glob
import json
import os
import re
import shlex
import subprocess
import threading
import time
import unittest

SOURCE = os.environ.get("PELLUX_SOURCE_DIR", os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))))
BUILD = os.environ.get("PELLUX_BUILD_DIR", os.path.join(SOURCE, "build", "linux"))
DEB_DIR = os.environ.get("PELLUX_DEB_DIR", os.path.join(SOURCE, "build", "deb"))
ROOT = os.environ.get("PELLUX_SYSTEM_ROOT", os.path.join(SOURCE, "build", "system-root"))
LOGS = os.environ.get("PELLUX_SYSTEM_LOGS", os.path.join(BUILD, "system-tests"))

SIM = os.path.join(BUILD, "sim", "pellux-sim")
SERVER = os.path.join(BUILD, "sim", "pellux-reference-server")

# The units' names and files in the package.
SERVICE = "pellux.service"
DROP_IN_FOLDER = "/etc/systemd/system/pellux.service.d"
SETTINGS = "/var/lib/pellux/settings.json"
LOG_FOLDER = "/var/log/pellux"
# An ordinary user of the container, with no session (no polkit "active" rights).
ORDINARY_USER = "alice"


class SystemTestError(AssertionError):
    pass


def wait_for(condition, timeout, what, interval=0.2):
    """Polls `condition` until it returns a true value (returned) or `timeout` seconds pass."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise SystemTestError("%s: not within %.0f s" % (what, timeout))
        time.sleep(interval)


def end_process(process, timeout):
    """SIGTERM, then SIGKILL when `process` has not ended within `timeout` seconds."""
    if process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def the_package():
    """The .deb of `make deb`, or a failure that says how to make it."""
    found = sorted(glob.glob(os.path.join(DEB_DIR, "pellux_*_amd64.deb")))
    if not found:
        raise SystemTestError("no package in %s: run `make deb` first (make check does)" % DEB_DIR)
    return found[-1]


def make_root():
    """The cached root filesystem, made now if missing; fails (never skips) when it cannot be."""
    made = subprocess.run([os.path.join(SOURCE, "scripts", "make-system-root.sh"), ROOT],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if made.returncode != 0:
        raise SystemTestError("the system tests need a root filesystem of this Debian release and "
                              "it cannot be made:\n" + made.stdout)


class Container:
    """One booted, ephemeral container. run() executes a command in all of its namespaces."""

    def __init__(self, name):
        self.name = name
        self.process = None
        self.leader = None
        os.makedirs(LOGS, exist_ok=True)
        self.console_path = os.path.join(LOGS, name + ".console.log")

    def boot(self):
        make_root()
        package = the_package()
        environment = dict(os.environ, SYSTEMD_NSPAWN_UNIFIED_HIERARCHY="1")
        # Without the unified hierarchy, CAP_BPF and the bpf system call, systemd in the
        # container cannot enforce DevicePolicy= (and says nothing of it).
        command = ["systemd-nspawn", "--quiet", "-D", ROOT, "--ephemeral", "--boot",
                   "--register=no", "--keep-unit", "--console=read-only",
                   "--capability=CAP_BPF", "--system-call-filter=bpf",
                   "--machine=" + self.name,
                   "--bind=/dev/pts:/run/hostpts",
                   "--bind-ro=%s:/run/pellux-deb" % os.path.dirname(package)]
        self.package = "/run/pellux-deb/" + os.path.basename(package)
        self.console = open(self.console_path, "w")
        self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=self.console,
                                        stderr=subprocess.STDOUT, env=environment,
                                        start_new_session=True)
        self.leader = wait_for(self._find_leader, 60, "the container's systemd to start")
        # Until its manager listens on the bus, systemctl says "Failed to connect to bus"; until
        # the manager has made /run/systemd/system, it says "offline" without asking anyone.
        # Both are a manager still starting (a loaded machine takes seconds), so ask again.
        seen = []
        def booted():
            done = self.run(["systemctl", "is-system-running", "--wait"], check=False,
                            timeout=120)
            state = done.stdout.strip()
            seen.append(state or done.stderr.strip())
            return state if state not in ("", "offline") else None
        try:
            state = wait_for(booted, 90, "the container's manager to answer")
        except SystemTestError as late:
            raise SystemTestError("%s (it last said %r); console: %s" %
                                  (late, seen[-1] if seen else "", self.console_path)) from late
        if state not in ("running", "degraded"):
            raise SystemTestError("the container did not boot (%s); console: %s" %
                                  (state, self.console_path))
        if state == "degraded":
            print("container %s booted degraded:\n%s" % (self.name, self.run(
                ["systemctl", "--failed", "--no-legend"], check=False).stdout))

    def _find_leader(self):
        if self.process.poll() is not None:
            raise SystemTestError("systemd-nspawn exited with %d; console: %s" %
                                  (self.process.returncode, self.console_path))
        try:
            with open("/proc/%d/task/%d/children" % (self.process.pid, self.process.pid)) as f:
                children = f.read().split()
        except OSError:
            return None
        for child in children:
            try:
                with open("/proc/%s/comm" % child) as f:
                    if f.read().strip() == "systemd":
                        return int(child)
            except OSError:
                pass
        return None

    def run(self, command, user=None, check=True, timeout=60, input=None):
        """Runs `command` (a list) in the container, as root or as `user` (setpriv: no login,
        no session), and returns the CompletedProcess; with `check`, a failure raises."""
        inner = list(command)
        if user is not None:
            inner = ["setpriv", "--reuid=" + user, "--regid=" + user, "--init-groups",
                     "--reset-env", "--"] + inner
        full = ["nsenter", "-t", str(self.leader), "-a", "--"] + inner
        try:
            done = subprocess.run(full, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  text=True, timeout=timeout, input=input)
        except subprocess.TimeoutExpired as expired:
            raise SystemTestError("%s: no end within %d s" % (shlex.join(inner), timeout)) \
                from expired
        if check and done.returncode != 0:
            raise SystemTestError("%s exited with %d\nstdout: %s\nstderr: %s" % (
                shlex.join(inner), done.returncode, done.stdout, done.stderr))
        return done

    def shell(self, script, **options):
        return self.run(["sh", "-c", script], **options)

    def write(self, path, text, owner="root", mode="0644"):
        self.shell("mkdir -p \"$(dirname %s)\" && cat > %s && chown %s: %s && chmod %s %s" % (
            (shlex.quote(path),) * 2 + (owner, shlex.quote(path), mode, shlex.quote(path))),
            input=text)

    def read(self, path):
        return self.run(["cat", path]).stdout

    def install_package(self):
        return self.run(["env", "DEBIAN_FRONTEND=noninteractive", "apt-get", "install", "-y",
                         "--no-install-recommends", self.package], timeout=180)

    def unit(self, unit, *properties):
        """The unit's properties as a dict (systemctl show)."""
        shown = self.run(["systemctl", "show", unit] +
                         ["--property=" + p for p in properties]).stdout
        return dict(line.split("=", 1) for line in shown.splitlines() if "=" in line)

    def journal(self, *arguments):
        return self.run(["journalctl", "--no-pager", "-o", "cat"] + list(arguments),
                        check=False).stdout

    def wait_active(self, unit=SERVICE, timeout=60, other_than_pid=None):
        """Waits for `unit` active and running (for a notify unit: READY=1 seen), optionally
        with a main process other than `other_than_pid`; returns its properties."""
        def active():
            shown = self.unit(unit, "ActiveState", "SubState", "MainPID", "StatusText",
                              "NRestarts")
            if shown.get("ActiveState") != "active" or shown.get("SubState") != "running":
                return None
            if other_than_pid is not None and shown.get("MainPID") == str(other_than_pid):
                return None
            return shown
        return wait_for(active, timeout, "%s active" % unit)

    def add_ordinary_user(self):
        self.run(["useradd", "--create-home", "--shell", "/bin/sh", ORDINARY_USER])

    def shutdown(self):
        if self.process is None:
            return
        # nspawn asks the container's systemd to power off (SIGRTMIN+3) on SIGTERM.
        end_process(self.process, 60)
        self.console.close()


class HostProgram:
    """A program of the host's build, its first output line read; its lines kept."""

    def __init__(self, command, log_name, env=None):
        self.log_path = os.path.join(LOGS, log_name)
        with open(self.log_path, "w") as errors:
            self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=errors,
                                            text=True, env=env)
        self.lines = []
        self._lock = threading.Lock()
        first = self.process.stdout.readline()
        if not first:
            raise SystemTestError("%s printed nothing; see %s" % (command[0], self.log_path))
        self.first_line = first.strip()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for line in self.process.stdout:
            with self._lock:
                self.lines.append(line.rstrip("\n"))

    def output(self):
        with self._lock:
            return list(self.lines)

    def stop(self):
        end_process(self.process, 10)
        return self.process.returncode


class Station(HostProgram):
    """pellux-sim on a host pseudo-terminal, as the container sees it."""

    def __init__(self, *arguments):
        super().__init__([SIM] + list(arguments), "pellux-sim.log")
        self.host_path = self.first_line
        match = re.fullmatch(r"/dev/pts/(\d+)", self.host_path)
        if not match:
            raise SystemTestError("pellux-sim gave no terminal: %r" % self.first_line)
        # The service's user opens it: as udev's rule would give a base station's tty to it.
        os.chmod(self.host_path, 0o666)
        self.container_path = "/run/hostpts/" + match.group(1)


class UploadServer(HostProgram):
    """The reference upload server on the host's loopback; every request it receives is kept."""

    def __init__(self, documents=()):
        command = [SERVER, "--port", "0"]
        if documents:
            scenario = os.path.join(LOGS, "pellux-reference-server.scenario")
            with open(scenario, "w") as f:
                f.write("\n---\n".join(documents) + "\n")
            command += ["--scenario", scenario]
        super().__init__(command, "pellux-reference-server.log")
        match = re.fullmatch(r"listening on 127\.0\.0\.1:(\d+)", self.first_line)
        if not match:
            raise SystemTestError("the reference server did not start: %r" % self.first_line)
        self.port = int(match.group(1))

    def uploads(self):
        return [line for line in self.output() if line.startswith("POST ")]


def settings_for(station, server, **more):
    tracker = {"ServerHost": "127.0.0.1", "ServerPort": server.port,
               "ErrorHost": "127.0.0.1", "ErrorPort": server.port,
               "SerialPort": station.container_path}
    tracker.update(more)
    return json.dumps({"Tracker": tracker}, indent=2) + "\n"


class ContainerTest(unittest.TestCase):
    """A test with its own booted container and the package installed in it."""

    install = True

    def setUp(self):
        # A machine name is a host name: letters, digits and inner dashes, at most 64.
        words = self.id().split(".")[-1].split("_")[1:]
        self.container = Container("pellux-" + "-".join(word for word in words if word)[:40]
                                   .strip("-"))
        self.addCleanup(self.container.shutdown)
        self.container.boot()
        if self.install:
            self.container.install_package()
        self.hosts = []

    def tearDown(self):
        for program in self.hosts:
            program.stop()

    def start_station(self, *arguments):
        station = Station(*arguments)
        self.hosts.append(station)
        return station

    def start_server(self, *documents):
        server = UploadServer(documents)
        self.hosts.append(server)
        return server

    def configure(self, station, server, drop_in="", **settings):
        """Points the service at the station and the server (the settings file, as an
        administrator would write it, and a drop-in with `drop_in`), and restarts it. A
        pseudo-terminal needs no DeviceAllow=: DevicePolicy=closed lets them all through."""
        c = self.container
        c.write(DROP_IN_FOLDER + "/test.conf", "[Service]\n" + drop_in)
        c.write(SETTINGS, settings_for(station, server, **settings), owner="pellux",
                mode="0600")
        c.run(["systemctl", "daemon-reload"])
        c.run(["systemctl", "restart", SERVICE])
        return c.wait_active()

    def wait_for_upload(self, server, timeout=60):
        """Waits for a whole upload: the server's record holds one, and the daemon's status record
        (pelluxctl status --json) a finished upload. Returns that record."""
        def uploaded():
            run = self.container.run(["pelluxctl", "status", "--json"], check=False)
            if run.returncode != 0 or not server.uploads():
                return None
            record = json.loads(run.stdout)
            return record if record["last_upload"] else None
        return wait_for(uploaded, timeout, "a whole upload", interval=0.5)
