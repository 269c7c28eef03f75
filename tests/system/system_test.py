"""System tests of the Debian package under a real systemd (see pellux_system.py). Each CTest
entry runs one of these tests: python3 system_test.py Class.test_name."""

import json
import re
import sys
import time
import unittest

from pellux_system import (DROP_IN_FOLDER, LOG_FOLDER, ORDINARY_USER, SERVICE, SETTINGS,
                           ContainerTest, SystemTestError, wait_for)

# What the unit promises: systemd-analyze security's exposure of pellux.service (the README).
PROMISED_EXPOSURE = 1.8
TIMEOUT_STOP_SECONDS = 15
CLOSING_MARKER = "<<< APPLICATION TERMINATED >>>"


class PackageTest(ContainerTest):

    def test_install_starts_the_service_as_its_user_and_remove_and_purge_undo_it(self):
        c = self.container
        user = c.run(["getent", "passwd", "pellux"]).stdout.split(":")
        self.assertLess(int(user[2]), 1000, "pellux is a system user")
        self.assertEqual(user[5], "/var/lib/pellux")
        for folder in ("/var/lib/pellux", LOG_FOLDER):
            self.assertEqual(c.run(["stat", "-c", "%U:%G %a", folder]).stdout.strip(),
                             "pellux:pellux 750", folder)
        self.assertEqual(c.run(["systemctl", "is-enabled", SERVICE]).stdout.strip(), "enabled")

        shown = c.wait_active()
        process = c.run(["ps", "-o", "user=,comm=", "-p", shown["MainPID"]]).stdout.split()
        self.assertEqual(process, ["pellux", "uplinker"])
        # Type=notify: systemd took READY=1 (it is active) and shows the daemon's STATUS= line.
        unit = c.unit(SERVICE, "Type", "User", "NotifyAccess", "WatchdogUSec")
        self.assertEqual(unit["Type"], "notify")
        self.assertEqual(unit["User"], "pellux")
        self.assertEqual(unit["WatchdogUSec"], "1min")
        status = wait_for(lambda: c.unit(SERVICE, "StatusText")["StatusText"], 30, "a STATUS=")
        shown_status = c.run(["systemctl", "status", "--no-pager", SERVICE], check=False).stdout
        self.assertIn('Status: "%s"' % status, shown_status)

        # What the package ships, where its readers look.
        listed = c.run(["dpkg", "-L", "pellux"]).stdout.split()
        for path in ("/usr/bin/pelluxctl", "/usr/libexec/pellux/uplinker",
                     "/usr/libexec/pellux/rebooter",
                     "/usr/libexec/pellux/html_templates/standard_error.tpl",
                     "/lib/systemd/system/pellux.service",
                     "/lib/systemd/system/pellux-rebooter@.service",
                     "/usr/lib/udev/rules.d/60-pellux.rules",
                     "/usr/share/polkit-1/rules.d/50-pellux-rebooter.rules",
                     "/usr/share/polkit-1/actions/org.pellux.uploader.policy",
                     "/usr/lib/sysusers.d/pellux.conf", "/usr/lib/tmpfiles.d/pellux.conf",
                     "/usr/lib/modules-load.d/pellux.conf",
                     "/usr/share/man/man8/uplinker.8.gz", "/usr/share/man/man1/pelluxctl.1.gz",
                     "/usr/share/man/man8/rebooter.8.gz",
                     "/usr/share/man/man5/pellux-settings.5.gz",
                     "/usr/share/bash-completion/completions/pelluxctl",
                     "/usr/share/doc/pellux/copyright"):
            self.assertIn(path, listed)

        c.write(LOG_FOLDER + "/kept-until-purge.txt", "x\n", owner="pellux")
        c.run(["env", "DEBIAN_FRONTEND=noninteractive", "apt-get", "remove", "-y", "pellux"])
        self.assertEqual(c.unit(SERVICE, "ActiveState")["ActiveState"], "inactive")
        self.assertNotEqual(c.run(["systemctl", "is-enabled", SERVICE], check=False).stdout
                            .strip(), "enabled")
        self.assertEqual(c.run(["test", "-d", "/var/lib/pellux"], check=False).returncode, 0,
                         "removing keeps the settings")

        c.run(["env", "DEBIAN_FRONTEND=noninteractive", "apt-get", "purge", "-y", "pellux"])
        for folder in ("/var/lib/pellux", LOG_FOLDER):
            self.assertNotEqual(c.run(["test", "-e", folder], check=False).returncode, 0,
                                "purging removes " + folder)


class SandboxTest(ContainerTest):

    def probe(self, node, sandboxed):
        """Opens `node` from a transient unit, as root (so that no file mode is in the way),
        with pellux.service's device settings or none; returns what the open said."""
        properties = []
        if sandboxed:
            shown = self.container.run(["systemctl", "show", SERVICE, "-p", "DevicePolicy",
                                        "-p", "DeviceAllow"]).stdout
            for line in shown.splitlines():
                name, value = line.split("=", 1)
                if value:
                    properties += ["-p", "%s=%s" % (name, value)]
        done = self.container.run(
            ["systemd-run", "--quiet", "--wait", "--pipe", "--collect"] + properties +
            ["sh", "-c", "exec 3<>%s && echo opened" % node], check=False)
        return done.stdout + done.stderr

    def test_the_unit_opens_only_the_devices_it_allows(self):
        c = self.container
        # Device nodes, opened by root whatever their mode, from a transient unit with the
        # service's device settings and from one without: the latter opens each or finds no
        # device; the former is refused ("Operation not permitted", the BPF device program)
        # every node but those its DeviceAllow= names (and the pseudo-terminals, which
        # DevicePolicy=closed always allows, so that a host terminal reaches the daemon). systemd resolves "char-NAME" from
        # /proc/devices when the unit starts, so a kind whose driver is not loaded is denied
        # too (the package loads the USB serial drivers at boot for that reason).
        nodes = {"ttyS0": ("c", 4, 64, "char-ttyS"), "ttyUSB0": ("c", 188, 0, "char-ttyUSB"),
                 "ttyACM0": ("c", 166, 0, "char-ttyACM"), "sda": ("b", 8, 0, "block-sd"),
                 "mem": ("c", 1, 1, "char-mem")}
        allowed_kinds = [line.split("=", 1)[1].split()[0] for line in c.run(
            ["systemctl", "show", SERVICE, "-p", "DeviceAllow"]).stdout.splitlines()
            if line.startswith("DeviceAllow=") and line != "DeviceAllow="]
        loaded = c.read("/proc/devices")
        for name, (kind, major, minor, _) in nodes.items():
            c.run(["mknod", "-m", "666", "/dev/probe-" + name, kind, str(major), str(minor)])
        for name, (_, major, _, group) in nodes.items():
            node = "/dev/probe-" + name
            loaded_here = re.search(r"^\s*%d %s$" % (major, group.split("-", 1)[1]), loaded,
                                    re.MULTILINE) is not None
            with self.subTest(node=name):
                self.assertNotRegex(self.probe(node, sandboxed=False), "not permitted|denied")
                sandboxed = self.probe(node, sandboxed=True)
                if group in allowed_kinds and loaded_here:
                    self.assertNotRegex(sandboxed, "not permitted|denied")
                else:
                    self.assertIn("Operation not permitted", sandboxed)
        self.assertIn("char-ttyUSB", allowed_kinds)

    def test_the_exposure_is_within_what_the_unit_promises(self):
        shown = self.container.run(["systemd-analyze", "security", "--no-pager", SERVICE],
                                   check=False).stdout
        match = re.search(r"Overall exposure level for pellux\.service: ([0-9.]+)", shown)
        self.assertIsNotNone(match, shown[-2000:])
        self.assertLessEqual(float(match.group(1)), PROMISED_EXPOSURE, shown[-3000:])


class UploadTest(ContainerTest):

    def test_one_whole_upload_through_the_packaged_daemon(self):
        # The server reads 2048 bytes of activity from the tracker, then puts it to sleep.
        station = self.start_station("--answer", "2201=download:2048:11")
        server = self.start_server(
            '<p><response host="{host}" port="{port}" path="/results"/><device action="command">'
            '<remoteOps responder="respondAlways"><remoteOp><opCode>IgE=</opCode></remoteOp>'
            '</remoteOps></device></p>',
            '<p><response host="{host}" port="{port}" path="/done"/>'
            '<device action="close" sleepPeriod="15"/></p>',
            '<p><device action="close"/></p>')
        self.configure(station, server)
        record = self.wait_for_upload(server)
        self.assertTrue(record["base_station"]["open"], record)
        self.assertEqual(record["last_upload"]["result"], "succeeded", record)
        self.assertGreaterEqual(record["last_upload"]["bytes_from_tracker"], 2048, record)
        self.assertGreaterEqual(record["last_upload"]["requests_posted"], 2, record)
        self.assertGreater(record["last_sleep"], 0, record)
        status = self.container.run(["pelluxctl", "status"]).stdout
        self.assertRegex(status, r"(?m)^base station: +open, ")
        self.assertRegex(status, r"(?m)^last upload: +succeeded, \d{4}-\d\d-\d\d ")
        self.assertRegex(status, r"(?m)^tracker to sleep: +\d{4}-\d\d-\d\d")
        # The doctor against the real systemd, udev rule, polkit and settings of the package
        # (the station here is a pseudo-terminal of the host, which no udev rule gives).
        doctor = self.container.run(["pelluxctl", "doctor", "--json"], check=False)
        checks = {check["name"]: check for check in json.loads(doctor.stdout)}
        for name in ("service", "daemon", "udev rule", "port holders", "settings"):
            self.assertEqual(checks[name]["status"], "OK", checks[name])
        print(self.container.run(["pelluxctl", "doctor"], check=False).stdout, file=sys.stderr)
        first = server.uploads()[0]
        self.assertIn("/device/tracker/uploadData", first)
        self.assertIn("clientId=", first)
        journal = self.container.journal("-u", SERVICE)
        self.assertIn("Channel opened.", journal)
        # The unit's STATUS= line follows within seconds.
        wait_for(lambda: re.search(r"last upload finished at \d{4}-", self.container.unit(
            SERVICE, "StatusText")["StatusText"]), 15, "the upload in the unit's status")


class TrustTest(ContainerTest):

    def test_status_is_for_everyone_and_settings_for_root(self):
        c = self.container
        c.wait_active()
        c.add_ordinary_user()
        status = c.run(["pelluxctl", "status"], user=ORDINARY_USER, check=False)
        self.assertEqual(status.returncode, 0, status.stderr)
        self.assertIn("base station: ", status.stdout)

        proxy = ["pelluxctl", "proxy", "--selection", "2", "--server-override",
                 "proxy.example:3128"]
        # A refused message gets no answer (the UI protocol has none): the daemon logs it and
        # changes nothing.
        uid = c.run(["id", "-u", ORDINARY_USER]).stdout.strip()
        c.run(proxy, user=ORDINARY_USER, check=False)
        wait_for(lambda: "P refused for uid %s" % uid in c.journal("-u", SERVICE), 10,
                 "the refusal in the journal")
        self.assertNotIn("proxy.example", c.read(SETTINGS))

        accepted = c.run(proxy, check=False)
        self.assertEqual(accepted.returncode, 0, accepted.stderr)
        settings = wait_for(lambda: "proxy.example" in c.read(SETTINGS) and c.read(SETTINGS),
                            10, "the proxy stored")
        self.assertEqual(json.loads(settings)["Tracker"]["ProxyServerOverride"],
                         "proxy.example:3128")


class StopTest(ContainerTest):

    def test_stop_ends_within_its_time_and_closes_the_activity_log(self):
        c = self.container
        station = self.start_station()
        server = self.start_server()
        self.configure(station, server, LogActivity=1, MaxLogDays=1)
        self.wait_for_upload(server)
        started = time.monotonic()
        c.run(["systemctl", "stop", SERVICE], timeout=TIMEOUT_STOP_SECONDS + 30)
        took = time.monotonic() - started
        self.assertLess(took, TIMEOUT_STOP_SECONDS)
        shown = c.unit(SERVICE, "ActiveState", "Result", "ExecMainStatus")
        self.assertEqual(shown["ActiveState"], "inactive")
        self.assertEqual(shown["Result"], "success", shown)
        logs = c.run(["sh", "-c", "ls -t %s/log-*.txt | head -1" % LOG_FOLDER]).stdout.strip()
        self.assertTrue(logs, "an activity log was written")
        lines = c.read(logs).rstrip("\n").splitlines()
        self.assertIn(CLOSING_MARKER, lines[-1])


class WatchdogTest(ContainerTest):

    def test_an_engine_that_stops_its_heartbeat_is_restarted(self):
        c = self.container
        station = self.start_station()
        server = self.start_server()
        first = self.configure(station, server, drop_in=(
            "WatchdogSec=4s\nRestartSec=1\nEnvironment=PELLUX_TEST_HOOKS=engine-stall-after=3\n"))
        restarted = wait_for(
            lambda: int(c.unit(SERVICE, "NRestarts")["NRestarts"]) >= 1, 60,
            "a restart by the watchdog")
        self.assertTrue(restarted)
        journal = c.journal("-u", SERVICE)
        self.assertIn("Watchdog timeout", journal)
        self.assertIn("Test hooks active", journal)
        c.wait_active(other_than_pid=first["MainPID"])


class RecoveryTest(ContainerTest):

    def test_a_silent_station_is_recovered_through_the_rebooter(self):
        c = self.container
        station = self.start_station("--fault", "silent")
        server = self.start_server()
        first = self.configure(station, server, drop_in=(
            "Environment=PELLUX_TEST_HOOKS=radio-idle-limit=5\n"))
        instance = "pellux-rebooter@10c4-84c4-%s.service" % first["MainPID"]

        # The daemon starts the rebooter's instance through polkit (its rule lets the service's
        # user start exactly that form); the rebooter stops pellux.service, finds no base
        # station to power-cycle in a container, and starts pellux.service again.
        wait_for(lambda: instance in c.journal("-u", instance), 90,
                 "the recovery unit %s" % instance)
        second = c.wait_active(timeout=120, other_than_pid=first["MainPID"])
        journal = c.journal("-u", instance)
        self.assertIn("running", journal)
        self.assertNotEqual(second["MainPID"], first["MainPID"])
        daemon = c.journal("-u", SERVICE)
        self.assertIn("[WATCHDOG]", daemon)

    def test_an_instance_for_another_device_or_another_user_is_refused(self):
        c = self.container
        before = c.wait_active()
        c.add_ordinary_user()
        start = ["systemctl", "start", "--no-ask-password"]
        cases = [
            # who, instance, refused by
            (ORDINARY_USER, "pellux-rebooter@10c4-84c4-%s.service" % before["MainPID"],
             "polkit"),
            ("pellux", "pellux-rebooter@0010c4-84c4-1.service", "polkit"),
            ("pellux", "pellux-rebooter@10c4-84c4-1;rm.service", "polkit"),
            ("pellux", "pellux-rebooter@10c4-84c4-1.service", "rebooter"),
        ]
        for user, instance, refused_by in cases:
            with self.subTest(user=user, instance=instance):
                done = c.run(start + [instance], user=user, check=False, timeout=120)
                self.assertNotEqual(done.returncode, 0, done.stdout + done.stderr)
                if refused_by == "polkit":
                    self.assertRegex(done.stderr, r"Access denied|authentication required")
                else:
                    self.assertIn("Refused unit instance", c.journal("-u", instance))
        after = c.unit(SERVICE, "MainPID", "ActiveState")
        self.assertEqual(after["ActiveState"], "active")
        self.assertEqual(after["MainPID"], before["MainPID"], "no instance touched the daemon")

        # Another device's ids with the daemon's process: the rebooter does its steps, refuses
        # the device (nothing in the container is marked as a base station) and says so.
        other = "pellux-rebooter@1234-5678-%s.service" % before["MainPID"]
        done = c.run(start + [other], user="pellux", check=False, timeout=120)
        self.assertNotEqual(done.returncode, 0)
        self.assertIn("Failed to restart base station", c.journal("-u", other))
        c.wait_active(other_than_pid=before["MainPID"])


def test_names():
    """Class.test_name of every test here, for CTest to list one entry each."""
    suite = unittest.defaultTestLoader.loadTestsFromModule(sys.modules[__name__])
    names = []
    for group in suite:
        for test in group:
            names.append(".".join(test.id().split(".")[-2:]))
    return names


if __name__ == "__main__":
    if sys.argv[1:] == ["--list"]:
        print("\n".join(test_names()))
        sys.exit(0)
    unittest.main(argv=sys.argv, verbosity=2)
